#include <gtest/gtest.h>

#include "host/Parameter.h"
#include "host/TagList.h"

TEST(TagList, ReadsEachKindAndFallsBackToTheDefault) {
  int anchor = 0;
  TagList t{{0x10000001, 7}, {0x20000001, 2.5}, {0x30000001, "text"}, {0x60000001, static_cast<const void*>(&anchor)}};
  EXPECT_EQ(t.GetLong(0x10000001, -1), 7);
  EXPECT_EQ(t.GetLong(0x10000099, -1), -1);
  EXPECT_DOUBLE_EQ(t.GetDouble(0x20000001, 0), 2.5);
  EXPECT_EQ(t.GetString(0x30000001, ""), "text");
  EXPECT_EQ(t.GetPtr(0x60000001, nullptr), &anchor);
  EXPECT_EQ(t.GetString(0x10000001, "none"), "none") << "an integer tag has no text";
}

TEST(TagList, RepeatedTagsKeepTheirOrderAndDoneEndsNothingStored) {
  TagList t{{MBC_AddButton, "a"}, {MBC_AddButton, "b"}, {TAG_DONE, 0}, {MBC_AddButton, "c"}};
  EXPECT_EQ(t.GetStrings(MBC_AddButton), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(t.size(), 3u);
}

TEST(RefObject, GivingBackTheLastReferenceFreesTheObjectAndAutoNumberGivesItsBack) {
  const int64_t before = RefObject::LiveObjects();
  Number* n = new Number(3);
  n->Use();
  EXPECT_EQ(RefObject::LiveObjects(), before + 1);
  n->Recycle();
  EXPECT_EQ(RefObject::LiveObjects(), before + 1) << "one reference is still out";
  n->Recycle();
  EXPECT_EQ(RefObject::LiveObjects(), before);
  {
    AutoNumber a(4.5);
    EXPECT_DOUBLE_EQ(a->Value, 4.5);
    EXPECT_EQ(RefObject::LiveObjects(), before + 1);
  }
  EXPECT_EQ(RefObject::LiveObjects(), before);
}
