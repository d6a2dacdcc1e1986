// The TIFF reader: reads the header and the first directory, cuts the image
// into strips and converts their rows straight into the bitmap. File bytes
// come in windows of a few hundred kilobytes, so that strips lying one after
// another in the file cost one read between them. A compressed strip is
// decoded into a zeroed buffer no larger than its data can fill, or, for
// JPEG strips whose rows need no conversion, straight into the bitmap's
// rows; uncompressed rows are converted from the window, or read straight
// into the bitmap's rows and converted there. One strip (per sample plane)
// is held at a time.
#include "graphics/readers/TIFFGraphic.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <span>

#include "graphics/GraphicCompression.h"
#include "graphics/GraphicStrings.h"
#include "picture/ByteOrder.h"

namespace tolvane {

TOLVANE_DEFINE_FORMAT_CLASS(TTIFFGraphic, TFormatGraphic)

namespace {

namespace S = GraphicStrings;

// What the message names when a tiled image is refused.
constexpr const char* STiling = "Tiling is";

enum TTag : uint16_t {
  tagImageWidth = 256,
  tagImageLength = 257,
  tagBitsPerSample = 258,
  tagCompression = 259,
  tagPhotometric = 262,
  tagFillOrder = 266,
  tagStripOffsets = 273,
  tagSamplesPerPixel = 277,
  tagRowsPerStrip = 278,
  tagStripByteCounts = 279,
  tagXResolution = 282,
  tagYResolution = 283,
  tagPlanarConfiguration = 284,
  tagT4Options = 292,
  tagResolutionUnit = 296,
  tagPredictor = 317,
  tagColorMap = 320,
  tagTileWidth = 322,
  tagTileLength = 323,
  tagExtraSamples = 338,
  tagJPEGTables = 347,
  tagYCbCrCoefficients = 529,
  tagYCbCrSubSampling = 530,
};

// Field types.
constexpr uint16_t ftByte = 1, ftAscii = 2, ftShort = 3, ftLong = 4, ftRational = 5, ftSByte = 6, ftUndefined = 7,
                   ftSShort = 8, ftSLong = 9, ftSRational = 10, ftFloat11 = 11;

uint32_t ElementSize(uint16_t type) {
  static constexpr uint8_t sizes[12] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 8};
  return type < 12 ? sizes[type] : 0;
}

bool IsShortType(uint16_t t) { return t == ftShort || t == ftSShort; }
bool IsLongType(uint16_t t) { return t == ftLong || t == ftSLong; }
bool IsFractionType(uint16_t t) { return t == ftRational || t == ftSRational || t == ftFloat11; }

// A colour map of three values or fewer fits inside its entry and is no
// palette; more than three planes of 256 values are never needed.
constexpr uint32_t MaxColorMapValues = 768;

// Packed bytes a strip may take beyond sixteen times its decoded size.
constexpr uint64_t MaxStripOverhead = 8192;

// File bytes are read this much at a time (at least a row, or a whole
// compressed strip), so that a strip costs a piece of memory, not a second
// copy of the picture.
constexpr uint64_t WindowBytes = uint64_t{256} << 10;
// Rows read at once into the bitmap, however narrow: their addresses are
// held while they are read.
constexpr uint64_t MaxRunRows = 1024;

// The most bytes that packed bytes can decode to, where the coding bounds it:
// a PackBits pair repeats a byte at most 128 times, an LZW code of at least
// 9 bits stands for at most 4096 bytes, and deflate makes at most 1032 bytes
// of a byte. The other codings' rows are no wider than the bitmap's.
uint64_t DecodedBound(TImageCompression compression, uint64_t packed) {
  switch (compression) {
    case icPackBits: return (packed + 1) / 2 * 128;
    case icLZW: return (packed * 8 / 9 + 1) * 4096;
    case icLZ77: return (packed + 1) * 1032;
    default: return UINT64_MAX;
  }
}

[[noreturn]] void RaiseTIFF() { RaiseInvalidGraphicFmt(S::SInvalidImage, {S::SFormatTIFF}); }
[[noreturn]] void RaiseUnsupported(const char* what) {
  RaiseInvalidGraphicFmt(S::SUnsupportedFeature, {what, S::SFormatTIFF});
}

// Horizontal differencing undone per sample: each sample gets the sample
// of the same channel one pixel to its left added; 16-bit samples are words
// in the file's byte order. Other depths carry no differences worth undoing.
void UndoSamplePredictor(uint8_t* row, uint32_t width, uint32_t samples, uint8_t bitsPerSample, bool bigEndian) {
  const size_t count = size_t{width} * samples;
  if (bitsPerSample == 8 && width > 0 && (samples == 1 || samples == 3 || samples == 4)) {
    (samples == 1 ? UndoPredictor8 : samples == 3 ? UndoPredictor24 : UndoPredictor32)(row, width - 1);
  } else if (bitsPerSample == 8) {
    for (size_t i = samples; i < count; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - samples]);
  } else if (bitsPerSample == 16) {
    for (size_t i = samples; i < count; ++i) {
      const uint16_t v = static_cast<uint16_t>(Load16(row + 2 * i, bigEndian) + Load16(row + 2 * (i - samples), bigEndian));
      if (bigEndian) StoreBE16(row + 2 * i, v);
      else StoreLE16(row + 2 * i, v);
    }
  }
}

// Three-bit samples cross byte boundaries, which no row converter reads:
// they become bytes, grey levels spread over 0..255 and indices kept.
void WidenThreeBits(const uint8_t* row, uint32_t width, bool grey, std::vector<uint8_t>& out) {
  out.resize(width);
  for (size_t x = 0; x < width; ++x) {
    const size_t bit = 3 * x;
    const unsigned pair = unsigned{row[bit / 8]} << 8 | (bit % 8 > 5 ? row[bit / 8 + 1] : 0u);
    const unsigned v = pair >> (13 - bit % 8) & 7;
    out[x] = static_cast<uint8_t>(grey ? (v * 510 + 7) / 14 : v);
  }
}

// The first of each pixel's samples, packed at the same depth. Samples
// narrower than a byte divide it and never cross a byte boundary.
void KeepFirstSamples(const uint8_t* row, uint32_t width, uint32_t samples, uint32_t bits, std::vector<uint8_t>& out) {
  if (bits >= 8) {
    const size_t size = bits / 8, step = size * samples;
    out.resize(size_t{width} * size);
    for (size_t x = 0; x < width; ++x) std::memcpy(out.data() + x * size, row + x * step, size);
    return;
  }
  out.assign((size_t{width} * bits + 7) / 8, 0);
  const unsigned mask = (1u << bits) - 1;
  for (size_t x = 0; x < width; ++x) {
    const size_t from = x * samples * bits, to = x * bits;
    const unsigned v = unsigned{row[from / 8]} >> (8 - bits - from % 8) & mask;
    out[to / 8] = static_cast<uint8_t>(out[to / 8] | v << (8 - bits - to % 8));
  }
}

