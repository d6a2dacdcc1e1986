// Device-independent bitmaps read through a stream within a byte budget.
#include "DibReader.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "picture/ByteOrder.h"

namespace tolvane {

namespace {

constexpr uint32_t CoreHeaderSize = 12;
constexpr uint32_t InfoHeaderSize = 40;
constexpr uint32_t MaskedHeaderSize = 52;  // info header followed by the three masks
// Larger headers (V4, V5) hold colour-space data we do not use; reading more
// than this of a header would let a header size claim the whole file.
constexpr uint32_t MaxHeaderSize = 1024;

// One channel of bit-field pixels, scaled to 0..255 (an empty mask reads 0).
class TMaskChannel {
public:
  explicit TMaskChannel(uint32_t mask) : FMask(mask) {
    if (!mask) return;
    while (!(mask & 1)) mask >>= 1, ++FShift;
    FMax = mask;
  }
  uint8_t operator()(uint32_t pixel) const {
    if (!FMax) return 0;
    return static_cast<uint8_t>((uint64_t{(pixel & FMask) >> FShift} * 255 + FMax / 2) / FMax);
  }

private:
  uint32_t FMask, FMax = 0;
  int FShift = 0;
};

// Run-length data taken from the stream a buffer at a time, never past the
// bytes that belong to the bitmap.
class TRunSource {
public:
  TRunSource(TStream& stream, uint64_t bytes) : FStream(stream), FLeft(bytes) {}

  // The next n (at most the buffer's size) bytes, or fewer at the end.
  size_t Take(uint8_t* out, size_t n) {
    size_t got = 0;
    while (got < n) {
      if (FPos == FEnd && !Fill()) break;
      size_t k = std::min(n - got, FEnd - FPos);
      std::memcpy(out + got, FBuffer.data() + FPos, k);
      FPos += k, got += k;
    }
    return got;
  }
  bool Take2(uint8_t& a, uint8_t& b) {
    if (FEnd - FPos >= 2) {  // the common case, without a call to Take
      a = FBuffer[FPos], b = FBuffer[FPos + 1];
      FPos += 2;
      return true;
    }
    uint8_t two[2];
    if (Take(two, 2) != 2) return false;
    a = two[0], b = two[1];
    return true;
  }

private:
  bool Fill() {
    if (FLeft == 0) return false;
    size_t want = static_cast<size_t>(std::min<uint64_t>(FLeft, FBuffer.size()));
    size_t got = FStream.Read(FBuffer.data(), want);
    FLeft = got == want ? FLeft - got : 0;
    FPos = 0, FEnd = got;
    return got != 0;
  }

  TStream& FStream;
  uint64_t FLeft;
  std::array<uint8_t, 65536> FBuffer{};
  size_t FPos = 0, FEnd = 0;
};

// A 4-bit row: count pixels from x on, alternating the high and the low
// nibble of value (the first pixel takes the high one). Callers clip count.
void FillNibbles(uint8_t* row, int64_t x, int64_t count, uint8_t value) {
  if (count <= 0) return;
  if (x & 1) {  // the first pixel shares its byte with the pixel before
    row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & 0xF0) | (value >> 4));
    ++x, --count;
    value = static_cast<uint8_t>(value << 4 | value >> 4);
  }
  std::memset(row + (x >> 1), value, static_cast<size_t>(count >> 1));
  if (count & 1) {
    uint8_t& last = row[(x + count) >> 1];
    last = static_cast<uint8_t>((last & 0x0F) | (value & 0xF0));
  }
}

// A 4-bit row: count packed pixels of src (high nibble first) from x on.
void CopyNibbles(uint8_t* row, int64_t x, int64_t count, const uint8_t* src) {
  if (count <= 0) return;
  if (!(x & 1)) {
    std::memcpy(row + (x >> 1), src, static_cast<size_t>(count >> 1));
    if (count & 1) {
      uint8_t& last = row[(x + count) >> 1];
      last = static_cast<uint8_t>((last & 0x0F) | (src[count >> 1] & 0xF0));
    }
    return;
  }
  // Each target byte takes the low nibble of one source byte and the high
  // nibble of the next.
  row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & 0xF0) | (src[0] >> 4));
  uint8_t* d = row + (x >> 1) + 1;
  const int64_t whole = (count - 1) >> 1;
  for (int64_t k = 0; k < whole; ++k) d[k] = static_cast<uint8_t>(src[k] << 4 | src[k + 1] >> 4);
  if ((count - 1) & 1) d[whole] = static_cast<uint8_t>((d[whole] & 0x0F) | (src[whole] << 4));
}

}  // namespace

