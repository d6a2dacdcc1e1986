// The row converters: layouts, depth pairs, byte orders, pixel masks and the
// per-family formulas at points worked out by hand.
#include "graphics/GraphicColor.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace tolvane;
using Bytes = std::vector<uint8_t>;

namespace {

struct Side {
  TColorSchemeKind Scheme;
  uint8_t Bits;
  TConvertOptions Flags = 0;
};

void Prepare(TColorManager& cm, Side source, Side target) {
  cm.SetSourceScheme(source.Scheme);
  cm.SetTargetScheme(target.Scheme);
  cm.SetSourceBitsPerSample(source.Bits);
  cm.SetTargetBitsPerSample(target.Bits);
  cm.SourceFlags = source.Flags;
  cm.TargetFlags = target.Flags;
}

// Converts one interleaved row into a target of targetBytes bytes that
// starts out filled with fill.
Bytes Row(TColorManager& cm, const Bytes& source, size_t targetBytes, uint32_t count, uint8_t mask = 0xFF,
          uint8_t fill = 0xEE) {
  Bytes target(targetBytes, fill);
  cm.ConvertRow(source, target.data(), count, mask);
  return target;
}

Bytes Planes(TColorManager& cm, const std::vector<Bytes>& planes, size_t targetBytes, uint32_t count,
             uint8_t mask = 0xFF, uint8_t fill = 0xEE) {
  const std::vector<TRowPlane> rows(planes.begin(), planes.end());
  Bytes target(targetBytes, fill);
  cm.ConvertRow(TRowPlanes(rows), target.data(), count, mask);
  return target;
}

Bytes LE16(std::initializer_list<uint16_t> values) {
  Bytes b;
  for (uint16_t v : values) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
  }
  return b;
}
Bytes BE16(std::initializer_list<uint16_t> values) {
  Bytes b;
  for (uint16_t v : values) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
  }
  return b;
}

template <class F> std::string FailureOf(F&& f) {
  try {
    f();
  } catch (const EColorConversionError& e) {
    return e.Message;
  }
  return "";
}

}  // namespace

// ---- Three-colour rows -------------------------------------------------------

TEST(ColorRowsThreeColour, OrderAndAlpha) {
  TColorManager cm;
  // RGBA into BGRA: alpha copied unchanged even under gamma.
  Prepare(cm, {ckRGBA, 8}, {ckBGRA, 8, cvGamma});
  EXPECT_EQ(Row(cm, {1, 128, 255, 77}, 4, 1), (Bytes{255, 186, 21, 77}));
  // RGB into BGRA: the target alpha stays as it was.
  Prepare(cm, {ckRGB, 8}, {ckBGRA, 8});
  EXPECT_EQ(Row(cm, {1, 2, 3, 4, 5, 6}, 8, 2), (Bytes{3, 2, 1, 0xEE, 6, 5, 4, 0xEE}));
  // RGBA into BGR: the source alpha is stepped over.
  Prepare(cm, {ckRGBA, 8}, {ckBGR, 8});
  EXPECT_EQ(Row(cm, {1, 2, 3, 4, 5, 6, 7, 8}, 6, 2), (Bytes{3, 2, 1, 7, 6, 5}));
  // Same order keeps positions; BGR into RGB exchanges.
  Prepare(cm, {ckBGRA, 8}, {ckBGRA, 8});
  EXPECT_EQ(Row(cm, {1, 2, 3, 4}, 4, 1), (Bytes{1, 2, 3, 4}));
  Prepare(cm, {ckBGR, 8}, {ckRGB, 8});
  EXPECT_EQ(Row(cm, {1, 2, 3}, 3, 1), (Bytes{3, 2, 1}));
  Prepare(cm, {ckRGB, 8}, {ckRGBA, 8});
  EXPECT_EQ(Row(cm, {1, 2, 3}, 4, 1), (Bytes{1, 2, 3, 0xEE}));
}

