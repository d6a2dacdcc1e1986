// Playing metafiles into bitmaps: geometry that the 16 x 8 fingerprint grid
// makes unambiguous, the drawing state, bitmap records, text, and files
// whose records lie.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "MetafileWriters.h"
#include "app/Fingerprint.h"
#include "picture/Graphics.h"
#include "picture/metafile/MetafilePlayer.h"

namespace tolvane {
namespace {

using test::Cat;
using test::Dib2x2;
using test::FarPad;
using test::Fields;
using test::Pad;
using test::Padded;
using test::Put32;
using test::Stock;
using test::TEmfWriter;
using test::TWmfWriter;
using test::Words;

// Record types of enhanced metafiles.
enum : uint32_t {
  POLYGON = 3, POLYLINE = 4, POLYPOLYGON = 8, SETWINDOWEXTEX = 9, SETWINDOWORGEX = 10, SETVIEWPORTEXTEX = 11,
  SETMAPMODE = 17, SETBKMODE = 18, SETROP2 = 20, SETTEXTCOLOR = 24, SETBKCOLOR = 25, MOVETOEX = 27,
  EXCLUDECLIPRECT = 29, INTERSECTCLIPRECT = 30, SAVEDC = 33, RESTOREDC = 34, SETWORLDTRANSFORM = 35,
  SELECTOBJECT = 37, CREATEPEN = 38, CREATEBRUSHINDIRECT = 39, DELETEOBJECT = 40, ELLIPSE = 42,
  RECTANGLE = 43, PIE = 47, SELECTPALETTE = 48, CREATEPALETTE = 49, LINETO = 54, BEGINPATH = 59, ENDPATH = 60,
  FILLPATH = 62, GDICOMMENT = 70, FILLRGN = 71, EXTSELECTCLIPRGN = 75, BITBLT = 76, STRETCHDIBITS = 81, EXTCREATEFONTINDIRECTW = 82, EXTTEXTOUTW = 84, ALPHABLEND = 114,
  TRANSPARENTBLT = 116, GRADIENTFILL = 118,
};
constexpr uint32_t WHITE_BRUSH = 0, BLACK_BRUSH = 4, NULL_BRUSH = 5, BLACK_PEN = 7, NULL_PEN = 8;
constexpr TColor Grey = 0x808080, Red = 0x0000FF;

class MetafilePlay : public ::testing::Test {
protected:
  void SetUp() override { InitializeMetafilePlayer(); }
  void TearDown() override { FinalizeMetafilePlayer(); }

  static std::unique_ptr<TMetafile> Load(const std::vector<uint8_t>& bytes) {
    auto metafile = std::make_unique<TMetafile>();
    TMemoryStream stream(bytes);
    metafile->LoadStream(stream);
    return metafile;
  }

  // A target of the given layout filled with one colour.
  static std::unique_ptr<TBitmap> Target(TColor fill = clWhite, TPixelLayout layout = pl24Bit, int w = 16, int h = 8) {
    auto target = std::make_unique<TBitmap>();
    target->SetPixelLayout(layout);
    target->ResizeWidth(w);
    target->ResizeHeight(h);
    target->FillRect(Rect(0, 0, w, h), fill);
    return target;
  }

  static void Draw(const std::vector<uint8_t>& bytes, TBitmap& target, TRect rect = Rect(0, 0, 16, 8)) {
    auto metafile = Load(bytes);
    target.BitmapCanvas().StretchInto(rect, metafile.get());
  }

  // The target as text: '#' black, '.' white, 'r' red, '-' grey, '?' other.
  static std::string Art(const TBitmap& target) {
    std::string art;
    for (int32_t y = 0; y < target.Image().Height; ++y) {
      for (int32_t x = 0; x < target.Image().Width; ++x) {
        TColor c = target.PixelColor(x, y);
        art += c == clBlack ? '#' : c == clWhite ? '.' : c == Red ? 'r' : c == Grey ? '-' : '?';
      }
      art += '\n';
    }
    return art;
  }

  static std::string Rows(std::initializer_list<const char*> rows) {
    std::string art;
    for (const char* r : rows) art += std::string(r) + "\n";
    return art;
  }

