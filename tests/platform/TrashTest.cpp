#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <thread>

#include "support/TempDir.h"
#include "platform/EventPump.h"
#include "platform/PerformanceCounter.h"
#include "platform/Shell.h"
#include "platform/Trash.h"

using namespace tolvane;
using namespace tolvane::test;
namespace fs = std::filesystem;

namespace {

// 2026-12-08 14:30:05 local time.
std::time_t Noon() {
  struct tm t = {};
  t.tm_year = 126, t.tm_mon = 11, t.tm_mday = 8, t.tm_hour = 14, t.tm_min = 30, t.tm_sec = 5, t.tm_isdst = -1;
  return std::mktime(&t);
}

class EnvScope {
public:
  EnvScope(const char* name, const std::string& value) : FName(name) {
    const char* old = std::getenv(name);
    if (old) FOld = old, FHad = true;
    ::setenv(name, value.c_str(), 1);
  }
  ~EnvScope() { FHad ? ::setenv(FName, FOld.c_str(), 1) : ::unsetenv(FName); }

private:
  const char* FName;
  std::string FOld;
  bool FHad = false;
};

}  // namespace

TEST(Trash, HomeTrashKeepsTheFileRestorable) {
  TTempDir dir;
  EnvScope data("XDG_DATA_HOME", dir / "data");
  fs::create_directories(dir / "pics");
  WriteFile(dir / "pics/a b.jpg", "one");
  TTrashPlace place = TrashPlaceFor(dir / "pics/a b.jpg");
  EXPECT_EQ(place.TrashDir, dir / "data/Trash");
  EXPECT_EQ(place.PathBase, "");
  ASSERT_TRUE(MoveToTrash(dir / "pics/a b.jpg", place, Noon()));
  EXPECT_FALSE(fs::exists(dir / "pics/a b.jpg"));
  EXPECT_EQ(ReadFile(dir / "data/Trash/files/a b.jpg"), "one");
  std::string real = fs::canonical(dir.Path).string();
  EXPECT_EQ(ReadFile(dir / "data/Trash/info/a b.jpg.trashinfo"),
            "[Trash Info]\nPath=" + TrashEncodePath(real) + "/pics/a%20b.jpg\nDeletionDate=2026-12-08T14:30:05\n");
  EXPECT_EQ(fs::status(dir / "data/Trash").permissions() & fs::perms::all, fs::perms::owner_all);
  // A second file of the same name gets a name of its own.
  WriteFile(dir / "pics/a b.jpg", "two");
  TFreedesktopTrash trash;
  ASSERT_TRUE(trash.MoveToRecycleBin(dir / "pics/a b.jpg"));
  EXPECT_EQ(ReadFile(dir / "data/Trash/files/a b.jpg.2"), "two");
  EXPECT_TRUE(fs::exists(dir / "data/Trash/info/a b.jpg.2.trashinfo"));
}

TEST(Trash, TopDirectoryTrashRecordsRelativePaths) {
  TTempDir dir;
  fs::create_directories(dir / "top/sub");
  WriteFile(dir / "top/sub/x%y.png", "pixels");
  std::string top = fs::canonical(dir / "top").string();
  TTrashPlace place{top + "/.Trash-" + std::to_string(::getuid()), top};
  ASSERT_TRUE(MoveToTrash(dir / "top/sub/x%y.png", place, Noon()));
  EXPECT_EQ(ReadFile(place.TrashDir + "/info/x%y.png.trashinfo"),
            "[Trash Info]\nPath=sub/x%25y.png\nDeletionDate=2026-12-08T14:30:05\n");
  EXPECT_EQ(ReadFile(place.TrashDir + "/files/x%y.png"), "pixels");
}

TEST(Trash, NothingIsLostWhenTheTrashCannotBeWritten) {
  TTempDir dir;
  WriteFile(dir / "keep.jpg", "data");
  WriteFile(dir / "plainfile", "");
  // The trash would have to live below a regular file.
  EXPECT_FALSE(MoveToTrash(dir / "keep.jpg", {dir / "plainfile/Trash", ""}, Noon()));
  EXPECT_EQ(ReadFile(dir / "keep.jpg"), "data");
  // A top-directory trash planted as a link is refused.
  fs::create_directories(dir / "elsewhere");
  fs::create_directory_symlink(dir / "elsewhere", dir / ".Trash-link");
  std::string top = fs::canonical(dir.Path).string();
  EXPECT_FALSE(MoveToTrash(dir / "keep.jpg", {top + "/.Trash-link", top}, Noon()));
  EXPECT_EQ(ReadFile(dir / "keep.jpg"), "data");
  // A trash on another file system cannot take the file by renaming; it is
  // neither copied nor unlinked, and no info file is left behind.
  struct stat a, b;
  if (::stat("/dev/shm", &b) == 0 && ::stat(dir.Path.c_str(), &a) == 0 && a.st_dev != b.st_dev && ::access("/dev/shm", W_OK) == 0) {
    std::string shm = "/dev/shm/tolvane-trash-" + std::to_string(::getpid());
    EXPECT_FALSE(MoveToTrash(dir / "keep.jpg", {shm, ""}, Noon()));
    EXPECT_EQ(ReadFile(dir / "keep.jpg"), "data");
    EXPECT_TRUE(fs::is_empty(shm + "/info"));
    fs::remove_all(shm);
  }
  EXPECT_FALSE(TFreedesktopTrash().MoveToRecycleBin(dir / "missing.jpg"));
}

