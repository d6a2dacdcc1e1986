// The PNG reader: walks the chunks itself, inflates the image data through
// the deflate decoder row by row, undoes the row filters, spreads Adam7
// passes over the bitmap with the colour manager's pixel masks and converts
// every row straight into the bitmap.
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "graphics/GraphicCompression.h"
#include "graphics/readers/PNGGraphic.h"
#include "graphics/GraphicStrings.h"
#include "picture/ByteOrder.h"

namespace tolvane {

TOLVANE_DEFINE_FORMAT_CLASS(TPNGGraphic, TFormatGraphic)

namespace {

namespace S = GraphicStrings;

const uint8_t PngSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
constexpr TColor NoTransparentColor = 0x1FFFFFFF;
constexpr TColor White = 0xFFFFFF;
// Chunk lengths above 2^31 - 1 are invalid in every PNG file.
constexpr uint32_t MaxChunkLength = 0x7FFFFFFF;
// Image data are read and inflated this many bytes at a time, whatever the
// length of their chunks.
constexpr uint32_t ImageDataWindow = 64 * 1024;
// The longest palette, background and transparency data that mean anything.
constexpr uint32_t MaxPaletteLength = 256 * 3;
constexpr uint32_t MaxBackgroundLength = 6;
constexpr uint32_t MaxTransparencyLength = 256;

struct TAdam7Pass {
  uint32_t StartRow, StartColumn, RowStep, ColumnStep;
  uint8_t Mask;  // the pass's pixels in every group of eight, bit 7 first
};
constexpr TAdam7Pass Adam7Passes[7] = {
    {0, 0, 8, 8, 0x80}, {0, 4, 8, 8, 0x08}, {4, 0, 8, 4, 0x88}, {0, 2, 4, 4, 0x22},
    {2, 0, 4, 2, 0xAA}, {0, 1, 2, 2, 0x55}, {1, 0, 2, 1, 0xFF},
};

[[noreturn]] void RaisePng(const char* format) { RaiseInvalidGraphicFmt(format, {S::SFormatPNG}); }

// The Paeth predictor without branches: with p = a + b - c the distances
// p - a, p - b and p - c are b - c, a - c and a + b - 2c, and the two
// choices compile to conditional moves. Ties still go to a, then to b.
inline int PaethPredict(int a, int b, int c) {
  const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  const int bc = pb <= pc ? b : c;
  return pa <= pb && pa <= pc ? a : bc;
}

// Restores one row in place; count bytes after the filter byte, Bpp (or
// bpp when Bpp is 0) the distance to the byte of the pixel on the left,
// prior the row above (restored, or zeros), never the same memory as line.
// With Bpp fixed, the bytes of one pixel are independent of each other and
// the compiler unrolls and vectorises across them; Up vectorises outright.
template <size_t Bpp>
void UnfilterRowOf(uint8_t filter, uint8_t* __restrict line, size_t count, size_t bpp,
                   const uint8_t* __restrict prior) {
  if constexpr (Bpp != 0) bpp = Bpp;
  const size_t lead = bpp < count ? bpp : count;
  switch (filter) {
    case 1:  // Sub
      for (size_t i = bpp; i < count; ++i) line[i] = static_cast<uint8_t>(line[i] + line[i - bpp]);
      break;
    case 2:  // Up
      for (size_t i = 0; i < count; ++i) line[i] = static_cast<uint8_t>(line[i] + prior[i]);
      break;
    case 3:  // Average
      for (size_t i = 0; i < lead; ++i) line[i] = static_cast<uint8_t>(line[i] + (prior[i] >> 1));
      for (size_t i = bpp; i < count; ++i)
        line[i] = static_cast<uint8_t>(line[i] + ((line[i - bpp] + prior[i]) >> 1));
      break;
    case 4:  // Paeth; with nothing on the left it predicts the byte above
      for (size_t i = 0; i < lead; ++i) line[i] = static_cast<uint8_t>(line[i] + prior[i]);
      for (size_t i = bpp; i < count; ++i)
        line[i] = static_cast<uint8_t>(line[i] + PaethPredict(line[i - bpp], prior[i], prior[i - bpp]));
      break;
    default: break;  // an unknown filter leaves the row as stored
  }
}

void UnfilterRow(uint8_t filter, uint8_t* line, size_t count, size_t bpp, const uint8_t* prior) {
  switch (bpp) {
    case 1: UnfilterRowOf<1>(filter, line, count, bpp, prior); break;
    case 2: UnfilterRowOf<2>(filter, line, count, bpp, prior); break;
    case 3: UnfilterRowOf<3>(filter, line, count, bpp, prior); break;
    case 4: UnfilterRowOf<4>(filter, line, count, bpp, prior); break;
    case 6: UnfilterRowOf<6>(filter, line, count, bpp, prior); break;
    case 8: UnfilterRowOf<8>(filter, line, count, bpp, prior); break;
    default: UnfilterRowOf<0>(filter, line, count, bpp, prior); break;
  }
}

// Fills the whole bitmap with a colour under the canvas lock.
void FillBitmap(TBitmap& bitmap, TColor colour) {
  TCanvas& canvas = bitmap.BitmapCanvas();
  canvas.LockCanvas();
  struct TUnlock {
    TCanvas& Canvas;
    ~TUnlock() { Canvas.UnlockCanvas(); }
  } unlock{canvas};
  canvas.Brush.Color = colour;
  canvas.FillArea(Rect(0, 0, bitmap.ImageWidth(), bitmap.ImageHeight()));
}

// The bitmap layout that an image of the scheme and depth loads into.
TPixelLayout LayoutOf(TColorSchemeKind scheme, uint8_t bitsPerSample) {
  switch (scheme) {
    case ckGrey:
    case ckIndexed: return bitsPerSample == 1 ? pl1Bit : bitsPerSample <= 4 ? pl4Bit : pl8Bit;
    case ckGreyAlpha: return pl8Bit;
    case ckRGB: return pl24Bit;
    default: return pl32Bit;
  }
}

}  // namespace

TPNGGraphic::TPNGGraphic() = default;
TPNGGraphic::~TPNGGraphic() = default;

// ---- Chunks -----------------------------------------------------------------

bool TPNGGraphic::IsChunk(const char* type) const {
  // Bit 5 of each letter carries a property of the chunk, not its name.
  for (int i = 0; i < 4; ++i)
    if ((ChunkType[i] & 0xDF) != (static_cast<uint8_t>(type[i]) & 0xDF)) return false;
  return true;
}

uint32_t TPNGGraphic::ReadChunkHeader(TStream& stream) {
  uint8_t header[8];
  stream.ReadExact(header, sizeof header);
  ChunkLength = LoadBE32(header);
  std::memcpy(ChunkType, header + 4, 4);
  ChunkCrc = static_cast<uint32_t>(crc32(0, ChunkType, 4));
  return ChunkCrc;
}

// A length beyond the PNG limit is an invalid file; one beyond the bytes
// left is a file that ends early. Both are caught before anything is sized.
void TPNGGraphic::CheckChunkLength(TStream& stream) const {
  if (ChunkLength > MaxChunkLength) RaisePng(S::SInvalidImage);
  if (uint64_t{ChunkLength} + 4 > static_cast<uint64_t>(stream.Remaining())) throw EReadError(SysConst::SReadError);
}

void TPNGGraphic::BeginChunkData(TStream& stream) {
  CheckChunkLength(stream);
  FChunkUnread = ChunkLength;
}

uint8_t* TPNGGraphic::Window(size_t count) {
  if (RawBuffer.size() < count) RawBuffer.resize(count);
  return RawBuffer.data();
}

void TPNGGraphic::ReadChunkPart(TStream& stream, uint8_t* dest, uint32_t count) {
  stream.ReadExact(dest, count);
  // zlib answers a null buffer with a fresh start value, not the CRC so far.
  if (count > 0) ChunkCrc = static_cast<uint32_t>(crc32(ChunkCrc, dest, count));
  FChunkUnread -= count;
}

void TPNGGraphic::EndChunkData(TStream& stream) {
  while (FChunkUnread > 0) {
    const uint32_t count = std::min(FChunkUnread, ImageDataWindow);
    ReadChunkPart(stream, Window(count), count);
  }
  uint8_t stored[4];
  stream.ReadExact(stored, sizeof stored);
  if (ChunkCrc != LoadBE32(stored)) RaisePng(S::SCRCError);
}

void TPNGGraphic::ReadChunkData(TStream& stream) {
  BeginChunkData(stream);
  RawBuffer.resize(ChunkLength);
  ReadChunkPart(stream, RawBuffer.data(), ChunkLength);
  EndChunkData(stream);
}

void TPNGGraphic::SkipChunk(TStream& stream) {
  if (ChunkLength > MaxChunkLength) RaisePng(S::SInvalidImage);
  stream.Seek(int64_t{ChunkLength} + 4, TSeekOrigin::soCurrent);
}

TPNGGraphic::TPngHeader TPNGGraphic::ReadHeader(TStream& stream) {
  ReadChunkData(stream);
  const uint8_t* d = RawBuffer.data();
  TPngHeader h;
  h.Width = LoadBE32(d);
  h.Height = LoadBE32(d + 4);
  h.BitDepth = d[8];
  h.ColorType = d[9];
  h.Compression = d[10];
  h.Filter = d[11];
  h.Interlace = d[12];
  return h;
}

// ---- Header -----------------------------------------------------------------

bool TPNGGraphic::ProbeStream(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() <= 8) return false;
  uint8_t signature[8];
  const bool png = stream.Read(signature, 8) == 8 && std::memcmp(signature, PngSignature, 8) == 0;
  stream.SetPosition(start);
  return png;
}

