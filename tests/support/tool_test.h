#pragma once
// Tests of one tool of their own: the tool and its console, pixels written
// out in full, and images given back when they go out of scope.
#include <gtest/gtest.h>

#include <memory>

#include "tests/support/tool_fixture.h"

namespace testing_support {

struct Recycler {
  void operator()(Image* img) const {
    if (img) img->Recycle();
  }
};
using Held = std::unique_ptr<Image, Recycler>;

inline FltPixel Px(float r, float g, float b, float a, float z = 0, float vx = 0, float vy = 0) {
  FltPixel p;
  p.R = r, p.G = g, p.B = b, p.A = a, p.Z = z, p.VectX = vx, p.VectY = vy;
  return p;
}

class ToolTest : public ::testing::Test {
 protected:
  ~ToolTest() override {
    if (q) q->Recycle();
  }
  const int64_t live_before = RefObject::LiveObjects();  // before the tool was made
  ToolFactory f;
  Console c;
  Quorvex* q = f.Create(&c.doc);
};

}  // namespace testing_support
