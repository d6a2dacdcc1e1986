#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "picture/Graphics.h"

using namespace tolvane;

namespace {

void Shape(TBitmap& b, int w, int h, TPixelLayout layout) {
  b.SetPixelLayout(layout);
  b.ResizeWidth(w);
  b.ResizeHeight(h);
}

size_t RowSizeFor(int w, TPixelLayout layout) {
  TBitmap b;
  Shape(b, w, 1, layout);
  return b.RowSize();
}

// Each pixel gets a colour that encodes its position.
void Paint(TBitmap& b) {
  for (int y = 0; y < b.ImageHeight(); ++y)
    for (int x = 0; x < b.ImageWidth(); ++x) b.SetPixelColor(x, y, RGBColor(uint8_t(x), uint8_t(y), 0x80));
}

}  // namespace

TEST(Bitmap, RowsAreBottomUpWithRowZeroOnTop) {
  TBitmap b; Shape(b, 16, 8, pl24Bit);
  EXPECT_EQ(b.RowSize(), 48u);
  b.RowPointer(0)[0] = 0x11;
  b.RowPointer(7)[0] = 0x77;
  // Row 0 is the top row and lies at the highest address.
  EXPECT_EQ(b.RowPointer(0) - b.RowPointer(7), 7 * 48);
  EXPECT_EQ(b.PixelColor(0, 0), RGBColor(255, 255, 0x11));
  try {
    b.RowPointer(8);
    FAIL();
  } catch (const EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), "Scan line index out of range");
  }
  EXPECT_THROW(b.RowPointer(-1), EInvalidGraphic);
  EXPECT_EQ(RowSizeFor(3, pl1Bit), 4u);
  EXPECT_EQ(RowSizeFor(33, pl1Bit), 8u);
  EXPECT_EQ(RowSizeFor(5, pl24Bit), 16u);
}

TEST(Bitmap, NewAreasAreWhiteOrTheBrushColour) {
  TBitmap b; Shape(b, 2, 2, pl24Bit);
  EXPECT_EQ(b.PixelColor(1, 1), clWhite);
  b.SetPixelColor(0, 0, clBlack);
  b.BitmapCanvas().Brush.Color = RGBColor(10, 20, 30);
  b.ResizeWidth(3);
  b.ResizeHeight(3);
  EXPECT_EQ(b.PixelColor(0, 0), clBlack);  // old pixels stay at the top left
  EXPECT_EQ(b.PixelColor(1, 1), clWhite);
  EXPECT_EQ(b.PixelColor(2, 0), RGBColor(10, 20, 30));
  EXPECT_EQ(b.PixelColor(0, 2), RGBColor(10, 20, 30));
  // A 4-bit row narrowed to an odd width keeps the kept nibble.
  TBitmap n; Shape(n, 4, 1, pl4Bit);
  n.SetPixelColor(2, 0, RGBColor(255, 0, 0));
  n.ResizeWidth(3);
  EXPECT_EQ(n.PixelColor(2, 0), RGBColor(255, 0, 0));
}

// A picture of several rows may take its fill in one pass; its rows must be
// those of a one-row picture, which is filled pixel by pixel, padding zero.
TEST(Bitmap, NewPicturesTakeTheRowsThatOneRowWouldHave) {
  for (TPixelLayout layout : {pl1Bit, pl4Bit, pl8Bit, pl15Bit, pl16Bit, pl24Bit, pl32Bit})
    for (int width : {1, 2, 3, 4, 5, 7, 8, 16, 33, 2000})
      for (TColor colour : {clWhite, clBlack, RGBColor(10, 20, 30), RGBColor(255, 255, 254)}) {
        SCOPED_TRACE(testing::Message() << int{layout} << " " << width << " " << colour);
        TBitmap one, many;
        for (TBitmap* b : {&one, &many}) {
          b->SetPixelLayout(layout);
          b->BitmapCanvas().Brush.Color = colour;
          b->ResizeWidth(width);
        }
        one.ResizeHeight(1);
        many.ResizeHeight(3);
        const std::vector<uint8_t> row(one.RowPointer(0), one.RowPointer(0) + one.RowSize());
        for (int y = 0; y < 3; ++y)
          ASSERT_EQ(std::vector<uint8_t>(many.RowPointer(y), many.RowPointer(y) + many.RowSize()), row) << y;
      }
}

