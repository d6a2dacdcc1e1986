// The grouping, fast: the same groups as the file-by-file walk
// (ReferenceGrouping.cpp), found with fewer and cheaper distances.
//
// What makes that possible:
// - A pass only ever tests files not yet taken, and a group's first file
//   is never tested by a later forward pass (those go forward from a later
//   file). So the forward passes run over a list of the files still to be
//   tested, in list order, from which taken and finished files drop out.
// - The files are taken in batches. Within a batch the walk goes file by
//   file; beyond it, the passes of the batch's groups that have not ended
//   yet go over the rest of the list together, block by block, on every
//   thread. A block's distances to every such group's first file are
//   computed at once (GroupingKernels), and the blocks' effects are then
//   applied group after group, block after block: a group's pass depends
//   only on what the groups before it took, and on where it ended itself.
// - Where no distance can exceed 10 x threshold (from threshold 13 on), no
//   pass ends early and every block's effects are independent of the
//   other blocks, so each thread applies them to its own blocks.
// - Passes that go on far find what they take, and where they end, in
//   indexes (GroupingIndex) where that costs less than testing every file.
// - A backward pass can only meet the first files of earlier groups. One
//   whose forward pass has not ended by file i tested i and found it
//   neither close enough to take nor far enough to end the pass: the
//   backward pass of i passes it by without a test. So the backward passes
//   test only the first files whose forward pass ended at or before i
//   (TStarters), and where those are many, an index tells how far down
//   one of them is close enough to be taken: below it a pass takes nothing.
// - A backward pass takes nothing a forward pass tests, so the batch's
//   forward passes go first, then its backward passes.
#include <chrono>
#include <stdexcept>
#include <utility>

#include "DuplicateSearch.h"
#include "FingerprintPool.h"
#include "GroupingIndex.h"
#include "GroupingKernels.h"
#include "GroupingLists.h"
#include "TaskPool.h"

namespace tolvane {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto YieldPeriod = std::chrono::milliseconds(1);
// Files walked one by one before the passes beyond them go on together.
constexpr size_t BatchFiles = 1024;
// Entries of the list per task beyond a batch (a fraction of a millisecond).
constexpr size_t ChunkEntries = 16 * Block;
// What the blocks of one round of passes beyond a batch may record.
constexpr size_t RecordsPerRound = size_t{1} << 21;
// Tests below which a round of work stays on the calling thread.
constexpr size_t WorkForThreads = size_t{1} << 18;
// Groups whose passes the indexes serve at once.
constexpr size_t GroupsPerQueryRound = 256;
// Segments every backward pass tests alone, before those that go on go
// on together.
constexpr size_t BackwardSegmentsAlone = 4;

// Gives Yield its turns on the calling thread: the first time it is asked,
// then whenever a period has passed since the last turn.
class TYielder {
public:
  explicit TYielder(const TGroupingHooks& hooks) : FYield(hooks.Yield) {}
  bool Tick() {
    if (!FYield) return true;
    const auto now = Clock::now();
    if (FTurns > 0 && now - FLast < YieldPeriod) return true;
    ++FTurns;
    FLast = now;
    return FYield();
  }

private:
  const std::function<bool()>& FYield;
  Clock::time_point FLast;
  size_t FTurns = 0;
};

// A group of the batch being walked; files by rank.
struct TBatchGroup {
  uint32_t Rank;
  TPackedPrint Print;
  std::vector<uint32_t> Forward, Backward;
  bool Open = true;  // its forward pass has not ended yet
};

// What the blocks of a pass beyond the batch found for one group.
struct TBlockRecord {
  uint32_t Group;
  uint32_t Block;
  uint64_t Near, Far;
};

inline TPackedPrint Complement(const TPackedPrint& p) { return {~p.Hi, ~p.Lo}; }

class TFastGrouping {
public:
  TFastGrouping(std::span<const Fingerprint> prints, std::span<const uint8_t> unreadable, uint8_t threshold,
                const TGroupingHooks& hooks, unsigned threads, TGroupingWays ways)
      : FWays(ways), FReadable(Readable(prints, unreadable)), FPending(FReadable.second),
        FStarters(FReadable.first.size()), FRadius(threshold - 1), FLimit(10 * threshold), FStops(FLimit < 128),
        FHooks(hooks), FYielder(hooks), FKernels(GroupingKernels()),
        FPool(threads ? threads : WorkerCount(0, 1 + FPending.Size() / ChunkEntries)) {}

