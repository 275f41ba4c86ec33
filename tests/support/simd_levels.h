#pragma once
// Tests that run once per instruction-set level this machine has.
#include <gtest/gtest.h>

#include <string>

#include "host/SimdLevel.h"

namespace testing_support {

class AtEveryLevel : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { SetSimdLevel(GetParam()); }
  void TearDown() override { SetSimdLevel("best"); }
};

inline auto EveryLevel() { return ::testing::ValuesIn(AvailableSimdLevels()); }
inline std::string LevelName(const ::testing::TestParamInfo<std::string>& i) { return i.param; }

}  // namespace testing_support

#define QUORVEX_AT_EVERY_LEVEL(Suite) \
  INSTANTIATE_TEST_SUITE_P(Levels, Suite, testing_support::EveryLevel(), testing_support::LevelName)