bool TPNGGraphic::ReadImageInfo(TStream& stream, uint32_t imageIndex) {
  TFormatGraphic::ReadImageInfo(stream, imageIndex);
  stream.SetPosition(BasePosition);
  uint8_t signature[8];
  if (stream.Read(signature, 8) != 8 || std::memcmp(signature, PngSignature, 8) != 0) return false;
  ReadChunkHeader(stream);
  if (!IsChunk("IHDR") || ChunkLength != 13) return false;
  TImageProperties& p = ImageProperties;
  p.Options |= optBigEndian;
  const TPngHeader h = FInfoHeader = ReadHeader(stream);
  if (h.Width == 0 || h.Height == 0 || h.Width > MaxChunkLength || h.Height > MaxChunkLength) return false;
  p.Width = h.Width;
  p.Height = h.Height;
  p.Compression = h.Compression == 0 ? icLZ77 : icUnknown;
  p.BitsPerSample = h.BitDepth;
  switch (h.ColorType) {
    case 0: p.ColorScheme = ckGrey, p.SamplesPerPixel = 1; break;
    case 2: p.ColorScheme = ckRGB, p.SamplesPerPixel = 3; break;
    case 3: p.ColorScheme = ckIndexed, p.SamplesPerPixel = 1; break;
    case 4: p.ColorScheme = ckGreyAlpha, p.SamplesPerPixel = 2; break;
    case 6: p.ColorScheme = ckRGBA, p.SamplesPerPixel = 4; break;
    default: p.ColorScheme = ckUnknown, p.SamplesPerPixel = 1; break;
  }
  p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
  p.PngFilterMethod = h.Filter;
  p.Interlaced = h.Interlace != 0;
  p.HasAlpha = p.ColorScheme == ckGreyAlpha || p.ColorScheme == ckRGBA || p.ColorScheme == ckBGRA;
  for (;;) {
    ReadChunkHeader(stream);
    if (IsChunk("gAMA") && ChunkLength == 4) {
      ReadChunkData(stream);
      const uint32_t gamma = LoadBE32(RawBuffer.data());
      if (gamma != 0) p.Gamma = static_cast<float>(static_cast<long double>(gamma) / 100000);
      break;
    }
    if (IsChunk("IEND")) break;
    SkipChunk(stream);
  }
  return true;
}

