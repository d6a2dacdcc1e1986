// The SGI image reader: each bitmap row is gathered channel by channel (run-
// length rows through the offset tables, verbatim rows by position) into row
// buffers and converted by the colour manager.
#include "graphics/readers/SGIGraphic.h"

#include <algorithm>
#include <cstring>

#include "graphics/GraphicCompression.h"
#include "graphics/GraphicStrings.h"
#include "picture/ByteOrder.h"

namespace tolvane {

TOLVANE_DEFINE_FORMAT_CLASS(TSGIGraphic, TFormatGraphic)

namespace {

namespace S = GraphicStrings;

constexpr size_t HeaderSize = 512;
constexpr uint16_t Magic = 474;

[[noreturn]] void RaiseInvalid() { RaiseInvalidGraphicFmt(S::SInvalidImage, {S::SFormatSGI}); }

}  // namespace

TSGIGraphic::TSGIGraphic() = default;
TSGIGraphic::~TSGIGraphic() = default;

bool TSGIGraphic::ProbeStream(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() <= static_cast<int64_t>(HeaderSize)) return false;
  uint8_t h[HeaderSize];
  const bool read = stream.Read(h, HeaderSize) == HeaderSize;
  stream.SetPosition(start);
  const uint16_t dimension = LoadBE16(h + 4);
  return read && LoadBE16(h) == Magic && (h[3] == 1 || h[3] == 2) && dimension >= 1 && dimension <= 3;
}

bool TSGIGraphic::ReadImageInfo(TStream& stream, uint32_t imageIndex) {
  TFormatGraphic::ReadImageInfo(stream, imageIndex);
  stream.SetPosition(BasePosition);
  uint8_t h[HeaderSize];
  stream.ReadExact(h, HeaderSize);
  if (LoadBE16(h) != Magic) return false;
  TImageProperties& p = ImageProperties;
  p.Options = optBigEndian;
  p.Compression = h[2] == 1 ? icRLE : icNone;
  p.BitsPerSample = static_cast<uint8_t>(8 * h[3]);
  p.Width = LoadBE16(h + 6);
  p.Height = LoadBE16(h + 8);
  p.SamplesPerPixel = h[11];
  p.ColorScheme = p.SamplesPerPixel == 3 ? ckRGB : p.SamplesPerPixel == 4 ? ckRGBA : ckIndexed;
  p.HasAlpha = p.SamplesPerPixel == 4;
  p.BitsPerPixel = static_cast<uint8_t>(p.BitsPerSample * p.SamplesPerPixel);
  return true;
}

void TSGIGraphic::LoadStream(TStream& stream) {
  TLoadFrame frame(*this, stream);
  if (!ReadImageInfo(stream, 0)) RaiseInvalid();
  const TImageProperties& p = ImageProperties;
  if (p.BitsPerSample != 8 && p.BitsPerSample != 16) RaiseInvalid();
  FStreamSize = static_cast<uint64_t>(stream.Size());
  StartProgress(static_cast<int32_t>(p.Width));

  // The colour manager refuses channel counts other than 1 to 4; two
  // channels have no bitmap layout.
  TColorManager& cm = ColorManager;
  cm.SourceFlags = cvSwap16;
  cm.TargetFlags = 0;
  cm.SetSourceBitsPerSample(p.BitsPerSample);
  cm.SetTargetBitsPerSample(8);
  cm.SetSourceSamplesPerPixel(p.SamplesPerPixel);
  cm.SetTargetSamplesPerPixel(p.SamplesPerPixel);
  cm.SetSourceScheme(p.ColorScheme);
  cm.SetTargetScheme(p.ColorScheme == ckRGB ? ckBGR : p.ColorScheme == ckRGBA ? ckBGRA : ckIndexed);
  const TPixelLayout layout = cm.PixelFormatFor(1);
  CheckImageSize(S::SFormatSGI, layout);
  SetPixelLayout(layout);

  const uint32_t bytesPerChannel = p.BitsPerSample / 8u;
  if (p.Compression == icRLE) {
    ReadOffsetTables(stream);
    FDecoder = std::make_unique<TSGIRLEDecoder>(p.BitsPerSample);
    // The longest row an encoder can write: a run of one for every sample,
    // and the closing count.
    FPacked.resize((2 * size_t{p.Width} + 1) * bytesPerChannel);
  }
  const uint32_t channels = p.SamplesPerPixel;
  for (uint32_t k = 0; k < channels; ++k) FChannels[k].resize(size_t{p.Width} * bytesPerChannel);
  ResizeWidth(static_cast<int32_t>(p.Width));
  ResizeHeight(static_cast<int32_t>(p.Height));
  if (channels == 1) AssignPalette(cm.GreyPalette(false));

  NextStage(S::STransfering);
  auto buffer = [&](uint32_t k) { return k < channels ? FChannels[k].data() : nullptr; };
  for (uint32_t y = 0; y < p.Height; ++y) {
    ReadRows(buffer(0), buffer(1), buffer(2), buffer(3), y, bytesPerChannel);
    uint8_t* row = RowPointer(static_cast<int32_t>(p.Height - 1 - y));
    auto plane = [&](uint32_t k) { return TRowPlane(FChannels[k]); };
    if (channels == 1) cm.ConvertRow(plane(0), row, p.Width, 0xFF);
    else if (channels == 3) cm.ConvertRow({plane(0), plane(1), plane(2)}, row, p.Width, 0xFF);
    else cm.ConvertRow({plane(0), plane(1), plane(2), plane(3)}, row, p.Width, 0xFF);
    RowDone(y + 1);
  }
  EndProgress();
}

