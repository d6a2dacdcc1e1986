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
// - A backward pass can only meet the first files of earlier groups. One
//   whose forward pass has not ended by file i tested i and found it
//   neither close enough to take nor far enough to end the pass: the
//   backward pass of i passes it by without a test. So the backward passes
//   test only the first files whose forward pass ended at or before i.
#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <queue>

#include "DuplicateSearch.h"
#include "FingerprintPool.h"
#include "GroupingKernels.h"
#include "TaskPool.h"

namespace tolvane {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto YieldPeriod = std::chrono::milliseconds(1);
constexpr size_t Block = KernelBlock;
// Files walked one by one before the passes beyond them go on together.
constexpr size_t BatchFiles = 1024;
// Entries of the list per task beyond a batch (a fraction of a millisecond).
constexpr size_t ChunkEntries = 16 * Block;
// What the blocks of one round of passes beyond a batch may record.
constexpr size_t RecordsPerRound = size_t{1} << 21;
// Blocks tested before the first of them is looked at, where a pass has
// to look at each before it goes on.
constexpr size_t Lookahead = 4;

inline uint64_t LowBits(size_t count) { return count >= Block ? ~uint64_t{0} : (uint64_t{1} << count) - 1; }

// The bits of block b that lie in [from, to).
inline uint64_t RangeBits(size_t b, size_t from, size_t to) {
  const size_t first = b * Block;
  uint64_t bits = ~uint64_t{0};
  if (from > first) bits &= ~LowBits(from - first);
  if (to < first + Block) bits &= LowBits(to - first);
  return bits;
}

inline unsigned LowestBit(uint64_t bits) { return static_cast<unsigned>(std::countr_zero(bits)); }
inline unsigned HighestBit(uint64_t bits) { return 63u - static_cast<unsigned>(std::countl_zero(bits)); }

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

// Fingerprints in blocks of 64 entries, the halves in columns of their own.
struct TColumns {
  std::vector<uint64_t> Hi, Lo;
  std::vector<uint32_t> File;

  size_t Size() const { return File.size(); }
  void Append(uint32_t file, const TPackedPrint& p) {
    if (File.size() == Hi.size()) {
      Hi.resize(Hi.size() + Block);
      Lo.resize(Lo.size() + Block);
    }
    Hi[File.size()] = p.Hi;
    Lo[File.size()] = p.Lo;
    File.push_back(file);
  }
  TPackedPrint Print(size_t e) const { return {Hi[e], Lo[e]}; }
};

// The files later forward passes still test, in list order: every file
// not yet taken and not yet reached by the walk. Dead entries stay until
// the list is compacted.
class TPending {
public:
  TPending(const std::vector<TPackedPrint>& prints, std::span<const uint8_t> unreadable) {
    for (size_t i = 0; i < prints.size(); ++i)
      if (unreadable.empty() || !unreadable[i]) FColumns.Append(static_cast<uint32_t>(i), prints[i]);
    FAlive.assign(FColumns.Hi.size() / Block, ~uint64_t{0});
    if (!FAlive.empty()) FAlive.back() = LowBits(FColumns.Size() - (FAlive.size() - 1) * Block);
    FAliveCount = FColumns.Size();
  }

  size_t Size() const { return FColumns.Size(); }
  size_t AliveCount() const { return FAliveCount; }
  const uint64_t* Hi(size_t b) const { return FColumns.Hi.data() + b * Block; }
  const uint64_t* Lo(size_t b) const { return FColumns.Lo.data() + b * Block; }
  uint32_t File(size_t e) const { return FColumns.File[e]; }
  TPackedPrint Print(size_t e) const { return FColumns.Print(e); }
  uint64_t Alive(size_t b) const { return FAlive[b]; }
  bool IsAlive(size_t e) const { return FAlive[e / Block] >> (e % Block) & 1; }

  // Drops the entries of bits from block b; their files are appended to
  // files in list order.
  void Take(size_t b, uint64_t bits, std::vector<uint32_t>* files) {
    FAlive[b] &= ~bits;
    FAliveCount -= static_cast<size_t>(std::popcount(bits));
    if (!files) return;
    for (; bits; bits &= bits - 1) files->push_back(File(b * Block + LowestBit(bits)));
  }
  // Writes a block's alive bits as a task left them; taken counts them.
  void SetAlive(size_t b, uint64_t bits) { FAlive[b] = bits; }
  void Forget(size_t taken) { FAliveCount -= taken; }

