#include <gtest/gtest.h>

#include <sched.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "AppTestUtil.h"
#include "app/DuplicateSearch.h"
#include "app/FingerprintPool.h"
#include "app/GraphicUnits.h"
#include "app/ResultGrid.h"
#include "graphics/GraphicCompression.h"
#ifdef TOLVANE_HAVE_METAFILE_PLAYER
#include "picture/metafile/MetafilePlayer.h"
#include "tests/picture/metafile/MetafileWriters.h"
#endif

namespace tolvane {
namespace {

using Cells = std::vector<std::string>;

TEST(Progress, RoundsHalvesToEven) {
  // Round(i / count x 100).
  EXPECT_EQ(ProgressPercent(1, 8), 12);
  EXPECT_EQ(ProgressPercent(3, 8), 38);
  EXPECT_EQ(ProgressPercent(2, 3), 67);
}

// Records what the search does to the window; scripted answers.
class TFakeView : public TFinderView {
public:
  TModalResult ShowMessageBox(TMsgDlgType kind, TMsgDlgButtons, const std::string& text) override {
    Log.push_back((kind == TMsgDlgType::mtWarning ? "warning: " : "box: ") + text);
    return kind == TMsgDlgType::mtInformation ? Answer : TModalResult::mrOk;
  }
  void ShowProgressPanel(bool visible) override { Log.push_back(visible ? "panel shown" : "panel hidden"); }
  void SetStepProgress(int step, int position, const std::string& label) override {
    Log.push_back("step" + std::to_string(step) + " " + std::to_string(position) + " " + label);
  }
  void ResetFilePanels(const std::string& text) override { Log.push_back("panels " + text); }
  void SetStatusText(const std::string& text) override { Log.push_back("status " + text); }
  void EnableDeleteButtons() override { Log.push_back("buttons"); }
  bool ProcessMessages() override {
    if (OnMessages) OnMessages();
    return --MessagesLeft >= 0;
  }
  int64_t PerformanceCounter() override { return Counter += Tick; }
  int64_t PerformanceFrequency() override { return Frequency; }
  bool Has(const std::string& entry) const { return std::find(Log.begin(), Log.end(), entry) != Log.end(); }

  std::vector<std::string> Log;
  TModalResult Answer = TModalResult::mrOk;
  int MessagesLeft = 1 << 30;
  std::function<void()> OnMessages;
  int64_t Counter = 0, Tick = 1500, Frequency = 1000;
};

class Search : public ::testing::Test {
protected:
  static void SetUpTestSuite() { InitializeGraphicUnits(); }
  Search() {
    Finder.ScanDir = Dir.Path + "/";
    Finder.SimilarityThreshold = 1;
  }
  // Pictures with the left, right or top half dark: 128, 64 and 64 apart.
  void Pictures(const std::string& kind, std::initializer_list<const char*> names) {
    TRect dark = kind == "left" ? Rect(0, 0, 16, 16) : kind == "right" ? Rect(16, 0, 32, 16) : Rect(0, 0, 32, 8);
    for (const char* name : names) test::WriteBmp(Dir.Path + "/" + name, dark);
  }
  std::vector<Cells> Rows() const {
    std::vector<Cells> rows;
    for (int32_t r = 1; r < Finder.StringGrid1.RowCount(); ++r) rows.push_back(Finder.StringGrid1.RowStrings(r));
    return rows;
  }

