// The job array script run by bash as a farm task would run it, with a
// stand-in for quorvex-render that records its arguments and fails on demand.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "farm/job_script.h"
#include "farm/render_args.h"
#include "farm/run_program.h"
#include "farm/submission.h"
#include "farm/text_file.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using testing_support::Slurp;
using testing_support::TempDir;

namespace {

class JobScript : public ::testing::Test, protected TempDir {
 protected:
  void SetUp() override {
    fs::create_directories(dir / "out/shot.farm/logs");
    // Records its arguments one per line; fails while the counter file
    // still has failures in it.
    WriteTextFile((dir / "fake-render").string(),
                  "#!/bin/bash\nprintf '%s\\n' \"$@\" > args.txt\n"
                  "n=$(cat fails 2>/dev/null || echo 0)\n"
                  "if [ \"$n\" -gt 0 ]; then echo $((n - 1)) > fails; echo 'frame 5 failed'; exit 1; fi\n"
                  "echo rendered\n",
                  0755);
    s.workdir = dir.string();
    s.folder = (dir / "out/shot.farm").string();
    s.render = (dir / "fake-render").string();
    s.farm_program = "/bin/true";
    s.render_args = {"-i", "in dir/shot.####.exr", "-o", "out/shot.####.exr", "--frames", "1-10", "--set",
                     "Label=it's $HOME \"x\""};
    s.output = "out/shot.####.exr";
    s.frames = "1-10";
    s.chunk = 3;
    s.retries = 2;
    WriteTextFile(s.JobScript(), ArrayJobScript(s), 0755);
  }

  // Runs the script as task `task` in the working folder; returns its exit status.
  int RunTask(int task, int fails) {
    WriteTextFile((dir / "fails").string(), std::to_string(fails) + "\n");
    const std::string cmd = "cd '" + dir.string() + "' && SLURM_ARRAY_TASK_ID=" + std::to_string(task) + " QUORVEX_FARM_RETRY_PAUSE=0 bash '" +
                            s.JobScript() + "' >/dev/null 2>&1";
    const int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }

