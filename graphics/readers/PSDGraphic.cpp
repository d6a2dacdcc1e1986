// The Photoshop reader: skips to the composite image behind the layers and
// converts it row by row. Only the channels that make up the pixels are
// read; each of them is read on from its own place in the file through a
// window of its own, so the memory a load needs is a row and a window per
// channel beside the bitmap, and PackBits rows are decoded one by one with
// their stored lengths, so that a damaged row cannot shift the rows after it.
#include "graphics/readers/PSDGraphic.h"

#include <algorithm>
#include <cstring>

#include "graphics/GraphicCompression.h"
#include "graphics/GraphicStrings.h"
#include "picture/ByteOrder.h"

namespace tolvane {

TOLVANE_DEFINE_FORMAT_CLASS(TPSDGraphic, TFormatGraphic)

namespace {

namespace S = GraphicStrings;

constexpr size_t HeaderSize = 26;
// Only the first 256 palette entries can be shown.
constexpr uint32_t MaxColorTable = 768;

[[noreturn]] void RaisePsd(const char* format) { RaiseInvalidGraphicFmt(format, {S::SFormatPSD}); }
[[noreturn]] void RaiseShortFile() { throw EReadError(SysConst::SReadError); }

// The file must still hold count bytes from the position.
void RequireBytes(TStream& stream, uint64_t count) {
  if (count > static_cast<uint64_t>(stream.Remaining())) RaiseShortFile();
}

// Fills counts with big-endian 16-bit values from the stream and returns
// their sum.
uint64_t ReadBE16Counts(TStream& stream, std::vector<uint16_t>& counts) {
  stream.ReadExact(counts.data(), counts.size() * 2);
  uint64_t sum = 0;
  for (uint16_t& count : counts) {
    uint8_t stored[2];
    std::memcpy(stored, &count, 2);
    count = LoadBE16(stored);
    sum += count;
  }
  return sum;
}

// Row counts taken at a time where they are only added up.
constexpr uint64_t CountChunk = 32768;

// The rows of one channel, read on from where the last one ended through a
// window of its own: the planes of a picture are read side by side from
// different places in the file, and each costs a read a window, not a read
// a row. Rows as long as a window go straight to their buffer.
class TPlaneReader {
public:
  TPlaneReader(TStream& stream, int64_t start) : FStream(stream), FStart(start) {}

  void Read(uint8_t* dest, size_t count) {
    if (count == 0) return;  // an empty row may come with no buffer at all
    if (count > FWindow.size() - FAt) {
      if (count >= WindowSize) {
        FStream.SetPosition(FStart + static_cast<int64_t>(FAt));
        FStream.ReadExact(dest, count);
        Restart(FStart + static_cast<int64_t>(FAt + count));
        return;
      }
      Refill(count);
    }
    std::memcpy(dest, FWindow.data() + FAt, count);
    FAt += count;
  }

private:
  static constexpr size_t WindowSize = size_t{64} << 10;

  void Restart(int64_t start) {
    FStart = start;
    FAt = 0;
    FWindow.clear();
  }

  // The window from the next row on; short only where the file ends.
  void Refill(size_t count) {
    Restart(FStart + static_cast<int64_t>(FAt));
    FWindow.resize(WindowSize);
    FStream.SetPosition(FStart);
    FWindow.resize(FStream.Read(FWindow.data(), WindowSize));
    if (FWindow.size() < count) RaiseShortFile();
  }

