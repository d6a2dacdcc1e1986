#include "platform/AtomicFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/UniqueFd.h"

namespace tolvane {

namespace {

// Removes a temporary file unless the rename took it over.
class TTemporaryName {
public:
  explicit TTemporaryName(std::string name) : Name(std::move(name)) {}
  TTemporaryName(const TTemporaryName&) = delete;
  TTemporaryName& operator=(const TTemporaryName&) = delete;
  ~TTemporaryName() {
    if (!Name.empty()) ::unlink(Name.c_str());
  }
  const std::string& Get() const { return Name; }
  void Release() { Name.clear(); }

private:
  std::string Name;
};

mode_t CurrentUmask() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

// The file that a write to path really changes: the target of a symbolic
// link (of a chain of them), else path itself.
std::string WriteTarget(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_symlink(path, ec)) return path;
  std::filesystem::path resolved = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : resolved.string();
}

bool IsReadOnly(const std::string& path, const struct stat& st) {
  // A file without any write bit is read-only even for a privileged user:
  // the programs that own these files mark them so on purpose.
  return (st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0;
}

void SyncDirectory(const std::string& dir) {
  TUniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.Valid()) ::fsync(fd.Get());
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes,
                                         TReadFailure* failure) {
  auto fail = [&](TReadFailure why) -> std::optional<std::string> {
    if (failure) *failure = why;
    return std::nullopt;
  };
  if (failure) *failure = TReadFailure::rfNone;
  // O_NONBLOCK keeps a pipe from stalling the open; the type is checked
  // before any read.
  TUniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd.Valid())
    return fail(errno == ENOENT || errno == ENOTDIR ? TReadFailure::rfMissing
                                                    : TReadFailure::rfUnreadable);
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return fail(TReadFailure::rfUnreadable);
  if (st.st_size < 0 || static_cast<unsigned long long>(st.st_size) > maxBytes)
    return fail(TReadFailure::rfUnreadable);
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(st.st_size));
  std::vector<char> chunk(65536);
  for (;;) {
    ssize_t n = ::read(fd.Get(), chunk.data(), chunk.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(TReadFailure::rfUnreadable);
    }
    if (n == 0) break;
    // The file may grow while it is read; the limit holds for what is read.
    if (bytes.size() + static_cast<std::size_t>(n) > maxBytes) return fail(TReadFailure::rfUnreadable);
    bytes.append(chunk.data(), static_cast<std::size_t>(n));
  }
  return bytes;
}

bool ReplaceFileContents(const std::string& path, std::string_view bytes, std::optional<mode_t> mode) {
  const std::string target = WriteTarget(path);
  struct stat old {};
  bool exists = ::stat(target.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) return false;
  if (exists && (!S_ISREG(old.st_mode) || IsReadOnly(target, old))) return false;

  std::filesystem::path targetPath(target);
  std::string dir = targetPath.parent_path().string();
  if (dir.empty()) dir = ".";
  std::string pattern = dir + "/." + targetPath.filename().string() + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  TUniqueFd fd(::mkostemp(name.data(), O_CLOEXEC));
  if (!fd.Valid()) return false;
  TTemporaryName temporary(name.data());

  mode_t permissions = mode ? *mode : exists ? (old.st_mode & 07777) : (0666 & ~CurrentUmask());
  if (::fchmod(fd.Get(), permissions) != 0) return false;
  if (exists) {
    // Only a privileged process may give the file back to its owner; for
    // anyone else the file already is theirs or the call fails harmlessly.
    [[maybe_unused]] int ignored = ::fchown(fd.Get(), old.st_uid, old.st_gid);
  }
  if (!WriteAll(fd.Get(), bytes) || ::fsync(fd.Get()) != 0 || fd.Close() != 0) return false;
  if (::rename(temporary.Get().c_str(), target.c_str()) != 0) return false;
  temporary.Release();
  SyncDirectory(dir);
  return true;
}

}  // namespace tolvane
