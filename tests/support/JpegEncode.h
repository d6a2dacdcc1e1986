// A JPEG made by libjpeg in memory, so that tests of what reads JPEG data
// need no tool: interleaved rows of `components` samples in colour space
// `space`; `configure` adjusts quality, colour space or sampling after the
// defaults are set.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include <jpeglib.h>

namespace tolvane::test {

inline std::vector<uint8_t> EncodeJpeg(const std::vector<uint8_t>& pixels, uint32_t width, uint32_t height,
                                       int components, J_COLOR_SPACE space,
                                       const std::function<void(jpeg_compress_struct&)>& configure) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &buffer, &size);
  c.image_width = width;
  c.image_height = height;
  c.input_components = components;
  c.in_color_space = space;
  jpeg_set_defaults(&c);
  configure(c);
  jpeg_start_compress(&c, TRUE);
  const size_t stride = size_t{width} * static_cast<size_t>(components);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&pixels[size_t{c.next_scanline} * stride]);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::vector<uint8_t> file(buffer, buffer + size);
  std::free(buffer);
  return file;
}

}  // namespace tolvane::test
