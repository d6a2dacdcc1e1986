// The colour manager: turns the sample rows that an image reader decodes into
// the scan lines of the bitmap that it fills, and builds the palettes that
// indexed and grey bitmaps need.
//
// How a reader uses it:
//   1. Describe the rows it delivers (the source side) and the bitmap's scan
//      lines (the target side): SetSourceScheme / SetTargetScheme,
//      SetSourceBitsPerSample / SetTargetBitsPerSample,
//      SetSourceSamplesPerPixel / SetTargetSamplesPerPixel, and the public
//      flag fields SourceFlags / TargetFlags (assign or or-in cvSwap16,
//      cvGamma, cvLabLightness255, cvLabOffset128; cvAlpha is maintained from
//      the schemes).
//   2. Optionally SetGammaValues (after the depths: the table depends on the
//      depths in force) and SetYCbCrSettings.
//   3. Choose the bitmap layout with PixelFormatFor(1) and, for indexed and
//      grey targets, give the bitmap PaletteFromColorMap(...) or
//      GreyPalette(...).
//   4. Pass every decoded row through ConvertRow(planes, RowPointer(y), width,
//      mask). One plane for interleaved samples, one per sample plane for
//      planar rows; each plane with the bytes it holds.
//
// Samples in memory: 8-bit samples are bytes; 16-bit samples are two bytes,
// low byte first, or high byte first when SourceFlags holds cvSwap16. Packed
// samples below 8 bits lie most significant bits first. Target pixels are
// written in the target scheme's sample order (ckBGR: blue, green, red), alpha
// last, one byte per sample at 8 bits and two (low byte first) at 16 bits.
//
// Every failure raises EColorConversionError.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "picture/Classes.h"
#include "picture/GdiObjects.h"
#include "picture/Graphics.h"
#include "picture/SysUtils.h"

