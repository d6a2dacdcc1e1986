// Benchmark helper (not a test): the floor under the finder's search, i.e.
// decoding each file with the bare libraries on one core and nothing else.
// JPEG is decoded at one eighth of its size (as the search does), PNG in
// full to 8-bit RGB(A) rows. Prints the number of files and the seconds.
//   decode_floor FILE...
// Built by bench/finddups.sh: c++ -O2 decode_floor.cpp -ljpeg -lpng
#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <png.h>

#include "JpegEighth.h"

namespace {

struct TFileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using TFile = std::unique_ptr<FILE, TFileCloser>;

bool DecodePng(FILE* file, std::vector<unsigned char>& row) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_init_io(png, file);
  png_read_info(png, info);
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_bgr(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  row.resize(png_get_rowbytes(png, info));
  for (int pass = 0; pass < passes; ++pass)
    for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, row.data(), nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

bool EndsWith(const std::string& s, const char* tail) {
  const size_t n = std::strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: decode_floor FILE...\n");
    return 2;
  }
  std::vector<unsigned char> row;
  int failed = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    TFile file(std::fopen(name.c_str(), "rb"));
    bool ok = false;
    auto source = [&](j_decompress_ptr info) { jpeg_stdio_src(info, file.get()); };
    if (file) ok = EndsWith(name, ".png") ? DecodePng(file.get(), row) : bench::DecodeJpegEighth(source, row);
    failed += !ok;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%d files (%d failed) in %.3f s\n", argc - 1, failed, seconds);
  return failed ? 1 : 0;
}
