#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

#include "picture/ByteOrder.h"
#include "picture/Jpeg.h"
#include "support/JpegEncode.h"

using namespace tolvane;

namespace {

// A small JPEG made in memory: a gradient, optionally progressive or with
// restart markers, so that the tests need no tool.
std::vector<uint8_t> EncodeJpeg(int width, int height, bool progressive = false, unsigned restartRows = 0) {
  const auto w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  std::vector<uint8_t> pixels(w * h * 3);
  for (size_t y = 0; y < h; ++y)
    for (size_t x = 0; x < w; ++x) {
      uint8_t* p = &pixels[(y * w + x) * 3];
      p[0] = static_cast<uint8_t>(x * 255 / (w * 3) * 3);
      p[1] = static_cast<uint8_t>(y * 255 / h);
      p[2] = static_cast<uint8_t>((x ^ y) * 8);
    }
  return test::EncodeJpeg(pixels, static_cast<uint32_t>(width), static_cast<uint32_t>(height), 3, JCS_RGB,
                          [&](jpeg_compress_struct& info) {
                            jpeg_set_quality(&info, 90, TRUE);
                            if (progressive) jpeg_simple_progression(&info);
                            info.restart_in_rows = static_cast<int>(restartRows);
                          });
}

// Sets the size that the start-of-frame segment declares.
void DeclareSize(std::vector<uint8_t>& jpeg, uint16_t width, uint16_t height) {
  for (size_t i = 2; i + 9 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
      jpeg[i + 5] = static_cast<uint8_t>(height >> 8), jpeg[i + 6] = static_cast<uint8_t>(height);
      jpeg[i + 7] = static_cast<uint8_t>(width >> 8), jpeg[i + 8] = static_cast<uint8_t>(width);
      return;
    }
  FAIL() << "no frame header";
}

}  // namespace

TEST(Jpeg, DeclaredSizeBeyondTheLimitIsRefusedBeforeDecoding) {
  std::vector<uint8_t> jpeg = EncodeJpeg(64, 48);
  DeclareSize(jpeg, 65500, 65500);
  TMemoryStream stream(jpeg);
  TJPEGImage image;
  try {
    image.LoadStream(stream);
    FAIL() << "loaded a picture of 65500 x 65500";
  } catch (const EJPEG& e) {
    EXPECT_EQ(std::string(e.what()), "JPEG error #" + std::to_string(JERR_IMAGE_TOO_BIG));
  }
  EXPECT_TRUE(image.IsBlank());
  // 16384 x 16384 is exactly the pixel limit and loads.
  DeclareSize(jpeg, 16384, 16384);
  TMemoryStream atLimit(jpeg);
  image.LoadStream(atLimit);
  EXPECT_EQ(image.HeaderWidth(), 16384);
}

namespace {

std::vector<uint8_t> Saved(TJPEGImage& image) {
  TMemoryStream out;
  image.SaveStream(out);
  return out.Data();
}

std::vector<uint8_t> Pixels(TJPEGImage& image) {
  image.SetDecodeScale(ScaleHalf);
  const TBitmapImage& decoded = image.DecodedBitmap().Image();
  return {decoded.Bits.begin(), decoded.Bits.end()};
}

}  // namespace

TEST(Jpeg, KeepsTheCompressedDataUpToItsEndMarkerAndNoMore) {
  const std::vector<std::pair<const char*, std::vector<uint8_t>>> files = {
      {"baseline", EncodeJpeg(300, 200)},
      {"progressive", EncodeJpeg(300, 200, true)},
      {"restart markers", EncodeJpeg(300, 200, false, 1)},
  };
  for (const auto& [name, jpeg] : files) {
    TMemoryStream plainStream(jpeg);
    TJPEGImage plain;
    plain.LoadStream(plainStream);
    // Whatever follows the end marker (here more markers and zeros) is not read.
    std::vector<uint8_t> padded = jpeg;
    padded.insert(padded.end(), {0xFF, 0xD8, 0xFF, 0xD9});
    padded.resize(padded.size() + 200000);
    TMemoryStream paddedStream(padded);
    TJPEGImage image;
    image.LoadStream(paddedStream);
    EXPECT_EQ(Saved(image), jpeg) << name;
    EXPECT_LE(paddedStream.Position(), static_cast<int64_t>(jpeg.size() + 65536)) << name;
    EXPECT_EQ(Pixels(image), Pixels(plain)) << name;
  }
  // Data without an end marker is kept as far as the file goes and decodes
  // as a truncated file does.
  std::vector<uint8_t> cut = EncodeJpeg(300, 200, true);
  cut.resize(cut.size() - 2);
  TMemoryStream cutStream(cut);
  TJPEGImage image;
  image.LoadStream(cutStream);
  EXPECT_EQ(Saved(image), cut);
  EXPECT_EQ(image.DecodedBitmap().ImageWidth(), 300);
}