// Images beyond the library's limits are refused before anything is sized:
// the bitmap and the two row buffers together count as pixel memory.
void TPNGGraphic::CheckMemory() const {
  const TImageProperties& p = ImageProperties;
  const TPixelLayout layout = LayoutOf(p.ColorScheme, p.BitsPerSample);
  CheckImageSize(S::SFormatPNG, layout);
  const uint64_t rowBytes = (uint64_t{p.Width} * p.SamplesPerPixel * p.BitsPerSample + 7) / 8 + 1;
  const uint64_t bitmapBytes = uint64_t{RowSizeOf(p.Width, BitsPerPixelOf(layout))} * p.Height;
  if (bitmapBytes + 2 * rowBytes > MaxImageBytes) RaisePng(S::SInvalidImage);
}

// ---- Load -----------------------------------------------------------------------

void TPNGGraphic::LoadStream(TStream& stream) {
  TLoadFrame frame(*this, stream);
  if (!ReadImageInfo(stream, 0)) RaisePng(S::SInvalidImage);
  CheckMemory();
  stream.SetPosition(BasePosition + 8);
  StartProgress(static_cast<int32_t>(ImageProperties.Width));
  PngPalette = nullptr;
  BackgroundColor = White;
  TransparentColor = NoTransparentColor;
  FBackground.clear();
  FTransparency.clear();
  FInputLeft = 0;
  FChunkUnread = 0;
  FInImageChunk = false;
  FImageRead = false;
  FImageBytes = 0;
  // A graphic may be loaded more than once: nothing of the last file stays.
  SetTransparency(false);
  SetTransparentKey(clDefault);
  ColorManager.SourceFlags = cvSwap16;  // 16-bit samples are big-endian
  ColorManager.TargetFlags = 0;

  ReadChunkHeader(stream);
  if (!IsChunk("IHDR") || ChunkLength != 13) RaisePng(S::SInvalidImage);
  const TPngHeader header = ReadHeader(stream);
  // The sizes were checked on the first reading; a file that changed since
  // is not trusted.
  if (!(header == FInfoHeader)) RaisePng(S::SInvalidImage);
  if (ImageProperties.Compression != icLZ77)
    RaiseInvalidGraphicFmt(S::SUnsupportedFeature, {S::SCompressionScheme, S::SFormatPNG});

  Decoder = std::make_unique<TLZ77Decoder>(Z_PARTIAL_FLUSH, false);
  Decoder->BeginDecoding();
  ReadChunkHeader(stream);
  for (;;) {
    if (IsChunk("IDAT") && !FImageRead) {
      NextStage(S::STransfering);
      ReadImageData(stream, header);
      FImageRead = true;
      // The chunk after the image data is handled as any other.
    } else if (ReadKnownChunk(stream, header)) {
      ReadChunkHeader(stream);
      continue;
    }
    SkipChunk(stream);
    if (IsChunk("IEND")) break;
    if (IsCritical()) RaiseInvalidGraphic(S::SUnknownCriticalChunk);
    ReadChunkHeader(stream);
  }
  // A file without image data is no picture, not an empty one.
  if (FImageBytes == 0) RaisePng(S::SInvalidImage);
  Decoder->EndDecoding();
  EndProgress();
}

