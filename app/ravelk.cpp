// ravelk: finds duplicate and near-duplicate pictures in a directory.
//   ravelk [DIRECTORY [THRESHOLD]]
#include <QApplication>

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/About.h"
#include "app/GnuGetText.h"
#include "app/GraphicUnits.h"
#include "app/SelDirectory.h"
#include "app/MainWindow.h"
#include "graphics/GraphicCompression.h"
#include "picture/SysUtils.h"
#include "platform/QtEventPump.h"
#include "platform/QtFileDialogs.h"
#include "platform/QtMessageBoxes.h"

namespace {

// Whatever an event handler lets escape is shown in the application's
// standard error box, and the program goes on.
class TApplication : public QApplication {
public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      if (Boxes) Boxes->ShowMessageBox(tolvane::TMessageKind::mkError, tolvane::mbOK, e.what(), tolvane::ApplicationTitle);
    }
    return false;
  }
  tolvane::TMessageBoxes* Boxes = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  using namespace tolvane;
  TApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("ravelk"));
  // Qt has taken its own options out of argv; the rest is ours, byte for byte.
  std::vector<std::string> arguments(argv + 1, argv + argc);
  LoadFormatSettingsFromLocale();
  InitializeGraphicUnits();
  SelectUserLanguage();
  FollowLanguageInToolkit();

  TQtMessageBoxes boxes;
  app.Boxes = &boxes;
  // A JPEG strip of a TIFF file that ends early is reported in a warning box.
  SetCompressionWarningHook([&boxes](const std::string& text, const std::string& caption) {
    boxes.ShowMessageBox(TMessageKind::mkWarning, mbOK, text, caption);
  });
  TFreedesktopTrash trash;
  TXdgShell shell;
  TQtEventPump pump;
  TSteadyClockCounter counter;
  int result;
  {
    TForm1 form({boxes, trash, shell, pump, counter, std::make_unique<TQtSaveDialog>()}, std::move(arguments));
    auto* about = new TAboutBox(&form);
    auto* directories = new TSelDirectoryDlg(&form);
    form.AboutBox = about;
    form.SelDirectoryDlg = directories;
    about->ChooseLanguage = directories->ChooseLanguage = [&form] { form.SelectTickedLanguage(); };
    form.show();
    result = app.exec();
  }
  app.Boxes = nullptr;
  SetCompressionWarningHook(nullptr);
  FinalizeGraphicUnits();
  return result;
}
