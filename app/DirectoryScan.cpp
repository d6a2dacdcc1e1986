#include "DirectoryScan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <memory>

#include "Fingerprint.h"
#include "picture/SysUtils.h"
#include "platform/UniqueFd.h"

namespace tolvane {

namespace {

struct TEntry {
  std::string Name;
  unsigned char Type;  // d_type: DT_UNKNOWN when the file system does not say
};

// The entries of the directory open at fd, without "." and "..", in byte
// order of their names (std::string compares as unsigned bytes).
std::vector<TEntry> SortedEntries(int fd) {
  std::vector<TEntry> entries;
  int streamFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (streamFd < 0) return entries;
  DIR* dir = ::fdopendir(streamFd);
  if (!dir) {
    ::close(streamFd);
    return entries;
  }
  std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, ::closedir);
  while (const dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    entries.push_back({std::move(name), e->d_type});
  }
  std::sort(entries.begin(), entries.end(), [](const TEntry& a, const TEntry& b) { return a.Name < b.Name; });
  return entries;
}

// A real directory, never a link to one.
bool IsDirectoryEntry(int dirFd, const TEntry& e) {
  if (e.Type != DT_UNKNOWN) return e.Type == DT_DIR;
  struct stat st;
  return ::fstatat(dirFd, e.Name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

// A regular file or a link to one; FIFOs, sockets and devices named like
// pictures would block or mislead a reader.
bool IsRegularFileEntry(int dirFd, const TEntry& e) {
  if (e.Type == DT_REG) return true;
  if (e.Type != DT_LNK && e.Type != DT_UNKNOWN) return false;
  struct stat st;
  return ::fstatat(dirFd, e.Name.c_str(), &st, 0) == 0 && S_ISREG(st.st_mode);
}

bool HasSupportedExtension(const std::string& name) { return IsSupportedExtension(LowerCase(ExtractFileExt(name))); }

TUniqueFd OpenDirectory(const std::string& path) {
  return TUniqueFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

void ScanTreeAt(int fd, const std::string& start, const std::string& current, std::vector<std::string>& list) {
  for (const TEntry& e : SortedEntries(fd)) {
    std::string path = current + "/" + e.Name;
    if (IsDirectoryEntry(fd, e)) {
      // No file in a path of PATH_MAX characters or more could be opened; stopping there
      // also bounds the depth, the stack and the paths held on it.
      if (e.Name[0] == '.' || path.size() >= PATH_MAX) continue;
      // O_NOFOLLOW: a directory swapped for a link after the listing is not entered either.
      TUniqueFd child(::openat(fd, e.Name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (child.Valid()) ScanTreeAt(child.Get(), start, path, list);
    } else if (HasSupportedExtension(e.Name) && IsRegularFileEntry(fd, e)) {
      list.push_back(CopyTail(path, static_cast<int64_t>(start.size()) + 1));
    }
  }
}

}  // namespace

std::string CopyTail(const std::string& text, int64_t position) {
  if (position < 1) position = 1;
  if (position > static_cast<int64_t>(text.size())) return {};
  return text.substr(static_cast<size_t>(position - 1));
}

void ScanDirectoryTree(const std::string& start, const std::string& current, std::vector<std::string>& list) {
  TUniqueFd fd = OpenDirectory(current);
  if (fd.Valid()) ScanTreeAt(fd.Get(), start, current, list);
}

void ScanDirectory(const std::string& directory, std::vector<std::string>& list) {
  TUniqueFd fd = OpenDirectory(directory);
  if (!fd.Valid()) return;
  for (const TEntry& e : SortedEntries(fd.Get()))
    if (HasSupportedExtension(e.Name) && IsRegularFileEntry(fd.Get(), e)) list.push_back(e.Name);
}

}  // namespace tolvane
