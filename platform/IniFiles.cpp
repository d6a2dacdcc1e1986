#include "platform/IniFiles.h"

#include "platform/AsciiText.h"
#include "platform/AtomicFiles.h"

namespace tolvane {

namespace {

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view Blanks = " \t";

std::string_view Trim(std::string_view s) {
  std::size_t first = s.find_first_not_of(Blanks);
  if (first == std::string_view::npos) return {};
  std::size_t last = s.find_last_not_of(Blanks);
  return s.substr(first, last - first + 1);
}

bool IsComment(std::string_view trimmed) {
  return !trimmed.empty() && (trimmed.front() == ';' || trimmed.front() == '#');
}

// The name of a "[name]" line, or nothing for any other line. A header
// whose "]" is missing still opens a section, as it does for its owners.
std::optional<std::string_view> SectionName(std::string_view trimmed) {
  if (trimmed.empty() || trimmed.front() != '[') return std::nullopt;
  std::string_view inner = trimmed.substr(1);
  std::size_t close = inner.find(']');
  if (close != std::string_view::npos) inner = inner.substr(0, close);
  return Trim(inner);
}

// A key line: "name=value" with a non-empty name, not a comment.
struct TKeyLine {
  std::string_view Name;
  std::string_view Value;
};
std::optional<TKeyLine> KeyLine(std::string_view trimmed) {
  if (IsComment(trimmed) || SectionName(trimmed)) return std::nullopt;
  std::size_t eq = trimmed.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  std::string_view name = Trim(trimmed.substr(0, eq));
  if (name.empty()) return std::nullopt;
  return TKeyLine{name, Trim(trimmed.substr(eq + 1))};
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

bool HasLineBreakOrNul(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) != s.npos; }

bool ValidSection(std::string_view name) {
  return !name.empty() && !HasLineBreakOrNul(name) && name.find(']') == name.npos;
}

bool ValidKey(std::string_view name) {
  return !name.empty() && !HasLineBreakOrNul(name) && name.find('=') == name.npos && name.front() != '[' &&
         !IsComment(name);
}

// The bytes of a profile; nothing when it cannot be read, or when it is in
// UTF-16 (it begins with that byte order mark, or, without one, holds NUL
// bytes, which no 8-bit profile holds): its lines are no bytes of text, and
// an edit written into it as such would spoil the file.
std::optional<std::string> ReadProfile(const std::string& fileName, TReadFailure* failure = nullptr) {
  auto bytes = ReadWholeFile(fileName, MaxProfileSize, failure);
  if (bytes && (bytes->starts_with("\xFF\xFE") || bytes->starts_with("\xFE\xFF") ||
                bytes->find('\0') != std::string::npos)) {
    if (failure) *failure = TReadFailure::rfUnreadable;
    return std::nullopt;
  }
  return bytes;
}

}  // namespace

TProfileText::TProfileText(std::string_view text) {
  while (!text.empty()) {
    std::size_t nl = text.find('\n');
    TLine line;
    if (nl == std::string_view::npos) {
      line.Content = std::string(text);
      text = {};
    } else {
      bool crlf = nl > 0 && text[nl - 1] == '\r';
      line.Content = std::string(text.substr(0, crlf ? nl - 1 : nl));
      line.Break = crlf ? "\r\n" : "\n";
      text.remove_prefix(nl + 1);
    }
    if (DefaultBreak.empty()) DefaultBreak = line.Break;
    Lines.push_back(std::move(line));
  }
  // The owners of these files are Windows programs: a file that shows no
  // line break of its own gets theirs.
  if (DefaultBreak.empty()) DefaultBreak = "\r\n";
}

std::string_view TProfileText::LineText(std::size_t index) const {
  std::string_view text = Lines[index].Content;
  if (index == 0 && text.starts_with(Utf8Bom)) text.remove_prefix(Utf8Bom.size());
  return Trim(text);
}

std::optional<TProfileText::TSectionSpan> TProfileText::FindSection(std::string_view section) const {
  for (std::size_t i = 0; i < Lines.size(); ++i) {
    auto name = SectionName(LineText(i));
    if (!name || !SameTextNoCase(*name, section)) continue;
    std::size_t end = i + 1;
    while (end < Lines.size() && !SectionName(LineText(end))) ++end;
    return TSectionSpan{i, end};
  }
  return std::nullopt;
}

std::optional<std::size_t> TProfileText::FindKey(const TSectionSpan& span, std::string_view key) const {
  for (std::size_t i = span.Header + 1; i < span.End; ++i) {
    auto line = KeyLine(LineText(i));
    if (line && SameTextNoCase(line->Name, key)) return i;
  }
  return std::nullopt;
}

std::optional<std::string> TProfileText::Value(std::string_view section, std::string_view key) const {
  auto span = FindSection(Trim(section));
  if (!span) return std::nullopt;
  auto index = FindKey(*span, Trim(key));
  if (!index) return std::nullopt;
  return std::string(Unquote(KeyLine(LineText(*index))->Value));
}

std::vector<std::string> TProfileText::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  auto span = FindSection(Trim(section));
  if (!span) return keys;
  for (std::size_t i = span->Header + 1; i < span->End; ++i)
    if (auto line = KeyLine(LineText(i))) keys.emplace_back(line->Name);
  return keys;
}

