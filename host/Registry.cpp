#include "host/Registry.h"

#include <algorithm>
#include <stdexcept>

void ClassRegistry::Add(Registry* reg) {
  std::lock_guard<std::mutex> lock(mutex_);
  classes_.push_back(reg);
}

void ClassRegistry::Remove(Registry* reg) {
  std::lock_guard<std::mutex> lock(mutex_);
  classes_.erase(std::remove(classes_.begin(), classes_.end(), reg), classes_.end());
}

std::vector<Registry*> ClassRegistry::Classes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return classes_;
}

Registry* ClassRegistry::Find(const std::string& id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Registry* r : classes_)
    if (r->ID.str() == id) return r;
  return nullptr;
}

ClassRegistry& HostClassRegistry() {
  static ClassRegistry list;
  return list;
}

Registry::Registry(ClassRegistry& list, const FuID& id, const TagList& tags) : ID(id), Tags(tags), list_(list) {
  list_.Add(this);
}

Registry::~Registry() { list_.Remove(this); }

Operator* Registry::Create(HostDoc* doc) {
  auto factory = reinterpret_cast<OperatorFactory>(const_cast<void*>(Tags.GetPtr(REG_Factory, nullptr)));
  if (!factory) throw std::runtime_error("class " + ID.str() + " has no factory");
  TagList tags;
  if (doc) tags.Add({OBJ_Document, static_cast<const void*>(doc)});
  Operator* op = factory(this, ScriptVal{}, tags);
  if (!op) throw std::runtime_error("could not create a " + ID.str());
  for (Input* in : op->Inputs()) {
    if (!in->Notifies || in->DataType != "Number") continue;
    AutoNumber n(in->ValueAt(0.0));
    op->NotifyChanged(in, n, 0.0, nullptr);
  }
  return op;
}
