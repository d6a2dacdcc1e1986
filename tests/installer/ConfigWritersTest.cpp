#include "installer/ConfigWriters.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>

#include "support/TempDir.h"

namespace tolvane {
namespace {

using test::ReadFile;
using test::TTempDir;
using test::WriteFile;

const std::string Ravelk = "Z:\\opt\\tolvane\\ravelk";

const std::string TotalBar =
    "[Buttonbar]\r\nButtoncount=3\r\nbutton1=%COMMANDER_EXE%,1\r\ncmd1=cm_Edit\r\n\r\n"
    "; user buttons\r\n[Other]\r\nbutton9=x\r\n";
const std::string TotalBar4 =
    "[Buttonbar]\r\nButtoncount=4\r\nbutton1=%COMMANDER_EXE%,1\r\ncmd1=cm_Edit\r\n"
    "button4=Z:\\opt\\tolvane\\ravelk\r\ncmd4=Z:\\opt\\tolvane\\ravelk\r\nparam4=\"\"%P\"\"\r\nmenu4=Tolvane\r\n\r\n"
    "; user buttons\r\n[Other]\r\nbutton9=x\r\n";

TEST(InstallTotal, AddsButtonAfterCountAndKeepsBackup) {
  TTempDir dir;
  WriteFile(dir / "DEFAULT.BAR", TotalBar);
  ASSERT_TRUE(InstallTotal(dir / "totalcmd.exe", Ravelk));
  EXPECT_EQ(ReadFile(dir / "DEFAULT.BAR"), TotalBar4);
  EXPECT_EQ(ReadFile(dir / "DEFAULT.BAR.bkp"), TotalBar);

  // A second install adds a second button; the backup is of the file as it
  // was just before.
  ASSERT_TRUE(InstallTotal(dir / "totalcmd.exe", Ravelk));
  EXPECT_NE(ReadFile(dir / "DEFAULT.BAR").find("Buttoncount=5\r\n"), std::string::npos);
  EXPECT_NE(ReadFile(dir / "DEFAULT.BAR").find("menu4=Tolvane\r\nbutton5="), std::string::npos);
  EXPECT_EQ(ReadFile(dir / "DEFAULT.BAR.bkp"), TotalBar4);
}

TEST(InstallUnreal, AddsButtonWithEmptyDirectory) {
  TTempDir dir;
  const std::string ini = "[Buttons]\nButtonCount=0\n[Layout]\nx=1\n";
  WriteFile(dir / "Uncom.ini", ini);
  ASSERT_TRUE(InstallUnreal(dir / "uncom.exe", Ravelk));
  EXPECT_EQ(ReadFile(dir / "Uncom.ini"),
            "[Buttons]\nButtonCount=1\nbtn1=" + Ravelk + "\ncmd1=" + Ravelk +
                "\nprm1=\"\"%P\"\"\ndir1=\nhint1=Tolvane\n[Layout]\nx=1\n");
  EXPECT_EQ(ReadFile(dir / "Uncom.ini.bkp"), ini);
}

const char* const FreeSection =
    "[Tools_Tolvane]\r\nCategory=\r\nPrg=Z:\\opt\\tolvane\\ravelk\r\nDir=Z:\\opt\\tolvane\\\r\n"
    "Par=#22#%ActivDir%#22#\r\nDosFormat=0\r\nIconNr=0\r\nIconFile=Z:\\opt\\tolvane\\ravelk\r\nHotKeyNr=1\r\n"
    "GHot=0\r\nWinState=0\r\nShowInMenu=1\r\nShowInToolbar=1\r\n";

TEST(InstallFree, NumbersToolByCountAndRewritesItsSection) {
  TTempDir dir;
  const std::string ini = "[Tools]\r\n1=Edit\r\n2=View\r\n3=Pack\r\n\r\n[Form]\r\nTop=1\r\n";
  WriteFile(dir / "FreeCommander.ini", ini);
  ASSERT_TRUE(InstallFree(dir / "FreeCommander.exe", Ravelk));
  const std::string once =
      "[Tools]\r\n1=Edit\r\n2=View\r\n3=Pack\r\n4=Tolvane\r\n\r\n[Form]\r\nTop=1\r\n" + std::string(FreeSection);
  EXPECT_EQ(ReadFile(dir / "FreeCommander.ini"), once);
  EXPECT_EQ(ReadFile(dir / "FreeCommander.ini.bkp"), ini);

  ASSERT_TRUE(InstallFree(dir / "FreeCommander.exe", Ravelk));
  EXPECT_EQ(ReadFile(dir / "FreeCommander.ini"),
            "[Tools]\r\n1=Edit\r\n2=View\r\n3=Pack\r\n4=Tolvane\r\n5=Tolvane\r\n\r\n[Form]\r\nTop=1\r\n" +
                std::string(FreeSection));
  EXPECT_EQ(ReadFile(dir / "FreeCommander.ini.bkp"), once);
}

TEST(InstallFree, NeverOverwritesAnExistingTool) {
  TTempDir dir;
  WriteFile(dir / "FreeCommander.ini", "[Tools]\n1=a\n2=b\n4=d\n");
  ASSERT_TRUE(InstallFree(dir / "FreeCommander.exe", Ravelk));
  std::string ini = ReadFile(dir / "FreeCommander.ini");
  EXPECT_EQ(ini.substr(0, 30), "[Tools]\n1=a\n2=b\n4=d\n5=Tolvane\n");
  // A missing section starts at 1.
  WriteFile(dir / "FreeCommander.ini", "[Form]\nTop=1\n");
  ASSERT_TRUE(InstallFree(dir / "FreeCommander.exe", Ravelk));
  EXPECT_EQ(ReadFile(dir / "FreeCommander.ini").substr(0, 33), "[Form]\nTop=1\n[Tools]\n1=Tolvane\n[T");
}

TEST(InstallButtons, MissingCountOrConfigurationFails) {
  TTempDir dir;
  const std::string ini = "[Buttonbar]\r\nbutton1=x\r\n";
  WriteFile(dir / "DEFAULT.BAR", ini);
  EXPECT_FALSE(InstallTotal(dir / "totalcmd.exe", Ravelk));
  EXPECT_EQ(ReadFile(dir / "DEFAULT.BAR"), ini);
  EXPECT_EQ(ReadFile(dir / "DEFAULT.BAR.bkp"), ini);  // made before the count was read

  EXPECT_FALSE(InstallUnreal(dir / "uncom.exe", Ravelk));
  EXPECT_FALSE(InstallFree(dir / "FreeCommander.exe", Ravelk));
  EXPECT_FALSE(std::filesystem::exists(dir / "Uncom.ini.bkp"));
  EXPECT_FALSE(std::filesystem::exists(dir / "FreeCommander.ini"));
}

// Text in UTF-16 holds NUL bytes, with or without a byte order mark: bytes
// written into it as 8-bit lines would spoil the file.
TEST(InstallFree, RefusesAConfigurationInUtf16) {
  TTempDir dir;
  for (const std::string& wide : {std::string("\xFF\xFE[\0T\0o\0o\0l\0s\0]\0\r\0\n\0", 20),
                                  std::string("[\0T\0o\0o\0l\0s\0]\0\r\0\n\0", 18),
                                  std::string("\0[\0T\0o\0o\0l\0s\0]\0\r\0\n", 18)}) {
    WriteFile(dir / "FreeCommander.ini", wide);
    EXPECT_FALSE(InstallFree(dir / "FreeCommander.exe", Ravelk));
    EXPECT_EQ(ReadFile(dir / "FreeCommander.ini"), wide);
  }
}

TEST(InstallButtons, CountThatIsNoDecimalIntegerRaisesBeforeWriting) {
  TTempDir dir;
  for (const char* bad : {"abc", "$10", "3x", "2147483647", "99999999999"}) {
    const std::string ini = std::string("[Buttons]\nButtoncount=") + bad + "\n";
    WriteFile(dir / "Uncom.ini", ini);
    try {
      InstallUnreal(dir / "uncom.exe", Ravelk);
      ADD_FAILURE() << bad;
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(e.what(), "'" + std::string(bad) + "' is not a valid integer value");
    }
    EXPECT_EQ(ReadFile(dir / "Uncom.ini"), ini);
  }
  EXPECT_EQ(NextButtonNumber("007"), 8);
  EXPECT_EQ(NextButtonNumber("-1"), 0);
  EXPECT_EQ(NextButtonNumber("2147483646"), 2147483647);
}

TEST(InstallButtons, FailedWritesReturnFalse) {
  TTempDir dir;
  WriteFile(dir / "DEFAULT.BAR", TotalBar);
  ::chmod((dir / "DEFAULT.BAR").c_str(), 0444);
  EXPECT_FALSE(InstallTotal(dir / "totalcmd.exe", Ravelk));
  EXPECT_EQ(ReadFile(dir / "DEFAULT.BAR"), TotalBar);

  WriteFile(dir / "FreeCommander.ini", "[Tools]\n1=a\n");
  {
    test::TFileSizeLimit full(64);  // the backup fits, the new file does not
    EXPECT_FALSE(InstallFree(dir / "FreeCommander.exe", Ravelk));
  }
  EXPECT_EQ(ReadFile(dir / "FreeCommander.ini.bkp"), "[Tools]\n1=a\n");

  // A program path that would break the file's lines writes nothing.
  WriteFile(dir / "Uncom.ini", "[Buttons]\nButtoncount=1\n");
  EXPECT_FALSE(InstallUnreal(dir / "uncom.exe", "Z:\\a\n[Evil]\\ravelk"));
  EXPECT_EQ(ReadFile(dir / "Uncom.ini"), "[Buttons]\nButtoncount=1\n");
}

TEST(Backup, CopiesAndReplacesKeepingFilePrivate) {
  TTempDir dir;
  WriteFile(dir / "a.ini", "new");
  WriteFile(dir / "a.ini.bkp", "older backup, longer");
  ::chmod((dir / "a.ini").c_str(), 0400);
  ASSERT_TRUE(Backup(dir / "a.ini"));
  EXPECT_EQ(ReadFile(dir / "a.ini.bkp"), "new");
  struct stat st {};
  ::stat((dir / "a.ini.bkp").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_FALSE(Backup(dir / "missing.ini"));
  EXPECT_FALSE(Backup(dir.Path));
}

TEST(ConfigFile, FoundBesideTheProgramInAnyCase) {
  TTempDir dir;
  WriteFile(dir / "default.bar", "[Buttonbar]\nButtoncount=1\n");
  ASSERT_TRUE(InstallTotal(dir / "TOTALCMD.EXE", Ravelk));
  EXPECT_NE(ReadFile(dir / "default.bar").find("Buttoncount=2\n"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(dir / "default.bar.bkp"));
}

}  // namespace
}  // namespace tolvane