  TStream& FStream;
  int64_t FStart;  // the file offset of FWindow[0]
  std::vector<uint8_t> FWindow;
  size_t FAt = 0;
};

TColorSchemeKind SchemeOfMode(uint16_t mode, uint8_t channels) {
  switch (mode) {
    case 0:
    case 1:
    case 8: return ckGrey;  // bitmap, greyscale, duotone (shown as its grey composite)
    case 2: return ckIndexed;
    case 3:
    case 7: return channels == 3 ? ckRGB : ckRGBA;  // RGB, multichannel
    case 4: return ckCMYK;
    case 9: return ckLab;
    default: return ckUnknown;
  }
}

}  // namespace

TPSDGraphic::TPSDGraphic() = default;
TPSDGraphic::~TPSDGraphic() = default;

bool TPSDGraphic::ProbeStream(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() <= static_cast<int64_t>(HeaderSize)) return false;
  uint8_t header[6];
  bool psd = stream.Read(header, sizeof header) == sizeof header;
  for (int i = 0; psd && i < 4; ++i) {
    const char c = static_cast<char>(header[i]);
    psd = (c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c) == "8BPS"[i];
  }
  psd = psd && LoadBE16(header + 4) == 1;
  stream.SetPosition(start);
  return psd;
}

bool TPSDGraphic::ReadImageInfo(TStream& stream, uint32_t imageIndex) {
  TFormatGraphic::ReadImageInfo(stream, imageIndex);
  stream.SetPosition(BasePosition);
  uint8_t h[HeaderSize];
  const size_t got = stream.Read(h, HeaderSize);
  if (got < 4 || std::memcmp(h, "8BPS", 4) != 0) return false;
  if (got < HeaderSize) RaiseShortFile();
  // Large documents count their sections and rows in wider fields.
  if (LoadBE16(h + 4) == 2) return false;
  TImageProperties& p = ImageProperties;
  const uint16_t mode = LoadBE16(h + 24);
  p.Options = optBigEndian;
  if (mode == 0) p.Options |= optMinIsWhite;
  p.PsdChannels = h[13];
  p.SamplesPerPixel = std::min<uint8_t>(p.PsdChannels, 4);
  p.Height = LoadBE32(h + 14);
  p.Width = LoadBE32(h + 18);
  p.BitsPerSample = h[23];
  p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
  p.ColorScheme = SchemeOfMode(mode, p.PsdChannels);
  for (int section = 0; section < 3; ++section) SkipSection(stream);
  switch (stream.ReadWordBE()) {
    case 0: p.Compression = icNone; break;
    case 1: p.Compression = icPackBits; break;
    default: p.Compression = icUnknown; return false;  // deflate variants are not read
  }
  return true;
}

void TPSDGraphic::SkipSection(TStream& stream) {
  const uint32_t length = stream.ReadLongBE();
  RequireBytes(stream, length);
  stream.Seek(length, TSeekOrigin::soCurrent);
}

uint32_t TPSDGraphic::PlanesInUse() const {
  switch (ImageProperties.ColorScheme) {
    case ckGrey:
    case ckIndexed: return 1;  // a second channel (alpha) plays no part
    case ckRGB:
    case ckLab: return 3;
    case ckRGBA:
    case ckCMYK: return 4;
    default: return 0;
  }
}

// Everything that could make the pixels unreadable is refused before
// anything is sized.
void TPSDGraphic::CheckImage() const {
  const TImageProperties& p = ImageProperties;
  const uint8_t bits = p.BitsPerSample;
  TPixelLayout layout = pl24Bit;
  switch (p.ColorScheme) {
    case ckGrey:
      if (bits != 1 && bits != 8 && bits != 16) RaisePsd(S::SInvalidColorFormat);
      layout = bits == 1 ? pl1Bit : pl8Bit;
      break;
    case ckIndexed:
      if (bits != 8) RaisePsd(S::SInvalidColorFormat);
      layout = pl8Bit;
      break;
    case ckRGB:
    case ckRGBA:
    case ckCMYK:
    case ckLab:
      if (bits != 8 && bits != 16) RaisePsd(S::SInvalidColorFormat);
      layout = p.ColorScheme == ckRGBA ? pl32Bit : pl24Bit;
      break;
    default: break;
  }
  if (p.PsdChannels < PlanesInUse()) RaisePsd(S::SInvalidImage);
  CheckImageSize(S::SFormatPSD, layout);
}

