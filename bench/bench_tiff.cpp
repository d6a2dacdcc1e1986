// Benchmark (not a test): time per file of loading TIFF photographs through
// the picture registry, against libtiff's tiffcp decompressing the same
// files (tiffcp -c none, one process per file, its output file thrown away)
// in the same run.
//   bench_tiff FILE...
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/GraphicUnits.h"
#include "picture/Graphics.h"

extern char** environ;

using namespace tolvane;
using Clock = std::chrono::steady_clock;

namespace {

double Milliseconds(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Loads the file as the finder does; false when it fails.
bool LoadThroughRegistry(const std::string& file) {
  TPicture picture;
  try {
    picture.LoadPictureFile(file);
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s: %s\n", file.c_str(), e.what());
    return false;
  }
  return picture.PictureWidth() > 0;
}

// Runs tiffcp -c none on the file into a scratch file beside it.
bool DecodeWithTiffcp(const std::string& file) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::string program = "tiffcp", option = "-c", none = "none", out = file + ".plain";
  std::vector<char*> argv = {program.data(), option.data(), none.data(), const_cast<char*>(file.c_str()),
                             out.data(), nullptr};
  pid_t pid;
  const int rc = posix_spawnp(&pid, "tiffcp", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  unlink(out.c_str());
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_tiff FILE...\n");
    return 2;
  }
  InitializeGraphicUnits();
  double ours = 0, reference = 0, worst = 0;
  int files = 0;
  std::printf("%-40s %10s %10s %7s\n", "file", "registry", "tiffcp", "ratio");
  for (int i = 1; i < argc; ++i) {
    const std::string file = argv[i];
    Clock::time_point start = Clock::now();
    if (!LoadThroughRegistry(file)) continue;
    const double a = Milliseconds(start);
    start = Clock::now();
    if (!DecodeWithTiffcp(file)) continue;
    const double b = Milliseconds(start);
    std::printf("%-40s %8.1f ms %7.1f ms %7.2f\n", file.substr(file.find_last_of('/') + 1).c_str(), a, b, a / b);
    ours += a;
    reference += b;
    worst = std::max(worst, a / b);
    ++files;
  }
  if (files > 0)
    std::printf("mean over %d files: registry %.1f ms, tiffcp %.1f ms per file; ratio %.2f (worst %.2f)\n", files,
                ours / files, reference / files, ours / reference, worst);
  FinalizeGraphicUnits();
  return files > 0 ? 0 : 1;
}