namespace tolvane {

TOLVANE_EXCEPTION(EColorConversionError, Exception);

// The texts that the colour manager raises.
namespace GraphicColorStrings {
inline constexpr const char* SIndexedNotSupported =
    "Conversion between indexed and non-indexed pixel formats is not supported.";
inline constexpr const char* SConversionUnsupported = "Color conversion failed. Could not find a proper method.";
inline constexpr const char* SInvalidColorDepth =
    "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.";
inline constexpr const char* SInvalidSampleCount =
    "Sample count per pixel does not correspond to the given color scheme.";
inline constexpr const char* SInvalidSubSampling = "Subsampling value is invalid. Allowed are 1, 2 and 4.";
inline constexpr const char* SVerticalSubSamplingError =
    "Vertical subsampling value must be <= horizontal subsampling value.";
inline constexpr const char* SInvalidLumaWeights =
    "Luma weights are invalid. They must be finite numbers and give a non-zero green weight.";
inline constexpr const char* SMissingSamplePlanes =
    "Color conversion failed. The row has fewer sample planes than the color scheme needs.";
inline constexpr const char* SMissingColorMap =
    "Color conversion failed. The color map has fewer planes than its layout needs.";
inline constexpr const char* SShortSampleRow =
    "Color conversion failed. The row holds fewer samples than the conversion reads.";
}  // namespace GraphicColorStrings

// The colour model of one side's pixels.
enum TColorSchemeKind : uint8_t {
  ckUnknown = 0,    // no conversion exists
  ckIndexed = 1,    // one palette index
  ckGrey = 2,       // one grey level
  ckGreyAlpha = 3,  // grey, alpha
  ckRGB = 4,        // red, green, blue
  ckRGBA = 5,       // red, green, blue, alpha
  ckBGR = 6,        // blue, green, red
  ckBGRA = 7,       // blue, green, red, alpha
  ckCMY = 8,        // cyan, magenta, yellow; no conversion exists
  ckCMYK = 9,       // cyan, magenta, yellow, black
  ckLab = 10,       // CIE L*, a*, b*
  ckYCbCr = 11,     // luma, blue chroma, red chroma
  ckPhotoYCC = 12,  // luma and two chroma channels of the Photo CD colour space
};

// A set of conversion options (bit-or of the cv constants); each side has
// its own.
using TConvertOptions = uint8_t;
// The side carries an alpha sample; set and cleared by the preparation from
// the schemes.
inline constexpr TConvertOptions cvAlpha = 1;
// Target: 8-bit colour results pass through the gamma table (three-colour
// rows, and indexed and grey targets through their palette).
inline constexpr TConvertOptions cvGamma = 2;
// Source: 16-bit samples are stored high byte first.
inline constexpr TConvertOptions cvSwap16 = 4;
// Source: L* is stored as 0..255 (divided by 2.55).
inline constexpr TConvertOptions cvLabLightness255 = 8;
// Source: a* and b* are unsigned with an offset of 128, not signed bytes.
inline constexpr TConvertOptions cvLabOffset128 = 16;

// How a file's colour map lies in memory (PaletteFromColorMap).
enum TColorMapLayout : uint8_t {
  cmInterleaved8x3 = 0,   // one buffer, 3 bytes per entry
  cmInterleaved8x4 = 1,   // one buffer, 4 bytes per entry, the fourth ignored
  cmPlanar8x3 = 2,        // three buffers of bytes: red, green, blue
  cmPlanar8x4 = 3,        // as cmPlanar8x3
  cmInterleaved16x3 = 4,  // one buffer, three 16-bit samples per entry
  cmInterleaved16x4 = 5,  // one buffer, four 16-bit samples per entry, the fourth ignored
  cmPlanar16x3 = 6,       // three buffers of 16-bit samples: red, green, blue
  cmPlanar16x4 = 7,       // as cmPlanar16x3
};

// 0 below 0, 255 above 255, else the value.
constexpr uint8_t ClampByte(int32_t value) {
  return value < 0 ? 0 : value > 255 ? 255 : static_cast<uint8_t>(value);
}

// x * y / z in 32 bits, the quotient truncated to 16 bits. Callers keep z
// above 0 and the quotient within 16 bits; z = 0 gives 0.
constexpr uint16_t MulDiv16(uint16_t x, uint16_t y, uint16_t z) {
  if (z == 0) return 0;
  return static_cast<uint16_t>(uint32_t{x} * uint32_t{y} / z);
}

// The sample planes of one row as the row converters take them: a single
// pointer for interleaved samples, one pointer per sample plane for planar
// rows.
using TRowSource = std::span<const uint8_t* const>;
// One sample plane of a row with the bytes it holds, and the planes of a row,
// as ConvertRow takes them.
using TRowPlane = std::span<const uint8_t>;
using TRowPlanes = std::span<const TRowPlane>;

class TColorManager : public TObject {
  TOLVANE_CLASS(TColorManager)
public:
  // A row converter: source planes, first byte of the target row, number of
  // target pixels walked, pixel mask.
  using TRowConverter = void (TColorManager::*)(TRowSource source, uint8_t* target, uint32_t count,
                                                uint8_t mask) const;
  // A per-sample converter (8- or 16-bit sample in, converted sample out).
  using TSampleConverter = uint16_t (TColorManager::*)(uint16_t sample) const;

  // 8-bit RGB to 8-bit BGR, 3 samples a side, image gamma 1.0 and screen
  // gamma 2.2, luma weights 0.299, 0.587, 0.114, no subsampling.
  TColorManager();

  // ---- Settings ------------------------------------------------------------
  // Depths: 1..16 bits per sample, else "Color depth is invalid..." and the
  // value stays. A new value marks the settings changed.
  void SetSourceBitsPerSample(uint8_t bits);
  void SetTargetBitsPerSample(uint8_t bits);
  // 1..4 samples per pixel, else "Sample count per pixel does not
  // correspond..." and the value stays. A new value marks the settings changed.
  void SetSourceSamplesPerPixel(uint8_t samples);
  void SetTargetSamplesPerPixel(uint8_t samples);
  // No check here; a new value marks the settings changed.
  void SetSourceScheme(TColorSchemeKind scheme);
  void SetTargetScheme(TColorSchemeKind scheme);
  // Rebuilds GammaTable at once for the depths in force: a gamma of 0 or
  // below means 1.0 (image) and 2.2 (screen). Readers pass the file's gamma
  // and 2.2, and add cvGamma to TargetFlags.
  void SetGammaValues(float imageGamma, float screenGamma);
  // Luma weights red, green, blue (missing ones keep their values; weights
  // that are not finite or make the green weight's divisions fail raise
  // before anything is stored); subsampling 1, 2 or 4 each, vertical never
  // above horizontal. Takes effect at the next preparation.
  void SetYCbCrSettings(std::span<const float> lumaWeights, uint8_t horizontal, uint8_t vertical);
  void SetYCbCrSettings(std::initializer_list<float> lumaWeights, uint8_t horizontal, uint8_t vertical) {
    SetYCbCrSettings(std::span<const float>(lumaWeights.begin(), lumaWeights.size()), horizontal, vertical);
  }

