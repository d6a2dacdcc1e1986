// aic_probe IN.bmp QUALITY OUT.aic OUT.bmp: encodes a BMP with the AIC
// codec and decodes the result again. Built at two optimisation levels so
// that a test can compare the bit streams.
#include <cstdio>
#include <cstdlib>

#include "formats/jp2_aic/AICDecoder.h"
#include "formats/jp2_aic/AICEncoder.h"

using namespace tolvane;

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  try {
    TBitmap source, decoded;
    TFileStream in(argv[1], fmOpenRead);
    source.LoadStream(in);
    TMemoryStream coded;
    TAICEncoder::Encode(source, coded, static_cast<uint8_t>(std::atoi(argv[2])));
    coded.SaveToFile(argv[3]);
    coded.SetPosition(0);
    TAICDecoder::Decode(coded, decoded);
    decoded.SaveFile(argv[4]);
  } catch (const Exception& e) {
    std::fprintf(stderr, "error: %s: %s\n", e.ClassName(), e.what());
    return 1;
  }
  return 0;
}
