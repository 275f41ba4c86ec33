#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/HostDoc.h"
#include "host/Input.h"
#include "host/Object.h"
#include "host/TagList.h"

class Registry;
struct ScriptVal {};

// Base of every tool. Holds the tool's inputs and outputs, its console and
// the abort flag that the host raises to cancel a render.
class Operator : public Object {
 public:
  Operator(Registry* reg, const ScriptVal& sv, const TagList& tags);

  // Virtual operations, in slot order (the destructor first).
  ~Operator() override;
  virtual bool PreProcess(Request*) { return true; }
  virtual void PostProcess(Request*) {}
  virtual void Process(Request*) {}
  virtual void PreCalcPreProcess(Request*) {}
  virtual void ProcessGL(Request*) {}
  // The host's own handling of a change; a tool that overrides this calls it
  // for the cases it does not handle itself.
  virtual void NotifyChanged(Input* in, Parameter* param, TimeStamp time, TagList* tags);
  virtual void RegionChanged(Request*) {}

  bool AddControlPage(const char* name, TagList* tags = nullptr);
  Input* AddInput(const char* name, const char* id, const TagList& tags);
  Output* AddOutput(const char* name, const char* id, const TagList& tags);

  const std::vector<Input*>& Inputs() const { return inputs_; }
  const std::vector<Output*>& Outputs() const { return outputs_; }
  Input* FindInput(const std::string& id) const;
  Output* FindOutput(const std::string& id) const;
  const std::vector<std::string>& Pages() const { return pages_; }

  Registry* const Reg;
  HostDoc* const Doc;
  // Raised by the host to cancel the render in progress; read by the tool.
  std::atomic<int> Abort{0};
  // How often the base handling of NotifyChanged ran (for the host's checks).
  int BaseNotifications = 0;

  static bool RegInit(Registry* reg);
  static bool RegCleanup(Registry* reg);

 private:
  std::vector<std::string> pages_;
  std::vector<Input*> inputs_;
  std::vector<Output*> outputs_;
};

// A tool that splits its work into chunks run on the host's worker threads.
class ThreadedOperator : public Operator {
 public:
  using Operator::Operator;

  virtual void ThreadMain(Request*) {}
  // The work item that DoMultiProcess runs once per chunk index.
  virtual void ProcessChunk(Request*, int32_t) {}
  virtual void QuickProcessChunk(Request*, int32_t) {}

  // Runs ProcessChunk for every index 0 .. count-1 on the host's worker
  // threads and returns when all are done; a chunk's exception passes on.
  void DoMultiProcess(Request* req, int32_t count);
  // Set by a host that shows progress inside a frame: called on a worker
  // thread after each chunk with the chunks done so far and their count.
  std::function<void(int32_t done, int32_t count)> ChunkProgress;

  static const FuID ClassID;
};

// Worker threads the host gives DoMultiProcess (0: one per core).
void SetHostThreads(int threads);
int HostThreads();
