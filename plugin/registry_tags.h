#pragma once
#include <cstdint>
#include <vector>

#include "host/Registry.h"

struct ToolServices;

namespace quorvex_module {

constexpr int kBitmapResourceID = 101;

// "Built: Mmm dd yyyy", the compiler's date of this build.
const char* BuildText();
// The class record's tags, in the host's order.
TagList RegistryTags(const void* factory, const ScriptInfo* script_info);
// The module's bitmap resource: a 160 x 120, 24-bit uncompressed BMP.
const std::vector<uint8_t>& LogoBitmap();
// The engine services the module hands its hosts (host/ToolServices.h).
const ToolServices* Services();

}  // namespace quorvex_module
