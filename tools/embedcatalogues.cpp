// Build step of ravelk: appends files (the translation catalogues) behind
// the program image with their table, and writes the table's offset into
// the program's record. Running it again replaces the table it appended.
//   embedcatalogues PROGRAM DIR NAME...
// Each NAME is read from DIR/NAME and stored under NAME.
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

#include "app/GnuGetText.h"

int main(int argc, char** argv) {
  using namespace tolvane;
  if (argc < 3) {
    std::cerr << "usage: embedcatalogues PROGRAM DIR NAME...\n";
    return 2;
  }
  try {
    std::vector<TFileToEmbed> files;
    for (int i = 3; i < argc; ++i) {
      const std::string path = std::string(argv[2]) + "/" + argv[i];
      std::ifstream in(path, std::ios::binary);
      if (!in) throw EFOpenError(Format(SysConst::SFOpenErrorEx, {path, SysErrorMessage(errno)}));
      files.push_back({argv[i], std::string(std::istreambuf_iterator<char>(in), {})});
    }
    AppendEmbeddedFiles(argv[1], files);
  } catch (const std::exception& e) {
    std::cerr << "embedcatalogues: " << argv[1] << ": " << e.what() << "\n";
    return 1;
  }
  return 0;
}
