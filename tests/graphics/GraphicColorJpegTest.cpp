// The YCbCr rows against libjpeg: one JPEG decoded once to YCbCr and once to
// RGB; converting the YCbCr rows must land within 1 of libjpeg's RGB.
#include "graphics/GraphicColor.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include <jpeglib.h>

#include "support/JpegEncode.h"

using namespace tolvane;

namespace {

constexpr int kWidth = 96, kHeight = 64;

// A picture with saturated corners, smooth ramps and noise, so that every
// chroma region is visited.
std::vector<uint8_t> TestPicture() {
  std::vector<uint8_t> rgb(size_t{kWidth} * kHeight * 3);
  uint32_t seed = 12345;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      seed = seed * 1103515245 + 12345;
      uint8_t* p = &rgb[(static_cast<size_t>(y) * kWidth + x) * 3];
      p[0] = static_cast<uint8_t>(x * 255 / (kWidth - 1));
      p[1] = static_cast<uint8_t>(y * 255 / (kHeight - 1));
      p[2] = static_cast<uint8_t>(x < kWidth / 2 ? 255 - p[0] : (seed >> 16) & 0xFF);
    }
  return rgb;
}

std::vector<uint8_t> Compress(const std::vector<uint8_t>& rgb, int hSampling, int vSampling) {
  return test::EncodeJpeg(rgb, kWidth, kHeight, 3, JCS_RGB, [&](jpeg_compress_struct& c) {
    jpeg_set_quality(&c, 85, TRUE);
    c.comp_info[0].h_samp_factor = hSampling;
    c.comp_info[0].v_samp_factor = vSampling;
  });
}

std::vector<uint8_t> Decompress(const std::vector<uint8_t>& file, J_COLOR_SPACE space) {
  jpeg_decompress_struct d{};
  jpeg_error_mgr err{};
  d.err = jpeg_std_error(&err);
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, file.data(), file.size());
  jpeg_read_header(&d, TRUE);
  d.out_color_space = space;
  jpeg_start_decompress(&d);
  std::vector<uint8_t> pixels(size_t{d.output_width} * d.output_height * 3);
  while (d.output_scanline < d.output_height) {
    JSAMPROW row = &pixels[size_t{d.output_scanline} * d.output_width * 3];
    jpeg_read_scanlines(&d, &row, 1);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  return pixels;
}

}  // namespace

TEST(ColorRowsJpeg, YCbCrRowsMatchLibjpegWithinOne) {
  const std::vector<uint8_t> picture = TestPicture();
  for (auto [h, v] : {std::pair{1, 1}, std::pair{2, 2}, std::pair{2, 1}}) {
    const std::vector<uint8_t> file = Compress(picture, h, v);
    const std::vector<uint8_t> ycc = Decompress(file, JCS_YCbCr);
    const std::vector<uint8_t> reference = Decompress(file, JCS_RGB);
    ASSERT_EQ(ycc.size(), reference.size());

    TColorManager cm;
    cm.SetSourceScheme(ckYCbCr);
    cm.SetTargetScheme(ckRGB);
    std::vector<uint8_t> ours(reference.size());
    for (int y = 0; y < kHeight; ++y) {
      const size_t row = static_cast<size_t>(y) * kWidth * 3;
      cm.ConvertRow(TRowPlane(ycc).subspan(row, size_t{kWidth} * 3), &ours[row], kWidth, 0xFF);
    }
    int worst = 0, differing = 0;
    for (size_t i = 0; i < ours.size(); ++i) {
      const int d = std::abs(int(ours[i]) - int(reference[i]));
      worst = std::max(worst, d);
      differing += d != 0;
    }
    EXPECT_LE(worst, 1) << h << "x" << v;
    // Both round to the nearest; green rounds its two terms apart here and
    // as one sum there, so only a minority of samples may differ.
    EXPECT_LT(differing, int(ours.size() / 8)) << h << "x" << v;

    // The same rows as planes into BGR.
    cm.SetTargetScheme(ckBGR);
    std::vector<uint8_t> planes[3], bgr(size_t{kWidth} * 3);
    for (auto& p : planes) p.resize(kWidth);
    for (int y = 0; y < kHeight; ++y) {
      const size_t row = static_cast<size_t>(y) * kWidth * 3;
      for (int x = 0; x < kWidth; ++x)
        for (int c = 0; c < 3; ++c) planes[c][x] = ycc[row + x * 3 + c];
      cm.ConvertRow({planes[0], planes[1], planes[2]}, bgr.data(), kWidth, 0xFF);
      for (int x = 0; x < kWidth; ++x)
        for (int c = 0; c < 3; ++c) ASSERT_EQ(bgr[x * 3 + c], ours[row + x * 3 + 2 - c]) << x << "," << y;
    }
  }
}
