#pragma once
#include <map>
#include <string>
#include <vector>

// The channels the tool reads, by role, and the names renderers give them.
namespace channel_names {

// Roles: "R", "G", "B", "A", "Z", "VectX", "VectY".
const std::vector<std::string>& Roles();

// Exact names recognised for a role, in order of preference.
const std::vector<std::string>& KnownNames(const std::string& role);

// "--channels Z=depth.Z,VectX=forward.u": role -> channel name.
std::map<std::string, std::string> ParseMap(const std::string& text);

// "--channels" with per-file mappings: items before any qualifier apply to
// every file (key ""); "depth:Z=depth.R" applies to the depth file, and so do
// the unqualified items after it until the next qualifier
// ("motion:VectX=mv.r,VectY=mv.g"). Files: input, motion, depth.
std::map<std::string, std::map<std::string, std::string>> ParseFileMaps(const std::string& text);
// The mapping one file gets: the unqualified items, then its own over them.
std::map<std::string, std::string> MapFor(const std::map<std::string, std::map<std::string, std::string>>& maps,
                                          const std::string& file);

// The channel that plays `role` among `names`: the mapped name if given,
// else the first known name, else a layer-prefixed known name
// ("ViewLayer.Depth.Z"). Empty when none is there.
std::string Find(const std::vector<std::string>& names, const std::string& role,
                 const std::map<std::string, std::string>& mapped);

}  // namespace channel_names
