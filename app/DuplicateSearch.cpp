#include "DuplicateSearch.h"

#include <bit>
#include <chrono>
#include <cmath>

#include "DirectoryScan.h"
#include "FingerprintPool.h"
#include "GraphicUnits.h"
#include "graphics/GraphicCompression.h"
#include "ResultGrid.h"

namespace tolvane {

int64_t TFinderView::PerformanceCounter() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t TFinderView::PerformanceFrequency() { return 1'000'000'000; }

int ProgressPercent(size_t i, size_t count) {
  if (count == 0) return 0;
  long double p = static_cast<long double>(i) / static_cast<long double>(count) * 100.0L;
  return static_cast<int>(std::nearbyintl(p));  // the default rounding mode takes halves to even
}

namespace {

// A fingerprint as two 64-bit halves: the distance is then two population
// counts, the same value as FingerprintDistance.
struct TPackedPrint {
  uint64_t Hi, Lo;
};

inline int PackedDistance(const TPackedPrint& a, const TPackedPrint& b) {
  return std::popcount(a.Hi ^ b.Hi) + std::popcount(a.Lo ^ b.Lo);
}

// Distances per yield (the window's pump is time-sliced anyway).
constexpr uint32_t YieldInterval = 1024;

// The passes are where a large search spends its time: on processors that
// have it, they run with the population-count instruction. Not under
// ThreadSanitizer: the clone resolver runs before the sanitizer's runtime
// is ready and would crash the program at start.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define TOLVANE_POPCOUNT_CLONES __attribute__((target_clones("popcnt", "default")))
#else
#define TOLVANE_POPCOUNT_CLONES
#endif

struct TGroupingState {
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
void RunPass(TGroupingState& s, size_t i, ptrdiff_t from, ptrdiff_t end, ptrdiff_t step, std::vector<uint32_t>& group) {
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

std::optional<std::vector<std::vector<uint32_t>>> GroupFingerprints(std::span<const Fingerprint> prints,
                                                                    uint8_t threshold, const TGroupingHooks& hooks) {
  const size_t n = prints.size();
  TGroupingState s{std::vector<TPackedPrint>(n), std::vector<uint8_t>(n, 0), threshold, 10 * threshold, hooks};
  for (size_t i = 0; i < n; ++i) {
    const auto& w = prints[i].Words;
    s.Prints[i] = {uint64_t{w[0]} << 32 | w[1], uint64_t{w[2]} << 32 | w[3]};
  }
  std::vector<std::vector<uint32_t>> groups;
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

// Shows the progress panel for the duration of a search and, whatever ends
// it, hides the panel and clears Busy.
class TDuplicateFinder::TRunGuard {
public:
  explicit TRunGuard(TDuplicateFinder& finder) : F(finder) {
    F.FView.ShowProgressPanel(true);
    FPanelShown = true;
  }
  ~TRunGuard() {
    try {
      HidePanel();
    } catch (...) {
      // A view failing while the search unwinds must not end the program.
    }
    F.Busy = 0;
  }
  TRunGuard(const TRunGuard&) = delete;
  TRunGuard& operator=(const TRunGuard&) = delete;

  void HidePanel() {
    if (!FPanelShown) return;
    FPanelShown = false;
    F.FView.ShowProgressPanel(false);
  }

private:
  TDuplicateFinder& F;
  bool FPanelShown = false;
};

void TDuplicateFinder::SaveDuplicatesList(const std::string& fileName) const {
  tolvane::SaveDuplicatesList(fileName, StringGrid1, ScanDir);
}

void TDuplicateFinder::ReportProgress(int step, size_t i, size_t count, int& last) {
  int p = ProgressPercent(i, count);
  if (p == last) return;  // the same position and label again would change nothing
  last = p;
  FView.SetStepProgress(step, p, IntToStr(p) + "%");
}

bool TDuplicateFinder::ComputeFingerprints(const std::vector<std::string>& files, std::vector<Fingerprint>& prints) {
  prints.assign(files.size(), Fingerprint{});
  const unsigned workers = WorkerCount(Jobs, files.size());
  if (workers > 1) return ComputeFingerprintsInPool(files, prints, workers);
  TPicture picture;
  TBitmap target;
  target.SetPixelLayout(pl24Bit);
  target.ResizeWidth(16);
  target.ResizeHeight(8);
  int last = -1;
  for (size_t i = 0; i < files.size(); ++i) {
    prints[i] = FingerprintOneFile(ScanDir, files[i], picture, target).Print;
    picture.AssignGraphic(nullptr);  // not held while the next file loads
    if (!FView.ProcessMessages()) return false;
    ReportProgress(1, i, files.size(), last);
  }
  return true;
}

// The workers load and draw; this thread alone touches the window, and it
// takes the results in list order, so that progress, warnings and the
// fingerprints come out as on one thread. Leaving, by return or exception,
// stops and joins the workers.
bool TDuplicateFinder::ComputeFingerprintsInPool(const std::vector<std::string>& files,
                                                 std::vector<Fingerprint>& prints, unsigned workers) {
  PrepareGraphicUnitsForThreads(files);
  TFingerprintPool pool(ScanDir, files, workers, MemoryBudget);
  int last = -1;
  for (size_t i = 0; i < files.size(); ++i) {
    TFingerprintResult result = pool.Take(i);
    for (const auto& [text, caption] : result.Warnings) ShowCompressionWarning(text, caption);
    if (result.Failure) std::rethrow_exception(result.Failure);
    prints[i] = result.Print;
    if (!FView.ProcessMessages()) return false;
    ReportProgress(1, i, files.size(), last);
  }
  return true;
}

bool TDuplicateFinder::FillGrid(const std::vector<std::string>& files,
                                const std::vector<std::vector<uint32_t>>& groups) {
  TStringGrid& grid = StringGrid1;
  grid.ChangeRowCount(static_cast<int32_t>(groups.size() + 1));
  int32_t r = 1;
  for (const auto& group : groups) {
    if (group.size() > static_cast<size_t>(grid.ColCount())) grid.ChangeColumnCount(static_cast<int32_t>(group.size()));
    if (group.size() < 2) {
      grid.ChangeRowCount(grid.RowCount() - 1);
      continue;
    }
    if (!FView.ProcessMessages()) return false;
    for (size_t m = 0; m < group.size(); ++m) grid.SetCellText(static_cast<int32_t>(m), r, files[group[m]]);
    ++r;
  }
  return true;
}

bool TDuplicateFinder::BeginFindingDups(bool searchSubdirectories) {
  if (Busy) return false;
  std::string question = Format(Text(FinderConst::SConfirmScan), {ScanDir});
  if (FView.ShowMessageBox(TMsgDlgType::mtInformation, TMsgDlgButtons::mbOKCancel, question) == TModalResult::mrCancel)
    return false;

  TRunGuard run(*this);
  FView.SetStepProgress(1, 0, "0");
  FView.SetStepProgress(2, 0, "0");
  FView.ResetFilePanels(Text(FinderConst::SFileName));
  StringGrid1.SetRowStrings(1, {});
  StringGrid1.ChangeColumnCount(1);
  StringGrid1.ChangeRowCount(2);

  const int64_t start = FView.PerformanceCounter();
  const int64_t frequency = FView.PerformanceFrequency();
  Busy = 1;

  std::vector<std::string> files;
  if (searchSubdirectories) ScanDirectoryTree(ScanDir, ScanDir, files);
  else ScanDirectory(ScanDir, files);
  if (files.size() < 2) {
    FView.ShowMessageBox(TMsgDlgType::mtWarning, TMsgDlgButtons::mbOK, Text(FinderConst::SNoImageFiles));
    return true;
  }

  std::vector<std::vector<uint32_t>> groups;
  {
    std::vector<Fingerprint> prints;
    if (!ComputeFingerprints(files, prints)) return true;
    int last = -1;
    TGroupingHooks hooks{[this] { return FView.ProcessMessages(); },
                         [&](size_t i) { ReportProgress(2, i, files.size(), last); }};
    auto grouped = GroupFingerprints(prints, SimilarityThreshold, hooks);
    if (!grouped) return true;
    groups = std::move(*grouped);
  }
  if (!FillGrid(files, groups)) return true;

  run.HidePanel();
  FView.EnableDeleteButtons();
  const int64_t end = FView.PerformanceCounter();
  if (frequency > 0)
    FView.SetStatusText(Format(Text(FinderConst::STotalTime),
                               {static_cast<long double>(end - start) / static_cast<long double>(frequency)}));
  else
    FView.SetStatusText(Text(FinderConst::SNoClock));
  return true;
}

}  // namespace tolvane