// The 8-bit layouts whose JPEG strips the decoder delivers as the converter
// reads them: grey, CMYK, and RGB or YCbCr as blue, green, red.
bool JpegLayoutDecoded(const TImageProperties& p) {
  if (p.BitsPerSample != 8) return false;
  switch (p.ColorScheme) {
    case ckGrey: return p.SamplesPerPixel == 1;
    case ckCMYK: return p.SamplesPerPixel == 4;
    case ckRGB:
    case ckYCbCr: return p.SamplesPerPixel == 3;
    default: return false;
  }
}

// The scheme of the rows that the JPEG decoder delivers.
TColorSchemeKind JpegRowScheme(TColorSchemeKind scheme) {
  return scheme == ckGrey || scheme == ckCMYK ? scheme : ckBGR;
}

// Fill order 2 stores the first pixel of each byte in its lowest bit, before
// any compression.
void ReverseBits(uint8_t* data, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    uint8_t b = data[i];
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    data[i] = static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
  }
}

// File bytes from Start on, read in one piece straight into Bytes (which
// keeps its size for the next piece): Count of them hold the file's.
struct TFileWindow {
  TPixelBytes Bytes;
  int64_t Start = 0;
  size_t Count = 0;

  // size bytes of the file from position on, read again from there (with
  // as many bytes as ahead() tells) when the window does not hold them all;
  // fewer where the file ends. Fill order 2 is undone as bytes come in.
  template <class Ahead>
  std::span<uint8_t> Take(TStream& stream, int64_t fileSize, bool reverse, int64_t position, uint64_t size,
                          Ahead&& ahead) {
    if (position >= Start && static_cast<uint64_t>(position - Start) + size <= Count)
      return {Bytes.data() + (position - Start), static_cast<size_t>(size)};
    Start = position;
    Count = 0;
    if (position >= fileSize) return {};
    const uint64_t wanted = std::min(std::max(size, ahead()), static_cast<uint64_t>(fileSize - position));
    if (Bytes.size() < wanted) Bytes.resize(static_cast<size_t>(wanted));
    stream.SetPosition(position);
    Count = stream.Read(Bytes.data(), static_cast<size_t>(wanted));
    if (reverse) ReverseBits(Bytes.data(), Count);
    return {Bytes.data(), static_cast<size_t>(std::min<uint64_t>(size, Count))};
  }
};

}  // namespace

// One sample plane's strip. A decoded strip holds Count rows from its first
// in Rows, as far as its data can reach; an uncompressed one is read through
// the window from Start. Rows outside both are zero.
struct TTIFFGraphic::TStripPlane {
  TPixelBytes Rows;
  uint32_t Count = 0;
  int64_t Start = -1;  // file position of an uncompressed strip's data; -1: none
  uint32_t Strip = 0;  // its index among the plane's strips
  bool InBitmap = false;  // decoded (and converted) straight into the bitmap's rows
  TFileWindow Window;
};

// What one load holds besides the bitmap.
struct TTIFFGraphic::TLoadState {
  std::unique_ptr<TDecoder> Decoder;
  std::vector<uint32_t> StripOffsets, StripByteCounts;
  std::vector<TStripPlane> Planes;            // the strip of each sample plane
  std::vector<uint8_t> ZeroRow;               // for rows that no data reach
  std::vector<uint8_t> ShortRow;              // a row the file ends in, and zeros
  std::vector<std::vector<uint8_t>> Reduced;  // rows narrowed or widened for the converter
  std::vector<uint8_t*> TargetRows;           // the bitmap rows of a run of uncompressed rows
  // While the bitmap's rows are left unfilled for the strips to write;
  // ending it fills the rows they did not reach.
  std::optional<TBitmap::TUnfilledRows> Unfilled;
  TPixelLayout Layout = plDevice;
  int64_t FileSize = 0;  // taken once: asking the stream costs seeks
  uint32_t T4Options = 0;
  uint32_t PlaneCount = 1;
  uint64_t PlaneRowBytes = 0;
  bool UsePredictor = false;
  bool Lab16 = false;
  bool ReverseBits = false;  // the fax decoders reverse bits themselves
  bool FirstSampleOnly = false;  // indices or grey levels with further samples beside them
  bool Widen3 = false;       // 3-bit levels, spread to bytes
  bool JpegIntoRows = false;  // JPEG strips decoded straight into the bitmap
  bool RowsInPlace = false;   // uncompressed rows read into the bitmap and converted there
  bool RowStripsInPlace = false;  // strips of one row decoded into the bitmap and converted there
  uint32_t StripsPerPlane = 0;
};

TTIFFGraphic::TTIFFGraphic() = default;
TTIFFGraphic::~TTIFFGraphic() = default;

void TTIFFGraphic::SaveStream(TStream&) {}

// ---- Header and directory ----------------------------------------------------

bool TTIFFGraphic::ProbeStream(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() <= 8) return false;
  uint8_t header[8];
  const bool read = stream.Read(header, 8) == 8;
  const int64_t size = stream.Size();
  stream.SetPosition(start);
  if (!read) return false;
  const bool motorola = header[0] == 'M' && header[1] == 'M';
  if (!motorola && !(header[0] == 'I' && header[1] == 'I')) return false;
  return Load16(header + 2, motorola) == 42 && int64_t{Load32(header + 4, motorola)} < size - start;
}

bool TTIFFGraphic::ReadImageInfo(TStream& stream, uint32_t imageIndex) {
  TFormatGraphic::ReadImageInfo(stream, imageIndex);
  DirectoryEntries.clear();
  YCbCrCoefficients.clear();
  TImageProperties& p = ImageProperties;
  stream.SetPosition(BasePosition);
  uint8_t header[8];
  stream.ReadExact(header, sizeof header);
  // Anything but "MM" is taken as little-endian.
  if (header[0] == 'M' && header[1] == 'M') p.Options |= optBigEndian;
  p.Version = Load16(header + 2, BigEndian());
  p.IFDOffset = Load32(header + 4, BigEndian());
  if (p.Version != 42 || !ReadDirectory(stream, imageIndex)) return false;
  p.Width = TagInteger(tagImageWidth, 0);
  p.Height = TagInteger(tagImageLength, 0);
  if (p.Width == 0 || p.Height == 0) return false;
  return ReadFields(stream);
}

