// Benchmark (not a test): time per file of loading photographs through the
// picture registry, against a reference decoder run on the same files (one
// process per file, its output thrown away) in the same run.
//   bench_load --reference=pngtopam FILE...   pngtopam, its output to /dev/null
//   bench_load --reference=tiffcp FILE...     tiffcp -c none into a scratch file
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "app/GraphicUnits.h"
#include "picture/Graphics.h"

extern char** environ;

using namespace tolvane;
using Clock = std::chrono::steady_clock;

namespace {

// How one reference decoder is run on a file: its arguments, and the scratch
// file it writes beside the input (removed after each run), if any.
struct TReference {
  std::string_view Name;
  std::vector<std::string> (*Arguments)(const std::string& file, const std::string& scratch);
  std::string_view ScratchSuffix;
};

const TReference References[] = {
    {"pngtopam", [](const std::string& file, const std::string&) { return std::vector<std::string>{file}; }, ""},
    {"tiffcp",
     [](const std::string& file, const std::string& scratch) {
       return std::vector<std::string>{"-c", "none", file, scratch};
     },
     ".plain"},
};

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

// Runs the reference on the file with its standard output and errors going
// to /dev/null; false when it cannot run or fails.
bool DecodeWithReference(const TReference& reference, const std::string& file) {
  const std::string scratch = reference.ScratchSuffix.empty() ? "" : file + std::string(reference.ScratchSuffix);
  std::vector<std::string> args = reference.Arguments(file, scratch);
  args.insert(args.begin(), std::string(reference.Name));
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  if (!scratch.empty()) unlink(scratch.c_str());
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

const TReference* FindReference(std::string_view option) {
  constexpr std::string_view prefix = "--reference=";
  if (option.substr(0, prefix.size()) != prefix) return nullptr;
  option.remove_prefix(prefix.size());
  for (const TReference& reference : References)
    if (reference.Name == option) return &reference;
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  const TReference* reference = argc < 3 ? nullptr : FindReference(argv[1]);
  if (reference == nullptr) {
    std::fprintf(stderr, "usage: bench_load --reference=pngtopam|tiffcp FILE...\n");
    return 2;
  }
  const std::string name(reference->Name);
  InitializeGraphicUnits();
  double ours = 0, theirs = 0, worst = 0;
  int files = 0;
  std::printf("%-40s %10s %10s %7s\n", "file", "registry", name.c_str(), "ratio");
  for (int i = 2; i < argc; ++i) {
    const std::string file = argv[i];
    Clock::time_point start = Clock::now();
    if (!LoadThroughRegistry(file)) continue;
    const double a = Milliseconds(start);
    start = Clock::now();
    if (!DecodeWithReference(*reference, file)) continue;
    const double b = Milliseconds(start);
    std::printf("%-40s %8.1f ms %7.1f ms %7.2f\n", file.substr(file.find_last_of('/') + 1).c_str(), a, b, a / b);
    ours += a;
    theirs += b;
    worst = std::max(worst, a / b);
    ++files;
  }
  if (files > 0)
    std::printf("mean over %d files: registry %.1f ms, %s %.1f ms per file; ratio %.2f (worst %.2f)\n", files,
                ours / files, name.c_str(), theirs / files, ours / theirs, worst);
  FinalizeGraphicUnits();
  return files > 0 ? 0 : 1;
}