  test::TTempDir Dir;
  TFakeView View;
  TDuplicateFinder Finder{View};
};

TEST_F(Search, FillsOneRowPerGroupAndReportsEveryStep) {
  Pictures("left", {"a.bmp", "c.bmp", "e.bmp"});
  Pictures("top", {"b.bmp"});
  Pictures("right", {"d.bmp", "f.bmp"});
  test::WriteFile(Dir.Path + "/notes.txt", "x");
  Finder.StringGrid1.SetCellText(4, 1, "stale");
  Finder.SimilarityThreshold = 13;  // no pass ends early
  Finder.BeginFindingDups(false);
  EXPECT_EQ(Rows(), (std::vector<Cells>{{"a.bmp", "c.bmp", "e.bmp"}, {"d.bmp", "f.bmp", ""}}));
  EXPECT_EQ(Finder.StringGrid1.FixedRows(), 1);
  std::vector<std::string> expected = {
      "box: " + Format(FinderConst::SConfirmScan, {Dir.Path + "/"}),
      "panel shown", "step1 0 0", "step2 0 0", "panels filename",
      "step1 0 0%", "step1 17 17%", "step1 33 33%", "step1 50 50%", "step1 67 67%", "step1 83 83%",
      "step2 0 0%", "step2 17 17%", "step2 50 50%",
      "panel hidden", "buttons", "status Total time:     1.50 sec"};
  EXPECT_EQ(View.Log, expected);
  // A second search: a long time, and no clock at all.
  View.Log.clear();
  View.Tick = 1234567;
  Finder.BeginFindingDups(true);
  EXPECT_EQ(View.Log.back(), "status Total time: 1,234.57 sec");
  EXPECT_EQ(Rows()[0][0], "/a.bmp");
  View.Frequency = 0;
  Finder.BeginFindingDups(false);
  EXPECT_EQ(View.Log.back(), "status System clock not found");
}

TEST_F(Search, CancelOrTooFewFiles) {
  Pictures("left", {"a.bmp"});
  Finder.StringGrid1.SetCellText(0, 1, "old");
  View.Answer = TModalResult::mrCancel;
  Finder.BeginFindingDups(false);
  EXPECT_EQ(View.Log.size(), 1u);
  EXPECT_EQ(Finder.StringGrid1.CellText(0, 1), "old");
  View.Answer = TModalResult::mrOk;
  Finder.BeginFindingDups(false);
  EXPECT_TRUE(View.Has("warning: No image files found in the specified directory!"));
  EXPECT_EQ(View.Log.back(), "panel hidden");
  EXPECT_FALSE(View.Has("buttons"));
  EXPECT_EQ(DuplicatesListText(Finder.StringGrid1, ""), DuplicatesListText(TStringGrid(1, 2), ""));
  EXPECT_EQ(Finder.Busy, 0);
}

TEST_F(Search, UnreadableFilesAreNoDuplicates) {
  // Each is unreadable in its own way: it fails when drawn (the JPEG's
  // header reads, but its quantisation table is never defined), fails to
  // load, holds no bytes (the .411 reader would take that for a flat
  // picture), or loads 0 wide. None may stand in a row: the next thing a
  // user does with a row is delete a file of it.
  test::WriteFile(Dir.Path + "/broken.jpg", std::string("\xFF\xD8\xFF\xC0\x00\x0B\x08\x00\x08\x00\x08\x01\x01\x11\x00"
                                                         "\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00\x12\x34\xFF\xD9",
                                                         29));
  test::WriteFile(Dir.Path + "/garbage.bmp", "BM not a bitmap");
  for (const char* name : {"empty.png", "empty.gif", "empty.411"}) test::WriteFile(Dir.Path + "/" + name, "");
  test::WriteFile(Dir.Path + "/narrow.wbmp", std::string("\x00\x00\x00\x05", 4));
  test::WriteBmp(Dir.Path + "/flat.bmp", Rect(0, 0, 0, 0));  // all 128 bits set, as the empty .411 would give
  Pictures("left", {"x.bmp", "y.bmp"});
  const std::vector<Cells> pair{{"x.bmp", "y.bmp"}}, readable{{"flat.bmp", "x.bmp", "y.bmp"}};
  for (unsigned jobs : {1u, 3u}) {
    Finder.Jobs = jobs;
    for (auto [t, rows] : {std::pair{1, pair}, {13, pair}, {200, readable}}) {
      Finder.SimilarityThreshold = static_cast<uint8_t>(t);
      Finder.BeginFindingDups(false);
      EXPECT_EQ(Rows(), rows) << jobs << " " << t;
    }
  }
}

TEST_F(Search, WhateverEndsASearchBusyIsClearedAndThePanelHidden) {
  Pictures("left", {"a.bmp", "b.bmp", "c.bmp"});
  for (int left : {0, 3, 4}) {  // the window closes during fingerprints, grouping, filling the grid
    View.Log.clear();
    View.MessagesLeft = left;
    Finder.BeginFindingDups(false);
    EXPECT_EQ(Finder.Busy, 0);
    EXPECT_EQ(View.Log.back(), "panel hidden") << left;
    EXPECT_FALSE(View.Has("buttons")) << left;
  }
  View.MessagesLeft = 1 << 30;
  View.Log.clear();
  int calls = 0;
  View.OnMessages = [&] {
    if (calls++ == 0) Finder.BeginFindingDups(false);  // ignored while a search runs
    if (calls == 2) throw EAbort("stop");
  };
  EXPECT_THROW(Finder.BeginFindingDups(false), EAbort);
  EXPECT_EQ(Finder.Busy, 0);
  EXPECT_EQ(View.Log.back(), "panel hidden");
  EXPECT_EQ(std::count(View.Log.begin(), View.Log.end(), "panel shown"), 1);
}

TEST_F(Search, ThreadsChangeNothingThatTheWindowSees) {
  // Many files, some unreadable or failing only when drawn, in every order
  // the workers may finish them: one thread and five give the same window.
  const std::string broken("\xFF\xD8\xFF\xC0\x00\x0B\x08\x00\x08\x00\x08\x01\x01\x11\x00"
                           "\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00\x12\x34\xFF\xD9", 29);
  for (int i = 0; i < 60; ++i) {
    const std::string name = Dir.Path + "/p" + std::to_string(100 + i);
    if (i % 7 == 3) test::WriteFile(name + ".jpg", broken);
    else if (i % 11 == 5) test::WriteFile(name + ".bmp", "BM not a bitmap");
    else test::WriteBmp(name + ".bmp", i % 3 == 0 ? Rect(0, 0, 16, 16) : i % 3 == 1 ? Rect(16, 0, 32, 16) : Rect(0, 0, 32, 8));
  }
  Finder.SimilarityThreshold = 13;
  Finder.Jobs = 1;
  Finder.BeginFindingDups(false);
  const auto rows = Rows();
  const auto log = View.Log;
  ASSERT_EQ(rows.size(), 3u);
  for (unsigned jobs : {5u, 0u}) {
    View.Log.clear();
    Finder.Jobs = jobs;
    Finder.BeginFindingDups(false);
    EXPECT_EQ(Rows(), rows) << jobs;
    EXPECT_EQ(View.Log, log) << jobs;
  }
}

TEST_F(Search, ClosingOrFailingWindowStopsTheWorkers) {
  for (int i = 0; i < 40; ++i) test::WriteBmp(Dir.Path + "/p" + std::to_string(i) + ".bmp", Rect(0, 0, 16, 16));
  Finder.Jobs = 4;
  for (int left : {0, 7}) {  // closed after the first file, or after a few
    View.Log.clear();
    View.MessagesLeft = left;
    Finder.BeginFindingDups(false);
    EXPECT_EQ(Finder.Busy, 0);
    EXPECT_EQ(View.Log.back(), "panel hidden");
    EXPECT_FALSE(View.Has("buttons"));
  }
  View.MessagesLeft = 1 << 30;
  int calls = 0;
  View.OnMessages = [&] {
    if (++calls == 3) throw EAbort("stop");
  };
  EXPECT_THROW(Finder.BeginFindingDups(false), EAbort);  // the workers are joined on the way out
  EXPECT_EQ(Finder.Busy, 0);
  View.OnMessages = nullptr;
  Finder.BeginFindingDups(false);
  EXPECT_EQ(Rows().size(), 1u);
  EXPECT_EQ(Rows()[0].size(), 40u);
}

#ifdef TOLVANE_HAVE_METAFILE_PLAYER
TEST_F(Search, MetafileTextDrawsOnWorkerThreads) {
  // Text needs the GUI application; the search makes it before the workers
  // start, and the workers then lay out glyphs at the same time.
  TMetafileTextSupport support;
  for (int i = 0; i < 24; ++i) {  // in pairs: each text twice, in list order
    const int k = i / 2;
    std::vector<uint8_t> font, text;
    for (int32_t v : {1, -72 - 8 * (k % 3), 0, 0, 0, 700, 0, 0}) test::PutU32(font, static_cast<uint32_t>(v));
    for (char c : std::string("DejaVu Sans")) test::PutU16(font, static_cast<uint8_t>(c));
    font.resize(4 + 92, 0);
    for (int32_t v : {0, 0, -1, -1, 1, 0, 0, 12 + 40 * (k % 4), 12, 2, 76, 0, 0, 0, 0, 0, 0})
      test::PutU32(text, static_cast<uint32_t>(v));
    for (char c : std::string("HW")) test::PutU16(text, static_cast<uint8_t>(c));
    const std::vector<uint8_t> bytes = test::TEmfWriter(0, 0, 5080, 2540)
                                           .AddRaw(82, font)  // font
                                           .Add(37, {1})      // selected
                                           .Add(18, {1})      // transparent background
                                           .AddRaw(84, text)  // text
                                           .Finish();
    test::WriteFile(Dir.Path + "/t" + std::to_string(10 + i) + ".emf", std::string(bytes.begin(), bytes.end()));
  }
  Finder.Jobs = 1;
  Finder.BeginFindingDups(false);
  const auto rows = Rows();
  EXPECT_GE(rows.size(), 6u);  // the glyphs were drawn: the pictures differ
  Finder.Jobs = 6;
  Finder.BeginFindingDups(false);
  EXPECT_EQ(Rows(), rows);
}
#endif

TEST(FingerprintPool, WorkersStayWithinTheWindowOfTheTaker) {
  // Files past the window can only be loaded after the taker has moved
  // on; removed before that, they count as unreadable.
  test::TTempDir dir;
  std::vector<std::string> files;
  for (int i = 0; i < 40; ++i) {
    files.push_back("p" + std::to_string(100 + i) + ".bmp");
    test::WriteBmp(dir / files.back(), Rect(0, 0, 16, 16));
  }
  TFingerprintPool pool(dir.Path + "/", files, 3);
  const size_t window = pool.Window();
  ASSERT_EQ(window, 6u);
  EXPECT_NE(pool.Take(0).Print, Fingerprint{});
  for (size_t i = window + 1; i < files.size(); ++i) std::filesystem::remove(dir / files[i]);
  for (size_t i = 1; i < files.size(); ++i) {
    const Fingerprint print = pool.Take(i).Print;
    if (i > window) {
      EXPECT_EQ(print, Fingerprint{}) << i;
    }
  }
}

TEST(FingerprintPool, WorkersPerCoreAndWarningsKeptPerThread) {
  EXPECT_EQ(WorkerCount(1, 100), 1u);
  EXPECT_EQ(WorkerCount(8, 3), 3u);
  EXPECT_EQ(WorkerCount(8, 0), 1u);
  // One worker per core the thread may run on, not per core of the machine.
  cpu_set_t mask;
  ASSERT_EQ(sched_getaffinity(0, sizeof mask, &mask), 0);
  EXPECT_EQ(WorkerCount(0, 1000), static_cast<unsigned>(CPU_COUNT(&mask)));
  int first = 0;
  while (!CPU_ISSET(first, &mask)) ++first;
  std::thread([first] {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    EXPECT_EQ(WorkerCount(0, 1000), 1u);
    EXPECT_EQ(WorkerCount(3, 1000), 3u);  // asked for, the count stands
  }).join();
  std::vector<std::string> shown;
  TCompressionWarningHook previous =
      SetCompressionWarningHook([&](const std::string& text, const std::string&) { shown.push_back(text); });
  {
    TCompressionWarningCapture outer;
    {
      TCompressionWarningCapture inner;
      ShowCompressionWarning("inner", "c");
      EXPECT_EQ(inner.Warnings.size(), 1u);
    }
    // Another thread has no capture: its warning reaches the hook.
    std::thread([] { ShowCompressionWarning("elsewhere", "c"); }).join();
    ShowCompressionWarning("outer", "c");
    ASSERT_EQ(outer.Warnings.size(), 1u);
    EXPECT_EQ(outer.Warnings[0], (std::pair<std::string, std::string>("outer", "c")));
  }
  ShowCompressionWarning("after", "c");
  SetCompressionWarningHook(std::move(previous));
  EXPECT_EQ(shown, (std::vector<std::string>{"elsewhere", "after"}));
}

// The load of one file on a thread of its own: it charges the budget when
// told and holds what it got until Finish.
class TLoadOnThread {
public:
  TLoadOnThread(TMemoryBudget& budget, size_t file) : FThread([this, &budget, file] { Run(budget, file); }) {}
  ~TLoadOnThread() { Finish(); }