bool TTIFFGraphic::ReadDirectory(TStream& stream, uint32_t imageIndex) {
  const int64_t size = stream.Size();
  uint64_t offset = ImageProperties.IFDOffset;
  uint8_t bytes[4];
  uint16_t count = 0;
  for (;;) {
    if (BasePosition + static_cast<int64_t>(offset) + 2 > size) return false;
    stream.SetPosition(BasePosition + static_cast<int64_t>(offset));
    stream.ReadExact(bytes, 2);
    count = Load16(bytes, BigEndian());
    if (imageIndex == 0) break;
    --imageIndex;
    stream.Seek(int64_t{count} * 12, TSeekOrigin::soCurrent);
    stream.ReadExact(bytes, 4);
    offset = Load32(bytes, BigEndian());
    if (offset == 0) return false;
  }
  std::vector<uint8_t> raw(size_t{count} * 12);
  stream.ReadExact(raw.data(), raw.size());
  const bool be = BigEndian();
  DirectoryEntries.resize(count);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* q = raw.data() + 12 * i;
    TTIFFEntry& e = DirectoryEntries[i];
    e.Tag = Load16(q, be);
    e.DataType = Load16(q + 2, be);
    e.DataLength = Load32(q + 4, be);
    const uint32_t elementSize = ElementSize(e.DataType);
    // Values inside a big-endian entry are turned element by element, so
    // that element i lies where it would in a little-endian file.
    if (!be || uint64_t{e.DataLength} * elementSize > 4) e.Offset = Load32(q + 8, be);
    else if (elementSize == 2) e.Offset = uint32_t{LoadBE16(q + 8)} | uint32_t{LoadBE16(q + 10)} << 16;
    else if (elementSize == 4) e.Offset = LoadBE32(q + 8);
    else e.Offset = LoadLE32(q + 8);
  }
  std::stable_sort(DirectoryEntries.begin(), DirectoryEntries.end(),
                   [](const TTIFFEntry& a, const TTIFFEntry& b) { return a.Tag < b.Tag; });
  return true;
}

const TTIFFGraphic::TTIFFEntry* TTIFFGraphic::FindTag(uint16_t tag) const {
  const auto it = std::lower_bound(DirectoryEntries.begin(), DirectoryEntries.end(), tag,
                                   [](const TTIFFEntry& e, uint16_t t) { return e.Tag < t; });
  return it != DirectoryEntries.end() && it->Tag == tag ? &*it : nullptr;
}

uint32_t TTIFFGraphic::TagInteger(uint16_t tag, uint32_t defaultValue) const {
  const TTIFFEntry* e = FindTag(tag);
  if (!e) return defaultValue;
  if (e->DataLength != 1) return e->Offset;
  if (e->DataType == ftByte) return e->Offset & 0xFF;
  if (IsShortType(e->DataType)) return e->Offset & 0xFFFF;
  if (IsLongType(e->DataType)) return e->Offset;
  return defaultValue;
}

// The bytes of count elements of the entry: from the entry itself (as a
// little-endian field) or from its offset, which must lie inside the stream.
std::vector<uint8_t> TTIFFGraphic::TagData(TStream& stream, const TTIFFEntry& entry, uint32_t count, uint32_t size) {
  const uint64_t total = uint64_t{count} * size;
  if (uint64_t{entry.DataLength} * size <= 4) {
    std::vector<uint8_t> data(static_cast<size_t>(total));
    uint8_t field[4];
    StoreLE32(field, entry.Offset);
    std::memcpy(data.data(), field, data.size());
    return data;
  }
  // The count is the file's claim: it sizes nothing before the file is
  // known to hold that many bytes.
  const int64_t position = BasePosition + int64_t{entry.Offset};
  if (position + static_cast<int64_t>(total) > stream.Size()) RaiseTIFF();
  std::vector<uint8_t> data(static_cast<size_t>(total));
  stream.SetPosition(position);
  stream.ReadExact(data.data(), data.size());
  return data;
}

// The elements of a tag as numbers; fractions (only when asked for) as
// floats. A fraction with denominator 0 makes the whole tag count as absent.
std::vector<uint32_t> TTIFFGraphic::TagValues(TStream& stream, uint16_t tag, uint32_t maxCount, bool fractions,
                                              std::vector<float>* floats) {
  std::vector<uint32_t> values;
  const TTIFFEntry* e = FindTag(tag);
  if (!e || e->DataLength == 0) return values;
  const uint16_t type = e->DataType;
  const uint32_t size = ElementSize(type);
  if (size == 0 || (IsFractionType(type) && !fractions)) return values;
  const uint32_t count = std::min(e->DataLength, maxCount);
  const TTIFFEntry entry = *e;  // the lookup may not outlive reads
  const std::vector<uint8_t> data = TagData(stream, entry, count, size);
  const bool be = BigEndian() && uint64_t{entry.DataLength} * size > 4;
  values.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* q = data.data() + size_t{i} * size;
    if (IsFractionType(type)) {
      const uint32_t numerator = Load32(q, be), denominator = Load32(q + 4, be);
      if (denominator == 0) {
        if (floats) floats->clear();
        return {};
      }
      if (floats) floats->push_back(static_cast<float>(static_cast<double>(numerator) / denominator));
      values.push_back(0);
      continue;
    }
    const uint32_t v = size == 1 ? q[0] : size == 2 ? Load16(q, be) : Load32(q, be);
    values.push_back(v);
    if (floats) floats->push_back(static_cast<float>(v));
  }
  return values;
}

std::vector<uint32_t> TTIFFGraphic::ReadTagCardinals(TStream& stream, uint16_t tag, uint32_t maxCount) {
  return TagValues(stream, tag, maxCount, false, nullptr);
}

std::vector<uint8_t> TTIFFGraphic::ReadTagBytes(TStream& stream, uint16_t tag, uint32_t maxCount) {
  const std::vector<uint32_t> values = TagValues(stream, tag, maxCount, false, nullptr);
  std::vector<uint8_t> result(values.size());
  std::transform(values.begin(), values.end(), result.begin(), [](uint32_t v) { return static_cast<uint8_t>(v); });
  return result;
}

std::vector<float> TTIFFGraphic::ReadTagFloats(TStream& stream, uint16_t tag, uint32_t maxCount) {
  std::vector<float> result;
  TagValues(stream, tag, maxCount, true, &result);
  return result;
}

float TTIFFGraphic::TagFloat(TStream& stream, uint16_t tag, float defaultValue) {
  const TTIFFEntry* e = FindTag(tag);
  if (!e || e->DataLength != 1) return defaultValue;
  if (!IsFractionType(e->DataType)) {
    if (e->DataType == ftByte || IsShortType(e->DataType) || IsLongType(e->DataType))
      return static_cast<float>(TagInteger(tag, 0));
    return defaultValue;
  }
  const std::vector<float> values = ReadTagFloats(stream, tag, 1);
  return values.empty() ? defaultValue : values[0];
}