// The palette and the ancillary chunks that the reader uses; false for
// any other chunk.
bool TPNGGraphic::ReadKnownChunk(TStream& stream, const TPngHeader& header) {
  if (IsChunk("PLTE")) ReadPalette(stream, header);
  else if (IsChunk("gAMA")) ReadGamma(stream);
  else if (IsChunk("bKGD")) ReadBackground(stream, header);
  else if (IsChunk("tRNS")) ReadTransparency(stream, header);
  else return false;
  return true;
}

void TPNGGraphic::FreeLoadState() {
  Decoder.reset();  // ends a zlib stream still open
  RawBuffer = {};
  CurrentSource = nullptr;
  FInputLeft = 0;
  FChunkUnread = 0;
  FInImageChunk = false;
  PngPalette = nullptr;
}

// ---- Colour set-up ----------------------------------------------------------------

uint32_t TPNGGraphic::SetupColorManager(uint8_t colorType, uint8_t bitDepth) {
  TColorManager& cm = ColorManager;
  const bool wide = bitDepth == 8 || bitDepth == 16;
  const bool packed = bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8;
  TColorSchemeKind source, target;
  uint8_t sourceSamples = 1, targetSamples = 1;
  uint8_t targetBits = 8;
  bool greyPalette = false;
  uint32_t bytesPerPixel;
  switch (colorType) {
    case 0:
      if (!packed && bitDepth != 16) RaisePng(S::SInvalidColorFormat);
      source = target = ckGrey;
      targetBits = bitDepth == 2 ? 4 : bitDepth == 16 ? 8 : bitDepth;
      greyPalette = true;
      bytesPerPixel = (bitDepth + 7u) / 8;
      break;
    case 2:
      if (!wide) RaisePng(S::SInvalidColorFormat);
      source = ckRGB, target = ckBGR, sourceSamples = targetSamples = 3;
      bytesPerPixel = bitDepth * 3u / 8;
      break;
    case 3:
      if (!packed) RaisePng(S::SInvalidColorFormat);
      source = target = ckIndexed;
      targetBits = bitDepth == 2 ? 4 : bitDepth;
      bytesPerPixel = 1;
      break;
    case 4:
      if (!wide) RaisePng(S::SInvalidColorFormat);
      source = ckGreyAlpha, target = ckIndexed;
      greyPalette = true;
      bytesPerPixel = bitDepth * 2u / 8;
      break;
    case 6:
      if (!wide) RaisePng(S::SInvalidColorFormat);
      source = ckRGBA, target = ckBGRA, sourceSamples = targetSamples = 4;
      bytesPerPixel = bitDepth * 4u / 8;
      break;
    default: RaisePng(S::SInvalidColorFormat);
  }
  cm.SetSourceScheme(source);
  cm.SetSourceSamplesPerPixel(sourceSamples);
  cm.SetSourceBitsPerSample(bitDepth);
  cm.SetTargetScheme(target);
  cm.SetTargetSamplesPerPixel(targetSamples);
  cm.SetTargetBitsPerSample(targetBits);
  SetPixelLayout(cm.PixelFormatFor(1));
  if (greyPalette) PngPalette = cm.GreyPalette(false);
  return bytesPerPixel;
}

