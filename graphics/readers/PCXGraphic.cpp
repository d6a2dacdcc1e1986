// The ZSoft Paintbrush reader: the header's plane and depth combination
// picks the bitmap layout; run-length and raw data are both read line by
// line, one line held at a time; each line goes through the colour manager,
// except 8- and 16-colour plane images, whose planes are merged here.
#include "graphics/readers/PCXGraphic.h"

#include <algorithm>
#include <cstring>

#include "graphics/GraphicStrings.h"
#include "picture/ByteOrder.h"

namespace tolvane {

TOLVANE_DEFINE_FORMAT_CLASS(TPCXGraphic, TFormatGraphic)

namespace {

namespace S = GraphicStrings;

constexpr const char* FormatName = "PCX";
constexpr size_t HeaderSize = 128;
constexpr uint64_t PaletteBlockSize = 769;  // marker byte 12 and 256 colours
constexpr uint8_t PaletteMarker = 12;
constexpr uint64_t MaxRunLength = 63;  // the most bytes one two-byte run yields

[[noreturn]] void RaiseInvalid() { RaiseInvalidGraphicFmt(S::SInvalidImage, {FormatName}); }
[[noreturn]] void RaiseColorFormat() { RaiseInvalidGraphicFmt(S::SInvalidColorFormat, {FormatName}); }

// Run-length data read from the stream a window at a time and decoded a
// line at a time, byte for byte as TPCXRLEDecoder decodes them in one piece:
// a run that passes the end of a line goes on in the next one.
class TLineRunDecoder {
public:
  TLineRunDecoder(TStream& stream, uint64_t packed) : FStream(stream), FLeft(packed) {}

  // The next count bytes into line; those the data do not reach become 0.
  void Decode(uint8_t* line, size_t count) {
    size_t done = 0;
    while (done < count) {
      if (FRunLeft) {
        const size_t n = std::min(FRunLeft, count - done);
        std::memset(line + done, FRunValue, n);
        done += n, FRunLeft -= n;
        continue;
      }
      if (FPos == FEnd && !Fill()) break;
      // Literal bytes go over as a block.
      const size_t stop = FPos + std::min(FEnd - FPos, count - done);
      size_t literal = FPos;
      while (literal < stop && FWindow[literal] < 0xC0) ++literal;
      if (literal > FPos) {
        std::memcpy(line + done, FWindow.data() + FPos, literal - FPos);
        done += literal - FPos, FPos = literal;
        continue;
      }
      const uint8_t code = FWindow[FPos++];
      if (FPos == FEnd && !Fill()) break;  // a count without its value ends the data
      FRunLeft = code & 0x3Fu, FRunValue = FWindow[FPos++];
    }
    std::memset(line + done, 0, count - done);
  }

private:
  bool Fill() {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(FLeft, FWindow.size()));
    if (n) FStream.ReadExact(FWindow.data(), n);
    FLeft -= n, FPos = 0, FEnd = n;
    return n != 0;
  }

  TStream& FStream;
  uint64_t FLeft;
  std::vector<uint8_t> FWindow = std::vector<uint8_t>(size_t{1} << 16);
  size_t FPos = 0, FEnd = 0;
  size_t FRunLeft = 0;
  uint8_t FRunValue = 0;
};

}  // namespace

bool TPCXGraphic::ProbeStream(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() <= static_cast<int64_t>(HeaderSize)) return false;
  uint8_t h[HeaderSize];
  const bool read = stream.Read(h, HeaderSize) == HeaderSize;
  stream.SetPosition(start);
  return read && (h[0] == 10 || h[0] == 12) && (h[1] == 0 || h[1] == 2 || h[1] == 3 || h[1] == 5) && h[2] <= 1;
}

bool TPCXGraphic::ReadImageInfo(TStream& stream, uint32_t imageIndex) {
  TFormatGraphic::ReadImageInfo(stream, imageIndex);
  stream.SetPosition(BasePosition);
  uint8_t h[HeaderSize];
  stream.ReadExact(h, HeaderSize);
  if (h[0] != 10 && h[0] != 205) return false;
  TImageProperties& p = ImageProperties;
  FVersion = h[1];
  p.Compression = h[2] == 1 ? icRLE : icNone;
  p.BitsPerSample = h[3];
  const uint16_t xMin = LoadLE16(h + 4), yMin = LoadLE16(h + 6), xMax = LoadLE16(h + 8), yMax = LoadLE16(h + 10);
  FBoundsValid = xMax >= xMin && yMax >= yMin;
  if (FBoundsValid) {
    p.Width = uint32_t{xMax} - xMin + 1;
    p.Height = uint32_t{yMax} - yMin + 1;
  }
  p.XResolution = LoadLE16(h + 12);
  p.YResolution = LoadLE16(h + 14);
  std::memcpy(FHeaderPalette, h + 16, sizeof FHeaderPalette);
  FPlanes = h[65];
  FBytesPerLine = LoadLE16(h + 66);
  FPaletteInfo = LoadLE16(h + 68);
  p.SamplesPerPixel = FPlanes;
  p.BitsPerPixel = static_cast<uint8_t>(p.BitsPerSample * FPlanes);
  p.ColorScheme = p.BitsPerPixel <= 8 ? ckIndexed : ckRGB;
  return true;
}

