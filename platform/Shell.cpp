#include "Shell.h"

#include <cerrno>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tolvane {

bool IsUrl(const std::string& target) {
  auto colon = target.find("://");
  if (colon == std::string::npos || colon == 0) return false;
  for (size_t i = 0; i < colon; ++i) {
    char c = target[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '-' ||
          c == '.'))
      return false;
  }
  return true;
}

int TXdgShell::Open(const std::string& target) {
  struct stat st;
  if (!IsUrl(target) && ::stat(target.c_str(), &st) != 0) return ShellFileNotFound;
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  std::vector<char*> argv = {const_cast<char*>(FProgram.c_str()), const_cast<char*>(target.c_str()), nullptr};
  pid_t pid;
  int rc = posix_spawnp(&pid, FProgram.c_str(), nullptr, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return ShellFailed;
  // The opener runs on its own; only its exit status is collected.
  std::thread([pid] {
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return ShellOk;
}

}  // namespace tolvane