namespace {

// Adds up what loads on this thread charge.
struct TChargeCounter final : TImageMemoryAccount {
  void Charge(uint64_t bytes) override { Total += bytes; }
  uint64_t Total = 0;
};

uint64_t ChargedToDecode(const std::vector<uint8_t>& jpeg) {
  TChargeCounter counter;
  TImageMemoryScope scope(counter);
  TMemoryStream stream(jpeg);
  TJPEGImage image;
  image.LoadStream(stream);
  EXPECT_EQ(counter.Total, 0u);  // the header holds no picture yet
  image.SetDecodeScale(ScaleEighth);
  image.DecodedBitmap();
  return counter.Total;
}

// A comment or application segment of `bytes` data bytes, end markers and
// fill bytes inside it.
std::vector<uint8_t> Segment(uint8_t marker, size_t bytes) {
  std::vector<uint8_t> segment = {0xFF, marker};
  AppendBE16(segment, static_cast<uint16_t>(bytes + 2));
  for (size_t i = 0; i < bytes; ++i) segment.push_back(i % 3 == 2 ? 0xD9 : 0xFF);
  return segment;
}

void InsertAt(std::vector<uint8_t>& jpeg, size_t at, const std::vector<uint8_t>& segment, size_t count) {
  std::vector<uint8_t> run;
  for (size_t c = 0; c < count; ++c) run.insert(run.end(), segment.begin(), segment.end());
  jpeg.insert(jpeg.begin() + static_cast<std::ptrdiff_t>(at), run.begin(), run.end());
}

// The offset of the marker that ends the first scan's data.
size_t EndOfFirstScan(const std::vector<uint8_t>& jpeg) {
  size_t i = 2;
  while (jpeg.at(i) != 0xFF || jpeg.at(i + 1) != 0xDA) ++i;
  i += 2 + (jpeg[i + 2] << 8 | jpeg[i + 3]);
  while (jpeg.at(i) != 0xFF || jpeg.at(i + 1) == 0 || (jpeg[i + 1] & 0xF8) == 0xD0) ++i;
  return i;
}

}  // namespace

TEST(Jpeg, DecodingChargesThePictureAndTheCoefficientsOfEveryScan) {
  // 300 x 200 at one eighth: 38 x 25 pixels, charged at 4 bytes each.
  const uint64_t picture = 38 * 4 * 25;
  EXPECT_EQ(ChargedToDecode(EncodeJpeg(300, 200)), picture);
  // Progressive: libjpeg keeps every coefficient at full size, in units of
  // 2 x 2 blocks for Y (38 x 26 blocks) and one block for Cb and Cr (19 x 13
  // each), 128 bytes a block.
  EXPECT_EQ(ChargedToDecode(EncodeJpeg(300, 200, true)), picture + (38 * 26 + 2 * 19 * 13) * 128);
}

// Comments and application data that decoding skips are not kept, however
// much of them a file holds: 20 MiB of them before the frame and between
// scans load like the plain file.
TEST(Jpeg, SegmentsThatDecodingSkipsAreNotKept) {
  const std::vector<uint8_t> plain = EncodeJpeg(300, 200, true);
  std::vector<uint8_t> jpeg = plain;
  const std::vector<uint8_t> comment = Segment(0xFE, 65533), exif = Segment(0xE1, 65533);
  // After a scan's data the first marker stays (a damaged scan would end
  // there); the ones after it go.
  InsertAt(jpeg, EndOfFirstScan(jpeg), comment, 1);
  InsertAt(jpeg, EndOfFirstScan(jpeg), Segment(0xFE, 10), 1);
  const size_t afterJfif = 20;
  InsertAt(jpeg, afterJfif, exif, 160);
  InsertAt(jpeg, afterJfif, comment, 160);
  ASSERT_GT(jpeg.size(), size_t{20} << 20);
  TMemoryStream stream(jpeg);
  TJPEGImage image;
  image.LoadStream(stream);
  TMemoryStream plainStream(plain);
  TJPEGImage plainImage;
  plainImage.LoadStream(plainStream);
  std::vector<uint8_t> expected = plain;
  InsertAt(expected, EndOfFirstScan(expected), Segment(0xFE, 10), 1);
  EXPECT_EQ(Saved(image), expected);
  EXPECT_EQ(Pixels(image), Pixels(plainImage));

  // The JFIF and Adobe segments say how the colours were stored: they stay.
  std::vector<uint8_t> adobe = plain;
  const std::vector<uint8_t> app14 = {0xFF, 0xEE, 0x00, 0x0E, 'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, 1};
  InsertAt(adobe, afterJfif, app14, 1);
  TMemoryStream adobeStream(adobe);
  image.LoadStream(adobeStream);
  EXPECT_EQ(Saved(image), adobe);
}
