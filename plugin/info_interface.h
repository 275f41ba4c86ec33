#pragma once
#include "host/Operator.h"

// The Info page: who made the tool and where its documentation lives.
class info_interface {
 public:
  void CreateInfoControls(Operator* op);
};
