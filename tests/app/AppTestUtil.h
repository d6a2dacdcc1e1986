// Temporary directories and small files for the finder's tests.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "picture/Graphics.h"

namespace tolvane::test {

// A fresh directory under /tmp, removed with everything in it. Path() ends in "/".
class TTempDir {
public:
  TTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tolvane-app-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    FPath = pattern + "/";
  }
  ~TTempDir() { std::filesystem::remove_all(FPath); }
  const std::string& Path() const { return FPath; }

private:
  std::string FPath;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A white 32 x 16 24-bit BMP with the rectangle dark painted black.
inline void WriteBmp(const std::string& path, const TRect& dark) {
  TBitmap b;
  b.SetPixelLayout(pl24Bit);
  b.ResizeWidth(32);
  b.ResizeHeight(16);
  b.FillRect(dark, clBlack);
  WriteFile(path, "");
  b.SaveFile(path);
}

}  // namespace tolvane::test