  std::optional<TGroups> Run() {
    if (FPending.Size() >= 2 && !FYielder.Tick()) return std::nullopt;
    if (FRadius < 0) return Singletons();
    for (size_t cursor = 0; FPending.AliveCount() > 0;) {
      const size_t end = FPending.AfterAlive(cursor, BatchFiles);
      if (!WalkBatch(cursor, end) || !PassesBeyond(end)) return std::nullopt;
      CloseBatch();
      cursor = end;
      if (FPending.Size() > 2 * FPending.AliveCount() + ChunkEntries) {
        FPending.Compact(cursor);
        cursor = 0;
      }
    }
    return std::move(FGroups);
  }

private:
  using TReadable = std::pair<std::vector<uint32_t>, std::vector<TPackedPrint>>;
  // The readable files and their fingerprints, in list order.
  static TReadable Readable(std::span<const Fingerprint> prints, std::span<const uint8_t> unreadable) {
    TReadable readable;
    for (size_t i = 0; i < prints.size(); ++i) {
      if (!unreadable.empty() && unreadable[i]) continue;
      readable.first.push_back(static_cast<uint32_t>(i));
      readable.second.push_back(Pack(prints[i]));
    }
    return readable;
  }
  uint32_t File(uint32_t rank) const { return FReadable.first[rank]; }
  const std::vector<TPackedPrint>& Prints() const { return FReadable.second; }
  bool Tick() { return FYielder.Tick(); }

  // Runs count tasks of about work tests in all on every thread, or, where
  // waking the threads would cost more than the work, here.
  bool RunTasks(size_t count, size_t work, const std::function<void(size_t)>& task) {
    if (work >= WorkForThreads) return FPool.Run(count, task, [this] { return Tick(); });
    for (size_t k = 0; k < count; ++k) {
      task(k);
      if (!Tick()) return false;
    }
    return true;
  }

  // Threshold 0: nothing is below it, so every file is a group of its own.
  std::optional<TGroups> Singletons() {
    for (uint32_t r = 0; r < FPending.Size(); ++r) {
      if (r % Block == 0 && !Tick()) return std::nullopt;
      FGroups.push_back({File(r)});
      if (FHooks.GroupDone) FHooks.GroupDone(File(r));
    }
    return std::move(FGroups);
  }

  // The files of [from, to) one by one: each one still there starts a
  // group, whose forward pass is made as far as the batch reaches; then
  // the groups' backward passes.
  bool WalkBatch(size_t from, size_t to) {
    for (size_t e = from; e < to; ++e) {
      if (!FPending.IsAlive(e)) continue;
      if (!Tick()) return false;
      FPending.Take(e / Block, uint64_t{1} << (e % Block), nullptr);
      TBatchGroup& g = FBatch.emplace_back(TBatchGroup{FPending.Rank(e), FPending.Print(e), {}, {}, true});
      const size_t end = ForwardWithin(g, e + 1, to);
      if (end == SIZE_MAX || !FStops) continue;
      g.Open = false;
      FStarters.PassEndedAt(g.Rank, g.Print, FPending.Rank(end));
    }
    return !FStops || BackwardPasses();
  }

  // The forward pass of g over [from, to); the entry it ended at, or
  // SIZE_MAX.
  size_t ForwardWithin(TBatchGroup& g, size_t from, size_t to) {
    constexpr size_t Lookahead = 4;  // blocks tested before the first is looked at
    for (size_t b = from / Block; b * Block < to;) {
      size_t blocks[Lookahead];
      uint64_t near[Lookahead], far[Lookahead];
      size_t count = 0;
      for (; count < Lookahead && b * Block < to; ++b) {
        if (!(FPending.Alive(b) & RangeBits(b, from, to))) continue;
        blocks[count] = b;
        FKernels.BlockMasks(FPending.Hi(b), FPending.Lo(b), &g.Print, 1, FRadius, FLimit, &near[count], &far[count]);
        ++count;
      }
      for (size_t a = 0; a < count; ++a) {
        const uint64_t alive = FPending.Alive(blocks[a]) & RangeBits(blocks[a], from, to);
        uint64_t n = near[a] & alive;
        const uint64_t f = far[a] & alive;
        if (f) n &= LowBits(LowestBit(f));
        FPending.Take(blocks[a], n, &g.Forward);
        if (f) return blocks[a] * Block + LowestBit(f);
      }
    }
    return SIZE_MAX;
  }

