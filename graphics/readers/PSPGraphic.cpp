// The Paint Shop Pro reader: walks the blocks of the file, takes the palette
// block and the first raster layer of the layer bank, decodes the channels
// that make up the picture into planes of the image's size and converts
// them row by row. The channel headers of a layer are walked first, so that
// only the last channel of each kind is decoded, however many the layer
// claims to have.
#include "graphics/readers/PSPGraphic.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "graphics/GraphicCompression.h"
#include "graphics/GraphicStrings.h"
#include "picture/ByteOrder.h"

namespace tolvane {

TOLVANE_DEFINE_FORMAT_CLASS(TPSPGraphic, TFormatGraphic)

namespace {

namespace S = GraphicStrings;

constexpr size_t HeaderSize = 36;
constexpr char Signature[] = "Paint Shop Pro Image File";
constexpr size_t SignatureLength = sizeof Signature - 1;
constexpr size_t AttributesSize = 42;
constexpr size_t LayerInfoSize = 115;
constexpr size_t Version3NameSize = 256;
constexpr uint16_t PaletteBlock = 2;
constexpr uint16_t LayerBankBlock = 3;
constexpr uint16_t LayerBlock = 4;
constexpr uint32_t MaxPaletteEntries = 256;
// Deflated channel data are read in pieces of this size.
constexpr size_t InflateChunk = 65536;

[[noreturn]] void RaisePsp(const char* format) { RaiseInvalidGraphicFmt(format, {S::SFormatPSP}); }
[[noreturn]] void RaiseShortFile() { throw EReadError(SysConst::SReadError); }

void RequireBytes(TStream& stream, uint64_t count) {
  if (count > static_cast<uint64_t>(stream.Remaining())) RaiseShortFile();
}

// Feeds zlib the stored bytes piece by piece (next(count) gives the next
// count of them) until the plane is full or the stream ends; what zlib makes
// before a fault stays in the plane.
template <class TNext> void InflatePieces(size_t stored, uint8_t* plane, size_t unpacked, TNext next) {
  TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
  decoder.BeginDecoding();
  uint8_t* dest = plane;
  uint8_t* const end = dest + unpacked;
  size_t left = stored;
  while (left > 0 && dest < end) {
    const size_t count = std::min(left, InflateChunk);
    const uint8_t* source = next(count);
    left -= count;
    decoder.Decode(source, dest, static_cast<int32_t>(count), static_cast<int32_t>(end - dest));
    const int32_t result = decoder.ZLibResult();
    if (result == Z_STREAM_END || result == Z_BUF_ERROR) break;
    if (result != Z_OK) RaiseCompressionError(S::SLZ77Error);
  }
  decoder.EndDecoding();
}

// Deflate never makes data much larger than they are; a channel that stores
// more than this beside its plane is padded, and is read piece by piece so
// that memory stays bounded by the picture.
size_t WholeChannelLimit(size_t unpacked) { return unpacked + unpacked / 64 + 1024; }

// The plane is zero on entry, and stays zero where the data do not reach.
// A channel of usual size is read whole and inflated at once; when that
// inflater cannot vouch for zlib's answer (damaged data, say), zlib decodes
// the same bytes in the same pieces as it would from the stream.
void InflateChannel(TStream& stream, size_t stored, uint8_t* plane, size_t unpacked) {
  if (stored > WholeChannelLimit(unpacked)) {
    std::vector<uint8_t> chunk(std::min(stored, InflateChunk));
    InflatePieces(stored, plane, unpacked, [&](size_t count) {
      stream.ReadExact(chunk.data(), count);
      return chunk.data();
    });
    return;
  }
  std::vector<uint8_t> packed(stored);
  stream.ReadExact(packed.data(), packed.size());
  if (const auto made = TLZ77Decoder(Z_PARTIAL_FLUSH, false).InflateWhole(packed.data(), stored, plane, unpacked)) {
    std::fill(plane + *made, plane + unpacked, uint8_t{0});
    return;
  }
  std::fill(plane, plane + unpacked, uint8_t{0});
  size_t offset = 0;
  InflatePieces(stored, plane, unpacked, [&](size_t count) {
    offset += count;
    return packed.data() + offset - count;
  });
}

bool SignatureMatches(const uint8_t* text) {
  for (size_t i = 0; i < SignatureLength; ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(static_cast<char>(text[i])) != lower(Signature[i])) return false;
  }
  return true;
}

// The stored resolution as a float; values a float cannot hold count as unknown.
float ResolutionOf(const uint8_t* stored, bool perCentimetre) {
  double value = std::bit_cast<double>(uint64_t{LoadLE32(stored)} | uint64_t{LoadLE32(stored + 4)} << 32);
  if (perCentimetre) value *= 2.54;
  if (!std::isfinite(value) || std::fabs(value) > std::numeric_limits<float>::max()) return 0;
  return static_cast<float>(value);
}

TImageCompression CompressionOf(uint16_t code) {
  switch (code) {
    case 0: return icNone;
    case 1: return icRLE;
    case 2: return icLZ77;
    case 3: return icJPEG;
    default: return icUnknown;
  }
}

}  // namespace