  // A 192 x 96 enhanced metafile (device pixels = 12 target pixels per
  // fingerprint cell when drawn into 16 x 8).
  static TEmfWriter Emf(uint16_t handles = 8) { return TEmfWriter(0, 0, 5080, 2540, handles); }
};

TEST_F(MetafilePlay, LeftHalfFilledGivesTheFingerprintOfItsWorkedExample) {
  const uint32_t expected[4] = {0x00FF00FF, 0x00FF00FF, 0x00FF00FF, 0x00FF00FF};
  // Enhanced: a black rectangle over the left half, with and without an
  // outline (the outline runs inside the rectangle's right edge).
  for (uint32_t pen : {NULL_PEN, BLACK_PEN}) {
    auto target = Target();
    Draw(Emf().Add(SELECTOBJECT, {Stock(BLACK_BRUSH)}).Add(SELECTOBJECT, {Stock(pen)}).Add(RECTANGLE, {0, 0, 96, 96}).Finish(),
         *target);
    EXPECT_EQ(FingerprintOfTarget(*target).Words, (std::array<uint32_t, 4>{expected[0], expected[1], expected[2], expected[3]}));
  }
  // Placeable Windows metafile in inches of 1600 units.
  auto target = Target();
  Draw(TWmfWriter(true, 0, 0, 1600, 800, 1600)
           .Add(0x02FC, {0, 0, 0, 0})     // black solid brush, slot 0
           .Add(0x02FA, {5, 0, 0, 0, 0})  // null pen, slot 1
           .Add(0x012D, {0})
           .Add(0x012D, {1})
           .Add(0x041B, {800, 800, 0, 0})  // bottom, right, top, left
           .Finish(),
       *target);
  EXPECT_EQ(FingerprintOfTarget(*target).Words[2], 0x00FF00FFu);
  EXPECT_EQ(Art(*target), Rows({"########........", "########........", "########........", "########........",
                                "########........", "########........", "########........", "########........"}));
}

TEST_F(MetafilePlay, OnlyWhatTheRecordsDrawChanges) {
  // A grey target keeps its grey wherever the metafile draws nothing, in
  // a direct and in a palette layout.
  for (TPixelLayout layout : {pl24Bit, pl8Bit, pl32Bit}) {
    auto target = Target(Grey, layout);
    Draw(Emf().Add(SELECTOBJECT, {Stock(BLACK_BRUSH)}).Add(SELECTOBJECT, {Stock(NULL_PEN)})
             .Add(ELLIPSE, {48, 24, 144, 72}).Add(RECTANGLE, {0, 0, 24, 24}).Finish(),
         *target);
    EXPECT_EQ(Art(*target), Rows({"##--------------", "##--------------", "-----######-----", "----########----",
                                  "----########----", "-----######-----", "----------------", "----------------"}))
        << PixelLayoutName(layout);
  }
  // Drawn into a part of the target, scaled to that part.
  auto target = Target();
  Draw(Emf().Add(SELECTOBJECT, {Stock(BLACK_BRUSH)}).Add(RECTANGLE, {0, 0, 192, 96}).Finish(), *target, Rect(4, 2, 12, 6));
  EXPECT_EQ(Art(*target), Rows({"................", "................", "....########....", "....########....",
                                "....########....", "....########....", "................", "................"}));
}

TEST_F(MetafilePlay, MappingModesAndTransforms) {
  // Window and viewport: logical 0..100 covers the device's 0..96 across.
  auto target = Target();
  Draw(Emf().Add(SETMAPMODE, {8}).Add(SETWINDOWEXTEX, {100, 100}).Add(SETVIEWPORTEXTEX, {96, 48})
           .Add(SETWINDOWORGEX, {-100, 0})
           .Add(SELECTOBJECT, {Stock(BLACK_BRUSH)}).Add(SELECTOBJECT, {Stock(NULL_PEN)})
           .Add(RECTANGLE, {0, 0, 100, 100}).Finish(),
       *target);
  EXPECT_EQ(Art(*target), Rows({"........########", "........########", "........########", "........########",
                                "................", "................", "................", "................"}));

  // A y-up mode: logical y grows upwards from the origin at the top.
  target = Target();
  Draw(Emf().Add(SETMAPMODE, {6})  // twips: 15 per device pixel
           .Add(SELECTOBJECT, {Stock(BLACK_BRUSH)}).Add(SELECTOBJECT, {Stock(NULL_PEN)})
           .Add(RECTANGLE, {0, -720, 720, -1440}).Finish(),
       *target);
  EXPECT_EQ(Art(*target), Rows({"................", "................", "................", "................",
                                "####............", "####............", "####............", "####............"}));

  // A world transform, saved and restored with the drawing state.
  target = Target();
  auto f = [](float v) { uint32_t u; std::memcpy(&u, &v, 4); return int64_t{u}; };
  Draw(Emf().Add(SELECTOBJECT, {Stock(NULL_PEN)}).Add(SAVEDC, {})
           .Add(SETWORLDTRANSFORM, {f(2), f(0), f(0), f(1), f(96), f(0)})
           .Add(SELECTOBJECT, {Stock(BLACK_BRUSH)})
           .Add(RECTANGLE, {0, 0, 24, 24})
           .Add(RESTOREDC, {-1})
           .Add(RECTANGLE, {0, 0, 48, 48})  // the brush is white again: nothing shows
           .Add(SELECTOBJECT, {Stock(BLACK_BRUSH)})
           .Add(RECTANGLE, {0, 0, 24, 24})
           .Finish(),
       *target);
  EXPECT_EQ(Art(*target), Rows({"##......####....", "##......####....", "................", "................",
                                "................", "................", "................", "................"}));
}

TEST_F(MetafilePlay, ClippingAndRasterOperations) {
  auto target = Target();
  Draw(Emf().Add(INTERSECTCLIPRECT, {48, 0, 144, 96}).Add(EXCLUDECLIPRECT, {72, 24, 120, 72})
           .Add(SELECTOBJECT, {Stock(BLACK_BRUSH)}).Add(RECTANGLE, {0, 0, 192, 96}).Finish(),
       *target);
  EXPECT_EQ(Art(*target), Rows({"....########....", "....########....", "....##....##....", "....##....##....",
                                "....##....##....", "....##....##....", "....########....", "....########...."}));

  // Exclusive-or twice leaves the target as it was; once inverts white.
  target = Target(Grey);
  Draw(Emf().Add(SETROP2, {7}).Add(SELECTOBJECT, {Stock(WHITE_BRUSH)}).Add(SELECTOBJECT, {Stock(NULL_PEN)})
           .Add(RECTANGLE, {0, 0, 96, 96}).Add(RECTANGLE, {0, 0, 96, 96}).Add(RECTANGLE, {96, 0, 192, 48}).Finish(),
       *target);
  EXPECT_EQ(target->PixelColor(2, 2), Grey);
  EXPECT_EQ(target->PixelColor(12, 2), 0x7F7F7Fu);
  EXPECT_EQ(target->PixelColor(12, 6), Grey);
}

TEST_F(MetafilePlay, ObjectsLinesAndPaths) {
  auto target = Target();
  Draw(Emf().Add(CREATEBRUSHINDIRECT, {1, 0, Red, 0})
           .Add(CREATEPEN, {2, 0, 1, 0, 0})  // solid black, one pixel
           .Add(SELECTOBJECT, {1}).Add(SELECTOBJECT, {2})
           .Add(RECTANGLE, {0, 0, 72, 72})
           .Add(DELETEOBJECT, {1})  // the selected brush stays in use
           .Add(RECTANGLE, {96, 0, 192, 36})
           .Add(MOVETOEX, {0, 84}).Add(LINETO, {192, 84})
           .Finish(),
       *target);
  EXPECT_EQ(Art(*target), Rows({"######..########", "#rrrr#..#rrrrrr#", "#rrrr#..########", "#rrrr#..........",
                                "#rrrr#..........", "######..........", "................", "################"}));

  target = Target();
  Draw(Emf().Add(SELECTOBJECT, {Stock(BLACK_BRUSH)}).Add(BEGINPATH, {})
           .Add(POLYGON, {0, 0, 0, 0, 6, 0, 0, 96, 0, 96, 48, 48, 48, 48, 96, 0, 96}).Add(ENDPATH, {})
           .Add(FILLPATH, {0, 0, 0, 0})
           .Finish(),
       *target);
  EXPECT_EQ(Art(*target), Rows({"########........", "########........", "########........", "########........",
                                "####............", "####............", "####............", "####............"}));
}


TEST_F(MetafilePlay, BitmapRecords) {
  const std::vector<uint8_t> dib = Dib2x2();
  // StretchDIBits of the whole bitmap over the frame.
  std::vector<uint8_t> payload;
  for (int32_t v : {0, 0, -1, -1, 0, 0, 0, 0, 2, 2, 80, 40, 120, static_cast<int32_t>(dib.size() - 40), 0,
                    static_cast<int32_t>(0x00CC0020), 192, 96})
    test::PutU32(payload, static_cast<uint32_t>(v));
  payload.insert(payload.end(), dib.begin(), dib.end());
  auto target = Target();
  Draw(Emf().AddRaw(STRETCHDIBITS, payload).Finish(), *target);
  EXPECT_EQ(Art(*target), Rows({"########........", "########........", "########........", "########........",
                                "rrrrrrrr--------", "rrrrrrrr--------", "rrrrrrrr--------", "rrrrrrrr--------"}));

  // A pattern blit: the brush over the left half, the target inverted on the right.
  target = Target();
  std::vector<uint8_t> patcopy, invert;
  for (int32_t v : {0, 0, -1, -1, 0, 0, 96, 96, static_cast<int32_t>(0x00F00021)}) test::PutU32(patcopy, v);
  for (int32_t v : {0, 0, -1, -1, 96, 48, 96, 48, static_cast<int32_t>(0x00550009)}) test::PutU32(invert, v);
  for (int i = 0; i < 15; ++i) test::PutU32(patcopy, 0), test::PutU32(invert, 0);
  Draw(Emf().Add(SELECTOBJECT, {Stock(BLACK_BRUSH)}).AddRaw(BITBLT, patcopy).AddRaw(BITBLT, invert).Finish(), *target);
  EXPECT_EQ(Art(*target), Rows({"########........", "########........", "########........", "########........",
                                "################", "################", "################", "################"}));
}

TEST_F(MetafilePlay, PatternBrushWithAFarAwayOrigin) {
  const std::vector<uint8_t> dib = Dib2x2();
  std::vector<uint8_t> brush;
  for (uint32_t v : {1u, 0u, 32u, 40u, 72u, static_cast<uint32_t>(dib.size() - 40)}) test::PutU32(brush, v);
  brush.insert(brush.end(), dib.begin(), dib.end());
  std::vector<uint8_t> patcopy;
  for (int32_t v : {0, 0, -1, -1, 0, 0, 192, 96, static_cast<int32_t>(0x00F00021)}) test::PutU32(patcopy, v);
  for (int i = 0; i < 15; ++i) test::PutU32(patcopy, 0);
  // Scaled up, the origin lies past 32 bits of image pixels; the tile still repeats every 2 pixels.
  auto target = Target(clWhite, pl24Bit, 160, 80);
  Draw(Emf().AddRaw(94, brush).Add(SELECTOBJECT, {1}).Add(13, {INT32_MIN + 1, INT32_MAX}).AddRaw(BITBLT, patcopy).Finish(),
       *target, Rect(0, 0, 160 * 100, 80 * 100));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(target->PixelColor(x, y), target->PixelColor(x + 2, y + 2));
      EXPECT_NE(target->PixelColor(x, y), target->PixelColor(x + 1, y));
    }
}

TEST_F(MetafilePlay, RegionsAndPalettes) {
  auto target = Target();
  Draw(Emf().Add(SELECTOBJECT, {Stock(NULL_PEN)})
           // A region of two rectangles filled with a stock brush.
           .Add(FILLRGN, {0, 0, -1, -1, 64, Stock(BLACK_BRUSH), 32, 1, 2, 32, 0, 0, 192, 96, 0, 0, 48, 48, 144, 48, 192, 96})
           // Clipping to a device region, then to nothing again.
           .Add(EXTSELECTCLIPRGN, {48, 5, 32, 1, 1, 16, 96, 0, 192, 48, 96, 0, 192, 48})
           .Add(SELECTOBJECT, {Stock(BLACK_BRUSH)}).Add(RECTANGLE, {0, 0, 192, 96})
           .Add(EXTSELECTCLIPRGN, {0, 5})
           // A brush whose colour is entry 0 of the selected palette.
           .Add(CREATEPALETTE, {1, (2 << 16) | 0x300, 0x0000FF, 0x00FF00}).Add(SELECTPALETTE, {1})
           .Add(CREATEBRUSHINDIRECT, {2, 0, 0x01000000, 0}).Add(SELECTOBJECT, {2})
           .Add(RECTANGLE, {48, 72, 96, 96})
           .Finish(),
       *target);
  EXPECT_EQ(Art(*target), Rows({"####....########", "####....########", "####....########", "####....########",
                                "............####", "............####", "....rrrr....####", "....rrrr....####"}));
}

TEST_F(MetafilePlay, PaletteChangesStayInTheirPlayback) {
  // Entry 0 of the default palette made red by one file ...
  auto target = Target();
  Draw(TWmfWriter(true, 0, 0, 160, 80).Add(0x0037, {0, 1, 0x00FF, 0}).Finish(), *target);
  // ... is black again for the next.
  Draw(TWmfWriter(true, 0, 0, 160, 80)
           .Add(0x02FC, {0, 0, 0x0100, 0})  // brush of palette entry 0
           .Add(0x012D, {0})
           .Add(0x041B, {80, 160, 0, 0})
           .Finish(),
       *target);
  EXPECT_EQ(target->PixelColor(8, 4), clBlack);
}

TEST_F(MetafilePlay, BlendedBitmaps) {
  // Half of a white bitmap over black gives grey; a transparent blit
  // leaves the target where the bitmap has the key colour.
  std::vector<uint8_t> white;
  for (uint32_t v : {40u, 1u, 1u}) test::PutU32(white, v);
  test::PutU16(white, 1);
  test::PutU16(white, 32);
  for (int i = 0; i < 6; ++i) test::PutU32(white, 0);
  test::PutU32(white, 0x00FFFFFF);
  auto blend = [](uint32_t type, uint32_t fourty, const std::vector<uint8_t>& dib, int32_t w, int32_t h) {
    std::vector<uint8_t> payload;
    for (int32_t v : {0, 0, -1, -1, 0, 0, 192, 96}) test::PutU32(payload, static_cast<uint32_t>(v));
    test::PutU32(payload, fourty);
    for (int i = 0; i < 10; ++i) test::PutU32(payload, 0);
    for (int32_t v : {108, 40, 148, static_cast<int32_t>(dib.size() - 40), w, h}) test::PutU32(payload, static_cast<uint32_t>(v));
    payload.insert(payload.end(), dib.begin(), dib.end());
    return std::make_pair(type, payload);
  };
  auto [alphaType, alpha] = blend(ALPHABLEND, 128 << 16, white, 1, 1);
  auto target = Target(clBlack);
  Draw(Emf().AddRaw(alphaType, alpha).Finish(), *target);
  EXPECT_EQ(target->PixelColor(5, 5), Grey);

  auto [keyType, keyed] = blend(TRANSPARENTBLT, clWhite, Dib2x2(), 2, 2);
  target = Target(Red);
  Draw(Emf().AddRaw(keyType, keyed).Finish(), *target);
  EXPECT_EQ(Art(*target), Rows({"########rrrrrrrr", "########rrrrrrrr", "########rrrrrrrr", "########rrrrrrrr",
                                "rrrrrrrr--------", "rrrrrrrr--------", "rrrrrrrr--------", "rrrrrrrr--------"}));
}

TEST_F(MetafilePlay, Gradients) {
  // Black to white across the frame, then a red triangle over the lower
  // left half (every vertex red: exactly red inside).
  auto vertex = [](std::vector<uint8_t>& v, int32_t x, int32_t y, uint16_t r, uint16_t g, uint16_t b) {
    test::PutU32(v, static_cast<uint32_t>(x)), test::PutU32(v, static_cast<uint32_t>(y));
    test::PutU16(v, r), test::PutU16(v, g), test::PutU16(v, b), test::PutU16(v, 0);
  };
  std::vector<uint8_t> across, triangle;
  for (int32_t v : {0, 0, -1, -1, 2, 1, 0}) test::PutU32(across, static_cast<uint32_t>(v));
  vertex(across, 0, 0, 0, 0, 0);
  vertex(across, 192, 96, 0xFF00, 0xFF00, 0xFF00);
  test::PutU32(across, 0), test::PutU32(across, 1);
  for (int32_t v : {0, 0, -1, -1, 3, 1, 2}) test::PutU32(triangle, static_cast<uint32_t>(v));
  vertex(triangle, 0, 0, 0xFF00, 0, 0);
  vertex(triangle, 0, 96, 0xFF00, 0, 0);
  vertex(triangle, 192, 96, 0xFF00, 0, 0);
  for (uint32_t i : {0u, 1u, 2u}) test::PutU32(triangle, i);
  auto target = Target();
  Draw(Emf().AddRaw(GRADIENTFILL, across).AddRaw(GRADIENTFILL, triangle).Finish(), *target);
  // Row 0 meets the triangle only in its first pixel.
  for (int x = 2; x < 16; ++x) EXPECT_GT(GetRValue(target->PixelColor(x, 0)), GetRValue(target->PixelColor(x - 1, 0)));
  EXPECT_LT(GetRValue(target->PixelColor(1, 0)), 32);
  EXPECT_GT(GetRValue(target->PixelColor(15, 0)), 239);
  EXPECT_EQ(target->PixelColor(1, 6), Red);
  EXPECT_EQ(target->PixelColor(10, 7), Red);
  EXPECT_NE(target->PixelColor(10, 2), Red);
}

TEST_F(MetafilePlay, WindowsMetafileRecords) {
  auto target = Target();
  Draw(TWmfWriter(true, 0, 0, 160, 80, 96)
           .Add(0x02FC, {0, 0, 0, 0})        // black brush, slot 0
           .Add(0x02FA, {5, 0, 0, 0, 0})     // null pen, slot 1
           .Add(0x012D, {0})
           .Add(0x012D, {1})
           .Add(0x0538, {2, 4, 4, 0, 0, 40, 0, 40, 40, 0, 40, 120, 0, 160, 0, 160, 40, 120, 40})  // two squares
           .Add(0x01F0, {0})                 // deleted: the slot is free again
           .Add(0x02FC, {0, 0xFF, 0, 0})     // red brush takes slot 0
           .Add(0x012D, {0})
           .Add(0x0418, {80, 120, 40, 40})   // ellipse in the lower middle
           .Add(0x0213, {75, 160})           // a line to the right edge from the origin, not drawn: no pen
           .Finish(),
       *target);
  EXPECT_EQ(Art(*target), Rows({"####........####", "####........####", "####........####", "####........####",
                                ".....rrrrrr.....", "....rrrrrrrr....", "....rrrrrrrr....", ".....rrrrrr....."}));
}

TEST_F(MetafilePlay, TextNeedsTheFontDatabase) {
  std::vector<uint8_t> font;
  for (int32_t v : {1, -72, 0, 0, 0, 700, 0, 0}) test::PutU32(font, static_cast<uint32_t>(v));
  for (char c : std::string("DejaVu Sans")) test::PutU16(font, static_cast<uint8_t>(c));
  font.resize(4 + 92, 0);
  std::vector<uint8_t> text;
  for (int32_t v : {0, 0, -1, -1, 1, 0, 0, 12, 12, 2, 76, 0, 0, 0, 0, 0, 0}) test::PutU32(text, static_cast<uint32_t>(v));
  for (char c : std::string("HH")) test::PutU16(text, static_cast<uint8_t>(c));
  const std::vector<uint8_t> bytes = Emf().AddRaw(EXTCREATEFONTINDIRECTW, font).Add(SELECTOBJECT, {1})
                                         .Add(SETBKMODE, {1}).AddRaw(EXTTEXTOUTW, text).Finish();
  auto target = Target();
  Draw(bytes, *target);
  EXPECT_EQ(Art(*target), Art(*Target())) << "glyphs drawn without an application object";
  TMetafileTextSupport support;
  Draw(bytes, *target);
  int black = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) black += target->PixelColor(x, y) == clBlack;
  EXPECT_GT(black, 4) << Art(*target);
}

