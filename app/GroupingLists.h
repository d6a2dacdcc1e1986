// The lists the fast grouping walks: the files later forward passes still
// test, and the first files of earlier groups that backward passes test.
// Files are known by their rank among the readable files, in list order.
#pragma once

#include <algorithm>
#include <array>
#include <memory>
#include <queue>
#include <vector>

#include "GroupingKernels.h"

namespace tolvane {

inline constexpr size_t Block = KernelBlock;
inline constexpr uint32_t NoEntry = UINT32_MAX;

inline uint64_t LowBits(size_t count) { return count >= Block ? ~uint64_t{0} : (uint64_t{1} << count) - 1; }
inline unsigned LowestBit(uint64_t bits) { return static_cast<unsigned>(std::countr_zero(bits)); }
inline unsigned HighestBit(uint64_t bits) { return 63u - static_cast<unsigned>(std::countl_zero(bits)); }
inline bool BitOf(const std::vector<uint64_t>& bits, size_t i) { return bits[i / Block] >> (i % Block) & 1; }

// The bits of block b that lie in [from, to).
inline uint64_t RangeBits(size_t b, size_t from, size_t to) {
  const size_t first = b * Block;
  uint64_t bits = ~uint64_t{0};
  if (from > first) bits &= ~LowBits(from - first);
  if (to < first + Block) bits &= LowBits(to - first);
  return bits;
}

// Fingerprints in blocks of 64 entries, the halves in columns of their own.
struct TColumns {
  std::vector<uint64_t> Hi, Lo;
  std::vector<uint32_t> Rank;

  size_t Size() const { return Rank.size(); }
  void Append(uint32_t rank, const TPackedPrint& p) {
    if (Rank.size() == Hi.size()) {
      Hi.resize(Hi.size() + Block);
      Lo.resize(Lo.size() + Block);
    }
    Hi[Rank.size()] = p.Hi;
    Lo[Rank.size()] = p.Lo;
    Rank.push_back(rank);
  }
  TPackedPrint Print(size_t e) const { return {Hi[e], Lo[e]}; }
};

// The files later forward passes still test, in list order: every file
// not yet taken and not yet reached by the walk. Dead entries stay until
// the list is compacted; whether a file is still there is also kept by
// rank, for the indexes.
class TPending {
public:
  explicit TPending(const std::vector<TPackedPrint>& prints) : FPositionOf(prints.size()) {
    for (size_t r = 0; r < prints.size(); ++r) {
      FColumns.Append(static_cast<uint32_t>(r), prints[r]);
      FPositionOf[r] = static_cast<uint32_t>(r);
    }
    FAlive = AllAlive(FColumns.Size());
    FAliveRank = FAlive;
    FAliveCount = FColumns.Size();
  }

  size_t Size() const { return FColumns.Size(); }
  size_t AliveCount() const { return FAliveCount; }
  const uint64_t* Hi(size_t b) const { return FColumns.Hi.data() + b * Block; }
  const uint64_t* Lo(size_t b) const { return FColumns.Lo.data() + b * Block; }
  uint32_t Rank(size_t e) const { return FColumns.Rank[e]; }
  TPackedPrint Print(size_t e) const { return FColumns.Print(e); }
  uint64_t Alive(size_t b) const { return FAlive[b]; }
  bool IsAlive(size_t e) const { return BitOf(FAlive, e); }
  const std::vector<uint64_t>& AliveRanks() const { return FAliveRank; }
  bool IsAliveRank(uint32_t rank) const { return BitOf(FAliveRank, rank); }
  size_t PositionOf(uint32_t rank) const { return FPositionOf[rank]; }

  // Drops the entries of bits from block b; their ranks are appended to
  // ranks in list order.
  void Take(size_t b, uint64_t bits, std::vector<uint32_t>* ranks) {
    FAlive[b] &= ~bits;
    Forget(b, bits, ranks);
  }
  // A task working on block b alone leaves its alive bits; Forget then
  // does the rest of the taking, on the calling thread.
  void SetAlive(size_t b, uint64_t bits) { FAlive[b] = bits; }
  void Forget(size_t b, uint64_t bits, std::vector<uint32_t>* ranks) {
    FAliveCount -= static_cast<size_t>(std::popcount(bits));
    for (; bits; bits &= bits - 1) {
      const uint32_t rank = Rank(b * Block + LowestBit(bits));
      FAliveRank[rank / Block] &= ~(uint64_t{1} << (rank % Block));
      if (ranks) ranks->push_back(rank);
    }
  }

  // The end of the first count alive entries from from.
  size_t AfterAlive(size_t from, size_t count) const {
    size_t b = from / Block;
    uint64_t bits = FAlive[b] & ~LowBits(from % Block);
    for (;;) {
      const auto here = static_cast<size_t>(std::popcount(bits));
      if (here >= count) {
        for (; count > 1; --count) bits &= bits - 1;
        return b * Block + LowestBit(bits) + 1;
      }
      count -= here;
      if (++b >= FAlive.size()) return Size();
      bits = FAlive[b];
    }
  }

