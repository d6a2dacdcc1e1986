// A reader is added in three lists: the library's start-up table, the order
// in which it is taken out at shutdown and the finder's format names. A class
// missing from one of them would be left registered at exit or shown as "?".
#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

#include "app/FileFacts.h"
#include "graphics/GraphicFormats.h"

namespace tolvane {
namespace {

// Every class needs a row of its own: a reader derived from the bitmap class
// would otherwise pass unnoticed as "Windows BMP".
bool HasFormatName(std::string_view name) { return FormatNameOfClass(name) != nullptr; }

bool InShutdownOrder(std::string_view name) {
  const auto order = ShutdownOrder();
  return std::find(order.begin(), order.end(), name) != order.end();
}

TEST(FormatLists, EveryRegisteredClassIsTakenOutAndNamed) {
  RegisterAllFormats();
  ASSERT_NE(FileFormatList(), nullptr);
  EXPECT_FALSE(FileFormatList()->ClassEntries().empty());
  for (const auto& entry : FileFormatList()->ClassEntries()) {
    const char* name = entry->GraphicClass->Name;
    EXPECT_TRUE(InShutdownOrder(name)) << name << " is registered but not taken out at shutdown";
    EXPECT_TRUE(HasFormatName(name)) << name << " is registered but has no format name";
  }
  UnregisterAllFormats();
  EXPECT_EQ(FileFormatList(), nullptr);
}

TEST(FormatLists, EveryClassTakenOutAtShutdownHasAFormatName) {
  for (const char* name : ShutdownOrder())
    EXPECT_TRUE(HasFormatName(name)) << name << " is taken out at shutdown but has no format name";
  EXPECT_STREQ(FormatNameOfClass("TBitmap"), "Windows BMP");
  EXPECT_STREQ(FormatNameOfClass("TPSDGraphic"), "Adobe Photoshop");
}

}  // namespace
}  // namespace tolvane
