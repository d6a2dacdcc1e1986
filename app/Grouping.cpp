#include "DuplicateSearch.h"
#include "GroupingKernels.h"

namespace tolvane {

std::optional<TGroups> GroupFingerprints(std::span<const Fingerprint> prints, std::span<const uint8_t> unreadable,
                                         uint8_t threshold, const TGroupingHooks& hooks, unsigned) {
  return ReferenceGroupFingerprints(prints, unreadable, threshold, hooks);
}

}  // namespace tolvane