// The colour that stored samples of bKGD or tRNS give on screen: levels as
// the pixels' own, through the palette (indexed and grey images) or the
// gamma table. False when the data do not fit the image.
bool TPNGGraphic::ColorOfSamples(const TPngHeader& header, const std::vector<uint8_t>& data, TColor& colour) const {
  const uint8_t depth = header.BitDepth;
  auto paletteColour = [&](uint32_t index) {
    if (index >= PaletteEntryCount(PngPalette)) return false;
    const TPaletteEntry& e = PngPalette->Entries[index];
    colour = RGBColor(e.peRed, e.peGreen, e.peBlue);
    return true;
  };
  // A sample on the 8-bit scale of the bitmap, or -1 when out of range.
  auto level = [&](uint16_t v) -> int {
    if (depth == 16) return MulDiv16(v, 255, 65535);
    return v >> depth == 0 ? v : -1;
  };
  switch (header.ColorType) {
    case 0:
    case 3:
    case 4: {
      // Indexed and grey images show a sample through their palette, whose
      // entries follow the bitmap's depth.
      if (data.size() < (header.ColorType == 3 ? 1u : 2u)) return false;
      const uint16_t v = header.ColorType == 3 ? data[0] : LoadBE16(data.data());
      if (depth < 8) {
        if (v >> depth) return false;
        const uint16_t top = static_cast<uint16_t>((1u << ColorManager.TargetBitsPerSample()) - 1);
        return paletteColour(MulDiv16(v, top, static_cast<uint16_t>((1u << depth) - 1)));
      }
      const int l = level(v);
      return l >= 0 && paletteColour(static_cast<uint32_t>(l));
    }
    case 2:
    case 6: {
      if (data.size() < 6) return false;
      int rgb[3];
      for (int i = 0; i < 3; ++i) {
        rgb[i] = level(LoadBE16(data.data() + 2 * i));
        if (rgb[i] < 0) return false;
        if (ColorManager.TargetFlags & cvGamma) rgb[i] = ColorManager.GammaTable()[static_cast<size_t>(rgb[i])];
      }
      colour = RGBColor(static_cast<uint8_t>(rgb[0]), static_cast<uint8_t>(rgb[1]), static_cast<uint8_t>(rgb[2]));
      return true;
    }
    default: return false;
  }
}

namespace {

// A colour one level away from colour, on every channel, so that a grey stays
// grey: up where the stored samples lie above the key's, else down (as far
// as the channels allow).
TColor NeighbourColour(TColor colour, bool up) {
  uint8_t c[3] = {GetRValue(colour), GetGValue(colour), GetBValue(colour)};
  const bool canUp = c[0] < 255 && c[1] < 255 && c[2] < 255, canDown = c[0] > 0 && c[1] > 0 && c[2] > 0;
  const int step = (up && canUp) || !canDown ? 1 : -1;
  for (uint8_t& v : c) v = static_cast<uint8_t>(v + step);
  return RGBColor(c[0], c[1], c[2]);
}

// The palette entry through which grey samples v show (as the row converter
// picks it): low depths spread over the palette, 16-bit samples by their
// level on the 8-bit scale.
uint32_t GreyIndex(uint16_t v, uint8_t depth, uint8_t paletteBits) {
  if (depth == 16) return MulDiv16(v, 255, 65535);
  if (depth < 8)
    return MulDiv16(v, static_cast<uint16_t>((1u << paletteBits) - 1), static_cast<uint16_t>((1u << depth) - 1));
  return v;
}

}  // namespace

