// The finder's one search: lists the image files of a directory, computes a
// fingerprint for each, gathers files whose fingerprints differ in fewer
// bits than the similarity threshold into groups, and writes every group of
// two or more files into a row of the result grid. The window's effects go
// through TFinderView, so the search runs without a window.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Fingerprint.h"
#include "FingerprintPool.h"
#include "StringGrid.h"

namespace tolvane {

enum class TMsgDlgType : uint8_t { mtWarning, mtError, mtInformation, mtConfirmation };
enum class TMsgDlgButtons : uint8_t { mbOK, mbOKCancel, mbYesNo };
enum class TModalResult : uint8_t { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

// The finder's message texts, in English; a view translates them.
namespace FinderConst {
inline constexpr const char* SConfirmScan =
    "Tolvane will now scan directory:\r\n\r\n%s\r\n\r\n"
    "in order to find all duplicates. It can take from one second to few hours depending\r\n"
    "on the number of image files in this directory. Please be patient.\r\n"
    "Press OK to start scanning.";
inline constexpr const char* SNoImageFiles = "No image files found in the specified directory!";
inline constexpr const char* SFileName = "filename";
inline constexpr const char* STotalTime = "Total time: %8.2n sec";
inline constexpr const char* SNoClock = "System clock not found";
inline constexpr const char* SNoDuplicates = "No duplicates";
}  // namespace FinderConst

// What a search does to the window around it.
class TFinderView {
public:
  virtual ~TFinderView() = default;

  // The current translation of one of FinderConst's texts.
  virtual std::string ResourceText(std::string_view english) { return std::string(english); }
  virtual TModalResult ShowMessageBox(TMsgDlgType kind, TMsgDlgButtons buttons, const std::string& text) = 0;
  // The progress panel over the file details.
  virtual void ShowProgressPanel(bool visible) = 0;
  // Step 1 (fingerprints) or 2 (grouping): the bar's position 0..100 and
  // the text of the step's label.
  virtual void SetStepProgress(int step, int position, const std::string& label) = 0;
  // Both file panels show fileNameText, every file detail "0", both previews empty.
  virtual void ResetFilePanels(const std::string& fileNameText) = 0;
  // The first panel of the status bar.
  virtual void SetStatusText(const std::string& text) = 0;
  virtual void EnableDeleteButtons() = 0;
  // Lets the window handle what is pending. False ends the running search
  // (the window is closing).
  virtual bool ProcessMessages() = 0;
  // A monotonic counter and its ticks per second (0: there is no counter).
  virtual int64_t PerformanceCounter();
  virtual int64_t PerformanceFrequency();
};

// Hooks of the grouping, called on the thread that groups: Yield runs
// before the first distance and then every millisecond or so while the
// grouping works (a turn of the event loop costs more than thousands of
// distances); false stops the grouping. GroupDone runs after the group that
// file i started, in list order.
struct TGroupingHooks {
  std::function<bool()> Yield;
  std::function<void(size_t i)> GroupDone;
};

using TGroups = std::vector<std::vector<uint32_t>>;

// Groups files by their fingerprints, in list order: every file not yet
// taken starts a group; a forward pass over the later files and, from the
// third file on, a backward pass over the earlier ones take every file not
// yet taken whose distance is below threshold, and a pass ends after the
// first file it tests at a distance above 10 x threshold. A group's first
// file is never marked as taken, so a later group's backward pass may take
// it again. Members are listed as added: the first file, the forward
// members ascending, the backward members descending. Files marked
// unreadable (unreadable holds one mark per print, or is empty) are taken
// before the walk starts: they start no group, join none and end no pass.
// Every group is returned, single files included; nothing when Yield said
// stop. The passes run on threads workers (0: one per CPU the process may
// use); the groups are the same with any number.
std::optional<TGroups> GroupFingerprints(std::span<const Fingerprint> prints, std::span<const uint8_t> unreadable,
                                         uint8_t threshold, const TGroupingHooks& hooks = {}, unsigned threads = 0);

// The same walk taken literally, file by file and distance by distance, on
// the calling thread, with Yield before every 1,024th distance: what
// GroupFingerprints must give, kept to check it against.
std::optional<TGroups> ReferenceGroupFingerprints(std::span<const Fingerprint> prints,
                                                  std::span<const uint8_t> unreadable, uint8_t threshold,
                                                  const TGroupingHooks& hooks = {});

// The search state of the main window and the search itself.
class TDuplicateFinder {
public:
  explicit TDuplicateFinder(TFinderView& view) : FView(view) {}

  // The directory of the last or current search, ending in "/".
  std::string ScanDir;
  // Distance below which two pictures are duplicates.
  uint8_t SimilarityThreshold = 0;
  // 1 while a search runs; no previews are made then.
  uint8_t Busy = 0;
  // One group per row from row 1 on.
  TStringGrid StringGrid1;
  // Threads that compute and group fingerprints: 0 for one per usable core,
  // 1 for all on the calling thread. Results are the same with any number.
  unsigned Jobs = 0;
  // What those threads may hold at once for their pictures (see TMemoryBudget).
  uint64_t MemoryBudget = SearchMemoryBudget;

  // Asks for confirmation, then searches ScanDir (with its subdirectories
  // when asked) and fills StringGrid1. A request while a search runs is
  // ignored. Whatever ends it, Busy returns to 0 and the progress panel is
  // hidden. An unreadable file (no bytes, no picture, or a picture that is
  // empty or fails while it is drawn) is in no group and the search goes
  // on. False when no search started (one was running, or the
  // confirmation was cancelled).
  bool BeginFindingDups(bool searchSubdirectories);
  void SaveDuplicatesList(const std::string& fileName) const;

private:
  class TRunGuard;
  bool ComputeFingerprints(const std::vector<std::string>& files, std::vector<Fingerprint>& prints,
                           std::vector<uint8_t>& unreadable);
  bool ComputeFingerprintsInPool(const std::vector<std::string>& files, std::vector<Fingerprint>& prints,
                                 std::vector<uint8_t>& unreadable, unsigned workers);
  bool FillGrid(const std::vector<std::string>& files, const TGroups& groups);
  void ReportProgress(int step, size_t i, size_t count, int& last);
  std::string Text(const char* english) { return FView.ResourceText(english); }

  TFinderView& FView;
};

// Round(i / count x 100), halves to even, computed in extended precision.
int ProgressPercent(size_t i, size_t count);

}  // namespace tolvane