  // The end of the first count alive entries from from.
  size_t AfterAlive(size_t from, size_t count) const {
    size_t b = from / Block;
    uint64_t bits = FAlive.empty() ? 0 : FAlive[b] & ~LowBits(from % Block);
    for (;;) {
      const auto here = static_cast<size_t>(std::popcount(bits));
      if (here >= count) {
        for (; count > 1; --count) bits &= bits - 1;
        return count == 0 ? b * Block : b * Block + LowestBit(bits) + 1;
      }
      count -= here;
      if (++b >= FAlive.size()) return Size();
      bits = FAlive[b];
    }
  }

  // Drops every entry before from and every dead one.
  void Compact(size_t from) {
    TColumns kept;
    for (size_t e = from; e < Size(); ++e)
      if (IsAlive(e)) kept.Append(File(e), Print(e));
    FColumns = std::move(kept);
    FAlive.assign(FColumns.Hi.size() / Block, ~uint64_t{0});
    if (!FAlive.empty()) FAlive.back() = LowBits(FColumns.Size() - (FAlive.size() - 1) * Block);
  }

private:
  TColumns FColumns;
  std::vector<uint64_t> FAlive;
  size_t FAliveCount = 0;
};

// The first files of earlier groups that backward passes test, in list
// order: one joins when the walk reaches the file at which its forward
// pass ended, and leaves when a backward pass takes it. They are kept in
// segments of up to 64, each in list order, so that a pass tests them in
// whole blocks however few of the earlier groups' passes have ended.
class TStarters {
public:
  void PassEndedAt(uint32_t file, const TPackedPrint& p, uint32_t end) { FEnds.push({end, file, p}); }
  void ActivateUpTo(uint32_t file) {
    for (; !FEnds.empty() && FEnds.top().End <= file; FEnds.pop()) Insert(FEnds.top().File, FEnds.top().Print);
  }

  // The backward pass of q, latest starter first: takes those within
  // radius into taken, ends after the first beyond limit.
  void Backward(const TPackedPrint& q, int radius, int limit, const TGroupingKernels& kernels,
                std::vector<uint32_t>& taken) {
    for (size_t k = FSegments.size(); k > 0;) {
      // A segment's test waits for the one before it; several at once
      // overlap in the processor.
      const size_t count = std::min(Lookahead, k);
      uint64_t near[Lookahead], far[Lookahead];
      for (size_t a = 0; a < count; ++a) {
        const TSegment& s = *FSegments[k - 1 - a];
        kernels.BlockMasks(s.Hi.data(), s.Lo.data(), &q, 1, radius, limit, &near[a], &far[a]);
      }
      for (size_t a = 0; a < count; ++a) {
        const size_t at = k - 1 - a;
        const TSegment& s = *FSegments[at];
        uint64_t n = near[a] & LowBits(s.Count);
        const uint64_t f = far[a] & LowBits(s.Count);
        if (f) n &= ~LowBits(HighestBit(f) + 1);
        for (uint64_t bits = n; bits; bits &= ~(uint64_t{1} << HighestBit(bits)))
          taken.push_back(s.File[HighestBit(bits)]);
        if (n) Remove(at, n);
        if (f) return;
      }
      k -= count;
    }
  }

private:
  struct TEnd {
    uint32_t End, File;
    TPackedPrint Print;
    bool operator>(const TEnd& o) const { return End != o.End ? End > o.End : File > o.File; }
  };
  struct TSegment {
    std::array<uint64_t, Block> Hi{}, Lo{};
    std::array<uint32_t, Block> File{};
    size_t Count = 0;
  };

