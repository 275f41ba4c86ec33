// The command line's value parsers: --set, --channels (per file too) and --frames (lists).
#include <cstdint>
#include <string>

#include "app/channel_names.h"
#include "app/control_edits.h"
#include "app/frame_range.h"
#include "app/usage_error.h"
#include "tests/support/tool_fixture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static testing_support::ToolFactory factory;
  static testing_support::Console console;
  static Quorvex* q = factory.Create(&console.doc);
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    ApplyEdit(*q, ParseSetArgument(*q, text), [](const std::string&) {});
  } catch (const UsageError&) {
  }
  try {
    channel_names::Find({"R", "G", "B", "depth.Z"}, "Z", channel_names::ParseMap(text));
  } catch (const UsageError&) {
  }
  try {
    channel_names::ParseFileMaps(text);
  } catch (const UsageError&) {
  }
  try {
    const std::vector<int> frames = ParseFrameRange(text);
    DescribeFrames(Gaps(frames));
  } catch (const UsageError&) {
  }
  if (HasFramePattern(text)) PathForFrame(text, -42);
  return 0;
}
