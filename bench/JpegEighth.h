// The benchmarks' floor for JPEG: a bare libjpeg decode at one eighth of the
// picture's size, as the search decodes, into one reused row buffer.
#pragma once

#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace bench {

struct TJpegError {
  jpeg_error_mgr Pub;
  jmp_buf Jump;
};

inline void JpegExit(j_common_ptr info) { longjmp(reinterpret_cast<TJpegError*>(info->err)->Jump, 1); }

// setSource(info) hands libjpeg its input (jpeg_mem_src or jpeg_stdio_src).
template <class TSetSource>
bool DecodeJpegEighth(TSetSource setSource, std::vector<unsigned char>& row) {
  jpeg_decompress_struct info;
  TJpegError err;
  info.err = jpeg_std_error(&err.Pub);
  err.Pub.error_exit = JpegExit;
  if (setjmp(err.Jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  setSource(&info);
  jpeg_read_header(&info, TRUE);
  info.scale_num = 1;
  info.scale_denom = 8;
  info.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&info);
  row.resize(static_cast<size_t>(info.output_width) * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW p = row.data();
    jpeg_read_scanlines(&info, &p, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

}  // namespace bench