// Both tables, channel after channel, bottom row first. A file too short
// for them leaves the missing entries 0.
void TSGIGraphic::ReadOffsetTables(TStream& stream) {
  const size_t count = size_t{ImageProperties.Height} * ImageProperties.SamplesPerPixel;
  std::vector<uint8_t> bytes(count * 8, 0);
  stream.SetPosition(BasePosition + static_cast<int64_t>(HeaderSize));
  stream.Read(bytes.data(), bytes.size());
  FRowStarts.resize(count);
  FRowLengths.resize(count);
  for (size_t i = 0; i < count; ++i) {
    FRowStarts[i] = LoadBE32(bytes.data() + 4 * i);
    FRowLengths[i] = LoadBE32(bytes.data() + 4 * (count + i));
  }
}

void TSGIGraphic::ReadRows(uint8_t* channel0, uint8_t* channel1, uint8_t* channel2, uint8_t* channel3,
                           uint32_t row, uint32_t bytesPerChannel) {
  uint8_t* targets[4] = {channel0, channel1, channel2, channel3};
  for (uint32_t k = 0; k < 4; ++k)
    if (targets[k]) ReadChannelRow(targets[k], k, row, bytesPerChannel);
}

// Up to count bytes from the offset (relative to BasePosition); how many
// the file holds there.
size_t TSGIGraphic::ReadAt(uint64_t offset, uint8_t* buffer, size_t count) {
  const uint64_t position = static_cast<uint64_t>(BasePosition) + offset;
  if (position >= FStreamSize || count == 0) return 0;
  SourceStream->SetPosition(static_cast<int64_t>(position));
  return SourceStream->Read(buffer, static_cast<size_t>(std::min<uint64_t>(count, FStreamSize - position)));
}

void TSGIGraphic::ReadChannelRow(uint8_t* target, uint32_t channel, uint32_t row, uint32_t bytesPerChannel) {
  const TImageProperties& p = ImageProperties;
  const size_t rowBytes = size_t{p.Width} * bytesPerChannel;
  std::memset(target, 0, rowBytes);
  const uint64_t index = uint64_t{channel} * p.Height + row;
  if (p.Compression != icRLE) {
    ReadAt(HeaderSize + index * rowBytes, target, rowBytes);
    return;
  }
  if (index >= FRowStarts.size()) return;
  const uint64_t length = uint64_t{FRowLengths[index]} * bytesPerChannel;
  const size_t packed = ReadAt(FRowStarts[index], FPacked.data(),
                               static_cast<size_t>(std::min<uint64_t>(length, FPacked.size())));
  const uint8_t* source = FPacked.data();
  FDecoder->Decode(source, target, static_cast<int32_t>(packed), static_cast<int32_t>(rowBytes));
}

void TSGIGraphic::FreeLoadState() {
  FDecoder.reset();
  FRowStarts = {};
  FRowLengths = {};
  FPacked = {};
  for (auto& channel : FChannels) channel = {};
}

}  // namespace tolvane
