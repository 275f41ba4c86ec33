// quorvex-farm: renders a frame range on a farm as a job array of
// quorvex-render tasks, with a check job that reports what is missing.
#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <thread>

#include "app/frame_range.h"
#include "app/usage_error.h"
#include "farm/job_script.h"
#include "farm/render_args.h"
#include "farm/report.h"
#include "farm/run_program.h"
#include "farm/slurm.h"
#include "farm/submission.h"
#include "farm/text_file.h"

namespace fs = std::filesystem;

namespace {

constexpr int kExitOk = 0, kExitFailed = 1, kExitUsage = 2;

struct SubmitOptions {
  std::string engine, partition, render;
  int chunk = 10, retries = 1, cpus = 1;
  bool dry_run = false;
  std::vector<std::string> render_args;
};

// quorvex-render installed beside this program, else the one on PATH.
std::string DefaultRender(const std::string& self) {
  const fs::path beside = fs::path(self).parent_path() / "quorvex-render";
  std::error_code ec;
  if (fs::exists(beside, ec)) return beside.string();
  return "quorvex-render";
}

std::string SelfPath(const char* argv0) {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::absolute(argv0).string() : self.string();
}

std::string AbsoluteProgram(const std::string& name) {
  const std::string found = FindProgram(name);
  if (found.empty()) throw UsageError(name + " not found or not executable; give --render PATH");
  return found;
}

Submission Prepare(const SubmitOptions& o, const std::vector<std::string>& command, const std::string& self) {
  Submission s;
  s.render_args = o.render_args;
  if (s.render_args.empty())
    throw UsageError("nothing to render: give the quorvex-render arguments after --, e.g. "
                     "-- -i in.####.exr -o out.####.exr --frames 1-100");
  s.frames = OptionValue(s.render_args, "--frames");
  if (s.frames.empty())
    throw UsageError("the quorvex-render arguments need --frames with the job's whole range, e.g. --frames 1001-1100");
  ParseFrameRange(s.frames);
  s.output = OptionValue(s.render_args, "--output", "-o");
  if (s.output.empty()) throw UsageError("the quorvex-render arguments need --output with a frame pattern");
  if (!HasFramePattern(s.output))
    throw UsageError("--output " + s.output + " has no frame pattern (#### or %04d); every task would write it");
  for (const char* own : {"--chunk", "--chunk-from"})
    if (HasOption(s.render_args, own))
      throw UsageError(std::string(own) + " is set by the farm for each task; leave it out of the render arguments");
  s.chunk = o.chunk;
  s.retries = o.retries;
  s.cpus = o.cpus;
  s.partition = o.partition;
  s.workdir = fs::current_path().string();
  s.render = AbsoluteProgram(o.render.empty() ? DefaultRender(self) : o.render);
  s.farm_program = self;
  s.folder = FarmFolderFor((fs::path(s.workdir) / s.output).lexically_normal().string());
  s.command = command;
  return s;
}

int Submit(const SubmitOptions& o, const std::vector<std::string>& command, const std::string& self) {
  Submission s = Prepare(o, command, self);
  if (o.dry_run) {
    std::cout << "# " << s.JobScript() << "\n" << ArrayJobScript(s) << "\n# " << s.CheckScript() << "\n"
              << CheckJobScript(s) << "\n# submitted as: sbatch " << s.JobScript()
              << "; then sbatch --dependency=afterany:JOB " << s.CheckScript() << "\n";
    return kExitOk;
  }
  std::error_code ec;
  if (fs::exists(s.RecordPath(), ec)) {
    const Submission before = LoadSubmission(s.RecordPath());
    if (!before.job_id.empty() && slurm::Active(before.job_id))
      throw UsageError("job " + before.job_id + " is still rendering these frames; wait for it or cancel it first "
                       "(quorvex-farm cancel " + before.job_id + ")");
  }
  fs::create_directories(s.folder + "/logs", ec);
  if (ec) throw UsageError("cannot make " + s.folder + "/logs: " + ec.message());
  fs::remove(s.ReportPath(), ec);  // the last run's report no longer holds
  WriteTextFile(s.JobScript(), ArrayJobScript(s), 0755);
  WriteTextFile(s.CheckScript(), CheckJobScript(s), 0755);
  SaveSubmission(s);
  s.job_id = slurm::Submit(s.JobScript());
  SaveSubmission(s);
  try {
    s.check_job_id = slurm::Submit(s.CheckScript(), {"--dependency=afterany:" + s.job_id, "--kill-on-invalid-dep=no"});
    SaveSubmission(s);
  } catch (const std::exception& e) {
    // The frames render all the same; say how to get the report by hand.
    std::fprintf(stderr, "quorvex-farm: %s\nquorvex-farm: job %s runs without its check; afterwards run: quorvex-farm report %s\n",
                 e.what(), s.job_id.c_str(), s.Shown(s.folder).c_str());
    std::printf("%s\n", s.job_id.c_str());
    return kExitFailed;
  }
  std::fprintf(stderr, "quorvex-farm: job %s renders frames %s in %d task(s); check job %s writes %s\n",
               s.job_id.c_str(), s.frames.c_str(), s.TaskCount(), s.check_job_id.c_str(),
               s.Shown(s.ReportPath()).c_str());
  std::printf("%s\n", s.job_id.c_str());
  return kExitOk;
}

// A job id (of the array or its check job) or a farm folder, to its record.
Submission Find(const std::string& job) {
  std::error_code ec;
  if (fs::is_directory(job, ec)) return LoadSubmission(job + "/job.json");
  if (fs::is_regular_file(job, ec)) return LoadSubmission((fs::absolute(job).parent_path() / "job.json").string());
  const std::string id = job.substr(0, job.find('_'));  // "12_3" is task 3 of job 12
  if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos)
    throw UsageError("\"" + job + "\" is neither a job id nor a farm folder");
  const std::string script = slurm::ScriptOf(id);
  if (script.empty())
    throw UsageError("the scheduler does not know job " + id +
                     " (finished jobs are forgotten after a while); give its farm folder, e.g. out/shot.farm");
  const std::string record = (fs::path(script).parent_path() / "job.json").string();
  if (!fs::exists(record, ec)) throw UsageError("job " + id + " was not submitted by quorvex-farm (" + script + ")");
  return LoadSubmission(record);
}

