#include "installer/ConfigWriters.h"

#include <sys/stat.h>

#include <limits>
#include <stdexcept>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/AtomicFiles.h"
#include "platform/IniFiles.h"
#include "platform/WinePaths.h"

namespace tolvane {

namespace {

// What the button's click passes to the finder: the file manager's current
// directory, in double quotes (the file managers' own placeholders).
constexpr std::string_view QuotedDirParameter = "\"\"%P\"\"";
constexpr std::string_view FreeDirParameter = "#22#%ActivDir%#22#";
constexpr std::string_view MenuText = "Tolvane";
constexpr std::string_view MissingCount = "Error";

struct TEntry {
  std::string Section;
  std::string Key;
  std::string Value;
};

// Writes the entries in order, each straight to the file. Entries that the
// profile could not hold are found before the first write, so that a
// strange program path never leaves a button half made.
bool WriteEntries(const std::string& config, const std::vector<TEntry>& entries) {
  TProfileText scratch;
  for (const TEntry& e : entries)
    if (!scratch.SetValue(e.Section, e.Key, e.Value)) return false;
  for (const TEntry& e : entries)
    if (!WritePrivateProfileString(e.Section, e.Key, e.Value, config)) return false;
  return true;
}

// The directory part of a path as the file manager names it, with its
// trailing backslash.
std::string WineDirectoryOf(const std::string& path) {
  std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool IsDecimal(std::string_view text) {
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// Total Commander and Unreal Commander keep their buttons alike: a count
// and numbered keys.
bool InstallButtonBar(const std::string& executable, std::string_view configName, const char* section,
                      const std::vector<std::pair<const char*, std::string>>& keys) {
  std::string config = ConfigFileBeside(executable, configName);
  if (!Backup(config)) return false;
  std::string count = GetPrivateProfileString(section, "Buttoncount", MissingCount, config);
  if (count == MissingCount) return false;
  std::string n = std::to_string(NextButtonNumber(count));
  std::vector<TEntry> entries{{section, "Buttoncount", n}};
  for (const auto& [prefix, value] : keys) entries.push_back({section, prefix + n, value});
  return WriteEntries(config, entries);
}

}  // namespace

int32_t NextButtonNumber(std::string_view count) {
  auto invalid = [&] { return std::invalid_argument("'" + std::string(count) + "' is not a valid integer value"); };
  if (!IsDecimal(count)) throw invalid();
  int64_t value = 0;
  bool negative = count.front() == '-';
  for (char c : count.substr(count.front() == '+' || negative ? 1 : 0)) {
    value = value * 10 + (c - '0');
    // Past the 32-bit range there is no number to add one to.
    if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1) throw invalid();
  }
  if (negative) value = -value;
  if (value < std::numeric_limits<int32_t>::min() || value >= std::numeric_limits<int32_t>::max())
    throw invalid();
  return static_cast<int32_t>(value + 1);
}

std::string ConfigFileBeside(const std::string& executable, std::string_view name) {
  std::size_t slash = executable.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : executable.substr(0, slash + 1);
  auto found = FindNameNoCase(dir.empty() ? std::string(".") : dir, name);
  return dir + (found ? *found : std::string(name));
}

bool Backup(const std::string& path) {
  struct stat st {};
  auto bytes = ReadWholeFile(path, MaxProfileSize);
  if (!bytes || ::stat(path.c_str(), &st) != 0) return false;
  // The backup is as private as the file, and stays writable by its owner
  // so that the next backup can replace it.
  return ReplaceFileContents(path + ".bkp", *bytes, (st.st_mode & 0777) | S_IWUSR);
}

bool InstallTotal(const std::string& executable, const std::string& programPath) {
  return InstallButtonBar(executable, "DEFAULT.BAR", "Buttonbar",
                          {{"button", programPath},
                           {"cmd", programPath},
                           {"param", std::string(QuotedDirParameter)},
                           {"menu", std::string(MenuText)}});
}

bool InstallUnreal(const std::string& executable, const std::string& programPath) {
  return InstallButtonBar(executable, "Uncom.ini", "Buttons",
                          {{"btn", programPath},
                           {"cmd", programPath},
                           {"prm", std::string(QuotedDirParameter)},
                           {"dir", std::string()},
                           {"hint", std::string(MenuText)}});
}

bool InstallFree(const std::string& executable, const std::string& programPath) {
  std::string config = ConfigFileBeside(executable, "FreeCommander.ini");
  if (!Backup(config)) return false;
  std::vector<std::string> keys = GetPrivateProfileKeys("Tools", config);
  // Numbered by count, but never over a key that a gap in the numbering
  // left in place.
  std::unordered_set<std::string> taken(keys.begin(), keys.end());
  std::size_t n = keys.size() + 1;
  while (taken.count(std::to_string(n))) ++n;
  const std::string section = "Tools_Tolvane";
  return WriteEntries(config, {{"Tools", std::to_string(n), std::string(MenuText)},
                               {section, "Category", ""},
                               {section, "Prg", programPath},
                               {section, "Dir", WineDirectoryOf(programPath)},
                               {section, "Par", std::string(FreeDirParameter)},
                               {section, "DosFormat", "0"},
                               {section, "IconNr", "0"},
                               {section, "IconFile", programPath},
                               {section, "HotKeyNr", "1"},
                               {section, "GHot", "0"},
                               {section, "WinState", "0"},
                               {section, "ShowInMenu", "1"},
                               {section, "ShowInToolbar", "1"}});
}

}  // namespace tolvane