// The fields of ImageProperties, after width and height, in the order
// the colour set-up relies on. False for values that no load can use.
bool TTIFFGraphic::ReadFields(TStream& stream) {
  TImageProperties& p = ImageProperties;
  // No image has more strips than rows; a count beyond that is padding.
  const uint32_t maxStrips = std::min<uint32_t>(p.Height, uint32_t{1} << 28);
  p.RowsPerStrip = ReadTagCardinals(stream, tagRowsPerStrip, maxStrips);
  if (p.RowsPerStrip.empty() || p.RowsPerStrip[0] == 0xFFFFFFFF) p.RowsPerStrip.assign(1, p.Height);
  // A strip of 0 rows would never advance: it counts as the whole image.
  for (uint32_t& rows : p.RowsPerStrip)
    if (rows == 0) rows = p.Height;

  // Both counts are checked before they are narrowed to a byte.
  const uint32_t samples = TagInteger(tagSamplesPerPixel, 1);
  const std::vector<uint32_t> bits = ReadTagCardinals(stream, tagBitsPerSample, 1);
  const uint32_t bitsPerSample = bits.empty() ? 1 : bits[0];
  if (samples == 0 || samples > 255 || bitsPerSample == 0 || bitsPerSample > 255) return false;
  p.SamplesPerPixel = static_cast<uint8_t>(samples);
  p.BitsPerSample = static_cast<uint8_t>(bitsPerSample);

  p.TileWidth = TagInteger(tagTileWidth, 0);
  p.TileLength = TagInteger(tagTileLength, 0);
  if (p.TileWidth != 0 && p.TileLength != 0) p.Options |= optTiled;
  const uint32_t photometric = TagInteger(tagPhotometric, 0) & 0xFF;
  const std::vector<uint32_t> extra = ReadTagCardinals(stream, tagExtraSamples, p.SamplesPerPixel);
  p.HasAlpha = !extra.empty() && std::all_of(extra.begin(), extra.end(), [](uint32_t v) { return v <= 2; });
  p.BitsPerPixel = static_cast<uint8_t>(p.BitsPerSample * p.SamplesPerPixel);
  // TIFF's own default: a file without the tag is uncompressed.
  p.Compression = CompressionFromTIFF(static_cast<uint16_t>(TagInteger(tagCompression, 1)));
  switch (photometric) {
    case 0: p.ColorScheme = ckGrey, p.Options |= optMinIsWhite; break;
    case 1: p.ColorScheme = ckGrey; break;
    case 2: p.ColorScheme = p.SamplesPerPixel < 4 ? ckRGB : ckRGBA; break;
    case 3: p.ColorScheme = ckIndexed; break;
    case 5: p.ColorScheme = ckCMYK; break;
    case 6: p.ColorScheme = ckYCbCr; break;
    case 8: p.ColorScheme = ckLab; break;
    default: p.ColorScheme = ckUnknown; break;
  }
  if (p.ColorScheme == ckYCbCr) {
    YCbCrCoefficients = ReadTagFloats(stream, tagYCbCrCoefficients, 3);
    if (YCbCrCoefficients.empty()) YCbCrCoefficients = {0.299f, 0.587f, 0.114f};
    p.YCbCrSubsampling = ReadTagBytes(stream, tagYCbCrSubSampling, 2);
    if (p.YCbCrSubsampling.empty()) p.YCbCrSubsampling = {2, 2};
    if (p.YCbCrSubsampling.size() < 2) p.YCbCrSubsampling.push_back(2);
  }
  p.JpegColorMode = 0;
  p.JpegTablesMode = 3;
  p.PlanarConfiguration = TagInteger(tagPlanarConfiguration, 1);
  p.XResolution = TagFloat(stream, tagXResolution, 0);
  p.YResolution = TagFloat(stream, tagYResolution, 0);
  if (TagInteger(tagResolutionUnit, 2) == 3) {
    p.XResolution = static_cast<float>(double{p.XResolution} * 2.54);
    p.YResolution = static_cast<float>(double{p.YResolution} * 2.54);
  }
  p.Predictor = TagInteger(tagPredictor, 0);
  if (TagInteger(tagFillOrder, 1) == 2) p.Options |= optReversedBits;
  return SchemeIsUsable();
}

// A scheme whose converter reads more samples than each pixel has would read
// past the row.
bool TTIFFGraphic::SchemeIsUsable() const {
  const TImageProperties& p = ImageProperties;
  switch (p.ColorScheme) {
    case ckRGB:
    case ckRGBA:
    case ckYCbCr:
    case ckLab: return p.SamplesPerPixel >= 3;
    case ckCMYK: return p.SamplesPerPixel >= 4;
    default: return true;
  }
}

// ---- Load --------------------------------------------------------------------------

void TTIFFGraphic::LoadStream(TStream& stream) {
  TLoadFrame frame(*this, stream);
  if (!ReadImageInfo(stream, 0)) RaiseTIFF();
  FLoad = std::make_unique<TLoadState>();
  FLoad->T4Options = TagInteger(tagT4Options, 0);
  CheckSupported();
  StartProgress(static_cast<int32_t>(ImageProperties.Width));
  if (!FindTag(tagStripOffsets)) RaiseTIFF();
  SetUpColors();
  ReadStripTables(stream);
  SizeBitmap(stream);

  TImageProperties& p = ImageProperties;
  FLoad->Decoder = CreateDecoder();
  const TImageCompression c = p.Compression;
  FLoad->ReverseBits =
      (p.Options & optReversedBits) != 0 && c != icFax3 && c != icCCITTMH && c != icCCITTRLEW;
  ChooseDirectRows();
  if (FLoad->Decoder) FLoad->Decoder->BeginDecoding();
  NextStage(S::STransfering);
  if (FLoad->RowsInPlace) ReadRowsInPlace(stream);
  else ReadStrips(stream);
  FLoad->Unfilled.reset();
  if (FLoad->Decoder) FLoad->Decoder->EndDecoding();
  EndProgress();
}

// Rows go straight into the bitmap only while its rows are unfilled, that
// is, while nobody can see them before they are done.
void TTIFFGraphic::ChooseDirectRows() {
  TLoadState& load = *FLoad;
  const TImageCompression c = ImageProperties.Compression;
  // JPEG rows come out as the converter would copy them (blue, green, red
  // or grey at 8 bits; CMYK is converted).
  load.JpegIntoRows = load.Unfilled && c == icJPEG && ColorManager.TargetScheme() == ColorManager.SourceScheme();
  // Uncompressed rows that fit their bitmap rows and need no more than a
  // reordering are read straight into them.
  const bool inPlace = load.Unfilled && load.PlaneCount == 1 && !load.Widen3 && !load.FirstSampleOnly && !load.Lab16 &&
                       load.PlaneRowBytes <= RowSize() && ColorManager.ConvertsInPlace();
  load.RowsInPlace = inPlace && c == icNone && !load.ReverseBits;
  // Deflate strips of one row go the same way: libdeflate fills a row
  // without zeros first, and the row is converted while it is in the
  // cache. (A row of other codings would have to be cleared first, which
  // costs as much as it saves.)
  load.RowStripsInPlace = inPlace && c == icLZ77;
}