  void Charge(uint64_t bytes) {
    std::lock_guard lock(FMutex);
    FOrders.push_back(bytes);
    FChanged.notify_all();
  }
  // Waits until count charges have returned (or thrown).
  void AwaitCharges(size_t count) {
    std::unique_lock lock(FMutex);
    FChanged.wait(lock, [&] { return FDone >= count; });
  }
  // A charge that is expected to return: waits for it.
  void ChargeNow(uint64_t bytes) {
    const size_t done = Done();
    Charge(bytes);
    AwaitCharges(done + 1);
  }
  size_t Done() {
    std::lock_guard lock(FMutex);
    return FDone;
  }
  void Finish() {
    {
      std::lock_guard lock(FMutex);
      FFinish = true;
      FChanged.notify_all();
    }
    if (FThread.joinable()) FThread.join();
  }
  bool Aborted() {
    std::lock_guard lock(FMutex);
    return FAborted;
  }

private:
  void Run(TMemoryBudget& budget, size_t file) {
    TMemoryBudget::TReservation reservation(budget, file);
    std::unique_lock lock(FMutex);
    for (;;) {
      FChanged.wait(lock, [&] { return FFinish || !FOrders.empty(); });
      if (FOrders.empty()) return;
      const uint64_t bytes = FOrders.front();
      FOrders.erase(FOrders.begin());
      lock.unlock();
      bool aborted = false;
      try {
        reservation.Charge(bytes);
      } catch (const EAbort&) {
        aborted = true;
      }
      lock.lock();
      FAborted = FAborted || aborted;
      ++FDone;
      FChanged.notify_all();
    }
  }

