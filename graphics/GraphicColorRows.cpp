// The row converters of the colour manager. Each one settles everything that
// does not vary per pixel before its loop: where the samples lie, how far a
// source pixel steps, the per-sample conversion and the target stride.
#include <algorithm>
#include <cmath>
#include <cstring>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "graphics/GraphicColor.h"
#include "picture/ByteOrder.h"

namespace tolvane {

namespace {

constexpr std::array<uint8_t, 256> IdentityTable() {
  std::array<uint8_t, 256> t{};
  for (int i = 0; i < 256; ++i) t[i] = static_cast<uint8_t>(i);
  return t;
}
constexpr std::array<uint8_t, 256> kIdentity = IdentityTable();

uint8_t RotateProbe(uint8_t probe) { return static_cast<uint8_t>(probe >> 1 | probe << 7); }

uint8_t Reduce16(uint16_t v) { return static_cast<uint8_t>(MulDiv16(v, 255, 65535)); }
uint16_t Expand8(uint8_t v) { return MulDiv16(v, 65535, 255); }

bool Is8Or16(uint8_t bits) { return bits == 8 || bits == 16; }

// Where the samples of the first selected source pixel lie, and how many
// bytes the next one is further on.
struct TSourceLayout {
  std::array<const uint8_t*, 4> Sample{};
  size_t Step = 0;
};

TSourceLayout Interleaved(const uint8_t* row, size_t samplesPerPixel, size_t bytesPerSample) {
  TSourceLayout l;
  for (size_t k = 0; k < l.Sample.size(); ++k) l.Sample[k] = row + k * bytesPerSample;
  l.Step = samplesPerPixel * bytesPerSample;
  return l;
}

TSourceLayout Planar(TRowSource planes, size_t n, size_t bytesPerSample) {
  TSourceLayout l;
  for (size_t k = 0; k < n; ++k) l.Sample[k] = planes[k];
  l.Step = bytesPerSample;
  return l;
}

// Walks count target pixels with the rotating probe: convert(offset, pixel)
// runs for each selected pixel, offset being the source position of the
// next selected source pixel relative to the layout's sample pointers.
template <class Convert>
void WalkRow(uint8_t* target, uint32_t count, uint8_t mask, size_t targetStride, size_t sourceStep,
             Convert&& convert) {
  uint8_t probe = 0x80;
  size_t offset = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (mask & probe) {
      convert(offset, target + size_t{i} * targetStride);
      offset += sourceStep;
    }
    probe = RotateProbe(probe);
  }
}

// Reads n (1..8) bits at bit position pos, most significant bits first; the
// second byte is touched only when the field crosses into it.
uint32_t GetBits(const uint8_t* p, uint64_t pos, unsigned n) {
  const size_t byte = pos >> 3;
  const unsigned offset = pos & 7;
  const uint32_t fieldMask = (1u << n) - 1;
  if (offset + n <= 8) return (p[byte] >> (8 - offset - n)) & fieldMask;
  const uint32_t word = LoadBE16(p + byte);
  return (word >> (16 - offset - n)) & fieldMask;
}

// Writes n (1..8) bits at bit position pos and keeps the other bits.
void PutBits(uint8_t* p, uint64_t pos, unsigned n, uint32_t value) {
  const size_t byte = pos >> 3;
  const unsigned offset = pos & 7;
  const uint32_t fieldMask = (1u << n) - 1;
  value &= fieldMask;
  if (offset + n <= 8) {
    const unsigned shift = 8 - offset - n;
    p[byte] = static_cast<uint8_t>((p[byte] & ~(fieldMask << shift)) | value << shift);
    return;
  }
  const unsigned shift = 16 - offset - n;
  const uint32_t word = LoadBE16(p + byte) & ~(fieldMask << shift);
  StoreBE16(p + byte, static_cast<uint16_t>(word | value << shift));
}

// One colour or alpha sample from source depth SB to target depth TB; lut is
// the gamma table or the identity (8-bit results only).
template <int SB, int TB>
void PutSample(const uint8_t* s, uint8_t* t, const uint8_t* lut, bool swap) {
  if constexpr (SB == 8 && TB == 8) {
    t[0] = lut[s[0]];
  } else if constexpr (SB == 16 && TB == 8) {
    t[0] = lut[Reduce16(Load16(s, swap))];
  } else if constexpr (SB == 8 && TB == 16) {
    // v * 257 reads the same in either byte order, so a swap would change nothing.
    StoreLE16(t, Expand8(lut[s[0]]));
  } else {
    StoreLE16(t, Load16(s, swap));
  }
}

struct TThreeColourPlan {
  TSourceLayout Source;
  std::array<int, 3> Order{};  // source sample of target sample j
  int AlphaSample = 3;
  bool CopyAlpha = false;
  size_t TargetStride = 0;
  const uint8_t* Lut = nullptr;
  bool Swap = false;
};

template <int SB, int TB>
void ThreeColourLoop(const TThreeColourPlan& p, uint8_t* target, uint32_t count, uint8_t mask) {
  constexpr size_t tb = TB / 8;
  WalkRow(target, count, mask, p.TargetStride, p.Source.Step, [&](size_t off, uint8_t* t) {
    for (int j = 0; j < 3; ++j) PutSample<SB, TB>(p.Source.Sample[p.Order[j]] + off, t + j * tb, p.Lut, p.Swap);
    if (p.CopyAlpha) PutSample<SB, TB>(p.Source.Sample[p.AlphaSample] + off, t + 3 * tb, kIdentity.data(), p.Swap);
  });
}

// Dispatches a templated loop on the depth pair (8 or 16 each side).
template <template <int, int> class Loop, class... Args>
void ForDepths(uint8_t sb, uint8_t tb, Args&&... args) {
  if (sb == 8 && tb == 8) Loop<8, 8>::Run(args...);
  else if (sb == 8 && tb == 16) Loop<8, 16>::Run(args...);
  else if (sb == 16 && tb == 8) Loop<16, 8>::Run(args...);
  else if (sb == 16 && tb == 16) Loop<16, 16>::Run(args...);
}

template <int SB, int TB> struct TThreeColourLoop {
  static void Run(const TThreeColourPlan& p, uint8_t* target, uint32_t count, uint8_t mask) {
    ThreeColourLoop<SB, TB>(p, target, count, mask);
  }
};

// ---- Whole 8-bit rows ----------------------------------------------------------
// Nearly every row a reader hands over is an 8-bit row with every pixel
// selected. Those skip the pixel walk: loops fixed at compile time, and for
// the plain reorderings whole-register shuffles or copies. Every one writes
// exactly what ThreeColourLoop<8, 8> writes. The reorderings read each
// pixel before they write it and store nothing beyond the pixels read so
// far, so a row may be reordered in place (ConvertsInPlace).

void ExchangeThreeScalar(const uint8_t* s, uint8_t* t, size_t count) {
  for (size_t i = 0; i < count; ++i, s += 3, t += 3) {
    const uint8_t first = s[0], second = s[1], third = s[2];
    t[0] = third;
    t[1] = second;
    t[2] = first;
  }
}

#if defined(__x86_64__) || defined(__i386__)
// Five pixels a 16-byte shuffle. The store's sixteenth byte belongs to the
// next pixel, which the next step (or the scalar tail) writes again, so
// nothing outside the target's count pixels is touched; the loads stay
// inside the source's count pixels likewise. Each load comes before the
// store ahead of it: in place, a load that overlapped the store just made
// would wait for it.
__attribute__((target("ssse3"))) void ExchangeThreeShuffle(const uint8_t* s, uint8_t* t, size_t count) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
  size_t i = 0;
  if (count >= 6) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    for (; i + 11 <= count; i += 5) {
      const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 3 * (i + 5)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(t + 3 * i), _mm_shuffle_epi8(v, order));
      v = next;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(t + 3 * i), _mm_shuffle_epi8(v, order));
    i += 5;
  }
  ExchangeThreeScalar(s + 3 * i, t + 3 * i, count - i);
}
#endif