TEST(ColorRowsThreeColour, DepthsAndByteOrder) {
  TColorManager cm;
  // Big-endian 16-bit RGB into 8-bit BGR: swapped, then scaled.
  Prepare(cm, {ckRGB, 16, cvSwap16}, {ckBGR, 8});
  EXPECT_EQ(Row(cm, BE16({0xFFFF, 0x0101, 0x8000}), 3, 1), (Bytes{127, 1, 255}));
  // The same values low byte first.
  Prepare(cm, {ckRGB, 16}, {ckBGR, 8});
  EXPECT_EQ(Row(cm, LE16({0xFFFF, 0x0101, 0x8000}), 3, 1), (Bytes{127, 1, 255}));
  // Gamma on colours but not on alpha at 16 to 8 bits.
  Prepare(cm, {ckRGBA, 16}, {ckRGBA, 8, cvGamma});
  EXPECT_EQ(Row(cm, LE16({257, 128 * 257, 0, 257}), 4, 1), (Bytes{21, 186, 0, 1}));
  // 8 to 16 bits: v x 257 (gamma first); alpha never through the table.
  Prepare(cm, {ckBGRA, 8, cvSwap16}, {ckBGRA, 16, cvGamma});
  EXPECT_EQ(Row(cm, {1, 0, 255, 1}, 8, 1), LE16({21 * 257, 0, 65535, 257}));
  Prepare(cm, {ckBGR, 8}, {ckRGB, 16, cvGamma});
  EXPECT_EQ(Row(cm, {0, 128, 1}, 6, 1), LE16({21 * 257, 186 * 257, 0}));
  // 16 to 16: swapped under cvSwap16, never through gamma.
  Prepare(cm, {ckRGBA, 16, cvSwap16}, {ckBGRA, 16, cvGamma});
  EXPECT_EQ(Row(cm, BE16({0x1234, 0x0001, 0xABCD, 0x8001}), 8, 1), LE16({0xABCD, 0x0001, 0x1234, 0x8001}));
  Prepare(cm, {ckRGB, 16}, {ckRGB, 16});
  EXPECT_EQ(Row(cm, LE16({0x1234, 0x0001, 0xABCD}), 6, 1), LE16({0x1234, 0x0001, 0xABCD}));
  // A pair other than 8/16 writes nothing.
  Prepare(cm, {ckBGR, 5}, {ckBGR, 5});
  EXPECT_EQ(Row(cm, {1, 2, 3}, 3, 1), (Bytes{0xEE, 0xEE, 0xEE}));
  Prepare(cm, {ckBGR, 8}, {ckBGR, 12});
  EXPECT_EQ(Row(cm, {1, 2, 3}, 6, 1), Bytes(6, 0xEE));
}

TEST(ColorRowsThreeColour, PlanarRows) {
  TColorManager cm;
  Prepare(cm, {ckRGB, 8}, {ckBGR, 8});
  EXPECT_EQ(Planes(cm, {{1, 4}, {2, 5}, {3, 6}}, 6, 2), (Bytes{3, 2, 1, 6, 5, 4}));
  // A fourth plane is ignored without alpha on both sides.
  EXPECT_EQ(Planes(cm, {{1}, {2}, {3}, {9}}, 3, 1), (Bytes{3, 2, 1}));
  Prepare(cm, {ckRGBA, 16, cvSwap16}, {ckBGRA, 8});
  EXPECT_EQ(Planes(cm, {BE16({0xFFFF}), BE16({0x0101}), BE16({0}), BE16({0x0202})}, 4, 1), (Bytes{0, 1, 255, 2}));
  // Too few planes, or a missing one, is refused before anything is read.
  const std::string missing = GraphicColorStrings::SMissingSamplePlanes;
  EXPECT_EQ(FailureOf([&] { Planes(cm, {{1}, {2}, {3}}, 4, 1); }), missing);
  Prepare(cm, {ckRGB, 8}, {ckBGR, 8});
  EXPECT_EQ(FailureOf([&] { Planes(cm, {{1}, {2}}, 3, 1); }), missing);
  uint8_t out[3];
  const uint8_t plane[1] = {1};
  EXPECT_EQ(FailureOf([&] { cm.ConvertRow(TRowPlanes(), out, 1, 0xFF); }), missing);
  // An empty plane holds fewer samples than a pixel needs.
  const std::string shortRow = GraphicColorStrings::SShortSampleRow;
  EXPECT_EQ(FailureOf([&] { cm.ConvertRow({TRowPlane(plane), TRowPlane(), TRowPlane(plane)}, out, 1, 0xFF); }),
            shortRow);
  EXPECT_EQ(FailureOf([&] { cm.ConvertRow(TRowPlane(), out, 1, 0xFF); }), shortRow);
  // Count 0 reads and writes nothing.
  EXPECT_EQ(FailureOf([&] { cm.ConvertRow(TRowPlanes(), nullptr, 0, 0xFF); }), "");
}

TEST(ColorRowsThreeColour, PixelMask) {
  TColorManager cm;
  Prepare(cm, {ckRGB, 8}, {ckRGB, 8});
  // 0x55: pixels 1, 3, 5, 7 take the four source pixels in turn.
  Bytes source;
  for (uint8_t p = 1; p <= 4; ++p) source.insert(source.end(), {p, p, p});
  Bytes expected(24, 0xEE);
  for (int k = 0; k < 4; ++k)
    for (int c = 0; c < 3; ++c) expected[(2 * k + 1) * 3 + c] = static_cast<uint8_t>(k + 1);
  EXPECT_EQ(Row(cm, source, 24, 8, 0x55), expected);
  // The mask repeats every eight pixels: 0x80 over 11 pixels takes 0 and 8.
  Bytes out = Row(cm, {1, 1, 1, 2, 2, 2}, 33, 11, 0x80);
  for (int i = 0; i < 11; ++i) {
    const uint8_t want = i == 0 ? 1 : i == 8 ? 2 : 0xEE;
    EXPECT_EQ(out[i * 3], want) << i;
  }
  // Mask 0 walks the row and writes nothing.
  EXPECT_EQ(Row(cm, {1, 2, 3}, 9, 3, 0x00), Bytes(9, 0xEE));
}

// ---- CMYK --------------------------------------------------------------------

