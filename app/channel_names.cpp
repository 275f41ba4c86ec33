#include "app/channel_names.h"

#include <algorithm>
#include <sstream>

#include "app/usage_error.h"

namespace channel_names {

const std::vector<std::string>& Roles() {
  static const std::vector<std::string> roles{"R", "G", "B", "A", "Z", "VectX", "VectY"};
  return roles;
}

const std::vector<std::string>& KnownNames(const std::string& role) {
  static const std::map<std::string, std::vector<std::string>> table{
      {"R", {"R", "r", "red", "Red", "Combined.R", "rgba.R", "beauty.R", "Y"}},
      {"G", {"G", "g", "green", "Green", "Combined.G", "rgba.G", "beauty.G", "Y"}},
      {"B", {"B", "b", "blue", "Blue", "Combined.B", "rgba.B", "beauty.B", "Y"}},
      {"A", {"A", "a", "alpha", "Alpha", "Combined.A", "rgba.A", "beauty.A"}},
      {"Z", {"Z", "depth.Z", "Depth.Z", "depth", "Depth", "Z.Z", "zdepth", "ZDepth"}},
      {"VectX", {"VectX", "forward.u", "motion.x", "motion.X", "velocity.x", "velocity.X", "Motion.x", "Velocity.x"}},
      {"VectY", {"VectY", "forward.v", "motion.y", "motion.Y", "velocity.y", "velocity.Y", "Motion.y", "Velocity.y"}},
  };
  static const std::vector<std::string> none;
  auto it = table.find(role);
  return it == table.end() ? none : it->second;
}

std::map<std::string, std::string> ParseMap(const std::string& text) {
  std::map<std::string, std::string> out;
  std::stringstream ss(text);
  std::string item;
  while (std::getline(ss, item, ',')) {
    const size_t eq = item.find('=');
    const std::string role = item.substr(0, eq);
    if (eq == std::string::npos || eq + 1 == item.size())
      throw UsageError("--channels \"" + item + "\": expected ROLE=CHANNEL, e.g. Z=depth.Z");
    const auto& roles = Roles();
    if (std::find(roles.begin(), roles.end(), role) == roles.end())
      throw UsageError("--channels: unknown role \"" + role + "\"; roles are R, G, B, A, Z, VectX and VectY");
    out[role] = item.substr(eq + 1);
  }
  if (out.empty()) throw UsageError("--channels: no mapping given");
  return out;
}

std::map<std::string, std::map<std::string, std::string>> ParseFileMaps(const std::string& text) {
  std::map<std::string, std::map<std::string, std::string>> out;
  std::stringstream ss(text);
  std::string item, file;
  while (std::getline(ss, item, ',')) {
    const size_t colon = item.find(':'), eq = item.find('=');
    if (colon != std::string::npos && (eq == std::string::npos || colon < eq)) {
      file = item.substr(0, colon);
      if (file != "input" && file != "motion" && file != "depth")
        throw UsageError("--channels: unknown file \"" + file + "\" in \"" + item +
                         "\"; files are input, motion and depth (e.g. depth:Z=depth.R)");
      item = item.substr(colon + 1);
    }
    for (auto& [role, name] : ParseMap(item)) out[file][role] = name;
  }
  if (out.empty()) throw UsageError("--channels: no mapping given");
  return out;
}

std::map<std::string, std::string> MapFor(const std::map<std::string, std::map<std::string, std::string>>& maps,
                                          const std::string& file) {
  std::map<std::string, std::string> m;
  if (auto all = maps.find(""); all != maps.end()) m = all->second;
  if (auto own = maps.find(file); own != maps.end())
    for (auto& [role, name] : own->second) m[role] = name;
  return m;
}

std::string Find(const std::vector<std::string>& names, const std::string& role,
                 const std::map<std::string, std::string>& mapped) {
  auto has = [&](const std::string& n) { return std::find(names.begin(), names.end(), n) != names.end(); };
  auto m = mapped.find(role);
  if (m != mapped.end()) return has(m->second) ? m->second : std::string();
  for (const std::string& known : KnownNames(role))
    if (has(known)) return known;
  // Layer-prefixed: "ViewLayer.Depth.Z" ends with ".Depth.Z". Single-letter
  // colour names only count inside a colour layer ("ViewLayer.Combined.R").
  for (const std::string& known : KnownNames(role)) {
    if (known.find('.') == std::string::npos && known.size() < 3) continue;
    for (const std::string& n : names)
      if (n.size() > known.size() && n.compare(n.size() - known.size(), known.size(), known) == 0 &&
          n[n.size() - known.size() - 1] == '.')
        return n;
  }
  return std::string();
}

}  // namespace channel_names
