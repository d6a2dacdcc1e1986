#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <stdexcept>
#include <thread>

#include "app/DuplicateSearch.h"
#include "app/GroupingIndex.h"
#include "app/GroupingKernels.h"
#include "app/TaskPool.h"

namespace tolvane {
namespace {

using Groups = std::vector<std::vector<uint32_t>>;
using Marks = std::vector<uint8_t>;

// A fingerprint with bits first..last set, and the bits of more.
Fingerprint Bits(std::initializer_list<int> more, int first = 0, int last = -1) {
  Fingerprint f;
  for (int b : more) f.Words[b / 32] |= 1u << (b % 32);
  for (int b = first; b <= last; ++b) f.Words[b / 32] |= 1u << (b % 32);
  return f;
}

// The grouping and the file-by-file walk it must agree with.
using TGroupFunction = std::function<std::optional<Groups>(const std::vector<Fingerprint>&, const Marks&, uint8_t)>;
const TGroupFunction Fast = [](const auto& prints, const auto& unreadable, uint8_t t) {
  return GroupFingerprints(prints, unreadable, t);
};
const TGroupFunction Walk = [](const auto& prints, const auto& unreadable, uint8_t t) {
  return ReferenceGroupFingerprints(prints, unreadable, t);
};

TEST(Grouping, PassesEndBeyondTenTimesTheThreshold) {
  const Fingerprint A = Bits({}), B = Bits({0}), X = Bits({}, 0, 20), flat = Bits({}, 0, 127);
  for (const TGroupFunction& group : {Fast, Walk}) {
    const auto Group = [&](const std::vector<Fingerprint>& prints, uint8_t t) { return group(prints, {}, t).value(); };
    // t = 2: d(A,B) = 1, d(A,X) = 21 > 20, d(X,B) = 20. A's pass stops at
    // X, X does not take B, B's backward pass passes X and takes A.
    EXPECT_EQ(Group({A, X, B}, 2), (Groups{{0}, {1}, {2, 0}}));
    // With M close to A before X, A stands in two groups.
    EXPECT_EQ(Group({A, A, X, B}, 2), (Groups{{0, 1}, {2}, {3, 0}}));
    // A flat picture is 128 from an all-zero print and ends every pass.
    EXPECT_EQ(Group({A, A, flat}, 1), (Groups{{0, 1}, {2}}));
    EXPECT_EQ(Group({A, flat, A}, 1), (Groups{{0}, {1}, {2}}));
    EXPECT_EQ(Group({A, flat, A}, 13), (Groups{{0, 2}, {1}}));
    // t = 3: A and A2 are 4 apart but both 2 from B; X (31 from A and A2,
    // 29 from B) ends the passes of A and A2 before B but not B's backward
    // pass. Members: first file, forward ascending, backward descending.
    const Fingerprint A1 = Bits({0, 1}), A2 = Bits({2, 3}), X2 = Bits({0, 2}, 99, 127), B2 = Bits({0, 2});
    EXPECT_EQ(Group({A1, A2, X2, B2, Bits({0, 2, 50}), Bits({0, 2, 51})}, 3), (Groups{{0}, {1}, {2}, {3, 4, 5, 1, 0}}));
    EXPECT_EQ(Group({B, B, B}, 1), (Groups{{0, 1, 2}}));
    EXPECT_EQ(Group({B, B, B}, 0), (Groups{{0}, {1}, {2}}));  // nothing is below 0
    EXPECT_EQ(Group({}, 5), Groups{});
  }
}

TEST(Grouping, UnreadableFilesStartNoGroupJoinNoneAndEndNoPass) {
  // Unreadable files carry the all-zero print, 128 from a flat picture.
  const Fingerprint flat = Bits({}, 0, 127), zero;
  for (const TGroupFunction& group : {Fast, Walk}) {
    EXPECT_EQ(group({flat, zero, flat}, Marks{0, 1, 0}, 1).value(), (Groups{{0, 2}}));
    EXPECT_EQ(group({zero, zero, flat, flat}, Marks{1, 1, 0, 0}, 1).value(), (Groups{{2, 3}}));
    EXPECT_EQ(group({zero, zero}, Marks{1, 1}, 200).value(), Groups{});
    EXPECT_THROW(group({zero, zero}, Marks{1}, 1), std::invalid_argument);
  }
}

// Sets that make the walk take every turn: families of near copies (passes
// that take), their complements (passes that end), random prints, and
// unreadable files among them.
struct TSet {
  std::vector<Fingerprint> Prints;
  Marks Unreadable;
};

TSet MakeSet(std::mt19937& rng, size_t count, int kind) {
  TSet set;
  std::vector<Fingerprint> bases(1 + rng() % 40);
  for (Fingerprint& b : bases)
    for (uint32_t& w : b.Words) w = static_cast<uint32_t>(rng());
  const int flips = 1 + static_cast<int>(rng() % 24);
  // Complements end passes early: often, or so rarely that passes run long.
  const unsigned complements = 2 + static_cast<unsigned>(rng() % 2 ? rng() % 4 : rng() % 400);
  for (size_t i = 0; i < count; ++i) {
    Fingerprint f = bases[rng() % bases.size()];
    if (kind == 1 && rng() % complements == 0)
      for (uint32_t& w : f.Words) w = ~w;
    if (kind == 2) {
      for (uint32_t& w : f.Words) w = static_cast<uint32_t>(rng());
    } else {
      for (int n = static_cast<int>(rng() % static_cast<unsigned>(flips)); n > 0; --n) {
        const auto b = rng() % 128;
        f.Words[b / 32] ^= 1u << (b % 32);
      }
    }
    set.Prints.push_back(f);
  }
  if (rng() % 2) {
    set.Unreadable.resize(count);
    for (uint8_t& u : set.Unreadable) u = rng() % 4 == 0;
  }
  return set;
}

TEST(Grouping, AgreesWithTheWalkOnManySetsEveryWay) {
  std::mt19937 rng(2024);
  const uint8_t thresholds[] = {0,  1,  2,  3,  4,  5,  6,  7,  8,   9,   10,  11,
                                12, 13, 14, 17, 25, 32, 40, 64, 100, 128, 129, 255};
  const TGroupingWays ways[] = {TGroupingWays::Cheapest, TGroupingWays::Scans, TGroupingWays::Indexes};
  for (size_t count : {0, 1, 2, 3, 70, 1100, 3500}) {
    for (int kind = 0; kind < 3; ++kind) {
      const TSet set = MakeSet(rng, count, kind);
      for (uint8_t t : thresholds) {
        const auto walk = ReferenceGroupFingerprints(set.Prints, set.Unreadable, t);
        for (TGroupingWays way : ways) {
          const unsigned threads = 1 + rng() % 4;
          ASSERT_EQ(GroupFingerprintsIn(way, set.Prints, set.Unreadable, t, {}, threads), walk)
              << count << " files, set " << kind << ", threshold " << int{t} << ", way " << int(way) << ", "
              << threads << " threads";
        }
      }
    }
  }
}

TEST(Grouping, IndexFindsWhatATestOfEveryEntryFinds) {
  std::mt19937_64 rng(3);
  std::vector<TPackedPrint> prints(5000);
  for (size_t e = 0; e < prints.size(); ++e)  // near copies among random prints
    prints[e] = e % 4 && e > 10 ? TPackedPrint{prints[e - 7].Hi ^ (rng() & rng() & rng()), prints[e - 7].Lo}
                               : TPackedPrint{rng(), rng()};
  std::vector<uint64_t> alive((prints.size() + 63) / 64);
  for (uint64_t& a : alive) a = rng() | rng();
  for (int radius : {0, 3, 7, 8, 12, 17, 24, 31}) {
    TPrintIndex index(prints, radius);
    for (size_t t = 0; t < index.Tables(); ++t) index.Build(t);
    for (size_t q = 0; q < 200; ++q) {
      const TPackedPrint query = prints[rng() % prints.size()];
      const size_t from = rng() % 2000, to = from + rng() % 3000;
      std::vector<uint32_t> found, expected;
      index.Find(query, from, to, &alive, found);
      for (size_t e = from; e < to; ++e)
        if (PackedDistance(prints[e], query) <= radius && (alive[e / 64] >> (e % 64) & 1))
          expected.push_back(static_cast<uint32_t>(e));
      ASSERT_EQ(found, expected) << "radius " << radius;
    }
  }
}

TEST(Grouping, YieldAndProgressStayOnTheCallingThread) {
  std::mt19937 rng(7);
  const TSet set = MakeSet(rng, 3000, 1);
  const auto self = std::this_thread::get_id();
  for (uint8_t t : {uint8_t{5}, uint8_t{13}}) {
    std::atomic<int> elsewhere = 0;
    std::vector<size_t> done;
    int yields = 0;
    const TGroupingHooks hooks{[&] {
                                 elsewhere += std::this_thread::get_id() != self;
                                 ++yields;
                                 return true;
                               },
                               [&](size_t i) {
                                 elsewhere += std::this_thread::get_id() != self;
                                 done.push_back(i);
                               }};
    const auto groups = GroupFingerprints(set.Prints, set.Unreadable, t, hooks, 4);
    ASSERT_TRUE(groups);
    EXPECT_EQ(elsewhere, 0);
    EXPECT_GE(yields, 1);
    // One GroupDone per group, after it, in list order.
    ASSERT_EQ(done.size(), groups->size());
    for (size_t g = 0; g < done.size(); ++g) EXPECT_EQ(done[g], (*groups)[g][0]);
  }
}

TEST(Grouping, YieldStopsTheGroupingMidway) {
  std::mt19937 rng(11);
  const TSet set = MakeSet(rng, 3000, 2);
  for (uint8_t t : {uint8_t{0}, uint8_t{9}, uint8_t{20}}) {
    // The first turn comes before any distance; the second once a period
    // has passed, which the first turn makes sure of.
    int turns = 0;
    size_t done = 0;
    const TGroupingHooks stop{[&] {
                                if (turns++ > 0) return false;
                                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                                return true;
                              },
                              [&](size_t) { ++done; }};
    EXPECT_FALSE(GroupFingerprints(set.Prints, set.Unreadable, t, stop, 3)) << int{t};
    EXPECT_EQ(turns, 2);
    EXPECT_LT(done, 3000u);
    // A window failing in its turn: the workers end before the failure
    // passes on.
    turns = 0;
    const TGroupingHooks fail{[&]() -> bool {
                                if (turns++ > 0) throw std::runtime_error("window gone");
                                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                                return true;
                              },
                              {}};
    EXPECT_THROW(GroupFingerprints(set.Prints, set.Unreadable, t, fail, 3), std::runtime_error);
  }
  EXPECT_FALSE(GroupFingerprints(std::vector<Fingerprint>(2), {}, 1, {[] { return false; }, {}}));
}

TEST(Grouping, EveryKernelGivesTheSameMasksAndDistances) {
  std::mt19937_64 rng(5);
  std::vector<uint64_t> hi(KernelBlock), lo(KernelBlock);
  std::vector<TPackedPrint> queries(9);
  const auto kernels = AvailableGroupingKernels();
  for (int round = 0; round < 50; ++round) {
    for (size_t e = 0; e < KernelBlock; ++e) {
      // Near copies of the first query as well as random entries.
      hi[e] = e % 3 ? rng() : queries[0].Hi ^ (uint64_t{1} << (rng() % 64));
      lo[e] = e % 3 ? rng() : queries[0].Lo;
    }
    for (TPackedPrint& q : queries) q = {rng(), rng()};
    const int radius = static_cast<int>(rng() % 131), limit = static_cast<int>(rng() % 131);
    std::vector<uint64_t> near(queries.size()), far(queries.size()), n(queries.size()), f(queries.size());
    std::vector<uint8_t> distances(KernelBlock), d(KernelBlock);
    kernels.back()->BlockMasks(hi.data(), lo.data(), queries.data(), queries.size(), radius, limit, near.data(),
                               far.data());
    kernels.back()->Distances(hi.data(), lo.data(), 61, queries[1], distances.data());
    for (size_t e = 0; e < 61; ++e) ASSERT_EQ(distances[e], PackedDistance({hi[e], lo[e]}, queries[1]));
    for (const TGroupingKernels* k : kernels) {
      k->BlockMasks(hi.data(), lo.data(), queries.data(), queries.size(), radius, limit, n.data(), f.data());
      k->Distances(hi.data(), lo.data(), 61, queries[1], d.data());
      EXPECT_EQ(n, near) << k->Name;
      EXPECT_EQ(f, far) << k->Name;
      EXPECT_EQ(std::vector(d.begin(), d.begin() + 61), std::vector(distances.begin(), distances.begin() + 61))
          << k->Name;
    }
  }
}

TEST(Grouping, PoolRunsEveryTaskOnceAndStopsWhenAsked) {
  TTaskPool pool(4);
  for (size_t count : {0, 1, 7, 5000}) {  // one job after another on the same workers
    std::vector<std::atomic<int>> runs(count);
    EXPECT_TRUE(pool.Run(count, [&](size_t k) { ++runs[k]; }, [] { return true; }));
    for (size_t k = 0; k < count; ++k) ASSERT_EQ(runs[k], 1) << count << " " << k;
  }
  std::atomic<size_t> started = 0;
  const auto slow = [&](size_t) {
    ++started;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  EXPECT_FALSE(pool.Run(1000, slow, [] { return false; }));
  EXPECT_LT(started, 1000u);
  EXPECT_THROW(pool.Run(100, [](size_t k) { if (k == 50) throw std::runtime_error("task"); }, [] { return true; }),
               std::runtime_error);
  EXPECT_TRUE(pool.Run(3, [](size_t) {}, [] { return true; }));  // still usable
}

}  // namespace
}  // namespace tolvane
