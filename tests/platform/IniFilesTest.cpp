#include "platform/IniFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/TempDir.h"

namespace tolvane {
namespace {

using test::ReadFile;
using test::TTempDir;
using test::WriteFile;

std::string Edited(const std::string& text, const char* section, const char* key, const char* value) {
  TProfileText profile(text);
  EXPECT_TRUE(profile.SetValue(section, key, value));
  return profile.Text();
}

TEST(ProfileText, ReplacesInPlaceKeepingEverythingElse) {
  const std::string text =
      "; settings\r\n[Buttonbar]\r\n  ButtonCount = 3 \r\nbutton1=a\r\n\r\n[Other]\r\nButtoncount=9\r\n";
  EXPECT_EQ(Edited(text, "BUTTONBAR", "buttoncount", "4"),
            "; settings\r\n[Buttonbar]\r\n  ButtonCount=4\r\nbutton1=a\r\n\r\n[Other]\r\nButtoncount=9\r\n");
  // A line keeps its own break even in a file of mixed endings.
  EXPECT_EQ(Edited("[a]\nk=1\r\nj=2\n", "A", "K", "x"), "[a]\nk=x\r\nj=2\n");
}

TEST(ProfileText, AddsKeyAfterLastLineOfItsSection) {
  EXPECT_EQ(Edited("[Tools]\n1=a\n; mid\n3=c\n\n; next\n\n[Next]\nz=1\n", "tools", "2", "b"),
            "[Tools]\n1=a\n; mid\n3=c\n2=b\n\n; next\n\n[Next]\nz=1\n");
  EXPECT_EQ(Edited("[Empty]\r\n\r\n[Next]\r\n", "Empty", "k", ""), "[Empty]\r\nk=\r\n\r\n[Next]\r\n");
  // The file's last line gets the break it lacked.
  EXPECT_EQ(Edited("[S]\r\nk=1", "S", "j", "2"), "[S]\r\nk=1\r\nj=2\r\n");
}

TEST(ProfileText, AppendsMissingSection) {
  EXPECT_EQ(Edited("[A]\nk=1\n", "B", "x", "y"), "[A]\nk=1\n[B]\nx=y\n");
  EXPECT_EQ(Edited("[A]\nk=1", "B", "x", "y"), "[A]\nk=1\n[B]\nx=y\n");
  EXPECT_EQ(Edited("", "B", "x", "y"), "[B]\r\nx=y\r\n");
  // A key of that name in another section is not the one meant.
  EXPECT_EQ(Edited("[A]\nx=1\n", "B", "x", "2"), "[A]\nx=1\n[B]\nx=2\n");
}

TEST(ProfileText, ReadsValuesAndKeys) {
  TProfileText profile(
      "\xEF\xBB\xBF[Tools]\r\nstray\r\n1=A\r\n; 9=comment\r\n# 8=comment\r\n 2 = \"quoted\" \r\n=nameless\r\n3=\r\n"
      "[tools_x]\r\nq='b'\r\n");
  EXPECT_EQ(profile.Keys("TOOLS"), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(profile.Value("tools", "2"), "quoted");
  EXPECT_EQ(profile.Value("Tools_X", "Q"), "b");
  EXPECT_EQ(profile.Value("Tools", "3"), "");
  EXPECT_FALSE(profile.Value("Tools", "9"));
  EXPECT_FALSE(profile.Value("Missing", "1"));
  EXPECT_TRUE(profile.Keys("Missing").empty());
  // Keys before the first section belong to none.
  EXPECT_FALSE(TProfileText("k=1\n[S]\n").Value("", "k"));
}

TEST(ProfileText, RefusesWhatWouldNotReadBack) {
  const std::string text = "[S]\nk=1\n";
  TProfileText profile(text);
  EXPECT_FALSE(profile.SetValue("S", "k", "a\nb"));
  EXPECT_FALSE(profile.SetValue("S", "k", "a\rb"));
  EXPECT_FALSE(profile.SetValue("S", "a=b", "1"));
  EXPECT_FALSE(profile.SetValue("S", "[k", "1"));
  EXPECT_FALSE(profile.SetValue("S", ";k", "1"));
  EXPECT_FALSE(profile.SetValue("S", " ", "1"));
  EXPECT_FALSE(profile.SetValue("S]", "k", "1"));
  EXPECT_FALSE(profile.SetValue(std::string_view("S\0", 2), "k", "1"));
  EXPECT_EQ(profile.Text(), text);
}

TEST(PrivateProfileFiles, WriteReachesFileAndKeepsItsPermissions) {
  TTempDir dir;
  const std::string ini = dir / "a.ini";
  WriteFile(ini, "[S]\r\nk=1\r\n");
  ::chmod(ini.c_str(), 0640);
  ASSERT_TRUE(WritePrivateProfileString("s", "K", "2", ini));
  ASSERT_TRUE(WritePrivateProfileString("s", "n", "3", ini));
  EXPECT_EQ(ReadFile(ini), "[S]\r\nk=2\r\nn=3\r\n");
  struct stat st {};
  ::stat(ini.c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(GetPrivateProfileString("S", "n", "none", ini), "3");
  EXPECT_EQ(GetPrivateProfileString("S", "x", "none", ini), "none");
  EXPECT_EQ(GetPrivateProfileString("S", "k", "none", dir / "missing.ini"), "none");
  EXPECT_EQ(GetPrivateProfileKeys("S", ini), (std::vector<std::string>{"k", "n"}));
  // No temporary file stays behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path), {}), 1);
}

TEST(PrivateProfileFiles, CreatesFilesAndWritesThroughLinks) {
  TTempDir dir;
  ASSERT_TRUE(WritePrivateProfileString("S", "k", "v", dir / "real.ini"));
  EXPECT_EQ(ReadFile(dir / "real.ini"), "[S]\r\nk=v\r\n");
  EXPECT_FALSE(WritePrivateProfileString("S", "k", "v", dir / "no/new.ini"));
  std::filesystem::create_symlink("real.ini", dir / "link.ini");
  ASSERT_TRUE(WritePrivateProfileString("S", "k", "2", dir / "link.ini"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.ini"));
  EXPECT_EQ(ReadFile(dir / "real.ini"), "[S]\r\nk=2\r\n");
}

TEST(PrivateProfileFiles, FailedWritesAreReportedAndChangeNothing) {
  TTempDir dir;
  const std::string ini = dir / "a.ini";
  const std::string text = "[S]\nk=1\n";
  WriteFile(ini, text);
  ::chmod(ini.c_str(), 0444);  // read-only even for a privileged user
  EXPECT_FALSE(WritePrivateProfileString("S", "k", "2", ini));
  EXPECT_EQ(ReadFile(ini), text);
  ::chmod(ini.c_str(), 0644);
  {
    test::TFileSizeLimit full(text.size());  // as on a full disk
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "22", ini));
  }
  EXPECT_EQ(ReadFile(ini), text);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path), {}), 1);
  // Not a regular file: neither read nor replaced.
  std::filesystem::create_directory(dir / "d.ini");
  EXPECT_FALSE(WritePrivateProfileString("S", "k", "2", dir / "d.ini"));
  EXPECT_EQ(GetPrivateProfileString("S", "k", "none", "/dev/zero"), "none");
  // UTF-16 text is not edited as bytes.
  const std::string wide("\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0\x31\0\r\0\n\0", 22);
  WriteFile(ini, wide);
  EXPECT_FALSE(WritePrivateProfileString("S", "k", "2", ini));
  EXPECT_FALSE(WritePrivateProfileString("T", "k", "2", ini));
  EXPECT_EQ(ReadFile(ini), wide);
  EXPECT_TRUE(GetPrivateProfileKeys("S", ini).empty());
}

}  // namespace
}  // namespace tolvane
