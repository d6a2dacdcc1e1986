// Settings, tables, converter choice and palettes of the colour manager.
#include "graphics/GraphicColor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace tolvane;
namespace S = GraphicColorStrings;

namespace {

// Runs f and returns the message of the EColorConversionError it raises
// ("" when it raises nothing).
template <class F> std::string FailureOf(F&& f) {
  try {
    f();
  } catch (const EColorConversionError& e) {
    EXPECT_STREQ(e.ClassName(), "EColorConversionError");
    return e.Message;
  }
  return "";
}

void SetSides(TColorManager& cm, TColorSchemeKind source, uint8_t sb, TColorSchemeKind target, uint8_t tb) {
  cm.SetSourceScheme(source);
  cm.SetTargetScheme(target);
  cm.SetSourceBitsPerSample(sb);
  cm.SetTargetBitsPerSample(tb);
}

std::vector<TPaletteEntry> Entries(const HPALETTE& p) { return p ? p->Entries : std::vector<TPaletteEntry>{}; }
TPaletteEntry Grey(uint8_t v) { return TPaletteEntry{v, v, v, 0}; }

}  // namespace

TEST(ColorManagerHelpers, ClampByteAndMulDiv16) {
  EXPECT_EQ(ClampByte(-1), 0);
  EXPECT_EQ(ClampByte(std::numeric_limits<int32_t>::min()), 0);
  EXPECT_EQ(ClampByte(0), 0);
  EXPECT_EQ(ClampByte(200), 200);
  EXPECT_EQ(ClampByte(256), 255);
  EXPECT_EQ(MulDiv16(257 * 200, 255, 65535), 200);
  EXPECT_EQ(MulDiv16(257 * 200 - 1, 255, 65535), 199);  // truncates
  EXPECT_EQ(MulDiv16(65535, 255, 65535), 255);
  EXPECT_EQ(MulDiv16(255, 65535, 255), 65535);  // product needs all 32 bits
  EXPECT_EQ(MulDiv16(1, 15, 1), 15);
  EXPECT_EQ(MulDiv16(7, 7, 0), 0);
}

TEST(ColorManagerSettings, NewManagerState) {
  TColorManager cm;
  EXPECT_EQ(cm.ClassName(), "TColorManager");
  EXPECT_TRUE(cm.SettingsChanged());
  EXPECT_EQ(cm.SourceBitsPerSample(), 8);
  EXPECT_EQ(cm.TargetBitsPerSample(), 8);
  EXPECT_EQ(cm.SourceSamplesPerPixel(), 3);
  EXPECT_EQ(cm.TargetSamplesPerPixel(), 3);
  EXPECT_EQ(cm.SourceScheme(), ckRGB);
  EXPECT_EQ(cm.TargetScheme(), ckBGR);
  EXPECT_EQ(cm.ImageGamma(), 1.0f);
  EXPECT_EQ(cm.ScreenGamma(), 2.2f);
  EXPECT_EQ(cm.LumaWeights()[0], 0.299f);
  EXPECT_EQ(cm.LumaWeights()[1], 0.587f);
  EXPECT_EQ(cm.LumaWeights()[2], 0.114f);
  EXPECT_EQ(cm.HorizontalSubsampling(), 1);
  EXPECT_EQ(cm.VerticalSubsampling(), 1);
  EXPECT_EQ(cm.SourceFlags, 0);
  EXPECT_EQ(cm.TargetFlags, 0);
  EXPECT_TRUE(cm.CbToBlue().empty());
  EXPECT_EQ(cm.RowConverter(), nullptr);
  // Exponent 1/2.2 on 0..255, worked out by hand for a few levels.
  EXPECT_EQ(cm.GammaTable()[0], 0);
  EXPECT_EQ(cm.GammaTable()[1], 21);
  EXPECT_EQ(cm.GammaTable()[128], 186);
  EXPECT_EQ(cm.GammaTable()[255], 255);

  // Converts 8-bit RGB to BGR without any set-up.
  const uint8_t rgb[6] = {10, 20, 30, 40, 50, 60};
  uint8_t bgr[6] = {};
  cm.ConvertRow(rgb, bgr, 2, 0xFF);
  EXPECT_EQ(std::vector<uint8_t>(bgr, bgr + 6), (std::vector<uint8_t>{30, 20, 10, 60, 50, 40}));
  EXPECT_FALSE(cm.SettingsChanged());
  EXPECT_EQ(cm.RowConverter(), &TColorManager::RowRgbToBgr);
}