TDibReader::TDibReader(TStream& stream, uint64_t budget, TDibKind kind, const char* invalidMessage)
    : TDibReader(stream, budget, kind, invalidMessage, true) {}

TDibReader::TDibReader(TStream& stream, uint64_t budget, TDibKind kind, const char* invalidMessage, bool readColours)
    : FStream(stream),
      FBudget(std::min<uint64_t>(budget, static_cast<uint64_t>(stream.Remaining()))),
      FKind(kind),
      FInvalidMessage(invalidMessage) {
  ReadHeader();
  if (readColours) ReadColourTable();
}

std::optional<TDibHeader> TDibReader::PeekHeader(const uint8_t* data, size_t size) {
  TMemoryStream stream(std::vector<uint8_t>(data, data + size));
  try {
    return TDibReader(stream, size, TDibKind::dkBitmap, GraphicsConst::SInvalidBitmap, false).Header();
  } catch (const EInvalidGraphic&) {
    return std::nullopt;
  }
}

uint64_t TDibReader::PixelBytesBound(const TDibHeader& header) {
  const uint64_t width = static_cast<uint64_t>(std::max(header.Width, 0));
  const uint64_t height = static_cast<uint64_t>(std::max(header.Height, 0));
  if (header.Compression == BI_RLE8 || header.Compression == BI_RLE4) return (4 * (width + 8) + 2) * height + 2;
  return RowSizeOf(header.Width, header.BitCount) * height;
}

void TDibReader::Invalid() const { throw EInvalidGraphic(FInvalidMessage); }

void TDibReader::Read(void* buffer, uint64_t count) {
  if (count > Left()) Invalid();
  if (count && FStream.Read(buffer, static_cast<size_t>(count)) != count) Invalid();
  FConsumed += count;
}

void TDibReader::Skip(uint64_t count) {
  if (count > Left()) Invalid();
  FStream.Seek(static_cast<int64_t>(count), TSeekOrigin::soCurrent);
  FConsumed += count;
}

void TDibReader::ReadHeader() {
  uint8_t size[4];
  Read(size, 4);
  TDibHeader& h = FHeader;
  h.Size = LoadLE32(size);
  const bool icon = FKind == TDibKind::dkIcon;
  if (h.Size == CoreHeaderSize && !icon) {
    uint8_t p[CoreHeaderSize];
    Read(p + 4, CoreHeaderSize - 4);
    h.Core = true;
    h.Width = LoadLE16(p + 4);
    h.Height = LoadLE16(p + 6);
    h.BitCount = LoadLE16(p + 10);
  } else if (h.Size >= InfoHeaderSize) {
    // An icon keeps a copy of the bytes its entry was read from, so a header
    // size claiming the rest of the file would make that copy the file.
    if (icon && h.Size > MaxHeaderSize) Invalid();
    std::vector<uint8_t> p(std::min(h.Size, MaxHeaderSize));
    if (h.Size > Left() + 4) Invalid();
    Read(p.data() + 4, p.size() - 4);
    Skip(h.Size - p.size());
    h.Width = LoadLES32(p.data() + 4);
    int32_t height = LoadLES32(p.data() + 8);
    if (height == INT32_MIN) Invalid();
    h.TopDown = height < 0;
    h.Height = height < 0 ? -height : height;
    h.BitCount = LoadLE16(p.data() + 14);
    h.Compression = LoadLE32(p.data() + 16);
    h.SizeImage = LoadLE32(p.data() + 20);
    h.ClrUsed = LoadLE32(p.data() + 32);
    if (h.Size >= MaskedHeaderSize)
      for (size_t i = 0; i < 3; ++i) h.Masks[i] = LoadLE32(p.data() + 40 + 4 * i);
  } else {
    Invalid();
  }

  const int bpp = h.BitCount;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) Invalid();
  if (icon) {
    // The height counts the AND mask's rows too; a top-down icon has none.
    if (h.Width <= 0 || h.TopDown || h.Height < 2 || h.Compression != BI_RGB) Invalid();
    h.Height /= 2;
    if (!ImageSizeAllowed(h.Width, h.Height, 32)) Invalid();
    return;
  }
  if (h.Width <= 0 || h.Height <= 0) Invalid();
  if (!ImageSizeAllowed(h.Width, h.Height, bpp)) Invalid();
  switch (h.Compression) {
    case BI_RGB: break;
    case BI_RLE8: if (bpp != 8 || h.TopDown) Invalid(); break;
    case BI_RLE4: if (bpp != 4 || h.TopDown) Invalid(); break;
    case BI_BITFIELDS: if (bpp != 16 && bpp != 32) Invalid(); break;
    default: Invalid();
  }
  if (h.Compression == BI_BITFIELDS && h.Size < MaskedHeaderSize) {
    uint8_t masks[12];
    Read(masks, sizeof masks);
    for (size_t i = 0; i < 3; ++i) h.Masks[i] = LoadLE32(masks + 4 * i);
  }
}

