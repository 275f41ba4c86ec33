#pragma once
#include <string>

#include "farm/submission.h"

// The Slurm scripts of a submission: plain bash with #SBATCH lines, so that
// they can be read, re-run by hand (`sbatch job.sh`) or carried to another
// farm manager.

// The job array: task N renders chunk N of the frames (quorvex-render reads
// N from SLURM_ARRAY_TASK_ID) with --skip-existing, tries again up to
// `retries` times when it fails, and leaves its log, named by its frame
// range, in logs/.
std::string ArrayJobScript(const Submission& s);

// The check job, run after every task has ended: quorvex-farm report.
std::string CheckJobScript(const Submission& s);