  // The batch's backward passes, in list order: first over the latest few
  // segments one by one, where most end; those that go on, where they go
  // on far, find the files close to their group's first file in an index
  // on every thread if that costs less, since a pass need go no lower than
  // the lowest of them it could take, and not at all where there is none.
  // Otherwise they go on together, segment by segment, on every thread.
  bool BackwardPasses() {
    std::vector<TBatchGroup*> groups;
    for (TBatchGroup& g : FBatch)
      if (File(g.Rank) >= 2) groups.push_back(&g);
    // A pass that goes on goes on below the rank it reached, after the
    // later groups' first segments: starters that join later only push
    // those segments up, so they never reach below that rank.
    std::vector<uint32_t> below;
    size_t kept = 0;
    for (TBatchGroup* g : groups) {
      if (!Tick()) return false;
      FStarters.JoinUpTo(g->Rank);
      const auto [ended, reached] = FStarters.Backward(g->Print, g->Rank, g->Rank, 0, BackwardSegmentsAlone, FRadius,
                                                       FLimit, FKernels, g->Backward);
      if (ended) continue;
      groups[kept++] = g;
      below.push_back(reached);
    }
    groups.resize(kept);
    bool index = false;
    const bool done = groups.empty() || (BackwardIndexPays(groups, index) &&
                                         (index ? BackwardByIndex(groups, below) : BackwardTogether(groups, below)));
    FStarters.Prune();
    return done;
  }

  // Whether the index costs less, on every thread, than the tests the last
  // batch's long backward passes made. False when Yield said stop.
  bool BackwardIndexPays(const std::vector<TBatchGroup*>& groups, bool& pays) {
    // A segment's test, in the time a pass over the list takes per entry.
    constexpr double SegmentCost = 1.5 * Block;
    // Once it paid, it goes on paying: the starters only grow in number.
    pays = FBackwardIndex;
    const size_t passes = std::exchange(FBackwardPasses, 0), segments = std::exchange(FBackwardSegments, 0);
    if (pays || FWays == TGroupingWays::Scans || FRadius > TPrintIndex::MaxRadius) return true;
    if (FWays == TGroupingWays::Cheapest && segments <= BackwardSegmentsAlone * passes) return true;
    if (!FCloseIndex && !BuildIndex(FCloseIndex, FRadius)) return false;
    if (FWays == TGroupingWays::Indexes) return pays = true;
    constexpr size_t Samples = 8;
    double cost = 0;
    const size_t step = std::max<size_t>(1, groups.size() / Samples);
    for (size_t k = 0; k < groups.size(); k += step) cost += FCloseIndex->Cost(groups[k]->Print);
    const auto sampled = static_cast<double>((groups.size() + step - 1) / step);
    FBackwardIndex = pays = cost / sampled < SegmentCost * static_cast<double>(segments) / static_cast<double>(passes);
    return true;
  }

  bool BackwardByIndex(const std::vector<TBatchGroup*>& groups, const std::vector<uint32_t>& below) {
    std::vector<std::vector<uint32_t>> close(groups.size());
    const auto task = [&](size_t k) { FCloseIndex->Find(groups[k]->Print, 0, below[k], nullptr, close[k]); };
    if (!RunTasks(groups.size(), groups.size() * BatchFiles, task)) return false;
    for (size_t k = 0; k < groups.size(); ++k) {
      TBatchGroup& g = *groups[k];
      if (!Tick()) return false;
      const auto c = std::find_if(close[k].begin(), close[k].end(),
                                  [&](uint32_t r) { return FStarters.IsTestedBy(r, g.Rank); });
      if (c == close[k].end()) continue;
      FStarters.Backward(g.Print, g.Rank, below[k], *c, SIZE_MAX, FRadius, FLimit, FKernels, g.Backward);
    }
    return true;
  }