// A name of up to 255 bytes leaves no room for ".trashinfo": the name inside
// the trash is shortened (whole characters, extension kept, still unique)
// and the info file keeps the whole original path for restoring.
TEST(Trash, LongNamesAreShortenedInsideTheTrashOnly) {
  TTempDir dir;
  EnvScope data("XDG_DATA_HOME", dir / "data");
  // 2 + 3 * 81 + 4 = 249 bytes, of three-byte characters after the first two.
  std::string name = "ab";
  for (int i = 0; i < 81; ++i) name += "\xE2\x82\xAC";
  name += ".jpg";
  fs::create_directories(dir / "one");
  fs::create_directories(dir / "two");
  WriteFile(dir / ("one/" + name), "first");
  WriteFile(dir / ("two/" + name), "second");
  TTrashPlace place = TrashPlaceFor(dir / ("one/" + name));
  ASSERT_TRUE(MoveToTrash(dir / ("one/" + name), place, Noon()));
  ASSERT_TRUE(MoveToTrash(dir / ("two/" + name), place, Noon()));
  EXPECT_FALSE(fs::exists(dir / ("one/" + name)));
  EXPECT_FALSE(fs::exists(dir / ("two/" + name)));

  const std::string real = fs::canonical(dir.Path).string();
  std::map<std::string, std::string> restorable;  // original path -> contents
  for (const auto& entry : fs::directory_iterator(place.TrashDir + "/info")) {
    const std::string info = entry.path().filename().string();
    EXPECT_LE(info.size(), 255u);
    ASSERT_TRUE(info.ends_with(".jpg.trashinfo")) << info;
    const std::string stored = info.substr(0, info.size() - 10);
    // Whole UTF-8 characters only, before the number of a second name.
    std::string stem = stored.substr(0, stored.size() - 4);
    if (stem.ends_with(".2")) stem.resize(stem.size() - 2);
    EXPECT_EQ(stem.substr(stem.size() - 3), "\xE2\x82\xAC") << stored;
    const std::string text = ReadFile(entry.path().string());
    const std::string path = text.substr(text.find("Path=") + 5, text.find("\nDeletionDate") - text.find("Path=") - 5);
    restorable[path] = ReadFile(place.TrashDir + "/files/" + stored);
  }
  EXPECT_EQ(restorable, (std::map<std::string, std::string>{
                            {TrashEncodePath(real + "/one/" + name), "first"},
                            {TrashEncodePath(real + "/two/" + name), "second"}}));
}

TEST(Trash, PathEncoding) {
  EXPECT_EQ(TrashEncodePath("/home/ann/a b,c.jpg"), "/home/ann/a%20b%2Cc.jpg");
  EXPECT_EQ(TrashEncodePath("/x/\xC3\xA4.png"), "/x/%C3%A4.png");
  EXPECT_EQ(TrashEncodePath("/x/~a_b-c.d"), "/x/~a_b-c.d");
}

TEST(Shell, OpensExistingFilesAndUrlsWithoutAShell) {
  TTempDir dir;
  WriteFile(dir / "a;rm -rf x.jpg", "");
  TXdgShell shell("true");
  EXPECT_EQ(shell.Open(dir / "a;rm -rf x.jpg"), ShellOk);
  EXPECT_EQ(shell.Open(dir / "missing.chm"), ShellFileNotFound);
  EXPECT_EQ(shell.Open("https://example.org/?s=download"), ShellOk);
  EXPECT_EQ(TXdgShell("no-such-program-here").Open(dir.Path), ShellFailed);
  EXPECT_TRUE(IsUrl("http://x"));
  EXPECT_FALSE(IsUrl("/tmp/a://b"));
  EXPECT_FALSE(IsUrl("C:\\pics"));
}

TEST(Shell, RunsAProgramFileItselfWithoutArguments) {
  TTempDir dir;
  const std::string program = dir / "setup";
  WriteFile(program, "#!/bin/sh\necho \"$#\" > \"$(dirname \"$0\")/ran\"\n");
  TXdgShell shell("false");
  EXPECT_EQ(shell.Run(dir / "missing"), ShellFileNotFound);
  EXPECT_EQ(shell.Run(program), ShellFailed);  // not executable
  EXPECT_EQ(shell.Run(dir.Path), ShellFailed);
  fs::permissions(program, fs::perms::owner_all);
  ASSERT_EQ(shell.Run(program), ShellOk);
  // It runs on its own; wait for it a while.
  for (int i = 0; i < 500 && ReadFile(dir / "ran").empty(); ++i) ::usleep(10000);
  EXPECT_EQ(ReadFile(dir / "ran"), "0\n");
}

TEST(EventPump, YieldsAtMostOncePerSlice) {
  int calls = 0;
  TTimeSlicedPump pump([&] { ++calls; }, std::chrono::milliseconds(50));
  for (int i = 0; i < 1000; ++i) pump.ProcessMessages();
  EXPECT_EQ(calls, 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  pump.ProcessMessages();
  EXPECT_EQ(calls, 2);
  TSteadyClockCounter counter;
  EXPECT_GT(counter.Frequency(), 0);
  int64_t a = counter.Counter();
  EXPECT_GE(counter.Counter(), a);
}
