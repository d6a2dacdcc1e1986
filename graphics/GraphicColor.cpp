// Settings, tables, converter choice and palettes of the colour manager. The
// row converters live in GraphicColorRows.cpp.
#include "graphics/GraphicColor.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "picture/ByteOrder.h"

namespace tolvane {

TOLVANE_DEFINE_CLASS(TColorManager, TObject)

namespace {

bool IsGreyOrIndexedSource(TColorSchemeKind s) { return s == ckIndexed || s == ckGrey || s == ckGreyAlpha; }
bool IsGreyOrIndexedTarget(TColorSchemeKind s) { return s == ckIndexed || s == ckGrey; }
bool IsRgbTarget(TColorSchemeKind s) { return s == ckRGB || s == ckRGBA; }
bool IsBgrTarget(TColorSchemeKind s) { return s == ckBGR || s == ckBGRA; }
bool HasAlpha(TColorSchemeKind s) { return s == ckGreyAlpha || s == ckRGBA || s == ckBGRA; }

// Nearest integer, halves to even, of a table value; values far beyond any
// sample range are held at a bound that still clamps to the same byte.
int32_t RoundTableEntry(long double v) {
  constexpr long double bound = 1 << 20;
  long double r = std::nearbyint(v);
  if (!(r > -bound)) return -(1 << 20);
  if (r > bound) return 1 << 20;
  return static_cast<int32_t>(r);
}

struct TChromaCoefficients {
  float k1, g1, k2, g2;
  bool Finite() const {
    return std::isfinite(k1) && std::isfinite(g1) && std::isfinite(k2) && std::isfinite(g2);
  }
};

TChromaCoefficients ChromaCoefficients(const std::array<float, 3>& w) {
  // Single precision at every step, as the tables are specified.
  const float kr = w[0], kg = w[1], kb = w[2];
  TChromaCoefficients c;
  c.k1 = 2.0f - 2.0f * kr;
  c.g1 = kr * c.k1 / kg;
  c.k2 = 2.0f - 2.0f * kb;
  c.g2 = kb * c.k2 / kg;
  return c;
}

// Entries 0..inputRange of a gamma table: (i / inputRange) ^ exponent, times
// targetRange, to the nearest integer with halves to even.
void FillGammaTable(std::array<uint8_t, 256>& table, float exponent, uint32_t inputRange, uint32_t targetRange) {
  for (uint32_t i = 0; i <= inputRange; ++i) {
    const long double level = std::pow(static_cast<long double>(i) / inputRange, static_cast<long double>(exponent));
    table[i] = static_cast<uint8_t>(std::nearbyint(level * targetRange));
  }
}

float GammaExponent(float imageGamma, float screenGamma) {
  return static_cast<float>(1.0L / (static_cast<long double>(imageGamma) * static_cast<long double>(screenGamma)));
}

// The table every manager starts with (image gamma 1, screen gamma 2.2, 8 bits
// on both sides), built once: every picture loaded gets a new manager, and
// 256 extended-precision powers cost as much as converting many rows.
const std::array<uint8_t, 256> StartGammaTable = [] {
  std::array<uint8_t, 256> table{};
  FillGammaTable(table, GammaExponent(1.0f, 2.2f), 255, 255);
  return table;
}();

}  // namespace

TColorManager::TColorManager() : FGammaTable(StartGammaTable) {}

void TColorManager::Fail(const std::string& message) const { throw EColorConversionError(message); }

void TColorManager::SetSourceBitsPerSample(uint8_t bits) {
  if (bits < 1 || bits > 16) Fail(GraphicColorStrings::SInvalidColorDepth);
  if (bits != FSourceBitsPerSample) {
    FSourceBitsPerSample = bits;
    FSettingsChanged = true;
  }
}

void TColorManager::SetTargetBitsPerSample(uint8_t bits) {
  if (bits < 1 || bits > 16) Fail(GraphicColorStrings::SInvalidColorDepth);
  if (bits != FTargetBitsPerSample) {
    FTargetBitsPerSample = bits;
    FSettingsChanged = true;
  }
}

void TColorManager::SetSourceSamplesPerPixel(uint8_t samples) {
  if (samples < 1 || samples > 4) Fail(GraphicColorStrings::SInvalidSampleCount);
  if (samples != FSourceSamplesPerPixel) {
    FSourceSamplesPerPixel = samples;
    FSettingsChanged = true;
  }
}

void TColorManager::SetTargetSamplesPerPixel(uint8_t samples) {
  if (samples < 1 || samples > 4) Fail(GraphicColorStrings::SInvalidSampleCount);
  if (samples != FTargetSamplesPerPixel) {
    FTargetSamplesPerPixel = samples;
    FSettingsChanged = true;
  }
}

void TColorManager::SetSourceScheme(TColorSchemeKind scheme) {
  if (scheme != FSourceScheme) {
    FSourceScheme = scheme;
    FSettingsChanged = true;
  }
}

void TColorManager::SetTargetScheme(TColorSchemeKind scheme) {
  if (scheme != FTargetScheme) {
    FTargetScheme = scheme;
    FSettingsChanged = true;
  }
}

void TColorManager::SetGammaValues(float imageGamma, float screenGamma) {
  FImageGamma = imageGamma > 0 ? imageGamma : 1.0f;
  FScreenGamma = screenGamma > 0 ? screenGamma : 2.2f;
  const uint32_t targetRange = FTargetBitsPerSample >= 8 ? 255 : (1u << FTargetBitsPerSample) - 1;
  // A shallow source is indexed by target levels; the table has 256 entries
  // whatever the target's depth.
  const uint32_t inputRange = FSourceBitsPerSample >= 8 ? 255 : std::min<uint32_t>(targetRange, 255);
  FillGammaTable(FGammaTable, GammaExponent(FImageGamma, FScreenGamma), inputRange, targetRange);
}

void TColorManager::SetYCbCrSettings(std::span<const float> lumaWeights, uint8_t horizontal, uint8_t vertical) {
  std::array<float, 3> weights = FLumaWeights;
  for (size_t i = 0; i < std::min<size_t>(lumaWeights.size(), 3); ++i) weights[i] = lumaWeights[i];
  const bool finite = std::all_of(weights.begin(), weights.end(), [](float w) { return std::isfinite(w); });
  if (!finite || weights[1] == 0 || !ChromaCoefficients(weights).Finite())
    Fail(GraphicColorStrings::SInvalidLumaWeights);
  FLumaWeights = weights;
  auto valid = [](uint8_t s) { return s == 1 || s == 2 || s == 4; };
  if (!valid(horizontal) || !valid(vertical)) Fail(GraphicColorStrings::SInvalidSubSampling);
  if (horizontal < vertical) Fail(GraphicColorStrings::SVerticalSubSamplingError);
  FHorizontalSubsampling = horizontal;
  FVerticalSubsampling = vertical;
}

void TColorManager::BuildChromaTables() {
  const TChromaCoefficients c = ChromaCoefficients(FLumaWeights);
  const bool photo = FSourceScheme == ckPhotoYCC;
  const int crOffset = photo ? 137 : 128;
  const int cbOffset = photo ? 156 : 128;
  FCrToRed.assign(256, 0);
  FCbToBlue.assign(256, 0);
  FCrToGreen.assign(256, 0);
  FCbToGreen.assign(256, 0);
  for (int i = 0; i < 256; ++i) {
    const long double cr = i - crOffset, cb = i - cbOffset;
    FCrToRed[i] = RoundTableEntry(cr * static_cast<long double>(c.k1));
    FCbToBlue[i] = RoundTableEntry(cb * static_cast<long double>(c.k2));
    FCrToGreen[i] = -RoundTableEntry(cr * static_cast<long double>(c.g1));
    FCbToGreen[i] = -RoundTableEntry(cb * static_cast<long double>(c.g2));
  }
}

void TColorManager::PrepareConversion() {
  FRowConverter = nullptr;
  if (IsGreyOrIndexedSource(FSourceScheme) != IsGreyOrIndexedTarget(FTargetScheme))
    Fail(GraphicColorStrings::SIndexedNotSupported);
  SourceFlags = HasAlpha(FSourceScheme) ? (SourceFlags | cvAlpha) : (SourceFlags & ~cvAlpha);
  TargetFlags = HasAlpha(FTargetScheme) ? (TargetFlags | cvAlpha) : (TargetFlags & ~cvAlpha);

  const uint8_t sb = FSourceBitsPerSample, tb = FTargetBitsPerSample;
  const bool rgb = IsRgbTarget(FTargetScheme), bgr = IsBgrTarget(FTargetScheme);
  auto pick = [&](TRowConverter toRgb, TRowConverter toBgr) {
    FRowConverter = rgb ? toRgb : bgr ? toBgr : nullptr;
  };
  switch (FSourceScheme) {
    case ckIndexed:
      if (sb == 16 && tb == 16) FRowConverter = &TColorManager::RowIndexed16To16;
      else if (sb == 16) FRowConverter = &TColorManager::RowIndexed16To8;
      else if (tb == 16) FRowConverter = &TColorManager::RowIndexed8To16;
      else FRowConverter = &TColorManager::RowIndexed;
      break;
    case ckGrey:
      if (sb != 16 && tb != 16) FRowConverter = &TColorManager::RowIndexed;
      else if (sb >= 8 && tb >= 8) FRowConverter = &TColorManager::RowGrey;
      break;
    case ckGreyAlpha:
      if ((sb == 8 || sb == 16) && (tb == 8 || tb == 16)) FRowConverter = &TColorManager::RowGrey;
      break;
    case ckRGB:
    case ckRGBA: pick(&TColorManager::RowRgbToRgb, &TColorManager::RowRgbToBgr); break;
    case ckBGR:
    case ckBGRA: pick(&TColorManager::RowBgrToRgb, &TColorManager::RowBgrToBgr); break;
    case ckCMYK: pick(&TColorManager::RowCmykToRgb, &TColorManager::RowCmykToBgr); break;
    case ckLab: pick(&TColorManager::RowLabToRgb, &TColorManager::RowLabToBgr); break;
    case ckYCbCr:
      BuildChromaTables();
      pick(&TColorManager::RowYCbCrToRgb, &TColorManager::RowYCbCrToBgr);
      break;
    case ckPhotoYCC:
      BuildChromaTables();
      pick(&TColorManager::RowPhotoYccToRgb, &TColorManager::RowPhotoYccToBgr);
      break;
    default: break;
  }
  FSettingsChanged = false;
}

void TColorManager::ConvertRow(TRowPlanes source, uint8_t* target, uint32_t count, uint8_t mask) {
  if (FSettingsChanged) PrepareConversion();
  if (!FRowConverter) Fail(GraphicColorStrings::SConversionUnsupported);
  if (count == 0) return;
  CheckRowLengths(source, count, mask);
  std::array<const uint8_t*, MaxRowPlanes> planes{};
  const size_t n = std::min(source.size(), planes.size());
  for (size_t k = 0; k < n; ++k) planes[k] = source[k].data();
  (this->*FRowConverter)(TRowSource(planes.data(), n), target, count, mask);
}

// Three-colour converters write every colour sample, and alpha only from
// an alpha source; the other colour converters never write alpha; the grey
// one writes its one sample; the packed one only copies whole bytes at 8
// bits (at other depths it merges pixels into the target's bytes).
bool TColorManager::OverwritesTargetRows() const {
  if (FSettingsChanged || !FRowConverter) return false;
  const TRowConverter c = FRowConverter;
  const uint8_t sb = FSourceBitsPerSample, tb = FTargetBitsPerSample;
  const bool whole = (sb == 8 || sb == 16) && (tb == 8 || tb == 16);
  const bool targetAlpha = TargetFlags & cvAlpha, sourceAlpha = SourceFlags & cvAlpha;
  if (c == &TColorManager::RowRgbToRgb || c == &TColorManager::RowRgbToBgr || c == &TColorManager::RowBgrToRgb ||
      c == &TColorManager::RowBgrToBgr)
    return whole && (!targetAlpha || sourceAlpha);
  if (c == &TColorManager::RowCmykToRgb || c == &TColorManager::RowCmykToBgr || c == &TColorManager::RowLabToRgb ||
      c == &TColorManager::RowLabToBgr || c == &TColorManager::RowYCbCrToRgb || c == &TColorManager::RowYCbCrToBgr ||
      c == &TColorManager::RowPhotoYccToRgb || c == &TColorManager::RowPhotoYccToBgr)
    return whole && !targetAlpha;
  if (c == &TColorManager::RowGrey) return whole;
  if (c == &TColorManager::RowIndexed) return sb == 8 && tb == 8;
  return false;
}

// The plain reorderings and copies read each pixel before they write it and
// never write ahead of what they read (GraphicColorRows.cpp); the table and
// widening loops may.
bool TColorManager::ConvertsInPlace() const {
  if (FSettingsChanged || !FRowConverter) return false;
  const TRowConverter c = FRowConverter;
  if (FSourceBitsPerSample != 8 || FTargetBitsPerSample != 8) return false;
  if (c == &TColorManager::RowRgbToRgb || c == &TColorManager::RowRgbToBgr || c == &TColorManager::RowBgrToRgb ||
      c == &TColorManager::RowBgrToBgr)
    return !(TargetFlags & cvGamma) && (SourceFlags & cvAlpha) == (TargetFlags & cvAlpha);
  return c == &TColorManager::RowIndexed;
}

namespace {

// The source pixels that count target pixels consume under mask.
uint64_t SelectedPixels(uint32_t count, uint8_t mask) {
  const unsigned rest = count % 8;
  const auto head = static_cast<uint8_t>(rest == 0 ? 0 : mask & (0xFF00u >> rest));
  return uint64_t{count / 8} * static_cast<unsigned>(std::popcount(mask)) +
         static_cast<unsigned>(std::popcount(head));
}

// How far the row converters reach into a row: the first Planes planes,
// Bytes bytes of each.
struct TRowReach {
  size_t Planes = 0;
  uint64_t Bytes = 0;
};

// Interleaved samples: each selected pixel steps on by step bytes; the last
// one reads only the samples the converter takes of it.
TRowReach Interleaved(uint64_t selected, uint64_t step, uint64_t last) { return {1, (selected - 1) * step + last}; }
TRowReach Planar(uint64_t selected, size_t planes, uint64_t bytes) { return {planes, selected * bytes}; }

bool BothWhole(uint8_t sb, uint8_t tb) { return (sb == 8 || sb == 16) && (tb == 8 || tb == 16); }

}  // namespace

// Mirrors the row converters' layouts (GraphicColorRows.cpp), which depend
// on the schemes, depths and flags, never on which converter was chosen; a
// depth pair a converter leaves alone reads nothing.
void TColorManager::CheckRowLengths(TRowPlanes source, uint32_t count, uint8_t mask) const {
  const uint64_t selected = SelectedPixels(count, mask);
  if (selected == 0) return;
  const uint8_t sb = FSourceBitsPerSample, tb = FTargetBitsPerSample;
  const uint64_t bytes = sb / 8u;
  const bool sourceAlpha = SourceFlags & cvAlpha;
  const bool copyAlpha = sourceAlpha && (TargetFlags & cvAlpha);
  const size_t planes = source.size();
  TRowReach reach;
  switch (FSourceScheme) {
    case ckIndexed:
    case ckGrey:
      // Packed fields of up to 8 bits, or whole 16-bit samples.
      if (sb == 16) reach = {1, selected * 2};
      else if (sb <= 8) reach = {1, (selected * sb + 7) / 8};
      break;
    case ckGreyAlpha:
      if (BothWhole(sb, tb)) reach = Interleaved(selected, 2 * bytes, bytes);
      break;
    case ckRGB:
    case ckRGBA:
    case ckBGR:
    case ckBGRA:
      if (!BothWhole(sb, tb)) break;
      reach = planes > 1 ? Planar(selected, copyAlpha ? 4 : 3, bytes)
                         : Interleaved(selected, (sourceAlpha ? 4 : 3) * bytes, (copyAlpha ? 4 : 3) * bytes);
      break;
    case ckCMYK:
      if (BothWhole(sb, tb)) reach = planes == 4 ? Planar(selected, 4, bytes) : Interleaved(selected, 4 * bytes, 4 * bytes);
      break;
    case ckLab:
    case ckYCbCr:
    case ckPhotoYCC:
      if (BothWhole(sb, tb)) reach = planes > 1 ? Planar(selected, 3, bytes) : Interleaved(selected, 3 * bytes, 3 * bytes);
      break;
    default: break;
  }
  if (planes < reach.Planes) Fail(GraphicColorStrings::SMissingSamplePlanes);
  for (size_t k = 0; k < reach.Planes; ++k)
    if (source[k].size() < reach.Bytes) Fail(GraphicColorStrings::SShortSampleRow);
}

TPixelLayout TColorManager::PixelFormatFor(int side) const {
  const uint8_t samples = side == 0 ? FSourceSamplesPerPixel : FTargetSamplesPerPixel;
  const uint8_t bits = side == 0 ? FSourceBitsPerSample : FTargetBitsPerSample;
  if (side != 0 && bits > 8) return plCustom;
  switch (samples) {
    case 1:
      if (bits == 1) return pl1Bit;
      if (bits <= 4) return pl4Bit;
      return bits >= 8 ? pl8Bit : plCustom;
    case 3: return bits <= 5 ? pl15Bit : pl24Bit;
    case 4: return bits >= 8 ? pl32Bit : plCustom;
    default: return plCustom;
  }
}

HPALETTE TColorManager::PaletteFromColorMap(TRowSource colorMap, TColorMapLayout layout, uint32_t count,
                                            bool blueFirst) {
  const bool wide = layout >= cmInterleaved16x3 && layout <= cmPlanar16x4;
  const bool planar = layout == cmPlanar8x3 || layout == cmPlanar8x4 || layout == cmPlanar16x3 ||
                      layout == cmPlanar16x4;
  const bool known = layout <= cmPlanar16x4;
  if (known && count > 0) {
    const size_t planes = planar ? 3 : 1;
    if (colorMap.size() < planes ||
        std::any_of(colorMap.begin(), colorMap.begin() + planes, [](const uint8_t* p) { return !p; }))
      Fail(GraphicColorStrings::SMissingColorMap);
  }
  const bool gamma = TargetFlags & cvGamma;
  const bool swap = SourceFlags & cvSwap16;
  const size_t sampleBytes = wide ? 2 : 1;
  const size_t entrySamples = layout == cmInterleaved8x4 || layout == cmInterleaved16x4 ? 4 : 3;

  auto level = [&](const uint8_t* p) -> uint8_t {
    const uint8_t v = wide ? static_cast<uint8_t>(MulDiv16(Load16(p, swap), 255, 65535)) : *p;
    return gamma ? FGammaTable[v] : v;
  };
  // Colour k of the map; entries beyond the map are black.
  auto colour = [&](uint32_t k) -> TPaletteEntry {
    TPaletteEntry e;
    if (!known || k >= count) return e;
    const uint8_t* sample[3];
    if (planar) {
      for (int c = 0; c < 3; ++c) sample[c] = colorMap[c] + size_t{k} * sampleBytes;
    } else {
      const uint8_t* base = colorMap[0] + size_t{k} * entrySamples * sampleBytes;
      for (int c = 0; c < 3; ++c) sample[c] = base + c * sampleBytes;
      if (blueFirst) std::swap(sample[0], sample[2]);
    }
    e.peRed = level(sample[0]);
    e.peGreen = level(sample[1]);
    e.peBlue = level(sample[2]);
    return e;
  };

  std::vector<TPaletteEntry> entries;
  const uint32_t sourceMax = (1u << FSourceBitsPerSample) - 1;
  const uint32_t targetMax = (1u << FTargetBitsPerSample) - 1;
  if (FTargetBitsPerSample <= 8 && sourceMax != targetMax) {
    // Spread over the target's levels as the index scaling of the rows does.
    entries.resize(targetMax + 1);
    for (uint32_t j = 0; j <= targetMax; ++j)
      entries[j] = colour(MulDiv16(static_cast<uint16_t>(j), static_cast<uint16_t>(sourceMax),
                                   static_cast<uint16_t>(targetMax)));
  } else {
    entries.resize(std::min<uint32_t>(count, 256));
    for (uint32_t j = 0; j < entries.size(); ++j) entries[j] = colour(j);
  }
  return CreatePalette(std::move(entries));
}

HPALETTE TColorManager::GreyPalette(bool reversed) {
  const int bits = std::min(FTargetBitsPerSample * FTargetSamplesPerPixel, 8);
  const uint32_t entries = 1u << bits;
  const uint8_t last = static_cast<uint8_t>(entries - 1);
  const uint32_t step = 255 / last;
  const bool gamma = TargetFlags & cvGamma;
  std::vector<TPaletteEntry> palette(entries);
  for (uint32_t i = 0; i <= last; ++i) {
    uint8_t level = static_cast<uint8_t>(i * step);
    if (gamma) level = FGammaTable[level];
    palette[reversed ? last - i : i] = TPaletteEntry{level, level, level, 0};
  }
  return CreatePalette(std::move(palette));
}

}  // namespace tolvane
