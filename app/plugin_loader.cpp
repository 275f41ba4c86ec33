#include "app/plugin_loader.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "app/usage_error.h"

namespace fs = std::filesystem;

std::string InstalledPluginFolder() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return "";
  return (exe.parent_path().parent_path() / "lib" / "quorvex").string();
}

std::vector<std::unique_ptr<PluginModule>> LoadPlugins(const std::string& plugin_path) {
  const std::string where = plugin_path.empty() ? InstalledPluginFolder() : plugin_path;
  std::vector<std::string> files;
  std::error_code ec;
  if (fs::is_directory(where, ec)) {
    for (auto& e : fs::directory_iterator(where, ec))
      if (e.path().extension() == ".so") files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
  } else if (fs::is_regular_file(where, ec)) {
    files.push_back(where);
  } else {
    throw UsageError("no plug-in found at " + where + (plugin_path.empty() ? " (the install location)" : ""));
  }
  if (files.empty()) throw UsageError("no plug-in module (*.so) in " + where);
  std::vector<std::unique_ptr<PluginModule>> modules;
  for (const std::string& f : files) {
    // An absolute path keeps dlopen from searching anywhere else.
    const std::string abs = fs::absolute(f).string();
    try {
      modules.push_back(PluginModule::Load(abs));
    } catch (const std::exception& e) {
      throw UsageError(e.what());
    }
  }
  return modules;
}
