#include "farm/submission.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <stdexcept>

#include "app/farm_task.h"
#include "app/frame_range.h"
#include "farm/text_file.h"

namespace fs = std::filesystem;
using nlohmann::json;

std::vector<int> Submission::Frames() const { return ParseFrameRange(frames); }

int Submission::TaskCount() const { return ChunkCount(Frames().size(), chunk); }

std::vector<int> Submission::TaskFrames(int task) const { return ChunkFrames(Frames(), chunk, task); }

int Submission::TaskOfFrame(int frame) const {
  const std::vector<int> all = Frames();
  const auto at = std::find(all.begin(), all.end(), frame);
  return at == all.end() ? 0 : int(at - all.begin()) / chunk + 1;
}

std::string Submission::LogName(int task) const {
  const std::vector<int> all = Frames(), mine = TaskFrames(task);
  size_t width = 4;
  for (int f : {all.front(), all.back()}) width = std::max(width, std::to_string(std::abs(f)).size());
  auto padded = [width](int f) {
    std::string digits = std::to_string(std::abs(f));
    return (f < 0 ? "m" : "") + std::string(width - std::min(width, digits.size()), '0') + digits;
  };
  return "frames-" + padded(mine.front()) + "-" + padded(mine.back());
}

std::string Submission::LogPath(int task) const { return folder + "/logs/" + LogName(task) + ".log"; }

std::string Submission::OutputPath(int frame) const { return (fs::path(workdir) / PathForFrame(output, frame)).string(); }

std::string Submission::Shown(const std::string& absolute) const {
  const fs::path rel = fs::path(absolute).lexically_relative(workdir);
  if (rel.empty() || *rel.begin() == "..") return absolute;
  return rel.string();
}

std::string FarmFolderFor(const std::string& absolute_output) {
  const fs::path out(absolute_output);
  std::string name = out.filename().string();
  const std::string ext = out.extension().string();
  if (!ext.empty()) name.resize(name.size() - ext.size());
  // Drop the frame pattern and the separators around it: "shot.####" -> "shot".
  name = std::regex_replace(name, std::regex(R"([._-]*(#+|%0?\d{0,2}d)[._-]*)"), ".");
  while (!name.empty() && name.back() == '.') name.pop_back();
  while (!name.empty() && name.front() == '.') name.erase(0, 1);
  if (name.empty()) name = "frames";
  return (out.parent_path() / (name + ".farm")).string();
}

Submission LoadSubmission(const std::string& record_path) {
  std::ifstream in(record_path);
  if (!in) throw std::runtime_error("cannot read " + record_path);
  json j;
  try {
    j = json::parse(in);
    Submission s;
    s.engine = j.at("engine");
    s.workdir = j.at("workdir");
    s.render = j.at("render");
    s.farm_program = j.at("farm_program");
    s.render_args = j.at("render_args").get<std::vector<std::string>>();
    s.output = j.at("output");
    s.frames = j.at("frames");
    s.chunk = j.at("chunk");
    s.retries = j.at("retries");
    s.cpus = j.at("cpus");
    s.partition = j.at("partition");
    s.folder = fs::absolute(fs::path(record_path)).parent_path().string();
    s.command = j.at("command").get<std::vector<std::string>>();
    s.job_id = j.value("job_id", "");
    s.check_job_id = j.value("check_job_id", "");
    return s;
  } catch (const std::exception& e) {
    throw std::runtime_error(record_path + " is not a quorvex-farm job record: " + e.what());
  }
}

void SaveSubmission(const Submission& s) {
  json j = {{"engine", s.engine},     {"workdir", s.workdir},   {"render", s.render},
            {"farm_program", s.farm_program}, {"render_args", s.render_args}, {"output", s.output},
            {"frames", s.frames},     {"chunk", s.chunk},       {"retries", s.retries},
            {"cpus", s.cpus},         {"partition", s.partition}, {"command", s.command},
            {"job_id", s.job_id},     {"check_job_id", s.check_job_id}};
  WriteTextFile(s.RecordPath(), j.dump(2) + "\n");
}
