// Renders the bundled example 200 times in one process, cancelling every
// tenth frame at a random point, and reports resident memory and host
// objects as it goes. Exits 1 when memory keeps growing or objects leak.
//   build/bin/soak [frames]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "app/comp_file.h"
#include "app/image_io.h"
#include "tests/support/tool_fixture.h"

namespace {
long ResidentKB() {
  std::ifstream f("/proc/self/statm");
  long pages = 0, resident = 0;
  f >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}
}  // namespace

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::atoi(argv[1]) : 200;
  const std::string dir = QUORVEX_SOURCE_DIR "/examples/";
  testing_support::ToolFactory factory;
  testing_support::Console console;
  Quorvex* q = factory.Create(&console.doc);
  for (const ControlEdit& e : comp_file::Load(dir + "example.comp", *q)) ApplyEdit(*q, e, nullptr);
  FileImage file = ReadImageFile(dir + "scene.exr");
  ChannelPick pick;
  Image* input = MakeHostImage(file, {}, pick);
  const int64_t objects = RefObject::LiveObjects();
  std::mt19937 rng(7);
  long first_kb = 0, settled_kb = 0, last_kb = 0;
  int cancelled = 0, rendered = 0;
  for (int f = 1; f <= frames; ++f) {
    std::thread canceller;
    if (f % 10 == 0) {
      const int delay_us = std::uniform_int_distribution<int>(0, 20000)(rng);
      canceller = std::thread([q, delay_us] {
        std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
        q->Abort = 1;
      });
    }
    Image* out = testing_support::Render(*q, input);
    if (canceller.joinable()) canceller.join();
    q->Abort = 0;
    if (out) {
      ++rendered;
      out->Recycle();
    } else {
      ++cancelled;
    }
    console.lines.clear();
    last_kb = ResidentKB();
    if (f == 1) first_kb = last_kb;
    if (f == 20) settled_kb = last_kb;
    if (f % 20 == 0)
      std::printf("frame %3d: resident %ld KB, host objects %lld\n", f, last_kb,
                  static_cast<long long>(RefObject::LiveObjects() - objects));
  }
  input->Recycle();
  const bool leaked = RefObject::LiveObjects() != objects - 1;
  const long growth = last_kb - (settled_kb ? settled_kb : first_kb);
  std::printf("%d rendered, %d cancelled; resident after frame 20: %ld KB, at the end: %ld KB (growth %ld KB)%s\n",
              rendered, cancelled, settled_kb, last_kb, growth, leaked ? "; host objects leaked" : "");
  q->Recycle();
  return leaked || growth > 8 * 1024 ? 1 : 0;
}