void TDibReader::ReadColourTable() {
  const TDibHeader& h = FHeader;
  const int bpp = h.BitCount;
  const uint64_t entrySize = h.Core ? 3 : 4;
  uint32_t colours = 0;
  if (bpp <= 8) {
    colours = h.ClrUsed ? h.ClrUsed : 1u << bpp;
    if (colours > (1u << bpp)) Invalid();
  } else if (!h.Core && FKind == TDibKind::dkBitmap) {
    if (h.ClrUsed > 256) Invalid();
    colours = h.ClrUsed;  // present in the file, not used by direct-colour pixels
  }
  std::vector<uint8_t> table(colours * entrySize);
  Read(table.data(), table.size());
  if (bpp > 8) return;
  FColours.resize(colours);
  for (size_t i = 0; i < colours; ++i) {
    const uint8_t* e = table.data() + i * entrySize;
    FColours[i] = TPaletteEntry{e[2], e[1], e[0], 0};
  }
}

std::shared_ptr<TBitmapImage> TDibReader::ReadImage(uint64_t bitsOffset) {
  const TDibHeader& h = FHeader;
  const int bpp = h.BitCount;
  if (bitsOffset > FConsumed) Skip(bitsOffset - FConsumed);

  TPixelLayout layout = bpp == 1 ? pl1Bit : bpp == 4 ? pl4Bit : bpp == 8 ? pl8Bit : bpp == 24 ? pl24Bit : pl32Bit;
  bool direct = true;  // rows can be copied as stored
  if (bpp == 16) {
    if (h.Compression == BI_RGB || (h.Masks[0] == 0x7C00 && h.Masks[1] == 0x03E0 && h.Masks[2] == 0x001F)) {
      layout = pl15Bit;
    } else if (h.Masks[0] == 0xF800 && h.Masks[1] == 0x07E0 && h.Masks[2] == 0x001F) {
      layout = pl16Bit;
    } else {
      layout = pl24Bit;
      direct = false;
    }
  } else if (bpp == 32 && h.Compression == BI_BITFIELDS &&
             !(h.Masks[0] == 0xFF0000 && h.Masks[1] == 0xFF00 && h.Masks[2] == 0xFF)) {
    direct = false;
  }
  const bool rle = h.Compression == BI_RLE8 || h.Compression == BI_RLE4;
  // Stored rows that the bytes left cannot hold are refused before the
  // image is allocated, so a short file cannot make us reserve its claim.
  if (!rle && Left() / RowSizeOf(h.Width, bpp) < static_cast<uint64_t>(h.Height)) Invalid();

  auto image = std::make_shared<TBitmapImage>();
  image->Width = h.Width;
  image->Height = h.Height;
  image->Layout = layout;
  image->RowSize = RowSizeOf(h.Width, BitsPerPixelOf(layout));
  if (bpp <= 8) image->Palette = CreatePalette(FColours);
  image->Bits.assign(image->RowSize * static_cast<size_t>(h.Height), 0);
  if (rle) ReadRunLength(*image, h.Compression == BI_RLE4);
  else ReadUncompressed(*image, direct);
  return image;
}