// What this reader cannot decode is refused before anything is sized.
void TTIFFGraphic::CheckSupported() const {
  const TImageProperties& p = ImageProperties;
  if (p.Options & optTiled) RaiseUnsupported(STiling);
  const bool bilevel = p.BitsPerSample == 1 && p.SamplesPerPixel == 1;
  switch (p.Compression) {
    case icNone:
    case icPackBits:
    case icLZW:
    case icLZ77: break;
    case icFax3:
      // Two-dimensional rows and uncompressed mode are not decoded.
      if ((FLoad->T4Options & 3) != 0 || !bilevel) RaiseUnsupported(S::SCompressionScheme);
      break;
    case icCCITTMH:
    case icCCITTRLEW:
      if (!bilevel) RaiseUnsupported(S::SCompressionScheme);
      break;
    case icThunderScan:
      if (p.BitsPerSample != 4 || p.SamplesPerPixel != 1) RaiseUnsupported(S::SCompressionScheme);
      break;
    case icJPEG:
      if (!JpegLayoutDecoded(p)) RaiseUnsupported(S::SCompressionScheme);
      break;
    default: RaiseUnsupported(S::SCompressionScheme);
  }
  // Subsampled chroma is only undone by the JPEG decoder.
  if (p.ColorScheme == ckYCbCr && p.Compression != icJPEG &&
      (p.YCbCrSubsampling[0] != 1 || p.YCbCrSubsampling[1] != 1))
    RaiseTIFF();
}

// Everything that can refuse the file is settled here, before anything is
// sized.
void TTIFFGraphic::SetUpColors() {
  TImageProperties& p = ImageProperties;
  TLoadState& load = *FLoad;
  TColorManager& cm = ColorManager;
  // The converters take at most four samples a pixel.
  if (p.SamplesPerPixel > 4) cm.Fail(GraphicColorStrings::SInvalidSampleCount);
  const bool jpeg = p.Compression == icJPEG;
  load.PlaneCount = p.PlanarConfiguration == 2 && !jpeg ? p.SamplesPerPixel : 1;
  load.Lab16 = p.ColorScheme == ckLab && p.BitsPerSample == 16;
  load.Widen3 = (p.ColorScheme == ckIndexed || p.ColorScheme == ckGrey) && p.BitsPerSample == 3 &&
                p.SamplesPerPixel == 1;
  // Grey with one further sample goes through the grey-alpha converter.
  const bool extraSamples = p.ColorScheme == ckIndexed ? p.SamplesPerPixel > 1
                            : p.ColorScheme == ckGrey  ? p.SamplesPerPixel > 2
                                                       : false;
  const uint8_t depth = p.BitsPerSample;
  load.FirstSampleOnly = extraSamples && load.PlaneCount == 1 &&
                         (depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16);

  TColorSchemeKind source = jpeg ? JpegRowScheme(p.ColorScheme) : p.ColorScheme;
  // Grey with alpha interleaved steps over the alpha samples; in separate
  // planes the grey plane alone is read.
  if (source == ckGrey && p.SamplesPerPixel == 2 && load.PlaneCount == 1) source = ckGreyAlpha;
  TColorSchemeKind target;
  switch (source) {
    case ckIndexed: target = ckIndexed; break;
    case ckGrey:
    case ckGreyAlpha: target = ckGrey; break;
    case ckRGBA: target = ckBGRA; break;
    case ckRGB:
    case ckBGR:
    case ckCMYK:
    case ckLab:
    case ckYCbCr: target = ckBGR; break;
    default: target = source; break;
  }
  const uint8_t sourceBits = load.Lab16 || jpeg || load.Widen3 ? 8 : p.BitsPerSample;
  // Other depths have no converter, which would leave the picture blank.
  const bool levels = target == ckIndexed || target == ckGrey;
  if (!(sourceBits == 8 || sourceBits == 16 || (levels && (sourceBits == 1 || sourceBits == 2 || sourceBits == 4))))
    cm.Fail(GraphicColorStrings::SInvalidColorDepth);
  uint8_t targetBits = sourceBits == 16 ? 8 : sourceBits;
  // Two-bit levels have no bitmap layout; they widen to four.
  if (levels && targetBits == 2) targetBits = 4;
  if (!levels) targetBits = 8;
  cm.SourceFlags = BigEndian() && !load.Lab16 ? cvSwap16 : 0;
  cm.TargetFlags = 0;
  if (source == ckLab) cm.SourceFlags |= cvLabLightness255;
  cm.SetSourceScheme(source);
  cm.SetTargetScheme(target);
  cm.SetSourceBitsPerSample(sourceBits);
  cm.SetTargetBitsPerSample(targetBits);
  cm.SetSourceSamplesPerPixel(load.FirstSampleOnly ? 1 : p.SamplesPerPixel);
  cm.SetTargetSamplesPerPixel(target == ckBGRA ? 4 : target == ckBGR ? 3 : 1);
  if (source == ckYCbCr) cm.SetYCbCrSettings(YCbCrCoefficients, 1, 1);
  cm.PrepareConversion();

  const TPixelLayout layout = source == ckGreyAlpha ? pl8Bit : cm.PixelFormatFor(1);
  CheckImageSize(S::SFormatTIFF, layout);
  load.Layout = layout;
  // The strip buffers count as pixel memory beside the bitmap.
  const uint64_t bitsPerPixel = uint64_t{p.BitsPerSample} * p.SamplesPerPixel;
  const uint64_t rowBytes = (bitsPerPixel * p.Width + 7) / 8;
  load.PlaneRowBytes = load.PlaneCount > 1 ? (uint64_t{p.BitsPerSample} * p.Width + 7) / 8 : rowBytes;
  const uint32_t stripRows = std::min(*std::max_element(p.RowsPerStrip.begin(), p.RowsPerStrip.end()), p.Height);
  const uint64_t stripBytes = uint64_t{stripRows} * load.PlaneRowBytes * load.PlaneCount;
  const uint64_t bitmapBytes = uint64_t{RowSizeOf(p.Width, BitsPerPixelOf(layout))} * p.Height;
  if (rowBytes > 0xFFFFFFFF || stripBytes > 0x7FFFFFFF || bitmapBytes + stripBytes > MaxImageBytes) RaiseTIFF();
  p.RowByteCount = static_cast<uint32_t>(rowBytes);
  // Differences are undone on whole samples of 8 or 16 bits; JPEG strips
  // carry none.
  load.UsePredictor = p.Predictor == 2 && p.Compression != icNone && !jpeg &&
                      (p.BitsPerSample == 8 || p.BitsPerSample == 16);
}

