#include "AICInvColorConversion.h"

namespace tolvane {

namespace {

constexpr int32_t kFix1_40200 = 91881;
constexpr int32_t kFix0_34414 = 22554;
constexpr int32_t kFix0_71414 = 46802;
constexpr int32_t kFix1_77200 = 116130;
constexpr int32_t kHalf = 32768;

}  // namespace

const TYCbCrToRGBTables& BuildYCbCrToRGBTables() {
  static const TYCbCrToRGBTables tables = [] {
    TYCbCrToRGBTables t;
    for (int32_t i = 0; i < 256; ++i) {
      const auto k = static_cast<size_t>(i);
      const int32_t c = i - 128;
      // Arithmetic right shifts: negative products round toward minus infinity.
      t.CrR[k] = (kFix1_40200 * c + kHalf) >> 16;
      t.CbB[k] = (kFix1_77200 * c + kHalf) >> 16;
      t.CbG[k] = -kFix0_34414 * c;
      t.CrG[k] = -kFix0_71414 * c + kHalf;
    }
    return t;
  }();
  return tables;
}

void YCbCrToRGB(const TAICChannels& planes, TBitmap& bitmap, int32_t width, int32_t height) {
  const TYCbCrToRGBTables& t = BuildYCbCrToRGBTables();
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* py = planes[0][y];
    const uint8_t* pcb = planes[1][y];
    const uint8_t* pcr = planes[2][y];
    uint8_t* dst = bitmap.RowPointer(y);
    for (int32_t x = 0; x < width; ++x, dst += 3) {
      const int32_t luma = py[x];
      const size_t cb = pcb[x], cr = pcr[x];
      dst[0] = AICClamp(luma + t.CbB[cb]);
      dst[1] = AICClamp(luma + ((t.CbG[cb] + t.CrG[cr]) >> 16));
      dst[2] = AICClamp(luma + t.CrR[cr]);
    }
  }
}

}  // namespace tolvane
