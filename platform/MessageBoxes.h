// Message boxes behind a small interface, so that windows can be tested
// with a fake that records what they would show and answers for the user.
#pragma once

#include <string_view>

namespace tolvane {

enum class TMessageKind : unsigned char { mkInformation, mkWarning, mkError, mkQuestion };

// Buttons of a box, combined with "|"; a box answers with one of them.
enum TMessageButton : unsigned {
  mbNone = 0,
  mbOK = 1u << 0,
  mbCancel = 1u << 1,
  mbYes = 1u << 2,
  mbNo = 1u << 3,
  mbAbort = 1u << 4,
  mbRetry = 1u << 5,
  mbIgnore = 1u << 6,
};
using TMessageButtons = unsigned;

class TMessageBoxes {
public:
  virtual ~TMessageBoxes() = default;
  // Shows a modal box and returns the button pressed. Closing the box
  // without a button answers Cancel when the box has one, else No, else
  // its only button. An empty caption gives the kind's usual title
  // ("Information", "Warning", "Error", "Confirm"). Lines of text may be
  // separated by CR LF or LF; the text is shown as plain text.
  virtual TMessageButton ShowMessageBox(TMessageKind kind, TMessageButtons buttons, std::string_view text,
                                        std::string_view caption = {}) = 0;
};

// The usual title of a box of kind.
std::string_view MessageKindCaption(TMessageKind kind);

}  // namespace tolvane