  // The segments of a round are measured against every group still going
  // on every thread, then their effects applied, latest segment first,
  // group after group, here.
  bool BackwardTogether(std::vector<TBatchGroup*> groups, std::vector<uint32_t> below) {
    constexpr size_t SegmentsPerTask = 4;
    FBackwardPasses += groups.size();
    size_t top = FStarters.Segments(), round = 16 * SegmentsPerTask;
    while (!groups.empty() && top > 0) {
      round = std::min(round, std::max<size_t>(SegmentsPerTask, RecordsPerRound / groups.size()));
      const size_t low = top > round ? top - round : 0, tasks = (top - low + SegmentsPerTask - 1) / SegmentsPerTask;
      const std::vector<TPackedPrint> queries = Queries(groups);
      std::vector<std::vector<TBlockRecord>> records(tasks);
      const auto task = [&](size_t c) {
        std::vector<uint64_t> near(queries.size()), far(queries.size());
        const size_t last = top - c * SegmentsPerTask, first = std::max(low, last - std::min(last, SegmentsPerTask));
        for (size_t k = last; k-- > first;) {
          const TStarters::TSegment& s = FStarters.Segment(k);
          if (!s.Live) continue;
          FKernels.BlockMasks(s.Hi.data(), s.Lo.data(), queries.data(), queries.size(), FRadius, FLimit, near.data(),
                              far.data());
          for (size_t q = 0; q < queries.size(); ++q)
            if ((near[q] | far[q]) & s.Live)
              records[c].push_back({static_cast<uint32_t>(q), static_cast<uint32_t>(k), near[q], far[q]});
        }
      };
      if (!RunTasks(tasks, queries.size() * (top - low) * Block, task)) return false;
      std::vector<uint8_t> ended(groups.size(), 0);
      for (const auto& chunk : records)
        for (const TBlockRecord& r : chunk)
          if (!ended[r.Group])
            ended[r.Group] = FStarters.Apply(r.Block, groups[r.Group]->Rank, below[r.Group], r.Near, r.Far,
                                             groups[r.Group]->Backward);
      FBackwardSegments += groups.size() * (top - low);
      size_t kept = 0;
      for (size_t q = 0; q < groups.size(); ++q)
        if (!ended[q]) groups[kept] = groups[q], below[kept++] = below[q];
      groups.resize(kept);
      below.resize(kept);
      top = low;
      round *= 2;
    }
    return true;
  }

  // The passes of the batch's open groups over the rest of the list.
  bool PassesBeyond(size_t from) {
    std::vector<TBatchGroup*> open;
    for (TBatchGroup& g : FBatch)
      if (g.Open) open.push_back(&g);
    if (open.empty() || from >= FPending.Size()) return true;
    return FStops ? PassesThatMayEnd(std::move(open), from) : PassesToTheEnd(open, from);
  }

  std::vector<TPackedPrint> Queries(const std::vector<TBatchGroup*>& groups) const {
    std::vector<TPackedPrint> queries;
    queries.reserve(groups.size());
    for (const TBatchGroup* g : groups) queries.push_back(g->Print);
    return queries;
  }

  // The tasks for [from, to): chunks of whole blocks.
  static size_t ChunkCount(size_t from, size_t to) { return (to - 1) / ChunkEntries - from / ChunkEntries + 1; }
  static std::pair<size_t, size_t> Chunk(size_t from, size_t to, size_t k) {
    const size_t first = (from / ChunkEntries + k) * ChunkEntries;
    return {std::max(first, from), std::min(first + ChunkEntries, to)};
  }

  // No pass can end: what each block loses depends on that block alone, so
  // each task applies its blocks' effects itself, group after group.
  bool PassesToTheEnd(const std::vector<TBatchGroup*>& groups, size_t from) {
    if (IndexPays(groups)) return PassesByIndex(groups, from);
    const size_t to = FPending.Size(), chunks = ChunkCount(from, to);
    const std::vector<TPackedPrint> queries = Queries(groups);
    std::vector<std::vector<TBlockRecord>> taken(chunks);
    const auto task = [&](size_t k) {
      std::vector<uint64_t> near(queries.size()), far(queries.size());
      const auto [first, last] = Chunk(from, to, k);
      for (size_t b = first / Block; b * Block < last; ++b) {
        uint64_t alive = FPending.Alive(b) & RangeBits(b, first, last);
        if (!alive) continue;
        const uint64_t outside = FPending.Alive(b) & ~RangeBits(b, first, last);
        FKernels.BlockMasks(FPending.Hi(b), FPending.Lo(b), queries.data(), queries.size(), FRadius, FLimit,
                            near.data(), far.data());
        for (size_t q = 0; q < queries.size() && alive; ++q) {
          const uint64_t bits = near[q] & alive;
          if (!bits) continue;
          alive &= ~bits;
          taken[k].push_back({static_cast<uint32_t>(q), static_cast<uint32_t>(b), bits, 0});
        }
        FPending.SetAlive(b, alive | outside);
      }
    };
    if (!RunTasks(chunks, queries.size() * (to - from), task)) return false;
    for (const auto& chunk : taken)
      for (const TBlockRecord& r : chunk) FPending.Forget(r.Block, r.Near, &groups[r.Group]->Forward);
    return true;
  }

