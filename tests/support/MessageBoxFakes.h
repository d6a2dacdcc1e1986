// A stand-in for the desktop's message boxes: records every box shown and
// answers with scripted buttons.
#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/MessageBoxes.h"

namespace tolvane::test {

struct TShownBox {
  TMessageKind Kind;
  TMessageButtons Buttons;
  std::string Text;
  std::string Caption;
};

// Answers with the scripted buttons in turn; when the script has run out,
// with OK or Yes, whichever the box has.
class TFakeMessageBoxes : public TMessageBoxes {
public:
  TMessageButton ShowMessageBox(TMessageKind kind, TMessageButtons buttons, std::string_view text,
                                std::string_view caption) override {
    Shown.push_back({kind, buttons, std::string(text), std::string(caption)});
    if (!Answers.empty()) {
      TMessageButton answer = Answers.front();
      Answers.pop_front();
      return answer;
    }
    return (buttons & mbYes) ? mbYes : mbOK;
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const TShownBox& box : Shown) texts.push_back(box.Text);
    return texts;
  }
  std::deque<TMessageButton> Answers;
  std::vector<TShownBox> Shown;
};

}  // namespace tolvane::test
