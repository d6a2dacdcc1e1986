#include <gtest/gtest.h>

#include "platform/Locale.h"

using namespace tolvane;

namespace {

TEST(Locale, TheUserLanguageComesFromLangThenLcAllAndLcMessagesThenTheLibrary) {
  struct TCase {
    TLocaleEnvironment Env;
    const char* Code;
  };
  const TCase cases[] = {
      {{"pl_PL.UTF-8", "", "", "C"}, "pl_PL"},
      {{"de_DE", "", "", "C"}, "de_DE"},
      {{"de_DE.UTF-8@euro", "", "", "C"}, "de_DE"},
      {{"C", "pl_PL.UTF-8", "", "pl_PL.UTF-8"}, "en"},
      {{"POSIX", "", "", ""}, "en"},
      {{"C.UTF-8", "", "", ""}, "en"},
      {{"", "de_AT.UTF-8", "pl_PL.UTF-8", "C"}, "de_AT"},
      {{"", "", "pl_PL.ISO-8859-2", "C"}, "pl_PL"},
      {{"", "", "", "de_CH.UTF-8"}, "de_CH"},
      {{"", "", "", "C"}, "en"},
      {{"", "", "", ""}, "en"},
  };
  for (const TCase& c : cases) EXPECT_EQ(UserLanguageCode(c.Env), c.Code) << c.Env.Lang << "|" << c.Env.LcAll;
}

}  // namespace