void TDibReader::ReadUncompressed(TBitmapImage& image, bool direct) {
  const TDibHeader& h = FHeader;
  const int bpp = h.BitCount;
  const size_t fileRow = RowSizeOf(h.Width, bpp);
  const size_t rows = static_cast<size_t>(h.Height);
  if (direct && !h.TopDown) {  // the file's rows are the memory's rows
    Read(image.Bits.data(), fileRow * rows);
    return;
  }
  const TMaskChannel red(h.Masks[0]), green(h.Masks[1]), blue(h.Masks[2]);
  std::vector<uint8_t> src(fileRow);
  for (size_t r = 0; r < rows; ++r) {
    // r counts stored rows; memory is bottom-up like an ordinary file.
    size_t memRow = h.TopDown ? rows - 1 - r : r;
    uint8_t* dst = image.Bits.data() + memRow * image.RowSize;
    if (direct) {
      Read(dst, fileRow);
      continue;
    }
    Read(src.data(), fileRow);
    const size_t step = bpp == 16 ? 3 : 4;
    for (size_t x = 0; x < static_cast<size_t>(h.Width); ++x) {
      uint32_t px = bpp == 16 ? LoadLE16(src.data() + 2 * x) : LoadLE32(src.data() + 4 * x);
      uint8_t* d = dst + x * step;
      d[0] = blue(px);
      d[1] = green(px);
      d[2] = red(px);
    }
  }
}

// Expands 4- and 8-bit run-length data into the zeroed image. Runs and
// deltas that leave the image are clipped; reading stops at the end of the
// bitmap, at its last row or where its bytes end. Runs and absolute runs go
// into the row a span at a time.
void TDibReader::ReadRunLength(TBitmapImage& image, bool rle4) {
  const uint64_t bytes = Left();
  TRunSource in(FStream, bytes);
  FConsumed = FBudget;  // whatever the decoder leaves unread is not the DIB's
  int64_t x = 0, y = 0;  // y counts rows from the bottom, as the data does
  const int64_t w = image.Width, h = image.Height;
  uint8_t absolute[256];
  uint8_t count = 0, value = 0;
  while (y < h && in.Take2(count, value)) {
    uint8_t* row = image.Bits.data() + static_cast<size_t>(y) * image.RowSize;
    if (count) {
      const int64_t n = x < w ? std::min<int64_t>(count, w - x) : 0;
      if (rle4) FillNibbles(row, x, n, value);
      else if (n == 1) row[x] = value;  // the commonest run in dithered pictures, without a call
      else if (n > 0) std::memset(row + x, value, static_cast<size_t>(n));
      x += n;
      continue;
    }
    if (value == 0) {  // end of line
      x = 0, ++y;
    } else if (value == 1) {  // end of bitmap
      break;
    } else if (value == 2) {  // delta
      uint8_t dx = 0, dy = 0;
      if (!in.Take2(dx, dy)) break;
      x += dx, y += dy;
    } else {  // absolute run of value pixels, padded to a word
      const size_t stored = rle4 ? (value + 1u) / 2 : value;
      const size_t got = in.Take(absolute, (stored + 1) & ~size_t{1});
      // Pixels whose bytes are missing at the end of the data are not written.
      int64_t pixels = std::min<int64_t>(value, static_cast<int64_t>(rle4 ? 2 * std::min(got, stored) : std::min(got, stored)));
      const int64_t n = x < w ? std::min<int64_t>(pixels, w - x) : 0;
      if (rle4) CopyNibbles(row, x, n, absolute);
      else if (n > 0) std::memcpy(row + x, absolute, static_cast<size_t>(n));
      x += value;
    }
  }
}

std::vector<uint8_t> TDibReader::ReadIconMask() {
  const size_t width = static_cast<size_t>(FHeader.Width), height = static_cast<size_t>(FHeader.Height);
  const size_t andRow = RowSizeOf(FHeader.Width, 1);
  if (Left() / andRow < height) {
    if (FHeader.BitCount != 32) Invalid();
    return {};
  }
  std::vector<uint8_t> mask(width * height);
  std::vector<uint8_t> row(andRow);
  for (size_t r = 0; r < height; ++r) {  // stored bottom-up
    Read(row.data(), andRow);
    uint8_t* m = mask.data() + (height - 1 - r) * width;
    for (size_t x = 0; x < width; ++x) m[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
  }
  return mask;
}

}  // namespace tolvane