  void Insert(uint32_t file, const TPackedPrint& p) {
    // The last segment that starts before file.
    auto at = std::upper_bound(FSegments.begin(), FSegments.end(), file,
                               [](uint32_t f, const std::unique_ptr<TSegment>& s) { return f < s->File[0]; });
    if (at != FSegments.begin()) --at;
    if (at == FSegments.end()) at = FSegments.insert(at, std::make_unique<TSegment>());
    if ((*at)->Count == Block) at = Split(at, file);
    TSegment& s = **at;
    size_t e = s.Count;
    for (; e > 0 && s.File[e - 1] > file; --e) {
      s.Hi[e] = s.Hi[e - 1];
      s.Lo[e] = s.Lo[e - 1];
      s.File[e] = s.File[e - 1];
    }
    s.Hi[e] = p.Hi;
    s.Lo[e] = p.Lo;
    s.File[e] = file;
    ++s.Count;
  }

  // Halves a full segment; the half where file belongs.
  std::vector<std::unique_ptr<TSegment>>::iterator Split(std::vector<std::unique_ptr<TSegment>>::iterator at,
                                                          uint32_t file) {
    auto upper = std::make_unique<TSegment>();
    TSegment& lower = **at;
    constexpr size_t half = Block / 2;
    std::copy(lower.Hi.begin() + half, lower.Hi.end(), upper->Hi.begin());
    std::copy(lower.Lo.begin() + half, lower.Lo.end(), upper->Lo.begin());
    std::copy(lower.File.begin() + half, lower.File.end(), upper->File.begin());
    std::fill(lower.Hi.begin() + half, lower.Hi.end(), 0);
    std::fill(lower.Lo.begin() + half, lower.Lo.end(), 0);
    upper->Count = lower.Count = half;
    const bool above = file > upper->File[0];
    auto next = FSegments.insert(at + 1, std::move(upper));
    return above ? next : next - 1;
  }

  void Remove(size_t k, uint64_t bits) {
    TSegment& s = *FSegments[k];
    size_t kept = 0;
    for (size_t e = 0; e < s.Count; ++e) {
      if (bits >> e & 1) continue;
      s.Hi[kept] = s.Hi[e];
      s.Lo[kept] = s.Lo[e];
      s.File[kept] = s.File[e];
      ++kept;
    }
    for (size_t e = kept; e < s.Count; ++e) s.Hi[e] = s.Lo[e] = 0;
    s.Count = kept;
    if (kept == 0) FSegments.erase(FSegments.begin() + static_cast<ptrdiff_t>(k));
  }

  std::vector<std::unique_ptr<TSegment>> FSegments;
  std::priority_queue<TEnd, std::vector<TEnd>, std::greater<TEnd>> FEnds;
};

// A group of the batch being walked.
struct TBatchGroup {
  uint32_t File;
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

class TFastGrouping {
public:
  TFastGrouping(std::span<const Fingerprint> prints, std::span<const uint8_t> unreadable, uint8_t threshold,
                const TGroupingHooks& hooks, unsigned threads)
      : FPrints(PackPrints(prints)), FPending(FPrints, unreadable), FRadius(threshold - 1), FLimit(10 * threshold),
        FStops(FLimit < 128), FHooks(hooks), FYielder(hooks), FKernels(GroupingKernels()),
        FPool(threads ? threads : WorkerCount(0, 1 + FPending.Size() / ChunkEntries)) {}

  std::optional<TGroups> Run() {
    if (FPending.Size() >= 2 && !FYielder.Tick()) return std::nullopt;
    if (FRadius < 0) return Singletons();
    for (size_t cursor = 0; FPending.AliveCount() > 0;) {
      const size_t end = FPending.AfterAlive(cursor, BatchFiles);
      if (!WalkBatch(cursor, end) || !PassesBeyond(end)) return std::nullopt;
      CloseBatch();
      cursor = end;
      if (FPending.Size() - cursor > 2 * FPending.AliveCount() + ChunkEntries) {
        FPending.Compact(cursor);
        cursor = 0;
      }
    }
    return std::move(FGroups);
  }

private:
  // Threshold 0: nothing is below it, so every file is a group of its own.
  std::optional<TGroups> Singletons() {
    for (size_t e = 0; e < FPending.Size(); ++e) {
      if (e % Block == 0 && !FYielder.Tick()) return std::nullopt;
      FGroups.push_back({FPending.File(e)});
      if (FHooks.GroupDone) FHooks.GroupDone(FPending.File(e));
    }
    return std::move(FGroups);
  }

