#include "app/plugin_loader.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/usage_error.h"

namespace fs = std::filesystem;

namespace {

// Reads [offset, offset + size) of the file; false when it lies outside it.
bool ReadAt(int fd, uint64_t file_size, uint64_t offset, void* out, uint64_t size) {
  if (size > file_size || offset > file_size - size) return false;
  return ::pread(fd, out, size, off_t(offset)) == ssize_t(size);
}

// Looks for a defined, global symbol `name` in the dynamic symbol table.
std::string CheckElf(int fd, uint64_t file_size, const char* name) {
  Elf64_Ehdr eh;
  if (!ReadAt(fd, file_size, 0, &eh, sizeof eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0)
    return "not an ELF file";
  if (eh.e_ident[EI_CLASS] != ELFCLASS64 || eh.e_machine != EM_X86_64) return "an ELF file for another machine";
  if (eh.e_type != ET_DYN) return "not a shared object";
  if (eh.e_shentsize != sizeof(Elf64_Shdr) || eh.e_shnum == 0 || eh.e_shnum > 65000) return "no section table";
  std::vector<Elf64_Shdr> sections(eh.e_shnum);
  if (!ReadAt(fd, file_size, eh.e_shoff, sections.data(), sections.size() * sizeof(Elf64_Shdr)))
    return "its section table lies outside the file";
  const size_t want = std::strlen(name);
  for (const Elf64_Shdr& s : sections) {
    if (s.sh_type != SHT_DYNSYM || s.sh_link >= sections.size() || s.sh_entsize != sizeof(Elf64_Sym)) continue;
    const Elf64_Shdr& strtab = sections[s.sh_link];
    std::vector<Elf64_Sym> syms(s.sh_size / sizeof(Elf64_Sym));
    std::vector<char> names(strtab.sh_size);
    if (!ReadAt(fd, file_size, s.sh_offset, syms.data(), syms.size() * sizeof(Elf64_Sym)) ||
        !ReadAt(fd, file_size, strtab.sh_offset, names.data(), names.size()))
      return "its symbol table lies outside the file";
    for (const Elf64_Sym& sym : syms) {
      if (sym.st_shndx == SHN_UNDEF || ELF64_ST_BIND(sym.st_info) == STB_LOCAL) continue;
      if (sym.st_name + want < names.size() && std::memcmp(&names[sym.st_name], name, want + 1) == 0) return "";
    }
  }
  return std::string("it does not export ") + name;
}

}  // namespace

std::string WhyNotAModule(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  std::string why = CheckElf(fd, uint64_t(st.st_size), HOST_MODULE_RESOURCE_SYMBOL);
  ::close(fd);
  return why;
}

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
  const bool folder = fs::is_directory(where, ec);
  if (folder) {
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
    const std::string why = WhyNotAModule(abs);
    try {
      if (!why.empty()) throw UsageError(f + " is not a Quorvex plug-in module: " + why);
      modules.push_back(PluginModule::Load(abs));
    } catch (const std::exception& e) {
      if (!folder) throw UsageError(e.what());
      std::fprintf(stderr, "quorvex-render: warning: %s; skipped\n", e.what());
    }
  }
  if (modules.empty()) throw UsageError("no plug-in module loaded from " + where);
  return modules;
}