// Arrays that run past the end of the file are refused here, before the
// bitmap takes its memory.
void TTIFFGraphic::ReadStripTables(TStream& stream) {
  TImageProperties& p = ImageProperties;
  TLoadState& load = *FLoad;
  const uint32_t maxStrips = std::min<uint32_t>(p.Height, uint32_t{1} << 28) * load.PlaneCount;
  load.StripOffsets = ReadTagCardinals(stream, tagStripOffsets, maxStrips);
  load.StripByteCounts = ReadTagCardinals(stream, tagStripByteCounts, maxStrips);
  p.StripCount = static_cast<uint32_t>(load.StripOffsets.size());
  if (p.Compression == icJPEG) {
    const TTIFFEntry* tables = FindTag(tagJPEGTables);
    // Real tables take a few hundred bytes; a field of megabytes is no
    // tables field, and the strips then decode without it.
    if (tables && tables->DataLength <= (uint32_t{1} << 24))
      p.JpegTables = ReadTagBytes(stream, tagJPEGTables, tables->DataLength);
  }
}

void TTIFFGraphic::SizeBitmap(TStream& stream) {
  const TImageProperties& p = ImageProperties;
  SetPixelLayout(FLoad->Layout);
  ResizeWidth(static_cast<int32_t>(p.Width));
  // When nobody can see the picture before the load ends and the converter
  // writes every byte of the rows, they are not filled before the strips
  // write them.
  if (!Watched() && ColorManager.OverwritesTargetRows())
    FLoad->Unfilled.emplace(*this, static_cast<int32_t>(p.Height));
  else
    ResizeHeight(static_cast<int32_t>(p.Height));
  ProgressRect.Right = static_cast<int32_t>(p.Width);
  const TColorSchemeKind target = ColorManager.TargetScheme();
  if (target == ckIndexed) ReadColorMap(stream);
  else if (target == ckGrey) AssignPalette(ColorManager.GreyPalette((p.Options & optMinIsWhite) != 0));
}

void TTIFFGraphic::ReadColorMap(TStream& stream) {
  const TTIFFEntry* e = FindTag(tagColorMap);
  if (!e || e->DataLength <= 3) return;
  const uint32_t count = std::min(e->DataLength, MaxColorMapValues);
  const std::vector<uint32_t> values = ReadTagCardinals(stream, tagColorMap, count);
  if (values.size() < 3) return;
  // The colour manager reads the map in the file's byte order.
  std::vector<uint8_t> map(values.size() * 2);
  for (size_t i = 0; i < values.size(); ++i) {
    const auto v = static_cast<uint16_t>(values[i]);
    if (BigEndian()) StoreBE16(map.data() + 2 * i, v);
    else StoreLE16(map.data() + 2 * i, v);
  }
  const size_t n = values.size() / 3;
  const uint8_t* planes[3] = {map.data(), map.data() + 2 * n, map.data() + 4 * n};
  AssignPalette(ColorManager.PaletteFromColorMap(TRowSource(planes, 3), cmPlanar16x3, static_cast<uint32_t>(n), false));
}

std::unique_ptr<TDecoder> TTIFFGraphic::CreateDecoder() const {
  const TImageProperties& p = ImageProperties;
  const bool reversed = (p.Options & optReversedBits) != 0;
  switch (p.Compression) {
    case icPackBits: return std::make_unique<TPackbitsRLEDecoder>();
    case icLZW: return std::make_unique<TTIFFLZWDecoder>();
    case icFax3: return std::make_unique<TCCITTFax3Decoder>(FLoad->T4Options, reversed, false, p.Width);
    case icCCITTMH:
    case icCCITTRLEW:
      return std::make_unique<TCCITTMHDecoder>(FLoad->T4Options, reversed, p.Compression == icCCITTRLEW, p.Width);
    case icLZ77: return std::make_unique<TLZ77Decoder>(Z_PARTIAL_FLUSH, true);
    case icJPEG: return std::make_unique<TTIFFJPEGDecoder>(ImageProperties);
    case icThunderScan: return std::make_unique<TThunderDecoder>(p.Width);
    default: return nullptr;  // icNone; the rest was refused before
  }
}

// Strips hold min(RowsPerStrip, rows left) rows. With separate planes the
// strips of plane k follow those of plane k - 1, one set per strip of rows.
void TTIFFGraphic::ReadStrips(TStream& stream) {
  TImageProperties& p = ImageProperties;
  TLoadState& load = *FLoad;
  const auto& rowsPerStrip = p.RowsPerStrip;
  load.StripsPerPlane = load.PlaneCount > 1
                            ? static_cast<uint32_t>((uint64_t{p.Height} + rowsPerStrip[0] - 1) / rowsPerStrip[0])
                            : p.StripCount;
  load.Planes.resize(load.PlaneCount);
  load.FileSize = stream.Size();
  p.CurrentRow = 0;
  for (uint32_t strip = 0; strip < load.StripsPerPlane && p.CurrentRow < p.Height; ++strip) {
    p.CurrentStrip = strip;
    const uint32_t rows = StripRows(strip, p.CurrentRow);
    for (uint32_t plane = 0; plane < load.PlaneCount; ++plane)
      StartStrip(stream, plane, strip, rows, load.Planes[plane]);
    TransferRows(stream, rows);
  }
}