void TPSDGraphic::SetUpColors() {
  const TImageProperties& p = ImageProperties;
  TColorManager& cm = ColorManager;
  if (p.ColorScheme == ckUnknown) {
    // Nothing is converted; the picture keeps its size.
    SetPixelLayout(pl24Bit);
    return;
  }
  cm.SourceFlags = cvSwap16;
  cm.TargetFlags = 0;
  cm.SetSourceBitsPerSample(p.BitsPerSample);
  cm.SetTargetBitsPerSample(p.BitsPerSample == 16 ? 8 : p.BitsPerSample);
  TColorSchemeKind target = ckBGR;
  switch (p.ColorScheme) {
    case ckGrey:
    case ckIndexed: target = p.ColorScheme; break;
    case ckRGBA: target = ckBGRA; break;
    case ckLab: cm.SourceFlags |= cvLabLightness255 | cvLabOffset128; break;
    default: break;
  }
  cm.SetSourceScheme(p.ColorScheme);
  cm.SetSourceSamplesPerPixel(static_cast<uint8_t>(PlanesInUse()));
  cm.SetTargetScheme(target);
  cm.SetTargetSamplesPerPixel(target == ckBGRA ? 4 : target == ckBGR ? 3 : 1);
  SetPixelLayout(cm.PixelFormatFor(1));
}

// The colour table of indexed images; every other mode's data are skipped.
void TPSDGraphic::ReadColorModeData(TStream& stream) {
  const uint32_t length = stream.ReadLongBE();
  RequireBytes(stream, length);
  const TImageProperties& p = ImageProperties;
  if (p.ColorScheme == ckIndexed) {
    std::vector<uint8_t> table(std::min(length, MaxColorTable));
    stream.ReadExact(table.data(), table.size());
    stream.Seek(int64_t{length} - static_cast<int64_t>(table.size()), TSeekOrigin::soCurrent);
    const uint32_t count = static_cast<uint32_t>(table.size() / 3);
    const uint8_t* t = table.data();
    if (count > 0) FPalette = ColorManager.PaletteFromColorMap({t, t + count, t + 2 * count}, cmPlanar8x3, count, false);
    return;
  }
  stream.Seek(length, TSeekOrigin::soCurrent);
  if (p.ColorScheme == ckGrey) FPalette = ColorManager.GreyPalette((p.Options & optMinIsWhite) != 0);
}

// The row counts of the planes in use; the other channels' counts are only
// stepped over. The packed data of the planes in use must all be there. A
// picture without pixels keeps no counts: they would cost memory that its
// size does not bound.
void TPSDGraphic::ReadRowCounts(TStream& stream, uint32_t planes) {
  const TImageProperties& p = ImageProperties;
  const uint64_t tableBytes = uint64_t{p.Height} * p.PsdChannels * 2;
  RequireBytes(stream, tableBytes);
  const int64_t tableStart = stream.Position();
  const uint64_t counts = uint64_t{planes} * p.Height;
  uint64_t packed = 0;
  if (FRowBytes == 0) {
    std::vector<uint16_t> chunk;
    for (uint64_t done = 0; done < counts; done += chunk.size()) {
      chunk.resize(static_cast<size_t>(std::min<uint64_t>(counts - done, CountChunk)));
      packed += ReadBE16Counts(stream, chunk);
    }
  } else {
    FRowCounts.resize(static_cast<size_t>(counts));
    packed = ReadBE16Counts(stream, FRowCounts);
  }
  FDataStart = tableStart + static_cast<int64_t>(tableBytes);
  stream.SetPosition(FDataStart);
  RequireBytes(stream, packed);
}