  // Passes may end: the blocks of a round are measured on every thread,
  // then their effects are applied in list order, group after group, here.
  bool PassesThatMayEnd(std::vector<TBatchGroup*> groups, size_t from) {
    const size_t to = FPending.Size();
    size_t round = ChunkEntries * FPool.Threads();
    while (!groups.empty() && from < to) {
      round = std::min(round, std::max(ChunkEntries, RecordsPerRound / groups.size() * Block));
      const size_t until = std::min(to, from + round);
      std::vector<std::vector<TBlockRecord>> records;
      if (!MeasureRound(Queries(groups), from, until, records)) return false;
      std::vector<uint8_t> ended(groups.size(), 0);
      for (const auto& chunk : records)
        for (const TBlockRecord& r : chunk)
          if (!ended[r.Group]) ended[r.Group] = ApplyRecord(*groups[r.Group], r);
      size_t kept = 0;
      for (size_t q = 0; q < groups.size(); ++q)
        if (!ended[q]) groups[kept++] = groups[q];
      groups.resize(kept);
      from = until;
      round *= 2;
      // The passes that go on are long: where the indexes find what they
      // take and where they end with fewer tests, they serve the rest.
      if (!groups.empty() && from < to && IndexPays(groups)) return PassesByIndex(groups, from);
    }
    return true;
  }

  bool MeasureRound(const std::vector<TPackedPrint>& queries, size_t from, size_t to,
                    std::vector<std::vector<TBlockRecord>>& records) {
    const size_t chunks = ChunkCount(from, to);
    records.assign(chunks, {});
    const auto task = [&](size_t k) {
      std::vector<uint64_t> near(queries.size()), far(queries.size());
      const auto [first, last] = Chunk(from, to, k);
      for (size_t b = first / Block; b * Block < last; ++b) {
        const uint64_t alive = FPending.Alive(b) & RangeBits(b, first, last);
        if (!alive) continue;
        FKernels.BlockMasks(FPending.Hi(b), FPending.Lo(b), queries.data(), queries.size(), FRadius, FLimit,
                            near.data(), far.data());
        for (size_t q = 0; q < queries.size(); ++q)
          if ((near[q] | far[q]) & alive)
            records[k].push_back({static_cast<uint32_t>(q), static_cast<uint32_t>(b), near[q] & alive, far[q] & alive});
      }
    };
    return RunTasks(chunks, queries.size() * (to - from), task);
  }

  // One block of g's pass, with what the groups before it took from that
  // block already gone; true when the pass ended there.
  bool ApplyRecord(TBatchGroup& g, const TBlockRecord& r) {
    const uint64_t alive = FPending.Alive(r.Block);
    uint64_t near = r.Near & alive;
    const uint64_t far = r.Far & alive;
    if (far) near &= LowBits(LowestBit(far));
    FPending.Take(r.Block, near, &g.Forward);
    if (!far) return false;
    g.Open = false;
    FStarters.PassEndedAt(g.Rank, g.Print, FPending.Rank(size_t{r.Block} * Block + LowestBit(far)));
    return true;
  }

  // Far beyond the limit from p is within this radius of its complement.
  int FarRadius() const { return 127 - FLimit; }

  // An index of every readable file for queries of radius, its tables made
  // on every thread. A Yield that says stop leaves none.
  bool BuildIndex(std::optional<TPrintIndex>& index, int radius) {
    index.emplace(Prints(), radius);
    const auto task = [&](size_t t) { index->Build(t); };
    if (FPool.Run(index->Tables(), task, [this] { return Tick(); })) return true;
    index.reset();
    return false;
  }

  // Whether the indexes find what the passes of groups take and where they
  // end for less than the passes over every entry still there cost.
  bool IndexPays(const std::vector<TBatchGroup*>& groups) {
    if (FWays == TGroupingWays::Scans || FRadius > TPrintIndex::MaxRadius ||
        (FStops && FarRadius() > TPrintIndex::MaxRadius))
      return false;
    if (!FCloseIndex && !BuildIndex(FCloseIndex, FRadius)) return false;
    if (FStops && !FFarIndex && !BuildIndex(FFarIndex, FarRadius())) return false;
    if (FWays == TGroupingWays::Indexes) return true;
    constexpr size_t Samples = 8;
    double cost = 0;
    const size_t step = std::max<size_t>(1, groups.size() / Samples);
    for (size_t k = 0; k < groups.size(); k += step) {
      cost += FCloseIndex->Cost(groups[k]->Print);
      if (FStops) cost += FFarIndex->Cost(Complement(groups[k]->Print));
    }
    // A pass that may end early is likely to cost less than all of them.
    const double share = FStops ? 0.25 : 1;
    const size_t sampled = (groups.size() + step - 1) / step;
    return cost < share * static_cast<double>(sampled) * TPrintIndex::PassCost(FPending.AliveCount());
  }

