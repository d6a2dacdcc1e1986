#include "platform/FileDialogs.h"

#include <gtest/gtest.h>

namespace tolvane {
namespace {

TEST(DialogFilter, ParsesPairsAndMakesPatternsCaseBlind) {
  auto entries = ParseDialogFilter("Pictures|*.bmp;*.JPG|Broken");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Description, "Pictures");
  EXPECT_EQ(entries[0].Patterns, (std::vector<std::string>{"*.bmp", "*.JPG"}));
  EXPECT_TRUE(ParseDialogFilter("").empty());
  EXPECT_EQ(CaseInsensitiveGlob("uncom.exe"), "[uU][nN][cC][oO][mM].[eE][xX][eE]");
  EXPECT_EQ(CaseInsensitiveGlob("*.[ab]?1"), "*.[aAbB]?1");
}

}  // namespace
}  // namespace tolvane
