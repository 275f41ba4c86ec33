#pragma once
#include <map>
#include <string>
#include <vector>

// Slurm through its own commands (sbatch, squeue, scontrol, scancel), which
// find the cluster as they always do (slurm.conf, or SLURM_CONF).
namespace slurm {

// Submits a script; returns the job id. `options` go before the script
// (e.g. "--dependency=afterany:12"). Throws std::runtime_error with sbatch's
// message when the scheduler refuses.
std::string Submit(const std::string& script, const std::vector<std::string>& options = {});

// How many tasks of a job (an array's tasks counted one by one) are in each
// state ("PENDING", "RUNNING", "COMPLETED", "FAILED", "CANCELLED", ...). Empty
// when the scheduler no longer lists the job.
std::map<std::string, int> TaskStates(const std::string& job);

// True while any task of the job is pending, running or being cleaned up.
bool Active(const std::string& job);

// The script a job runs, as the scheduler recorded it; empty when unknown.
std::string ScriptOf(const std::string& job);

// Cancels a job (every task of an array). Throws with scancel's message.
void Cancel(const std::string& job);

}  // namespace slurm
