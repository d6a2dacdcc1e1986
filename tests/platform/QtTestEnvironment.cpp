#include "QtTestEnvironment.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class TQtEnvironment : public ::testing::Environment {
public:
  void SetUp() override { App = std::make_unique<QApplication>(Argc, Argv); }
  void TearDown() override { App.reset(); }

private:
  int Argc = 1;
  char Name[6] = "tests";
  char* Argv[2] = {Name, nullptr};
  std::unique_ptr<QApplication> App;
};

// gtest owns and frees the environment.
[[maybe_unused]] const ::testing::Environment* const Environment =
    ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

}  // namespace