TEST_F(MetafilePlay, MalformedRecordsEndPlaybackWithWhatWasDrawn) {
  auto expectLeftQuarterOnly = [&](std::vector<uint8_t> bytes, const char* what) {
    SCOPED_TRACE(what);
    auto target = Target();
    Draw(bytes, *target);
    EXPECT_EQ(Art(*target), Rows({"####............", "####............", "####............", "####............",
                                  "####............", "####............", "####............", "####............"}));
  };
  auto start = [&](uint16_t handles = 8) {
    return Emf(handles).Add(SELECTOBJECT, {Stock(BLACK_BRUSH)}).Add(SELECTOBJECT, {Stock(NULL_PEN)})
        .Add(RECTANGLE, {0, 0, 48, 96});
  };
  const auto after = [](TEmfWriter w) { return w.Add(RECTANGLE, {96, 0, 192, 96}).Finish(); };
  expectLeftQuarterOnly(after(start().Add(SELECTOBJECT, {8})), "selected index past the handle table");
  expectLeftQuarterOnly(after(start(2).Add(CREATEBRUSHINDIRECT, {2, 0, 0, 0})), "created index past the table");
  expectLeftQuarterOnly(after(start().Add(CREATEBRUSHINDIRECT, {0, 0, 0, 0})), "created at the reserved index 0");
  expectLeftQuarterOnly(after(start().Add(POLYGON, {0, 0, 0, 0, 1000, 0, 0})), "more points than the record holds");
  expectLeftQuarterOnly(after(start().Add(POLYPOLYGON, {0, 0, 0, 0, 1, 2, 5, 0, 0, 96, 96})), "counts past the total");
  expectLeftQuarterOnly(after(start().Add(RECTANGLE, {96, 0})), "record shorter than its fields");
  std::vector<uint8_t> blit;
  for (int i = 0; i < 24; ++i) test::PutU32(blit, 0);
  test::SetU32(blit, 32, 0x00CC0020);
  test::SetU32(blit, 76, 4000);  // bitmap header far past the record
  test::SetU32(blit, 80, 40);
  expectLeftQuarterOnly(after(start().AddRaw(BITBLT, blit)), "bitmap offset outside the record");
  // A record whose size runs past the file, and one smaller than a record.
  std::vector<uint8_t> bytes = after(start());
  std::vector<uint8_t> cut = bytes;
  test::SetU32(cut, cut.size() - 20 - 24 + 4, 0x7FFFFFF0);
  expectLeftQuarterOnly(cut, "size past the file");
  cut = bytes;
  test::SetU32(cut, cut.size() - 20 - 24 + 4, 4);
  expectLeftQuarterOnly(cut, "size below a record's");
  // Comments (EMF+ among them) are skipped, whatever they hold.
  auto target = Target();
  Draw(start().Add(GDICOMMENT, {8, 0x2B464D45, -1}).Add(RECTANGLE, {144, 0, 192, 96}).Finish(), *target);
  EXPECT_EQ(target->PixelColor(15, 0), clBlack);

  // Windows metafiles: a slot past the table, a record past the file.
  auto wmf = [](uint16_t objects, uint16_t selected) {
    return TWmfWriter(true, 0, 0, 160, 80)
        .Add(0x02FC, {0, 0, 0, 0}).Add(0x012D, {0}).Add(0x041B, {80, 40, 0, 0})
        .Add(0x012D, {selected}).Add(0x041B, {80, 160, 0, 120}).Finish(objects);
  };
  expectLeftQuarterOnly(wmf(1, 1), "slot past the object table");
  std::vector<uint8_t> w = wmf(1, 0);
  test::SetU32(w, w.size() - 6 - 14, 0x100000);
  expectLeftQuarterOnly(w, "Windows record past the file");
}