TEST(ColorManagerSettings, DepthAndSampleChecks) {
  TColorManager cm;
  cm.PrepareConversion();
  for (uint8_t bad : std::initializer_list<uint8_t>{0, 17, 255}) {
    EXPECT_EQ(FailureOf([&] { cm.SetSourceBitsPerSample(bad); }), S::SInvalidColorDepth);
    EXPECT_EQ(FailureOf([&] { cm.SetTargetBitsPerSample(bad); }), S::SInvalidColorDepth);
  }
  for (uint8_t bad : std::initializer_list<uint8_t>{0, 5}) {
    EXPECT_EQ(FailureOf([&] { cm.SetSourceSamplesPerPixel(bad); }), S::SInvalidSampleCount);
    EXPECT_EQ(FailureOf([&] { cm.SetTargetSamplesPerPixel(bad); }), S::SInvalidSampleCount);
  }
  EXPECT_EQ(cm.SourceBitsPerSample(), 8);
  EXPECT_EQ(cm.TargetSamplesPerPixel(), 3);
  EXPECT_FALSE(cm.SettingsChanged());  // failed setters change nothing

  // Equal values do not mark the settings changed; new values do.
  cm.SetSourceBitsPerSample(8);
  cm.SetTargetSamplesPerPixel(3);
  cm.SetSourceScheme(ckRGB);
  EXPECT_FALSE(cm.SettingsChanged());
  cm.SetSourceBitsPerSample(3);  // passes the range check
  EXPECT_EQ(cm.SourceBitsPerSample(), 3);
  EXPECT_TRUE(cm.SettingsChanged());
  for (auto set : {+[](TColorManager& m) { m.SetTargetBitsPerSample(16); },
                   +[](TColorManager& m) { m.SetSourceSamplesPerPixel(4); },
                   +[](TColorManager& m) { m.SetTargetSamplesPerPixel(1); },
                   +[](TColorManager& m) { m.SetSourceScheme(ckCMYK); },
                   +[](TColorManager& m) { m.SetTargetScheme(ckRGB); }}) {
    cm.PrepareConversion();
    ASSERT_FALSE(cm.SettingsChanged());
    set(cm);
    EXPECT_TRUE(cm.SettingsChanged());
  }
  // Flags, gamma and YCbCr settings do not mark the settings changed.
  cm.PrepareConversion();
  cm.SourceFlags |= cvSwap16;
  cm.TargetFlags = cvGamma;
  cm.SetGammaValues(1, 1);
  cm.SetYCbCrSettings({0.3f}, 2, 1);
  EXPECT_FALSE(cm.SettingsChanged());
}

TEST(ColorManagerSettings, IndexedAgainstColourFailsOnEveryRow) {
  TColorManager cm;
  cm.SetSourceScheme(ckGrey);
  cm.SetSourceSamplesPerPixel(1);
  cm.SourceFlags = cvSwap16 | cvAlpha;
  const uint8_t row[3] = {1, 2, 3};
  uint8_t out[3] = {7, 7, 7};
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(FailureOf([&] { cm.ConvertRow(row, out, 1, 0xFF); }), S::SIndexedNotSupported);
    EXPECT_TRUE(cm.SettingsChanged());
    EXPECT_EQ(cm.RowConverter(), nullptr);
    EXPECT_EQ(cm.SourceFlags, cvSwap16 | cvAlpha);  // untouched by the failed preparation
  }
  EXPECT_EQ(out[0], 7);

  // The other direction, and grey with alpha into a colour target.
  for (auto [source, target] : {std::pair{ckRGB, ckIndexed}, std::pair{ckGreyAlpha, ckBGR},
                                std::pair{ckIndexed, ckRGBA}, std::pair{ckYCbCr, ckGrey}}) {
    TColorManager m;
    m.SetSourceScheme(source);
    m.SetTargetScheme(target);
    EXPECT_EQ(FailureOf([&] { m.PrepareConversion(); }), S::SIndexedNotSupported) << int(source) << int(target);
  }

  // A failed preparation drops the converter of earlier settings.
  TColorManager m;
  m.PrepareConversion();
  ASSERT_NE(m.RowConverter(), nullptr);
  m.SetTargetScheme(ckIndexed);
  EXPECT_EQ(FailureOf([&] { m.ConvertRow(row, out, 1, 0xFF); }), S::SIndexedNotSupported);
  EXPECT_EQ(m.RowConverter(), nullptr);
}