TEST(ColorRowsCmyk, InksAndBlack) {
  TColorManager cm;
  Prepare(cm, {ckCMYK, 8}, {ckRGB, 8});
  EXPECT_EQ(Row(cm, {0, 0, 0, 0}, 3, 1), (Bytes{255, 255, 255}));
  EXPECT_EQ(Row(cm, {255, 0, 0, 0}, 3, 1), (Bytes{0, 255, 255}));
  EXPECT_EQ(Row(cm, {12, 200, 99, 255}, 3, 1), (Bytes{0, 0, 0}));
  // 255 - 100 - 50 + 100 x 50 div 255 = 124.
  EXPECT_EQ(Row(cm, {100, 0, 0, 50}, 3, 1), (Bytes{124, 205, 205}));
  Prepare(cm, {ckCMYK, 8}, {ckBGRA, 8});
  EXPECT_EQ(Row(cm, {100, 0, 255, 50}, 4, 1), (Bytes{0, 205, 124, 0xEE}));
  Prepare(cm, {ckCMYK, 8}, {ckBGR, 16});
  EXPECT_EQ(Row(cm, {100, 0, 255, 50}, 6, 1), LE16({0, 205 * 257, 124 * 257}));
}

TEST(ColorRowsCmyk, PlanesAndWideSamples) {
  TColorManager cm;
  Prepare(cm, {ckCMYK, 8}, {ckRGB, 8});
  // Exactly four pointers are planes; three pointers read the first as an
  // interleaved row.
  EXPECT_EQ(Planes(cm, {{100, 0}, {0, 0}, {0, 0}, {50, 255}}, 6, 2), (Bytes{124, 205, 205, 0, 0, 0}));
  EXPECT_EQ(Planes(cm, {{100, 0, 0, 50}, {1}, {2}}, 3, 1), (Bytes{124, 205, 205}));
  // 16-bit inks in either byte order.
  const uint16_t c = 100 * 257, k = 50 * 257;
  for (bool swap : {false, true}) {
    Prepare(cm, {ckCMYK, 16, TConvertOptions(swap ? cvSwap16 : 0)}, {ckRGB, 8});
    const Bytes row = swap ? BE16({c, 0, 65535, k}) : LE16({c, 0, 65535, k});
    // coverage = c - c x k div 65535 + k = 33511; 255 - 33511 x 255 div 65535 = 125.
    EXPECT_EQ(Row(cm, row, 3, 1), (Bytes{125, 205, 0})) << swap;
    Prepare(cm, {ckCMYK, 16, TConvertOptions(swap ? cvSwap16 : 0)}, {ckRGB, 16});
    EXPECT_EQ(Row(cm, row, 6, 1), LE16({65535 - 33511, 65535 - k, 0})) << swap;
  }
}

// ---- L*a*b* -------------------------------------------------------------------

TEST(ColorRowsLab, WhiteBlackAndScales) {
  TColorManager cm;
  Prepare(cm, {ckLab, 8, cvLabLightness255 | cvLabOffset128}, {ckRGB, 8});
  EXPECT_EQ(Row(cm, {255, 128, 128}, 3, 1), (Bytes{255, 255, 255}));
  EXPECT_EQ(Row(cm, {0, 128, 128}, 3, 1), (Bytes{0, 0, 0}));
  // Plain L* and signed chroma: the same colours.
  Prepare(cm, {ckLab, 8}, {ckRGB, 8});
  EXPECT_EQ(Row(cm, {100, 0, 0}, 3, 1), (Bytes{255, 255, 255}));
  EXPECT_EQ(Row(cm, {0, 0, 0}, 3, 1), (Bytes{0, 0, 0}));
  // A strong red (L 54, a 80, b 67); a* of -128 (0x80) is green.
  const Bytes red = Row(cm, {54, 80, 67}, 3, 1);
  EXPECT_EQ(red, (Bytes{255, 0, 6}));
  EXPECT_EQ(Row(cm, {60, 0x80, 0}, 3, 1), (Bytes{0, 125, 66}));
  // BGR order, planar rows, and a 16-bit target expanded from the byte.
  Prepare(cm, {ckLab, 8}, {ckBGR, 8});
  EXPECT_EQ(Planes(cm, {{54}, {80}, {67}}, 3, 1), (Bytes{red[2], red[1], red[0]}));
  Prepare(cm, {ckLab, 8}, {ckRGB, 16});
  EXPECT_EQ(Row(cm, {54, 80, 67}, 6, 1), LE16({uint16_t(red[0] * 257), uint16_t(red[1] * 257), uint16_t(red[2] * 257)}));
}