TEST_F(MetafilePlay, FloodFillStartsOnlyInsideTheImage) {
  constexpr uint32_t EXTFLOODFILL = 53, SURFACE = 1;
  auto target = Target();
  Draw(Emf().Add(SELECTOBJECT, {Stock(BLACK_BRUSH)}).Add(EXTFLOODFILL, {6, 6, clWhite, SURFACE}).Finish(), *target);
  EXPECT_EQ(Art(*target), Art(*Target(clBlack)));
  // The frame's far corner maps to the pixel just past the image's last.
  target = Target();
  Draw(Emf().Add(SELECTOBJECT, {Stock(BLACK_BRUSH)}).Add(EXTFLOODFILL, {192, 96, clWhite, SURFACE}).Finish(), *target);
  EXPECT_EQ(Art(*target), Art(*Target()));
}

TEST_F(MetafilePlay, RectanglesBeyondThirtyTwoBits) {
  const std::vector<uint8_t> bytes = Emf().Add(SELECTOBJECT, {Stock(BLACK_BRUSH)}).Add(RECTANGLE, {0, 0, 192, 96}).Finish();
  auto target = Target();
  Draw(bytes, *target, Rect(5, 3, INT32_MIN, INT32_MIN));
  EXPECT_EQ(Art(*target), Art(*Target()));
  Draw(bytes, *target, Rect(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX));
}

