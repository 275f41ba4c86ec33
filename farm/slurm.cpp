#include "farm/slurm.h"

#include <regex>
#include <sstream>
#include <stdexcept>

#include "farm/run_program.h"

namespace slurm {
namespace {

ProgramResult Run(const std::vector<std::string>& argv) {
  if (FindProgram(argv[0]).empty())
    throw std::runtime_error(argv[0] + " not found: install Slurm's client commands (Debian: slurm-client)");
  return RunProgram(argv);
}

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

}  // namespace

std::string Submit(const std::string& script, const std::vector<std::string>& options) {
  std::vector<std::string> argv{"sbatch", "--parsable"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(script);
  const ProgramResult r = Run(argv);
  // --parsable prints "ID" or "ID;CLUSTER".
  const std::string id = Trim(r.out).substr(0, Trim(r.out).find(';'));
  if (r.status != 0 || !std::regex_match(id, std::regex(R"(\d+)")))
    throw std::runtime_error("sbatch refused " + script + ": " + Trim(r.err.empty() ? r.out : r.err));
  return id;
}

std::map<std::string, int> TaskStates(const std::string& job) {
  std::map<std::string, int> states;
  const ProgramResult r = Run({"squeue", "--noheader", "--array", "--states=all", "--jobs=" + job, "--format=%T"});
  if (r.status != 0) return states;  // an id the scheduler has forgotten is an error to squeue
  std::istringstream lines(r.out);
  std::string state;
  while (std::getline(lines, state))
    if (!Trim(state).empty()) ++states[Trim(state)];
  return states;
}

bool Active(const std::string& job) {
  for (const auto& [state, count] : TaskStates(job))
    if (state == "PENDING" || state == "RUNNING" || state == "COMPLETING" || state == "CONFIGURING" ||
        state == "SUSPENDED" || state == "REQUEUED" || state == "RESIZING" || state == "SIGNALING" ||
        state == "STAGE_OUT")
      return true;
  return false;
}

std::string ScriptOf(const std::string& job) {
  const ProgramResult r = Run({"scontrol", "show", "job", job});
  if (r.status != 0) return "";
  std::smatch m;
  return std::regex_search(r.out, m, std::regex(R"(\bCommand=(\S+))")) ? m[1].str() : "";
}

void Cancel(const std::string& job) {
  const ProgramResult r = Run({"scancel", job});
  if (r.status != 0) throw std::runtime_error("scancel " + job + ": " + Trim(r.err));
}

}  // namespace slurm
