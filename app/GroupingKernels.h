// What the grouping walks share, inside the finder: fingerprints as two
// 64-bit halves, whose distance is two population counts, and the loops
// where a large grouping spends its time, in the widest vector registers
// the processor has.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "DuplicateSearch.h"
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

// How passes that go on far are made: as their costs choose, always by
// testing entry after entry, or by the indexes wherever the radius allows
// (for the tests, which must see every way give the same groups).
enum class TGroupingWays : uint8_t { Cheapest, Scans, Indexes };
std::optional<std::vector<std::vector<uint32_t>>> GroupFingerprintsIn(TGroupingWays ways,
                                                                      std::span<const Fingerprint> prints,
                                                                      std::span<const uint8_t> unreadable,
                                                                      uint8_t threshold, const TGroupingHooks& hooks,
                                                                      unsigned threads);

// Fingerprints in columns of 64 entries (the halves apart), so that a
// block of entries loads into vector registers as it stands.
inline constexpr size_t KernelBlock = 64;

struct TGroupingKernels {
  const char* Name;
  // For each of the count queries: which of the 64 entries hi[e], lo[e]
  // are within radius of it (bit e of near[k]) and beyond limit from it
  // (bit e of far[k]). A limit of 128 or more is never exceeded.
  void (*BlockMasks)(const uint64_t* hi, const uint64_t* lo, const TPackedPrint* queries, size_t count, int radius,
                     int limit, uint64_t* near, uint64_t* far);
  // out[e] = the distance of entry e from query, for e < count.
  void (*Distances)(const uint64_t* hi, const uint64_t* lo, size_t count, TPackedPrint query, uint8_t* out);
};

// The fastest kernels this processor runs; every choice gives the same
// masks and distances.
const TGroupingKernels& GroupingKernels();
// Every choice this processor runs, the portable one last (for the tests).
std::vector<const TGroupingKernels*> AvailableGroupingKernels();

}  // namespace tolvane