  // The passes of groups from entry from on, by the indexes: what each
  // finds on every thread, then, group after group, what it takes and
  // where it ends, here.
  bool PassesByIndex(const std::vector<TBatchGroup*>& groups, size_t from) {
    const uint32_t rank = FPending.Rank(from);
    for (size_t first = 0; first < groups.size(); first += GroupsPerQueryRound) {
      const size_t count = std::min(GroupsPerQueryRound, groups.size() - first);
      std::vector<std::vector<uint32_t>> near(count), far(count);
      const auto task = [&](size_t k) {
        const TPackedPrint& q = groups[first + k]->Print;
        FCloseIndex->Find(q, rank, Prints().size(), &FPending.AliveRanks(), near[k]);
        if (FStops) FFarIndex->Find(Complement(q), rank, Prints().size(), &FPending.AliveRanks(), far[k]);
      };
      if (!RunTasks(count, count * BatchFiles, task)) return false;
      for (size_t k = 0; k < count; ++k) ApplyFound(*groups[first + k], near[k], far[k]);
    }
    return true;
  }

  // g's pass over what the indexes found, in list order, with what the
  // groups before it took already gone.
  void ApplyFound(TBatchGroup& g, const std::vector<uint32_t>& near, const std::vector<uint32_t>& far) {
    const auto end = std::find_if(far.begin(), far.end(), [&](uint32_t r) { return FPending.IsAliveRank(r); });
    for (const uint32_t r : near) {
      if (end != far.end() && r > *end) break;
      if (!FPending.IsAliveRank(r)) continue;
      const size_t e = FPending.PositionOf(r);
      FPending.Take(e / Block, uint64_t{1} << (e % Block), &g.Forward);
    }
    if (end == far.end()) return;
    g.Open = false;
    FStarters.PassEndedAt(g.Rank, g.Print, *end);
  }

  void CloseBatch() {
    for (TBatchGroup& g : FBatch) {
      std::vector<uint32_t>& group = FGroups.emplace_back();
      group.reserve(1 + g.Forward.size() + g.Backward.size());
      group.push_back(File(g.Rank));
      for (const uint32_t r : g.Forward) group.push_back(File(r));
      for (const uint32_t r : g.Backward) group.push_back(File(r));
      if (FHooks.GroupDone) FHooks.GroupDone(File(g.Rank));
    }
    FBatch.clear();
  }

  const TGroupingWays FWays;
  const TReadable FReadable;
  TPending FPending;
  TStarters FStarters;
  const int FRadius, FLimit;
  const bool FStops;  // some distance can exceed the limit: passes may end early
  const TGroupingHooks& FHooks;
  TYielder FYielder;
  const TGroupingKernels& FKernels;
  TTaskPool FPool;
  // Of every readable file, made when first wanted: for the files a pass
  // takes, and for those at which it ends.
  std::optional<TPrintIndex> FCloseIndex, FFarIndex;
  // What the last batch's long backward passes cost, and whether the
  // index serves them.
  size_t FBackwardSegments = 0, FBackwardPasses = 0;
  bool FBackwardIndex = false;
  std::vector<TBatchGroup> FBatch;
  TGroups FGroups;
};

}  // namespace

std::optional<TGroups> GroupFingerprints(std::span<const Fingerprint> prints, std::span<const uint8_t> unreadable,
                                         uint8_t threshold, const TGroupingHooks& hooks, unsigned threads) {
  return GroupFingerprintsIn(TGroupingWays::Cheapest, prints, unreadable, threshold, hooks, threads);
}

std::optional<TGroups> GroupFingerprintsIn(TGroupingWays ways, std::span<const Fingerprint> prints,
                                           std::span<const uint8_t> unreadable, uint8_t threshold,
                                           const TGroupingHooks& hooks, unsigned threads) {
  CheckUnreadableMarks(prints, unreadable);
  if (prints.size() >= NoEntry) throw std::length_error("grouping: more files than 32 bits count");
  return TFastGrouping(prints, unreadable, threshold, hooks, threads, ways).Run();
}

}  // namespace tolvane