TPSPGraphic::TPSPGraphic() = default;
TPSPGraphic::~TPSPGraphic() = default;

bool TPSPGraphic::ProbeStream(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() <= static_cast<int64_t>(HeaderSize)) return false;
  uint8_t header[HeaderSize];
  const bool psp = stream.Read(header, HeaderSize) == HeaderSize && SignatureMatches(header) &&
                   LoadLE16(header + 32) >= 3;
  stream.SetPosition(start);
  return psp;
}

bool TPSPGraphic::ReadBlockHeader(TStream& stream) {
  if (stream.Position() >= stream.Size()) return false;
  // Version 3 headers carry an initial data length before the block length.
  const size_t size = ImageProperties.Version == 3 ? 14 : 10;
  uint8_t header[14];
  stream.ReadExact(header, size);
  BlockId = header[0];
  BlockType = LoadLE16(header + 4);
  BlockLength = LoadLE32(header + size - 4);
  return true;
}

bool TPSPGraphic::ReadImageInfo(TStream& stream, uint32_t imageIndex) {
  TFormatGraphic::ReadImageInfo(stream, imageIndex);
  stream.SetPosition(BasePosition);
  uint8_t header[HeaderSize];
  const size_t got = stream.Read(header, HeaderSize);
  if (got < SignatureLength || !SignatureMatches(header)) return false;
  if (got < HeaderSize) RaiseShortFile();
  const uint16_t major = LoadLE16(header + 32);
  if (major < 3) return false;
  ImageProperties.Version = major;
  if (!ReadBlockHeader(stream)) RaiseShortFile();
  const int64_t blockEnd = stream.Position() + BlockLength;
  ReadAttributes(stream);
  stream.SetPosition(blockEnd);
  return true;
}

void TPSPGraphic::ReadAttributes(TStream& stream) {
  TImageProperties& p = ImageProperties;
  if (p.Version > 3) stream.ReadLongLE();  // chunk length
  uint8_t a[AttributesSize];
  stream.ReadExact(a, sizeof a);
  p.Width = LoadLE32(a);
  p.Height = LoadLE32(a + 4);
  p.XResolution = p.YResolution = ResolutionOf(a + 8, a[16] == 2);
  p.Compression = CompressionOf(LoadLE16(a + 17));
  const uint16_t depth = LoadLE16(a + 19);
  if (depth == 24) {
    p.BitsPerSample = 8;
    p.SamplesPerPixel = 3;
    p.ColorScheme = ckRGB;
  } else {
    p.BitsPerSample = static_cast<uint8_t>(depth);
    p.SamplesPerPixel = 1;
    p.ColorScheme = a[27] != 0 ? ckGrey : ckIndexed;
  }
  p.BitsPerPixel = static_cast<uint8_t>(p.BitsPerSample * p.SamplesPerPixel);
}

void TPSPGraphic::SetUpColors() {
  const TImageProperties& p = ImageProperties;
  TColorManager& cm = ColorManager;
  cm.SourceFlags = 0;
  cm.TargetFlags = 0;
  cm.SetSourceBitsPerSample(p.BitsPerSample);
  cm.SetTargetBitsPerSample(p.BitsPerSample);
  cm.SetSourceSamplesPerPixel(p.SamplesPerPixel);
  cm.SetTargetSamplesPerPixel(p.SamplesPerPixel);
  cm.SetSourceScheme(p.ColorScheme);
  cm.SetTargetScheme(p.ColorScheme == ckRGB ? ckBGR : p.ColorScheme);
  SetPixelLayout(cm.PixelFormatFor(1));
  // A palette block, if any, replaces it.
  if (p.ColorScheme == ckGrey) AssignPalette(cm.GreyPalette(false));
}

