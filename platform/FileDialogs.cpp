#include "platform/FileDialogs.h"

#include "platform/AsciiText.h"

namespace tolvane {

namespace {

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    std::size_t at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

}  // namespace

std::vector<TFilterEntry> ParseDialogFilter(std::string_view filter) {
  std::vector<TFilterEntry> entries;
  if (filter.empty()) return entries;
  std::vector<std::string_view> parts = Split(filter, '|');
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    TFilterEntry entry{std::string(parts[i]), {}};
    for (std::string_view pattern : Split(parts[i + 1], ';'))
      if (!pattern.empty()) entry.Patterns.emplace_back(pattern);
    if (!entry.Patterns.empty()) entries.push_back(std::move(entry));
  }
  return entries;
}

std::string CaseInsensitiveGlob(std::string_view pattern) {
  std::string glob;
  bool inClass = false;  // inside "[...]": add the other case to the class
  for (char c : pattern) {
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (!letter) {
      if (c == '[') inClass = true;
      else if (c == ']') inClass = false;
      glob += c;
      continue;
    }
    char lower = AsciiLower(c);
    char upper = static_cast<char>(lower - 'a' + 'A');
    if (inClass) {
      glob += lower;
      glob += upper;
    } else {
      glob += '[';
      glob += lower;
      glob += upper;
      glob += ']';
    }
  }
  return glob;
}

}  // namespace tolvane
