#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

#include "picture/Jpeg.h"

using namespace tolvane;

namespace {

// A small JPEG made in memory: a gradient, optionally progressive or with
// restart markers, so that the tests need no tool.
std::vector<uint8_t> EncodeJpeg(int width, int height, bool progressive = false, unsigned restartRows = 0) {
  jpeg_compress_struct info{};
  jpeg_error_mgr err{};
  info.err = jpeg_std_error(&err);
  jpeg_create_compress(&info);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &out, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 90, TRUE);
  if (progressive) jpeg_simple_progression(&info);
  info.restart_in_rows = static_cast<int>(restartRows);
  jpeg_start_compress(&info, TRUE);
  std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
  while (info.next_scanline < info.image_height) {
    for (size_t x = 0; x < row.size() / 3; ++x) {
      row[3 * x] = static_cast<uint8_t>(x * 255 / row.size() * 3);
      row[3 * x + 1] = static_cast<uint8_t>(info.next_scanline * 255 / info.image_height);
      row[3 * x + 2] = static_cast<uint8_t>((x ^ info.next_scanline) * 8);
    }
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&info, &p, 1);
  }
  jpeg_finish_compress(&info);
  std::vector<uint8_t> bytes(out, out + size);
  jpeg_destroy_compress(&info);
  std::free(out);
  return bytes;
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
