#include <sys/stat.h>

#include <gtest/gtest.h>

#include "AppTestUtil.h"
#include "app/DirectoryScan.h"

namespace tolvane {
namespace {

using Names = std::vector<std::string>;
namespace fs = std::filesystem;

// Pictures, look-alikes, hidden entries, a FIFO named like a picture
// (opening it would block), links and a directory link loop.
class ScanTree : public ::testing::Test {
protected:
  void SetUp() override {
    const std::string& d = Dir.Path + "/";
    for (const char* f : {"A.JPG", "b.txt", "c.Png", "x.JPG.txt", "archive.tar.TIF", ".hidden.jpg", "noext",
                          "s/d.gif", "s/t/e.bmp", ".git/f.jpg", "dir.jpg/g.wbmp", "s/t/.h/i.png"})
      test::WriteFile(d + f, "x");
    ASSERT_EQ(::mkfifo((d + "a.jpg").c_str(), 0600), 0);
    fs::create_symlink("c.Png", d + "lnk.bmp");
    fs::create_symlink("missing.png", d + "dangling.png");
    fs::create_directory_symlink("..", d + "s/loop");
    fs::create_directory_symlink("s", d + "slink");
  }
  test::TTempDir Dir;
};

TEST_F(ScanTree, FlatScanListsRegularPicturesInByteOrder) {
  Names list{"kept"};
  ScanDirectory(Dir.Path + "/", list);
  EXPECT_EQ(list, (Names{"kept", ".hidden.jpg", "A.JPG", "archive.tar.TIF", "c.Png", "lnk.bmp"}));
}

TEST_F(ScanTree, RecursiveScanGoesDepthFirstWithLeadingSeparator) {
  Names list;
  ScanDirectoryTree(Dir.Path + "/", Dir.Path + "/", list);
  EXPECT_EQ(list, (Names{"/.hidden.jpg", "/A.JPG", "/archive.tar.TIF", "/c.Png", "/dir.jpg/g.wbmp", "/lnk.bmp",
                         "/s/d.gif", "/s/t/e.bmp"}));
  for (const std::string& name : list) EXPECT_TRUE(fs::is_regular_file(Dir.Path + "/" + name)) << name;
  // Names are cut after the start directory, whatever its spelling.
  list.clear();
  std::string start = Dir.Path;
  ScanDirectoryTree(start, start + "/s", list);
  EXPECT_EQ(list, (Names{"/s/d.gif", "/s/t/e.bmp"}));
}

TEST(Scan, MissingDirectoriesAddNothing) {
  Names list;
  ScanDirectory("/nonexistent-tolvane-dir/", list);
  ScanDirectoryTree("/nonexistent-tolvane-dir/", "/nonexistent-tolvane-dir/", list);
  ScanDirectory("", list);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(CopyTail("/p//a.jpg", 4), "/a.jpg");
  EXPECT_EQ(CopyTail("abc", 0), "abc");
  EXPECT_EQ(CopyTail("abc", 4), "");
}

}  // namespace
}  // namespace tolvane
