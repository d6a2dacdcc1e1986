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

namespace {

// Starts argv[0] (looked up on PATH when search) detached, in a session of
// its own; only its exit status is collected, in the background.
int SpawnDetached(const std::vector<const char*>& args, bool search) {
  std::vector<char*> argv;
  for (const char* a : args) argv.push_back(const_cast<char*>(a));
  argv.push_back(nullptr);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  pid_t pid;
  int rc = search ? posix_spawnp(&pid, argv[0], nullptr, &attr, argv.data(), environ)
                  : posix_spawn(&pid, argv[0], nullptr, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return ShellFailed;
  std::thread([pid] {
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return ShellOk;
}

}  // namespace

int TXdgShell::Open(const std::string& target) {
  struct stat st;
  if (!IsUrl(target) && ::stat(target.c_str(), &st) != 0) return ShellFileNotFound;
  return SpawnDetached({FProgram.c_str(), target.c_str()}, true);
}

int TXdgShell::Run(const std::string& program) {
  struct stat st;
  if (::stat(program.c_str(), &st) != 0) return ShellFileNotFound;
  if (!S_ISREG(st.st_mode) || ::access(program.c_str(), X_OK) != 0) return ShellFailed;
  return SpawnDetached({program.c_str()}, false);
}

}  // namespace tolvane
