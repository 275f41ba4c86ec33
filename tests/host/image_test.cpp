#include <gtest/gtest.h>

#include "host/Image.h"
#include "tests/support/tool_fixture.h"

TEST(HostImage, RowIteratorWalksARowFromTheTop) {
  Image* img = testing_support::MakeImage(3, 2, [](int x, int y) { return FltPixel{float(x), float(y), 0, 0}; });
  RowIterator it(img);
  it.GotoXY(1, 1);
  FltPixel p;
  it.GetNextPixel(p);
  EXPECT_EQ(p.R, 1);
  EXPECT_EQ(p.G, 1);
  it.GetNextPixel(p);
  EXPECT_EQ(p.R, 2);
  img->Recycle();
}

TEST(HostImage, ChannelsAbsentReadAsZeroAndIgnoreWrites) {
  Image* img = new Image(2, 2);
  FltPixel p;
  p.Z = 5;
  p.R = 1;
  img->SetPixel(0, 0, p);
  FltPixel q;
  img->GetPixel(0, 0, q);
  EXPECT_EQ(q.R, 1);
  EXPECT_EQ(q.Z, 0);
  EXPECT_EQ(img->Plane(CHAN_Z), nullptr);
  img->Recycle();
}

TEST(HostImage, NewImageTakesTheReferenceFormatAndAddsChannels) {
  Image* like = new Image(5, 4);
  like->Attrs.Add({IMG_ResolutionDivisor, 2});
  like->Extra.push_back({"layout.R", LargeVector<float>(20, 0.25f)});
  Image* img = NewImage({{IMG_Like, static_cast<const void*>(like)}, {IMG_Channel, CHAN_Z}, {IMG_Channel, CHAN_VECTX},
                         {IMG_Channel, CHAN_VECTY}});
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->Width, 5);
  EXPECT_EQ(img->Height, 4);
  EXPECT_TRUE(img->HasChannel(CHAN_Z) && img->HasChannel(CHAN_VECTX) && img->HasChannel(CHAN_VECTY));
  EXPECT_EQ(img->Attrs.GetLong(IMG_ResolutionDivisor, 1), 2);
  ASSERT_EQ(img->Extra.size(), 1u) << "extra channels pass through";
  Image* small = NewImage({{IMG_Like, static_cast<const void*>(like)}, {IMG_Width, 3}, {IMG_Height, 3}});
  EXPECT_EQ(small->Width, 3);
  EXPECT_TRUE(small->Extra.empty()) << "another size carries no extra planes";
  EXPECT_EQ(NewImage({{IMG_Width, -1}, {IMG_Height, 2}}), nullptr);
  for (Image* i : {like, img, small}) i->Recycle();
}

TEST(HostImage, ResizeOfImageResamplesToTheAskedSize) {
  Image* img = testing_support::Flat(6, 2, FltPixel{1, 0, 0, 1}, false, false);
  Image* r = img->ResizeOfImage({{RSZ_Width, 3}, {RSZ_Height, 5}, {RSZ_Filter, 7}});
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Width, 3);
  EXPECT_EQ(r->Height, 5);
  FltPixel p;
  r->GetPixel(1, 2, p);
  EXPECT_NEAR(p.R, 1.0f, 1e-5) << "a flat image stays flat";
  img->Recycle();
  r->Recycle();
}
