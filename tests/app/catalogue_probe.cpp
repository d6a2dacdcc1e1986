// Test helper: finds its own catalogues as ravelk does and prints, for each
// language on the command line, the language and the translation of
// "No duplicates" (first line: whether a table is appended).
#include <iostream>

#include "app/GnuGetText.h"

int main(int argc, char** argv) {
  using namespace tolvane;
  std::cout << (OwnEmbeddedTableOffset() != 0 ? "table" : "no table") << "\n";
  for (int i = 1; i < argc; ++i) {
    SelectLanguage(argv[i]);
    std::cout << CurrentLanguage() << ": " << TranslateText("No duplicates") << "\n";
  }
  return 0;
}