TEST(ColorManagerSettings, PairsWithoutConverter) {
  const uint8_t row[8] = {};
  uint8_t out[8] = {};
  struct Case {
    TColorSchemeKind source;
    uint8_t sb;
    TColorSchemeKind target;
    uint8_t tb;
  };
  for (const Case& c : {Case{ckCMY, 8, ckBGR, 8}, Case{ckCMY, 8, ckRGB, 8}, Case{ckGreyAlpha, 4, ckGrey, 8},
                        Case{ckGreyAlpha, 8, ckGrey, 4}, Case{ckUnknown, 8, ckBGR, 8},
                        Case{ckGrey, 16, ckGrey, 4}, Case{ckRGB, 8, ckCMYK, 8}, Case{ckLab, 8, ckYCbCr, 8}}) {
    TColorManager cm;
    SetSides(cm, c.source, c.sb, c.target, c.tb);
    EXPECT_EQ(FailureOf([&] { cm.ConvertRow(row, out, 1, 0xFF); }), S::SConversionUnsupported)
        << int(c.source) << "/" << int(c.sb) << " -> " << int(c.target) << "/" << int(c.tb);
    EXPECT_FALSE(cm.SettingsChanged());
  }
}

TEST(ColorManagerSettings, ConverterChoice) {
  using R = TColorManager::TRowConverter;
  struct Case {
    TColorSchemeKind source;
    uint8_t sb;
    TColorSchemeKind target;
    uint8_t tb;
    R expected;
  };
  const Case cases[] = {
      {ckIndexed, 16, ckIndexed, 16, &TColorManager::RowIndexed16To16},
      {ckIndexed, 16, ckIndexed, 8, &TColorManager::RowIndexed16To8},
      {ckIndexed, 16, ckGrey, 4, &TColorManager::RowIndexed16To8},
      {ckIndexed, 4, ckIndexed, 16, &TColorManager::RowIndexed8To16},
      {ckIndexed, 2, ckIndexed, 4, &TColorManager::RowIndexed},
      {ckGrey, 8, ckGrey, 8, &TColorManager::RowIndexed},
      {ckGrey, 1, ckIndexed, 8, &TColorManager::RowIndexed},
      {ckGrey, 16, ckGrey, 8, &TColorManager::RowGrey},
      {ckGrey, 8, ckIndexed, 16, &TColorManager::RowGrey},
      {ckGreyAlpha, 8, ckIndexed, 8, &TColorManager::RowGrey},
      {ckGreyAlpha, 16, ckGrey, 16, &TColorManager::RowGrey},
      {ckRGB, 8, ckRGB, 8, &TColorManager::RowRgbToRgb},
      {ckRGBA, 16, ckRGB, 8, &TColorManager::RowRgbToRgb},
      {ckRGB, 8, ckBGRA, 8, &TColorManager::RowRgbToBgr},
      {ckBGR, 8, ckRGBA, 8, &TColorManager::RowBgrToRgb},
      {ckBGRA, 8, ckBGR, 8, &TColorManager::RowBgrToBgr},
      {ckCMYK, 8, ckRGB, 8, &TColorManager::RowCmykToRgb},
      {ckCMYK, 16, ckBGRA, 8, &TColorManager::RowCmykToBgr},
      {ckLab, 8, ckRGBA, 8, &TColorManager::RowLabToRgb},
      {ckLab, 8, ckBGR, 16, &TColorManager::RowLabToBgr},
      {ckYCbCr, 8, ckRGB, 8, &TColorManager::RowYCbCrToRgb},
      {ckYCbCr, 8, ckBGRA, 8, &TColorManager::RowYCbCrToBgr},
      {ckPhotoYCC, 8, ckRGBA, 8, &TColorManager::RowPhotoYccToRgb},
      {ckPhotoYCC, 8, ckBGR, 8, &TColorManager::RowPhotoYccToBgr},
  };
  for (const Case& c : cases) {
    TColorManager cm;
    SetSides(cm, c.source, c.sb, c.target, c.tb);
    cm.PrepareConversion();
    EXPECT_TRUE(cm.RowConverter() == c.expected)
        << int(c.source) << "/" << int(c.sb) << " -> " << int(c.target) << "/" << int(c.tb);
    // cvAlpha follows the schemes and nothing else.
    const bool sourceAlpha = c.source == ckGreyAlpha || c.source == ckRGBA || c.source == ckBGRA;
    const bool targetAlpha = c.target == ckRGBA || c.target == ckBGRA;
    EXPECT_EQ((cm.SourceFlags & cvAlpha) != 0, sourceAlpha);
    EXPECT_EQ((cm.TargetFlags & cvAlpha) != 0, targetAlpha);
  }

  // cvAlpha is cleared for a scheme without alpha; the other flags stay.
  TColorManager cm;
  cm.SourceFlags = cvAlpha | cvSwap16 | cvLabOffset128;
  cm.TargetFlags = cvAlpha | cvGamma;
  cm.PrepareConversion();
  EXPECT_EQ(cm.SourceFlags, cvSwap16 | cvLabOffset128);
  EXPECT_EQ(cm.TargetFlags, cvGamma);
}

