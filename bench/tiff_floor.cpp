// Benchmark helper (not a test): the floor under loading TIFF files, i.e.
// libtiff's own strip decode of each file on one core and nothing else:
// every strip through TIFFReadEncodedStrip into memory, the pixels thrown
// away. JPEG strips are asked for as RGB pixels, as our reader delivers
// them, not as raw subsampled YCbCr. Prints the number of files and the
// seconds.
//   tiff_floor FILE...
// Built by bench/bench-tiff.sh: c++ -O2 tiff_floor.cpp -ltiff
#include <tiffio.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct TTiffCloser {
  void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TTiff = std::unique_ptr<TIFF, TTiffCloser>;

void Quiet(const char*, const char*, va_list) {}

bool DecodeStrips(const char* name, std::vector<unsigned char>& strip) {
  TTiff tiff(TIFFOpen(name, "r"));
  if (!tiff) return false;
  uint16_t compression = 0, photometric = 0;
  TIFFGetField(tiff.get(), TIFFTAG_COMPRESSION, &compression);
  TIFFGetField(tiff.get(), TIFFTAG_PHOTOMETRIC, &photometric);
  if (compression == COMPRESSION_JPEG && photometric == PHOTOMETRIC_YCBCR)
    TIFFSetField(tiff.get(), TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
  strip.resize(static_cast<size_t>(TIFFStripSize(tiff.get())));
  const uint32_t strips = TIFFNumberOfStrips(tiff.get());
  for (uint32_t s = 0; s < strips; ++s)
    if (TIFFReadEncodedStrip(tiff.get(), s, strip.data(), static_cast<tmsize_t>(strip.size())) < 0) return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: tiff_floor FILE...\n");
    return 2;
  }
  TIFFSetWarningHandler(Quiet);
  std::vector<unsigned char> strip;
  int failed = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 1; i < argc; ++i) failed += !DecodeStrips(argv[i], strip);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%d files (%d failed) in %.3f s\n", argc - 1, failed, seconds);
  return failed ? 1 : 0;
}
