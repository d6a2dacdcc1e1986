// What the AIC encoder and decoder share: the codec's exception, the nine
// block prediction modes, the planes, and the clamp of reconstructed samples.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "picture/SysUtils.h"

namespace tolvane {

TOLVANE_EXCEPTION(EAICError, Exception);

namespace AICConst {
inline constexpr const char* SInvalidFile = "Invalid AIC file";
inline constexpr const char* SUnknownVersion = "Unknown AIC file version";
inline constexpr const char* SInvalidQuality = "Invalid AIC quality";
inline constexpr const char* SImageTooLarge = "Image too large for an AIC file";
}  // namespace AICConst

// Raises EAICError with the message.
[[noreturn]] void RaiseAICError(const std::string& message);

enum TAICPredictionMode : uint8_t {
  pmVert = 0,
  pmHorz = 1,
  pmDC = 2,
  pmDiagonalDownLeft = 3,
  pmDiagonalDownRight = 4,
  pmVerticalRight = 5,
  pmHorizontalDown = 6,
  pmVerticalLeft = 7,
  pmHorizontalUp = 8,
};

// One plane of bytes, indexed [row][column].
class TAICChannel {
public:
  void Allocate(int32_t width, int32_t height) {
    FWidth = width;
    FHeight = height;
    FData.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  }
  uint8_t* operator[](int32_t row) { return FData.data() + static_cast<size_t>(row) * static_cast<size_t>(FWidth); }
  const uint8_t* operator[](int32_t row) const {
    return FData.data() + static_cast<size_t>(row) * static_cast<size_t>(FWidth);
  }
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  bool Empty() const { return FData.empty(); }
  const std::vector<uint8_t>& Data() const { return FData; }

private:
  int32_t FWidth = 0, FHeight = 0;
  std::vector<uint8_t> FData;
};
using TAICChannels = std::array<TAICChannel, 3>;

// The table of clamped values for -1023..1023, built once.
const std::array<uint8_t, 2047>& BuildClampTable();
// Any integer to 0..255.
inline uint8_t AICClamp(int64_t v) {
  if (v < -1023) return 0;
  if (v > 1023) return 255;
  return BuildClampTable()[static_cast<size_t>(v + 1023)];
}

// The integer part of v (cut toward zero), saturated to the 32-bit range;
// NaN gives 0.
int32_t SaturatingTrunc(long double v);

}  // namespace tolvane