TEST(ColorManagerSettings, GammaTable) {
  TColorManager cm;
  cm.SetGammaValues(0, -1);  // out-of-range gammas mean 1.0 and 2.2
  EXPECT_EQ(cm.ImageGamma(), 1.0f);
  EXPECT_EQ(cm.ScreenGamma(), 2.2f);
  EXPECT_EQ(cm.GammaTable()[1], 21);
  cm.SetGammaValues(std::nanf(""), 2.2f);
  EXPECT_EQ(cm.ImageGamma(), 1.0f);

  cm.SetGammaValues(0.45455f, 2.2f);  // PNG's common gAMA: the identity
  EXPECT_EQ(cm.GammaTable()[1], 1);
  EXPECT_EQ(cm.GammaTable()[128], 128);

  // Both sides 4 bits: entries 0..15 on a 0..15 scale, the rest stays.
  cm.SetSourceBitsPerSample(4);
  cm.SetTargetBitsPerSample(4);
  cm.SetGammaValues(1, 2.2f);
  const uint8_t low[16] = {0, 4, 6, 7, 8, 9, 10, 11, 11, 12, 12, 13, 14, 14, 15, 15};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(cm.GammaTable()[i], low[i]) << i;
  for (int i = 16; i < 256; ++i) ASSERT_EQ(cm.GammaTable()[i], i) << i;

  // 4-bit source, 8-bit target: all 256 entries on 0..255.
  cm.SetTargetBitsPerSample(8);
  cm.SetGammaValues(1, 2.2f);
  EXPECT_EQ(cm.GammaTable()[1], 21);
  EXPECT_EQ(cm.GammaTable()[128], 186);

  // A shallow source with a 16-bit target stays within the 256 entries.
  cm.SetTargetBitsPerSample(16);
  cm.SetGammaValues(1, 1);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(cm.GammaTable()[i], i) << i;

  // Gammas whose product leaves the range of a single stay defined.
  cm.SetTargetBitsPerSample(8);
  cm.SetSourceBitsPerSample(8);
  cm.SetGammaValues(1e30f, 1e30f);  // exponent 0: every level is full
  EXPECT_EQ(cm.GammaTable()[128], 255);
  EXPECT_EQ(cm.GammaTable()[255], 255);
  cm.SetGammaValues(1e-30f, 1e-30f);
  EXPECT_EQ(cm.GammaTable()[254], 0);
  EXPECT_EQ(cm.GammaTable()[255], 255);
}

