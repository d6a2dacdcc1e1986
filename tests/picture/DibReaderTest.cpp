#include <gtest/gtest.h>
#include <sys/resource.h>

#include <random>

#include "picture/ByteOrder.h"
#include "picture/DibReader.h"

using namespace tolvane;

namespace {

std::vector<uint8_t> InfoHeader(uint32_t size, int32_t w, int32_t h, uint16_t bpp, uint32_t compression,
                                uint32_t colours = 0) {
  std::vector<uint8_t> out;
  AppendLE32(out, size);
  AppendLE32(out, static_cast<uint32_t>(w));
  AppendLE32(out, static_cast<uint32_t>(h));
  AppendLE16(out, 1);
  AppendLE16(out, bpp);
  AppendLE32(out, compression);
  for (int i = 0; i < 3; ++i) AppendLE32(out, 0);
  AppendLE32(out, colours);
  AppendLE32(out, 0);
  out.resize(size);
  return out;
}

void Append(std::vector<uint8_t>& out, std::initializer_list<uint8_t> bytes) { out.insert(out.end(), bytes); }

std::shared_ptr<TBitmapImage> Read(const std::vector<uint8_t>& dib, TDibKind kind = TDibKind::dkBitmap) {
  TMemoryStream stream(dib);
  TDibReader reader(stream, dib.size(), kind, "bad");
  return reader.ReadImage();
}

// The run-length expansion written the plain way, a pixel at a time: what the
// span writes must give byte for byte.
std::vector<uint8_t> ExpandByPixels(const std::vector<uint8_t>& in, int64_t w, int64_t h, bool rle4) {
  const size_t rowSize = RowSizeOf(w, rle4 ? 4 : 8);
  std::vector<uint8_t> bits(rowSize * static_cast<size_t>(h), 0);
  int64_t x = 0, y = 0;
  auto put = [&](uint8_t v) {
    if (x < w && y < h) {
      uint8_t* row = bits.data() + static_cast<size_t>(y) * rowSize;
      if (!rle4) row[x] = v;
      else if (x & 1) row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & 0xF0) | (v & 15));
      else row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & 0x0F) | v << 4);
    }
    ++x;
  };
  size_t i = 0;
  const size_t n = in.size();
  while (i + 1 < n && y < h) {
    uint8_t count = in[i], value = in[i + 1];
    i += 2;
    if (count) {
      for (int k = 0; k < count && x < w; ++k) put(rle4 ? ((k & 1) ? value & 15 : value >> 4) : value);
    } else if (value == 0) {
      x = 0, ++y;
    } else if (value == 1) {
      break;
    } else if (value == 2) {
      if (i + 1 >= n) break;
      x += in[i], y += in[i + 1];
      i += 2;
    } else {
      size_t bytes = rle4 ? (value + 1u) / 2 : value, avail = std::min(bytes, n - i);
      for (size_t k = 0; k < value; ++k) {
        size_t at = rle4 ? k / 2 : k;
        if (at >= avail) break;
        put(rle4 ? ((k & 1) ? in[i + at] & 15 : in[i + at] >> 4) : in[i + at]);
      }
      i += (bytes + 1) & ~size_t{1};
    }
  }
  return bits;
}

std::vector<uint8_t> RandomRunLength(std::mt19937& rng, bool rle4) {
  auto r = [&](int lo, int hi) { return static_cast<uint8_t>(std::uniform_int_distribution<int>(lo, hi)(rng)); };
  std::vector<uint8_t> out;
  for (int op = r(0, 60); op > 0; --op) {
    int kind = r(0, 99);
    if (kind < 45) {
      Append(out, {r(0, 4) ? r(1, 20) : r(1, 255), r(0, 255)});
    } else if (kind < 55) {
      Append(out, {0, 0});
    } else if (kind < 62) {
      Append(out, {0, 2, r(0, 10), r(0, 2)});
    } else if (kind < 64) {
      Append(out, {0, 1});
    } else {
      uint8_t pixels = r(3, r(0, 9) ? 40 : 255);
      size_t stored = rle4 ? (pixels + 1u) / 2 : pixels;
      Append(out, {0, pixels});
      for (size_t k = 0; k < ((stored + 1) & ~size_t{1}); ++k) out.push_back(r(0, 255));
    }
  }
  if (r(0, 2) == 0) out.resize(std::uniform_int_distribution<size_t>(0, out.size())(rng));
  return out;
}

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