  // The files of [from, to) one by one: each one still there starts a
  // group, whose passes are made as far as the batch reaches.
  bool WalkBatch(size_t from, size_t to) {
    for (size_t e = from; e < to; ++e) {
      if (!FPending.IsAlive(e)) continue;
      if (!FYielder.Tick()) return false;
      FPending.Take(e / Block, uint64_t{1} << (e % Block), nullptr);
      TBatchGroup& g = FBatch.emplace_back(TBatchGroup{FPending.File(e), FPending.Print(e), {}, {}, true});
      const size_t end = ForwardWithin(g, e + 1, to);
      if (end != SIZE_MAX) g.Open = false;
      if (!FStops) continue;
      if (g.File >= 2) {
        FStarters.ActivateUpTo(g.File);
        FStarters.Backward(g.Print, FRadius, FLimit, FKernels, g.Backward);
      }
      if (!g.Open) FStarters.PassEndedAt(g.File, g.Print, FPending.File(end));
    }
    return true;
  }

  // The forward pass of g over [from, to); the entry it ended at, or
  // SIZE_MAX.
  size_t ForwardWithin(TBatchGroup& g, size_t from, size_t to) {
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

  // The passes of the batch's open groups over the rest of the list.
  bool PassesBeyond(size_t from) {
    std::vector<TBatchGroup*> open;
    for (TBatchGroup& g : FBatch)
      if (g.Open) open.push_back(&g);
    if (open.empty() || from >= FPending.Size()) return true;
    return FStops ? PassesThatMayEnd(open, from) : PassesToTheEnd(open, from);
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
    const size_t to = FPending.Size(), chunks = ChunkCount(from, to);
    const std::vector<TPackedPrint> queries = Queries(groups);
    std::vector<std::vector<TBlockRecord>> taken(chunks);
    std::vector<size_t> takenCount(chunks, 0);
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
          takenCount[k] += static_cast<size_t>(std::popcount(bits));
        }
        FPending.SetAlive(b, alive | outside);
      }
    };
    if (!FPool.Run(chunks, task, [this] { return FYielder.Tick(); })) return false;
    for (size_t k = 0; k < chunks; ++k) {
      FPending.Forget(takenCount[k]);
      for (const TBlockRecord& r : taken[k])
        for (uint64_t bits = r.Near; bits; bits &= bits - 1)
          groups[r.Group]->Forward.push_back(FPending.File(r.Block * Block + LowestBit(bits)));
    }
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
    return FPool.Run(chunks, task, [this] { return FYielder.Tick(); });
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
    FStarters.PassEndedAt(g.File, g.Print, FPending.File(size_t{r.Block} * Block + LowestBit(far)));
    return true;
  }

  void CloseBatch() {
    for (TBatchGroup& g : FBatch) {
      std::vector<uint32_t>& group = FGroups.emplace_back();
      group.reserve(1 + g.Forward.size() + g.Backward.size());
      group.push_back(g.File);
      group.insert(group.end(), g.Forward.begin(), g.Forward.end());
      group.insert(group.end(), g.Backward.begin(), g.Backward.end());
      if (FHooks.GroupDone) FHooks.GroupDone(g.File);
    }
    FBatch.clear();
  }

  const std::vector<TPackedPrint> FPrints;
  TPending FPending;
  const int FRadius, FLimit;
  const bool FStops;  // some distance can exceed the limit: passes may end early
  const TGroupingHooks& FHooks;
  TYielder FYielder;
  const TGroupingKernels& FKernels;
  TTaskPool FPool;
  TStarters FStarters;
  std::vector<TBatchGroup> FBatch;
  TGroups FGroups;
};

}  // namespace

std::optional<TGroups> GroupFingerprints(std::span<const Fingerprint> prints, std::span<const uint8_t> unreadable,
                                         uint8_t threshold, const TGroupingHooks& hooks, unsigned threads) {
  CheckUnreadableMarks(prints, unreadable);
  return TFastGrouping(prints, unreadable, threshold, hooks, threads).Run();
}

}  // namespace tolvane