TEST(ColorManagerSettings, YCbCrSettings) {
  TColorManager cm;
  EXPECT_EQ(FailureOf([&] { cm.SetYCbCrSettings({0.2f, 0.7f, 0.1f}, 2, 4); }), S::SVerticalSubSamplingError);
  // The weights are stored before the subsampling checks.
  EXPECT_EQ(cm.LumaWeights()[0], 0.2f);
  EXPECT_EQ(cm.LumaWeights()[2], 0.1f);
  EXPECT_EQ(cm.HorizontalSubsampling(), 1);
  EXPECT_EQ(FailureOf([&] { cm.SetYCbCrSettings({0.2f, 0.7f, 0.1f}, 3, 1); }), S::SInvalidSubSampling);
  EXPECT_EQ(FailureOf([&] { cm.SetYCbCrSettings({0.2f, 0.7f, 0.1f}, 4, 0); }), S::SInvalidSubSampling);
  EXPECT_EQ(FailureOf([&] { cm.SetYCbCrSettings({0.2f, 0.7f, 0.1f}, 4, 2); }), "");
  EXPECT_EQ(cm.HorizontalSubsampling(), 4);
  EXPECT_EQ(cm.VerticalSubsampling(), 2);

  // Fewer than three weights keep the missing ones; none keeps all.
  cm.SetYCbCrSettings({0.25f, 0.5f}, 1, 1);
  EXPECT_EQ(cm.LumaWeights(), (std::array<float, 3>{0.25f, 0.5f, 0.1f}));
  cm.SetYCbCrSettings(std::span<const float>(), 2, 2);
  EXPECT_EQ(cm.LumaWeights(), (std::array<float, 3>{0.25f, 0.5f, 0.1f}));
  const float four[4] = {0.3f, 0.6f, 0.1f, 99.0f};
  cm.SetYCbCrSettings(four, 1, 1);
  EXPECT_EQ(cm.LumaWeights(), (std::array<float, 3>{0.3f, 0.6f, 0.1f}));

  // Weights a file could carry that would break the tables are refused
  // before anything is stored.
  const float inf = std::numeric_limits<float>::infinity();
  for (std::array<float, 3> bad : {std::array<float, 3>{0.3f, 0.0f, 0.1f}, {std::nanf(""), 0.6f, 0.1f},
                                   {0.3f, 0.6f, inf}, {0.3f, 1e-44f, 0.1f}, {0.0f, -0.0f, 0.0f}}) {
    EXPECT_EQ(FailureOf([&] { cm.SetYCbCrSettings(bad, 2, 1); }), S::SInvalidLumaWeights);
    EXPECT_EQ(cm.LumaWeights(), (std::array<float, 3>{0.3f, 0.6f, 0.1f}));
    EXPECT_EQ(cm.HorizontalSubsampling(), 1);
  }
}

TEST(ColorManagerSettings, ChromaTables) {
  TColorManager cm;
  cm.SetSourceScheme(ckYCbCr);
  cm.PrepareConversion();
  ASSERT_EQ(cm.CbToBlue().size(), 256u);
  // Single-precision coefficients: -125 x 1.772f lies just above -221.5.
  EXPECT_EQ(cm.CbToBlue()[3], -221);
  EXPECT_EQ(cm.CbToBlue()[128], 0);
  EXPECT_EQ(cm.CrToRed()[128], 0);
  EXPECT_EQ(cm.CrToRed()[255], 178);   // 127 x 1.402
  EXPECT_EQ(cm.CrToGreen()[255], -91);  // -(127 x 0.714136)
  EXPECT_EQ(cm.CbToGreen()[0], 44);     // 128 x 0.344136

  // Photo YCC centres its chroma on 156 (first) and 137 (second channel).
  cm.SetSourceScheme(ckPhotoYCC);
  cm.PrepareConversion();
  EXPECT_EQ(cm.CbToBlue()[156], 0);
  EXPECT_EQ(cm.CbToGreen()[156], 0);
  EXPECT_EQ(cm.CrToRed()[137], 0);
  EXPECT_EQ(cm.CrToGreen()[137], 0);
  EXPECT_EQ(cm.CrToRed()[0], -192);  // -137 x 1.402 = -192.074

  // New weights take effect at the next preparation.
  cm.SetYCbCrSettings({0.2125f, 0.7154f, 0.0721f}, 2, 2);
  EXPECT_EQ(cm.CrToRed()[0], -192);
  cm.PrepareConversion();
  EXPECT_EQ(cm.CrToRed()[0], -216);  // -137 x 1.575
}

