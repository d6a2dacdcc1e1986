// The Autodesk Animator cel reader: a 32-byte header, 256 palette entries of
// 6-bit colour values and raw rows of palette indices. Every read is a plain
// read: what a short file does not deliver stays as the cleared bitmap and
// palette hold it.
#include "graphics/readers/AutodeskGraphic.h"

#include <array>

#include "graphics/GraphicStrings.h"
#include "picture/ByteOrder.h"

namespace tolvane {

TOLVANE_DEFINE_FORMAT_CLASS(TAutodeskGraphic, TFormatGraphic)

namespace {

constexpr uint16_t Magic = 0x9119;
constexpr size_t HeaderSize = 32;
constexpr size_t PaletteSize = 768;

}  // namespace

bool TAutodeskGraphic::ProbeStream(TStream& stream) {
  const int64_t start = stream.Position();
  bool result = false;
  if (stream.Remaining() > static_cast<int64_t>(HeaderSize)) {
    uint8_t header[HeaderSize];
    stream.ReadExact(header, sizeof header);
    result = LoadLE16(header) == Magic && header[10] == 8 && header[11] == 0;
  }
  stream.SetPosition(start);
  return result;
}

bool TAutodeskGraphic::ReadImageInfo(TStream& stream, uint32_t imageIndex) {
  TFormatGraphic::ReadImageInfo(stream, imageIndex);
  uint8_t header[HeaderSize] = {};
  stream.Read(header, 2);
  if (LoadLE16(header) != Magic) return false;
  stream.Read(header + 2, HeaderSize - 2);
  TImageProperties& p = ImageProperties;
  p.Width = LoadLE16(header + 2);
  p.Height = LoadLE16(header + 4);
  p.ColorScheme = ckIndexed;
  p.BitsPerSample = 8;
  p.SamplesPerPixel = 1;
  p.BitsPerPixel = 8;
  p.Compression = icNone;
  return true;
}

void TAutodeskGraphic::LoadStream(TStream& stream) {
  TLoadFrame frame(*this, stream);
  if (!ReadImageInfo(stream, 0)) RaiseInvalidGraphicFmt(GraphicStrings::SInvalidImage, {GraphicStrings::SFormatAutodesk});
  CheckImageSize(GraphicStrings::SFormatAutodesk, pl8Bit);
  const TImageProperties& p = ImageProperties;
  stream.SetPosition(BasePosition + static_cast<int64_t>(HeaderSize));
  StartProgress(static_cast<int32_t>(p.Width), GraphicStrings::STransfering);

  std::array<uint8_t, PaletteSize> colours{};
  stream.Read(colours.data(), colours.size());
  std::vector<TPaletteEntry> entries;
  for (size_t i = 0; i < PaletteSize; i += 3) {
    // 6-bit values scaled by 4 within their byte: 63 becomes 252.
    auto scale = [](uint8_t v) { return static_cast<uint8_t>(v << 2); };
    entries.push_back({scale(colours[i]), scale(colours[i + 1]), scale(colours[i + 2]), 0});
  }
  SetPixelLayout(pl8Bit);
  AssignPalette(CreatePalette(std::move(entries)));
  ResizeWidth(static_cast<int32_t>(p.Width));
  ResizeHeight(static_cast<int32_t>(p.Height));
  for (uint32_t y = 0; y < p.Height; ++y) {
    stream.Read(RowPointer(static_cast<int32_t>(y)), p.Width);
    RowDone(y + 1);
  }
  EndProgress();
}

}  // namespace tolvane
