// The plug-in module's static records: loading the module registers the
// Quorvex class with the host, unloading removes it.
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "host/Module.h"
#include "host/Registry.h"
#include "plugin/Quorvex.h"
#include "plugin/registry_tags.h"

namespace {

Operator* CreateQuorvex(Registry* reg, const ScriptVal& sv, const TagList& tags) {
  void* mem = ::operator new(sizeof(Quorvex), std::nothrow);
  if (!mem) return nullptr;
  try {
    return new (mem) Quorvex(reg, sv, tags);
  } catch (...) {
    ::operator delete(mem);
    throw;
  }
}

// Built in this order, destroyed in the reverse order.
ScriptInfoT<Quorvex> g_script_info(1, "tessalyworks.Quorvex", "", "");
FuID g_class_id("tessalyworks.Quorvex");
Registry g_registry(HostClassRegistry(), g_class_id,
                    quorvex_module::RegistryTags(reinterpret_cast<const void*>(&CreateQuorvex), &g_script_info));

}  // namespace

extern "C" __attribute__((visibility("default"))) int HostModuleResource(int id, const void** data, size_t* size) {
  if (id != quorvex_module::kBitmapResourceID) return 0;
  const std::vector<uint8_t>& bmp = quorvex_module::LogoBitmap();
  *data = bmp.data();
  *size = bmp.size();
  return 1;
}

// Exported here, beside the registration: the module's own symbols are the
// only ones it shows its host.
extern "C" __attribute__((visibility("default"))) const ToolServices* HostToolServices() {
  return quorvex_module::Services();
}
