#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "app/channel_names.h"
#include "app/control_edits.h"
#include "app/frame_range.h"
#include "app/progress.h"
#include "app/usage_error.h"
#include "tests/support/tool_test.h"

using namespace testing_support;

TEST(FrameRange, RangesStepsListsAndErrors) {
  const std::pair<const char*, std::vector<int>> good[] = {
      {"3", {3}}, {"1-4", {1, 2, 3, 4}}, {"1-7x3", {1, 4, 7}}, {"-2--1", {-2, -1}},
      {"1-3,7,10-20x5, 2", {1, 2, 3, 7, 10, 15, 20}},  // lists, each frame once
  };
  for (const auto& [text, frames] : good) EXPECT_EQ(ParseFrameRange(text), frames) << text;
  EXPECT_EQ(ParseFrameRange("0-99999999x100").size(), 1000000u) << "a million frames is the most one command takes";
  for (const std::string& bad : std::vector<std::string>{"", "a-b", "5-1", "1-4x0", "1-", "99999999999-1", "-100000000-100000000", "1,", ",1", "1,,2",
                                "1-3x", "1x2", "0-999999,1000000-1000001",
                                std::string(40000, '1')})  // a long argument is refused, not recursed into
    EXPECT_THROW(ParseFrameRange(bad), UsageError) << bad.substr(0, 40);
}

TEST(FrameRange, PatternsArePaddedToTheirWidth) {
  EXPECT_TRUE(HasFramePattern("shot.####.exr"));
  EXPECT_TRUE(HasFramePattern("shot.%04d.exr"));
  // Found by fuzzing: a field width too wide to read used to throw past the
  // caller. Only the file name holds a pattern; folders keep their '#' and '%'.
  for (const char* plain : {"shot.exr", "shot.%08888888888888888d.exr", "50%done/still.exr", "take#2/%4d/still.exr"})
    EXPECT_FALSE(HasFramePattern(plain)) << plain;
  const std::tuple<const char*, int, const char*> paths[] = {
      {"a/shot.####.exr", 7, "a/shot.0007.exr"},   {"shot.%04d.exr", 12345, "shot.12345.exr"},
      {"shot.%d.exr", 5, "shot.5.exr"},            {"shot.##.exr", -3, "shot.-03.exr"},
      {"take#2/o.####.exr", 1, "take#2/o.0001.exr"}, {"%02d/a%03d.exr", 4, "%02d/a004.exr"},
      {"shot.%08888888888888888d.exr", 3, "shot.%08888888888888888d.exr"},
  };
  for (const auto& [pattern, frame, path] : paths) EXPECT_EQ(PathForFrame(pattern, frame), path);
  EXPECT_EQ(PathForFrame(std::string(40000, '#'), 1).size(), 40000u);
}

TEST(ChannelNames, MappedKnownAndLayerPrefixedNames) {
  const std::vector<std::string> names{"R", "G", "B", "ViewLayer.Depth.Z", "forward.u", "forward.v", "layout.R"};
  EXPECT_EQ(channel_names::Find(names, "Z", {}), "ViewLayer.Depth.Z");
  EXPECT_EQ(channel_names::Find(names, "VectX", {}), "forward.u");
  EXPECT_EQ(channel_names::Find(names, "A", {}), "");
  EXPECT_EQ(channel_names::Find(names, "R", {}), "R");
  EXPECT_EQ(channel_names::Find({"layout.R"}, "R", {}), "") << "a single letter counts only in a colour layer";
  EXPECT_EQ(channel_names::Find({"Combined.R", "L.Combined.G"}, "G", {}), "L.Combined.G");
  auto map = channel_names::ParseMap("Z=forward.v,VectX=G");
  EXPECT_EQ(channel_names::Find(names, "Z", map), "forward.v");
  EXPECT_THROW(channel_names::ParseMap("Depth=Z"), UsageError);
  EXPECT_THROW(channel_names::ParseMap("Z="), UsageError);
}

using SetArgument = ToolTest;