  // Written directly by readers; writing them does not mark the settings
  // changed, so set them before the first row of an image.
  TConvertOptions SourceFlags = 0;
  TConvertOptions TargetFlags = 0;

  bool SettingsChanged() const { return FSettingsChanged; }
  uint8_t SourceBitsPerSample() const { return FSourceBitsPerSample; }
  uint8_t TargetBitsPerSample() const { return FTargetBitsPerSample; }
  uint8_t SourceSamplesPerPixel() const { return FSourceSamplesPerPixel; }
  uint8_t TargetSamplesPerPixel() const { return FTargetSamplesPerPixel; }
  TColorSchemeKind SourceScheme() const { return FSourceScheme; }
  TColorSchemeKind TargetScheme() const { return FTargetScheme; }
  float ImageGamma() const { return FImageGamma; }
  float ScreenGamma() const { return FScreenGamma; }
  const std::array<uint8_t, 256>& GammaTable() const { return FGammaTable; }
  const std::array<float, 3>& LumaWeights() const { return FLumaWeights; }
  uint8_t HorizontalSubsampling() const { return FHorizontalSubsampling; }
  uint8_t VerticalSubsampling() const { return FVerticalSubsampling; }
  // Chroma tables, 256 entries each once a YCbCr or Photo YCC source has
  // been prepared.
  const std::vector<int32_t>& CrToRed() const { return FCrToRed; }
  const std::vector<int32_t>& CbToBlue() const { return FCbToBlue; }
  const std::vector<int32_t>& CrToGreen() const { return FCrToGreen; }
  const std::vector<int32_t>& CbToGreen() const { return FCbToGreen; }
  // The converter chosen for the current settings, or nullptr.
  TRowConverter RowConverter() const { return FRowConverter; }

  // ---- Conversion ----------------------------------------------------------
  // The bitmap layout that holds one pixel of a side (0: source, any other
  // value: target). A target deeper than 8 bits per sample gives plCustom,
  // which no bitmap accepts: the converters would write wider pixels than
  // the layout's rows hold.
  TPixelLayout PixelFormatFor(int side) const;
  // Checks the pair of sides and chooses the row converter; ConvertRow runs
  // it while the settings are marked changed. Raises "Conversion between
  // indexed and non-indexed..." for an indexed or grey side facing a colour
  // side (the settings then stay marked changed).
  void PrepareConversion();
  // Converts one row: prepares if needed, then runs the row converter. The
  // mask selects the target pixels written: bit 7 for the first pixel of each
  // run of eight, down to bit 0 for the eighth. The source holds only the
  // selected pixels, one after another; count is the number of target pixels
  // walked, selected or not. A pixel whose bit is clear is left as it was.
  // A row with fewer planes than its scheme needs raises
  // "Color conversion failed. The row has fewer sample planes...", a plane
  // shorter than the conversion reads of it for count pixels under mask
  // "Color conversion failed. The row holds fewer samples...". Planes
  // beyond MaxRowPlanes are never read.
  void ConvertRow(TRowPlanes source, uint8_t* target, uint32_t count, uint8_t mask);
  void ConvertRow(std::initializer_list<TRowPlane> source, uint8_t* target, uint32_t count, uint8_t mask) {
    ConvertRow(TRowPlanes(source.begin(), source.size()), target, count, mask);
  }
  void ConvertRow(TRowPlane source, uint8_t* target, uint32_t count, uint8_t mask) {
    ConvertRow(TRowPlanes(&source, 1), target, count, mask);
  }
  static constexpr size_t MaxRowPlanes = 8;
  // Whether a row converted with mask 0xFF has every byte of its count
  // target pixels written, whatever the target held before, under the
  // prepared settings (false while they are marked changed). A reader may
  // then leave a bitmap's rows unfilled until it converts into them.
  bool OverwritesTargetRows() const;
  // Whether a row of count pixels converted with mask 0xFF may be its own
  // target (source and target at the same address), under the prepared
  // settings: 8-bit rows whose pixels keep their size and need no table.
  bool ConvertsInPlace() const;