// Blue and red of three-byte pixels change places.
void ExchangeThree(const uint8_t* s, uint8_t* t, size_t count) {
#if defined(__x86_64__) || defined(__i386__)
  if (__builtin_cpu_supports("ssse3")) return ExchangeThreeShuffle(s, t, count);
#endif
  ExchangeThreeScalar(s, t, count);
}

// Blue and red of four-byte pixels change places; green and alpha stay.
// Word operations the compiler turns into vector code on any processor.
void ExchangeFour(const uint8_t* s, uint8_t* t, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    uint32_t v;
    std::memcpy(&v, s + 4 * i, 4);
    v = (v & 0xFF00FF00u) | (v >> 16 & 0xFFu) | (v & 0xFFu) << 16;
    std::memcpy(t + 4 * i, &v, 4);
  }
}

// Step and Stride: bytes from one source and one target pixel to the next
// (a planar source steps 1 in each plane).
template <size_t Step, size_t Stride, bool CopyAlpha, bool Gamma>
void WholeRowLoop(const TThreeColourPlan& p, uint8_t* t, size_t count) {
  const uint8_t* first = p.Source.Sample[p.Order[0]];
  const uint8_t* second = p.Source.Sample[p.Order[1]];
  const uint8_t* third = p.Source.Sample[p.Order[2]];
  const uint8_t* alpha = p.Source.Sample[p.AlphaSample];
  const uint8_t* lut = p.Lut;
  for (size_t i = 0; i < count; ++i, t += Stride) {
    const size_t at = i * Step;
    if constexpr (Gamma) {
      t[0] = lut[first[at]];
      t[1] = lut[second[at]];
      t[2] = lut[third[at]];
    } else {
      t[0] = first[at];
      t[1] = second[at];
      t[2] = third[at];
    }
    if constexpr (CopyAlpha) t[3] = alpha[at];
  }
}