  // Drops every entry before from and every dead one.
  void Compact(size_t from) {
    TColumns kept;
    for (size_t e = from; e < Size(); ++e) {
      if (!IsAlive(e)) continue;
      FPositionOf[Rank(e)] = static_cast<uint32_t>(kept.Size());
      kept.Append(Rank(e), Print(e));
    }
    FColumns = std::move(kept);
    FAlive = AllAlive(FColumns.Size());
  }

private:
  static std::vector<uint64_t> AllAlive(size_t count) {
    std::vector<uint64_t> bits((count + Block - 1) / Block, ~uint64_t{0});
    if (!bits.empty()) bits.back() = LowBits(count - (bits.size() - 1) * Block);
    return bits;
  }

  TColumns FColumns;
  std::vector<uint64_t> FAlive, FAliveRank;
  std::vector<uint32_t> FPositionOf;  // of each rank still there
  size_t FAliveCount = 0;
};

// The first files of earlier groups that backward passes test, in list
// order: one joins once the walk is about to reach the file at which its
// forward pass ended (backward passes test it from that file on), and
// leaves when a backward pass takes it. They are kept in segments of up
// to 64, each in list order, so that passes test them in whole blocks
// however few of the earlier groups' passes have ended.
class TStarters {
public:
  struct TSegment {
    std::array<uint64_t, Block> Hi{}, Lo{};
    std::array<uint32_t, Block> Rank{}, End{};
    size_t Count = 0;
    uint64_t Live = 0;    // not taken
    uint32_t MaxEnd = 0;  // the latest End

    // The starters below rank below that a backward pass of the file of
    // rank i tests.
    uint64_t TestedBy(uint32_t i, uint32_t below) const {
      // Usually every starter has joined before the pass and lies below it.
      if (MaxEnd <= i && Rank[Count - 1] < below) return Live;
      uint64_t bits = 0;
      for (size_t e = 0; e < Count; ++e) bits |= uint64_t{End[e] <= i && Rank[e] < below} << e;
      return bits & Live;
    }
  };

  explicit TStarters(size_t ranks) : FActive((ranks + Block - 1) / Block, 0), FEndOf(ranks, NoEntry) {}

  void PassEndedAt(uint32_t rank, const TPackedPrint& p, uint32_t end) {
    FEnds.push({end, rank, p});
    FEndOf[rank] = end;
  }
  // Every starter whose pass ended at or before rank joins.
  void JoinUpTo(uint32_t rank) {
    for (; !FEnds.empty() && FEnds.top().End <= rank; FEnds.pop()) Insert(FEnds.top());
  }
  // Whether the backward pass of the file of rank i tests the starter of
  // rank.
  bool IsTestedBy(uint32_t rank, uint32_t i) const { return BitOf(FActive, rank) && FEndOf[rank] <= i; }
  size_t Segments() const { return FSegments.size(); }
  const TSegment& Segment(size_t k) const { return *FSegments[k]; }

  // The backward pass of q, the file of rank i, over the starters below
  // rank below, latest first, down to rank lowest or over at most most
  // segments: takes those within radius into taken, ends after the first
  // beyond limit. Returns whether it ended, and the lowest rank it reached
  // (it tested every starter from there to below).
  std::pair<bool, uint32_t> Backward(const TPackedPrint& q, uint32_t i, uint32_t below, uint32_t lowest, size_t most,
                                     int radius, int limit, const TGroupingKernels& kernels,
                                     std::vector<uint32_t>& taken) {
    // Past the last segment that starts below below (usually every one).
    size_t k = FSegments.size();
    if (k > 0 && FSegments.back()->Rank[0] >= below)
      k = static_cast<size_t>(std::lower_bound(FSegments.begin(), FSegments.end(), below,
                                               [](const std::unique_ptr<TSegment>& s, uint32_t r) {
                                                 return s->Rank[0] < r;
                                               }) -
                              FSegments.begin());
    uint32_t reached = below;
    for (size_t tested = 0; k > 0 && tested < most;) {
      // A segment's test waits for the one before it; several at once
      // overlap in the processor.
      const size_t count = std::min({Lookahead, k, most - tested});
      uint64_t near[Lookahead], far[Lookahead];
      for (size_t a = 0; a < count; ++a) {
        const TSegment& s = *FSegments[k - 1 - a];
        kernels.BlockMasks(s.Hi.data(), s.Lo.data(), &q, 1, radius, limit, &near[a], &far[a]);
      }
      for (size_t a = 0; a < count; ++a) {
        const size_t at = k - 1 - a;
        ++tested;
        reached = FSegments[at]->Rank[0];
        if (Apply(at, i, below, near[a], far[a], taken) || reached <= lowest) return {true, reached};
      }
      k -= count;
    }
    return {k == 0, reached};
  }

