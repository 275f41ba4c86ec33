#include "studio/out_names.h"

#include <filesystem>

#include "studio/client_error.h"

namespace fs = std::filesystem;

namespace {

[[noreturn]] void Refuse(const std::string& name, const std::string& why) {
  throw ClientError(400, "the name \"" + name + "\" " + why + "; give a file name inside the output folder");
}

// True when `inner` is `outer` or lies below it (both made canonical).
bool Inside(const fs::path& outer, const fs::path& inner) {
  auto o = outer.begin(), i = inner.begin();
  for (; o != outer.end(); ++o, ++i)
    if (i == inner.end() || *o != *i) return false;
  return true;
}

}  // namespace

std::string PathInsideFolder(const std::string& folder, const std::string& name) {
  if (name.empty()) Refuse(name, "is empty");
  for (char c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) Refuse(name, "holds a control character");
  const fs::path rel(name);
  if (rel.is_absolute() || rel.has_root_name() || rel.has_root_directory()) Refuse(name, "is absolute");
  for (const fs::path& part : rel)
    if (part == "..") Refuse(name, "leaves the output folder");
  if (rel.filename().empty() || rel.filename() == ".") Refuse(name, "names a folder, not a file");
  std::error_code ec;
  const fs::path root = fs::weakly_canonical(fs::absolute(folder), ec);
  if (ec) throw ClientError(500, "the output folder " + folder + " cannot be resolved: " + ec.message());
  // Links inside the folder are followed: the file must still land inside.
  const fs::path full = fs::weakly_canonical(root / rel, ec);
  if (ec || !Inside(root, full) || full == root) Refuse(name, "leaves the output folder");
  return full.string();
}