// A reader that writes rows itself may take them unfilled; the rows it has
// not written when it is done, or when it fails, are then those that
// ResizeHeight makes, padding zero, and rows that were there stay.
TEST(Bitmap, RowsLeftUnfilledEndAsNewRowsWhateverEndsTheReader) {
  for (TPixelLayout layout : {pl8Bit, pl24Bit, pl32Bit})
    for (bool brush : {false, true}) {
      SCOPED_TRACE(testing::Message() << int{layout} << " brush " << brush);
      TBitmap reader, reference;
      for (TBitmap* b : {&reader, &reference}) {
        if (brush) b->BitmapCanvas().Brush.Color = RGBColor(10, 20, 30);
        Shape(*b, 5, 2, layout);
        b->SetPixelColor(1, 1, clBlack);
      }
      reference.ResizeHeight(6);
      const size_t pixelBytes = 5 * static_cast<size_t>(BitsPerPixelOf(layout)) / 8;
      try {
        TBitmap::TUnfilledRows rows(reader, 6);
        for (TBitmap* b : {&reader, &reference}) std::fill_n(b->RowPointer(2), pixelBytes, uint8_t{0x42});
        rows.Written(3);
        throw std::runtime_error("the reader fails");
      } catch (const std::runtime_error&) {
      }
      ASSERT_EQ(reader.ImageHeight(), 6);
      for (int y = 0; y < 6; ++y)
        EXPECT_EQ(std::vector<uint8_t>(reader.RowPointer(y), reader.RowPointer(y) + reader.RowSize()),
                  std::vector<uint8_t>(reference.RowPointer(y), reference.RowPointer(y) + reference.RowSize()))
            << "row " << y;
    }
}

TEST(Bitmap, SharesImageUntilWritten) {
  TBitmap a; Shape(a, 4, 4, pl24Bit);
  TBitmap b;
  b.CopyFrom(&a);
  EXPECT_EQ(&a.Image(), &b.Image());
  b.RowPointer(0)[0] = 0;
  EXPECT_NE(&a.Image(), &b.Image());
  EXPECT_EQ(a.PixelColor(0, 0), clWhite);
  b.CopyFrom(nullptr);
  EXPECT_TRUE(b.IsBlank());
}

TEST(Bitmap, EmptyingKeepsThePaletteAndLeavesDeviceLayout) {
  TBitmap b; Shape(b, 4, 4, pl8Bit);
  HPALETTE p = b.PaletteOf();
  ASSERT_TRUE(p);
  b.ReplaceHandle(0);
  EXPECT_TRUE(b.IsBlank());
  EXPECT_EQ(b.PixelLayoutOf(), plDevice);
  EXPECT_EQ(b.PaletteOf(), p);
}

TEST(Bitmap, LayoutConversions) {
  TBitmap b; Shape(b, 4, 1, pl24Bit);
  b.SetPixelColor(0, 0, RGBColor(250, 5, 5));
  b.SetPixelColor(1, 0, RGBColor(100, 100, 100));
  b.SetPixelColor(2, 0, RGBColor(200, 200, 200));
  b.SetPixelColor(3, 0, RGBColor(0, 0, 130));
  TBitmap four;
  four.CopyFrom(&b);
  four.SetPixelLayout(pl4Bit);
  EXPECT_EQ(PaletteEntryCount(four.PaletteOf()), 16u);
  EXPECT_EQ(four.PixelColor(0, 0), RGBColor(255, 0, 0));
  EXPECT_EQ(four.PixelColor(1, 0), RGBColor(128, 128, 128));
  EXPECT_EQ(four.PixelColor(3, 0), RGBColor(0, 0, 128));
  TBitmap one;
  one.CopyFrom(&b);
  one.SetPixelLayout(pl1Bit);
  EXPECT_EQ(one.PixelColor(1, 0), clBlack);
  EXPECT_EQ(one.PixelColor(2, 0), clWhite);
  TBitmap eight;
  eight.CopyFrom(&b);
  eight.SetPixelLayout(pl8Bit);
  EXPECT_EQ(PaletteEntryCount(eight.PaletteOf()), 256u);
  EXPECT_EQ(eight.PixelColor(3, 0), RGBColor(0, 0, 128));
  TBitmap wide;
  wide.CopyFrom(&eight);
  wide.SetPixelLayout(pl16Bit);
  EXPECT_EQ(wide.PixelColor(3, 0), RGBColor(0, 0, 132));  // 5 bits replicated
  try {
    b.SetPixelLayout(plCustom);
    FAIL();
  } catch (const EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), "Invalid pixel format");
  }
  // Nearest entry, lowest index on ties: both entries are as near.
  TBitmap tie; Shape(tie, 1, 1, pl8Bit);
  tie.AssignPalette(CreatePalette({{0, 0, 0, 0}, {20, 0, 0, 0}, {20, 0, 0, 0}}));
  tie.SetPixelColor(0, 0, RGBColor(10, 0, 0));
  EXPECT_EQ(tie.ConstRowPointer(0)[0], 0);
}

