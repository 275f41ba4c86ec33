#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "image/tessaly_image.h"

using tessaly_image::color_rgba_f;
using tessaly_image::image;

TEST(TessalyImage, RowsArePaddedTo16BytesAndEveryRowStartsOnThem) {
  image<float> f;
  image<color_rgba_f> c;
  const int widths[] = {0, 1, 4, 5};
  const int float_stride[] = {0, 16, 16, 32};
  const int color_stride[] = {0, 16, 64, 80};
  for (int i = 0; i < 4; ++i) {
    f.resize(widths[i], 3);
    c.resize(widths[i], 3);
    EXPECT_EQ(f.row_stride, float_stride[i]) << widths[i];
    EXPECT_EQ(c.row_stride, color_stride[i]) << widths[i];
  }
  EXPECT_EQ(f.pixel_bytes, 4);
  EXPECT_EQ(c.pixel_bytes, 16);
  f.resize(5, 7);
  f.add_channel("Norm");
  for (int y = 0; y < 7; ++y) EXPECT_EQ(reinterpret_cast<uintptr_t>(f.channel_row("Norm", y)) % 16, 0u) << y;
}

TEST(TessalyImage, ChannelsStartAtZeroResizeKeepsOrReallocatesAndClearKeepsTheSize) {
  image<color_rgba_f> c;
  c.resize(3, 2);
  c.add_channel("OutRGBA");
  color_rgba_f* row1 = c.channel_row("OutRGBA", 1);
  EXPECT_EQ(row1[2].a, 0.0f);
  row1[2] = {1, 2, 3, 4};
  c.resize(3, 2);
  EXPECT_EQ(c.channel_row("OutRGBA", 1)[2].b, 3.0f) << "same size keeps the contents";
  c.resize(3, 3);
  EXPECT_EQ(c.height, 3);
  EXPECT_EQ(c.channels.size(), 1u) << "the channel stays, reallocated";
  c.add_channel("OutRGBA");
  EXPECT_EQ(c.channel_row("OutRGBA", 2)[2].r, 0.0f);
  c.clear();
  EXPECT_TRUE(c.channels.empty());
  EXPECT_EQ(c.width, 3);
  c.add_channel("OutRGBA");
  EXPECT_EQ(c.channel_row("OutRGBA", 2)[2].g, 0.0f);
}

TEST(TessalyImage, AFailedAllocationRaisesOnEveryLaterRow) {
  image<color_rgba_f> c;
  // 20000 x 20000 colour pixels need 6.4 GB: beyond 32-bit offsets.
  c.resize(20000, 20000);
  const std::string msg = "Image: Failed to allocate memory for channel OutRGBA\n";
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      c.channel_row("OutRGBA", 0);
      FAIL() << "an image too large for 32-bit offsets must be rejected";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), msg);
    }
  }
  EXPECT_THROW(c.add_channel("OutRGBA"), std::runtime_error);
  c.resize(2, 2);
  EXPECT_NO_THROW(c.add_channel("OutRGBA")) << "a resize to a new size reallocates";
  // Widths whose stride overflows are refused too.
  image<color_rgba_f> wide;
  wide.resize(std::numeric_limits<int32_t>::max() / 8, 1);
  EXPECT_THROW(wide.channel_row("OutRGBA", 0), std::runtime_error);
}