// The row kind and bitmap layout of the header's planes and depth; any other
// combination raises the colour-format message.
TPCXGraphic::TRowKind TPCXGraphic::CheckLayout(TPixelLayout& layout) const {
  const uint8_t bits = ImageProperties.BitsPerSample;
  if (FPlanes == 1 && (bits == 1 || bits == 2 || bits == 4 || bits == 8)) {
    layout = bits == 1 ? pl1Bit : bits == 8 ? pl8Bit : pl4Bit;
    return TRowKind::Indexed;
  }
  // Three 1-bit planes are the 8-colour case of the 16-colour plane layout.
  if (bits == 1 && (FPlanes == 3 || FPlanes == 4)) {
    layout = pl4Bit;
    return TRowKind::Planes1Bit;
  }
  if (bits == 8 && FPlanes == 3) {
    layout = pl24Bit;
    return TRowKind::RGB;
  }
  RaiseColorFormat();
}

void TPCXGraphic::SetUpColors(TRowKind kind) {
  TColorManager& cm = ColorManager;
  const uint8_t bits = ImageProperties.BitsPerSample;
  cm.SourceFlags = 0;
  cm.TargetFlags = 0;
  if (kind == TRowKind::RGB) {
    cm.SetSourceScheme(ckRGB);
    cm.SetTargetScheme(ckBGR);
    cm.SetSourceBitsPerSample(8);
    cm.SetTargetBitsPerSample(8);
    cm.SetSourceSamplesPerPixel(3);
    cm.SetTargetSamplesPerPixel(3);
    return;
  }
  // Plane images are merged into 4-bit indices before the colour manager
  // sees them; it only builds their palette.
  const uint8_t sourceBits = kind == TRowKind::Planes1Bit ? 4 : bits;
  cm.SetSourceScheme(ckIndexed);
  cm.SetTargetScheme(ckIndexed);
  cm.SetSourceBitsPerSample(sourceBits);
  cm.SetTargetBitsPerSample(sourceBits == 2 ? 4 : sourceBits);
  cm.SetSourceSamplesPerPixel(1);
  cm.SetTargetSamplesPerPixel(1);
}

// The palette of the layout; an 8-bit image's own palette block at the end
// of the file is taken off the pixel data.
void TPCXGraphic::AssignPcxPalette(TStream& stream, TPixelLayout layout, uint64_t& dataSize) {
  if (layout == pl24Bit) return;
  if (FVersion == 3 && layout != pl1Bit) {
    AssignPalette(SystemPalette16());
    return;
  }
  TColorManager& cm = ColorManager;
  if (layout == pl1Bit) {
    AssignPalette(cm.GreyPalette(false));
  } else if (layout == pl4Bit) {
    if (FPaletteInfo == 2) AssignPalette(cm.GreyPalette(false));
    else AssignPalette(cm.PaletteFromColorMap({FHeaderPalette}, cmInterleaved8x3, 16, false));
  } else if (layout == pl8Bit) {
    // The block counts only when the file holds it besides some data and it
    // begins with its marker; otherwise those bytes are pixels.
    uint8_t block[PaletteBlockSize];
    if (dataSize > PaletteBlockSize) {
      const int64_t position = stream.Position();
      stream.SetPosition(position + static_cast<int64_t>(dataSize - PaletteBlockSize));
      stream.ReadExact(block, sizeof block);
      stream.SetPosition(position);
      if (block[0] == PaletteMarker) {
        dataSize -= PaletteBlockSize;
        AssignPalette(cm.PaletteFromColorMap({block + 1}, cmInterleaved8x3, 256, false));
        return;
      }
    }
    if (FPaletteInfo == 2) AssignPalette(cm.GreyPalette(false));
  }
}

