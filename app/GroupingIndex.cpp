#include "GroupingIndex.h"

#include <algorithm>
#include <limits>

namespace tolvane {

namespace {

// What a lookup and an entry found cost, in the time a pass takes to test
// one entry (measured: a lookup waits for memory no cache holds; an entry
// is read from memory for one query, where a pass reads a block once for
// many groups).
constexpr double LookupCost = 600, EntryCost = 8;
constexpr int MinTables = 8, MaxTables = 16, MaxFlips = 3;

double Binomial(int n, int k) {
  double c = 1;
  for (int i = 1; i <= k; ++i) c = c * (n - k + i) / i;
  return c;
}

// The number of tables with which a query of radius over count entries,
// spread evenly over the keys, costs least.
int TablesFor(int radius, size_t count) {
  int best = MaxTables;
  double bestCost = std::numeric_limits<double>::max();
  for (int m = MinTables; m <= MaxTables; ++m) {
    const int flips = radius / m, bits = 128 / m;
    if (flips > MaxFlips) continue;
    double lookups = 0;
    for (int f = 0; f <= flips; ++f) lookups += m * Binomial(bits, f);
    const double cost = lookups * (LookupCost + EntryCost * static_cast<double>(count) / double(1u << bits));
    if (cost < bestCost) bestCost = cost, best = m;
  }
  return best;
}

}  // namespace

uint32_t TPrintIndex::Key(const TTable& table, const TPackedPrint& p) {
  uint32_t key = 0;
  for (size_t k = 0; k < table.Bits.size(); ++k) {
    const int b = table.Bits[k];
    key |= static_cast<uint32_t>((b < 64 ? p.Hi >> b : p.Lo >> (b - 64)) & 1) << k;
  }
  return key;
}

TPrintIndex::TPrintIndex(const std::vector<TPackedPrint>& prints, int radius) : FPrints(prints), FRadius(radius) {
  const int tables = TablesFor(radius, prints.size());
  FFlips = radius / tables;
  FTables.resize(static_cast<size_t>(tables));
  for (int b = 0; b < 128; ++b) FTables[static_cast<size_t>(b % tables)].Bits.push_back(b);
}

void TPrintIndex::Build(size_t t) {
  TTable& table = FTables[t];
  const size_t count = FPrints.size();
  std::vector<uint32_t> keys(count);
  table.Start.assign((size_t{1} << table.Bits.size()) + 1, 0);
  for (size_t e = 0; e < count; ++e) ++table.Start[(keys[e] = Key(table, FPrints[e])) + 1];
  for (size_t k = 1; k < table.Start.size(); ++k) table.Start[k] += table.Start[k - 1];
  table.Entry.resize(count);
  std::vector<uint32_t> next(table.Start.begin(), table.Start.end() - 1);
  for (size_t e = 0; e < count; ++e) table.Entry[next[keys[e]]++] = static_cast<uint32_t>(e);
}

std::vector<TPrintIndex::TProbe> TPrintIndex::Probes(const TPackedPrint& query) const {
  std::vector<TProbe> probes;
  for (uint32_t t = 0; t < FTables.size(); ++t) {
    const TTable& table = FTables[t];
    const uint32_t key = Key(table, query);
    const auto bits = static_cast<unsigned>(table.Bits.size());
    probes.push_back({t, key});
    for (unsigned a = 0; FFlips >= 1 && a < bits; ++a) {
      probes.push_back({t, key ^ 1u << a});
      for (unsigned b = a + 1; FFlips >= 2 && b < bits; ++b) {
        probes.push_back({t, key ^ 1u << a ^ 1u << b});
        for (unsigned c = b + 1; FFlips >= 3 && c < bits; ++c) probes.push_back({t, key ^ 1u << a ^ 1u << b ^ 1u << c});
      }
    }
  }
  return probes;
}

double TPrintIndex::Cost(const TPackedPrint& query) const {
  double cost = 0;
  for (const TProbe& p : Probes(query)) {
    const std::vector<uint32_t>& start = FTables[p.Table].Start;
    cost += LookupCost + EntryCost * (start[p.Key + 1] - start[p.Key]);
  }
  return cost;
}

TOLVANE_POPCOUNT_CLONES
void TPrintIndex::Find(const TPackedPrint& query, size_t from, size_t to, const std::vector<uint64_t>* alive,
                       std::vector<uint32_t>& found) const {
  // Where every lookup's entries lie, and a request for them, before any
  // is tested: the lookups' reads of scattered memory overlap.
  const std::vector<TProbe> probes = Probes(query);
  std::vector<std::pair<uint32_t, uint32_t>> ranges(probes.size());
  for (size_t k = 0; k < probes.size(); ++k) {
    const TTable& table = FTables[probes[k].Table];
    ranges[k] = {table.Start[probes[k].Key], table.Start[probes[k].Key + 1]};
    __builtin_prefetch(table.Entry.data() + ranges[k].first);
  }
  const size_t first = found.size();
  for (size_t k = 0; k < probes.size(); ++k) {
    const uint32_t* entries = FTables[probes[k].Table].Entry.data();
    // A key's entries are in order: those before from are skipped at once.
    const uint32_t* e = std::lower_bound(entries + ranges[k].first, entries + ranges[k].second, from);
    for (const uint32_t* end = entries + ranges[k].second; e != end && *e < to; ++e) {
      const TPackedPrint& p = FPrints[*e];
      if (std::popcount(p.Hi ^ query.Hi) + std::popcount(p.Lo ^ query.Lo) <= FRadius) found.push_back(*e);
    }
  }
  // One that is close enough in several tables was found in each.
  const auto begin = found.begin() + static_cast<ptrdiff_t>(first);
  std::sort(begin, found.end());
  found.erase(std::unique(begin, found.end()), found.end());
  if (alive)
    found.erase(std::remove_if(begin, found.end(), [&](uint32_t x) { return !((*alive)[x / 64] >> (x % 64) & 1); }),
                found.end());
}

}  // namespace tolvane