template <size_t Step, bool Gamma> void WholeRowByStride(const TThreeColourPlan& p, uint8_t* target, size_t count) {
  if (p.TargetStride == 3) WholeRowLoop<Step, 3, false, Gamma>(p, target, count);
  else if (p.CopyAlpha) WholeRowLoop<Step, 4, true, Gamma>(p, target, count);
  else WholeRowLoop<Step, 4, false, Gamma>(p, target, count);
}

template <bool Gamma> void WholeRow(const TThreeColourPlan& p, uint8_t* target, size_t count) {
  if (p.Source.Step == 1) WholeRowByStride<1, Gamma>(p, target, count);
  else if (p.Source.Step == 3) WholeRowByStride<3, Gamma>(p, target, count);
  else WholeRowByStride<4, Gamma>(p, target, count);
}

// An interleaved row whose pixels keep their size and need no table.
bool PlainReorder(const TThreeColourPlan& p, uint8_t* target, size_t count) {
  const size_t step = p.Source.Step;
  if (step != p.TargetStride || (step == 4) != p.CopyAlpha) return false;
  const uint8_t* s = p.Source.Sample[0];
  if (p.Order[0] != 0 && step == 3) ExchangeThree(s, target, count);
  else if (p.Order[0] != 0) ExchangeFour(s, target, count);
  else if (s != target) std::memcpy(target, s, count * step);  // a row converted in place is done
  return true;
}

void WholeRow8(const TThreeColourPlan& p, uint8_t* target, uint32_t count, bool planar) {
  const bool gamma = p.Lut != kIdentity.data();
  if (!gamma && !planar && PlainReorder(p, target, count)) return;
  if (gamma) WholeRow<true>(p, target, count);
  else WholeRow<false>(p, target, count);
}

// ---- CMYK ------------------------------------------------------------------

uint8_t CmykColour8(uint8_t x, uint8_t k) {
  return ClampByte(255 - x - k + MulDiv16(x, k, 255));
}
uint16_t CmykCoverage16(uint16_t x, uint16_t k) {
  return static_cast<uint16_t>(x - MulDiv16(x, k, 65535) + k);
}

