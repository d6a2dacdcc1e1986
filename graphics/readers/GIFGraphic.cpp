// The GIF reader: finds the first image behind the extensions, gathers its
// LZW data from the sub-blocks, decodes the whole image at once and copies
// the index rows into the bitmap, undoing the interlace.
#include "graphics/readers/GIFGraphic.h"

#include <algorithm>
#include <cstring>

#include "graphics/GraphicCompression.h"
#include "graphics/GraphicStrings.h"
#include "picture/ByteOrder.h"

namespace tolvane {

TOLVANE_DEFINE_FORMAT_CLASS(TGIFGraphic, TFormatGraphic)

namespace {

namespace S = GraphicStrings;

constexpr uint8_t ExtensionIntroducer = 0x21;  // '!'
constexpr uint8_t ImageSeparator = 0x2C;       // ','
constexpr uint8_t Trailer = 0x3B;              // ';'
constexpr size_t HeaderSize = 6;
constexpr size_t ScreenDescriptorSize = 7;
constexpr size_t ImageDescriptorSize = 9;
constexpr uint8_t ColorTableFlag = 0x80;
constexpr uint8_t InterlaceFlag = 0x40;

// Entries of a colour table whose size field (flags bits 0-2) is n.
uint32_t TableEntries(uint8_t flags) { return 2u << (flags & 7); }

// Steps over count bytes that must all be there.
void SkipExact(TStream& stream, int64_t count) {
  if (stream.Remaining() < count) throw EReadError(SysConst::SReadError);
  stream.Seek(count, TSeekOrigin::soCurrent);
}

bool EndsStrayBytes(uint8_t b) { return b == ExtensionIntroducer || b == ImageSeparator || b == Trailer; }

// Walks the bytes from a stream's position a block at a time, so that
// passing over millions of tiny extensions costs what reading them once
// costs. Finish leaves the stream just after the last byte taken; a file
// that ends before a byte that must be there raises EReadError.
class TBlockWalker {
public:
  explicit TBlockWalker(TStream& stream) : FStream(stream), FBlockStart(stream.Position()), FBlock(BlockSize) {}

  uint8_t Next() {
    if (FAt == FEnd) NextBlock();
    return FBlock[FAt++];
  }

  // Steps over count bytes that must all be there.
  void Skip(size_t count) {
    if (count <= FEnd - FAt) {
      FAt += count;
      return;
    }
    // The stream stands at the end of the block.
    const int64_t beyond = static_cast<int64_t>(count - (FEnd - FAt));
    if (FStream.Remaining() < beyond) RaiseShortFile();
    FStream.Seek(beyond, TSeekOrigin::soCurrent);
    FBlockStart += static_cast<int64_t>(FEnd) + beyond;
    FAt = FEnd = 0;
  }

  // Passes over bytes up to the next one that may start a block, which is
  // left to be taken.
  void SkipStrayBytes() {
    for (;;) {
      const auto found = std::find_if(FBlock.begin() + static_cast<ptrdiff_t>(FAt),
                                      FBlock.begin() + static_cast<ptrdiff_t>(FEnd), EndsStrayBytes);
      FAt = static_cast<size_t>(found - FBlock.begin());
      if (FAt < FEnd) return;
      NextBlock();
    }
  }

  void Finish() { FStream.SetPosition(FBlockStart + static_cast<int64_t>(FAt)); }

private:
  static constexpr size_t BlockSize = size_t{64} << 10;

  [[noreturn]] static void RaiseShortFile() { throw EReadError(SysConst::SReadError); }

  void NextBlock() {
    FBlockStart += static_cast<int64_t>(FEnd);
    FAt = 0;
    FEnd = FStream.Read(FBlock.data(), FBlock.size());
    if (FEnd == 0) RaiseShortFile();
  }

  TStream& FStream;
  int64_t FBlockStart;  // the stream offset of FBlock[0]
  std::vector<uint8_t> FBlock;
  size_t FAt = 0, FEnd = 0;
};

bool IsGifSignature(const uint8_t* header) {
  return UpperCase(std::string_view(reinterpret_cast<const char*>(header), 3)) == "GIF";
}

// The LZW data of a picture never need more than this: even an encoder that
// sends a clear code before every 12-bit code spends three bytes a pixel.
// Anything beyond is padding that must not cost memory.
uint64_t PackedLimit(uint64_t pixels) { return 3 * pixels + 4096; }

// Interlaced rows come in four passes: (first row, step).
constexpr uint32_t InterlacePasses[4][2] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};

}  // namespace

