// A file descriptor owned by one object and closed when it goes out of
// scope, and the loop that writes a whole buffer to a descriptor.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <utility>

namespace tolvane {

class TUniqueFd {
public:
  explicit TUniqueFd(int fd = -1) : FFd(fd) {}
  ~TUniqueFd() {
    if (FFd >= 0) ::close(FFd);
  }
  TUniqueFd(TUniqueFd&& other) noexcept : FFd(std::exchange(other.FFd, -1)) {}
  TUniqueFd& operator=(TUniqueFd&&) = delete;
  TUniqueFd(const TUniqueFd&) = delete;
  TUniqueFd& operator=(const TUniqueFd&) = delete;

  int Get() const { return FFd; }
  bool Valid() const { return FFd >= 0; }
  // Closes now and reports close's own result (0, or -1 with errno set): a
  // deferred write error of some file systems shows only here.
  int Close() { return FFd >= 0 ? ::close(std::exchange(FFd, -1)) : 0; }

private:
  int FFd;
};

// Writes all of bytes, going on after short writes and interruptions. False
// with errno set when a write fails (ENOSPC when one writes nothing).
inline bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace tolvane
