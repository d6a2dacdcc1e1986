#include "AICFwdDCT.h"

namespace tolvane {

namespace {

using Ext = long double;

constexpr Ext kC707 = 0.707106781L;
constexpr Ext kC382 = 0.382683433L;
constexpr Ext kC541 = 0.541196100L;
constexpr Ext kC1306 = 1.306562965L;

// One 8-point pass over in[0], in[stride], ... into out[0..7].
template <class T>
void Transform8(const T* in, int stride, double out[8]) {
  const double tmp0 = static_cast<double>(Ext(in[0]) + in[7 * stride]);
  const double tmp7 = static_cast<double>(Ext(in[0]) - in[7 * stride]);
  const double tmp1 = static_cast<double>(Ext(in[stride]) + in[6 * stride]);
  const double tmp6 = static_cast<double>(Ext(in[stride]) - in[6 * stride]);
  const double tmp2 = static_cast<double>(Ext(in[2 * stride]) + in[5 * stride]);
  const double tmp5 = static_cast<double>(Ext(in[2 * stride]) - in[5 * stride]);
  const double tmp3 = static_cast<double>(Ext(in[3 * stride]) + in[4 * stride]);
  const double tmp4 = static_cast<double>(Ext(in[3 * stride]) - in[4 * stride]);

  const double tmp10 = static_cast<double>(Ext(tmp0) + tmp3);
  const double tmp13 = static_cast<double>(Ext(tmp0) - tmp3);
  const double tmp11 = static_cast<double>(Ext(tmp1) + tmp2);
  const double tmp12 = static_cast<double>(Ext(tmp1) - tmp2);
  out[0] = static_cast<double>(Ext(tmp10) + tmp11);
  out[4] = static_cast<double>(Ext(tmp10) - tmp11);
  const double z1 = static_cast<double>((Ext(tmp12) + tmp13) * kC707);
  out[2] = static_cast<double>(Ext(tmp13) + z1);
  out[6] = static_cast<double>(Ext(tmp13) - z1);

  const double t10 = static_cast<double>(Ext(tmp4) + tmp5);
  const double t11 = static_cast<double>(Ext(tmp5) + tmp6);
  const double t12 = static_cast<double>(Ext(tmp6) + tmp7);
  const double z5 = static_cast<double>((Ext(t10) - t12) * kC382);
  const double z2 = static_cast<double>(Ext(t10) * kC541 + z5);
  const double z4 = static_cast<double>(Ext(t12) * kC1306 + z5);
  const double z3 = static_cast<double>(Ext(t11) * kC707);
  const double z11 = static_cast<double>(Ext(tmp7) + z3);
  const double z13 = static_cast<double>(Ext(tmp7) - z3);
  out[5] = static_cast<double>(Ext(z13) + z2);
  out[3] = static_cast<double>(Ext(z13) - z2);
  out[1] = static_cast<double>(Ext(z11) + z4);
  out[7] = static_cast<double>(Ext(z11) - z4);
}

// Rounds to the nearest integer with halves upward (for every value above
// -16384), saturating symmetrically where the 32-bit range ends so that
// every coefficient has a magnitude.
int32_t Quantise(double value, double quant) {
  const int64_t q = int64_t{SaturatingTrunc(Ext(value) * quant + 16384.5L)} - 16384;
  return static_cast<int32_t>(q < -INT32_MAX ? -INT32_MAX : q);
}

}  // namespace

void ForwardDCT(TAICBlock& block, const TAICQuantTable& quant) {
  double workspace[64];
  // Rows: the sums of the first stage are integer sums, exact in a double.
  for (int r = 0; r < 8; ++r) Transform8(&block[static_cast<size_t>(8 * r)], 1, &workspace[8 * r]);
  for (int c = 0; c < 8; ++c) {
    double out[8];
    Transform8(&workspace[c], 8, out);
    for (int k = 0; k < 8; ++k) block[static_cast<size_t>(8 * k + c)] = Quantise(out[k], quant[static_cast<size_t>(8 * k + c)]);
  }
}

}  // namespace tolvane
