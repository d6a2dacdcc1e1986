// setup: adds the finder to the configuration of three file managers.
#include <QApplication>

#include "installer/SetupWindow.h"
#include "platform/QtFileDialogs.h"
#include "platform/QtMessageBoxes.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(tolvane::ApplicationTitle));
  tolvane::TQtMessageBoxes boxes;
  return tolvane::setup::RunSetup(boxes, std::make_unique<tolvane::TQtOpenDialog>());
}