void TPCXGraphic::LoadStream(TStream& stream) {
  TLoadFrame frame(*this, stream);
  if (!ReadImageInfo(stream, 0)) return;
  const TImageProperties& p = ImageProperties;
  if (!FBoundsValid) RaiseInvalid();
  TPixelLayout layout = plDevice;
  const TRowKind kind = CheckLayout(layout);
  // Each plane's line must hold the width's pixels.
  if (uint64_t{FBytesPerLine} * 8 < uint64_t{p.Width} * p.BitsPerSample) RaiseInvalid();
  CheckImageSize(FormatName, layout);
  const uint64_t lineLength = uint64_t{FPlanes} * FBytesPerLine;
  if (p.Compression == icRLE && lineLength * p.Height > MaxImageBytes) RaiseInvalid();
  StartProgress(static_cast<int32_t>(p.Width));
  stream.SetPosition(BasePosition + static_cast<int64_t>(HeaderSize));
  uint64_t dataSize = static_cast<uint64_t>(stream.Remaining());

  SetUpColors(kind);
  SetPixelLayout(layout);
  AssignPcxPalette(stream, layout, dataSize);
  ResizeWidth(static_cast<int32_t>(p.Width));
  ResizeHeight(static_cast<int32_t>(p.Height));
  if (p.Compression == icRLE) ReadRLELines(stream, dataSize, kind);
  else ReadRawLines(stream, dataSize, kind);
  EndProgress();
}

void TPCXGraphic::FreeLoadState() { FPixels = {}; }

// Raw lines straight from the file; lines the data do not reach stay zero.
void TPCXGraphic::ReadRawLines(TStream& stream, uint64_t dataSize, TRowKind kind) {
  const size_t lineLength = size_t{FPlanes} * FBytesPerLine;
  FPixels.assign(lineLength, 0);
  NextStage(S::STransfering);
  for (uint32_t y = 0; y < ImageProperties.Height; ++y) {
    const size_t take = static_cast<size_t>(std::min<uint64_t>(lineLength, dataSize));
    if (take < lineLength) std::fill(FPixels.begin(), FPixels.end(), uint8_t{0});
    if (take > 0) stream.ReadExact(FPixels.data(), take);
    dataSize -= take;
    TransferLine(FPixels.data(), static_cast<int32_t>(y), kind);
    RowDone(y + 1);
  }
}

// Run-length data decoded a line at a time, as runs may cross lines; only
// one line is held. Each output byte costs at most two input bytes, so no
// more is read; lines beyond what the data can reach keep the cleared
// bitmap's pixels, as raw files that end early do. The 32-bit limits are
// those of the one-piece decode that this matches.
void TPCXGraphic::ReadRLELines(TStream& stream, uint64_t dataSize, TRowKind kind) {
  const uint32_t height = ImageProperties.Height;
  const uint64_t lineLength = uint64_t{FPlanes} * FBytesPerLine;
  const uint64_t unpacked = lineLength * height;
  const uint64_t packed = std::min<uint64_t>(dataSize, unpacked * 2 + 2);
  const uint64_t reach = std::min<uint64_t>(unpacked, (packed + 1) / 2 * MaxRunLength);
  const auto lines = static_cast<uint32_t>((reach + lineLength - 1) / lineLength);
  const uint64_t decoded = std::min<uint64_t>(uint64_t{lines} * lineLength, INT32_MAX);
  TLineRunDecoder decoder(stream, std::min<uint64_t>(packed, INT32_MAX));
  FPixels.assign(static_cast<size_t>(lineLength), 0);
  NextStage(S::STransfering);
  for (uint32_t y = 0; y < height; ++y) {
    if (y < lines) {
      const uint64_t at = uint64_t{y} * lineLength;
      const size_t take = static_cast<size_t>(std::min(lineLength, decoded - std::min(decoded, at)));
      decoder.Decode(FPixels.data(), take);
      std::fill(FPixels.begin() + static_cast<ptrdiff_t>(take), FPixels.end(), uint8_t{0});
      TransferLine(FPixels.data(), static_cast<int32_t>(y), kind);
    }
    RowDone(y + 1);
  }
}

void TPCXGraphic::TransferLine(const uint8_t* line, int32_t y, TRowKind kind) {
  const uint32_t width = ImageProperties.Width;
  uint8_t* row = RowPointer(y);
  if (kind == TRowKind::Indexed) {
    ColorManager.ConvertRow(TRowPlane(line, size_t{FPlanes} * FBytesPerLine), row, width, 0xFF);
  } else if (kind == TRowKind::RGB) {
    const TRowPlane line0(line, FBytesPerLine), line1(line + FBytesPerLine, FBytesPerLine),
        line2(line + 2 * size_t{FBytesPerLine}, FBytesPerLine);
    ColorManager.ConvertRow({line0, line1, line2}, row, width, 0xFF);
  } else {
    // Plane p gives bit p of each pixel's index; a missing fourth plane is 0.
    for (uint32_t x = 0; x < width; ++x) {
      const size_t byte = x / 8;
      const unsigned shift = 7 - x % 8;
      unsigned value = 0;
      for (unsigned plane = 0; plane < FPlanes; ++plane)
        value |= ((line[plane * size_t{FBytesPerLine} + byte] >> shift) & 1u) << plane;
      uint8_t& target = row[x / 2];
      target = x % 2 ? static_cast<uint8_t>((target & 0xF0) | value) : static_cast<uint8_t>(value << 4);
    }
  }
}

}  // namespace tolvane