TEST(ColorRowsLab, WideSamplesMatchBytes) {
  // 16-bit L* over 0..65535 and chroma in 256ths give the colours of the
  // corresponding bytes, in either byte order and with either chroma scale.
  TColorManager byteManager, wideManager;
  for (TConvertOptions flags : std::initializer_list<TConvertOptions>{0, cvLabLightness255 | cvLabOffset128, cvLabOffset128}) {
    for (bool swap : {false, true}) {
      Prepare(byteManager, {ckLab, 8, flags}, {ckBGR, 8});
      Prepare(wideManager, {ckLab, 16, TConvertOptions(flags | (swap ? cvSwap16 : 0))}, {ckBGR, 8});
      for (const Bytes& lab : {Bytes{54, 80, 67}, Bytes{90, 200, 10}, Bytes{30, 128, 128}, Bytes{7, 250, 3}}) {
        const Bytes expected = Row(byteManager, lab, 3, 1);
        const uint16_t l = static_cast<uint16_t>(lab[0] * 257);
        const uint16_t a = static_cast<uint16_t>(lab[1] << 8), b = static_cast<uint16_t>(lab[2] << 8);
        EXPECT_EQ(Row(wideManager, swap ? BE16({l, a, b}) : LE16({l, a, b}), 3, 1), expected)
            << int(flags) << " " << swap << " " << int(lab[0]);
      }
    }
  }
  // 16 to 16 bits keeps full precision: white is 65535.
  TColorManager cm;
  Prepare(cm, {ckLab, 16, cvLabLightness255 | cvLabOffset128}, {ckRGB, 16});
  EXPECT_EQ(Row(cm, LE16({65535, 32768, 32768}), 6, 1), LE16({65535, 65535, 65535}));
  EXPECT_EQ(Row(cm, LE16({0, 32768, 32768}), 6, 1), LE16({0, 0, 0}));
}

// ---- YCbCr and Photo YCC --------------------------------------------------------

TEST(ColorRowsChroma, YCbCr) {
  TColorManager cm;
  Prepare(cm, {ckYCbCr, 8}, {ckRGB, 8});
  for (uint8_t y : std::initializer_list<uint8_t>{0, 1, 77, 200, 255}) EXPECT_EQ(Row(cm, {y, 128, 128}, 3, 1), (Bytes{y, y, y}));
  // Red 178, green -91 clamped to 0, blue 0.
  EXPECT_EQ(Row(cm, {0, 128, 255}, 3, 1), (Bytes{178, 0, 0}));
  Prepare(cm, {ckYCbCr, 8}, {ckBGRA, 8});
  EXPECT_EQ(Row(cm, {0, 128, 255}, 4, 1), (Bytes{0, 0, 178, 0xEE}));
  EXPECT_EQ(Planes(cm, {{0, 50}, {128, 128}, {255, 128}}, 8, 2), (Bytes{0, 0, 178, 0xEE, 50, 50, 50, 0xEE}));
  // Y 100, Cb 200, Cr 60: blue 100 + [72 x 1.772] = 228, red 100 + [-68 x 1.402] = 5,
  // green 100 - [72 x 0.344136] - [-68 x 0.714136] = 100 - 25 + 49 = 124.
  Prepare(cm, {ckYCbCr, 8}, {ckRGB, 8});
  EXPECT_EQ(Row(cm, {100, 200, 60}, 3, 1), (Bytes{5, 124, 228}));
  // 8-bit source to a 16-bit target: the bytes expanded.
  Prepare(cm, {ckYCbCr, 8}, {ckRGB, 16});
  EXPECT_EQ(Row(cm, {100, 200, 60}, 6, 1), LE16({5 * 257, 124 * 257, 228 * 257}));
  // 16 to 16 bits: grey stays grey, colours stay near the 8-bit result.
  for (bool swap : {false, true}) {
    Prepare(cm, {ckYCbCr, 16, TConvertOptions(swap ? cvSwap16 : 0)}, {ckRGB, 16});
    auto row = [&](uint16_t y, uint16_t cb, uint16_t cr) { return swap ? BE16({y, cb, cr}) : LE16({y, cb, cr}); };
    EXPECT_EQ(Row(cm, row(12345, 128 * 257, 128 * 257), 6, 1), LE16({12345, 12345, 12345}));
    const Bytes out = Row(cm, row(100 * 257, 200 * 257, 60 * 257), 6, 1);
    const int expected[3] = {5 * 257, 124 * 257, 228 * 257};
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(out[2 * c] | out[2 * c + 1] << 8, expected[c], 257);
    EXPECT_EQ(Row(cm, row(0, 128 * 257, 65535), 6, 1), LE16({45760, 0, 0}));  // 32639 x 1.402; green clamped, not wrapped
  }
}

TEST(ColorRowsChroma, PhotoYcc) {
  TColorManager cm;
  Prepare(cm, {ckPhotoYCC, 8}, {ckBGR, 8});
  for (uint8_t y : std::initializer_list<uint8_t>{0, 30, 128, 255}) EXPECT_EQ(Row(cm, {y, 156, 137}, 3, 1), (Bytes{y, y, y}));
  // The first chroma channel drives blue: 44 x 1.772 = 77.968, 44 x 0.344136 = 15.14.
  EXPECT_EQ(Row(cm, {100, 200, 137}, 3, 1), (Bytes{178, 85, 100}));
  Prepare(cm, {ckPhotoYCC, 16, cvSwap16}, {ckRGB, 8});
  EXPECT_EQ(Row(cm, BE16({100 * 257, 200 * 257, 137 * 257}), 3, 1), (Bytes{100, 85, 178}));
  Prepare(cm, {ckPhotoYCC, 16}, {ckRGB, 16});
  EXPECT_EQ(Row(cm, LE16({4321, 156 * 257, 137 * 257}), 6, 1), LE16({4321, 4321, 4321}));
}

