// Benchmark (not a test): time per file of the finder's fingerprint of JPEG
// photographs, against the floor of decoding the same files with libjpeg at
// one eighth of their size in the same process.
//   bench_fingerprint FILE...
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "JpegEighth.h"

#include "app/Fingerprint.h"
#include "app/GraphicUnits.h"

using namespace tolvane;
using Clock = std::chrono::steady_clock;

namespace {

// Reads the file and decodes it at 1/8 into one reused row buffer.
bool DecodeEighth(const std::string& file, std::vector<uint8_t>& row) {
  std::vector<uint8_t> data = ReadFileBytes(file);
  return bench::DecodeJpegEighth([&](j_decompress_ptr info) { jpeg_mem_src(info, data.data(), data.size()); },
                                 row);
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_fingerprint FILE...\n");
    return 2;
  }
  InitializeGraphicUnits();
  std::vector<std::string> files(argv + 1, argv + argc);
  std::vector<uint8_t> row;
  const int rounds = 3;
  double best[2] = {1e300, 1e300};
  for (int r = 0; r < rounds; ++r) {
    auto t0 = Clock::now();
    for (const std::string& f : files) DecodeEighth(f, row);
    auto t1 = Clock::now();
    TPicture picture;
    TBitmap target;
    target.SetPixelLayout(pl24Bit);
    target.ResizeWidth(16);
    target.ResizeHeight(8);
    for (const std::string& f : files) {
      Fingerprint fp;
      ComputeFingerprint("", f, picture, fp, target);
    }
    auto t2 = Clock::now();
    best[0] = std::min(best[0], Seconds(t1 - t0));
    best[1] = std::min(best[1], Seconds(t2 - t1));
  }
  double n = static_cast<double>(files.size());
  std::printf("files: %zu, best of %d rounds\n", files.size(), rounds);
  std::printf("libjpeg 1/8 decode (floor): %8.2f ms per file\n", 1000 * best[0] / n);
  std::printf("fingerprint:                %8.2f ms per file\n", 1000 * best[1] / n);
  std::printf("ratio fingerprint / floor:  %8.3f\n", best[1] / best[0]);
  FinalizeGraphicUnits();
  return 0;
}
