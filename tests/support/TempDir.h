// Helpers of the file tests: a fresh directory per test, whole-file reads
// and writes, and a simulated full disk.
#pragma once

#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>

namespace tolvane::test {

// A fresh directory under the temporary directory, removed with everything
// in it. Failing to make it raises, so that no test writes somewhere else.
class TTempDir {
public:
  TTempDir() {
    std::string name = (std::filesystem::temp_directory_path() / "tolvane-XXXXXX").string();
    if (!::mkdtemp(name.data())) throw std::runtime_error("cannot make a temporary directory in " + name);
    Path = name;
  }
  ~TTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(Path, ignored);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  // The path of name inside the directory.
  std::string operator/(const std::string& name) const { return Path + "/" + name; }

  std::string Path;  // without a trailing "/"
};

// Writes bytes to path, making the directories it lies in.
inline void WriteFile(const std::string& path, const std::string& bytes) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  std::error_code ignored;
  if (!parent.empty()) std::filesystem::create_directories(parent, ignored);
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
