// Private-profile (INI) files as the Windows programs that own them expect:
// section and key names compare without regard to ASCII case; a value that
// exists is replaced on its own line, a new key goes after the last line of
// its section (blank lines and comments at its end stay below, with the next
// section) and a new section at the end of the file; every other byte
// (comments, blank lines, spacing, each line's own CR LF or LF) stays.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane {

// The text of one profile, parsed into lines, edited in memory.
class TProfileText {
public:
  explicit TProfileText(std::string_view text = {});

  // The value of key in section: the text after "=", without the blanks
  // around it and without one pair of enclosing quotes. The first section
  // of that name counts, and in it the first line of that key.
  std::optional<std::string> Value(std::string_view section, std::string_view key) const;
  // The key names of section in file order (each key line counts), empty
  // when the section is missing.
  std::vector<std::string> Keys(std::string_view section) const;
  // Sets key to value. Names lose the blanks around them, as on reading.
  // False, with nothing changed, when the line written would not read back
  // as that key: a line break or NUL in a name or the value, an empty name,
  // "=" or a leading "[" or comment mark in a key, "]" in a section name.
  bool SetValue(std::string_view section, std::string_view key, std::string_view value);

  std::string Text() const;

private:
  struct TLine {
    std::string Content;  // without its line break
    std::string Break;    // "\r\n", "\n" or "" (last line without one)
  };
  struct TSectionSpan {
    std::size_t Header;  // index of the "[name]" line
    std::size_t End;     // one past its last line
  };

  std::optional<TSectionSpan> FindSection(std::string_view section) const;
  std::optional<std::size_t> FindKey(const TSectionSpan& span, std::string_view key) const;
  std::string_view LineText(std::size_t index) const;
  void InsertLine(std::size_t index, std::string content);

  std::vector<TLine> Lines;
  std::string DefaultBreak;
};

// Largest profile read or written; larger files are treated as unreadable.
inline constexpr std::size_t MaxProfileSize = 16u << 20;

// Profiles in UTF-16 count as unreadable: they are neither read nor written.

// The value of key in section of file, or defaultValue when the file, the
// section or the key is missing or the file cannot be read.
std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue, const std::string& fileName);
// Writes key = value into file at once, creating the file when it is
// missing. False when the value could not be stored (see
// TProfileText::SetValue) or the file could not be read or written.
bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view value, const std::string& fileName);
// The key names of section in file; empty when there are none or the file
// cannot be read.
std::vector<std::string> GetPrivateProfileKeys(std::string_view section, const std::string& fileName);

}  // namespace tolvane
