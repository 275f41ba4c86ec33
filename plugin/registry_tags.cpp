#include "plugin/registry_tags.h"

#include <cmath>
#include <cstring>

namespace quorvex_module {

const char* BuildText() {
  static const char text[] = "Built: " __DATE__;
  return text;
}

TagList RegistryTags(const void* factory, const ScriptInfo* script_info) {
  return TagList{
      {REG_RegInit, reinterpret_cast<const void*>(&Operator::RegInit)},
      {REG_RegCleanup, reinterpret_cast<const void*>(&Operator::RegCleanup)},
      {REG_ClassKind, 3},
      {REG_BuildText, BuildText()},
      {REG_BaseClassID, static_cast<const void*>(&ThreadedOperator::ClassID)},
      {REG_ScriptInfo, static_cast<const void*>(script_info)},
      {REG_Factory, factory},
      {REG_Name, "Quorvex"},
      {REG_ResourceID, kBitmapResourceID},
      {REG_Category, "Lumora"},
      {REG_ShortName, "Qrvx"},
      {REG_Help, "Simulates depth of field and motion blurring"},
      {REG_About, "Tessaly Software Plugin. Please visit our website for more quality plugins."},
      {REG_Company, "Tessaly Software"},
      {REG_IconID, kBitmapResourceID},
      {REG_HelpURL, "https://tessaly.software/docs/quorvex"},
  };
}

namespace {
void Put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
  Put16(b, v & 0xffff);
  Put16(b, v >> 16);
}

std::vector<uint8_t> MakeLogo() {
  const int w = 160, h = 120, row = w * 3;  // 480 bytes: already a multiple of 4
  std::vector<uint8_t> b;
  b.reserve(54 + row * h);
  b.push_back('B');
  b.push_back('M');
  Put32(b, 54 + row * h);
  Put32(b, 0);
  Put32(b, 54);
  Put32(b, 40);
  Put32(b, w);
  Put32(b, h);
  Put16(b, 1);
  Put16(b, 24);
  Put32(b, 0);  // uncompressed
  Put32(b, row * h);
  Put32(b, 2835);
  Put32(b, 2835);
  Put32(b, 0);
  Put32(b, 0);
  // A soft disk beside a streak on a dark ground: the two blurs of the tool.
  for (int y = h - 1; y >= 0; --y)
    for (int x = 0; x < w; ++x) {
      double d = std::hypot(x - 52.0, y - 60.0);
      double disk = d < 26 ? 1.0 : d < 34 ? (34 - d) / 8 : 0.0;
      double streak = (std::abs(y - 60) < 6 && x > 90 && x < 150) ? (x - 90) / 60.0 : 0.0;
      double v = std::min(1.0, disk + streak);
      b.push_back(uint8_t(40 + 200 * v));   // blue
      b.push_back(uint8_t(24 + 150 * v));   // green
      b.push_back(uint8_t(20 + 80 * v));    // red
    }
  return b;
}
}  // namespace

const std::vector<uint8_t>& LogoBitmap() {
  static const std::vector<uint8_t> bmp = MakeLogo();
  return bmp;
}

}  // namespace quorvex_module
