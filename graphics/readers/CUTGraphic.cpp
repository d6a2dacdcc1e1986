// The Dr. Halo CUT reader: a tiny header, rows coded for the CUT run-length
// decoder one after the other, and the colours in a palette file beside the
// picture.
#include "graphics/readers/CUTGraphic.h"

#include <algorithm>
#include <limits>
#include <sys/stat.h>

#include "graphics/GraphicCompression.h"
#include "graphics/GraphicStrings.h"
#include "picture/ByteOrder.h"

namespace tolvane {

TOLVANE_DEFINE_FORMAT_CLASS(TCUTGraphic, TFormatGraphic)

namespace {

constexpr const char* FormatName = "CUT";
constexpr size_t HeaderSize = 6;
constexpr size_t PaletteBlockSize = 512;
constexpr size_t PaletteCountOffset = 12;
constexpr size_t PaletteFirstEntry = 40;
constexpr size_t PaletteEntrySize = 6;
// An entry starting beyond this offset of its block would cross the block's
// end; it starts the next block instead.
constexpr size_t PaletteLastEntryStart = 506;

bool IsRegularFile(const std::string& name) {
  struct stat st;
  return !name.empty() && ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The most packed bytes a row of width pixels takes when every code yields
// a single pixel (a run of one costs two bytes, as does a literal of one):
// its stored length, two bytes a pixel and the row's closing 0. The reader
// reads no more than this per row, so a file padded with junk costs what the
// picture costs.
uint64_t MaxPackedRow(uint32_t width) { return 2 + 2 * uint64_t{width} + 1; }

}  // namespace

void TCUTGraphic::LoadFile(const std::string& fileName) {
  const std::string ext = ExtractFileExt(fileName);
  const std::string stem = fileName.substr(0, fileName.size() - ext.size());
  // Pictures copied from old systems often carry their palette in capitals.
  PaletteFileName = stem + ".pal";
  if (!IsRegularFile(PaletteFileName) && IsRegularFile(stem + ".PAL")) PaletteFileName = stem + ".PAL";
  TFormatGraphic::LoadFile(fileName);
}

bool TCUTGraphic::ProbeStream(TStream&) { return false; }

bool TCUTGraphic::ReadImageInfo(TStream& stream, uint32_t imageIndex) {
  TFormatGraphic::ReadImageInfo(stream, imageIndex);
  SetPixelLayout(pl8Bit);
  uint8_t header[4];
  stream.ReadExact(header, sizeof header);
  TImageProperties& p = ImageProperties;
  p.Width = LoadLE16(header);
  p.Height = LoadLE16(header + 2);
  p.ColorScheme = ckIndexed;
  p.BitsPerSample = 8;
  p.SamplesPerPixel = 1;
  p.BitsPerPixel = 8;
  p.Compression = icRLE;
  return true;
}

void TCUTGraphic::LoadPalette() {
  std::vector<TPaletteEntry> entries;
  if (!IsRegularFile(PaletteFileName)) {
    for (int i = 0; i < 256; ++i) {
      const auto v = static_cast<uint8_t>(i);
      entries.push_back({v, v, v, 0});
    }
    AssignPalette(CreatePalette(std::move(entries)));
    return;
  }
  TFileStream file(PaletteFileName, fmOpenRead | fmShareDenyNone);
  std::vector<uint8_t> block(PaletteBlockSize);
  file.ReadExact(block.data(), block.size());
  // Counted in 32 bits: the largest stored count still means a full palette.
  const uint32_t count = std::min<uint32_t>(uint32_t{LoadLE16(block.data() + PaletteCountOffset)} + 1, 256);
  size_t offset = PaletteFirstEntry;
  for (uint32_t i = 0; i < count; ++i) {
    if (offset > PaletteLastEntryStart) {
      file.ReadExact(block.data(), block.size());
      offset = 0;
    }
    const uint8_t* e = block.data() + offset;
    entries.push_back({e[0], e[2], e[4], 0});  // the low byte of each word
    offset += PaletteEntrySize;
  }
  AssignPalette(CreatePalette(std::move(entries)));
}

void TCUTGraphic::LoadStream(TStream& stream) {
  TLoadFrame frame(*this, stream);
  ReadImageInfo(stream, 0);
  CheckImageSize(FormatName, pl8Bit);
  const TImageProperties& p = ImageProperties;
  stream.SetPosition(BasePosition + static_cast<int64_t>(HeaderSize));
  StartProgress(static_cast<int32_t>(p.Width), GraphicStrings::STransfering);
  SetPixelLayout(pl8Bit);
  ResizeWidth(static_cast<int32_t>(p.Width));
  ResizeHeight(static_cast<int32_t>(p.Height));
  LoadPalette();

  const uint64_t wanted = MaxPackedRow(p.Width) * p.Height;
  const auto left = static_cast<uint64_t>(stream.Remaining());
  std::vector<uint8_t> packed(static_cast<size_t>(std::min(wanted, left)));
  stream.ReadExact(packed.data(), packed.size());

  TCUTRLEDecoder decoder;
  const uint8_t* source = packed.data();
  const uint8_t* const end = packed.data() + packed.size();
  for (uint32_t y = 0; y < p.Height; ++y) {
    // Rows that the data never reach keep the cleared bitmap's pixels.
    if (source == end) break;
    uint8_t* row = RowPointer(static_cast<int32_t>(y));
    decoder.Decode(source, row, static_cast<int32_t>(std::min<ptrdiff_t>(end - source, std::numeric_limits<int32_t>::max())),
                   static_cast<int32_t>(p.Width));
    RowDone(y + 1);
  }
  EndProgress();
}

}  // namespace tolvane
