// What the grouping walks share, inside the finder: fingerprints as two
// 64-bit halves, whose distance is two population counts.
#pragma once

#include <bit>
#include <cstdint>
#include <span>
#include <vector>

#include "Fingerprint.h"

namespace tolvane {

// Where a large search spends its time runs with the population-count
// instruction on processors that have it. Not under ThreadSanitizer: the
// clone resolver runs before the sanitizer's runtime is ready and would
// crash the program at start.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define TOLVANE_POPCOUNT_CLONES __attribute__((target_clones("popcnt", "default")))
#else
#define TOLVANE_POPCOUNT_CLONES
#endif

struct TPackedPrint {
  uint64_t Hi, Lo;
};

inline TPackedPrint Pack(const Fingerprint& f) {
  const auto& w = f.Words;
  return {uint64_t{w[0]} << 32 | w[1], uint64_t{w[2]} << 32 | w[3]};
}

inline std::vector<TPackedPrint> PackPrints(std::span<const Fingerprint> prints) {
  std::vector<TPackedPrint> packed(prints.size());
  for (size_t i = 0; i < prints.size(); ++i) packed[i] = Pack(prints[i]);
  return packed;
}

// The same value as FingerprintDistance.
inline int PackedDistance(const TPackedPrint& a, const TPackedPrint& b) {
  return std::popcount(a.Hi ^ b.Hi) + std::popcount(a.Lo ^ b.Lo);
}

// Throws std::invalid_argument unless unreadable is empty or holds one mark
// per print.
void CheckUnreadableMarks(std::span<const Fingerprint> prints, std::span<const uint8_t> unreadable);

}  // namespace tolvane