TEST_F(SetArgument, NumbersLabelsSwitchesAndKeyframes) {
  EXPECT_EQ(ParseSetArgument(*q, "FStop=2.8").value, 2.8);
  EXPECT_EQ(ParseSetArgument(*q, "EdgeCondition=mirror").value, 2.0);
  EXPECT_EQ(ParseSetArgument(*q, "EnableDepth=on").value, 1.0);
  EXPECT_EQ(ParseSetArgument(*q, "Scale Velocity=-3").value, -3.0);
  ControlEdit keys = ParseSetArgument(*q, "FocusPosition=1:0.2, 24:0.8");
  EXPECT_EQ(keys.kind, ControlEdit::Keys);
  EXPECT_EQ(keys.keys, (std::map<double, double>{{1, 0.2}, {24, 0.8}}));
  try {  // the Info page's texts are the module's own, not settings
    ParseSetArgument(*q, "DocUrl=http://x:8");
    ADD_FAILURE() << "an Info-page field was editable";
  } catch (const UsageError& e) {
    EXPECT_NE(std::string(e.what()).find("Info page"), std::string::npos) << e.what();
  }
  try {
    ParseSetArgument(*q, "Scale Velocty=2");
    FAIL();
  } catch (const UsageError& e) {
    EXPECT_NE(std::string(e.what()).find("did you mean \"Scale Velocity\""), std::string::npos) << e.what();
  }
  for (const char* bad : {"FStop", "FStop=fast", "FStop=nan", "EdgeCondition=Sideways", "Input=a.exr", "=3", "FStop=1:x"})
    EXPECT_THROW(ParseSetArgument(*q, bad), UsageError) << bad;
}

TEST_F(SetArgument, ValuesOutsideTheRangeAreClampedWithAWarning) {
  std::vector<std::string> warnings;
  auto warn = [&](const std::string& w) { warnings.push_back(w); };
  ApplyEdit(*q, ParseSetArgument(*q, "MaxBlurSize=40"), warn);
  EXPECT_EQ(q->FindInput("MaxBlurSize")->ValueAt(0), 25.0);
  ApplyEdit(*q, ParseSetArgument(*q, "MaxBlurSize=25"), warn);
  ApplyEdit(*q, ParseSetArgument(*q, "EdgeCondition=7"), warn);
  EXPECT_EQ(q->FindInput("EdgeCondition")->ValueAt(0), 2.0);
  ApplyEdit(*q, ParseSetArgument(*q, "Scale Velocity=-40"), warn);
  EXPECT_EQ(q->FindInput("Scale Velocity")->ValueAt(0), -40.0) << "beyond the slider is accepted";
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_NE(warnings[0].find("MaxBlurSize = 40 is outside its range 0 to 25; using 25"), std::string::npos);
}

// Progress inside a frame shows on a terminal only once the frame has taken
// about a second, and never with --quiet or off a terminal.
TEST(Progress, InsideAFrameAfterASecondOnATerminal) {
  auto shown = [](bool terminal, bool quiet, bool wait) {
    fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    char path[] = "/tmp/quorvex-progress-XXXXXX";
    const int fd = mkstemp(path);
    dup2(fd, STDERR_FILENO);
    {
      Progress p(1, terminal, quiet);
      p.FrameStarted();
      p.WithinFrame(1, 3, 10);
      if (wait) std::this_thread::sleep_for(std::chrono::milliseconds(1100));
      p.WithinFrame(1, 5, 10);
      p.Finish();
    }
    fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    std::ifstream in(path);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    close(fd);
    unlink(path);
    return text;
  };
  const std::string after = shown(true, false, true);
  EXPECT_NE(after.find("frame 1: blur pass 50%"), std::string::npos) << after;
  EXPECT_EQ(after.find("30%"), std::string::npos) << "nothing within the first second: " << after;
  EXPECT_EQ(shown(true, true, true), "") << "--quiet";
  EXPECT_EQ(shown(false, false, true), "") << "not a terminal";
}