struct TColourPlan {
  TSourceLayout Source;
  size_t TargetStride = 0;
  bool Bgr = false;
  bool Swap = false;
};

// Source layout, target stride, colour order and byte swap, which the CMYK,
// L*a*b* and chroma converters set alike.
void SetUpColourPlan(TColourPlan& p, TRowSource source, bool planar, size_t samples, uint8_t sourceBits,
                     uint8_t targetBits, TConvertOptions sourceFlags, TConvertOptions targetFlags, bool bgr) {
  const size_t sourceBytes = sourceBits / 8;
  p.Source = planar ? Planar(source, samples, sourceBytes) : Interleaved(source[0], samples, sourceBytes);
  p.TargetStride = ((targetFlags & cvAlpha) ? 4 : 3) * size_t{targetBits / 8u};
  p.Bgr = bgr;
  p.Swap = sourceFlags & cvSwap16;
}

// Writes red, green, blue in the target's order.
template <int TB> void PutRgb(uint8_t* t, bool bgr, uint16_t r, uint16_t g, uint16_t b) {
  if (bgr) std::swap(r, b);
  if constexpr (TB == 8) {
    t[0] = static_cast<uint8_t>(r);
    t[1] = static_cast<uint8_t>(g);
    t[2] = static_cast<uint8_t>(b);
  } else {
    StoreLE16(t, r);
    StoreLE16(t + 2, g);
    StoreLE16(t + 4, b);
  }
}

template <int SB, int TB> struct TCmykLoop {
  static void Run(const TColourPlan& p, uint8_t* target, uint32_t count, uint8_t mask) {
    const auto& s = p.Source.Sample;
    WalkRow(target, count, mask, p.TargetStride, p.Source.Step, [&](size_t off, uint8_t* t) {
      uint16_t rgb[3];
      if constexpr (SB == 8) {
        const uint8_t k = s[3][off];
        for (int c = 0; c < 3; ++c) {
          const uint8_t v = CmykColour8(s[c][off], k);
          rgb[c] = TB == 8 ? v : Expand8(v);
        }
      } else {
        const uint16_t k = Load16(s[3] + off, p.Swap);
        for (int c = 0; c < 3; ++c) {
          const uint16_t coverage = CmykCoverage16(Load16(s[c] + off, p.Swap), k);
          rgb[c] = TB == 8 ? ClampByte(255 - MulDiv16(coverage, 255, 65535))
                           : static_cast<uint16_t>(65535 - coverage);
        }
      }
      PutRgb<TB>(t, p.Bgr, rgb[0], rgb[1], rgb[2]);
    });
  }
};

// ---- L*a*b* ----------------------------------------------------------------

struct TLabFlags {
  bool Lightness255 = false;
  bool Offset128 = false;
};

// Linear red, green, blue (1 = full) of one L*a*b* colour.
std::array<long double, 3> LabToLinearRgb(long double l, long double a, long double b) {
  long double x, y, z;
  const long double t = (l + 16.0L) / 116.0L;
  if (l < 7.9996L) {
    y = l / 903.3L;
    x = y + a / 3893.5L;
    z = y - b / 1557.4L;
  } else {
    const long double tx = t + a / 500.0L, tz = t - b / 200.0L;
    x = tx * tx * tx;
    y = t * t * t;
    z = tz * tz * tz;
  }
  return {2.998L * x - 1.458L * y - 0.541L * z, -0.952L * x + 1.893L * y + 0.059L * z,
          0.099L * x - 0.198L * y + 1.099L * z};
}

// v x 255 to the nearest integer (halves to even), held within 0..255
// before it could leave the integers.
uint8_t LabLevel(long double v) {
  const long double r = std::nearbyint(v * 255.0L);
  if (!(r > 0)) return 0;
  if (r > 255) return 255;
  return static_cast<uint8_t>(r);
}