void TPNGGraphic::SeparateKeyInPalette(const TPngHeader& header) {
  if (header.ColorType != 0 || !PngPalette || FTransparency.size() < 2) return;
  const uint32_t keyIndex =
      GreyIndex(LoadBE16(FTransparency.data()), header.BitDepth, ColorManager.TargetBitsPerSample());
  std::vector<TPaletteEntry> entries = PngPalette->Entries;
  bool changed = false;
  for (uint32_t i = 0; i < entries.size(); ++i) {
    TPaletteEntry& e = entries[i];
    if (i == keyIndex || RGBColor(e.peRed, e.peGreen, e.peBlue) != TransparentColor) continue;
    const TColor moved = NeighbourColour(TransparentColor, i > keyIndex);
    e.peRed = GetRValue(moved);
    e.peGreen = GetGValue(moved);
    e.peBlue = GetBValue(moved);
    changed = true;
  }
  if (changed) PngPalette = std::make_shared<const TPalette>(std::move(entries));
}

void TPNGGraphic::SeparateKeyInRow(const TPngHeader& header, const uint8_t* samples, uint8_t* row,
                                   uint32_t firstColumn, uint32_t columnStep, uint32_t width) const {
  const bool rgb = header.ColorType == 2;
  if (!rgb && !(header.ColorType == 0 && header.BitDepth == 16)) return;  // the palette keeps them apart
  const size_t channels = rgb ? 3 : 1, sampleBytes = header.BitDepth == 16 ? 2 : 1;
  uint16_t key[3];
  for (size_t c = 0; c < channels; ++c) key[c] = LoadBE16(FTransparency.data() + 2 * c);
  const uint8_t keyBytes[3] = {GetBValue(TransparentColor), GetGValue(TransparentColor), GetRValue(TransparentColor)};
  const uint32_t keyIndex = rgb ? 0 : GreyIndex(key[0], 16, 8);
  for (uint32_t x = firstColumn; x < width; x += columnStep, samples += channels * sampleBytes) {
    bool same = true;
    // Which way the stored samples lie from the key's, for the direction of
    // the level kept apart.
    int64_t above = 0;
    for (size_t c = 0; c < channels; ++c) {
      const uint16_t v = sampleBytes == 2 ? LoadBE16(samples + 2 * c) : samples[c];
      same = same && v == key[c];
      above += int64_t{v} - key[c];
    }
    if (same) continue;
    if (rgb) {
      uint8_t* pixel = row + size_t{x} * 3;
      if (std::memcmp(pixel, keyBytes, 3) != 0) continue;
      const TColor moved = NeighbourColour(TransparentColor, above > 0);
      pixel[0] = GetBValue(moved);
      pixel[1] = GetGValue(moved);
      pixel[2] = GetRValue(moved);
    } else if (row[x] == keyIndex) {
      // The neighbouring entry shows one level away (the palette was kept
      // apart from the key).
      row[x] = static_cast<uint8_t>((above > 0 && keyIndex < 255) || keyIndex == 0 ? keyIndex + 1 : keyIndex - 1);
    }
  }
}

// ---- Ancillary chunks and the palette ----------------------------------------------

void TPNGGraphic::ReadPalette(TStream& stream, const TPngHeader& header) {
  if (ChunkLength % 3 != 0) RaisePng(S::SInvalidPalette);
  // More than 256 entries: an indexed image cannot be shown through them,
  // and any other image never uses its palette.
  if (ChunkLength > MaxPaletteLength) {
    if (header.ColorType == 3) RaisePng(S::SInvalidPalette);
    SkipChunk(stream);
    return;
  }
  ReadChunkData(stream);
  if (header.ColorType != 3) return;
  if (ChunkLength == 0) RaisePng(S::SInvalidPalette);
  SourceBPP = SetupColorManager(3, header.BitDepth);
  PngPalette = ColorManager.PaletteFromColorMap({RawBuffer.data()}, cmInterleaved8x3, ChunkLength / 3, false);
}

