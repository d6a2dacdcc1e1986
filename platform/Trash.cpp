#include "Trash.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/UniqueFd.h"

namespace tolvane {

namespace {

bool IsDirectory(const std::string& p) {
  struct stat st;
  return ::lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectory(const std::string& p) { return ::mkdir(p.c_str(), 0700) == 0 || (errno == EEXIST && IsDirectory(p)); }

// Creates each missing directory of an absolute path.
bool MakeDirectories(const std::string& p) {
  for (size_t i = 1; i <= p.size(); ++i)
    if (i == p.size() || p[i] == '/')
      if (!MakeDirectory(p.substr(0, i))) return false;
  return true;
}

std::string ParentOf(const std::string& p) {
  auto slash = p.find_last_of('/');
  return slash == 0 ? "/" : slash == std::string::npos ? "." : p.substr(0, slash);
}

std::string HomeTrash() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && data[0] == '/') return std::string(data) + "/Trash";
  const char* home = std::getenv("HOME");
  if (!home || home[0] != '/') return {};
  return std::string(home) + "/.local/share/Trash";
}

// The top directory of the mount that holds dir: the highest ancestor on the
// same device.
std::string TopDirectory(const std::string& dir, dev_t device) {
  std::string top = dir;
  while (top != "/") {
    std::string parent = ParentOf(top);
    struct stat st;
    if (::stat(parent.c_str(), &st) != 0 || st.st_dev != device) break;
    top = parent;
  }
  return top;
}

std::string Timestamp(std::time_t t) {
  struct tm local;
  localtime_r(&t, &local);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &local);
  return buf;
}

std::string BaseName(const std::string& p) {
  auto slash = p.find_last_of('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

constexpr std::string_view InfoSuffix = ".trashinfo";

// The longest name that a directory takes.
size_t NameMax(const std::string& dir) {
  long max = ::pathconf(dir.c_str(), _PC_NAME_MAX);
  return max > 0 ? static_cast<size_t>(max) : NAME_MAX;
}

// The name of attempt (1, 2, ...) for base inside the trash, at most limit
// bytes. Names that fit keep their form ("a.jpg", "a.jpg.2"); a longer one
// is cut at a character boundary before its extension, which it keeps
// with the attempt's number ("long….2.jpg"). The original path, whole,
// is in the info file.
std::string TrashName(const std::string& base, int attempt, size_t limit) {
  const std::string number = attempt == 1 ? "" : "." + std::to_string(attempt);
  if (base.size() + number.size() <= limit) return base + number;
  std::string ext;
  auto dot = base.find_last_of('.');
  if (dot != std::string::npos && dot > 0 && base.size() - dot <= 16) ext = base.substr(dot);
  size_t keep = limit - number.size() - ext.size();
  // Not inside a UTF-8 sequence: back up over continuation bytes.
  while (keep > 0 && (static_cast<unsigned char>(base[keep]) & 0xC0) == 0x80) --keep;
  return base.substr(0, keep) + number + ext;
}

}  // namespace

std::string TrashEncodePath(const std::string& path) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                std::strchr("/-_.~!*'()", c) != nullptr;
    if (keep && c) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

TTrashPlace TrashPlaceFor(const std::string& path) {
  char resolved[PATH_MAX];
  // The file itself is not resolved (a link is trashed as the link); its directory is.
  if (!::realpath(ParentOf(path).c_str(), resolved)) return {};
  std::string dir = resolved;
  struct stat fileSt;
  if (::lstat(path.c_str(), &fileSt) != 0) return {};
  std::string home = HomeTrash();
  struct stat homeSt;
  // The home trash serves files of its own device; it may not exist yet, so
  // its nearest existing ancestor stands for it.
  std::string probe = home;
  while (!probe.empty() && ::stat(probe.c_str(), &homeSt) != 0) probe = probe == "/" ? "" : ParentOf(probe);
  if (!home.empty() && !probe.empty() && homeSt.st_dev == fileSt.st_dev) return {home, ""};
  std::string top = TopDirectory(dir, fileSt.st_dev);
  std::string uid = std::to_string(::getuid());
  std::string shared = (top == "/" ? "" : top) + "/.Trash";
  struct stat sharedSt;
  if (::lstat(shared.c_str(), &sharedSt) == 0 && S_ISDIR(sharedSt.st_mode) && (sharedSt.st_mode & S_ISVTX))
    return {shared + "/" + uid, top};
  return {(top == "/" ? "" : top) + "/.Trash-" + uid, top};
}

bool MoveToTrash(const std::string& path, const TTrashPlace& place, std::time_t deletionTime) {
  if (place.TrashDir.empty()) return false;
  const std::string files = place.TrashDir + "/files", info = place.TrashDir + "/info";
  if (!MakeDirectories(files) || !MakeDirectory(info)) return false;
  if (!place.PathBase.empty()) {
    // A trash at the top of a mount is shared ground: it must be our own
    // directory, not a link someone planted.
    struct stat st;
    if (::lstat(place.TrashDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return false;
  }

  // The path as recorded: absolute for the home trash, relative to the top
  // directory for a trash at the top of a mount.
  char resolved[PATH_MAX];
  if (!::realpath(ParentOf(path).c_str(), resolved)) return false;
  std::string absolute = std::string(resolved) + (std::string(resolved) == "/" ? "" : "/") + BaseName(path);
  std::string recorded = absolute;
  if (!place.PathBase.empty() && place.PathBase != "/") {
    if (absolute.compare(0, place.PathBase.size() + 1, place.PathBase + "/") != 0) return false;
    recorded = absolute.substr(place.PathBase.size() + 1);
  } else if (place.PathBase == "/") {
    recorded = absolute.substr(1);
  }

  const std::string base = BaseName(path);
  // Both files/NAME and info/NAME.trashinfo must be names the file system takes.
  const size_t limit = std::min(NameMax(info), NameMax(files)) - InfoSuffix.size();
  for (int attempt = 1; attempt < 10000; ++attempt) {
    std::string name = TrashName(base, attempt, limit);
    std::string infoFile = info + "/" + name + std::string(InfoSuffix);
    TUniqueFd fd(::open(infoFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd.Valid()) {
      if (errno == EEXIST) continue;
      return false;
    }
    std::string text = "[Trash Info]\nPath=" + TrashEncodePath(recorded) + "\nDeletionDate=" + Timestamp(deletionTime) + "\n";
    bool written = WriteAll(fd.Get(), text);
    written = fd.Close() == 0 && written;
    std::string target = files + "/" + name;
    struct stat st;
    if (written && ::lstat(target.c_str(), &st) != 0 && errno == ENOENT && ::rename(path.c_str(), target.c_str()) == 0)
      return true;
    ::unlink(infoFile.c_str());
    // A name taken in files/ (without its info file) is skipped; anything else fails.
    if (written && ::lstat(target.c_str(), &st) == 0) continue;
    return false;
  }
  return false;
}

bool TFreedesktopTrash::MoveToRecycleBin(const std::string& path) {
  return MoveToTrash(path, TrashPlaceFor(path), std::time(nullptr));
}

}  // namespace tolvane