TEST(ColorRowsChroma, MaskAndPlanes) {
  TColorManager cm;
  Prepare(cm, {ckYCbCr, 8}, {ckRGB, 8});
  // Planar rows of the selected pixels only: 0x22 over 8 pixels takes 2 and 6.
  const Bytes out = Planes(cm, {{10, 20}, {128, 128}, {128, 128}}, 24, 8, 0x22);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(out[3 * i], i == 2 ? 10 : i == 6 ? 20 : 0xEE) << i;
  EXPECT_EQ(FailureOf([&] { Planes(cm, {{1}, {2}}, 3, 1); }), GraphicColorStrings::SMissingSamplePlanes);
}

// ---- Grey rows ------------------------------------------------------------------

TEST(ColorRowsGrey, DepthsAlphaAndByteOrder) {
  TColorManager cm;
  Prepare(cm, {ckGrey, 16}, {ckGrey, 8});
  EXPECT_EQ(Row(cm, LE16({0xFFFF, 0x0101, 0x0100}), 3, 3), (Bytes{255, 1, 0}));
  Prepare(cm, {ckGrey, 16, cvSwap16}, {ckGrey, 8, cvGamma});  // no gamma in grey rows
  EXPECT_EQ(Row(cm, BE16({0xFFFF, 0x0101, 0xFF00}), 3, 3), (Bytes{255, 1, 254}));
  Prepare(cm, {ckGrey, 16, cvSwap16}, {ckGrey, 16});
  EXPECT_EQ(Row(cm, BE16({0x1234, 0xFF00}), 4, 2), LE16({0x1234, 0xFF00}));
  Prepare(cm, {ckGrey, 16}, {ckIndexed, 16});
  EXPECT_EQ(Row(cm, LE16({0x1234, 0xFF00}), 4, 2), LE16({0x1234, 0xFF00}));
  // 8 to 16: expanded, never swapped.
  Prepare(cm, {ckGrey, 8, cvSwap16}, {ckGrey, 16});
  EXPECT_EQ(Row(cm, {1, 254}, 4, 2), LE16({257, 254 * 257}));
  // Grey with alpha: the alpha sample is stepped over.
  Prepare(cm, {ckGreyAlpha, 8}, {ckIndexed, 8});
  EXPECT_EQ(Row(cm, {10, 99, 20, 99, 30, 99}, 3, 3), (Bytes{10, 20, 30}));
  Prepare(cm, {ckGreyAlpha, 16, cvSwap16}, {ckGrey, 8});
  EXPECT_EQ(Row(cm, BE16({0xFFFF, 1, 0x8080, 1}), 2, 2), (Bytes{255, 128}));
  // Mask: 0x40 over 10 pixels takes pixels 1 and 9.
  Prepare(cm, {ckGreyAlpha, 8}, {ckGrey, 16});
  EXPECT_EQ(Row(cm, {1, 0, 2, 0}, 20, 10, 0x40, 0),
            LE16({0, 257, 0, 0, 0, 0, 0, 0, 0, 514}));
}

// ---- Indexed rows ----------------------------------------------------------------

TEST(ColorRowsIndexed, MaskInSharedBytes) {
  // 0x55 over 8 pixels writes pixels 1, 3, 5, 7 from four packed source
  // pixels and keeps the bits of pixels 0, 2, 4, 6.
  TColorManager cm;
  Prepare(cm, {ckIndexed, 1}, {ckIndexed, 1});
  // Source pixels 1, 0, 1, 1 into target pixels 1, 3, 5, 7 of 0xFF and 0x00.
  EXPECT_EQ(Row(cm, {0b10110000}, 1, 8, 0x55, 0xFF), (Bytes{0b11101111}));
  EXPECT_EQ(Row(cm, {0b10110000}, 1, 8, 0x55, 0x00), (Bytes{0b01000101}));
  Prepare(cm, {ckIndexed, 2}, {ckIndexed, 2});
  // Source pixels 3, 2, 1, 0.
  EXPECT_EQ(Row(cm, {0b11100100}, 2, 8, 0x55, 0x00), (Bytes{0b00110010, 0b00010000}));
  EXPECT_EQ(Row(cm, {0b11100100}, 2, 8, 0x55, 0xFF), (Bytes{0b11111110, 0b11011100}));
  Prepare(cm, {ckIndexed, 4}, {ckIndexed, 4});
  EXPECT_EQ(Row(cm, {0x12, 0x3A}, 4, 8, 0x55, 0xEE), (Bytes{0xE1, 0xE2, 0xE3, 0xEA}));
}

