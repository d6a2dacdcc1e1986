#include <gtest/gtest.h>

#include "picture/SysUtils.h"

using namespace tolvane;

namespace {

struct SeparatorScope {
  TFormatSettings saved = FormatSettings();
  SeparatorScope(const char* dec, const char* thou) {
    FormatSettings().DecimalSeparator = dec;
    FormatSettings().ThousandSeparator = thou;
  }
  ~SeparatorScope() { FormatSettings() = saved; }
};

}  // namespace

TEST(Format, ConversionsWithWidthAndPrecision) {
  SeparatorScope sep(".", ",");
  EXPECT_EQ(Format("Cannot assign a %s to a %s", {"TIcon", "TBitmap"}), "Cannot assign a TIcon to a TBitmap");
  EXPECT_EQ(Format("%d B", {-1}), "-1 B");
  EXPECT_EQ(Format("%1.2f kB", {1024.0 / 1024}), "1.00 kB");
  EXPECT_EQ(Format("%1.2f kB", {1048575.0 / 1024}), "1024.00 kB");
  EXPECT_EQ(Format("Total time: %8.2n sec", {1234.5678}), "Total time: 1,234.57 sec");
  EXPECT_EQ(Format("Total time: %8.2n sec", {0.5}), "Total time:     0.50 sec");
  EXPECT_EQ(Format("%dx%dpx (%f Mp)", {1600, 1200, 1.92}), "1600x1200px (1.92 Mp)");
  EXPECT_EQ(Format("#%d %x %5s|%-4d|", {7, 255, "ab", 3}), "#7 FF    ab|3   |");
  EXPECT_EQ(Format("100%%", {}), "100%");
}

TEST(Format, RoundsHalvesAwayFromZeroOnDecimals) {
  SeparatorScope sep(".", ",");
  EXPECT_EQ(Format("%1.2f", {1.125}), "1.13");
  EXPECT_EQ(Format("%1.2f", {-1.125}), "-1.13");
  EXPECT_EQ(Format("%1.2f", {0.004}), "0.00");
  EXPECT_EQ(Format("%1.2f", {9.999}), "10.00");
  EXPECT_EQ(Format("%.0f", {0.5}), "1");
  EXPECT_EQ(Format("%1.2f", {-0.001}), "0.00");
}

TEST(Format, UsesTheUsersSeparators) {
  SeparatorScope sep(",", ".");
  EXPECT_EQ(Format("%1.2f MB", {1.5}), "1,50 MB");
  EXPECT_EQ(Format("%8.2n", {1234567.891}), "1.234.567,89");
}

TEST(Format, MismatchedArgumentsRaise) {
  EXPECT_THROW(Format("%d", {"text"}), EConvertError);
  EXPECT_THROW(Format("%s", {3}), EConvertError);
  EXPECT_THROW(Format("%s %s", {"one"}), EConvertError);
  EXPECT_THROW(Format("%q", {1}), EConvertError);
}

TEST(StrToInt, DecimalHexAndErrors) {
  EXPECT_EQ(StrToInt("300"), 300);
  EXPECT_EQ(StrToInt("-17"), -17);
  EXPECT_EQ(StrToInt("$FF"), 255);
  EXPECT_EQ(StrToInt("0x10"), 16);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
  for (const char* bad : {"", "abc", "12a", "2147483648", "1.5", "-"}) {
    try {
      StrToInt(bad);
      ADD_FAILURE() << bad;
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("'") + bad + "' is not a valid integer value");
    }
  }
}

TEST(FileNames, ExtensionPathAndCase) {
  EXPECT_EQ(ExtractFileExt("/a/photo.JPG"), ".JPG");
  EXPECT_EQ(ExtractFileExt("archive.tar.TIF"), ".TIF");
  EXPECT_EQ(ExtractFileExt("/dir.d/noext"), "");
  EXPECT_EQ(ExtractFileExt("noext"), "");
  EXPECT_EQ(ExtractFilePath("/a/b/c.png"), "/a/b/");
  EXPECT_EQ(ExtractFileName("/a/b/c.png"), "c.png");
  EXPECT_EQ(LowerCase("ÄB.JPG"), "Äb.jpg");
  EXPECT_TRUE(SameText("Tools", "TOOLS"));
}

TEST(Exceptions, ClassNamesAndAncestry) {
  EReadError e("Stream read error");
  EXPECT_STREQ(e.ClassName(), "EReadError");
  EXPECT_TRUE(e.IsA("EStreamError"));
  EXPECT_TRUE(e.IsA("Exception"));
  EXPECT_FALSE(e.IsA("EConvertError"));
}