TEST(ColorManagerSettings, PixelFormatFor) {
  struct Case {
    uint8_t samples, bits;
    TPixelLayout layout;
  };
  const Case cases[] = {{1, 1, pl1Bit},  {1, 2, pl4Bit},   {1, 4, pl4Bit},   {1, 5, plCustom}, {1, 7, plCustom},
                        {1, 8, pl8Bit},  {2, 8, plCustom}, {3, 5, pl15Bit},  {3, 1, pl15Bit},  {3, 6, pl24Bit},
                        {3, 8, pl24Bit}, {4, 8, pl32Bit},  {4, 7, plCustom}, {4, 1, plCustom}};
  for (const Case& c : cases) {
    TColorManager cm;
    cm.SetSourceSamplesPerPixel(c.samples);
    cm.SetSourceBitsPerSample(c.bits);
    cm.SetTargetSamplesPerPixel(c.samples);
    cm.SetTargetBitsPerSample(c.bits);
    EXPECT_EQ(cm.PixelFormatFor(0), c.layout) << int(c.samples) << "x" << int(c.bits);
    EXPECT_EQ(cm.PixelFormatFor(1), c.layout) << int(c.samples) << "x" << int(c.bits);
    EXPECT_EQ(cm.PixelFormatFor(-7), c.layout);
  }
  // Deep samples: the source side names the layout that a pixel reduces to;
  // a deep target would overflow those rows and is refused.
  TColorManager cm;
  cm.SetSourceBitsPerSample(16);
  cm.SetTargetBitsPerSample(16);
  for (uint8_t samples : std::initializer_list<uint8_t>{1, 3, 4}) {
    cm.SetSourceSamplesPerPixel(samples);
    cm.SetTargetSamplesPerPixel(samples);
    EXPECT_EQ(cm.PixelFormatFor(0), samples == 1 ? pl8Bit : samples == 3 ? pl24Bit : pl32Bit);
    EXPECT_EQ(cm.PixelFormatFor(1), plCustom);
  }
  cm.SetTargetBitsPerSample(12);
  EXPECT_EQ(cm.PixelFormatFor(1), plCustom);
}

TEST(ColorManagerPalettes, GreyPalette) {
  TColorManager cm;
  cm.SetTargetSamplesPerPixel(1);
  cm.SetTargetBitsPerSample(1);
  EXPECT_EQ(Entries(cm.GreyPalette(true)), (std::vector<TPaletteEntry>{Grey(255), Grey(0)}));
  EXPECT_EQ(Entries(cm.GreyPalette(false)), (std::vector<TPaletteEntry>{Grey(0), Grey(255)}));
  cm.SetTargetBitsPerSample(2);
  EXPECT_EQ(Entries(cm.GreyPalette(false)), (std::vector<TPaletteEntry>{Grey(0), Grey(85), Grey(170), Grey(255)}));
  cm.SetTargetBitsPerSample(4);
  auto reversed = Entries(cm.GreyPalette(true));
  ASSERT_EQ(reversed.size(), 16u);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(reversed[i], Grey(static_cast<uint8_t>(255 - 17 * i)));
  // 8 and 16 bits both give 256 entries; so does a sample count that
  // multiplies past 8 bits.
  for (uint8_t bits : std::initializer_list<uint8_t>{8, 16}) {
    cm.SetTargetBitsPerSample(bits);
    auto p = Entries(cm.GreyPalette(false));
    ASSERT_EQ(p.size(), 256u);
    EXPECT_EQ(p[77], Grey(77));
  }
  cm.SetTargetBitsPerSample(4);
  cm.SetTargetSamplesPerPixel(3);
  EXPECT_EQ(Entries(cm.GreyPalette(false)).size(), 256u);

  // Gamma passes every level through the table.
  cm.SetTargetSamplesPerPixel(1);
  cm.SetTargetBitsPerSample(8);
  cm.SetGammaValues(1, 2.2f);
  cm.TargetFlags = cvGamma;
  auto g = Entries(cm.GreyPalette(false));
  EXPECT_EQ(g[1], Grey(21));
  EXPECT_EQ(g[128], Grey(186));
  cm.SetTargetBitsPerSample(1);
  EXPECT_EQ(Entries(cm.GreyPalette(false)), (std::vector<TPaletteEntry>{Grey(0), Grey(255)}));
}

