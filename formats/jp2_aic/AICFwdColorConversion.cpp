#include "AICFwdColorConversion.h"

namespace tolvane {

namespace {

// FIX(x) = Trunc(x * 65536 + 0.5).
constexpr int32_t kFix0_29900 = 19595;
constexpr int32_t kFix0_58700 = 38470;
constexpr int32_t kFix0_11400 = 7471;
constexpr int32_t kFix0_16874 = 11059;
constexpr int32_t kFix0_33126 = 21709;
constexpr int32_t kFix0_50000 = 32768;
constexpr int32_t kFix0_41869 = 27439;
constexpr int32_t kFix0_08131 = 5329;
// Half of 65536 rounds Y; 128 x 65536 + 32767 centres and rounds Cb and Cr.
constexpr int32_t kHalf = 32768;
constexpr int32_t kCentre = 128 * 65536 + 32767;

}  // namespace

const TRGBToYCbCrTables& BuildRGBToYCbCrTables() {
  static const TRGBToYCbCrTables tables = [] {
    TRGBToYCbCrTables t;
    for (int32_t i = 0; i < 256; ++i) {
      const auto k = static_cast<size_t>(i);
      t.RY[k] = kFix0_29900 * i;
      t.GY[k] = kFix0_58700 * i;
      t.BY[k] = kFix0_11400 * i;
      t.RCb[k] = -kFix0_16874 * i;
      t.GCb[k] = -kFix0_33126 * i;
      t.BCb[k] = kFix0_50000 * i;
      t.GCr[k] = -kFix0_41869 * i;
      t.BCr[k] = -kFix0_08131 * i;
    }
    return t;
  }();
  return tables;
}

void RGBToYCbCr(const TBitmap& bitmap, TAICChannels& planes, int32_t width, int32_t height) {
  const TRGBToYCbCrTables& t = BuildRGBToYCbCrTables();
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* src = bitmap.ConstRowPointer(y);
    uint8_t* py = planes[0][y];
    uint8_t* pcb = planes[1][y];
    uint8_t* pcr = planes[2][y];
    for (int32_t x = 0; x < width; ++x, src += 3) {
      const size_t b = src[0], g = src[1], r = src[2];
      py[x] = static_cast<uint8_t>((t.RY[r] + t.GY[g] + t.BY[b] + kHalf) >> 16);
      pcb[x] = static_cast<uint8_t>((t.RCb[r] + t.GCb[g] + t.BCb[b] + kCentre) >> 16);
      pcr[x] = static_cast<uint8_t>((t.BCb[r] + t.GCr[g] + t.BCr[b] + kCentre) >> 16);
    }
  }
}

}  // namespace tolvane