  std::mutex FMutex;
  std::condition_variable FChanged;
  std::vector<uint64_t> FOrders;
  size_t FDone = 0;
  bool FFinish = false, FAborted = false;
  std::thread FThread;
};

// Waits until the budget has waiting charges of that many files.
void AwaitWaiting(const TMemoryBudget& budget, size_t count) {
  while (budget.Waiting() != count) std::this_thread::yield();
}

TEST(FingerprintPool, BudgetChargesWaitUntilTheMemoryIsGivenBack) {
  TMemoryBudget budget(100);
  TLoadOnThread a(budget, 0), b(budget, 1);
  a.ChargeNow(60);
  b.Charge(50);
  AwaitWaiting(budget, 1);
  a.ChargeNow(30);  // a file that holds memory may take more where it fits
  EXPECT_EQ(budget.Taken(), 90u);
  EXPECT_EQ(b.Done(), 0u);
  a.Finish();
  b.AwaitCharges(1);
  EXPECT_EQ(budget.Taken(), 50u);
  b.Finish();
  EXPECT_EQ(budget.Taken(), 0u);
}

TEST(FingerprintPool, BudgetLetsLowerFilesInFirstAndLargeOnesAlone) {
  TMemoryBudget budget(100);
  auto c = std::make_unique<TLoadOnThread>(budget, 5);
  c->ChargeNow(90);
  // File 3 would fit, but file 2, which the taker needs first, waits.
  TLoadOnThread b(budget, 2), d(budget, 3);
  b.Charge(50);
  AwaitWaiting(budget, 1);
  d.Charge(5);
  AwaitWaiting(budget, 2);
  c.reset();
  b.AwaitCharges(1);
  d.AwaitCharges(1);
  EXPECT_EQ(budget.Taken(), 55u);
  // More than the whole budget: once nothing else is held, alone.
  TLoadOnThread e(budget, 7), f(budget, 8);
  e.Charge(500);
  AwaitWaiting(budget, 1);
  b.Finish();
  d.Finish();
  e.AwaitCharges(1);
  EXPECT_EQ(budget.Taken(), 500u);
  f.Charge(1);
  AwaitWaiting(budget, 1);
  e.Finish();
  f.AwaitCharges(1);
  EXPECT_EQ(budget.Taken(), 1u);
}

TEST(FingerprintPool, BudgetFilesHoldingMemoryNeverWaitForEachOther) {
  // Both hold some and want more than is left: the lower goes on beyond
  // the budget, the other follows when the lower is done.
  TMemoryBudget budget(100);
  TLoadOnThread a(budget, 0), b(budget, 1);
  a.ChargeNow(60);
  b.ChargeNow(30);
  a.Charge(50);
  AwaitWaiting(budget, 1);
  b.Charge(50);
  a.AwaitCharges(2);
  EXPECT_EQ(budget.Taken(), 140u);
  AwaitWaiting(budget, 1);
  EXPECT_EQ(b.Done(), 1u);
  a.Finish();
  b.AwaitCharges(2);
  EXPECT_EQ(budget.Taken(), 80u);
}

TEST(FingerprintPool, BudgetCancelledEndsEveryCharge) {
  TMemoryBudget budget(10);
  TLoadOnThread a(budget, 0), b(budget, 1);
  a.ChargeNow(10);
  b.Charge(5);
  AwaitWaiting(budget, 1);
  budget.Cancel();
  b.AwaitCharges(1);
  EXPECT_TRUE(b.Aborted());
  a.ChargeNow(1);
  EXPECT_TRUE(a.Aborted());
  a.Finish();
  b.Finish();
  EXPECT_EQ(budget.Taken(), 0u);
}

TEST(FingerprintPool, LoadsChargeTheirPicturesAndGiveThemBack) {
  // Every picture is larger than a budget of one byte, so the files load
  // one at a time; a load that fails after its size check gives its charge
  // back like one that succeeds, or the next file would wait for ever.
  test::TTempDir dir;
  std::vector<std::string> files;
  for (int i = 0; i < 24; ++i) {
    files.push_back("p" + std::to_string(10 + i) + ".bmp");
    const std::string path = dir / files.back();
    if (i % 3 == 1) {
      test::WriteBmp(path, Rect(0, 0, 16, 16));
      std::filesystem::resize_file(path, 200);  // the header passes, the rows are missing
    } else {
      test::WriteBmp(path, i % 3 ? Rect(16, 0, 32, 16) : Rect(0, 0, 32, 8));
    }
  }
  TPicture picture;
  TBitmap target;
  target.SetPixelLayout(pl24Bit);
  target.ResizeWidth(16);
  target.ResizeHeight(8);
  TFingerprintPool pool(dir.Path + "/", files, 4, 1);
  for (size_t i = 0; i < files.size(); ++i)
    EXPECT_EQ(pool.Take(i).Print, FingerprintOneFile(dir.Path + "/", files[i], picture, target).Print) << i;
  // On a thread without an account, nothing is charged and nothing waits.
  TMemoryBudget budget(1);
  TMemoryBudget::TReservation reservation(budget, 0);
  EXPECT_TRUE(ImageSizeAllowed(1000, 1000, 32));
  EXPECT_EQ(reservation.Held(), 0u);
  {
    TImageMemoryScope scope(reservation);
    EXPECT_TRUE(ImageSizeAllowed(1000, 1000, 32));
    EXPECT_FALSE(ImageSizeAllowed(1 << 15, 1 << 14, 32));  // refused: nothing charged
    ChargeImageMemory(24);
  }
  EXPECT_TRUE(ImageSizeAllowed(10, 10, 8));
  EXPECT_EQ(reservation.Held(), 4'000'000u + 24u);
}

}  // namespace
}  // namespace tolvane
