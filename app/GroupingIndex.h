// An exact index of fingerprints for the question "which are within r bits
// of this one?", for passes too long to test every file. Several tables
// are keyed by a share of the 128 bits each (every m-th bit, for m tables),
// so that the tables split the bits between them: a fingerprint within r
// bits of a query differs from it in at most r / m bits of some table's
// key, and looking up every key that close to the query's in every table
// finds it. A lookup costs a read of scattered memory, an entry found far
// less (the entries of a key lie side by side), so the number of tables is
// chosen for the radius: more tables, fewer lookups, more entries each.
// Entries are places in a list of fingerprints that does not change; an
// index holds 4 bytes per entry and table (8 to 16 tables).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "GroupingKernels.h"

namespace tolvane {

class TPrintIndex {
public:
  // An index for queries of radius (at most MaxRadius) over prints, which
  // must outlive it; each of its tables is then made by Build (any table
  // on any thread).
  TPrintIndex(const std::vector<TPackedPrint>& prints, int radius);
  size_t Tables() const { return FTables.size(); }
  void Build(size_t table);

  // About what a query costs, in the time a pass over the list takes to
  // test one entry.
  double Cost(const TPackedPrint& query) const;
  static double PassCost(size_t entries) { return static_cast<double>(entries); }
  // Appends to found every entry e in [from, to) within the radius of
  // query whose bit in alive is set (every entry, without alive), each
  // once, in order.
  void Find(const TPackedPrint& query, size_t from, size_t to, const std::vector<uint64_t>* alive,
            std::vector<uint32_t>& found) const;

  static constexpr int MaxRadius = 31;

private:
  struct TProbe {
    uint32_t Table, Key;
  };
  struct TTable {
    std::vector<int> Bits;               // of the 128, in key order
    std::vector<uint32_t> Entry, Start;  // the entries in key order; where each key's begin
  };

  static uint32_t Key(const TTable& table, const TPackedPrint& p);
  // Every key within the radius / tables bits of the query's, in every table.
  std::vector<TProbe> Probes(const TPackedPrint& query) const;

  const std::vector<TPackedPrint>& FPrints;
  int FRadius, FFlips;
  std::vector<TTable> FTables;
};

}  // namespace tolvane
