// A file descriptor owned by one object and closed when it goes out of scope.
#pragma once

#include <unistd.h>

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
  // Closes now and reports close's own result (0, or -1 with errno set).
  int Close() { return FFd >= 0 ? ::close(std::exchange(FFd, -1)) : 0; }

private:
  int FFd;
};

}  // namespace tolvane