// 8-bit samples: L as stored (or 0..255 scaled to 0..100), a and b signed
// bytes (or unsigned with an offset of 128). 16-bit samples carry the same
// scales one byte further up: L over 0..65535 as over 0..255, a and b as
// signed 16-bit values (or offset by 32768) in 256ths. Every target gets
// the 8-bit result, expanded for 16-bit targets.
std::array<long double, 3> LabComponents(uint16_t ls, uint16_t as, uint16_t bs, bool wide, TLabFlags f) {
  long double l, a, b;
  if (!wide) {
    l = ls;
    a = f.Offset128 ? static_cast<long double>(as) - 128 : static_cast<int8_t>(as);
    b = f.Offset128 ? static_cast<long double>(bs) - 128 : static_cast<int8_t>(bs);
  } else {
    l = static_cast<long double>(ls) / 257.0L;
    a = (f.Offset128 ? static_cast<long double>(as) - 32768 : static_cast<int16_t>(as)) / 256.0L;
    b = (f.Offset128 ? static_cast<long double>(bs) - 32768 : static_cast<int16_t>(bs)) / 256.0L;
  }
  if (f.Lightness255) l /= 2.55L;
  return {l, a, b};
}

struct TLabPlan : TColourPlan {
  TLabFlags Flags;
};

template <int SB, int TB> struct TLabLoop {
  static void Run(const TLabPlan& p, uint8_t* target, uint32_t count, uint8_t mask) {
    const auto& s = p.Source.Sample;
    WalkRow(target, count, mask, p.TargetStride, p.Source.Step, [&](size_t off, uint8_t* t) {
      uint16_t v[3];
      for (int c = 0; c < 3; ++c) v[c] = SB == 8 ? s[c][off] : Load16(s[c] + off, p.Swap);
      const auto lab = LabComponents(v[0], v[1], v[2], SB == 16, p.Flags);
      const auto rgb = LabToLinearRgb(lab[0], lab[1], lab[2]);
      uint16_t out[3];
      for (int c = 0; c < 3; ++c) {
        const uint8_t level = LabLevel(rgb[c]);
        out[c] = TB == 16 ? Expand8(level) : level;
      }
      PutRgb<TB>(t, p.Bgr, out[0], out[1], out[2]);
    });
  }
};

// ---- YCbCr and Photo YCC -----------------------------------------------------

struct TChromaPlan : TColourPlan {
  const int32_t* CrToRed = nullptr;
  const int32_t* CbToBlue = nullptr;
  const int32_t* CrToGreen = nullptr;
  const int32_t* CbToGreen = nullptr;
  // 16-bit to 16-bit: the table coefficients and chroma offsets at full depth.
  long double K1 = 0, K2 = 0, G1 = 0, G2 = 0;
  long double CbOffset = 0, CrOffset = 0;
};

uint16_t Level16(long double v) {
  const long double r = std::nearbyint(v);
  if (!(r > 0)) return 0;
  if (r > 65535) return 65535;
  return static_cast<uint16_t>(r);
}

template <int SB, int TB> struct TChromaLoop {
  static void Run(const TChromaPlan& p, uint8_t* target, uint32_t count, uint8_t mask) {
    const auto& s = p.Source.Sample;
    WalkRow(target, count, mask, p.TargetStride, p.Source.Step, [&](size_t off, uint8_t* t) {
      if constexpr (SB == 16 && TB == 16) {
        const long double y = Load16(s[0] + off, p.Swap);
        const long double cb = Load16(s[1] + off, p.Swap) - p.CbOffset;
        const long double cr = Load16(s[2] + off, p.Swap) - p.CrOffset;
        PutRgb<16>(t, p.Bgr, Level16(y + p.K1 * cr), Level16(y - p.G2 * cb - p.G1 * cr), Level16(y + p.K2 * cb));
      } else {
        uint8_t y, cb, cr;
        if constexpr (SB == 8) {
          y = s[0][off], cb = s[1][off], cr = s[2][off];
        } else {
          y = Reduce16(Load16(s[0] + off, p.Swap));
          cb = Reduce16(Load16(s[1] + off, p.Swap));
          cr = Reduce16(Load16(s[2] + off, p.Swap));
        }
        const uint8_t b = ClampByte(y + p.CbToBlue[cb]);
        const uint8_t g = ClampByte(y + p.CbToGreen[cb] + p.CrToGreen[cr]);
        const uint8_t r = ClampByte(y + p.CrToRed[cr]);
        if constexpr (TB == 8) PutRgb<8>(t, p.Bgr, r, g, b);
        else PutRgb<16>(t, p.Bgr, Expand8(r), Expand8(g), Expand8(b));
      }
    });
  }
};

}  // namespace

