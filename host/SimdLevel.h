#pragma once
// The instruction-set level the engine's vector code runs at. A process
// chooses it once, before any module loads, from the QUORVEX_SIMD
// environment variable ("best" when unset): the level caps what the
// machine offers, so every host obeys the same switch. A level changes only
// speed, never a result's route.
#include <string>
#include <vector>

// Applies QUORVEX_SIMD (once per process; later calls return at once).
// Throws std::runtime_error naming the value and the levels this machine
// has when it is unknown or unavailable here.
void ApplySimdSwitch();

// Caps the level at `name` ("best", "avx512", "avx2", "sse4", "ssse3",
// "scalar"; "neon", "sve" on ARM). Throws as above. For tests and hosts
// that set the level themselves.
void SetSimdLevel(const std::string& name);

// The level in use, by its switch name ("avx512", "avx2", ...).
std::string ActiveSimdLevel();

// Every level this machine runs, best first (switch names).
std::vector<std::string> AvailableSimdLevels();