void TPSPGraphic::LoadStream(TStream& stream) {
  TLoadFrame frame(*this, stream);
  if (!ReadImageInfo(stream, 0)) RaisePsp(S::SInvalidImage);
  const TImageProperties& p = ImageProperties;
  const uint8_t bits = p.BitsPerSample;
  if (bits != 1 && bits != 4 && bits != 8) RaisePsp(S::SInvalidColorFormat);
  CheckImageSize(S::SFormatPSP, p.ColorScheme == ckRGB ? pl24Bit : bits == 1 ? pl1Bit : bits == 4 ? pl4Bit : pl8Bit);
  StartProgress(static_cast<int32_t>(p.Width));
  FRowLength = static_cast<uint32_t>(bits == 1 ? (uint64_t{p.Width} + 7) / 8
                                     : bits == 4 ? (uint64_t{p.Width} + 1) / 2
                                                 : p.Width);
  FImageRead = false;
  for (auto& plane : FPlanes) plane = {};
  SetUpColors();
  ResizeWidth(static_cast<int32_t>(p.Width));
  ResizeHeight(static_cast<int32_t>(p.Height));

  // Past the header and the attribute block, which ReadImageInfo has read.
  stream.SetPosition(BasePosition + static_cast<int64_t>(HeaderSize));
  ReadBlockHeader(stream);
  stream.Seek(BlockLength, TSeekOrigin::soCurrent);
  while (ReadBlockHeader(stream)) {
    // Every block moves the position on by at least its header.
    const int64_t blockEnd = stream.Position() + BlockLength;
    if (BlockId != '~') break;
    if (BlockType == PaletteBlock) ReadPalette(stream);
    else if (BlockType == LayerBankBlock && !FImageRead) ReadLayerBank(stream);
    stream.SetPosition(blockEnd);
  }
  EndProgress();
}

void TPSPGraphic::ReadPalette(TStream& stream) {
  if (ImageProperties.Version > 3) stream.ReadLongLE();  // chunk length
  const uint32_t count = stream.ReadLongLE();
  RequireBytes(stream, uint64_t{count} * 4);
  std::vector<uint8_t> entries(size_t{std::min(count, MaxPaletteEntries)} * 4);
  stream.ReadExact(entries.data(), entries.size());
  if (entries.empty()) return;
  AssignPalette(ColorManager.PaletteFromColorMap({entries.data()}, cmInterleaved8x4,
                                                 static_cast<uint32_t>(entries.size() / 4), true));
}

void TPSPGraphic::ReadLayerBank(TStream& stream) {
  while (ReadBlockHeader(stream)) {
    const int64_t layerEnd = stream.Position() + BlockLength;
    // Whatever follows the layers ends the search.
    if (BlockType != LayerBlock) return;
    uint16_t channelCount = 0;
    if (ReadLayerHeader(stream, channelCount)) {
      NextStage(S::SLoadingData);
      ReadChannels(stream, channelCount);
      TransferRows();
      FImageRead = true;
      return;
    }
    stream.SetPosition(layerEnd);
  }
}

// The layer's information and bitmap chunks; true for a raster layer.
bool TPSPGraphic::ReadLayerHeader(TStream& stream, uint16_t& channelCount) {
  uint8_t info[LayerInfoSize];
  if (ImageProperties.Version == 3) {
    stream.Seek(Version3NameSize, TSeekOrigin::soCurrent);
    stream.ReadExact(info, sizeof info);
    stream.ReadWordLE();  // bitmap count
    channelCount = stream.ReadWordLE();
    return info[0] == 0;
  }
  const int64_t infoStart = stream.Position();
  const uint32_t infoLength = stream.ReadLongLE();
  stream.Seek(stream.ReadWordLE(), TSeekOrigin::soCurrent);  // the name
  stream.ReadExact(info, sizeof info);
  stream.SetPosition(infoStart + infoLength);
  const int64_t bitmapStart = stream.Position();
  const uint32_t bitmapLength = stream.ReadLongLE();
  stream.ReadWordLE();  // bitmap count
  channelCount = stream.ReadWordLE();
  stream.SetPosition(bitmapStart + bitmapLength);
  return info[0] < 2;
}