TEST(Bitmap, PalettesAndIndicesPastThem) {
  TBitmap b; Shape(b, 3, 1, pl8Bit);
  b.AssignPalette(CreatePalette({{255, 0, 0, 0}}));
  b.RowPointer(0)[0] = 0;
  b.RowPointer(0)[1] = 7;
  EXPECT_EQ(b.PixelColor(0, 0), RGBColor(255, 0, 0));
  EXPECT_EQ(b.PixelColor(1, 0), clBlack);
  TBitmap mono; Shape(mono, 2, 1, pl1Bit);
  mono.AssignPalette(nullptr);
  mono.RowPointer(0)[0] = 0x40;
  EXPECT_EQ(mono.PixelColor(0, 0), clBlack);
  EXPECT_EQ(mono.PixelColor(1, 0), clWhite);
}

TEST(Bitmap, RenderPointSamplesCentres) {
  TBitmap src; Shape(src, 32, 16, pl24Bit);
  Paint(src);
  TBitmap dst; Shape(dst, 16, 8, pl24Bit);
  dst.BitmapCanvas().StretchInto(Rect(0, 0, 16, 8), &src);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x)
      ASSERT_EQ(dst.PixelColor(x, y), RGBColor(uint8_t((2 * x + 1) * 32 / 32), uint8_t((2 * y + 1) * 16 / 16), 0x80));
  // Enlarging samples floor((2x + 1) W / 2w) too.
  TBitmap small; Shape(small, 3, 2, pl24Bit);
  Paint(small);
  dst.BitmapCanvas().StretchInto(Rect(0, 0, 16, 8), &small);
  for (int x = 0; x < 16; ++x) EXPECT_EQ(GetRValue(dst.PixelColor(x, 0)), (2 * x + 1) * 3 / 32);
  for (int y = 0; y < 8; ++y) EXPECT_EQ(GetGValue(dst.PixelColor(0, y)), (2 * y + 1) * 2 / 16);
}

TEST(Bitmap, FillsColourExactlyTheirPixelsInEveryLayout) {
  // A new image in its fill colour, then spans that start and end inside
  // bytes, whole rows and spans of one pixel: the pixels inside take the
  // colour as SetPixelColor would give it, the pixels around keep theirs.
  for (TPixelLayout layout : {pl1Bit, pl4Bit, pl8Bit, pl15Bit, pl16Bit, pl24Bit, pl32Bit}) {
    TBitmap single; Shape(single, 1, 1, layout);
    single.SetPixelColor(0, 0, clWhite);
    for (TRect r : {Rect(3, 1, 30, 3), Rect(0, 0, 37, 4), Rect(5, 2, 6, 3), Rect(8, 0, 16, 4)}) {
      TBitmap b; Shape(b, 37, 4, layout);
      ASSERT_EQ(b.PixelColor(36, 3), single.PixelColor(0, 0)) << layout;
      b.FillRect(Rect(0, 0, 37, 4), clBlack);
      b.FillRect(r, clWhite);
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 37; ++x) {
          const bool inside = x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom;
          ASSERT_EQ(b.PixelColor(x, y), inside ? single.PixelColor(0, 0) : clBlack) << layout << " " << x << "," << y;
        }
    }
  }
}

