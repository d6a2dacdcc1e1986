#include "ConstTxt.h"

#include "GnuGetText.h"

namespace tolvane {

std::string LoadResString(const char* english) { return english ? TranslateText(english) : std::string(); }

}  // namespace tolvane
