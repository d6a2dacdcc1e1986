#include "platform/WinePaths.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/TempDir.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;

TEST(WinePaths, DriveZIsTheRoot) {
  TWineEnvironment env{"/nonexistent-prefix", "/nonexistent-home"};
  EXPECT_EQ(WinePathToUnix("Z:\\no-such-dir\\Pics\\", env), "/no-such-dir/Pics/");
  EXPECT_EQ(WinePathToUnix("z:\\no-such-dir\\\\a.jpg", env), "/no-such-dir/a.jpg");
  EXPECT_EQ(WinePathToUnix("Z:", env), "/");
  EXPECT_EQ(WinePathToUnix("Z:\\", env), "/");
  // Only a drive letter makes a Windows path.
  EXPECT_EQ(WinePathToUnix("/home/u/pics", env), "/home/u/pics");
  EXPECT_EQ(WinePathToUnix("pics\\x", env), "pics\\x");
  EXPECT_FALSE(HasDriveLetter("1:\\x"));
  EXPECT_TRUE(HasDriveLetter("c:"));
}

TEST(WinePaths, OtherDrivesGoThroughThePrefixLinks) {
  test::TTempDir prefix;
  fs::create_directories(prefix / "drive_c/users/bob/Pictures");
  fs::create_directories(prefix / "dosdevices");
  fs::create_directory_symlink("../drive_c", prefix / "dosdevices/c:");
  fs::create_directory_symlink(prefix.Path + "/drive_c/users", prefix / "dosdevices/u:");
  TWineEnvironment env{prefix.Path, "/nonexistent-home"};
  // Names are found without regard to case, as Wine finds them; what does
  // not exist stays as written.
  EXPECT_EQ(WinePathToUnix("C:\\Users\\BOB\\pictures\\", env), prefix / "drive_c/users/bob/Pictures/");
  EXPECT_EQ(WinePathToUnix("c:\\users\\Bob\\New\\Sub", env), prefix / "drive_c/users/bob/New/Sub");
  EXPECT_EQ(WinePathToUnix("U:\\bob", env), prefix / "drive_c/users/bob");
  EXPECT_EQ(WinePathToUnix("C:", env), prefix / "drive_c/");
  // A drive without a link stays inside the prefix, where nothing is found.
  EXPECT_EQ(WinePathToUnix("D:\\x", env), prefix / "dosdevices/d:/x");
}

TEST(WinePaths, PrefixComesFromTheEnvironment) {
  EXPECT_EQ(WinePrefixDirectory({"/opt/wine", "/home/u"}), "/opt/wine");
  EXPECT_EQ(WinePrefixDirectory({"", "/home/u/"}), "/home/u/.wine");
  EXPECT_EQ(WinePrefixDirectory({"", ""}), "");
  EXPECT_EQ(UnixPathToWine("/opt/tolvane/ravelk"), "Z:\\opt\\tolvane\\ravelk");
}

TEST(WinePaths, DriveCOnlyWhereThePrefixHasOne) {
  test::TTempDir dir;
  fs::create_directories(dir / "home/.wine/drive_c");
  fs::create_directories(dir / "other");
  EXPECT_EQ(WineDriveCDirectory({"", dir / "home"}), dir / "home/.wine/drive_c");
  EXPECT_EQ(WineDriveCDirectory({dir / "other/", dir / "home"}), "");  // $WINEPREFIX wins, and has none
  fs::create_directories(dir / "other/drive_c");
  EXPECT_EQ(WineDriveCDirectory({dir / "other/", dir / "home"}), dir / "other/drive_c");
  EXPECT_EQ(WineDriveCDirectory({"", ""}), "");
}

}  // namespace
}  // namespace tolvane