void TColorManager::RequirePlanes(TRowSource source, size_t n) const {
  if (source.size() < n) Fail(GraphicColorStrings::SMissingSamplePlanes);
  for (size_t k = 0; k < n; ++k)
    if (!source[k]) Fail(GraphicColorStrings::SMissingSamplePlanes);
}

// ---- Three-colour rows -------------------------------------------------------

void TColorManager::RowThreeColour(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask,
                                   bool exchange) const {
  const uint8_t sb = FSourceBitsPerSample, tb = FTargetBitsPerSample;
  if (!Is8Or16(sb) || !Is8Or16(tb)) return;
  const bool sourceAlpha = SourceFlags & cvAlpha, targetAlpha = TargetFlags & cvAlpha;
  TThreeColourPlan p;
  p.CopyAlpha = sourceAlpha && targetAlpha;
  const size_t sourceBytes = sb / 8;
  if (source.size() > 1) {
    const size_t planes = p.CopyAlpha ? 4 : 3;
    RequirePlanes(source, planes);
    p.Source = Planar(source, planes, sourceBytes);
  } else {
    RequirePlanes(source, 1);
    p.Source = Interleaved(source[0], sourceAlpha ? 4 : 3, sourceBytes);
  }
  p.Order = exchange ? std::array<int, 3>{2, 1, 0} : std::array<int, 3>{0, 1, 2};
  p.TargetStride = (targetAlpha ? 4 : 3) * size_t{tb / 8u};
  // 16-bit samples kept at 16 bits never pass the 8-bit table.
  p.Lut = (TargetFlags & cvGamma) ? FGammaTable.data() : kIdentity.data();
  p.Swap = SourceFlags & cvSwap16;
  if (sb == 8 && tb == 8 && mask == 0xFF) WholeRow8(p, target, count, source.size() > 1);
  else ForDepths<TThreeColourLoop>(sb, tb, p, target, count, mask);
}