  // One segment of the backward pass of the file of rank i over the
  // starters below rank below, given which of its starters are within
  // radius of it (near) and beyond limit (far); true when the pass ended
  // there.
  bool Apply(size_t k, uint32_t i, uint32_t below, uint64_t near, uint64_t far, std::vector<uint32_t>& taken) {
    TSegment& s = *FSegments[k];
    const uint64_t tested = s.TestedBy(i, below);
    near &= tested;
    far &= tested;
    if (far) near &= ~LowBits(HighestBit(far) + 1);
    for (uint64_t bits = near; bits; bits &= ~(uint64_t{1} << HighestBit(bits))) {
      const uint32_t rank = s.Rank[HighestBit(bits)];
      taken.push_back(rank);
      FActive[rank / Block] &= ~(uint64_t{1} << (rank % Block));
    }
    if (near) {
      s.Live &= ~near;
      FTaken.push_back(&s);
    }
    return far != 0;
  }

  // Drops the starters that were taken.
  void Prune() {
    bool emptied = false;
    for (TSegment* s : FTaken) {
      Compact(*s);
      emptied |= s->Count == 0;
    }
    FTaken.clear();
    if (emptied)
      FSegments.erase(std::remove_if(FSegments.begin(), FSegments.end(), [](const auto& s) { return s->Count == 0; }),
                      FSegments.end());
  }

private:
  static constexpr size_t Lookahead = 4;
  struct TEnd {
    uint32_t End, Rank;
    TPackedPrint Print;
    bool operator>(const TEnd& o) const { return End != o.End ? End > o.End : Rank > o.Rank; }
  };
  using TSegments = std::vector<std::unique_ptr<TSegment>>;

  void Insert(const TEnd& starter) {
    const uint32_t rank = starter.Rank;
    FActive[rank / Block] |= uint64_t{1} << (rank % Block);
    // The last segment that starts before rank (usually the last one).
    auto at = FSegments.end();
    if (FSegments.empty() || FSegments.back()->Rank[0] > rank)
      at = std::upper_bound(FSegments.begin(), FSegments.end(), rank,
                            [](uint32_t r, const std::unique_ptr<TSegment>& s) { return r < s->Rank[0]; });
    if (at != FSegments.begin()) --at;
    if (at == FSegments.end()) at = FSegments.insert(at, std::make_unique<TSegment>());
    if ((*at)->Count == Block) at = Split(at, rank);
    TSegment& s = **at;
    size_t e = s.Count;
    for (; e > 0 && s.Rank[e - 1] > rank; --e) Move(s, e - 1, s, e);
    s.Hi[e] = starter.Print.Hi;
    s.Lo[e] = starter.Print.Lo;
    s.Rank[e] = rank;
    s.End[e] = starter.End;
    s.MaxEnd = std::max(s.MaxEnd, starter.End);
    s.Live = (s.Live & LowBits(e)) | (s.Live & ~LowBits(e)) << 1 | uint64_t{1} << e;
    ++s.Count;
  }

  static void Move(const TSegment& from, size_t e, TSegment& to, size_t f) {
    to.Hi[f] = from.Hi[e];
    to.Lo[f] = from.Lo[e];
    to.Rank[f] = from.Rank[e];
    to.End[f] = from.End[e];
  }

  // Halves a full segment (whose starters are all live); the half where
  // rank belongs.
  TSegments::iterator Split(TSegments::iterator at, uint32_t rank) {
    auto upper = std::make_unique<TSegment>();
    TSegment& lower = **at;
    Compact(lower);
    if (lower.Count < Block) return at;
    constexpr size_t half = Block / 2;
    for (size_t e = half; e < Block; ++e) Move(lower, e, *upper, e - half);
    for (size_t e = half; e < Block; ++e) lower.Hi[e] = lower.Lo[e] = 0;
    upper->Count = lower.Count = half;
    upper->MaxEnd = lower.MaxEnd;  // an upper bound serves
    upper->Live = lower.Live = LowBits(half);
    const bool above = rank > upper->Rank[0];
    auto next = FSegments.insert(at + 1, std::move(upper));
    return above ? next : next - 1;
  }

  // Keeps the live starters of s alone.
  static void Compact(TSegment& s) {
    size_t kept = 0;
    for (size_t e = 0; e < s.Count; ++e)
      if (s.Live >> e & 1) Move(s, e, s, kept++);
    for (size_t e = kept; e < s.Count; ++e) s.Hi[e] = s.Lo[e] = 0;
    s.Count = kept;
    s.Live = LowBits(kept);
  }

  TSegments FSegments;
  std::vector<TSegment*> FTaken;  // segments with starters taken since the last pruning
  std::vector<uint64_t> FActive;  // by rank: joined and not taken
  std::vector<uint32_t> FEndOf;   // by rank: where the forward pass ended
  std::priority_queue<TEnd, std::vector<TEnd>, std::greater<TEnd>> FEnds;
};

}  // namespace tolvane
