#include "AICCabac.h"

#include <algorithm>

namespace tolvane {

TOLVANE_DEFINE_CLASS(TAICCabac, TObject)

// Tables 9-44 and 9-45 of ITU-T H.264.
const uint8_t kRangeTabLPS[64][4] = {
    {128, 176, 208, 240}, {128, 167, 197, 227}, {128, 158, 187, 216}, {123, 150, 178, 205},
    {116, 142, 169, 195}, {111, 135, 160, 185}, {105, 128, 152, 175}, {100, 122, 144, 166},
    { 95, 116, 137, 158}, { 90, 110, 130, 150}, { 85, 104, 123, 142}, { 81,  99, 117, 135},
    { 77,  94, 111, 128}, { 73,  89, 105, 122}, { 69,  85, 100, 116}, { 66,  80,  95, 110},
    { 62,  76,  90, 104}, { 59,  72,  86,  99}, { 56,  69,  81,  94}, { 53,  65,  77,  89},
    { 51,  62,  73,  85}, { 48,  59,  69,  80}, { 46,  56,  66,  76}, { 43,  53,  63,  72},
    { 41,  50,  59,  69}, { 39,  48,  56,  65}, { 37,  45,  54,  62}, { 35,  43,  51,  59},
    { 33,  41,  48,  56}, { 32,  39,  46,  53}, { 30,  37,  43,  50}, { 29,  35,  41,  48},
    { 27,  33,  39,  45}, { 26,  31,  37,  43}, { 24,  30,  35,  41}, { 23,  28,  33,  39},
    { 22,  27,  32,  37}, { 21,  26,  30,  35}, { 20,  24,  29,  33}, { 19,  23,  27,  31},
    { 18,  22,  26,  30}, { 17,  21,  25,  28}, { 16,  20,  23,  27}, { 15,  19,  22,  25},
    { 14,  18,  21,  24}, { 14,  17,  20,  23}, { 13,  16,  19,  22}, { 12,  15,  18,  21},
    { 12,  14,  17,  20}, { 11,  14,  16,  19}, { 11,  13,  15,  18}, { 10,  12,  15,  17},
    { 10,  12,  14,  16}, {  9,  11,  13,  15}, {  9,  11,  12,  14}, {  8,  10,  12,  14},
    {  8,   9,  11,  13}, {  7,   9,  11,  12}, {  7,   9,  10,  12}, {  7,   8,  10,  11},
    {  6,   8,   9,  11}, {  6,   7,   9,  10}, {  6,   7,   8,   9}, {  2,   2,   2,   2},
};
const uint8_t kTransIdxLPS[64] = {
     0,  0,  1,  2,  2,  4,  4,  5,  6,  7,  8,  9,  9, 11, 11, 12,
    13, 13, 15, 15, 16, 16, 18, 18, 19, 19, 21, 21, 22, 22, 23, 24,
    24, 25, 26, 26, 27, 27, 28, 29, 29, 30, 30, 30, 31, 32, 32, 33,
    33, 33, 34, 34, 35, 35, 35, 36, 36, 36, 37, 37, 37, 38, 38, 63,
};
const uint8_t kTransIdxMPS[64] = {
     1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15, 16,
    17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32,
    33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48,
    49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 62, 63,
};

namespace {

constexpr TAICInitPair kModeInit[2] = {{2, 48}, {4, 67}};

constexpr TAICInitPair kLastInit[63] = {
    {-29, 66}, {-25, 65}, {-28, 70}, {-22, 39}, {-28, 72}, {-23, 61}, {-22, 54}, {-21, 60}, {-22, 64},
    {-25, 60}, {-20, 37}, {-15, 39}, {-20, 56}, {-19, 54}, {-25, 67}, {-22, 59}, {-20, 57}, {-25, 65},
    {-26, 70}, {-19, 52}, {-22, 56}, {-23, 60}, {-17, 41}, {-19, 51}, {-24, 61}, {-20, 54}, {-27, 62},
    {-25, 77}, {-21, 78}, {-26, 71}, {-18, 68}, {-22, 63}, {-27, 72}, {-24, 71}, {-22, 65}, {-22, 70},
    {-23, 72}, {-21, 64}, {-24, 64}, {-24, 74}, {-24, 75}, {-24, 80}, {-22, 81}, {-20, 74}, {-20, 71},
    {-25, 78}, {-20, 78}, {-20, 78}, {-5, 55},  {-14, 63}, {-21, 74}, {-16, 77}, {-16, 70}, {-7, 63},
    {-12, 70}, {-12, 71}, {-4, 60},  {5, 49},   {1, 50},   {7, 46},   {5, 55},   {15, 41},  {25, 30}};

constexpr TAICInitPair kGreaterThanOneInit[5] = {{5, 57}, {181, -493}, {129, -330}, {-7, 32}, {-2, 45}};
constexpr TAICInitPair kLevelInit[5] = {{7, 28}, {2, 48}, {0, 57}, {1, 59}, {11, 55}};
constexpr TAICInitPair kCodedBlockInit = {31, 40};

}  // namespace

TAICCabac::TAICCabac(uint8_t quality, TStream& stream) : Quality(quality), Stream(&stream) { InitContexts(); }

TAICContext TAICCabac::InitContext(int32_t m, int32_t n) const {
  // Integer division cuts toward zero, as the format's tables expect.
  const int32_t pre = std::clamp(m * int32_t{Quality} / 32 + n, 1, 126);
  if (pre <= 63) return TAICContext{63 - pre, 0};
  return TAICContext{pre - 64, 1};
}

void TAICCabac::InitContexts() {
  using namespace AICContexts;
  Contexts.fill(TAICContext{});
  Contexts[kModeFlag] = InitContext(kModeInit[0].M, kModeInit[0].N);
  Contexts[kModeBits] = InitContext(kModeInit[1].M, kModeInit[1].N);
  // The significance contexts have no table of their own: the first 189
  // contexts take the mode pairs and the first 61 last pairs in turn. Files
  // depend on these states, so the arrangement stays.
  for (int j = 0; j < 189; ++j) {
    const int t = j % 63;
    const TAICInitPair& pair = t < 2 ? kModeInit[t] : kLastInit[t - 2];
    Contexts[static_cast<size_t>(j)] = InitContext(pair.M, pair.N);
  }
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < 63; ++i) Contexts[static_cast<size_t>(Last(c, i))] = InitContext(kLastInit[i].M, kLastInit[i].N);
    for (int n = 0; n < 5; ++n) {
      Contexts[static_cast<size_t>(GreaterThanOne(c, n))] =
          InitContext(kGreaterThanOneInit[n].M, kGreaterThanOneInit[n].N);
      Contexts[static_cast<size_t>(Level(c, n))] = InitContext(kLevelInit[n].M, kLevelInit[n].N);
    }
  }
  Contexts[kCodedBlock] = InitContext(kCodedBlockInit.M, kCodedBlockInit.N);
}

}  // namespace tolvane
