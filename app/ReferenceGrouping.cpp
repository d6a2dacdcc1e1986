// The grouping walk taken literally: one file at a time, one distance at a
// time. The fast grouping must give exactly its groups; the tests and the
// grouping benchmark compare the two.
#include "DuplicateSearch.h"
#include "GroupingKernels.h"

namespace tolvane {

namespace {

// Distances per yield.
constexpr uint32_t YieldInterval = 1024;

struct TWalkState {
  std::vector<TPackedPrint> Prints;
  std::vector<uint8_t> Used;
  int Threshold, Limit;
  const TGroupingHooks& Hooks;
  uint32_t UntilYield = 0;
  bool Stopped = false;
};

// One pass of the group that file i starts, over j = from, from + step, ...
// up to end (excluded), skipping files already taken: a file below the
// threshold joins the group, and the pass ends after a file beyond 10 x
// threshold. Stopped is set when Yield says stop.
TOLVANE_POPCOUNT_CLONES
void RunPass(TWalkState& s, size_t i, ptrdiff_t from, ptrdiff_t end, ptrdiff_t step, std::vector<uint32_t>& group) {
  const TPackedPrint first = s.Prints[i];
  for (ptrdiff_t j = from; j != end; j += step) {
    if (s.Used[static_cast<size_t>(j)]) continue;
    if (s.UntilYield-- == 0) {
      s.UntilYield = YieldInterval - 1;
      if (s.Hooks.Yield && !s.Hooks.Yield()) {
        s.Stopped = true;
        return;
      }
    }
    int d = PackedDistance(first, s.Prints[static_cast<size_t>(j)]);
    if (d < s.Threshold) {
      group.push_back(static_cast<uint32_t>(j));
      s.Used[static_cast<size_t>(j)] = 1;
    }
    if (d > s.Limit) return;
  }
}

}  // namespace

std::optional<TGroups> ReferenceGroupFingerprints(std::span<const Fingerprint> prints,
                                                  std::span<const uint8_t> unreadable, uint8_t threshold,
                                                  const TGroupingHooks& hooks) {
  CheckUnreadableMarks(prints, unreadable);
  const size_t n = prints.size();
  TWalkState s{PackPrints(prints), std::vector<uint8_t>(n, 0), threshold, 10 * threshold, hooks};
  for (size_t i = 0; i < unreadable.size(); ++i) s.Used[i] = unreadable[i] != 0;
  TGroups groups;
  const auto count = static_cast<ptrdiff_t>(n);
  for (size_t i = 0; i < n; ++i) {
    if (s.Used[i]) continue;
    std::vector<uint32_t> group{static_cast<uint32_t>(i)};
    const auto at = static_cast<ptrdiff_t>(i);
    RunPass(s, i, at + 1, count, 1, group);
    if (i >= 2 && !s.Stopped) RunPass(s, i, at - 1, -1, -1, group);
    if (s.Stopped) return std::nullopt;
    groups.push_back(std::move(group));
    if (hooks.GroupDone) hooks.GroupDone(i);
  }
  return groups;
}

}  // namespace tolvane
