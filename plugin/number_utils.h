#pragma once
#include <cmath>
#include <cstdint>
#include <limits>

#include "dof/truncate.h"
#include "host/Parameter.h"

// The numeric value of a control's parameter (0 for anything but a Number).
inline double ParamValue(const Parameter* p) {
  auto n = dynamic_cast<const Number*>(p);
  return n ? n->Value : 0.0;
}