// The rows are taken in runs that lie one after another in the file, a
// window's worth at most, so that a run is converted while it is still in
// the cache. A row the file ends in is completed with zeros, rows of strips
// without data are zero, as they are from a zeroed buffer.
void TTIFFGraphic::ReadRowsInPlace(TStream& stream) {
  TImageProperties& p = ImageProperties;
  TLoadState& load = *FLoad;
  const uint64_t rowBytes = load.PlaneRowBytes;
  const size_t runRows = static_cast<size_t>(std::clamp<uint64_t>(WindowBytes / rowBytes, 1, MaxRunRows));
  load.StripsPerPlane = p.StripCount;
  load.FileSize = stream.Size();
  p.CurrentRow = 0;
  uint32_t strip = 0, inStrip = 0, stripRows = StripRows(0, 0);
  // Moves (strip, inStrip) on by one row.
  auto nextRow = [&](uint32_t row) {
    if (++inStrip < stripRows) return;
    ++strip;
    inStrip = 0;
    if (strip < load.StripsPerPlane && row < p.Height) stripRows = StripRows(strip, row);
  };
  while (strip < load.StripsPerPlane && p.CurrentRow < p.Height) {
    p.CurrentStrip = strip;
    const int64_t start = RowPosition(strip, inStrip);
    load.TargetRows.clear();
    do {
      load.TargetRows.push_back(RowPointer(static_cast<int32_t>(p.CurrentRow + load.TargetRows.size())));
      nextRow(p.CurrentRow + static_cast<uint32_t>(load.TargetRows.size()));
    } while (start >= 0 && load.TargetRows.size() < runRows && strip < load.StripsPerPlane &&
             p.CurrentRow + load.TargetRows.size() < p.Height &&
             RowPosition(strip, inStrip) == start + static_cast<int64_t>(load.TargetRows.size() * rowBytes));
    size_t got = 0;
    if (start >= 0) {
      stream.SetPosition(start);
      got = stream.ReadPieces(load.TargetRows, static_cast<size_t>(rowBytes));
    }
    for (uint8_t* row : load.TargetRows) {
      const size_t filled = std::min<size_t>(got, static_cast<size_t>(rowBytes));
      std::memset(row + filled, 0, static_cast<size_t>(rowBytes) - filled);
      got -= filled;
      ColorManager.ConvertRow(TRowPlane(row, static_cast<size_t>(rowBytes)), row, p.Width, 0xFF);
      ++p.CurrentRow;
      load.Unfilled->Written(static_cast<int32_t>(p.CurrentRow));
      RowDone(p.CurrentRow);
    }
  }
}

// Where row r of a strip lies in the file; -1 when the strip has no data.
int64_t TTIFFGraphic::RowPosition(uint32_t strip, uint32_t r) const {
  const TLoadState& load = *FLoad;
  if (strip >= load.StripOffsets.size()) return -1;
  const int64_t start = BasePosition + int64_t{load.StripOffsets[strip]};
  if (start >= load.FileSize) return -1;
  return start + static_cast<int64_t>(uint64_t{r} * load.PlaneRowBytes);
}

uint32_t TTIFFGraphic::StripRows(uint32_t strip, uint32_t firstRow) const {
  const auto& rowsPerStrip = ImageProperties.RowsPerStrip;
  const uint32_t perStrip = rowsPerStrip[std::min<size_t>(strip, rowsPerStrip.size() - 1)];
  return std::min(perStrip, ImageProperties.Height - firstRow);
}

// A missing or short byte-count list means the rest of the file; no strip
// codes more than a generous multiple of what it decodes to (plus room for
// inline JPEG tables), so memory and the bytes read for each strip stay
// bounded by the picture, however many strips share the same large stretch
// of the file. Uncompressed strips take their rows' bytes.
uint64_t TTIFFGraphic::StripLength(size_t index, uint32_t rows, int64_t start) const {
  const TLoadState& load = *FLoad;
  const uint64_t size = uint64_t{rows} * load.PlaneRowBytes;
  if (!load.Decoder) return size;
  const auto left = static_cast<uint64_t>(std::max<int64_t>(load.FileSize - start, 0));
  const uint64_t packed = index < load.StripByteCounts.size() ? load.StripByteCounts[index] : left;
  return std::min({packed, left, size * 16 + MaxStripOverhead, uint64_t{0x7FFFFFFF}});
}

// The bytes worth reading at once from a place in a strip whose data end at
// end: bytes (to that end), then the data of the plane's next strips as long
// as each starts where the one before ends, up to a window.
uint64_t TTIFFGraphic::ReadAhead(uint32_t plane, uint32_t nextStrip, uint32_t nextRow, int64_t end,
                                 uint64_t bytes) const {
  const TLoadState& load = *FLoad;
  const uint32_t height = ImageProperties.Height;
  for (uint32_t strip = nextStrip; strip < load.StripsPerPlane && nextRow < height && bytes < WindowBytes; ++strip) {
    const size_t index = size_t{plane} * load.StripsPerPlane + strip;
    if (index >= load.StripOffsets.size() || end >= load.FileSize ||
        BasePosition + int64_t{load.StripOffsets[index]} != end)
      break;
    const uint32_t rows = StripRows(strip, nextRow);
    const uint64_t length = StripLength(index, rows, end);
    bytes += length;
    end += static_cast<int64_t>(length);
    nextRow += rows;
  }
  return std::min(bytes, WindowBytes);
}

void TTIFFGraphic::StartStrip(TStream& stream, uint32_t plane, uint32_t strip, uint32_t rows, TStripPlane& sp) {
  TLoadState& load = *FLoad;
  const uint64_t rowBytes = load.PlaneRowBytes;
  // The buffers are kept for the next strip's rows.
  sp.Count = 0;
  sp.Start = -1;
  sp.Strip = strip;
  sp.InBitmap = false;
  const size_t index = size_t{plane} * load.StripsPerPlane + strip;
  if (index >= load.StripOffsets.size()) return;
  const int64_t start = BasePosition + int64_t{load.StripOffsets[index]};
  if (start >= load.FileSize) return;
  if (!load.Decoder) {
    sp.Start = start;
    return;
  }
  const uint64_t size = uint64_t{rows} * rowBytes;
  const uint64_t packed = StripLength(index, rows, start);
  const uint32_t nextRow = ImageProperties.CurrentRow + rows;
  const std::span<uint8_t> data = sp.Window.Take(stream, load.FileSize, load.ReverseBits, start, packed, [&] {
    return ReadAhead(plane, strip + 1, nextRow, start + static_cast<int64_t>(packed), packed);
  });
  // Rows past what the data can decode to stay zero without taking memory.
  const uint64_t reach = DecodedBound(ImageProperties.Compression, data.size());
  sp.Count = reach >= size ? rows : static_cast<uint32_t>(reach / rowBytes + 1);
  if (load.JpegIntoRows) {
    DecodeIntoBitmap(data, rows, sp);
    return;
  }
  if (rows == 1 && load.RowStripsInPlace) {
    DecodeRowInPlace(data, sp);
    return;
  }
  sp.Rows.resize(static_cast<size_t>(sp.Count * rowBytes));
  DecodeStrip(data, sp.Rows);
}