TEST_F(MetafilePlay, MangledFilesNeverEscapePlayback) {
  // Every byte of a metafile that uses most record kinds, changed at
  // random: loading may refuse it, drawing must not fail.
  std::vector<uint8_t> dib = Dib2x2();
  std::vector<uint8_t> stretch;
  for (int32_t v : {0, 0, -1, -1, 0, 0, 0, 0, 2, 2, 80, 40, 120, 16, 0, static_cast<int32_t>(0x00CC0020), 192, 96})
    test::PutU32(stretch, static_cast<uint32_t>(v));
  stretch.insert(stretch.end(), dib.begin(), dib.end());
  const std::vector<uint8_t> emf =
      Emf().Add(CREATEBRUSHINDIRECT, {1, 2, Red, 3}).Add(SELECTOBJECT, {1}).Add(SETBKMODE, {2})
          .Add(INTERSECTCLIPRECT, {8, 8, 180, 90}).Add(ELLIPSE, {0, 0, 100, 90}).Add(PIE, {10, 10, 180, 80, 0, 0, 180, 0})
          .Add(POLYLINE, {0, 0, 0, 0, 3, 1, 2, 50, 60, 150, 10}).AddRaw(STRETCHDIBITS, stretch)
          .Add(BEGINPATH, {}).Add(POLYGON, {0, 0, 0, 0, 3, 0, 0, 96, 0, 96, 96}).Add(ENDPATH, {})
          .Add(FILLPATH, {0, 0, 0, 0}).Finish();
  const std::vector<uint8_t> wmf = TWmfWriter(true, 0, 0, 160, 80)
                                       .Add(0x02FC, {2, 0xFF, 0, 3}).Add(0x012D, {0})
                                       .Add(0x0418, {80, 80, 0, 0}).Add(0x0324, {3, 0, 0, 100, 10, 50, 70})
                                       .Add(0x0817, {0, 0, 80, 160, 80, 160, 0, 0}).Finish();
  std::mt19937 random(1234);
  for (const auto& original : {emf, wmf}) {
    for (int round = 0; round < 300; ++round) {
      std::vector<uint8_t> bytes = original;
      for (int k = 0; k < 4; ++k) bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
      std::unique_ptr<TMetafile> metafile;
      try {
        metafile = Load(bytes);
      } catch (const EInvalidGraphic&) {
        continue;
      }
      auto target = Target();
      EXPECT_NO_THROW(target->BitmapCanvas().StretchInto(Rect(0, 0, 16, 8), metafile.get()));
    }
  }
}


