// The user's language as the environment tells it.
#pragma once

#include <string>

namespace tolvane {

// The locale settings of the environment; empty when unset.
struct TLocaleEnvironment {
  std::string Lang;            // $LANG
  std::string LcAll;           // $LC_ALL
  std::string LcMessages;      // $LC_MESSAGES
  std::string LibraryLocale;   // the C library's locale for messages

  static TLocaleEnvironment FromProcess();
};

// The user's language: LANG, else LC_ALL, else LC_MESSAGES, else the C
// library's locale; without anything from "." on ("pl_PL.UTF-8" is
// "pl_PL"). "C" and "POSIX" (and nothing at all) mean English, "en".
std::string UserLanguageCode(const TLocaleEnvironment& env);

}  // namespace tolvane
