#include "AICCommon.h"

namespace tolvane {

void RaiseAICError(const std::string& message) { throw EAICError(message); }

const std::array<uint8_t, 2047>& BuildClampTable() {
  static const std::array<uint8_t, 2047> table = [] {
    std::array<uint8_t, 2047> t{};
    for (int i = 0; i < 2047; ++i) {
      int v = i - 1023;
      t[static_cast<size_t>(i)] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
    return t;
  }();
  return table;
}

int32_t SaturatingTrunc(long double v) {
  if (v != v) return 0;
  if (v >= 2147483647.0L) return INT32_MAX;
  if (v <= -2147483648.0L) return INT32_MIN;
  return static_cast<int32_t>(v);
}

}  // namespace tolvane
