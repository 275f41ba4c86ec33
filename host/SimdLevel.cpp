#include "host/SimdLevel.h"

#include <hwy/highway.h>

#include <cstdlib>
#include <mutex>
#include <stdexcept>

namespace {

struct Level {
  const char* name;
  int64_t target;
};

// Best first. AVX3 is Highway's AVX-512 (F, VL, DQ, BW) target.
constexpr Level kLevels[] = {
#if HWY_ARCH_X86
    {"avx512", HWY_AVX3}, {"avx2", HWY_AVX2}, {"sse4", HWY_SSE4}, {"ssse3", HWY_SSSE3},
#elif HWY_ARCH_ARM
    {"sve2", HWY_SVE2}, {"sve", HWY_SVE}, {"neon", HWY_NEON},
#endif
    // Highway's one-lane target, or with compilers that can (clang, GCC
    // 12.3 on) its portable 128-bit one in its place.
    {"scalar", HWY_SCALAR | HWY_EMU128},
};

// What the machine runs among the targets this build compiles.
int64_t MachineTargets() {
  static const int64_t targets = [] {
    hwy::SetSupportedTargetsForTest(0);
    return hwy::SupportedTargets() & HWY_TARGETS;
  }();
  return targets;
}

std::string Choices() {
  std::string s = "best";
  for (const std::string& n : AvailableSimdLevels()) s += ", " + n;
  return s;
}

}  // namespace

std::vector<std::string> AvailableSimdLevels() {
  std::vector<std::string> names;
  const int64_t have = MachineTargets();
  for (const Level& l : kLevels)
    if (have & l.target) names.push_back(l.name);
  return names;
}

void SetSimdLevel(const std::string& name) {
  const int64_t have = MachineTargets();
  if (name == "best") {
    hwy::SetSupportedTargetsForTest(0);
    return;
  }
  for (size_t i = 0; i < sizeof kLevels / sizeof kLevels[0]; ++i) {
    if (name != kLevels[i].name) continue;
    if (!(have & kLevels[i].target))
      throw std::runtime_error("QUORVEX_SIMD=" + name + ": this processor does not run that level (it runs " +
                               Choices() + ")");
    // This level and every lower one the machine has.
    int64_t mask = 0;
    for (size_t j = i; j < sizeof kLevels / sizeof kLevels[0]; ++j) mask |= kLevels[j].target & have;
    hwy::SetSupportedTargetsForTest(mask);
    return;
  }
  throw std::runtime_error("QUORVEX_SIMD=" + name + ": unknown level (choose " + Choices() + ")");
}

void ApplySimdSwitch() {
  static std::once_flag once;
  std::call_once(once, [] {
    const char* v = std::getenv("QUORVEX_SIMD");
    SetSimdLevel(v && *v ? v : "best");
  });
}

std::string ActiveSimdLevel() {
  const int64_t chosen = hwy::SupportedTargets() & HWY_TARGETS;
  for (const Level& l : kLevels)
    if (chosen & l.target) return l.name;
  return "scalar";
}