TEST(ColorRowsIndexed, OddCountKeepsTrailingBits) {
  TColorManager cm;
  // The copy path and the rescaling path both keep the low nibble.
  Prepare(cm, {ckIndexed, 4}, {ckIndexed, 4});
  EXPECT_EQ(Row(cm, {0x12, 0x34}, 2, 3), (Bytes{0x12, 0x3E}));
  Prepare(cm, {ckIndexed, 1}, {ckIndexed, 4});
  EXPECT_EQ(Row(cm, {0b10100000}, 2, 3), (Bytes{0xF0, 0xFE}));
  Prepare(cm, {ckIndexed, 16}, {ckIndexed, 4});
  EXPECT_EQ(Row(cm, LE16({0xFFFF, 0, 0x8888}), 2, 3), (Bytes{0xF0, 0x8E}));
  Prepare(cm, {ckIndexed, 1}, {ckIndexed, 1});
  EXPECT_EQ(Row(cm, {0xA5, 0xFF}, 2, 12, 0xFF, 0x00), (Bytes{0xA5, 0xF0}));
  // Same depth and full mask is a copy.
  Prepare(cm, {ckGrey, 8}, {ckGrey, 8});
  EXPECT_EQ(Row(cm, {9, 8, 7}, 3, 3), (Bytes{9, 8, 7}));
  // Count 0 writes nothing.
  EXPECT_EQ(Row(cm, {}, 1, 0), (Bytes{0xEE}));
}

TEST(ColorRowsIndexed, SixteenBitIndices) {
  TColorManager cm;
  Prepare(cm, {ckIndexed, 16}, {ckIndexed, 16});
  EXPECT_EQ(Row(cm, LE16({1, 0x1234}), 4, 2), LE16({1, 0x1234}));
  EXPECT_EQ(Row(cm, LE16({7}), 6, 3, 0x20, 0), LE16({0, 0, 7}));
  Prepare(cm, {ckIndexed, 16, cvSwap16}, {ckIndexed, 16});
  EXPECT_EQ(Row(cm, BE16({1, 0x1234}), 4, 2), LE16({1, 0x1234}));
  EXPECT_EQ(Row(cm, BE16({0xABCD}), 6, 3, 0x40, 0), LE16({0, 0xABCD, 0}));
  // 16 to 8 and fewer bits: scaled and packed, byte order honoured.
  Prepare(cm, {ckIndexed, 16, cvSwap16}, {ckIndexed, 8});
  EXPECT_EQ(Row(cm, BE16({0xFFFF, 0x0101, 0x0100}), 3, 3), (Bytes{255, 1, 0}));
  Prepare(cm, {ckIndexed, 16}, {ckIndexed, 2});
  EXPECT_EQ(Row(cm, LE16({0xFFFF}), 1, 4, 0x20, 0x00), (Bytes{0b00001100}));
  // Fewer bits to 16: v x 65535 div (2^s - 1), stored swapped under cvSwap16.
  Prepare(cm, {ckIndexed, 2}, {ckIndexed, 16});
  EXPECT_EQ(Row(cm, {0b01100000}, 6, 3, 0x60, 0), LE16({0, 0x5555, 0xAAAA}));
  Prepare(cm, {ckIndexed, 3, cvSwap16}, {ckIndexed, 16});
  EXPECT_EQ(Row(cm, {0b00100000}, 2, 1), BE16({9362}));
  // Depths the member does not handle write nothing.
  Prepare(cm, {ckIndexed, 12}, {ckIndexed, 16});
  EXPECT_EQ(Row(cm, {1, 2}, 2, 1), (Bytes{0xEE, 0xEE}));
  Prepare(cm, {ckIndexed, 16}, {ckIndexed, 12});
  EXPECT_EQ(Row(cm, {1, 2}, 2, 1), (Bytes{0xEE, 0xEE}));
}

TEST(ColorRowsIndexed, OddDepthsAreBitStreams) {
  // Depths that do not divide a byte pack as one continuous stream, most
  // significant bits first.
  TColorManager cm;
  Prepare(cm, {ckIndexed, 3}, {ckIndexed, 8});
  // 3-bit fields 7, 0, 5, 2, 6 from 111 000 10|1 010 110 (bits).
  EXPECT_EQ(Row(cm, {0b11100010, 0b10101100}, 5, 5), (Bytes{255, 0, 182, 72, 218}));
  Prepare(cm, {ckIndexed, 8}, {ckIndexed, 3});
  EXPECT_EQ(Row(cm, {255, 0, 183, 73, 219}, 2, 5, 0xFF, 0), (Bytes{0b11100010, 0b10101100}));
  Prepare(cm, {ckIndexed, 5}, {ckIndexed, 5});
  EXPECT_EQ(Row(cm, {0xAB, 0xCD}, 2, 3, 0xFF, 0x00), (Bytes{0xAB, 0xCC}));
}

