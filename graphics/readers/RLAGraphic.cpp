// The Alias/Wavefront RLA reader: a big-endian header, a table of row
// offsets, and per row the red, green, blue (and matte) channels, each a
// length and run-length coded bytes.
#include "graphics/readers/RLAGraphic.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "graphics/GraphicCompression.h"
#include "graphics/GraphicStrings.h"
#include "picture/ByteOrder.h"

namespace tolvane {

TOLVANE_DEFINE_FORMAT_CLASS(TRLAGraphic, TFormatGraphic)

namespace {

constexpr const char* FormatName = "RLA";
constexpr uint16_t Revision = 0xFFFE;
constexpr float ScreenGamma = 2.2f;

// Header fields (offsets into the 740 header bytes).
constexpr size_t ActiveLeft = 8, ActiveRight = 10, ActiveBottom = 12, ActiveTop = 14;
constexpr size_t ColorChannels = 20, MatteChannels = 22, RevisionField = 26;
constexpr size_t GammaText = 28, GammaTextSize = 16;
constexpr size_t ColorSpaceText = 580, ColorSpaceTextSize = 32;
constexpr size_t ChannelBits = 658;

// A text field: up to its first zero byte.
std::string_view TextField(const uint8_t* header, size_t offset, size_t size) {
  const char* text = reinterpret_cast<const char*>(header + offset);
  return std::string_view(text, strnlen(text, size));
}

int16_t SignedField(const uint8_t* header, size_t offset) {
  int16_t value;
  std::memcpy(&value, header + offset, sizeof value);
  return value;
}

uint16_t UnsignedField(const uint8_t* header, size_t offset) {
  uint16_t value;
  std::memcpy(&value, header + offset, sizeof value);
  return value;
}

// The display gamma the samples were made for, as a decimal number with "."
// as its separator whatever the user's locale (files are written the same
// everywhere); 0 when the text is no such number. Values beyond a millionth
// and a million are no gamma a file means, and their reciprocals would not
// fit the colour manager's single precision.
float ParseDisplayGamma(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value < 1e-6 ||
      value > 1e6)
    return 0;
  return static_cast<float>(value);
}

}  // namespace

void TRLAGraphic::SwapHeader(uint8_t* header) {
  auto swap16 = [header](size_t offset) {
    const uint16_t value = LoadBE16(header + offset);
    std::memcpy(header + offset, &value, sizeof value);
  };
  auto swap32 = [header](size_t offset) {
    const uint32_t value = LoadBE32(header + offset);
    std::memcpy(header + offset, &value, sizeof value);
  };
  for (size_t offset = 0; offset < 28; offset += 2) swap16(offset);
  swap32(140);
  swap32(736);
  swap16(612);
  for (size_t offset = 658; offset < 668; offset += 2) swap16(offset);
}

bool TRLAGraphic::ProbeStream(TStream& stream) {
  const int64_t start = stream.Position();
  bool result = false;
  if (stream.Remaining() > static_cast<int64_t>(HeaderSize)) {
    uint8_t header[HeaderSize];
    stream.ReadExact(header, sizeof header);
    const std::string space = LowerCase(TextField(header, ColorSpaceText, ColorSpaceTextSize));
    result = LoadBE16(header + RevisionField) == Revision && (space == "rgb" || space == "xyz");
  }
  stream.SetPosition(start);
  return result;
}

bool TRLAGraphic::ReadImageInfo(TStream& stream, uint32_t imageIndex) {
  TFormatGraphic::ReadImageInfo(stream, imageIndex);
  FDisplayGamma = 0;
  uint8_t header[HeaderSize];
  stream.ReadExact(header, sizeof header);
  SwapHeader(header);
  TImageProperties& p = ImageProperties;
  p.Options = optBigEndian;
  const uint16_t mattes = UnsignedField(header, MatteChannels);
  p.SamplesPerPixel = static_cast<uint8_t>(UnsignedField(header, ColorChannels) + (mattes == 1 ? 1 : 0));
  p.BitsPerSample = static_cast<uint8_t>(UnsignedField(header, ChannelBits));
  p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
  const std::string space = LowerCase(TextField(header, ColorSpaceText, ColorSpaceTextSize));
  if (space == "rgb") p.ColorScheme = mattes > 0 ? ckRGBA : ckRGB;
  else if (space == "xyz") return false;
  // The field is the gamma of the display the samples were encoded for; the
  // image gamma is its reciprocal (PNG's convention), so "2.2" means samples
  // ready for the screen.
  FDisplayGamma = ParseDisplayGamma(TextField(header, GammaText, GammaTextSize));
  if (FDisplayGamma > 0) p.Gamma = 1.0f / FDisplayGamma;
  p.Compression = icRLE;
  // Window bounds are signed; their differences are taken in 32 bits.
  const int32_t width = int32_t{SignedField(header, ActiveRight)} - SignedField(header, ActiveLeft) + 1;
  const int32_t bottom = SignedField(header, ActiveBottom), top = SignedField(header, ActiveTop);
  p.Width = width > 0 ? static_cast<uint32_t>(width) : 0;
  p.Height = static_cast<uint32_t>(std::abs(bottom - top) + 1);
  p.RlaBottomUp = bottom - top < 0;
  return true;
}

