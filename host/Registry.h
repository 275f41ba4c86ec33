#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "host/Object.h"
#include "host/Operator.h"
#include "host/TagList.h"

class Registry;
using OperatorFactory = Operator* (*)(Registry*, const ScriptVal&, const TagList&);

// Scripting support record of a class.
class ScriptInfo {
 public:
  ScriptInfo(int version, const char* id, const char* a, const char* b)
      : Version(version), ID(id), A(a), B(b) {}
  virtual ~ScriptInfo() = default;
  virtual void* ToScript(void* obj) { return obj; }
  virtual void* FromScript(void* obj) { return obj; }
  int Version;
  std::string ID, A, B;
};

template <class T>
class ScriptInfoT : public ScriptInfo {
 public:
  using ScriptInfo::ScriptInfo;
};

// The host's list of registered classes.
class ClassRegistry {
 public:
  void Add(Registry* reg);
  void Remove(Registry* reg);
  std::vector<Registry*> Classes() const;
  Registry* Find(const std::string& id) const;

 private:
  mutable std::mutex mutex_;
  std::vector<Registry*> classes_;
};

ClassRegistry& HostClassRegistry();

// A class record: listed with the host from construction to destruction.
class Registry {
 public:
  Registry(ClassRegistry& list, const FuID& id, const TagList& tags);
  ~Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  const FuID ID;
  const TagList Tags;

  std::string Name() const { return Tags.GetString(REG_Name, ID.str()); }
  // Makes a tool as the host does: the factory, then one notification of
  // every notifying input with its default value, in creation order.
  Operator* Create(HostDoc* doc = nullptr);

 private:
  ClassRegistry& list_;
};