TEST(ColorRowsSourceLengths, ARowShorterThanTheConversionReadsIsRefused) {
  // Each layout with the shortest row it converts: one byte less is refused
  // and the target keeps its bytes.
  struct Case {
    Side Source, Target;
    size_t Planes;
    size_t Bytes;  // of each plane, for 5 target pixels
    uint8_t Mask;
  };
  const Case cases[] = {
      {{ckIndexed, 4}, {ckIndexed, 8}, 1, 3, 0xFF},             // 20 bits
      {{ckIndexed, 1}, {ckIndexed, 1}, 1, 1, 0xFF},             // the plain copy
      {{ckIndexed, 16}, {ckIndexed, 8}, 1, 10, 0xFF},
      {{ckGrey, 16}, {ckGrey, 8}, 1, 10, 0xFF},
      {{ckGreyAlpha, 8}, {ckGrey, 8}, 1, 9, 0xFF},              // the last alpha is not read
      {{ckRGBA, 8}, {ckBGR, 8}, 1, 19, 0xFF},                   // nor here
      {{ckRGBA, 8}, {ckBGRA, 8}, 1, 20, 0xFF},
      {{ckRGB, 16}, {ckBGR, 8}, 1, 30, 0xFF},
      {{ckRGB, 8}, {ckBGR, 8}, 3, 5, 0xFF},
      {{ckRGB, 8}, {ckBGR, 8}, 1, 6, 0x90},                     // pixels 0 and 3 only
      {{ckCMYK, 8}, {ckBGR, 8}, 1, 20, 0xFF},
      {{ckCMYK, 16}, {ckBGR, 8}, 4, 10, 0xFF},
      {{ckLab, 8}, {ckBGR, 8}, 1, 15, 0xFF},
      {{ckYCbCr, 8}, {ckBGR, 8}, 3, 5, 0xFF},
      {{ckPhotoYCC, 8}, {ckBGR, 8}, 1, 15, 0xFF},
  };
  for (const Case& c : cases) {
    TColorManager cm;
    Prepare(cm, c.Source, c.Target);
    const std::vector<Bytes> whole(c.Planes, Bytes(c.Bytes, 0x40));
    EXPECT_EQ(FailureOf([&] { Planes(cm, whole, 40, 5, c.Mask); }), "") << int(c.Source.Scheme);
    for (size_t shortened = 0; shortened < c.Planes; ++shortened) {
      std::vector<Bytes> rows = whole;
      rows[shortened].pop_back();
      const std::vector<TRowPlane> planes(rows.begin(), rows.end());
      Bytes target(40, 0xEE);
      EXPECT_EQ(FailureOf([&] { cm.ConvertRow(TRowPlanes(planes), target.data(), 5, c.Mask); }),
                GraphicColorStrings::SShortSampleRow)
          << int(c.Source.Scheme) << " plane " << shortened;
      EXPECT_EQ(target, Bytes(40, 0xEE));
    }
  }
  // A mask that selects nothing, and a depth pair no member converts, read nothing.
  TColorManager cm;
  Prepare(cm, {ckRGB, 8}, {ckBGR, 8});
  EXPECT_EQ(FailureOf([&] { Row(cm, {1}, 3, 8, 0x00); }), "");
  Prepare(cm, {ckIndexed, 12}, {ckIndexed, 8});
  EXPECT_EQ(FailureOf([&] { Row(cm, {1}, 3, 8); }), "");
}

// ---- Whole rows -----------------------------------------------------------------

// Whole 8-bit rows take loops of their own; under any other mask a row goes
// through the pixel walk. A row converted whole must hold, pixel for pixel,
// what the walk writes under a mask and under its complement, for every
// order, alpha and gamma, interleaved and planar, at every count (the
// shuffles work five pixels at a time). Two fills show any byte written that
// should have been left.
namespace {

Bytes RandomBytes(std::mt19937& random, size_t n) {
  Bytes b(n);
  for (uint8_t& v : b) v = static_cast<uint8_t>(random());
  return b;
}

bool Selected(uint8_t mask, size_t pixel) { return (mask & (0x80 >> (pixel % 8))) != 0; }

// The row's pixels under the mask, into a target that starts out as fill.
Bytes Masked(TColorManager& cm, const Bytes& row, size_t samples, bool planar, uint32_t count, size_t stride,
             uint8_t mask, uint8_t fill) {
  Bytes picked;
  for (size_t i = 0; i < count; ++i)
    if (Selected(mask, i)) picked.insert(picked.end(), row.begin() + i * samples, row.begin() + (i + 1) * samples);
  if (!planar) {
    picked.push_back(0);  // an empty row still needs an address
    return Row(cm, picked, count * stride, count, mask, fill);
  }
  std::vector<Bytes> planes(samples);
  for (size_t i = 0; i < picked.size(); ++i) planes[i % samples].push_back(picked[i]);
  for (Bytes& plane : planes) plane.push_back(0);
  return Planes(cm, planes, count * stride, count, mask, fill);
}

// The pixels of a row converted under mask and under its complement.
Bytes Walked(TColorManager& cm, const Bytes& row, size_t samples, bool planar, uint32_t count, size_t stride,
             uint8_t mask, uint8_t fill) {
  const Bytes some = Masked(cm, row, samples, planar, count, stride, mask, fill);
  const Bytes others = Masked(cm, row, samples, planar, count, stride, static_cast<uint8_t>(~mask), fill);
  Bytes out(some.size());
  for (size_t i = 0; i < count; ++i)
    for (size_t k = 0; k < stride; ++k) out[i * stride + k] = (Selected(mask, i) ? some : others)[i * stride + k];
  return out;
}

}  // namespace