// ---- Records longer than what is kept whole ----

struct TLongCase {
  const char* Name;
  std::vector<uint8_t> Short, Long;
};

std::vector<TLongCase> EnhancedLongCases() {
  auto emf = [] { return TEmfWriter(0, 0, 5080, 2540); };
  auto file = [&](uint32_t type, const std::vector<uint8_t>& payload) {
    return emf().Add(SELECTOBJECT, {Stock(BLACK_BRUSH)}).Add(RECTANGLE, {0, 60, 30, 94}).AddRaw(type, payload)
        .Add(RECTANGLE, {150, 60, 190, 94}).Finish();
  };
  std::vector<TLongCase> cases;
  auto add = [&](const char* name, uint32_t type, const std::vector<uint8_t>& payload, const std::vector<uint8_t>& padded) {
    cases.push_back({name, file(type, payload), file(type, padded)});
  };
  const std::vector<uint8_t> polyline = Fields({0, 0, -1, -1, 3, 10, 10, 180, 50, 20, 90});
  add("polyline", POLYLINE, polyline, Padded(polyline));
  // Counts past the record end playback there, also once it is cut.
  const std::vector<uint8_t> past = Fields({0, 0, -1, -1, 20000, 10, 10, 180, 50});
  add("points past the record", POLYLINE, past, Padded(past));
  // 20000 points are longer than the limit themselves, and kept.
  std::vector<uint8_t> many = Fields({0, 0, -1, -1, 20000});
  for (int i = 0; i < 20000; ++i) {
    test::PutU16(many, static_cast<uint32_t>(i < 2 ? 96 * i : i == 19999 ? 0 : 96));
    test::PutU16(many, static_cast<uint32_t>(i < 2 ? 0 : (i - 2) * 96 / 19997));
  }
  add("polygon of 20000 points", 86, many, Padded(many));
  const std::vector<uint8_t> polypolygon =
      Fields({0, 0, -1, -1, 2, 8, 4, 4, 0, 0, 40, 0, 40, 40, 0, 40, 100, 20, 180, 20, 180, 90, 100, 90});
  add("polypolygon", POLYPOLYGON, polypolygon, Padded(polypolygon));
  const std::vector<uint8_t> region =
      Fields({0, 0, -1, -1, 64, Stock(BLACK_BRUSH), 32, 1, 2, 32, 0, 0, 192, 96, 10, 10, 50, 50, 100, 40, 190, 90});
  add("region", FILLRGN, region, Padded(region));
  const std::vector<uint8_t> gradient = Cat(Cat(Fields({0, 0, -1, -1, 2, 1, 0, 0, 0}), Words({0, 0, 0, 0})),
                                            Cat(Cat(Fields({192, 96}), Words({0xFF00, 0xC000, 0x8000, 0})), Fields({0, 1})));
  add("gradient", GRADIENTFILL, gradient, Padded(gradient));
  // A bitmap with bytes after its bits, with bits that claim them, and far
  // from the record's fields.
  const std::vector<uint8_t> dib = Dib2x2();
  const std::vector<uint8_t> stretch =
      Cat(Fields({0, 0, -1, -1, 0, 0, 0, 0, 2, 2, 80, 40, 120, 16, 0, 0x00CC0020, 192, 96}), dib);
  add("bitmap followed by more bytes", STRETCHDIBITS, stretch, Padded(stretch));
  add("bitmap bits claiming more bytes", STRETCHDIBITS, stretch, Put32(Padded(stretch), 52, 16 + Pad));
  add("bitmap far from its fields", STRETCHDIBITS, stretch,
      Put32(Put32(Padded(stretch, FarPad, 72), 40, 80 + FarPad), 48, 120 + FarPad));
  // The bits before the header, the header far behind them.
  auto blt = [&](size_t gap) {
    const std::vector<uint8_t> header(dib.begin(), dib.begin() + 40), bits(dib.begin() + 40, dib.end());
    return Cat(Padded(Cat(Fields({0, 0, -1, -1, 0, 0, 192, 96, 0x00CC0020, 0, 0, 0x3F800000, 0, 0, 0x3F800000, 0, 0, 0, 0,
                                  static_cast<int64_t>(124 + gap), 40, 108, 16, 2, 2}),
                          bits),
                      gap),
               header);
  };
  add("bitmap bits and header far apart", 77, blt(0), blt(FarPad));
  cases.push_back({"pattern brush",
                   emf().AddRaw(94, Cat(Fields({1, 0, 32, 40, 72, 16}), dib)).Add(SELECTOBJECT, {1}).Add(RECTANGLE, {0, 0, 192, 96}).Finish(),
                   emf().AddRaw(94, Put32(Padded(Cat(Fields({1, 0, 32, 40, 72, 16}), dib)), 20, 16 + Pad))
                       .Add(SELECTOBJECT, {1}).Add(RECTANGLE, {0, 0, 192, 96}).Finish()});
  // Text far from its fields (drawn with the font database).
  std::vector<uint8_t> font;
  for (int32_t v : {1, -72, 0, 0, 0, 700, 0, 0}) test::PutU32(font, static_cast<uint32_t>(v));
  for (char c : std::string("DejaVu Sans")) test::PutU16(font, static_cast<uint8_t>(c));
  font.resize(4 + 92, 0);
  const std::vector<uint8_t> text = Cat(Fields({0, 0, -1, -1, 1, 0, 0, 12, 12, 2, 76, 0, 0, 0, 0, 0, 0}), Words({'H', 'H'}));
  auto textFile = [&](const std::vector<uint8_t>& t) {
    return emf().AddRaw(EXTCREATEFONTINDIRECTW, font).Add(SELECTOBJECT, {1}).Add(SETBKMODE, {1}).AddRaw(EXTTEXTOUTW, t).Finish();
  };
  cases.push_back({"text far from its fields", textFile(text), textFile(Put32(Padded(text, FarPad, 68), 40, 76 + FarPad))});
  add("comment", GDICOMMENT, Fields({4, 0}), Cat(Fields({Pad}), Padded({})));
  // A header whose description runs past what is kept of it.
  const std::vector<uint8_t> plain = file(SETBKMODE, Fields({1}));
  std::vector<uint8_t> described = Padded(plain, Pad, 108);
  for (auto [at, value] : {std::pair<size_t, uint64_t>{4, 108 + Pad}, {48, plain.size() + Pad}, {60, Pad / 2}, {64, 108}})
    described = Put32(described, at, value);
  cases.push_back({"header with a long description", plain, described});
  return cases;
}

