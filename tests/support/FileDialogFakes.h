// Stand-ins for the desktop's file dialogs: each run chooses the next
// scripted name and records what the dialog was shown with.
#pragma once

#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "platform/FileDialogs.h"

namespace tolvane::test {

// Takes the next scripted answer into fileName; an empty name, or none
// left, cancels the dialog (false).
inline bool ChooseNextAnswer(std::deque<std::string>& answers, std::string& fileName) {
  if (answers.empty()) return false;
  std::string answer = std::move(answers.front());
  answers.pop_front();
  if (answer.empty()) return false;
  fileName = std::move(answer);
  return true;
}

// Records the filter of each run.
class TFakeOpenDialog : public TOpenDialog {
public:
  TFakeOpenDialog() = default;
  explicit TFakeOpenDialog(std::deque<std::string> answers) : Answers(std::move(answers)) {}
  bool Execute() override {
    Filters.push_back(Filter);
    return ChooseNextAnswer(Answers, FileName);
  }
  std::deque<std::string> Answers;
  std::vector<std::string> Filters;
};

// Records the filter and the default extension of each run.
class TFakeSaveDialog : public TSaveDialog {
public:
  bool Execute() override {
    Seen.push_back({Filter, DefaultExt});
    return ChooseNextAnswer(Answers, FileName);
  }
  std::deque<std::string> Answers;
  std::vector<std::pair<std::string, std::string>> Seen;
};

}  // namespace tolvane::test