// What the decoder does not reach is zero. Deflate data that libdeflate
// takes whole need not be decoded into zeros first: the bytes it makes are
// those zlib would make, and zlib decodes whatever it does not take.
void TTIFFGraphic::DecodeStrip(std::span<const uint8_t> data, std::span<uint8_t> rows) {
  TDecoder& decoder = *FLoad->Decoder;
  if (ImageProperties.Compression == icLZ77) {
    const auto made = static_cast<TLZ77Decoder&>(decoder).InflateWhole(data.data(), data.size(), rows.data(), rows.size());
    if (made) {
      std::fill(rows.begin() + static_cast<ptrdiff_t>(*made), rows.end(), uint8_t{0});
      return;
    }
  }
  std::fill(rows.begin(), rows.end(), uint8_t{0});
  const uint8_t* source = data.data();
  uint8_t* dest = rows.data();
  decoder.Decode(source, dest, static_cast<int32_t>(data.size()), static_cast<int32_t>(rows.size()));
}

void TTIFFGraphic::DecodeRowInPlace(std::span<const uint8_t> data, TStripPlane& sp) {
  const TImageProperties& p = ImageProperties;
  const auto rowBytes = static_cast<size_t>(FLoad->PlaneRowBytes);
  uint8_t* row = RowPointer(static_cast<int32_t>(p.CurrentRow));
  DecodeStrip(data, std::span<uint8_t>(row, rowBytes));
  if (FLoad->UsePredictor) UndoSamplePredictor(row, p.Width, p.SamplesPerPixel, p.BitsPerSample, BigEndian());
  ColorManager.ConvertRow(TRowPlane(row, rowBytes), row, p.Width, 0xFF);
  sp.InBitmap = true;
}

// The JPEG decoder writes rows as the converter would copy them; rows the
// strip does not deliver are zero, as they are from a zeroed buffer.
void TTIFFGraphic::DecodeIntoBitmap(std::span<const uint8_t> data, uint32_t rows, TStripPlane& sp) {
  TLoadState& load = *FLoad;
  uint8_t* first = RowPointer(static_cast<int32_t>(ImageProperties.CurrentRow));
  const auto step = -static_cast<ptrdiff_t>(RowSize());
  auto& decoder = static_cast<TTIFFJPEGDecoder&>(*load.Decoder);
  const size_t made = decoder.DecodeRows(data.data(), static_cast<int32_t>(data.size()), first, step, rows);
  for (size_t r = made; r < rows; ++r)
    std::memset(first + static_cast<ptrdiff_t>(r) * step, 0, static_cast<size_t>(load.PlaneRowBytes));
  sp.InBitmap = true;
}

// Row r of the strip (of rows rows) in one plane.
uint8_t* TTIFFGraphic::PlaneRow(TStream& stream, uint32_t plane, TStripPlane& sp, uint32_t r, uint32_t rows) {
  TLoadState& load = *FLoad;
  const uint64_t rowBytes = load.PlaneRowBytes;
  if (sp.Start >= 0) return FileRow(stream, plane, sp, r, rows);
  if (r < sp.Count) return sp.Rows.data() + r * rowBytes;
  if (load.ZeroRow.empty()) load.ZeroRow.assign(static_cast<size_t>(rowBytes), 0);
  return load.ZeroRow.data();
}

// Row r of an uncompressed strip, read through the plane's window; the rest
// of a row that the file ends in is zero.
uint8_t* TTIFFGraphic::FileRow(TStream& stream, uint32_t plane, TStripPlane& sp, uint32_t r, uint32_t rows) {
  TLoadState& load = *FLoad;
  const uint64_t rowBytes = load.PlaneRowBytes;
  const int64_t position = sp.Start + static_cast<int64_t>(r * rowBytes);
  const uint32_t nextRow = ImageProperties.CurrentRow - r + rows;
  const std::span<uint8_t> bytes = sp.Window.Take(stream, load.FileSize, load.ReverseBits, position, rowBytes, [&] {
    return ReadAhead(plane, sp.Strip + 1, nextRow, sp.Start + static_cast<int64_t>(rows * rowBytes),
                     (rows - r) * rowBytes);
  });
  if (bytes.size() == rowBytes) return bytes.data();
  load.ShortRow.assign(static_cast<size_t>(rowBytes), 0);
  std::copy(bytes.begin(), bytes.end(), load.ShortRow.begin());
  return load.ShortRow.data();
}

void TTIFFGraphic::TransferRows(TStream& stream, uint32_t rows) {
  TImageProperties& p = ImageProperties;
  TLoadState& load = *FLoad;
  for (uint32_t r = 0; r < rows && p.CurrentRow < p.Height; ++r) {
    if (!load.Planes[0].InBitmap) ConvertStripRow(stream, r, rows);
    ++p.CurrentRow;
    if (load.Unfilled) load.Unfilled->Written(static_cast<int32_t>(p.CurrentRow));
    RowDone(p.CurrentRow);
  }
}

void TTIFFGraphic::ConvertStripRow(TStream& stream, uint32_t r, uint32_t rows) {
  TImageProperties& p = ImageProperties;
  TLoadState& load = *FLoad;
  const uint64_t rowBytes = load.PlaneRowBytes;
  const uint32_t samples = load.PlaneCount > 1 ? 1 : p.SamplesPerPixel;
  std::array<TRowPlane, 4> rowPlanes;
  load.Reduced.resize(load.Lab16 || load.FirstSampleOnly || load.Widen3 ? load.Planes.size() : 0);
  for (uint32_t k = 0; k < load.PlaneCount; ++k) {
    uint8_t* row = PlaneRow(stream, k, load.Planes[k], r, rows);
    if (load.UsePredictor) UndoSamplePredictor(row, p.Width, samples, p.BitsPerSample, BigEndian());
    rowPlanes[k] = TRowPlane(row, rowBytes);
    if (load.Widen3) {
      WidenThreeBits(row, p.Width, p.ColorScheme == ckGrey, load.Reduced[k]);
      rowPlanes[k] = load.Reduced[k];
    }
    if (load.FirstSampleOnly) {
      // The index and grey converters read one sample a pixel: the
      // samples between the pixels' first ones are left out.
      KeepFirstSamples(row, p.Width, p.SamplesPerPixel, p.BitsPerSample, load.Reduced[k]);
      rowPlanes[k] = load.Reduced[k];
    }
    if (load.Lab16) {
      // 16-bit L*a*b* goes through the 8-bit formula on each sample's
      // high byte (a* and b* stay signed).
      std::vector<uint8_t>& reduced = load.Reduced[k];
      const size_t count = static_cast<size_t>(rowBytes / 2);
      reduced.resize(count);
      const size_t high = BigEndian() ? 0 : 1;
      for (size_t i = 0; i < count; ++i) reduced[i] = row[2 * i + high];
      rowPlanes[k] = reduced;
    }
  }
  ColorManager.ConvertRow(TRowPlanes(rowPlanes.data(), load.PlaneCount), RowPointer(static_cast<int32_t>(p.CurrentRow)),
                          p.Width, 0xFF);
}

void TTIFFGraphic::FreeLoadState() { FLoad.reset(); }

}  // namespace tolvane