void TPSDGraphic::LoadStream(TStream& stream) {
  TLoadFrame frame(*this, stream);
  if (!ReadImageInfo(stream, 0)) RaisePsd(S::SInvalidImage);
  CheckImage();
  const TImageProperties& p = ImageProperties;
  StartProgress(static_cast<int32_t>(p.Width));
  FRowBytes = static_cast<uint32_t>((uint64_t{p.Width} * p.BitsPerSample + 7) / 8);
  FPalette = nullptr;
  FRowCounts.clear();
  SetUpColors();

  stream.SetPosition(BasePosition + static_cast<int64_t>(HeaderSize));
  ReadColorModeData(stream);
  SkipSection(stream);  // image resources
  SkipSection(stream);  // layers and masks
  stream.ReadWordBE();  // compression, known from ReadImageInfo
  const uint32_t planes = PlanesInUse();
  if (p.Compression == icPackBits) {
    ReadRowCounts(stream, planes);
  } else {
    FDataStart = stream.Position();
    RequireBytes(stream, uint64_t{FRowBytes} * p.Height * planes);
  }
  ResizeWidth(static_cast<int32_t>(p.Width));
  ResizeHeight(static_cast<int32_t>(p.Height));
  if (FPalette) AssignPalette(FPalette);
  if (planes > 0) {
    NextStage(S::STransfering);
    ReadRows(stream, planes);
  }
  EndProgress();
}

// Where each plane's first row lies: the channels are stored one after the
// other.
std::vector<int64_t> TPSDGraphic::PlaneStarts(uint32_t planes) const {
  const TImageProperties& p = ImageProperties;
  std::vector<int64_t> starts(planes, FDataStart);
  for (uint32_t k = 1; k < planes; ++k) {
    uint64_t size = uint64_t{FRowBytes} * p.Height;
    if (p.Compression == icPackBits) {
      size = 0;
      for (uint32_t y = 0; y < p.Height; ++y) size += FRowCounts[size_t{k - 1} * p.Height + y];
    }
    starts[k] = starts[k - 1] + static_cast<int64_t>(size);
  }
  return starts;
}

void TPSDGraphic::ReadRows(TStream& stream, uint32_t planes) {
  const TImageProperties& p = ImageProperties;
  if (p.Height == 0) return;  // no rows, however wide: nothing to read or convert
  const bool packBits = p.Compression == icPackBits;
  const bool inverted = p.ColorScheme == ckCMYK;  // ink coverage is stored inverted
  std::vector<std::vector<uint8_t>> rows(planes, std::vector<uint8_t>(FRowBytes));
  std::vector<TRowPlane> sources(planes);
  // A picture without pixels has nothing to read; its first row still goes
  // through the colour manager, which refuses what it cannot convert.
  const bool empty = FRowBytes == 0;
  const uint32_t height = empty ? std::min<uint32_t>(p.Height, 1) : p.Height;
  std::vector<TPlaneReader> readers;
  if (!empty)
    for (int64_t start : PlaneStarts(planes)) readers.emplace_back(stream, start);
  TPackbitsRLEDecoder decoder;
  std::vector<uint8_t> packed;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t k = 0; k < readers.size(); ++k) {
      uint8_t* row = rows[k].data();
      if (packBits) {
        const uint16_t count = FRowCounts[size_t{k} * p.Height + y];
        packed.resize(count);
        readers[k].Read(packed.data(), count);
        // A row whose codes end early keeps zeros, never the last row's bytes.
        std::fill(rows[k].begin(), rows[k].end(), uint8_t{0});
        const uint8_t* source = packed.data();
        decoder.Decode(source, row, count, static_cast<int32_t>(FRowBytes));
      } else {
        readers[k].Read(row, FRowBytes);
      }
      if (inverted)
        for (uint8_t& b : rows[k]) b = static_cast<uint8_t>(255 - b);
      sources[k] = rows[k];
    }
    ColorManager.ConvertRow(TRowPlanes(sources), RowPointer(static_cast<int32_t>(y)), p.Width, 0xFF);
    RowDone(y + 1);
  }
}

void TPSDGraphic::FreeLoadState() {
  FRowCounts = {};
  FPalette = nullptr;
}

}  // namespace tolvane
