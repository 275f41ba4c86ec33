#include "python/src/plugin_search.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>

#include "app/plugin_loader.h"
#include "python/src/errors.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::unique_ptr<PluginModule>>* g_modules = nullptr;  // never unloaded (see header)
std::mutex g_mutex;

// Folder of this extension file.
fs::path ExtensionFolder() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&EnsurePluginsLoaded), &info) || !info.dli_fname) return {};
  return fs::path(info.dli_fname).parent_path();
}

std::vector<std::string> Candidates() {
  std::vector<std::string> out;
  if (const char* env = std::getenv("QUORVEX_PLUGIN_PATH"); env && *env) return {env};
  const fs::path here = ExtensionFolder();
  if (here.empty()) return out;
  // Build tree: <build>/python/quorvex/_quorvex.so beside <build>/lib/quorvex.
  out.push_back((here.parent_path().parent_path() / "lib" / "quorvex").string());
  // Installed: <prefix>/lib/python3.N/dist-packages/quorvex beside <prefix>/lib/quorvex.
  out.push_back((here.parent_path().parent_path().parent_path() / "quorvex").string());
  return out;
}

}  // namespace

void EnsurePluginsLoaded() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_modules) return;
  const std::vector<std::string> places = Candidates();
  const bool from_env = places.size() == 1 && std::getenv("QUORVEX_PLUGIN_PATH");
  std::string looked;
  for (const std::string& place : places) {
    std::error_code ec;
    if (!from_env && !fs::is_directory(place, ec)) {
      looked += (looked.empty() ? "" : ", ") + place;
      continue;
    }
    try {
      auto loaded = LoadPlugins(place);
      g_modules = new std::vector<std::unique_ptr<PluginModule>>(std::move(loaded));
      return;
    } catch (const std::exception& e) {
      if (from_env) throw QuorvexError(std::string("QUORVEX_PLUGIN_PATH: ") + e.what());
      looked += (looked.empty() ? "" : ", ") + place + " (" + e.what() + ")";
    }
  }
  throw QuorvexError("no Quorvex plug-in module found; looked in " + looked +
                     ". Set QUORVEX_PLUGIN_PATH to the module file or its folder");
}

std::vector<std::string> LoadedPluginFiles() {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::vector<std::string> files;
  if (g_modules)
    for (auto& m : *g_modules) files.push_back(m->Path());
  return files;
}
