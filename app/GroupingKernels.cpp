#include "GroupingKernels.h"

#include <stdexcept>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TOLVANE_X86_KERNELS 1
#include <immintrin.h>
#endif

namespace tolvane {

void CheckUnreadableMarks(std::span<const Fingerprint> prints, std::span<const uint8_t> unreadable) {
  if (!unreadable.empty() && unreadable.size() != prints.size())
    throw std::invalid_argument("grouping: one unreadable mark per fingerprint, or none");
}

namespace {

// The portable loops; compiled again below for processors with the
// population-count instruction.
[[gnu::always_inline]] inline void BlockMasksScalar(const uint64_t* hi, const uint64_t* lo,
                                                    const TPackedPrint* queries, size_t count, int radius, int limit,
                                                    uint64_t* near, uint64_t* far) {
  for (size_t k = 0; k < count; ++k) {
    uint64_t n = 0, f = 0;
    for (size_t e = 0; e < KernelBlock; ++e) {
      const int d = std::popcount(hi[e] ^ queries[k].Hi) + std::popcount(lo[e] ^ queries[k].Lo);
      n |= uint64_t{d <= radius} << e;
      f |= uint64_t{d > limit} << e;
    }
    near[k] = n;
    far[k] = f;
  }
}

[[gnu::always_inline]] inline void DistancesScalar(const uint64_t* hi, const uint64_t* lo, size_t count,
                                                   TPackedPrint query, uint8_t* out) {
  for (size_t e = 0; e < count; ++e)
    out[e] = static_cast<uint8_t>(std::popcount(hi[e] ^ query.Hi) + std::popcount(lo[e] ^ query.Lo));
}

void BlockMasksPortable(const uint64_t* hi, const uint64_t* lo, const TPackedPrint* queries, size_t count, int radius,
                        int limit, uint64_t* near, uint64_t* far) {
  BlockMasksScalar(hi, lo, queries, count, radius, limit, near, far);
}

void DistancesPortable(const uint64_t* hi, const uint64_t* lo, size_t count, TPackedPrint query, uint8_t* out) {
  DistancesScalar(hi, lo, count, query, out);
}

constexpr TGroupingKernels PortableKernels{"portable", BlockMasksPortable, DistancesPortable};

#ifdef TOLVANE_X86_KERNELS

__attribute__((target("popcnt"))) void BlockMasksPopcnt(const uint64_t* hi, const uint64_t* lo,
                                                        const TPackedPrint* queries, size_t count, int radius,
                                                        int limit, uint64_t* near, uint64_t* far) {
  BlockMasksScalar(hi, lo, queries, count, radius, limit, near, far);
}

__attribute__((target("popcnt"))) void DistancesPopcnt(const uint64_t* hi, const uint64_t* lo, size_t count,
                                                       TPackedPrint query, uint8_t* out) {
  DistancesScalar(hi, lo, count, query, out);
}

constexpr TGroupingKernels PopcntKernels{"popcnt", BlockMasksPopcnt, DistancesPopcnt};

// Four distances at once: the set bits of each byte by nibble lookups,
// summed over the eight bytes of each 64-bit lane.
__attribute__((target("avx2"))) inline __m256i ByteCounts(__m256i x) {
  const __m256i table = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4,  //
                                         0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  return _mm256_add_epi8(_mm256_shuffle_epi8(table, _mm256_and_si256(x, nibble)),
                         _mm256_shuffle_epi8(table, _mm256_and_si256(_mm256_srli_epi16(x, 4), nibble)));
}

__attribute__((target("avx2"))) inline __m256i Distances4(__m256i hi, __m256i lo) {
  return _mm256_sad_epu8(_mm256_add_epi8(ByteCounts(hi), ByteCounts(lo)), _mm256_setzero_si256());
}

__attribute__((target("avx2"))) inline uint64_t Mask4(__m256i greater) {
  return static_cast<uint64_t>(static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(greater))));
}