TEST(Bitmap, RenderClipsTransparencyAndRasterOperations) {
  TBitmap dst; Shape(dst, 4, 4, pl24Bit);
  TBitmap src; Shape(src, 4, 4, pl24Bit);
  src.FillRect(Rect(0, 0, 4, 4), RGBColor(0, 255, 0));
  src.SetPixelColor(1, 1, RGBColor(1, 2, 3));
  dst.BitmapCanvas().StretchInto(Rect(2, 2, 6, 6), &src);  // partly outside: clipped
  EXPECT_EQ(dst.PixelColor(1, 1), clWhite);
  EXPECT_EQ(dst.PixelColor(3, 3), RGBColor(1, 2, 3));
  // A transparent bitmap leaves the target where its key colour lies.
  TBitmap target; Shape(target, 4, 4, pl24Bit);
  src.SetTransparentKey(RGBColor(0, 255, 0));
  src.SetTransparency(true);
  target.BitmapCanvas().StretchInto(Rect(0, 0, 4, 4), &src);
  EXPECT_EQ(target.PixelColor(0, 0), clWhite);
  EXPECT_EQ(target.PixelColor(1, 1), RGBColor(1, 2, 3));
  // SRCAND then SRCINVERT, as cursors are drawn.
  TBitmap mask; Shape(mask, 1, 1, pl24Bit);
  mask.FillRect(Rect(0, 0, 1, 1), RGBColor(0x0F, 0xF0, 0xFF));
  TBitmap out; Shape(out, 1, 1, pl24Bit);
  out.BitmapCanvas().CopyMode = cmSrcAnd;
  out.BitmapCanvas().StretchInto(Rect(0, 0, 1, 1), &mask);
  EXPECT_EQ(out.PixelColor(0, 0), RGBColor(0x0F, 0xF0, 0xFF));
  out.BitmapCanvas().CopyMode = cmSrcInvert;
  out.BitmapCanvas().StretchInto(Rect(0, 0, 1, 1), &mask);
  EXPECT_EQ(out.PixelColor(0, 0), clBlack);
  // Drawing a bitmap into itself reads the picture as it was.
  TBitmap self; Shape(self, 2, 1, pl24Bit);
  self.SetPixelColor(0, 0, clBlack);
  self.BitmapCanvas().StretchInto(Rect(1, 0, 3, 1), &self);
  EXPECT_EQ(self.PixelColor(1, 0), clBlack);
}

TEST(Bitmap, HalftonesWhenDrawnIntoFewerBits) {
  TBitmap src; Shape(src, 2, 1, pl24Bit);
  src.SetPixelColor(0, 0, clBlack);
  TBitmap dst; Shape(dst, 1, 1, pl8Bit);
  dst.AssignPalette(CreatePalette({{0, 0, 0, 0}, {128, 128, 128, 0}, {255, 255, 255, 0}}));
  dst.BitmapCanvas().StretchInto(Rect(0, 0, 1, 1), &src);
  EXPECT_EQ(dst.PixelColor(0, 0), RGBColor(128, 128, 128));
}

TEST(Bitmap, BmpRoundTripsEveryLayout) {
  for (TPixelLayout layout : {pl1Bit, pl4Bit, pl8Bit, pl15Bit, pl16Bit, pl24Bit, pl32Bit, plDevice}) {
    TBitmap src; Shape(src, 13, 5, pl24Bit);
    Paint(src);
    src.SetPixelLayout(layout);
    TMemoryStream stream;
    src.SaveStream(stream);
    stream.SetPosition(0);
    TBitmap back;
    back.LoadStream(stream);
    ASSERT_EQ(back.ImageWidth(), 13);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 13; ++x) ASSERT_EQ(back.PixelColor(x, y), src.PixelColor(x, y)) << PixelLayoutName(layout);
  }
}

TEST(Bitmap, RefusesSizesBeyondTheLimits) {
  TBitmap b;
  b.SetPixelLayout(pl24Bit);
  b.ResizeWidth(1 << 20);
  EXPECT_THROW(b.ResizeHeight(1 << 20), EOutOfResources);
  EXPECT_EQ(b.ImageHeight(), 0);
  EXPECT_THROW(b.ResizeWidth(-1), EOutOfResources);
  EXPECT_FALSE(ImageSizeAllowed(1 << 15, 1 << 14, 32));
  EXPECT_TRUE(ImageSizeAllowed(1 << 14, 1 << 14, 32));
}

