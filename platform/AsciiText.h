// Case rules of names that Windows programs compare without regard to case:
// only the ASCII letters fold, whatever the bytes around them.
#pragma once

#include <cstddef>
#include <string_view>

namespace tolvane {

inline char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline bool SameTextNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

}  // namespace tolvane
