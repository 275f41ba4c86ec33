// The comp-file reader on arbitrary bytes: it either reads the file or
// reports it as unusable; loading and saving what it read never fails.
#include <cstdint>
#include <string>

#include "app/comp_file.h"
#include "app/usage_error.h"
#include "tests/support/tool_fixture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static testing_support::ToolFactory factory;
  static testing_support::Console console;
  Quorvex* q = factory.Create(&console.doc);
  try {
    const auto edits = comp_file::Parse(std::string(reinterpret_cast<const char*>(data), size), "fuzz.comp", *q);
    for (const ControlEdit& e : edits) ApplyEdit(*q, e, nullptr);
    const std::string saved = comp_file::Serialize(*q);
    comp_file::Parse(saved, "saved.comp", *q);
  } catch (const UsageError&) {
  }
  q->Recycle();
  return 0;
}
