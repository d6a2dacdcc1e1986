// finddups: the finder's search without a window.
//   finddups DIR THRESHOLD [--recursive] [--jobs N] [--budget MIB]
// Scans DIR (with its subdirectories when asked), groups near-duplicate
// pictures whose fingerprints differ in fewer than THRESHOLD bits, and
// writes to standard output the duplicates list that "Save List" would
// write for the resulting grid. THRESHOLD is read like ravelk's command
// line: a decimal integer of which the low 8 bits count. --jobs N computes
// and groups fingerprints on N threads (default: one per core the process
// may use; 1 does it all on the main thread); the list is the same with any
// N. --budget MIB sets the memory those threads may hold at once for their
// pictures (default: the search's own), so that tests can watch the budget
// work with small pictures.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/DuplicateSearch.h"
#include "app/GraphicUnits.h"
#include "app/ResultGrid.h"
#ifdef TOLVANE_HAVE_METAFILE_PLAYER
#include "picture/metafile/MetafilePlayer.h"
#endif

using namespace tolvane;

namespace {

// Answers OK to every question; a warning goes to standard error.
class TConsoleView : public TFinderView {
public:
  TModalResult ShowMessageBox(TMsgDlgType kind, TMsgDlgButtons, const std::string& text) override {
    if (kind == TMsgDlgType::mtWarning || kind == TMsgDlgType::mtError) std::fprintf(stderr, "%s\n", text.c_str());
    return TModalResult::mrOk;
  }
  void ShowProgressPanel(bool) override {}
  void SetStepProgress(int, int, const std::string&) override {}
  void ResetFilePanels(const std::string&) override {}
  void SetStatusText(const std::string&) override {}
  void EnableDeleteButtons() override {}
  bool ProcessMessages() override { return true; }
};

int Usage() {
  std::fprintf(stderr, "usage: finddups DIR THRESHOLD [--recursive] [--jobs N] [--budget MIB]\n");
  return 2;
}

// A decimal count from 1 to most.
bool ParseCount(const char* text, unsigned long most, unsigned& count) {
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || value < 1 || value > most) return false;
  count = static_cast<unsigned>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argv[1][0] == '\0') return Usage();
  bool recursive = false;
  unsigned jobs = 0, budgetMiB = 0;
  for (int i = 3; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--recursive" && !recursive) recursive = true;
    else if (option == "--jobs" && jobs == 0 && i + 1 < argc && ParseCount(argv[i + 1], 4096, jobs)) ++i;
    else if (option == "--budget" && budgetMiB == 0 && i + 1 < argc && ParseCount(argv[i + 1], 1 << 20, budgetMiB)) ++i;
    else return Usage();
  }
  int rc = 0;
#ifdef TOLVANE_HAVE_METAFILE_PLAYER
  TMetafileTextSupport text;  // metafile text draws with the system's fonts, as in the window
#endif
  InitializeGraphicUnits();
  try {
    TConsoleView view;
    TDuplicateFinder finder(view);
    finder.Jobs = jobs;
    if (budgetMiB > 0) finder.MemoryBudget = uint64_t{budgetMiB} << 20;
    finder.SimilarityThreshold = static_cast<uint8_t>(StrToInt(argv[2]) & 0xFF);
    finder.ScanDir = argv[1];
    if (finder.ScanDir.empty() || finder.ScanDir.back() != '/') finder.ScanDir += '/';
    finder.BeginFindingDups(recursive);
    std::string list = DuplicatesListText(finder.StringGrid1, finder.ScanDir);
    if (std::fwrite(list.data(), 1, list.size(), stdout) != list.size() || std::fflush(stdout) != 0) {
      std::fprintf(stderr, "error: EInOutError: %s\n", Format(SysConst::SInOutError, {errno}).c_str());
      rc = 1;
    }
  } catch (const Exception& e) {
    std::fprintf(stderr, "error: %s: %s\n", e.ClassName(), e.what());
    rc = 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: std::exception: %s\n", e.what());
    rc = 1;
  }
  FinalizeGraphicUnits();
  return rc;
}
