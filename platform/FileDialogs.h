// The open-file dialog behind a small interface, so that windows can be
// tested with a fake that chooses a file for the user.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvane {

class TOpenDialog {
public:
  virtual ~TOpenDialog() = default;
  // Runs the dialog modally; true with FileName set when a file was
  // chosen, false when the user cancelled.
  virtual bool Execute() = 0;

  // Pairs of description and pattern, all separated by "|"
  // ("Pictures|*.bmp;*.jpg|All files|*"); patterns match names without
  // regard to ASCII case.
  std::string Filter;
  std::string Title;
  std::string InitialDir;
  std::string FileName;
};

// The save-file dialog. A name chosen without an extension gets DefaultExt
// (without its dot); an existing file is chosen without a question, the
// caller replaces it.
class TSaveDialog {
public:
  virtual ~TSaveDialog() = default;
  // Runs the dialog modally; true with FileName set when a name was chosen.
  virtual bool Execute() = 0;

  std::string Filter;
  std::string Title;
  std::string InitialDir;
  std::string FileName;
  std::string DefaultExt;
};

struct TFilterEntry {
  std::string Description;
  std::vector<std::string> Patterns;
};
// The entries of a Filter text; a description without a pattern is dropped.
std::vector<TFilterEntry> ParseDialogFilter(std::string_view filter);
// A glob pattern that matches the names pattern matches in any ASCII case
// ("a.exe" -> "[aA].[eE][xX][eE]").
std::string CaseInsensitiveGlob(std::string_view pattern);

}  // namespace tolvane
