#include "DuplicateSearch.h"

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

bool TDuplicateFinder::ComputeFingerprints(const std::vector<std::string>& files, std::vector<Fingerprint>& prints,
                                           std::vector<uint8_t>& unreadable) {
  prints.assign(files.size(), Fingerprint{});
  unreadable.assign(files.size(), 0);
  const unsigned workers = WorkerCount(Jobs, files.size());
  if (workers > 1) return ComputeFingerprintsInPool(files, prints, unreadable, workers);
  TPicture picture;
  TBitmap target;
  target.SetPixelLayout(pl24Bit);
  target.ResizeWidth(16);
  target.ResizeHeight(8);
  int last = -1;
  for (size_t i = 0; i < files.size(); ++i) {
    const TFingerprintResult result = FingerprintOneFile(ScanDir, files[i], picture, target);
    picture.AssignGraphic(nullptr);  // not held while the next file loads
    prints[i] = result.Print;
    unreadable[i] = result.Unreadable;
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
                                                 std::vector<Fingerprint>& prints, std::vector<uint8_t>& unreadable,
                                                 unsigned workers) {
  PrepareGraphicUnitsForThreads(files);
  TFingerprintPool pool(ScanDir, files, workers, MemoryBudget);
  int last = -1;
  for (size_t i = 0; i < files.size(); ++i) {
    TFingerprintResult result = pool.Take(i);
    for (const auto& [text, caption] : result.Warnings) ShowCompressionWarning(text, caption);
    if (result.Failure) std::rethrow_exception(result.Failure);
    prints[i] = result.Print;
    unreadable[i] = result.Unreadable;
    if (!FView.ProcessMessages()) return false;
    ReportProgress(1, i, files.size(), last);
  }
  return true;
}

bool TDuplicateFinder::FillGrid(const std::vector<std::string>& files, const TGroups& groups) {
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

  TGroups groups;
  {
    std::vector<Fingerprint> prints;
    std::vector<uint8_t> unreadable;
    if (!ComputeFingerprints(files, prints, unreadable)) return true;
    int last = -1;
    TGroupingHooks hooks{[this] { return FView.ProcessMessages(); },
                         [&](size_t i) { ReportProgress(2, i, files.size(), last); }};
    auto grouped = GroupFingerprints(prints, unreadable, SimilarityThreshold, hooks, WorkerCount(Jobs, files.size()));
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
