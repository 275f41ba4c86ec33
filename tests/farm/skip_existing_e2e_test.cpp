// quorvex-render as a farm task runs it: --skip-existing and --chunk-from (a
// broken frame in a sequence: reliability_e2e_test.cpp).
#include <sys/stat.h>

#include <cstdlib>

#include "tests/app/e2e_support.h"

using namespace e2e;

namespace {

// The file's identity: a frame written again is a new file renamed into place.
ino_t Inode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : ino_t(0);
}

TEST_F(Render, SkipExistingRendersOnlyFramesThatAreNotComplete) {
  for (int f = 1; f <= 4; ++f) Scene(P("in." + std::to_string(f) + ".exr"));
  const std::vector<std::string> args{"-i", P("in.%d.exr"), "-o", P("out.####.exr"), "--frames", "1-4", "--skip-existing"};
  ASSERT_EQ(RunRender(args).status, 0);
  const ino_t first = Inode(P("out.0001.exr")), fourth = Inode(P("out.0004.exr"));
  fs::resize_file(P("out.0002.exr"), fs::file_size(P("out.0002.exr")) - 40);  // cut short
  fs::copy_file(P("out.0001.exr"), P(".out.0003.tmp-1-0.exr"));                // a writer's temporary
  fs::remove(P("out.0003.exr"));
  Result r = RunRender(args);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(Inode(P("out.0001.exr")), first) << "a complete frame is kept as it is";
  EXPECT_EQ(Inode(P("out.0004.exr")), fourth);
  EXPECT_NE(r.output.find("frame 1 kept: " + P("out.0001.exr") + " is complete"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("frame 2 kept"), std::string::npos) << "a file cut short is rendered again";
  EXPECT_EQ(r.output.find("frame 3 kept"), std::string::npos) << "a temporary never stands for the frame";
  EXPECT_EQ(ReadExr(P("out.0002.exr")).px, ReadExr(P("out.0001.exr")).px) << "frame 2 is whole again";
  EXPECT_TRUE(fs::exists(P("out.0003.exr")));
  Result again = RunRender(args);
  EXPECT_EQ(again.status, 0) << "nothing left to render is success";
}

TEST_F(Render, AFarmTaskTakesItsChunkFromTheEnvironment) {
  for (int f = 1; f <= 5; ++f) Scene(P("in." + std::to_string(f) + ".exr"));
  setenv("QUORVEX_TEST_TASK", "2", 1);
  Result r = RunRender({"-i", P("in.%d.exr"), "-o", P("out.%d.exr"), "--frames", "1-5", "--chunk", "2", "--chunk-from",
                        "QUORVEX_TEST_TASK"});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("task 2 of 3 (QUORVEX_TEST_TASK): frames 3-4"), std::string::npos) << r.output;
  for (int f = 1; f <= 5; ++f)
    EXPECT_EQ(fs::exists(P("out." + std::to_string(f) + ".exr")), f == 3 || f == 4) << "frame " << f;
  setenv("QUORVEX_TEST_TASK", "4", 1);
  Result beyond = RunRender({"-i", P("in.%d.exr"), "-o", P("out.%d.exr"), "--frames", "1-5", "--chunk", "2",
                             "--chunk-from", "QUORVEX_TEST_TASK"});
  EXPECT_EQ(beyond.status, 2);
  EXPECT_NE(beyond.output.find("chunk 4 does not exist: 5 frames in chunks of 2 make chunks 1 to 3"),
            std::string::npos)
      << beyond.output;
  unsetenv("QUORVEX_TEST_TASK");
}

}  // namespace