bool TGIFGraphic::ProbeStream(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() <= 22) return false;
  uint8_t header[HeaderSize];
  const bool gif = stream.Read(header, sizeof header) == sizeof header && IsGifSignature(header);
  stream.SetPosition(start);
  return gif;
}

uint8_t TGIFGraphic::SkipExtensions() {
  TBlockWalker bytes(*SourceStream);
  for (;;) {
    const uint8_t b = bytes.Next();
    if (b == ImageSeparator || b == Trailer) {
      bytes.Finish();
      return b;
    }
    if (b != ExtensionIntroducer) {
      bytes.SkipStrayBytes();
      continue;
    }
    // Every extension, whatever its label, is a label byte followed by
    // sub-blocks up to an empty one; its data may hold any byte,
    // separators included.
    bytes.Next();
    for (uint8_t length = bytes.Next(); length != 0; length = bytes.Next()) bytes.Skip(length);
  }
}

bool TGIFGraphic::ReadImageInfo(TStream& stream, uint32_t imageIndex) {
  TFormatGraphic::ReadImageInfo(stream, imageIndex);
  TStream* const previous = SourceStream;
  SourceStream = &stream;
  struct TRestore {
    TGIFGraphic& Self;
    TStream* Previous;
    ~TRestore() { Self.SourceStream = Previous; }
  } restore{*this, previous};

  stream.SetPosition(BasePosition);
  uint8_t header[HeaderSize];
  stream.ReadExact(header, sizeof header);
  if (!IsGifSignature(header)) return false;
  TImageProperties& p = ImageProperties;
  p.Version = static_cast<uint32_t>(StrToInt(std::string_view(reinterpret_cast<const char*>(header + 3), 2)));
  p.ColorScheme = ckIndexed;
  p.SamplesPerPixel = 1;
  p.BitsPerSample = 8;
  p.Compression = icLZW;

  uint8_t screen[ScreenDescriptorSize];
  stream.ReadExact(screen, sizeof screen);
  const uint16_t screenWidth = LoadLE16(screen), screenHeight = LoadLE16(screen + 2);
  if (screen[4] & ColorTableFlag) {
    p.BitsPerSample = static_cast<uint8_t>((screen[4] & 7) + 1);
    SkipExact(stream, int64_t{3} * TableEntries(screen[4]));
  }
  FFirstBlock = SkipExtensions();
  FAfterExtensions = stream.Position();
  if (FFirstBlock == ImageSeparator) {
    uint8_t descriptor[ImageDescriptorSize];
    stream.ReadExact(descriptor, sizeof descriptor);
    const uint16_t width = LoadLE16(descriptor + 4), height = LoadLE16(descriptor + 6);
    p.Width = width != 0 ? width : screenWidth;
    p.Height = height != 0 ? height : screenHeight;
    p.GifLocalColorTable = (descriptor[8] & ColorTableFlag) != 0;
    p.Interlaced = (descriptor[8] & InterlaceFlag) != 0;
    if (p.GifLocalColorTable) p.BitsPerSample = static_cast<uint8_t>((descriptor[8] & 7) + 1);
  }
  p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
  return true;
}

// A colour table of the size that flags give, as the bitmap's palette. The
// palette always has 256 entries, so that indices past a small table draw
// black rather than whatever an earlier picture left.
void TGIFGraphic::ReadColorTable(TStream& stream, uint8_t flags) {
  std::vector<TPaletteEntry> entries(256);
  const uint32_t count = TableEntries(flags);
  uint8_t table[3 * 256];
  stream.ReadExact(table, 3 * size_t{count});
  for (uint32_t i = 0; i < count; ++i) {
    entries[i].peRed = table[3 * i];
    entries[i].peGreen = table[3 * i + 1];
    entries[i].peBlue = table[3 * i + 2];
  }
  AssignPalette(CreatePalette(std::move(entries)));
}