TEST(DibReader, EveryHeaderSizeAndItsColourTableOrMasks) {
  // Core header: 16-bit sizes and a colour table of 3-byte entries.
  std::vector<uint8_t> core;
  AppendLE32(core, 12), AppendLE16(core, 2), AppendLE16(core, 1), AppendLE16(core, 1), AppendLE16(core, 8);
  Append(core, {1, 2, 3});  // entry 0 as blue, green, red
  core.resize(12 + 256 * 3);
  Append(core, {0, 0, 0, 0});
  auto image = Read(core);
  EXPECT_EQ(image->Layout, pl8Bit);
  EXPECT_EQ(image->Palette->Entries[0].peRed, 3);
  EXPECT_EQ(image->Palette->Entries[0].peBlue, 1);

  // A 124-byte header holds its masks; a 40-byte one is followed by them.
  for (uint32_t size : {124u, 40u}) {
    std::vector<uint8_t> dib = InfoHeader(size, 1, 1, 16, BI_BITFIELDS);
    std::vector<uint8_t> masks;
    for (uint32_t m : {0xF800u, 0x07E0u, 0x001Fu}) AppendLE32(masks, m);
    if (size == 124) std::copy(masks.begin(), masks.end(), dib.begin() + 40);
    else dib.insert(dib.end(), masks.begin(), masks.end());
    Append(dib, {0x1F, 0xF8, 0, 0});
    image = Read(dib);
    EXPECT_EQ(image->Layout, pl16Bit) << size;
    EXPECT_EQ(LoadLE16(image->Bits.data()), 0xF81F) << size;
  }

  // Other masks are spread to 0..255; a top-down image lands bottom-up.
  std::vector<uint8_t> odd = InfoHeader(40, 1, -2, 32, BI_BITFIELDS);
  for (uint32_t m : {0xF00u, 0xF0u, 0xFu}) AppendLE32(odd, m);
  Append(odd, {0x0F, 0x0F, 0, 0, 0xF0, 0, 0, 0});  // top: red 15, blue 15; bottom: green 15
  image = Read(odd);
  EXPECT_EQ(image->Layout, pl32Bit);
  EXPECT_EQ(std::vector<uint8_t>(image->Bits.begin(), image->Bits.begin() + 3), (std::vector<uint8_t>{0, 255, 0}));
  EXPECT_EQ(std::vector<uint8_t>(image->Bits.begin() + 4, image->Bits.begin() + 7), (std::vector<uint8_t>{255, 0, 255}));

  // Header sizes between the core and the info header, and a header larger
  // than its budget, are refused.
  EXPECT_THROW(Read(InfoHeader(20, 1, 1, 24, BI_RGB)), EInvalidGraphic);
  std::vector<uint8_t> cut = InfoHeader(124, 1, 1, 24, BI_RGB);
  cut.resize(100);
  EXPECT_THROW(Read(cut), EInvalidGraphic);
}

TEST(DibReader, RunLengthSpansWriteWhatPixelByPixelWould) {
  std::mt19937 rng(15);
  for (int round = 0; round < 400; ++round) {
    const bool rle4 = round & 1;
    const int32_t w = std::uniform_int_distribution<int32_t>(1, 40)(rng);
    const int32_t h = std::uniform_int_distribution<int32_t>(1, 12)(rng);
    std::vector<uint8_t> data = RandomRunLength(rng, rle4);
    std::vector<uint8_t> dib = InfoHeader(40, w, h, rle4 ? 4 : 8, rle4 ? BI_RLE4 : BI_RLE8, 2);
    dib.resize(dib.size() + 8);
    dib.insert(dib.end(), data.begin(), data.end());
    auto image = Read(dib);
    ASSERT_EQ(std::vector<uint8_t>(image->Bits.begin(), image->Bits.end()), ExpandByPixels(data, w, h, rle4))
        << "round " << round;
  }
}

TEST(DibReader, StoredRowsThatCannotFitAreRefusedBeforeTheImageIsAllocated) {
  // 16384 x 16384 at 32 bits is within the size limits but claims 1 GiB.
  std::vector<uint8_t> bmp = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0};
  std::vector<uint8_t> info = InfoHeader(40, 16384, 16384, 32, BI_RGB);
  bmp.insert(bmp.end(), info.begin(), info.end());
  const long before = PeakKilobytes();
  TMemoryStream stream(bmp);
  TBitmap bitmap;
  try {
    bitmap.LoadStream(stream);
    FAIL();
  } catch (const EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), "Bitmap image is not valid");
  }
  EXPECT_LT(PeakKilobytes() - before, 64 * 1024);
}

TEST(DibReader, ReadsOnlyItsBudgetAndIconsTheirMask) {
  // A 2 x 2 icon entry at 8 bits: header, 256 colours, pixels, AND mask.
  std::vector<uint8_t> dib = InfoHeader(40, 2, 4, 8, BI_RGB);
  std::vector<uint8_t> table(256 * 4);
  table[4] = 0xFF;  // colour 1 is blue
  dib.insert(dib.end(), table.begin(), table.end());
  Append(dib, {1, 0, 0, 0, 0, 1, 0, 0});              // bottom row, top row
  Append(dib, {0x40, 0, 0, 0, 0x80, 0, 0, 0});        // mask: bottom right, top left
  const size_t entry = dib.size();
  Append(dib, {0xEE, 0xEE});                          // whatever follows the entry
  TMemoryStream stream(dib);
  TDibReader reader(stream, entry, TDibKind::dkIcon, "icon");
  EXPECT_EQ(reader.Header().Height, 2);
  auto image = reader.ReadImage();
  EXPECT_EQ(image->Bits[0], 1);
  EXPECT_EQ(reader.ReadIconMask(), (std::vector<uint8_t>{1, 0, 0, 1}));
  EXPECT_EQ(reader.Consumed(), entry);
  EXPECT_EQ(stream.Position(), static_cast<int64_t>(entry));

  // Without its mask an 8-bit entry is refused; a 32-bit one is kept.
  TMemoryStream shortStream(dib);
  TDibReader noMask(shortStream, entry - 8, TDibKind::dkIcon, "icon");
  noMask.ReadImage();
  EXPECT_THROW(noMask.ReadIconMask(), EInvalidGraphic);
  std::vector<uint8_t> deep = InfoHeader(40, 1, 2, 32, BI_RGB);
  Append(deep, {1, 2, 3, 4});
  TMemoryStream deepStream(deep);
  TDibReader deepReader(deepStream, deep.size(), TDibKind::dkIcon, "icon");
  deepReader.ReadImage();
  EXPECT_TRUE(deepReader.ReadIconMask().empty());
  // Icons take no compression.
  EXPECT_THROW(Read(InfoHeader(40, 2, 4, 8, BI_RLE8), TDibKind::dkIcon), EInvalidGraphic);
}