  // ---- Palettes (the caller owns the result) -------------------------------
  // A palette from a file's colour map of count entries (each plane holds
  // count entries for planar layouts). 16-bit maps are scaled to 8 bits
  // (cvSwap16 in SourceFlags: high byte first); cvGamma in TargetFlags
  // passes the levels through the gamma table. When the target has 8 bits or
  // fewer and its depth differs from the source's, the palette is spread to
  // the target's 2^bits entries, matching the index scaling of the row
  // converters. At most 256 entries; map entries at count or beyond are
  // never read (such palette entries are black).
  HPALETTE PaletteFromColorMap(TRowSource colorMap, TColorMapLayout layout, uint32_t count, bool blueFirst);
  HPALETTE PaletteFromColorMap(std::initializer_list<const uint8_t*> colorMap, TColorMapLayout layout,
                               uint32_t count, bool blueFirst) {
    return PaletteFromColorMap(TRowSource(colorMap.begin(), colorMap.size()), layout, count, blueFirst);
  }
  // Evenly spaced greys for the target's depth (at most 256 entries), black
  // first; reversed: white first (min-is-white images). cvGamma in
  // TargetFlags passes the levels through the gamma table.
  HPALETTE GreyPalette(bool reversed);

  // Raises EColorConversionError with the message.
  [[noreturn]] void Fail(const std::string& message) const;

  // ---- Per-sample converters ---------------------------------------------
  uint16_t SampleIdentity(uint16_t sample) const { return sample; }
  uint16_t SampleGamma(uint16_t sample) const { return FGammaTable[sample & 0xFF]; }
  uint16_t SampleScale16(uint16_t sample) const { return MulDiv16(sample, 255, 65535); }
  uint16_t SampleScale16Gamma(uint16_t sample) const { return FGammaTable[MulDiv16(sample, 255, 65535)]; }
  uint16_t SampleSwapScale16(uint16_t sample) const { return MulDiv16(SampleSwap16(sample), 255, 65535); }
  uint16_t SampleSwapScale16Gamma(uint16_t sample) const { return FGammaTable[SampleSwapScale16(sample)]; }
  uint16_t SampleSwap16(uint16_t sample) const { return static_cast<uint16_t>(sample << 8 | sample >> 8); }

  // ---- Row converters ------------------------------------------------------
  // Chosen by PrepareConversion and called through ConvertRow, with its
  // arguments. A depth pair that a converter does not handle writes nothing.
  void RowBgrToBgr(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const;
  void RowBgrToRgb(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const;
  void RowRgbToBgr(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const;
  void RowRgbToRgb(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const;
  void RowCmykToBgr(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const;
  void RowCmykToRgb(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const;
  void RowLabToBgr(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const;
  void RowLabToRgb(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const;
  void RowYCbCrToBgr(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const;
  void RowYCbCrToRgb(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const;
  void RowPhotoYccToBgr(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const;
  void RowPhotoYccToRgb(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const;
  void RowGrey(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const;
  void RowIndexed(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const;
  void RowIndexed16To16(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const;
  void RowIndexed16To8(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const;
  void RowIndexed8To16(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const;

private:
  void BuildChromaTables();
  void RowThreeColour(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask, bool exchange) const;
  void RowCmyk(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask, bool bgr) const;
  void RowLab(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask, bool bgr) const;
  void RowChroma(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask, bool bgr,
                 bool photoYcc) const;
  // Raises when the row has fewer than n planes or one of them is null.
  void RequirePlanes(TRowSource source, size_t n) const;
  // Raises when a plane of the row is shorter than the prepared conversion
  // reads of it for count pixels under mask.
  void CheckRowLengths(TRowPlanes source, uint32_t count, uint8_t mask) const;

  bool FSettingsChanged = true;
  uint8_t FSourceBitsPerSample = 8;
  uint8_t FTargetBitsPerSample = 8;
  uint8_t FSourceSamplesPerPixel = 3;
  uint8_t FTargetSamplesPerPixel = 3;
  float FImageGamma = 1.0f;
  float FScreenGamma = 2.2f;
  std::array<uint8_t, 256> FGammaTable{};
  std::array<float, 3> FLumaWeights{0.299f, 0.587f, 0.114f};
  uint8_t FHorizontalSubsampling = 1;
  uint8_t FVerticalSubsampling = 1;
  std::vector<int32_t> FCrToRed, FCbToBlue, FCrToGreen, FCbToGreen;
  TColorSchemeKind FSourceScheme = ckRGB;
  TColorSchemeKind FTargetScheme = ckBGR;
  TRowConverter FRowConverter = nullptr;
};

}  // namespace tolvane