std::string StatesText(const std::map<std::string, int>& states) {
  std::string text;
  for (const auto& [state, count] : states) text += (text.empty() ? "" : ", ") + std::to_string(count) + " " + state;
  return text.empty() ? "no longer listed by the scheduler" : text;
}

int Status(const std::string& job) {
  const Submission s = Find(job);
  const int total = int(s.Frames().size());
  std::printf("job %s: %s, frames %s in %d task(s)\n", s.job_id.c_str(), s.output.c_str(), s.frames.c_str(),
              s.TaskCount());
  std::printf("frames done: %d of %d\n", FramesInPlace(s), total);
  std::printf("tasks: %s\n", StatesText(slurm::TaskStates(s.job_id)).c_str());
  std::error_code ec;
  if (fs::exists(s.ReportPath(), ec))
    std::printf("report: %s\n", s.Shown(s.ReportPath()).c_str());
  else
    std::printf("check job %s: %s\n", s.check_job_id.c_str(), StatesText(slurm::TaskStates(s.check_job_id)).c_str());
  return kExitOk;
}

int Cancel(const std::string& job) {
  const Submission s = Find(job);
  if (!slurm::Active(s.job_id)) {
    std::fprintf(stderr, "quorvex-farm: job %s has already ended\n", s.job_id.c_str());
    return kExitOk;
  }
  slurm::Cancel(s.job_id);
  // Running tasks finish the frame write they may be in and stop; wait for
  // them, so that what is on disk afterwards is what stays.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (slurm::Active(s.job_id) && std::chrono::steady_clock::now() < give_up)
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::fprintf(stderr, "quorvex-farm: cancelled job %s; %d of %zu frames are done and kept; check job %s writes %s\n",
               s.job_id.c_str(), FramesInPlace(s), s.Frames().size(), s.check_job_id.c_str(),
               s.Shown(s.ReportPath()).c_str());
  return kExitOk;
}

int Report(const std::string& folder) {
  const Submission s = Find(folder);
  const std::vector<FrameState> frames = CheckFrames(s);
  const std::string text = ReportText(s, frames);
  WriteTextFile(s.ReportPath(), text);
  std::fputs(text.c_str(), stdout);
  for (const FrameState& f : frames)
    if (!f.complete) return kExitFailed;
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Renders quorvex-render frame ranges on a farm: one job array task per chunk of frames.",
               "quorvex-farm"};
  app.require_subcommand(1);
  SubmitOptions so;
  CLI::App* submit = app.add_subcommand("submit", "write the job script beside the outputs and submit it");
  submit->add_option("--engine", so.engine, "farm manager")->required()->check(CLI::IsMember({"slurm"}));
  submit->add_option("--chunk", so.chunk, "frames per task")->check(CLI::Range(1, 100000));
  submit->add_option("--partition", so.partition, "partition (queue) to run in; default: the cluster's");
  submit->add_option("--retries", so.retries, "times a failed task is tried again")->check(CLI::Range(0, 20));
  submit->add_option("--cpus", so.cpus, "CPUs per task (and render threads unless --threads is given)")
      ->check(CLI::Range(1, 1024));
  submit->add_option("--render", so.render, "quorvex-render as the nodes reach it (default: the one beside this)");
  submit->add_flag("--dry-run", so.dry_run, "print the scripts, submit nothing");
  submit->add_option("render_args", so.render_args, "-- then the quorvex-render arguments, with --frames");
  std::string job;
  CLI::App* status = app.add_subcommand("status", "frames done and the tasks' states");
  status->add_option("job", job, "job id or farm folder")->required();
  CLI::App* cancel = app.add_subcommand("cancel", "cancel a job's tasks; finished frames are kept");
  cancel->add_option("job", job, "job id or farm folder")->required();
  std::string folder;
  CLI::App* report = app.add_subcommand("report", "check every frame and write report.txt (the check job runs it)");
  report->add_option("folder", folder, "farm folder or job id")->required();
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "quorvex-farm: %s (see --help)\n", e.what());
    return kExitUsage;
  }
  try {
    if (*submit) return Submit(so, std::vector<std::string>(argv, argv + argc), SelfPath(argv[0]));
    if (*status) return Status(job);
    if (*cancel) return Cancel(job);
    return Report(folder);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "quorvex-farm: %s\n", e.what());
    return kExitUsage;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvex-farm: %s\n", e.what());
    return kExitFailed;
  }
}
