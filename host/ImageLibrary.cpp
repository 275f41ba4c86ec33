#include "host/ImageLibrary.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <stdexcept>

namespace {

std::atomic<const ImageLibraryTable*> g_table{nullptr};
std::mutex g_loading;

// The module sits beside the host library, wherever that was installed.
std::string ModulePath() {
  if (const char* env = std::getenv(QUORVEX_IMAGE_LIBRARY_ENV); env && *env) return env;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ModulePath), &info) && info.dli_fname) {
    std::string self = info.dli_fname;
    const size_t slash = self.rfind('/');
    if (slash != std::string::npos) return self.substr(0, slash + 1) + QUORVEX_IMAGE_LIBRARY_FILE;
  }
  return QUORVEX_IMAGE_LIBRARY_FILE;
}

}  // namespace

const ImageLibraryTable& ImageLibrary() {
  if (const ImageLibraryTable* t = g_table.load(std::memory_order_acquire)) return *t;
  std::lock_guard<std::mutex> lock(g_loading);
  if (const ImageLibraryTable* t = g_table.load()) return *t;
  const std::string path = ModulePath();
  // Kept loaded for the life of the process: its functions may be in use on
  // any thread until the end.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* err = dlerror();
    throw std::runtime_error("cannot load the image-library module " + path + " (needed for formats other than "
                             "OpenEXR, previews and \"BlurImage\"): " + (err ? err : "unknown error"));
  }
  using TableFn = const ImageLibraryTable* (*)();
  auto fn = reinterpret_cast<TableFn>(dlsym(handle, QUORVEX_IMAGE_LIBRARY_SYMBOL));
  const ImageLibraryTable* table = fn ? fn() : nullptr;
  if (!table || table->version != kImageLibraryVersion) {
    dlclose(handle);
    throw std::runtime_error("image-library module " + path + " is not one of this build (version mismatch)");
  }
  g_table.store(table, std::memory_order_release);
  return *table;
}

bool ImageLibraryLoaded() { return g_table.load() != nullptr; }