TEST(ColorRowsThreeColour, WholeRowsMatchThePixelWalk) {
  std::mt19937 random(29);
  const TColorSchemeKind schemes[] = {ckRGB, ckRGBA, ckBGR, ckBGRA};
  std::vector<uint32_t> counts;
  for (uint32_t n = 1; n <= 23; ++n) counts.push_back(n);
  counts.insert(counts.end(), {37, 2000, 2001});
  for (TColorSchemeKind from : schemes)
    for (TColorSchemeKind to : schemes)
      for (TConvertOptions gamma : {TConvertOptions{0}, cvGamma})
        for (bool planar : {false, true}) {
          TColorManager cm;
          Prepare(cm, {from, 8}, {to, 8, gamma});
          cm.SetGammaValues(1.0f, 1.7f);
          const size_t samples = from == ckRGBA || from == ckBGRA ? 4 : 3;
          const size_t stride = to == ckRGBA || to == ckBGRA ? 4 : 3;
          for (uint32_t count : counts)
            for (uint8_t fill : {uint8_t{0x00}, uint8_t{0xEE}}) {
              SCOPED_TRACE(testing::Message() << int{from} << " to " << int{to} << " gamma " << int{gamma}
                                              << " planar " << planar << " count " << count);
              const Bytes row = RandomBytes(random, count * samples);
              const Bytes whole = Masked(cm, row, samples, planar, count, stride, 0xFF, fill);
              ASSERT_EQ(whole, Walked(cm, row, samples, planar, count, stride, 0xF0, fill));
              if (count != 37) continue;
              for (int mask = 1; mask < 255; ++mask)
                ASSERT_EQ(whole, Walked(cm, row, samples, planar, count, stride, static_cast<uint8_t>(mask), fill))
                    << "mask " << mask;
            }
        }
}

TEST(ColorRowsGrey, WholeRowsMatchThePixelWalk) {
  std::mt19937 random(31);
  TColorManager cm;
  Prepare(cm, {ckGreyAlpha, 8}, {ckGrey, 8});
  for (uint32_t count : {1u, 2u, 7u, 8u, 9u, 37u, 2001u}) {
    const Bytes row = RandomBytes(random, count * 2);
    EXPECT_EQ(Masked(cm, row, 2, false, count, 1, 0xFF, 0xEE), Walked(cm, row, 2, false, count, 1, 0x0F, 0xEE))
        << count;
  }
}

// What a reader relies on to convert straight into a bitmap's rows: rows
// said to be overwritten do not depend on what the target held, and rows
// said to convert in place come out as they do from a copy.
TEST(ColorRows, TargetsOverwrittenAndRowsConvertedInPlaceAreAsAnswered) {
  struct TCase {
    Side From, To;
    size_t SourceBits, TargetBits;  // a pixel's
    bool Overwrites, InPlace;
  };
  const TCase cases[] = {
      {{ckRGB, 8}, {ckBGR, 8}, 24, 24, true, true},
      {{ckBGR, 8}, {ckBGR, 8}, 24, 24, true, true},
      {{ckRGBA, 8}, {ckBGRA, 8}, 32, 32, true, true},
      {{ckRGB, 8}, {ckBGR, 8, cvGamma}, 24, 24, true, false},
      {{ckRGB, 8}, {ckBGRA, 8}, 24, 32, false, false},  // the target's alpha stays
      {{ckRGB, 16, cvSwap16}, {ckBGR, 8}, 48, 24, true, false},
      {{ckCMYK, 8}, {ckBGR, 8}, 32, 24, true, false},
      {{ckYCbCr, 8}, {ckBGR, 8}, 24, 24, true, false},
      {{ckLab, 8}, {ckBGR, 8}, 24, 24, true, false},
      {{ckGrey, 8}, {ckGrey, 8}, 8, 8, true, true},
      {{ckGrey, 16}, {ckGrey, 8}, 16, 8, true, false},
      {{ckGreyAlpha, 8}, {ckGrey, 8}, 16, 8, true, false},
      {{ckIndexed, 8}, {ckIndexed, 8}, 8, 8, true, true},
      {{ckIndexed, 4}, {ckIndexed, 4}, 4, 4, false, false},  // the last byte's other pixel stays
  };
  std::mt19937 random(41);
  for (const TCase& c : cases) {
    TColorManager cm;
    Prepare(cm, c.From, c.To);
    EXPECT_FALSE(cm.OverwritesTargetRows() || cm.ConvertsInPlace()) << "before the settings are prepared";
    cm.PrepareConversion();
    SCOPED_TRACE(testing::Message() << int{c.From.Scheme} << "/" << int{c.From.Bits} << " to " << int{c.To.Scheme});
    ASSERT_EQ(cm.OverwritesTargetRows(), c.Overwrites);
    ASSERT_EQ(cm.ConvertsInPlace(), c.InPlace);
    for (uint32_t count : {1u, 2u, 5u, 6u, 7u, 10u, 11u, 12u, 16u, 37u, 2001u}) {
      const Bytes row = RandomBytes(random, (count * c.SourceBits + 7) / 8);
      const size_t targetBytes = (count * c.TargetBits + 7) / 8;
      const Bytes converted = Row(cm, row, targetBytes, count, 0xFF, 0x00);
      if (c.Overwrites) {
        ASSERT_EQ(Row(cm, row, targetBytes, count, 0xFF, 0xFF), converted) << count;
      }
      if (!c.InPlace) continue;
      Bytes inPlace = row;
      cm.ConvertRow(inPlace, inPlace.data(), count, 0xFF);
      ASSERT_EQ(inPlace, converted) << count;
    }
  }
}
