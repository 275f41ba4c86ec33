#include "host/Module.h"

#include <dlfcn.h>

#include <algorithm>
#include <stdexcept>

#include "host/Registry.h"
#include "host/SimdLevel.h"
#include "host/ToolServices.h"

std::unique_ptr<PluginModule> PluginModule::Load(const std::string& path) {
  // The instruction-set level is fixed before any engine code can run.
  ApplySimdSwitch();
  auto before = HostClassRegistry().Classes();
  // RTLD_LOCAL keeps one module's symbols from resolving another's.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* err = dlerror();
    throw std::runtime_error("cannot load plug-in " + path + ": " + (err ? err : "unknown error"));
  }
  std::unique_ptr<PluginModule> m(new PluginModule);
  m->path_ = path;
  m->handle_ = handle;
  for (Registry* r : HostClassRegistry().Classes())
    if (std::find(before.begin(), before.end(), r) == before.end()) m->classes_.push_back(r);
  if (m->classes_.empty())
    throw std::runtime_error("plug-in " + path + " registers no tool class; it is not a Quorvex host module");
  return m;
}

PluginModule::~PluginModule() {
  if (handle_) dlclose(handle_);
}

std::vector<uint8_t> PluginModule::Resource(int id) const {
  auto fn = reinterpret_cast<ModuleResourceFn>(dlsym(handle_, HOST_MODULE_RESOURCE_SYMBOL));
  const void* data = nullptr;
  size_t size = 0;
  if (!fn || !fn(id, &data, &size) || !data) return {};
  auto p = static_cast<const uint8_t*>(data);
  return std::vector<uint8_t>(p, p + size);
}

const ToolServices* PluginModule::Services() const {
  auto fn = reinterpret_cast<ToolServicesFn>(dlsym(handle_, HOST_TOOL_SERVICES_SYMBOL));
  const ToolServices* s = fn ? fn() : nullptr;
  if (!s || s->version != kToolServicesVersion || s->size < sizeof(ToolServices)) return nullptr;
  return s;
}
