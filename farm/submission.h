#pragma once
#include <string>
#include <vector>

// One farm submission: what quorvex-render renders, how it is cut into tasks,
// and where its script, logs and report live. Saved as job.json in the farm
// folder beside the outputs, so that status, cancel and the report find it.
struct Submission {
  std::string engine = "slurm";
  std::string workdir;          // absolute; the tasks run here, relative paths mean the same as at submission
  std::string render;           // absolute path of quorvex-render on the nodes
  std::string farm_program;     // absolute path of quorvex-farm, run by the check job
  std::vector<std::string> render_args;  // as the user gave them, with --frames
  std::string output;           // the output path pattern taken from render_args
  std::string frames;           // the --frames text taken from render_args
  int chunk = 10, retries = 1, cpus = 1;
  std::string partition;        // empty: the cluster's default
  std::string folder;           // absolute farm folder
  std::vector<std::string> command;  // the quorvex-farm submit command, for re-submission
  std::string job_id, check_job_id;

  std::vector<int> Frames() const;
  int TaskCount() const;
  std::vector<int> TaskFrames(int task) const;  // task 1 = the first chunk
  int TaskOfFrame(int frame) const;             // 0 when the frame is not in the job
  std::string LogName(int task) const;          // "frames-0007-0009", by the task's frame range
  std::string LogPath(int task) const;          // absolute
  std::string OutputPath(int frame) const;      // absolute
  std::string JobScript() const { return folder + "/job.sh"; }
  std::string CheckScript() const { return folder + "/check.sh"; }
  std::string ReportPath() const { return folder + "/report.txt"; }
  std::string RecordPath() const { return folder + "/job.json"; }
  // A path as the user sees it: relative to the working folder when inside it.
  std::string Shown(const std::string& absolute) const;
};

// Reads and writes job.json. Load throws std::runtime_error naming the file.
Submission LoadSubmission(const std::string& record_path);
void SaveSubmission(const Submission& s);

// The farm folder for an output pattern: beside the outputs, named after them
// ("out/shot.####.exr" -> "out/shot.farm").
std::string FarmFolderFor(const std::string& absolute_output);