// Every code yields at least one byte from at most two, so no more than
// twice the width is decoded; the rest of a longer channel is stepped over,
// which keeps rows that share one huge channel from costing its size each.
void TRLAGraphic::ReadChannel(TStream& stream, std::vector<uint8_t>& channel) {
  const uint16_t length = stream.ReadWordBE();
  if (length > stream.Remaining()) throw EReadError(SysConst::SReadError);
  const size_t used = std::min<size_t>(length, 2 * channel.size());
  FPacked.resize(used);
  stream.ReadExact(FPacked.data(), FPacked.size());
  stream.Seek(static_cast<int64_t>(length - used), TSeekOrigin::soCurrent);
  const uint8_t* source = FPacked.data();
  uint8_t* dest = channel.data();
  TRLADecoder().Decode(source, dest, static_cast<int32_t>(used), static_cast<int32_t>(channel.size()));
}

void TRLAGraphic::FreeLoadState() { FPacked = {}; }

void TRLAGraphic::LoadStream(TStream& stream) {
  TLoadFrame frame(*this, stream);
  if (!ReadImageInfo(stream, 0)) return;
  TImageProperties& p = ImageProperties;
  // The channel buffers hold one byte a sample; wider samples, or a window
  // that is empty, are no picture this reader can show.
  if (p.Width == 0 || p.BitsPerSample != 8) RaiseInvalidGraphicFmt(GraphicStrings::SInvalidImage, {FormatName});
  const bool alpha = p.ColorScheme == ckRGBA;
  // Rows are converted from three planes, or four with a matte; a channel
  // count that says otherwise (two mattes, one colour channel) would have
  // the bitmap's pixels narrower than what is written into them.
  if ((p.ColorScheme == ckRGB || alpha) && p.SamplesPerPixel != (alpha ? 4 : 3))
    throw EColorConversionError(GraphicColorStrings::SInvalidSampleCount);
  CheckImageSize(FormatName, alpha ? pl32Bit : pl24Bit);
  StartProgress(static_cast<int32_t>(p.Width), GraphicStrings::STransfering);

  TColorManager& cm = ColorManager;
  cm.SourceFlags = 0;
  cm.TargetFlags = 0;
  cm.SetSourceSamplesPerPixel(p.SamplesPerPixel);
  cm.SetTargetSamplesPerPixel(p.SamplesPerPixel);
  cm.SetSourceBitsPerSample(p.BitsPerSample);
  cm.SetTargetBitsPerSample(std::min<uint8_t>(p.BitsPerSample, 8));
  cm.SetSourceScheme(p.ColorScheme);
  cm.SetTargetScheme(alpha ? ckBGRA : ckBGR);
  SetPixelLayout(cm.PixelFormatFor(1));
  // Samples made for a display like ours need no table; without a gamma of
  // its own a picture is taken as made for the screen too.
  if (FDisplayGamma > 0 && FDisplayGamma != ScreenGamma) {
    cm.SetGammaValues(p.Gamma, ScreenGamma);
    cm.TargetFlags |= cvGamma;
    p.Options |= optFileGamma;
  }
  ResizeWidth(static_cast<int32_t>(p.Width));
  ResizeHeight(static_cast<int32_t>(p.Height));

  std::vector<uint8_t> table(size_t{p.Height} * 4);
  stream.ReadExact(table.data(), table.size());
  std::vector<uint8_t> red(p.Width), green(p.Width), blue(p.Width), matte(p.Width);
  const int64_t size = stream.Size();
  for (uint32_t i = 0; i < p.Height; ++i) {
    const int64_t offset = BasePosition + LoadBE32(table.data() + 4 * size_t{i});
    // A row that starts past the end is a file cut short.
    if (offset + 2 > size) throw EReadError(SysConst::SReadError);
    stream.SetPosition(offset);
    const uint32_t y = p.RlaBottomUp ? p.Height - 1 - i : i;
    uint8_t* target = RowPointer(static_cast<int32_t>(y));
    ReadChannel(stream, red);
    ReadChannel(stream, green);
    ReadChannel(stream, blue);
    if (alpha) {
      ReadChannel(stream, matte);
      cm.ConvertRow({red, green, blue, matte}, target, p.Width, 0xFF);
    } else {
      cm.ConvertRow({red, green, blue}, target, p.Width, 0xFF);
    }
    RowDone(i + 1);
  }
  EndProgress();
}

}  // namespace tolvane
