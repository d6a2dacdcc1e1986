// Helpers of the file tests: a fresh directory per test, whole-file reads
// and writes, and a simulated full disk.
#pragma once

#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace tolvane::test {

class TTempDir {
public:
  TTempDir() {
    std::string name = (std::filesystem::temp_directory_path() / "tolvane-XXXXXX").string();
    if (!::mkdtemp(name.data())) std::abort();
    Path = name;
  }
  ~TTempDir() { std::filesystem::remove_all(Path); }
  std::string operator/(const std::string& name) const { return Path + "/" + name; }

  std::string Path;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// While alive, no file may grow beyond limit bytes: writes past it fail as
// on a full disk, for a privileged user too.
class TFileSizeLimit {
public:
  explicit TFileSizeLimit(rlim_t limit) {
    ::getrlimit(RLIMIT_FSIZE, &Saved);
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit lower = Saved;
    lower.rlim_cur = limit;
    ::setrlimit(RLIMIT_FSIZE, &lower);
  }
  ~TFileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &Saved); }

private:
  struct rlimit Saved {};
};

}  // namespace tolvane::test