std::vector<TLongCase> WindowsLongCases() {
  auto wmf = [] { return TWmfWriter(true, 0, 0, 160, 80); };
  auto file = [&](uint16_t function, const std::vector<uint8_t>& payload) {
    return wmf().Add(0x02FC, {0, 0, 0, 0}).Add(0x012D, {0}).Add(0x041B, {78, 30, 60, 0}).AddRaw(function, payload)
        .Add(0x041B, {78, 158, 60, 130}).Finish();
  };
  std::vector<TLongCase> cases;
  auto add = [&](const char* name, uint16_t function, const std::vector<uint8_t>& payload, const std::vector<uint8_t>& padded) {
    cases.push_back({name, file(function, payload), file(function, padded)});
  };
  const std::vector<uint8_t> polyline = Words({3, 10, 10, 150, 40, 20, 70});
  add("polyline", 0x0325, polyline, Padded(polyline));
  add("points past the record", 0x0325, Words({30000, 10, 10, 150, 40}), Padded(Words({30000, 10, 10, 150, 40})));
  const std::vector<uint8_t> polypolygon = Words({2, 4, 4, 0, 0, 40, 0, 40, 40, 0, 40, 120, 0, 160, 0, 160, 40, 120, 40});
  add("polypolygon", 0x0538, polypolygon, Padded(polypolygon));
  const std::vector<uint8_t> region = Words({0, 6, 0, 0, 30, 1, 4, 10, 10, 100, 60, 2, 10, 60, 10, 100, 2});
  cases.push_back({"region", wmf().Add(0x02FC, {0, 0, 0, 0}).AddRaw(0x06FF, region).Add(0x0228, {1, 0}).Finish(),
                   wmf().Add(0x02FC, {0, 0, 0, 0}).AddRaw(0x06FF, Padded(region)).Add(0x0228, {1, 0}).Finish()});
  const std::vector<uint8_t> dib = Cat(Words({0x0020, 0x00CC, 2, 2, 0, 0, 80, 160, 0, 0}), Dib2x2());
  add("bitmap followed by more bytes", 0x0B41, dib, Padded(dib));
  // An old bitmap whose rows are padded far beyond its two pixels.
  auto rows = [](int widthBytes, int width, int height, uint8_t first) {
    std::vector<uint8_t> out = Words({0, width, height, widthBytes, 0x0101});
    for (int y = 0; y < height; ++y) {
      std::vector<uint8_t> row = Padded({static_cast<uint8_t>(first >> (y % 2))}, static_cast<size_t>(widthBytes - 1));
      out = Cat(out, row);
    }
    return out;
  };
  const std::vector<uint8_t> stretch = Words({0x0020, 0x00CC, 4, 2, 0, 0, 80, 160, 0, 0});
  add("old bitmap with wide rows", 0x0B23, Cat(stretch, rows(2, 2, 4, 0x80)), Cat(stretch, rows(30000, 2, 4, 0x80)));
  auto brush = [&](int widthBytes) {
    return wmf().AddRaw(0x01F9, Cat(Padded(rows(widthBytes, 8, 8, 0xAA), 22, 10), {})).Add(0x012D, {1})
        .Add(0x041B, {80, 160, 0, 0}).Finish();
  };
  cases.push_back({"old pattern brush with wide rows", brush(2), brush(10000)});
  add("escape", 0x0626, Words({15, 4, 1, 2}), Padded(Words({15, 0})));
  auto plain = [](const std::vector<uint8_t>& escape) {
    return TWmfWriter(false).Add(0x020B, {0, 0}).Add(0x020C, {80, 160}).AddRaw(0x0626, escape)
        .Add(0x041B, {78, 158, 60, 130}).Finish();
  };
  cases.push_back({"escape in a plain metafile", plain(Words({15, 4, 1, 2})), plain(Padded(Words({15, 0})))});
  return cases;
}