void TGIFGraphic::LoadStream(TStream& stream) {
  TLoadFrame frame(*this, stream);
  if (!ReadImageInfo(stream, 0)) RaiseInvalidGraphicFmt(S::SInvalidImage, {S::SFormatGIF});
  const TImageProperties& p = ImageProperties;
  CheckImageSize(S::SFormatGIF, pl8Bit);
  stream.SetPosition(BasePosition);
  StartProgress(static_cast<int32_t>(p.Width));
  SetTransparency(false);
  SetTransparentKey(clDefault);

  SkipExact(stream, HeaderSize);
  SetPixelLayout(pl8Bit);
  uint8_t screen[ScreenDescriptorSize];
  stream.ReadExact(screen, sizeof screen);
  if (screen[4] & ColorTableFlag) ReadColorTable(stream, screen[4]);
  else AssignPalette(CreatePalette(std::vector<TPaletteEntry>(256)));

  // ReadImageInfo has walked over the extensions already.
  stream.SetPosition(FAfterExtensions);
  if (FFirstBlock == Trailer) {
    EndProgress();  // no image: an empty bitmap with the global palette
    return;
  }
  NextStage(S::SLoadingData);
  uint8_t descriptor[ImageDescriptorSize];
  stream.ReadExact(descriptor, sizeof descriptor);
  ResizeWidth(static_cast<int32_t>(p.Width));
  ResizeHeight(static_cast<int32_t>(p.Height));
  if (descriptor[8] & ColorTableFlag) ReadColorTable(stream, descriptor[8]);

  ReadImageData(stream);
  NextStage(S::STransfering);
  TransferRows();
  EndProgress();
}

// Gathers the sub-blocks' data and decodes them. Data cut short are no
// error: what was gathered is decoded, and pixels it never reaches keep
// index 0.
void TGIFGraphic::ReadImageData(TStream& stream) {
  const TImageProperties& p = ImageProperties;
  const uint8_t codeSize = stream.ReadByte();
  const uint64_t pixels = uint64_t{p.Width} * p.Height;
  const uint64_t limit = PackedLimit(pixels);
  FPacked.clear();
  for (;;) {
    uint8_t length = 0;
    if (stream.Read(&length, 1) != 1 || length == 0) break;
    const size_t old = FPacked.size();
    const size_t take = static_cast<size_t>(std::min<uint64_t>(length, limit - old));
    FPacked.resize(old + take);
    const size_t got = stream.Read(FPacked.data() + old, take);
    FPacked.resize(old + got);
    if (got < take || FPacked.size() >= limit) break;
  }
  FIndices.assign(static_cast<size_t>(pixels), 0);
  if (pixels == 0 || FPacked.empty()) return;
  TGIFLZWDecoder decoder(codeSize);
  const uint8_t* source = FPacked.data();
  uint8_t* dest = FIndices.data();
  decoder.Decode(source, dest, static_cast<int32_t>(FPacked.size()), static_cast<int32_t>(pixels));
}

void TGIFGraphic::TransferRows() {
  const TImageProperties& p = ImageProperties;
  const size_t width = p.Width;
  const uint32_t height = p.Height;
  if (width == 0) return;
  const uint8_t* row = FIndices.data();
  if (!p.Interlaced) {
    for (uint32_t y = 0; y < height; ++y, row += width) {
      std::memcpy(RowPointer(static_cast<int32_t>(y)), row, width);
      RowDone(y);
    }
    return;
  }
  for (size_t pass = 0; pass < 4; ++pass) {
    const auto [first, step] = std::pair{InterlacePasses[pass][0], InterlacePasses[pass][1]};
    for (uint32_t y = first; y < height; y += step, row += width) {
      std::memcpy(RowPointer(static_cast<int32_t>(y)), row, width);
      // Progress follows the last pass, which fills every other row; the
      // count is held to the height so the percentage never passes 100.
      if (pass == 3) RowDone(std::min(y + 2, height));
    }
  }
}

void TGIFGraphic::FreeLoadState() {
  FPacked = {};
  FIndices = {};
}

}  // namespace tolvane
