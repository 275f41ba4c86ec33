// The check job's report, on a farm folder laid out as tasks leave it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "farm/report.h"
#include "farm/text_file.h"
#include "tests/app/e2e_support.h"

namespace fs = std::filesystem;

namespace {

TEST(FarmReport, OnlyLinesThatNameTheFrameAreQuoted) {
  const std::string log =
      "frame 1 done (1/3): out/a.0001.exr\n"
      "quorvex-render: frame 10: cannot read in/a.0010.exr\n"
      "quorvex-render: frame 1 failed; no file written\n"
      "frame 100 done\n"
      "quorvex-render: frame -1: cannot read in/a.-001.exr\n";
  EXPECT_EQ(LinesNamingFrame(log, 1),
            (std::vector<std::string>{"frame 1 done (1/3): out/a.0001.exr", "quorvex-render: frame 1 failed; no file written"}));
  EXPECT_EQ(LinesNamingFrame(log, 10), (std::vector<std::string>{"quorvex-render: frame 10: cannot read in/a.0010.exr"}));
  EXPECT_EQ(LinesNamingFrame(log, -1), (std::vector<std::string>{"quorvex-render: frame -1: cannot read in/a.-001.exr"}));
  EXPECT_TRUE(LinesNamingFrame(log, 2).empty());
}

class FarmReportFolder : public ::testing::Test, protected testing_support::TempDir {
 protected:
  void SetUp() override {
    fs::create_directories(dir / "out/a.farm/logs");
    s.workdir = dir.string();
    s.folder = (dir / "out/a.farm").string();
    s.output = "out/a.####.exr";
    s.frames = "1-4";
    s.chunk = 2;
    s.job_id = "41";
    s.command = {"quorvex-farm", "submit", "--engine", "slurm", "--", "-o", "out/a.####.exr", "--frames", "1-4"};
  }
  void Frame(int f) {
    e2e::WriteExr(s.OutputPath(f), 8, 6, {{{"R", e2e::kHalf, [](int x, int) { return float(x); }}}});
  }
  Submission s;
};

TEST_F(FarmReportFolder, MissingAndBrokenFramesAreNamedWithTheirTaskLog) {
  Frame(1);
  Frame(2);
  Frame(4);
  fs::resize_file(s.OutputPath(4), fs::file_size(s.OutputPath(4)) / 2);  // cut short
  WriteTextFile(s.LogPath(2),
                "quorvex-farm: task 2 (frames-0003-0004), attempt 1 of 2 on n1\n"
                "quorvex-render: frame 3: first try\n"
                "quorvex-farm: task 2 (frames-0003-0004), attempt 2 of 2 on n2\n"
                "quorvex-render: frame 3: cannot read in/a.0003.exr: no such file\n"
                "quorvex-farm: task 2 exit status 2\n");
  const std::vector<FrameState> frames = CheckFrames(s);
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_TRUE(frames[0].complete && frames[1].complete);
  EXPECT_FALSE(frames[2].complete || frames[3].complete);
  const std::string report = ReportText(s, frames);
  for (const char* part : {"quorvex-farm report: job 41, out/a.####.exr, frames 1-4 in 2 task(s) of up to 2\n",
                           "frames done: 2 of 4\nframes failed: 2\n",
                           "  frame 3: out/a.0003.exr not written\n    task 2 log: out/a.farm/logs/frames-0003-0004.log\n"
                           "      quorvex-render: frame 3: cannot read in/a.0003.exr: no such file\n",
                           "  frame 4: out/a.0004.exr does not read back: ",
                           "(no line names this frame; the log ends: quorvex-farm: task 2 exit status 2)",
                           "quorvex-farm submit --engine slurm -- -o 'out/a.####.exr' --frames 1-4\n"})
    EXPECT_NE(report.find(part), std::string::npos) << "missing: " << part << "\nin:\n" << report;
  EXPECT_EQ(report.find("first try"), std::string::npos) << "only the last attempt counts";
  EXPECT_EQ(FramesInPlace(s), 3) << "status counts files in place; the report reads them back";
}

TEST_F(FarmReportFolder, ATaskWithoutALogIsSaidToHaveLeftNone) {
  Frame(1);
  Frame(2);
  const std::string report = ReportText(s, CheckFrames(s));
  EXPECT_NE(report.find("frame 3: out/a.0003.exr not written\n    task 2 left no log"), std::string::npos) << report;
  Frame(3);
  Frame(4);
  const std::string done = ReportText(s, CheckFrames(s));
  EXPECT_NE(done.find("frames done: 4 of 4\nframes failed: 0\nevery frame is complete\n"), std::string::npos) << done;
}

}  // namespace