void TColorManager::RowBgrToBgr(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const {
  RowThreeColour(source, target, count, mask, false);
}
void TColorManager::RowBgrToRgb(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const {
  RowThreeColour(source, target, count, mask, true);
}
void TColorManager::RowRgbToBgr(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const {
  RowThreeColour(source, target, count, mask, true);
}
void TColorManager::RowRgbToRgb(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const {
  RowThreeColour(source, target, count, mask, false);
}

// ---- CMYK, L*a*b*, YCbCr, Photo YCC ------------------------------------------

void TColorManager::RowCmyk(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask, bool bgr) const {
  const uint8_t sb = FSourceBitsPerSample, tb = FTargetBitsPerSample;
  if (!Is8Or16(sb) || !Is8Or16(tb)) return;
  TColourPlan p;
  // Four pointers are four planes; any other number is one interleaved row.
  const bool planar = source.size() == 4;
  RequirePlanes(source, planar ? 4 : 1);
  SetUpColourPlan(p, source, planar, 4, sb, tb, SourceFlags, TargetFlags, bgr);
  ForDepths<TCmykLoop>(sb, tb, p, target, count, mask);
}

void TColorManager::RowLab(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask, bool bgr) const {
  const uint8_t sb = FSourceBitsPerSample, tb = FTargetBitsPerSample;
  if (!Is8Or16(sb) || !Is8Or16(tb)) return;
  TLabPlan p;
  const bool planar = source.size() > 1;
  RequirePlanes(source, planar ? 3 : 1);
  SetUpColourPlan(p, source, planar, 3, sb, tb, SourceFlags, TargetFlags, bgr);
  p.Flags.Lightness255 = SourceFlags & cvLabLightness255;
  p.Flags.Offset128 = SourceFlags & cvLabOffset128;
  ForDepths<TLabLoop>(sb, tb, p, target, count, mask);
}

void TColorManager::RowChroma(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask, bool bgr,
                              bool photoYcc) const {
  const uint8_t sb = FSourceBitsPerSample, tb = FTargetBitsPerSample;
  if (!Is8Or16(sb) || !Is8Or16(tb)) return;
  // The tables exist once a chroma source has been prepared.
  if (FCrToRed.size() != 256 || FCbToBlue.size() != 256 || FCrToGreen.size() != 256 || FCbToGreen.size() != 256)
    return;
  TChromaPlan p;
  const bool planar = source.size() > 1;
  RequirePlanes(source, planar ? 3 : 1);
  SetUpColourPlan(p, source, planar, 3, sb, tb, SourceFlags, TargetFlags, bgr);
  p.CrToRed = FCrToRed.data();
  p.CbToBlue = FCbToBlue.data();
  p.CrToGreen = FCrToGreen.data();
  p.CbToGreen = FCbToGreen.data();
  // Full-depth conversion keeps to the tables' model: the same coefficients,
  // the chroma offsets scaled as 8-bit values are expanded.
  const float kr = FLumaWeights[0], kg = FLumaWeights[1], kb = FLumaWeights[2];
  const float k1 = 2.0f - 2.0f * kr, k2 = 2.0f - 2.0f * kb;
  p.K1 = k1;
  p.K2 = k2;
  p.G1 = kr * k1 / kg;
  p.G2 = kb * k2 / kg;
  p.CbOffset = (photoYcc ? 156 : 128) * 257.0L;
  p.CrOffset = (photoYcc ? 137 : 128) * 257.0L;
  ForDepths<TChromaLoop>(sb, tb, p, target, count, mask);
}

void TColorManager::RowCmykToBgr(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const {
  RowCmyk(source, target, count, mask, true);
}
void TColorManager::RowCmykToRgb(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const {
  RowCmyk(source, target, count, mask, false);
}
void TColorManager::RowLabToBgr(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const {
  RowLab(source, target, count, mask, true);
}
void TColorManager::RowLabToRgb(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const {
  RowLab(source, target, count, mask, false);
}
void TColorManager::RowYCbCrToBgr(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const {
  RowChroma(source, target, count, mask, true, false);
}
void TColorManager::RowYCbCrToRgb(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const {
  RowChroma(source, target, count, mask, false, false);
}
void TColorManager::RowPhotoYccToBgr(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const {
  RowChroma(source, target, count, mask, true, true);
}
void TColorManager::RowPhotoYccToRgb(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const {
  RowChroma(source, target, count, mask, false, true);
}

// ---- Grey and indexed rows ---------------------------------------------------

void TColorManager::RowGrey(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const {
  const uint8_t sb = FSourceBitsPerSample, tb = FTargetBitsPerSample;
  if (!Is8Or16(sb) || !Is8Or16(tb)) return;
  RequirePlanes(source, 1);
  const size_t step = ((SourceFlags & cvAlpha) ? 2 : 1) * size_t{sb / 8u};
  const bool swap = SourceFlags & cvSwap16;
  const uint8_t* s = source[0];
  auto walk = [&](auto put) { WalkRow(target, count, mask, tb / 8u, step, [&](size_t off, uint8_t* t) { put(s + off, t); }); };
  if (sb == 8 && tb == 8 && mask == 0xFF) {
    // A whole row steps over the alpha samples without the pixel walk.
    for (size_t i = 0; i < count; ++i) target[i] = s[i * step];
  } else if (sb == 8 && tb == 8) walk([](const uint8_t* v, uint8_t* t) { t[0] = v[0]; });
  else if (sb == 8) walk([](const uint8_t* v, uint8_t* t) { StoreLE16(t, Expand8(v[0])); });
  else if (tb == 8) walk([swap](const uint8_t* v, uint8_t* t) { t[0] = Reduce16(Load16(v, swap)); });
  else walk([swap](const uint8_t* v, uint8_t* t) { StoreLE16(t, Load16(v, swap)); });
}

void TColorManager::RowIndexed(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const {
  const unsigned s = FSourceBitsPerSample, d = FTargetBitsPerSample;
  if (s < 1 || s > 8 || d < 1 || d > 8) return;
  RequirePlanes(source, 1);
  const uint8_t* src = source[0];
  if (s == d && mask == 0xFF) {
    // A plain copy; the bits past the row's last pixel keep their values.
    const uint64_t bits = uint64_t{count} * s;
    const size_t whole = bits / 8;
    if (target != src) std::memcpy(target, src, whole);
    if (const unsigned rest = bits % 8) {
      const uint8_t keep = static_cast<uint8_t>(0xFF >> rest);
      target[whole] = static_cast<uint8_t>((target[whole] & keep) | (src[whole] & ~keep));
    }
    return;
  }
  const uint16_t sourceMax = static_cast<uint16_t>((1u << s) - 1), targetMax = static_cast<uint16_t>((1u << d) - 1);
  uint8_t probe = 0x80;
  uint64_t sourceBit = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (mask & probe) {
      const uint16_t v = static_cast<uint16_t>(GetBits(src, sourceBit, s));
      PutBits(target, uint64_t{i} * d, d, MulDiv16(v, targetMax, sourceMax));
      sourceBit += s;
    }
    probe = RotateProbe(probe);
  }
}

void TColorManager::RowIndexed16To16(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const {
  if (FSourceBitsPerSample != 16 || FTargetBitsPerSample != 16) return;
  RequirePlanes(source, 1);
  const bool swap = SourceFlags & cvSwap16;
  const uint8_t* s = source[0];
  if (!swap && mask == 0xFF) {
    std::memcpy(target, s, size_t{count} * 2);
    return;
  }
  WalkRow(target, count, mask, 2, 2, [&](size_t off, uint8_t* t) { StoreLE16(t, Load16(s + off, swap)); });
}

void TColorManager::RowIndexed16To8(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const {
  const unsigned d = FTargetBitsPerSample;
  if (FSourceBitsPerSample != 16 || d < 1 || d > 8) return;
  RequirePlanes(source, 1);
  const bool swap = SourceFlags & cvSwap16;
  const uint16_t targetMax = static_cast<uint16_t>((1u << d) - 1);
  const uint8_t* s = source[0];
  uint8_t probe = 0x80;
  size_t offset = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (mask & probe) {
      PutBits(target, uint64_t{i} * d, d, MulDiv16(Load16(s + offset, swap), targetMax, 65535));
      offset += 2;
    }
    probe = RotateProbe(probe);
  }
}

void TColorManager::RowIndexed8To16(TRowSource source, uint8_t* target, uint32_t count, uint8_t mask) const {
  const unsigned s = FSourceBitsPerSample;
  if (s < 1 || s > 8 || FTargetBitsPerSample != 16) return;
  RequirePlanes(source, 1);
  const bool swap = SourceFlags & cvSwap16;
  const uint16_t sourceMax = static_cast<uint16_t>((1u << s) - 1);
  const uint8_t* src = source[0];
  uint64_t sourceBit = 0;
  WalkRow(target, count, mask, 2, 0, [&](size_t, uint8_t* t) {
    const uint16_t v = MulDiv16(static_cast<uint16_t>(GetBits(src, sourceBit, s)), 65535, sourceMax);
    StoreLE16(t, swap ? static_cast<uint16_t>(v << 8 | v >> 8) : v);
    sourceBit += s;
  });
}

}  // namespace tolvane
