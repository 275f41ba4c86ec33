#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class Registry;
struct ToolServices;

// Name of the function a module exports to hand out its resources.
#define HOST_MODULE_RESOURCE_SYMBOL "HostModuleResource"
// int HostModuleResource(int id, const void** data, size_t* size): 1 if found.
using ModuleResourceFn = int (*)(int, const void**, size_t*);

// A plug-in module loaded with dlopen. Loading runs the module's static
// initialisation, which registers its classes; unloading removes them.
class PluginModule {
 public:
  // Throws std::runtime_error with a clear message when the file cannot be
  // loaded or registers no class.
  static std::unique_ptr<PluginModule> Load(const std::string& path);
  ~PluginModule();

  const std::string& Path() const { return path_; }
  const std::vector<Registry*>& Classes() const { return classes_; }
  // A resource the module carries, by identifier; empty when it has none.
  std::vector<uint8_t> Resource(int id) const;
  // The module's engine services; null when it offers none (or an older table).
  const ToolServices* Services() const;

 private:
  PluginModule() = default;
  std::string path_;
  void* handle_ = nullptr;
  std::vector<Registry*> classes_;
};
