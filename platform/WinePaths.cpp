#include "platform/WinePaths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/AsciiText.h"

namespace tolvane {

namespace {

namespace fs = std::filesystem;

std::string HomeFromPasswordDatabase() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir)
    return {};
  return found->pw_dir;
}

std::vector<std::string> SplitComponents(std::string_view rest) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= rest.size()) {
    std::size_t end = rest.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = rest.size();
    if (end > start) parts.emplace_back(rest.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// The directory that drive letter stands for, without a trailing slash
// ("" for the root).
std::string DriveRoot(char letter, const TWineEnvironment& env) {
  letter = AsciiLower(letter);
  if (letter == 'z') return {};
  fs::path link = fs::path(WinePrefixDirectory(env)) / "dosdevices" / (std::string(1, letter) + ":");
  std::error_code ec;
  fs::path target = fs::read_symlink(link, ec);
  if (ec) return link.string();  // not a link: the path itself, or nothing there
  if (target.is_relative()) target = link.parent_path() / target;
  std::string root = target.lexically_normal().string();
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root == "/" ? std::string() : root;
}

}  // namespace

TWineEnvironment TWineEnvironment::FromProcess() {
  TWineEnvironment env;
  if (const char* prefix = std::getenv("WINEPREFIX")) env.WinePrefix = prefix;
  if (const char* home = std::getenv("HOME"); home && *home)
    env.Home = home;
  else
    env.Home = HomeFromPasswordDatabase();
  return env;
}

std::string WinePrefixDirectory(const TWineEnvironment& env) {
  if (!env.WinePrefix.empty()) return env.WinePrefix;
  if (env.Home.empty()) return {};
  std::string home = env.Home;
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  return home == "/" ? "/.wine" : home + "/.wine";
}

std::string WineDriveCDirectory(const TWineEnvironment& env) {
  std::string prefix = WinePrefixDirectory(env);
  if (prefix.empty()) return {};
  while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
  std::string driveC = (prefix == "/" ? "" : prefix) + "/drive_c";
  std::error_code ec;
  return fs::is_directory(driveC, ec) ? driveC : std::string();
}

bool HasDriveLetter(std::string_view path) {
  return path.size() >= 2 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
         path[1] == ':';
}

std::optional<std::string> FindNameNoCase(const std::string& dir, std::string_view name) {
  std::error_code ec;
  if (fs::symlink_status(fs::path(dir) / std::string(name), ec).type() != fs::file_type::not_found && !ec)
    return std::string(name);
  std::optional<std::string> best;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string entry = it->path().filename().string();
    if (SameTextNoCase(entry, name) && (!best || entry < *best)) best = entry;
  }
  return best;
}

std::string WinePathToUnix(std::string_view path, const TWineEnvironment& env) {
  if (!HasDriveLetter(path)) return std::string(path);
  std::string_view rest = path.substr(2);
  bool trailing = !rest.empty() && (rest.back() == '\\' || rest.back() == '/');
  std::string result = DriveRoot(path[0], env);
  bool resolving = true;  // while every component so far exists
  std::vector<std::string> parts = SplitComponents(rest);
  for (const std::string& part : parts) {
    std::string name = part;
    if (resolving && part != "." && part != "..") {
      auto found = FindNameNoCase(result.empty() ? "/" : result, part);
      if (found)
        name = *found;
      else
        resolving = false;
    }
    result += "/" + name;
  }
  // A bare drive is its root directory.
  if (parts.empty() || trailing) result += "/";
  return result;
}

std::string UnixPathToWine(std::string_view path) {
  std::string result = "Z:";
  for (char c : path) result += c == '/' ? '\\' : c;
  return result;
}

}  // namespace tolvane