void TPSPGraphic::ReadChannels(TStream& stream, uint16_t channelCount) {
  const TImageProperties& p = ImageProperties;
  const bool colour = p.ColorScheme == ckRGB;
  std::array<TChannel, 4> chosen;
  std::array<bool, 4> found{};
  for (uint32_t i = 0; i < channelCount; ++i) {
    if (!ReadBlockHeader(stream)) RaiseShortFile();
    const int64_t channelEnd = stream.Position() + BlockLength;
    if (p.Version > 3) stream.ReadLongLE();  // chunk length
    uint8_t c[12];
    stream.ReadExact(c, sizeof c);
    TChannel channel{stream.Position(), LoadLE32(c), LoadLE32(c + 4)};
    const uint16_t type = LoadLE16(c + 10);
    // A later channel replaces an earlier one of its kind, except that the
    // first composite of a grey or indexed layer is its picture and a later
    // one its transparency.
    if (type < 4 && (colour || type != 0 || !found[0])) {
      chosen[type] = channel;
      found[type] = true;
    }
    // Past the header and the data, whatever the block length says.
    stream.SetPosition(std::max(channelEnd, channel.DataStart + int64_t{channel.CompressedLength}));
  }
  const bool alpha = colour && channelCount > 3;
  if (alpha) {
    // The transparency plane becomes the bitmap's alpha.
    CheckImageSize(S::SFormatPSP, pl32Bit);
    ColorManager.SetSourceScheme(ckRGBA);
    ColorManager.SetSourceSamplesPerPixel(4);
    ColorManager.SetTargetScheme(ckBGRA);
    ColorManager.SetTargetSamplesPerPixel(4);
    SetPixelLayout(pl32Bit);
  }
  for (size_t type = 0; type < 4; ++type) {
    const bool used = type == 0 ? (!colour || alpha) : colour;
    if (found[type] && used) ReadChannel(stream, chosen[type], FPlanes[type]);
  }
}

void TPSPGraphic::ReadChannel(TStream& stream, const TChannel& channel, std::vector<uint8_t>& plane) {
  plane.assign(size_t{FRowLength} * ImageProperties.Height, 0);
  stream.SetPosition(channel.DataStart);
  RequireBytes(stream, channel.CompressedLength);
  DecodeChannel(stream, channel, plane);
}

void TPSPGraphic::DecodeChannel(TStream& stream, const TChannel& channel, std::vector<uint8_t>& plane) {
  // What the channel holds beyond the picture's planes is not needed.
  const size_t unpacked = std::min<size_t>(channel.UncompressedLength, plane.size());
  const size_t stored = channel.CompressedLength;
  switch (ImageProperties.Compression) {
    case icNone: stream.ReadExact(plane.data(), std::min(stored, unpacked)); break;
    case icRLE: {
      // Run-length codes never need more than two bytes per byte they make;
      // anything beyond is not read.
      std::vector<uint8_t> packed(std::min(stored, 2 * unpacked + 256));
      stream.ReadExact(packed.data(), packed.size());
      TPSPRLEDecoder decoder;
      const uint8_t* source = packed.data();
      uint8_t* dest = plane.data();
      decoder.Decode(source, dest, static_cast<int32_t>(packed.size()), static_cast<int32_t>(unpacked));
      break;
    }
    case icLZ77: InflateChannel(stream, stored, plane.data(), unpacked); break;
    default: RaiseInvalidGraphicFmt(S::SUnsupportedFeature, {S::SCompressionScheme, S::SFormatPSP});
  }
}

void TPSPGraphic::TransferRows() {
  const TImageProperties& p = ImageProperties;
  NextStage(S::STransfering);
  // A channel the layer lacks reads as zeros.
  const std::vector<uint8_t> zeros(FRowLength);
  const bool colour = p.ColorScheme == ckRGB;
  for (uint32_t y = 0; y < p.Height; ++y) {
    auto row = [&](size_t type) {
      return FPlanes[type].empty() ? TRowPlane(zeros) : TRowPlane(FPlanes[type]).subspan(size_t{y} * FRowLength, FRowLength);
    };
    uint8_t* target = RowPointer(static_cast<int32_t>(y));
    if (colour) ColorManager.ConvertRow({row(1), row(2), row(3), row(0)}, target, p.Width, 0xFF);
    else ColorManager.ConvertRow(row(0), target, p.Width, 0xFF);
    RowDone(y + 1);
  }
}

void TPSPGraphic::FreeLoadState() {
  for (auto& plane : FPlanes) plane = {};
}

}  // namespace tolvane