TEST(ColorManagerPalettes, ColourMapLayouts) {
  TColorManager cm;
  const uint8_t rgb3[] = {1, 2, 3, 4, 5, 6};
  const uint8_t rgb4[] = {1, 2, 3, 99, 4, 5, 6, 99};
  const TPaletteEntry c0{1, 2, 3, 0}, c1{4, 5, 6, 0}, c0r{3, 2, 1, 0}, c1r{6, 5, 4, 0};
  EXPECT_EQ(Entries(cm.PaletteFromColorMap({rgb3}, cmInterleaved8x3, 2, false)), (std::vector{c0, c1}));
  EXPECT_EQ(Entries(cm.PaletteFromColorMap({rgb3}, cmInterleaved8x3, 2, true)), (std::vector{c0r, c1r}));
  EXPECT_EQ(Entries(cm.PaletteFromColorMap({rgb4}, cmInterleaved8x4, 2, false)), (std::vector{c0, c1}));
  EXPECT_EQ(Entries(cm.PaletteFromColorMap({rgb4}, cmInterleaved8x4, 2, true)), (std::vector{c0r, c1r}));
  const uint8_t red[] = {1, 4}, green[] = {2, 5}, blue[] = {3, 6};
  for (auto layout : {cmPlanar8x3, cmPlanar8x4}) {
    // Planar maps ignore the blue-first flag.
    EXPECT_EQ(Entries(cm.PaletteFromColorMap({red, green, blue}, layout, 2, true)), (std::vector{c0, c1}));
  }
  // 16-bit samples: low byte first, or high byte first with cvSwap16; scaled
  // to 8 bits by truncation.
  const uint8_t le[] = {0x01, 0x01, 0xFF, 0xFF, 0x00, 0x01, 9, 9, 0x02, 0x02, 0x00, 0x00, 0x03, 0x03, 9, 9};
  const TPaletteEntry w0{1, 255, 0, 0}, w1{2, 0, 3, 0};
  EXPECT_EQ(Entries(cm.PaletteFromColorMap({le}, cmInterleaved16x4, 2, false)), (std::vector{w0, w1}));
  const uint8_t le3[] = {0x01, 0x01, 0xFF, 0xFF, 0x00, 0x01};
  EXPECT_EQ(Entries(cm.PaletteFromColorMap({le3}, cmInterleaved16x3, 1, true)),
            (std::vector{TPaletteEntry{0, 255, 1, 0}}));
  const uint8_t pr[] = {0x00, 0x80}, pg[] = {0xFF, 0x00}, pb[] = {0x12, 0x34};
  cm.SourceFlags = cvSwap16;
  for (auto layout : {cmPlanar16x3, cmPlanar16x4})
    EXPECT_EQ(Entries(cm.PaletteFromColorMap({pr, pg, pb}, layout, 1, false)),
              (std::vector{TPaletteEntry{0, 254, 18, 0}}));  // 0x0080, 0xFF00, 0x1234
  cm.SourceFlags = 0;
  EXPECT_EQ(Entries(cm.PaletteFromColorMap({pr, pg, pb}, cmPlanar16x3, 1, false)),
            (std::vector{TPaletteEntry{127, 0, 51, 0}}));  // 0x8000, 0x00FF, 0x3412

  // Gamma on the levels; an unknown layout fills nothing.
  cm.TargetFlags = cvGamma;
  EXPECT_EQ(Entries(cm.PaletteFromColorMap({rgb3}, cmInterleaved8x3, 1, false)),
            (std::vector{TPaletteEntry{cm.GammaTable()[1], cm.GammaTable()[2], cm.GammaTable()[3], 0}}));
  EXPECT_EQ(Entries(cm.PaletteFromColorMap({rgb3}, static_cast<TColorMapLayout>(8), 2, false)),
            (std::vector{TPaletteEntry{}, TPaletteEntry{}}));

  // Too few planes for the layout is refused rather than read past.
  EXPECT_EQ(FailureOf([&] { cm.PaletteFromColorMap({red, green}, cmPlanar8x3, 2, false); }), S::SMissingColorMap);
  EXPECT_EQ(FailureOf([&] { cm.PaletteFromColorMap({red, green, nullptr}, cmPlanar16x4, 2, false); }),
            S::SMissingColorMap);
  EXPECT_EQ(FailureOf([&] { cm.PaletteFromColorMap(TRowSource(), cmInterleaved8x3, 2, false); }),
            S::SMissingColorMap);
  EXPECT_TRUE(Entries(cm.PaletteFromColorMap(TRowSource(), cmInterleaved8x3, 0, false)).empty());
}

