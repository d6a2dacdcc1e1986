// Grouping of synthetic fingerprints: photographs' fingerprints are smooth
// (bright and dark regions, not noise), and about one file in six is a near
// copy of another (a few bits flipped), mostly of one of the twenty files
// before it (copies sort near their originals), else of any earlier file.
// Thresholds from 13 on never end a pass early: the worst case.
//   build-rel/bench/grouping_bench
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "app/DuplicateSearch.h"

using namespace tolvane;

namespace {

// A smooth random field of 16 x 8 cells, set where it is at least its mean.
Fingerprint SmoothPrint(std::mt19937& rng) {
  std::uniform_real_distribution<double> u(0, 1);
  double a[3], fx[3], fy[3], px[3], py[3];
  for (int k = 0; k < 3; ++k) a[k] = u(rng), fx[k] = u(rng) * 0.5, fy[k] = u(rng) * 0.8, px[k] = u(rng) * 6.3, py[k] = u(rng) * 6.3;
  double v[8][16], mean = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) {
      v[y][x] = 0;
      for (int k = 0; k < 3; ++k) v[y][x] += a[k] * std::cos(fx[k] * x + px[k]) * std::cos(fy[k] * y + py[k]);
      mean += v[y][x] / 128;
    }
  Fingerprint f;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x)
      if (v[y][x] >= mean) f.Words[y / 2] |= 1u << ((y % 2 ? 15 : 31) - x);
  return f;
}

std::vector<Fingerprint> Prints(size_t count) {
  std::mt19937 rng(12345);
  std::vector<Fingerprint> prints;
  prints.reserve(count);
  std::uniform_int_distribution<int> bit(0, 127), flips(0, 4), sixth(0, 5), near(1, 20);
  for (size_t i = 0; i < count; ++i) {
    if (i > 20 && sixth(rng) == 0) {
      size_t source = sixth(rng) < 4 ? i - static_cast<size_t>(near(rng))
                                     : std::uniform_int_distribution<size_t>(0, i - 1)(rng);
      Fingerprint f = prints[source];
      for (int n = flips(rng); n > 0; --n) {
        int b = bit(rng);
        f.Words[b / 32] ^= 1u << (b % 32);
      }
      prints.push_back(f);
    } else {
      prints.push_back(SmoothPrint(rng));
    }
  }
  return prints;
}

void BM_Grouping(benchmark::State& state) {
  static const std::vector<Fingerprint> prints = Prints(100000);
  const size_t n = static_cast<size_t>(state.range(0));
  std::vector<Fingerprint> list(prints.begin(), prints.begin() + static_cast<std::ptrdiff_t>(n));
  size_t rows = 0;
  for (auto _ : state) {
    auto groups = GroupFingerprints(list, {}, static_cast<uint8_t>(state.range(1)), {[] { return true; }, {}});
    rows = 0;
    for (const auto& g : *groups) rows += g.size() > 1;
    benchmark::DoNotOptimize(groups);
  }
  state.counters["rows"] = static_cast<double>(rows);
  state.counters["files/s"] = benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

BENCHMARK(BM_Grouping)
    ->ArgsProduct({{10000, 100000}, {1, 5, 10, 13}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