  Submission s;
};

TEST_F(JobScript, ATaskPassesTheArgumentsIntactAndAddsItsChunk) {
  ASSERT_EQ(RunTask(2, 0), 0);
  std::vector<std::string> expected = s.render_args;
  for (const char* a : {"--chunk", "3", "--chunk-from", "SLURM_ARRAY_TASK_ID", "--skip-existing", "--threads", "1"})
    expected.push_back(a);
  std::string want;
  for (const std::string& a : expected) want += a + "\n";
  EXPECT_EQ(Slurp(dir / "args.txt"), want);
  const std::string log = Slurp(dir / "out/shot.farm/logs/frames-0004-0006.log");
  EXPECT_NE(log.find("task 2 (frames-0004-0006), attempt 1 of 3"), std::string::npos) << log;
  EXPECT_NE(log.find("rendered"), std::string::npos) << "the render's output goes to the task log";
}

TEST_F(JobScript, AFailedTaskIsTriedAgainUpToTheRetriesAndKeepsOneLog) {
  struct Case {
    int fails, status, attempts;
  } cases[] = {{1, 0, 2}, {2, 0, 3}, {3, 1, 3}};
  for (const Case& c : cases) {
    EXPECT_EQ(RunTask(4, c.fails), c.status) << c.fails << " failures";
    const std::string log = Slurp(dir / "out/shot.farm/logs/frames-0010-0010.log");
    EXPECT_NE(log.find("attempt " + std::to_string(c.attempts) + " of 3"), std::string::npos) << log;
    EXPECT_EQ(log.find("attempt " + std::to_string(c.attempts + 1)), std::string::npos) << log;
    for (const auto& entry : fs::directory_iterator(dir / "out/shot.farm/logs"))
      EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << "partial log left behind";
  }
}

TEST_F(JobScript, ThreadsOfTheUserAreKeptAndTheScriptReadsAsBash) {
  s.render_args.push_back("--threads=4");
  s.partition = "render farm";
  const std::string script = ArrayJobScript(s);
  EXPECT_EQ(script.find("--threads 1"), std::string::npos);
  EXPECT_NE(script.find("#SBATCH --array=1-4\n"), std::string::npos);
  EXPECT_NE(script.find("#SBATCH --partition='render farm'\n"), std::string::npos);
  WriteTextFile(s.JobScript(), script, 0755);
  WriteTextFile(s.CheckScript(), CheckJobScript(s), 0755);
  for (const std::string& path : {s.JobScript(), s.CheckScript()})
    EXPECT_EQ(RunProgram({"bash", "-n", path}).status, 0) << path;
}

TEST(FarmShellWords, EveryWordComesBackFromTheShellAsItWas) {
  for (const std::string word : {"plain", "in/shot.####.exr", "a b", "it's", "$HOME", "\"q\"", "*", "", "x;y",
                                 "back\\slash", "new\nline"}) {
    const ProgramResult r = RunProgram({"bash", "-c", "printf '%s' " + ShellWord(word)});
    EXPECT_EQ(r.out, word) << ShellWord(word);
  }
}

TEST(FarmRenderArgs, OptionsAreFoundInEverySpelling) {
  struct Case {
    std::vector<std::string> args;
    std::string output, frames;
  } cases[] = {
      {{"-i", "a", "-o", "o.####.exr", "--frames", "1-10"}, "o.####.exr", "1-10"},
      {{"--output=o.%04d.exr", "--frames=3-4"}, "o.%04d.exr", "3-4"},
      {{"-oo.#.exr", "--frames", "-5--1"}, "o.#.exr", "-5--1"},
      {{"--output", "a.exr", "--output", "b.exr"}, "b.exr", ""},
      {{"--set", "X=1", "-q"}, "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OptionValue(c.args, "--output", "-o"), c.output);
    EXPECT_EQ(OptionValue(c.args, "--frames"), c.frames);
  }
  EXPECT_TRUE(HasOption({"--chunk-from", "X"}, "--chunk-from"));
  EXPECT_FALSE(HasOption({"--chunk-from", "X"}, "--chunk"));
}

TEST(FarmFolders, TheFarmFolderSitsBesideTheOutputsNamedAfterThem) {
  EXPECT_EQ(FarmFolderFor("/p/out/shot.####.exr"), "/p/out/shot.farm");
  EXPECT_EQ(FarmFolderFor("/p/out/shot_%04d.exr"), "/p/out/shot.farm");
  EXPECT_EQ(FarmFolderFor("/p/out/####.exr"), "/p/out/frames.farm");
  EXPECT_EQ(FarmFolderFor("/p/beauty.####.blur.exr"), "/p/beauty.blur.farm");
}

TEST(FarmSubmission, TheRecordReadsBackAsWritten) {
  const TempDir t;
  Submission s;
  s.workdir = "/w";
  s.render = "/bin/quorvex-render";
  s.farm_program = "/bin/quorvex-farm";
  s.render_args = {"-o", "out/a.####.exr", "--frames", "1-20x2"};
  s.output = "out/a.####.exr";
  s.frames = "1-20x2";
  s.chunk = 4;
  s.retries = 3;
  s.cpus = 2;
  s.partition = "gpu";
  s.folder = t.dir.string();
  s.command = {"quorvex-farm", "submit"};
  s.job_id = "12";
  s.check_job_id = "13";
  SaveSubmission(s);
  const Submission r = LoadSubmission(s.RecordPath());
  EXPECT_EQ(r.render_args, s.render_args);
  EXPECT_EQ(std::tie(r.workdir, r.render, r.farm_program, r.output, r.frames, r.partition, r.folder, r.job_id,
                     r.check_job_id),
            std::tie(s.workdir, s.render, s.farm_program, s.output, s.frames, s.partition, s.folder, s.job_id,
                     s.check_job_id));
  EXPECT_EQ(std::tie(r.chunk, r.retries, r.cpus), std::tie(s.chunk, s.retries, s.cpus));
  EXPECT_EQ(r.TaskCount(), 3);
  EXPECT_EQ(r.LogName(3), "frames-0017-0019");
  EXPECT_EQ(r.TaskOfFrame(9), 2);
  EXPECT_EQ(r.TaskOfFrame(10), 0) << "an even frame is not in 1-20x2";
  EXPECT_EQ(r.OutputPath(7), "/w/out/a.0007.exr");
  WriteTextFile(s.RecordPath(), "{\"engine\": \"slurm\"}");
  EXPECT_THROW(LoadSubmission(s.RecordPath()), std::runtime_error);
}

}  // namespace