void TProfileText::InsertLine(std::size_t index, std::string content) {
  // The line before the new one may have been the file's last line without
  // a break; it needs one now.
  if (index > 0 && Lines[index - 1].Break.empty()) Lines[index - 1].Break = DefaultBreak;
  Lines.insert(Lines.begin() + static_cast<std::ptrdiff_t>(index), TLine{std::move(content), DefaultBreak});
}

bool TProfileText::SetValue(std::string_view section, std::string_view key, std::string_view value) {
  section = Trim(section);
  key = Trim(key);
  if (!ValidSection(section) || !ValidKey(key) || HasLineBreakOrNul(value)) return false;

  auto span = FindSection(section);
  if (!span) {
    InsertLine(Lines.size(), "[" + std::string(section) + "]");
    InsertLine(Lines.size(), std::string(key) + "=" + std::string(value));
    return true;
  }
  if (auto index = FindKey(*span, key)) {
    // The line keeps its indentation, the spelling of its name and its own
    // line break; only the value changes.
    std::string& content = Lines[*index].Content;
    std::size_t eq = content.find('=');
    std::string_view before = std::string_view(content).substr(0, eq);
    std::size_t nameEnd = before.find_last_not_of(Blanks) + 1;
    content = content.substr(0, nameEnd) + "=" + std::string(value);
    return true;
  }
  // After the section's last line that is neither blank nor a comment, so
  // that blank lines and a comment that introduce the next section stay
  // with it.
  std::size_t last = span->End;
  while (last > span->Header + 1 && (LineText(last - 1).empty() || IsComment(LineText(last - 1)))) --last;
  InsertLine(last, std::string(key) + "=" + std::string(value));
  return true;
}

std::string TProfileText::Text() const {
  std::string text;
  for (const TLine& line : Lines) {
    text += line.Content;
    text += line.Break;
  }
  return text;
}

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue, const std::string& fileName) {
  auto bytes = ReadProfile(fileName);
  if (!bytes) return std::string(defaultValue);
  auto value = TProfileText(*bytes).Value(section, key);
  return value ? *value : std::string(defaultValue);
}

bool WritePrivateProfileString(std::string_view section, std::string_view key, std::string_view value,
                               const std::string& fileName) {
  TReadFailure failure;
  auto bytes = ReadProfile(fileName, &failure);
  if (!bytes && failure != TReadFailure::rfMissing) return false;
  TProfileText profile(bytes ? *bytes : std::string());
  if (!profile.SetValue(section, key, value)) return false;
  std::string text = profile.Text();
  if (text.size() > MaxProfileSize) return false;
  return ReplaceFileContents(fileName, text);
}

std::vector<std::string> GetPrivateProfileKeys(std::string_view section, const std::string& fileName) {
  auto bytes = ReadProfile(fileName);
  if (!bytes) return {};
  return TProfileText(*bytes).Keys(section);
}

}  // namespace tolvane
