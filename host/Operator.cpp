#include "host/Operator.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <mutex>

#include "host/Registry.h"

Operator::Operator(Registry* reg, const ScriptVal&, const TagList& tags)
    : Reg(reg),
      Doc(static_cast<HostDoc*>(const_cast<void*>(tags.GetPtr(OBJ_Document, nullptr)))
              ? static_cast<HostDoc*>(const_cast<void*>(tags.GetPtr(OBJ_Document, nullptr)))
              : &HostDoc::Default()) {}

Operator::~Operator() {
  for (Output* o : outputs_) o->Recycle();
  for (Input* i : inputs_) i->Recycle();
}

void Operator::NotifyChanged(Input*, Parameter*, TimeStamp, TagList*) { ++BaseNotifications; }

bool Operator::AddControlPage(const char* name, TagList*) {
  pages_.emplace_back(name);
  return true;
}

Input* Operator::AddInput(const char* name, const char* id, const TagList& tags) {
  std::string page = pages_.empty() ? std::string() : pages_.back();
  Input* in = new Input(this, name, id, page, tags);
  inputs_.push_back(in);
  return in;
}

Output* Operator::AddOutput(const char* name, const char* id, const TagList& tags) {
  Output* out = new Output(this, name, id, tags);
  outputs_.push_back(out);
  return out;
}

Input* Operator::FindInput(const std::string& id) const {
  for (Input* i : inputs_)
    if (i->ID == id) return i;
  return nullptr;
}

Output* Operator::FindOutput(const std::string& id) const {
  for (Output* o : outputs_)
    if (o->ID == id) return o;
  return nullptr;
}

bool Operator::RegInit(Registry*) { return true; }
bool Operator::RegCleanup(Registry*) { return true; }

const FuID ThreadedOperator::ClassID("ThreadedOperator");

namespace {
std::mutex g_arena_mutex;
int g_threads = 0;
std::unique_ptr<tbb::task_arena> g_arena;

tbb::task_arena& Arena() {
  std::lock_guard<std::mutex> lock(g_arena_mutex);
  if (!g_arena) {
    int n = g_threads > 0 ? g_threads : tbb::task_arena::automatic;
    g_arena = std::make_unique<tbb::task_arena>(n);
  }
  return *g_arena;
}
}  // namespace

void SetHostThreads(int threads) {
  std::lock_guard<std::mutex> lock(g_arena_mutex);
  if (threads == g_threads && g_arena) return;
  g_threads = threads;
  g_arena.reset();
}

int HostThreads() { return Arena().max_concurrency(); }

void ThreadedOperator::DoMultiProcess(Request* req, int32_t count) {
  if (count <= 0) return;
  // Chunks go out in increasing order, each to the next worker that is
  // free: a tool that adds its chunks' results in chunk order then keeps few
  // of them waiting. After a chunk throws, no new chunk starts.
  std::atomic<int32_t> next{0}, finished{0};
  std::atomic<bool> failed{false};
  tbb::task_arena& arena = Arena();
  const int workers = std::max(1, std::min(arena.max_concurrency(), int(count)));
  arena.execute([&] {
    tbb::parallel_for(0, workers, [&](int) {
      for (int32_t c; !failed.load() && (c = next.fetch_add(1)) < count;) {
        try {
          ProcessChunk(req, c);
          const int32_t done = finished.fetch_add(1) + 1;
          if (ChunkProgress) ChunkProgress(done, count);
        } catch (...) {
          failed.store(true);
          throw;
        }
      }
    });
  });
}