TEST(Canvas, LinesPolygonsAndPixels) {
  TBitmap b; Shape(b, 8, 8, pl24Bit);
  TCanvas& c = b.BitmapCanvas();
  c.Pen.Color = clBlack;
  c.MovePen(0, 0);
  c.DrawLineTo(4, 0);
  EXPECT_EQ(b.PixelColor(3, 0), clBlack);
  EXPECT_EQ(b.PixelColor(4, 0), clWhite);  // the end point is not drawn
  EXPECT_EQ(c.PenPos(), (TPoint{4, 0}));
  c.Brush.Color = RGBColor(0, 0, 255);
  c.FillPolygon({{2, 2}, {6, 2}, {6, 6}, {2, 6}});
  EXPECT_EQ(b.PixelColor(4, 4), RGBColor(0, 0, 255));
  EXPECT_EQ(b.PixelColor(2, 2), clBlack);  // outline
  EXPECT_EQ(c.PixelColour(8, 0), 0xFFFFFFFFu);
  c.PutPixel(-1, 3, clBlack);  // outside: ignored
  c.Brush.Style = TBrushStyle::bsClear;
  c.FillArea(Rect(0, 0, 8, 8));
  EXPECT_EQ(b.PixelColor(7, 7), clWhite);
}

TEST(Bitmap, RenderIntoRectanglesBeyondThirtyTwoBits) {
  TBitmap src; Shape(src, 2, 2, pl24Bit);
  Paint(src);
  const TRect huge = Rect(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX);
  for (TPixelLayout layout : {pl1Bit, pl4Bit, pl8Bit, pl15Bit, pl16Bit, pl24Bit, pl32Bit, plDevice}) {
    TBitmap dst; Shape(dst, 16, 8, layout);
    TBitmap expected; Shape(expected, 1, 1, layout);
    expected.SetPixelColor(0, 0, src.PixelColor(1, 1));
    // The surface lies just past the rectangle's middle: source pixel (1, 1).
    dst.BitmapCanvas().StretchInto(huge, &src);
    EXPECT_EQ(dst.PixelColor(15, 7), expected.PixelColor(0, 0)) << PixelLayoutName(layout);
    // Placed at the far end of the coordinates: wholly off the surface.
    TBitmap white; Shape(white, 16, 8, layout);
    dst.BitmapCanvas().StretchInto(Rect(0, 0, 16, 8), &white);
    dst.BitmapCanvas().DrawAt(INT32_MAX - 1, INT32_MAX - 1, &src);
    dst.BitmapCanvas().StretchInto(Rect(5, 3, INT32_MIN, INT32_MIN), &src);
    EXPECT_EQ(dst.PixelColor(15, 7), white.PixelColor(15, 7)) << PixelLayoutName(layout);
  }
}

TEST(Canvas, LinesAndPolygonsWithFarAwayEnds) {
  TBitmap b; Shape(b, 16, 8, pl24Bit);
  TCanvas& c = b.BitmapCanvas();
  // Only the steps that cross the surface are walked: this returns at once.
  c.MovePen(INT32_MIN, 3);
  c.DrawLineTo(INT32_MAX, 3);
  for (int x = 0; x < 16; ++x) ASSERT_EQ(b.PixelColor(x, 3), clBlack) << x;
  EXPECT_EQ(b.PixelColor(0, 2), clWhite);
  c.MovePen(INT32_MAX, INT32_MAX);
  c.DrawLineTo(INT32_MIN, INT32_MIN + 1);
  EXPECT_EQ(b.PixelColor(5, 5), clBlack);  // the diagonal through the surface
  c.Brush.Color = RGBColor(0, 0, 255);
  c.Pen.Style = TPenStyle::psClear;
  c.FillPolygon({{INT32_MIN, INT32_MIN}, {INT32_MAX, INT32_MIN}, {INT32_MAX, INT32_MAX}, {INT32_MIN, INT32_MAX}});
  EXPECT_EQ(b.PixelColor(0, 0), RGBColor(0, 0, 255));
  EXPECT_EQ(b.PixelColor(15, 7), RGBColor(0, 0, 255));
}