void TPNGGraphic::ReadGamma(TStream& stream) {
  // A gAMA of another size, or of 0, says nothing usable.
  if (ChunkLength != 4) {
    SkipChunk(stream);
    return;
  }
  ReadChunkData(stream);
  const uint32_t value = LoadBE32(RawBuffer.data());
  if (value == 0) return;
  // Every level that passes the gamma table in this reader is on the 8-bit
  // scale (palette entries, 8-bit samples, 16-bit samples scaled down), so
  // the table is built for 8-bit depths whatever an earlier load left.
  TColorManager& cm = ColorManager;
  const uint8_t sourceBits = cm.SourceBitsPerSample(), targetBits = cm.TargetBitsPerSample();
  cm.SetSourceBitsPerSample(8);
  cm.SetTargetBitsPerSample(8);
  cm.SetGammaValues(static_cast<float>(static_cast<long double>(value) / 100000), 2.2f);
  cm.SetSourceBitsPerSample(sourceBits);
  cm.SetTargetBitsPerSample(targetBits);
  cm.TargetFlags |= cvGamma;
  ImageProperties.Options |= optFileGamma;
}

// A bKGD or tRNS longer than any image can use says nothing usable and is
// passed over like an unknown ancillary chunk.
void TPNGGraphic::ReadBackground(TStream& stream, const TPngHeader&) {
  if (ChunkLength > MaxBackgroundLength) {
    SkipChunk(stream);
    return;
  }
  ReadChunkData(stream);
  FBackground = RawBuffer;
}

void TPNGGraphic::ReadTransparency(TStream& stream, const TPngHeader& header) {
  if (ChunkLength > MaxTransparencyLength) {
    SkipChunk(stream);
    return;
  }
  ReadChunkData(stream);
  // Only grey and RGB images have a transparent colour; the alpha of a
  // palette is not shown.
  if (header.ColorType == 0 || header.ColorType == 2) FTransparency = RawBuffer;
}

// ---- Image data --------------------------------------------------------------------

void TPNGGraphic::ReadImageData(TStream& stream, const TPngHeader& header) {
  const TImageProperties& p = ImageProperties;
  if (PixelLayoutOf() == plDevice) SourceBPP = SetupColorManager(header.ColorType, header.BitDepth);
  if (header.ColorType == 3 && !PngPalette) RaisePng(S::SInvalidPalette);
  const size_t factor = header.BitDepth == 16 ? SourceBPP / 2 : SourceBPP;

  TColor colour;
  if (ColorOfSamples(header, FBackground, colour)) BackgroundColor = colour;
  if (!FTransparency.empty() && ColorOfSamples(header, FTransparency, colour)) TransparentColor = colour;
  const bool keyed = TransparentColor != NoTransparentColor;
  if (keyed) SeparateKeyInPalette(header);
  if (PngPalette) AssignPalette(PngPalette);
  const int32_t width = static_cast<int32_t>(p.Width), height = static_cast<int32_t>(p.Height);
  ResizeWidth(width);
  ResizeHeight(height);
  FillBitmap(*this, BackgroundColor);
  if (TransparentColor != NoTransparentColor) {
    SetTransparentKey(TransparentColor);
    SetTransparency(true);
  }

  auto rowBytes = [&](uint64_t pixels) {
    return static_cast<size_t>((pixels * header.BitDepth + 7) / 8 * factor + 1);
  };
  // Each row is decoded into the buffer that did not hold the row before,
  // which is its prior line.
  std::vector<uint8_t> buffers[2] = {std::vector<uint8_t>(rowBytes(p.Width)), std::vector<uint8_t>(rowBytes(p.Width))};
  auto decodeRow = [&](int which, size_t bytes, int32_t y, const TAdam7Pass& pass) {
    uint8_t* line = buffers[which].data();
    if (!InflateData(stream, line, bytes)) return false;
    UnfilterRow(line[0], line + 1, bytes - 1, SourceBPP, buffers[which ^ 1].data() + 1);
    ColorManager.ConvertRow(TRowPlane(line + 1, bytes - 1), RowPointer(y), p.Width, pass.Mask);
    if (keyed) SeparateKeyInRow(header, line + 1, RowPointer(y), pass.StartColumn, pass.ColumnStep, p.Width);
    return true;
  };

  if (header.Interlace != 1) {
    const size_t bytes = rowBytes(p.Width);
    for (int32_t y = 0; y < height; ++y) {
      if (!decodeRow(y & 1, bytes, y, Adam7Passes[6])) break;
      RowDone(static_cast<uint32_t>(y));
    }
  } else {
    bool more = true;
    for (size_t pass = 0; pass < 7 && more; ++pass) {
      const TAdam7Pass& a = Adam7Passes[pass];
      if (a.StartColumn >= p.Width) continue;
      const size_t bytes = rowBytes((p.Width - a.StartColumn + a.ColumnStep - 1) / a.ColumnStep);
      int which = 0;
      std::memset(buffers[1].data(), 0, bytes);  // the first row of a pass has a zero prior line
      for (uint32_t y = a.StartRow; y < p.Height && more; y += a.RowStep, which ^= 1) {
        more = decodeRow(which, bytes, static_cast<int32_t>(y), a);
        if (more && pass == 6) RowDone(y + 1);
      }
    }
  }
  CheckDataEnd(stream);
}

