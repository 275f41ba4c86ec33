#include <gtest/gtest.h>

#include "host/Operator.h"

namespace {
// A tool that records its notifications.
struct Recorder : Operator {
  Recorder() : Operator(nullptr, ScriptVal{}, {}) {}
  void NotifyChanged(Input* in, Parameter* p, TimeStamp t, TagList*) override {
    seen.emplace_back(in->ID, static_cast<Number*>(p)->Value);
    (void)t;
    if (in->ID == "a") FindInput("b")->SetSource(p, t);  // a value set by the tool itself
  }
  std::vector<std::pair<std::string, double>> seen;
};
}  // namespace

TEST(Input, KeyframesInterpolateLinearlyAndHoldAtTheEnds) {
  Recorder op;
  Input* in = op.AddInput("F", "f", {{INP_DataType, "Number"}});
  in->EditKeys({{1.0, 10.0}, {3.0, 30.0}});
  EXPECT_DOUBLE_EQ(in->ValueAt(0.0), 10.0);
  EXPECT_DOUBLE_EQ(in->ValueAt(2.0), 20.0);
  EXPECT_DOUBLE_EQ(in->ValueAt(2.5), 25.0);
  EXPECT_DOUBLE_EQ(in->ValueAt(9.0), 30.0);
  Request req(&op, 2.0);
  EXPECT_DOUBLE_EQ(static_cast<Number*>(in->GetValue(&req))->Value, 20.0);
}

TEST(Input, EditsNotifyOncePerChangeAndValuesSetByTheToolDoNot) {
  Recorder op;
  Input* a = op.AddInput("A", "a", {{INP_DataType, "Number"}, {INP_Notify, 1}});
  Input* b = op.AddInput("B", "b", {{INP_DataType, "Number"}, {INP_Notify, 1}});
  EXPECT_TRUE(a->Edit(2.0));
  EXPECT_FALSE(a->Edit(2.0)) << "no notification for a value that did not change";
  EXPECT_DOUBLE_EQ(b->ValueAt(0), 2.0);
  ASSERT_EQ(op.seen.size(), 1u) << "the tool's own set-value raised nothing";
  EXPECT_EQ(op.seen[0].first, "a");
}

TEST(Input, GetSourceHandsOutAReferenceTheCallerGivesBack) {
  Recorder op;
  Input* in = op.AddInput("A", "a", {{INP_DataType, "Number"}, {INP_Default, 4.0}});
  const int64_t before = RefObject::LiveObjects();
  Parameter* p = in->GetSource(0);
  EXPECT_DOUBLE_EQ(static_cast<Number*>(p)->Value, 4.0);
  p->Recycle();
  EXPECT_EQ(RefObject::LiveObjects(), before);
}
