// libFuzzer target: arbitrary bytes loaded as a file of one extension
// (TOLVANE_FUZZ_EXT, e.g. "bmp") through the picture registry and drawn as
// the fingerprint draws them. Any exception that is not one of the
// framework's own aborts, as do the sanitizers' findings.
// TOLVANE_FUZZ_LIST=1 prints the registered extensions instead.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>

#include "FuzzLoad.h"
#include "app/GraphicUnits.h"
#include "picture/Graphics.h"

namespace {

// The file every input is written to: the readers are reached through the
// registry by the file's extension, and some read by name, not by stream.
struct TInputFile {
  std::filesystem::path Directory;
  std::string Path;
  ~TInputFile() {
    std::error_code ignored;
    if (!Directory.empty()) std::filesystem::remove_all(Directory, ignored);
  }
};
TInputFile Input;  // start-up state of this single-threaded program

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "picture_fuzzer: %s\n", what);
  std::exit(2);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  using namespace tolvane;
  InitializeGraphicUnits();
  if (std::getenv("TOLVANE_FUZZ_LIST")) {
    for (const TFileFormatEntry& format : TPicture::RegisteredFormats()) std::printf("%s\n", format.Extension.c_str());
    std::exit(0);
  }
  const char* extension = std::getenv("TOLVANE_FUZZ_EXT");
  if (!extension || !*extension) Fail("set TOLVANE_FUZZ_EXT to the extension to load as (e.g. bmp)");
  if (!TPicture::FindGraphicKind(extension)) Fail("no graphic class is registered for TOLVANE_FUZZ_EXT");
  std::string directory = (std::filesystem::temp_directory_path() / "tolvane-fuzz-XXXXXX").string();
  if (!::mkdtemp(directory.data())) Fail("cannot make a temporary directory");
  Input.Directory = directory;
  Input.Path = directory + "/input." + extension;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(Input.Path.c_str(), "wb");
  if (!file) Fail("cannot write the input file");
  const bool written = std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !written) Fail("cannot write the input file");
  try {
    tolvane::fuzz::LoadAndDraw(Input.Path);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "picture_fuzzer: an exception that is not the framework's own: %s\n", e.what());
    std::abort();
  } catch (...) {
    std::fprintf(stderr, "picture_fuzzer: an exception of an unknown type\n");
    std::abort();
  }
  return 0;
}
