#include "farm/job_script.h"

#include "app/farm_task.h"
#include "farm/render_args.h"

namespace {

std::string Header(const Submission& s, const std::string& name, const std::string& output_log) {
  std::string h;
  h += "#SBATCH --job-name=" + ShellWord(name) + "\n";
  h += "#SBATCH --chdir=" + ShellWord(s.workdir) + "\n";
  h += "#SBATCH --output=" + ShellWord(output_log) + "\n";
  h += "#SBATCH --cpus-per-task=" + std::to_string(s.cpus) + "\n";
  if (!s.partition.empty()) h += "#SBATCH --partition=" + ShellWord(s.partition) + "\n";
  return h;
}

std::string JobName(const Submission& s) {
  std::string folder = s.folder.substr(s.folder.find_last_of('/') + 1);
  return "quorvex-" + folder.substr(0, folder.size() - 5);  // without ".farm"
}

}  // namespace

std::string ArrayJobScript(const Submission& s) {
  const int tasks = s.TaskCount();
  std::string render = ShellWord(s.render);
  for (const std::string& a : s.render_args) render += " " + ShellWord(a);
  render += " --chunk " + std::to_string(s.chunk) + " --chunk-from SLURM_ARRAY_TASK_ID --skip-existing";
  if (!HasOption(s.render_args, "--threads")) render += " --threads " + std::to_string(s.cpus);
  std::string logs;
  for (int t = 1; t <= tasks; ++t) logs += (t > 1 ? " " : "") + s.LogName(t);

  std::string j = "#!/bin/bash\n";
  j += "# quorvex-farm job: " + s.output + ", frames " + s.frames + ", " + std::to_string(tasks) +
       " task(s) of up to " + std::to_string(s.chunk) + " frame(s).\n";
  j += "# Task N renders chunk N of the frames (quorvex-render reads N from\n"
       "# SLURM_ARRAY_TASK_ID) and keeps frames already complete, so running this\n"
       "# script again fills only the gaps. A failed task is tried again up to\n"
       "# " + std::to_string(s.retries) + " time(s); its log, logs/frames-FIRST-LAST.log, is renamed into\n"
       "# place when the task ends.\n";
  j += Header(s, JobName(s), s.folder + "/logs/slurm-%A_%a.out");
  j += "#SBATCH --array=1-" + std::to_string(tasks) + "\n";
  j += "set -u\n";
  j += "logs=(" + logs + ")\n";
  j += "task=${SLURM_ARRAY_TASK_ID:?runs as a task of a Slurm job array}\n";
  j += "name=${logs[task - 1]}\n";
  j += "log=" + ShellWord(s.folder + "/logs") + "/$name.log\n";
  j += "partial=" + ShellWord(s.folder + "/logs") + "/.$name.tmp-$$.log\n";
  j += "retries=" + std::to_string(s.retries) + "\n";
  j += "render() {\n  exec " + render + "\n}\n";
  j += R"SH(# Cancelling: the render stops at the frame it is on, writes no partial
# file, and the log is still kept. The signal is passed on as INT: a
# scheduler that signals every process of the task has sent TERM already, and
# a second TERM would stop the render at once instead of cleanly.
cancelled= child=
trap 'cancelled=1; [ -n "$child" ] && kill -INT "$child" 2>/dev/null' TERM INT
attempt=0
: >"$partial"
while :; do
  attempt=$((attempt + 1))
  echo "quorvex-farm: task $task ($name), attempt $attempt of $((retries + 1)) on $(hostname -s)" >>"$partial"
  render >>"$partial" 2>&1 &
  child=$!
  wait "$child"
  status=$?
  while kill -0 "$child" 2>/dev/null; do
    wait "$child"
    status=$?
  done
  child=
  [ -n "$cancelled" ] && status=130
  echo "quorvex-farm: task $task exit status $status" >>"$partial"
  if [ "$status" -eq 0 ] || [ -n "$cancelled" ] || [ "$attempt" -gt "$retries" ]; then break; fi
  sleep "${QUORVEX_FARM_RETRY_PAUSE:-2}"
done
mv -f "$partial" "$log"
exit "$status"
)SH";
  return j;
}

std::string CheckJobScript(const Submission& s) {
  std::string j = "#!/bin/bash\n";
  j += "# quorvex-farm check: runs when every task of the job array has ended and\n"
       "# writes report.txt (frames done, frames failed and the task log naming them).\n";
  j += Header(s, JobName(s) + "-check", s.folder + "/logs/check-%j.out");
  j += "exec " + ShellWord(s.farm_program) + " report " + ShellWord(s.folder) + "\n";
  return j;
}