TEST(ColorManagerPalettes, ColourMapDepths) {
  TColorManager cm;
  // A map of 300 entries at 8 bits a side gives 256 entries.
  std::vector<uint8_t> big(300 * 3);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i / 3);
  auto p = Entries(cm.PaletteFromColorMap({big.data()}, cmInterleaved8x3, 300, false));
  ASSERT_EQ(p.size(), 256u);
  EXPECT_EQ(p[255], Grey(255));

  // 4-bit source, 8-bit target: colour j x 15 div 255, as v x 17 indexes it.
  std::vector<uint8_t> map16(16 * 3);
  for (size_t i = 0; i < map16.size(); ++i) map16[i] = static_cast<uint8_t>(10 * (i / 3));
  cm.SetSourceBitsPerSample(4);
  p = Entries(cm.PaletteFromColorMap({map16.data()}, cmInterleaved8x3, 16, false));
  ASSERT_EQ(p.size(), 256u);
  for (int j = 0; j < 256; ++j) ASSERT_EQ(p[j], Grey(static_cast<uint8_t>(10 * (j * 15 / 255)))) << j;
  for (int v = 0; v < 16; ++v) EXPECT_EQ(p[v * 17], Grey(static_cast<uint8_t>(10 * v)));

  // 2-bit source shown through a 4-bit bitmap: 0-4, 5-9, 10-14, 15.
  cm.SetSourceBitsPerSample(2);
  cm.SetTargetBitsPerSample(4);
  p = Entries(cm.PaletteFromColorMap({map16.data()}, cmInterleaved8x3, 4, false));
  ASSERT_EQ(p.size(), 16u);
  for (int j = 0; j < 16; ++j) EXPECT_EQ(p[j], Grey(static_cast<uint8_t>(10 * (j < 5 ? 0 : j < 10 ? 1 : j < 15 ? 2 : 3))));
  // A map shorter than the source depth leaves the missing colours black.
  p = Entries(cm.PaletteFromColorMap({map16.data()}, cmInterleaved8x3, 2, false));
  EXPECT_EQ(p[9], Grey(10));
  EXPECT_EQ(p[10], Grey(0));
  EXPECT_EQ(p[15], Grey(0));

  // 16-bit indexed source through an 8-bit palette: entry j is map entry
  // j x 257, and the map is never read beyond its count.
  cm.SetSourceBitsPerSample(16);
  cm.SetTargetBitsPerSample(8);
  std::vector<uint8_t> red(2 * 600), green(2 * 600), blue(2 * 600);
  for (int k = 0; k < 600; ++k) {
    red[2 * k] = static_cast<uint8_t>(k);  // low byte first
    red[2 * k + 1] = static_cast<uint8_t>(k >> 8);
    green[2 * k] = green[2 * k + 1] = 0xFF;
  }
  p = Entries(cm.PaletteFromColorMap({red.data(), green.data(), blue.data()}, cmPlanar16x3, 600, false));
  ASSERT_EQ(p.size(), 256u);
  EXPECT_EQ(p[0], (TPaletteEntry{0, 255, 0, 0}));
  EXPECT_EQ(p[1], (TPaletteEntry{1, 255, 0, 0}));  // map entry 257, red 257
  EXPECT_EQ(p[2], (TPaletteEntry{2, 255, 0, 0}));  // map entry 514, red 514
  EXPECT_EQ(p[3], TPaletteEntry{});                // map entry 771 lies past the 600 given
  EXPECT_EQ(p[255], TPaletteEntry{});

  // Both sides 16 bits: no spreading, at most 256 entries.
  cm.SetTargetBitsPerSample(16);
  p = Entries(cm.PaletteFromColorMap({red.data(), green.data(), blue.data()}, cmPlanar16x3, 600, false));
  EXPECT_EQ(p.size(), 256u);
}
