#include "AICInvDCT.h"

namespace tolvane {

namespace {

using Ext = long double;

constexpr Ext kC1414 = 1.414213562L;
constexpr Ext kC1847 = 1.847759065L;
constexpr Ext kC1082 = 1.082392200L;
constexpr Ext kCm2613 = -2.613125930L;

// The even part e0..e3 and odd part o4..o7 of one 8-point pass over d[0..7].
struct TParts {
  double e0, e1, e2, e3, o4, o5, o6, o7;
};

TParts Transform8(const double d[8]) {
  TParts p;
  const double tmp0 = d[0], tmp1 = d[2], tmp2 = d[4], tmp3 = d[6];
  const double tmp10 = static_cast<double>(Ext(tmp0) + tmp2);
  const double tmp11 = static_cast<double>(Ext(tmp0) - tmp2);
  const double tmp13 = static_cast<double>(Ext(tmp1) + tmp3);
  const double tmp12 = static_cast<double>((Ext(tmp1) - tmp3) * kC1414 - tmp13);
  p.e0 = static_cast<double>(Ext(tmp10) + tmp13);
  p.e3 = static_cast<double>(Ext(tmp10) - tmp13);
  p.e1 = static_cast<double>(Ext(tmp11) + tmp12);
  p.e2 = static_cast<double>(Ext(tmp11) - tmp12);

  const double tmp4 = d[1], tmp5 = d[3], tmp6 = d[5], tmp7 = d[7];
  const double z13 = static_cast<double>(Ext(tmp6) + tmp5);
  const double z10 = static_cast<double>(Ext(tmp6) - tmp5);
  const double z11 = static_cast<double>(Ext(tmp4) + tmp7);
  const double z12 = static_cast<double>(Ext(tmp4) - tmp7);
  p.o7 = static_cast<double>(Ext(z11) + z13);
  const double t11 = static_cast<double>((Ext(z11) - z13) * kC1414);
  const double z5 = static_cast<double>((Ext(z10) + z12) * kC1847);
  const double t10 = static_cast<double>(Ext(z12) * kC1082 - z5);
  const double t12 = static_cast<double>(Ext(z10) * kCm2613 + z5);
  p.o6 = static_cast<double>(Ext(t12) - p.o7);
  p.o5 = static_cast<double>(Ext(t11) - p.o6);
  p.o4 = static_cast<double>(Ext(t10) + p.o5);
  return p;
}

}  // namespace

void InverseDCT(TAICBlock& block, const TAICQuantTable& dequant) {
  double workspace[64];
  for (int c = 0; c < 8; ++c) {
    bool acZero = true;
    for (int k = 1; k < 8 && acZero; ++k) acZero = block[static_cast<size_t>(8 * k + c)] == 0;
    if (acZero) {
      const double dc = static_cast<double>(Ext(block[static_cast<size_t>(c)]) * dequant[static_cast<size_t>(c)]);
      for (int k = 0; k < 8; ++k) workspace[8 * k + c] = dc;
      continue;
    }
    double d[8];
    for (int k = 0; k < 8; ++k)
      d[k] = static_cast<double>(Ext(block[static_cast<size_t>(8 * k + c)]) * dequant[static_cast<size_t>(8 * k + c)]);
    const TParts p = Transform8(d);
    workspace[0 * 8 + c] = static_cast<double>(Ext(p.e0) + p.o7);
    workspace[1 * 8 + c] = static_cast<double>(Ext(p.e1) + p.o6);
    workspace[2 * 8 + c] = static_cast<double>(Ext(p.e2) + p.o5);
    workspace[3 * 8 + c] = static_cast<double>(Ext(p.e3) - p.o4);
    workspace[4 * 8 + c] = static_cast<double>(Ext(p.e3) + p.o4);
    workspace[5 * 8 + c] = static_cast<double>(Ext(p.e2) - p.o5);
    workspace[6 * 8 + c] = static_cast<double>(Ext(p.e1) - p.o6);
    workspace[7 * 8 + c] = static_cast<double>(Ext(p.e0) - p.o7);
  }
  // Rows: the results are cut toward zero, not rounded.
  for (int r = 0; r < 8; ++r) {
    const TParts p = Transform8(&workspace[8 * r]);
    int32_t* out = &block[static_cast<size_t>(8 * r)];
    out[0] = SaturatingTrunc((Ext(p.e0) + p.o7) * 0.125L);
    out[1] = SaturatingTrunc((Ext(p.e1) + p.o6) * 0.125L);
    out[2] = SaturatingTrunc((Ext(p.e2) + p.o5) * 0.125L);
    out[3] = SaturatingTrunc((Ext(p.e3) - p.o4) * 0.125L);
    out[4] = SaturatingTrunc((Ext(p.e3) + p.o4) * 0.125L);
    out[5] = SaturatingTrunc((Ext(p.e2) - p.o5) * 0.125L);
    out[6] = SaturatingTrunc((Ext(p.e1) - p.o6) * 0.125L);
    out[7] = SaturatingTrunc((Ext(p.e0) - p.o7) * 0.125L);
  }
}

}  // namespace tolvane
