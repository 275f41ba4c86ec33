#include "farm/report.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "app/complete_output.h"
#include "farm/render_args.h"

namespace fs = std::filesystem;

namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string LastLine(const std::string& text) {
  std::string line, last;
  std::istringstream lines(text);
  while (std::getline(lines, line))
    if (!line.empty()) last = line;
  return last;
}

// The part of a task log written by its last attempt (the job script starts
// each attempt with a "quorvex-farm: task N (...), attempt K" line).
std::string LastAttempt(const std::string& log_text) {
  size_t at = 0;
  for (size_t line = 0; line < log_text.size();) {
    const size_t eol = std::min(log_text.find('\n', line), log_text.size());
    const std::string text = log_text.substr(line, eol - line);
    if (text.rfind("quorvex-farm: task ", 0) == 0 && text.find(", attempt ") != std::string::npos) at = line;
    line = eol + 1;
  }
  return log_text.substr(at);
}

// A task that was stopped hard leaves its log under its temporary name.
std::string PartialLogOf(const Submission& s, int task) {
  std::error_code ec;
  const std::string prefix = "." + s.LogName(task) + ".tmp-";
  for (const auto& entry : fs::directory_iterator(s.folder + "/logs", ec))
    if (entry.path().filename().string().rfind(prefix, 0) == 0) return entry.path().string();
  return "";
}

}  // namespace

std::vector<FrameState> CheckFrames(const Submission& s) {
  std::vector<FrameState> states;
  for (int f : s.Frames()) {
    FrameState st;
    st.frame = f;
    const std::string path = s.OutputPath(f);
    std::error_code ec;
    if (!fs::exists(path, ec))
      st.problem = "not written";
    else if (!OutputIsComplete(path, &st.problem))
      st.problem = "does not read back: " + st.problem;
    else
      st.complete = true;
    states.push_back(st);
  }
  return states;
}

int FramesInPlace(const Submission& s) {
  int n = 0;
  std::error_code ec;
  for (int f : s.Frames()) n += fs::is_regular_file(s.OutputPath(f), ec) ? 1 : 0;
  return n;
}

std::vector<std::string> LinesNamingFrame(const std::string& log_text, int frame) {
  const std::regex names("\\bframe " + std::to_string(frame) + "(?![0-9])");
  std::vector<std::string> found;
  std::istringstream lines(log_text);
  std::string line;
  while (std::getline(lines, line))
    if (std::regex_search(line, names)) found.push_back(line);
  return found;
}

std::string ReportText(const Submission& s, const std::vector<FrameState>& frames) {
  int done = 0;
  for (const FrameState& f : frames) done += f.complete ? 1 : 0;
  const int failed = int(frames.size()) - done;
  std::ostringstream r;
  r << "quorvex-farm report: job " << (s.job_id.empty() ? "(not submitted)" : s.job_id) << ", " << s.output
    << ", frames " << s.frames << " in " << s.TaskCount() << " task(s) of up to " << s.chunk << "\n";
  r << "frames done: " << done << " of " << frames.size() << "\n";
  r << "frames failed: " << failed << "\n";
  for (const FrameState& f : frames) {
    if (f.complete) continue;
    const int task = s.TaskOfFrame(f.frame);
    r << "  frame " << f.frame << ": " << s.Shown(s.OutputPath(f.frame)) << " " << f.problem << "\n";
    std::string log = s.LogPath(task);
    std::error_code ec;
    if (!fs::exists(log, ec)) log = PartialLogOf(s, task);
    if (log.empty()) {
      r << "    task " << task << " left no log (it did not start, or was stopped before its first line)\n";
      continue;
    }
    const std::string text = LastAttempt(ReadText(log));
    r << "    task " << task << " log: " << s.Shown(log) << "\n";
    std::vector<std::string> lines = LinesNamingFrame(text, f.frame);
    if (lines.empty()) lines.push_back("(no line names this frame; the log ends: " + LastLine(text) + ")");
    for (const std::string& line : lines) r << "      " << line << "\n";
  }
  if (failed == 0) {
    r << "every frame is complete\n";
  } else {
    r << "to render only what is missing, mend the cause and submit the same command again\n"
      << "(complete frames are kept):\n ";
    for (const std::string& word : s.command) r << " " << ShellWord(word);
    r << "\n";
  }
  return r.str();
}