// What is kept of a long record draws what the record draws without the
// bytes that made it long, and costs about what that costs.
TEST_F(MetafilePlay, LongRecordsDrawWhatTheirShortFormDraws) {
  TMetafileTextSupport text;
  std::vector<TLongCase> cases = EnhancedLongCases();
  for (TLongCase& c : WindowsLongCases()) cases.push_back(std::move(c));
  for (const TLongCase& c : cases) {
    SCOPED_TRACE(c.Name);
    auto whole = Target(Grey, pl24Bit, 64, 32), kept = Target(Grey, pl24Bit, 64, 32);
    Draw(c.Short, *whole, Rect(0, 0, 64, 32));
    Draw(c.Long, *kept, Rect(0, 0, 64, 32));
    int differ = 0, drawn = 0;
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 64; ++x)
        differ += whole->PixelColor(x, y) != kept->PixelColor(x, y), drawn += whole->PixelColor(x, y) != Grey;
    EXPECT_EQ(differ, 0);
    EXPECT_GT(drawn, 0);
    ASSERT_GT(c.Long.size(), c.Short.size() + 65536);
    EXPECT_LT(Load(c.Long)->Data().size(), Load(c.Short)->Data().size() + 65536 + 256);
  }
}

// Old device-dependent bitmaps are held to their rows and to the bitmap
// budget, like device-independent ones.
TEST_F(MetafilePlay, OldBitmapsReadOnlyTheirRowsAndArePaidFor) {
  auto stretch = [](int width, int height, int widthBytes) {
    std::vector<uint8_t> p = Cat(Words({0x0020, 0x00CC, height, width, 0, 0, 80, 160, 0, 0}),
                                 Words({0, width, height, widthBytes, 0x0101}));
    p.resize(p.size() + static_cast<size_t>(widthBytes) * static_cast<size_t>(height), 0);
    return TWmfWriter(true, 0, 0, 160, 80).AddRaw(0x0B23, p).Finish();
  };
  // Seven 1-bit pixels need a byte a row; rows of none are refused rather
  // than read from the bytes after the record.
  auto target = Target(Grey);
  Draw(stretch(7, 2, 0), *target);
  EXPECT_EQ(Art(*target), Art(*Target(Grey)));
  // More pixels than any bitmap a metafile may expand to.
  target = Target(Grey);
  Draw(stretch(6000, 6000, 750), *target);
  EXPECT_EQ(Art(*target), Art(*Target(Grey)));
  target = Target(Grey);
  Draw(stretch(60, 60, 8), *target);
  EXPECT_NE(Art(*target), Art(*Target(Grey)));
}

}  // namespace
}  // namespace tolvane
