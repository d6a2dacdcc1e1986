// Grouping of synthetic fingerprints, timed per threshold.
//   build-rel/bench/grouping_bench COUNT THRESHOLD... [--set KIND] [--repeat R]
//                                  [--threads N] [--reference] [--check] [--cpu]
// prints one line "THRESHOLD SECONDS ROWS" per threshold (the median of R
// runs). KIND is the set of COUNT fingerprints:
//   smooth      photographs' fingerprints are smooth (bright and dark
//               regions, not noise), and about one file in six is a near
//               copy of another (a few bits flipped), mostly of one of the
//               twenty files before it (copies sort near their originals),
//               else of any earlier file (the default);
//   random      every bit drawn at random: no pass ever ends early from
//               threshold 10 on, and hardly any two files are alike;
//   identical   one fingerprint COUNT times;
//   unreadable  smooth, with three files in four unreadable.
// --reference times the file-by-file walk instead; --check runs it as well
// and fails unless both give the same groups; --cpu adds the processor time
// of all threads (a measure that a busy machine disturbs less).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sys/resource.h>
#include <string>
#include <vector>

#include "app/DuplicateSearch.h"

using namespace tolvane;

namespace {

// A smooth random field of 16 x 8 cells, set where it is at least its mean.
Fingerprint SmoothPrint(std::mt19937& rng) {
  std::uniform_real_distribution<double> u(0, 1);
  double a[3], fx[3], fy[3], px[3], py[3];
  for (int k = 0; k < 3; ++k)
    a[k] = u(rng), fx[k] = u(rng) * 0.5, fy[k] = u(rng) * 0.8, px[k] = u(rng) * 6.3, py[k] = u(rng) * 6.3;
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

std::vector<Fingerprint> SmoothPrints(size_t count) {
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

struct TSet {
  std::vector<Fingerprint> Prints;
  std::vector<uint8_t> Unreadable;
};

bool MakeSet(const std::string& kind, size_t count, TSet& set) {
  if (kind == "smooth") {
    set.Prints = SmoothPrints(count);
  } else if (kind == "random") {
    std::mt19937 rng(777);
    set.Prints.resize(count);
    for (Fingerprint& f : set.Prints)
      for (uint32_t& w : f.Words) w = static_cast<uint32_t>(rng());
  } else if (kind == "identical") {
    set.Prints.assign(count, SmoothPrints(1)[0]);
  } else if (kind == "unreadable") {
    set.Prints = SmoothPrints(count);
    set.Unreadable.resize(count);
    std::mt19937 rng(99);
    for (size_t i = 0; i < count; ++i)
      if (rng() % 4 != 0) set.Unreadable[i] = 1, set.Prints[i] = Fingerprint{};
  } else {
    return false;
  }
  return true;
}

double ProcessorSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

size_t Rows(const TGroups& groups) {
  return static_cast<size_t>(std::count_if(groups.begin(), groups.end(), [](const auto& g) { return g.size() > 1; }));
}

int Usage() {
  std::fprintf(stderr,
               "usage: grouping_bench COUNT THRESHOLD... [--set smooth|random|identical|unreadable] [--repeat R]\n"
               "                      [--threads N] [--reference] [--check] [--cpu]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const size_t count = std::strtoull(argv[1], nullptr, 10);
  std::vector<int> thresholds;
  std::string kind = "smooth";
  int repeat = 1;
  unsigned threads = 0;
  bool reference = false, check = false, cpu = false;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--set" && i + 1 < argc) kind = argv[++i];
    else if (a == "--repeat" && i + 1 < argc) repeat = std::max(1, std::atoi(argv[++i]));
    else if (a == "--threads" && i + 1 < argc) threads = static_cast<unsigned>(std::atoi(argv[++i]));
    else if (a == "--reference") reference = true;
    else if (a == "--check") check = true;
    else if (a == "--cpu") cpu = true;
    else if (!a.empty() && a[0] != '-') thresholds.push_back(std::atoi(a.c_str()));
    else return Usage();
  }
  TSet set;
  if (thresholds.empty() || !MakeSet(kind, count, set)) return Usage();
  const TGroupingHooks hooks{[] { return true; }, {}};
  int rc = 0;
  for (int t : thresholds) {
    const auto threshold = static_cast<uint8_t>(t & 0xFF);
    std::vector<double> seconds, processor;
    TGroups groups;
    for (int r = 0; r < repeat; ++r) {
      const double used = ProcessorSeconds();
      const auto start = std::chrono::steady_clock::now();
      auto grouped = reference ? ReferenceGroupFingerprints(set.Prints, set.Unreadable, threshold, hooks)
                               : GroupFingerprints(set.Prints, set.Unreadable, threshold, hooks, threads);
      seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      processor.push_back(ProcessorSeconds() - used);
      groups = std::move(*grouped);
    }
    std::sort(seconds.begin(), seconds.end());
    std::sort(processor.begin(), processor.end());
    if (cpu)
      std::printf("%d %.3f %zu %.3f\n", t, seconds[seconds.size() / 2], Rows(groups), processor[processor.size() / 2]);
    else std::printf("%d %.3f %zu\n", t, seconds[seconds.size() / 2], Rows(groups));
    std::fflush(stdout);
    if (check && !reference && ReferenceGroupFingerprints(set.Prints, set.Unreadable, threshold, hooks) != groups) {
      std::printf("%d differs from the file-by-file walk\n", t);
      rc = 1;
    }
  }
  return rc;
}