__attribute__((target("avx2"))) void BlockMasksAvx2(const uint64_t* hi, const uint64_t* lo,
                                                    const TPackedPrint* queries, size_t count, int radius, int limit,
                                                    uint64_t* near, uint64_t* far) {
  const __m256i r = _mm256_set1_epi64x(radius), l = _mm256_set1_epi64x(limit);
  for (size_t k = 0; k < count; ++k) {
    const __m256i qh = _mm256_set1_epi64x(static_cast<long long>(queries[k].Hi));
    const __m256i ql = _mm256_set1_epi64x(static_cast<long long>(queries[k].Lo));
    uint64_t beyondRadius = 0, f = 0;
#pragma GCC unroll 16
    for (size_t v = 0; v < KernelBlock / 4; ++v) {
      const __m256i h = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(hi + 4 * v));
      const __m256i o = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lo + 4 * v));
      const __m256i d = Distances4(_mm256_xor_si256(h, qh), _mm256_xor_si256(o, ql));
      beyondRadius |= Mask4(_mm256_cmpgt_epi64(d, r)) << (4 * v);
      f |= Mask4(_mm256_cmpgt_epi64(d, l)) << (4 * v);
    }
    near[k] = ~beyondRadius;
    far[k] = f;
  }
}

constexpr TGroupingKernels Avx2Kernels{"avx2", BlockMasksAvx2, DistancesPopcnt};

// Eight distances at once with the vector population count.
__attribute__((target("avx512f,avx512vpopcntdq"))) void BlockMasksAvx512(const uint64_t* hi, const uint64_t* lo,
                                                                         const TPackedPrint* queries, size_t count,
                                                                         int radius, int limit, uint64_t* near,
                                                                         uint64_t* far) {
  // Unrolled, so that the block stays in registers for every query.
  __m512i h[KernelBlock / 8], o[KernelBlock / 8];
#pragma GCC unroll 8
  for (size_t v = 0; v < KernelBlock / 8; ++v) {
    h[v] = _mm512_loadu_si512(hi + 8 * v);
    o[v] = _mm512_loadu_si512(lo + 8 * v);
  }
  const __m512i r = _mm512_set1_epi64(radius), l = _mm512_set1_epi64(limit);
  for (size_t k = 0; k < count; ++k) {
    const __m512i qh = _mm512_set1_epi64(static_cast<long long>(queries[k].Hi));
    const __m512i ql = _mm512_set1_epi64(static_cast<long long>(queries[k].Lo));
    uint64_t n = 0, f = 0;
#pragma GCC unroll 8
    for (size_t v = 0; v < KernelBlock / 8; ++v) {
      const __m512i d = _mm512_add_epi64(_mm512_popcnt_epi64(_mm512_xor_si512(h[v], qh)),
                                         _mm512_popcnt_epi64(_mm512_xor_si512(o[v], ql)));
      n |= uint64_t{_mm512_cmple_epi64_mask(d, r)} << (8 * v);
      f |= uint64_t{_mm512_cmpgt_epi64_mask(d, l)} << (8 * v);
    }
    near[k] = n;
    far[k] = f;
  }
}

__attribute__((target("avx512f,avx512vpopcntdq"))) void DistancesAvx512(const uint64_t* hi, const uint64_t* lo,
                                                                        size_t count, TPackedPrint query,
                                                                        uint8_t* out) {
  const __m512i qh = _mm512_set1_epi64(static_cast<long long>(query.Hi));
  const __m512i ql = _mm512_set1_epi64(static_cast<long long>(query.Lo));
  size_t e = 0;
  for (; e + 8 <= count; e += 8) {
    const __m512i d = _mm512_add_epi64(_mm512_popcnt_epi64(_mm512_xor_si512(_mm512_loadu_si512(hi + e), qh)),
                                       _mm512_popcnt_epi64(_mm512_xor_si512(_mm512_loadu_si512(lo + e), ql)));
    _mm512_mask_cvtepi64_storeu_epi8(out + e, 0xFF, d);
  }
  for (; e < count; ++e)
    out[e] = static_cast<uint8_t>(std::popcount(hi[e] ^ query.Hi) + std::popcount(lo[e] ^ query.Lo));
}

constexpr TGroupingKernels Avx512Kernels{"avx512", BlockMasksAvx512, DistancesAvx512};

#endif

}  // namespace

std::vector<const TGroupingKernels*> AvailableGroupingKernels() {
  std::vector<const TGroupingKernels*> kernels;
#ifdef TOLVANE_X86_KERNELS
  __builtin_cpu_init();
  const bool popcnt = __builtin_cpu_supports("popcnt");
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vpopcntdq")) kernels.push_back(&Avx512Kernels);
  if (popcnt && __builtin_cpu_supports("avx2")) kernels.push_back(&Avx2Kernels);
  if (popcnt) kernels.push_back(&PopcntKernels);
#endif
  kernels.push_back(&PortableKernels);
  return kernels;
}

const TGroupingKernels& GroupingKernels() { return *AvailableGroupingKernels().front(); }

}  // namespace tolvane