// Makes image data available to the inflater: the next part of the IDAT
// chunk being read, else of the next IDAT chunk that holds data. False when
// the image data have run out; the chunk after them has its header read.
bool TPNGGraphic::NextInput(TStream& stream) {
  while (FChunkUnread == 0) {
    FinishImageChunk(stream);
    if (!IsChunk("IDAT")) return false;
    BeginChunkData(stream);
    FImageBytes += ChunkLength;
    FInImageChunk = true;
  }
  const uint32_t count = std::min(FChunkUnread, ImageDataWindow);
  ReadChunkPart(stream, Window(count), count);
  CurrentSource = RawBuffer.data();
  FInputLeft = count;
  return true;
}

// Reads the rest of the IDAT chunk being inflated, checks its CRC and reads
// the next chunk's header.
void TPNGGraphic::FinishImageChunk(TStream& stream) {
  if (!FInImageChunk) return;
  FInImageChunk = false;
  EndChunkData(stream);
  ReadChunkHeader(stream);
}

// An error in the image data is raised once the chunk it lies in has been
// read through: a damaged chunk is reported by its CRC.
void TPNGGraphic::RaiseInImageData(TStream& stream, const char* format) {
  FinishImageChunk(stream);
  RaisePng(format);
}

// One inflate call from the window into up to count bytes at dest, which
// moves on past what was produced; the zlib result.
int32_t TPNGGraphic::Inflate(uint8_t*& dest, size_t count) {
  const uint8_t* before = CurrentSource;
  Decoder->Decode(CurrentSource, dest, static_cast<int32_t>(FInputLeft), static_cast<int32_t>(count));
  FInputLeft -= static_cast<size_t>(CurrentSource - before);
  return Decoder->ZLibResult();
}

// Fills count bytes; false when the image data run out first (what is left
// of the picture keeps the background).
bool TPNGGraphic::InflateData(TStream& stream, uint8_t* buffer, size_t count) {
  uint8_t* dest = buffer;
  while (dest < buffer + count) {
    // A zlib stream that has ended cannot fill the rest of the image.
    if (Decoder->ZLibResult() == Z_STREAM_END) RaiseInImageData(stream, S::SExtraCompressedData);
    if (FInputLeft == 0 && !NextInput(stream)) return false;
    const int32_t result = Inflate(dest, static_cast<size_t>(buffer + count - dest));
    if (result == Z_STREAM_END) {
      if (dest < buffer + count || ImageDataLeft()) RaiseInImageData(stream, S::SExtraCompressedData);
    } else if (result != Z_OK) {
      RaiseInImageData(stream, S::SCompressionError);
    }
  }
  return true;
}

// After the last row the zlib stream must end: data that would inflate past
// the image are an error, as is a damaged tail. The remaining IDAT chunks
// are read (and their CRCs checked).
void TPNGGraphic::CheckDataEnd(TStream& stream) {
  while (Decoder->ZLibResult() == Z_OK && (FInputLeft > 0 || NextInput(stream))) {
    uint8_t spare;
    uint8_t* dest = &spare;
    const int32_t result = Inflate(dest, 1);
    if (dest != &spare) RaiseInImageData(stream, S::SExtraCompressedData);
    if (result == Z_STREAM_END && ImageDataLeft()) RaiseInImageData(stream, S::SExtraCompressedData);
    if (result != Z_OK && result != Z_STREAM_END) RaiseInImageData(stream, S::SCompressionError);
  }
  FinishImageChunk(stream);
  while (IsChunk("IDAT")) {
    BeginChunkData(stream);
    EndChunkData(stream);
    ReadChunkHeader(stream);
  }
}

}  // namespace tolvane
