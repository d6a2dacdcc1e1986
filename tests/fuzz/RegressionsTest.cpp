// Every input that once crashed a reader (regressions/NAME.EXT) is loaded and
// drawn again, as the fuzz target does, under the sanitizers of the test
// build: it must end in a picture or in one of the framework's exceptions.
#include <gtest/gtest.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "FuzzLoad.h"
#include "app/GraphicUnits.h"
#include "picture/Graphics.h"

namespace tolvane {
namespace {

std::vector<std::filesystem::path> RegressionFiles() {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(FUZZ_REGRESSIONS_DIR))
    if (entry.is_regular_file() && entry.path().filename().string() != "README") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

TEST(FuzzRegressions, EveryKeptInputLoadsOrFailsInTheFrameworksTerms) {
  InitializeGraphicUnits();
  for (const auto& file : RegressionFiles()) {
    const std::string extension = file.extension().string();
    ASSERT_GT(extension.size(), 1u) << file << " has no extension to be loaded as";
    EXPECT_NE(TPicture::FindGraphicKind(extension.substr(1)), nullptr) << "no class reads " << file;
    try {
      fuzz::LoadAndDraw(file.string());
    } catch (const std::exception& e) {
      ADD_FAILURE() << file << ": " << e.what();
    }
  }
  FinalizeGraphicUnits();
}

}  // namespace
}  // namespace tolvane
