// Runs the JPEG-in-TIFF decoder over the strips that a test script cut out
// of a TIFF file, so that the script can compare the rows with libtiff's.
//
//   tiff_jpeg_helper JOB OUT
//
// JOB holds "image WIDTH HEIGHT ROWSPERSTRIP SAMPLES BITS PLANAR HSAMPLING
// VSAMPLING SCHEME EXTRA" (SCHEME ycbcr, rgb, grey or cmyk), optionally
// "tables FILE", then one "strip FILE" per strip in order. Each strip is
// decoded as the TIFF reader does, into a buffer of ROWSPERSTRIP rows and
// EXTRA bytes; OUT receives the image's rows (blue, green, red, or the grey
// or CMYK samples). Prints the number of warnings and the last one as
// "CAPTION: TEXT"; a failure prints "error: CLASS: MESSAGE" and exits 1.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "graphics/GraphicCompression.h"
#include "graphics/GraphicFormats.h"

using namespace tolvane;

namespace {

std::vector<uint8_t> ReadAll(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int Run(const char* jobName, const char* outName) {
  std::ifstream job(jobName);
  TImageProperties p;
  std::vector<std::vector<uint8_t>> strips;
  std::string word;
  size_t extra = 0;
  while (job >> word) {
    if (word == "image") {
      unsigned spp, bps, rps, hs, vs;
      std::string scheme;
      job >> p.Width >> p.Height >> rps >> spp >> bps >> p.PlanarConfiguration >> hs >> vs >> scheme >> extra;
      p.RowsPerStrip = {rps};
      p.SamplesPerPixel = static_cast<uint8_t>(spp);
      p.BitsPerSample = static_cast<uint8_t>(bps);
      p.BitsPerPixel = static_cast<uint8_t>(spp * bps);
      p.YCbCrSubsampling = {static_cast<uint8_t>(hs), static_cast<uint8_t>(vs)};
      p.ColorScheme = scheme == "ycbcr" ? ckYCbCr : scheme == "rgb" ? ckRGB : scheme == "cmyk" ? ckCMYK : ckGrey;
      p.RowByteCount = (p.BitsPerPixel * p.Width + 7) / 8;
    } else if (word == "tables") {
      job >> word;
      p.JpegTables = ReadAll(word);
    } else if (word == "strip") {
      job >> word;
      strips.push_back(ReadAll(word));
    }
  }
  int warnings = 0;
  std::string last;
  SetCompressionWarningHook([&](const std::string& text, const std::string& caption) {
    ++warnings;
    last = caption + ": " + text;
  });
  const size_t rowsPerStrip = p.RowsPerStrip[0];
  std::vector<uint8_t> image(size_t{p.Height} * p.RowByteCount);
  TTIFFJPEGDecoder decoder(p);
  decoder.BeginDecoding();
  for (const std::vector<uint8_t>& strip : strips) {
    std::vector<uint8_t> rows(rowsPerStrip * p.RowByteCount + extra);
    const uint8_t* source = strip.data();
    uint8_t* dest = rows.data();
    decoder.Decode(source, dest, static_cast<int32_t>(strip.size()), static_cast<int32_t>(rows.size()));
    const size_t keep = std::min<size_t>(rowsPerStrip, p.Height - p.CurrentRow) * p.RowByteCount;
    std::copy(rows.begin(), rows.begin() + static_cast<ptrdiff_t>(keep),
              image.begin() + static_cast<ptrdiff_t>(size_t{p.CurrentRow} * p.RowByteCount));
    p.CurrentRow += static_cast<uint32_t>(rowsPerStrip);
  }
  decoder.EndDecoding();
  std::ofstream(outName, std::ios::binary).write(reinterpret_cast<const char*>(image.data()),
                                                 static_cast<std::streamsize>(image.size()));
  std::printf("%d\n%s\n", warnings, last.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tiff_jpeg_helper JOB OUT\n");
    return 2;
  }
  try {
    return Run(argv[1], argv[2]);
  } catch (const Exception& e) {
    std::fprintf(stderr, "error: %s: %s\n", e.ClassName(), e.what());
    return 1;
  }
}
