#include "platform/Locale.h"

#include <clocale>
#include <cstdlib>

namespace tolvane {

namespace {

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

TLocaleEnvironment TLocaleEnvironment::FromProcess() {
  const char* library = std::setlocale(LC_MESSAGES, nullptr);
  return {Variable("LANG"), Variable("LC_ALL"), Variable("LC_MESSAGES"), library ? library : ""};
}

std::string UserLanguageCode(const TLocaleEnvironment& env) {
  std::string code;
  for (const std::string* name : {&env.Lang, &env.LcAll, &env.LcMessages, &env.LibraryLocale}) {
    if (name->empty()) continue;
    code = *name;
    break;
  }
  code = code.substr(0, code.find('.'));
  if (code.empty() || code == "C" || code == "POSIX") return "en";
  return code;
}

}  // namespace tolvane
