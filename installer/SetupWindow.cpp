#include "installer/SetupWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <exception>
#include <initializer_list>

#include "installer/ConfigWriters.h"
#include "platform/WinePaths.h"

namespace tolvane {

namespace {

constexpr int NoticeWidth = 183;

// The three lines of the notice fit the window's width: a font wider than
// the one they were measured for gets a smaller size for them (down to 10
// pixels), and a line that still does not fit wraps, moving the lines below
// it down.
void LayOutNotice(std::initializer_list<QLabel*> labels, int top) {
  QFont f = (*labels.begin())->font();
  auto widest = [&] {
    QFontMetrics metrics(f);
    int w = 0;
    for (QLabel* label : labels) w = std::max(w, metrics.horizontalAdvance(label->text()));
    return w;
  };
  while (widest() > NoticeWidth && f.pixelSize() > 10) f.setPixelSize(f.pixelSize() - 1);
  for (QLabel* label : labels) {
    label->setFont(f);
    label->setWordWrap(true);
    int height = label->heightForWidth(NoticeWidth);
    label->setGeometry(8, top, NoticeWidth, height);
    top += height;
  }
}

QCheckBox* MakeCheck(QGroupBox* box, const char* text, int top) {
  auto* check = new QCheckBox(QString::fromUtf8(text), box);
  check->setGeometry(12, top, 160, 17);
  return check;
}

// One file manager of the install run.
struct TManager {
  QCheckBox* Check;
  const char* Filter;
  const char* Name;
  bool (setup::TForm1::*Install)(const std::string&);
};

}  // namespace

namespace setup {

TForm1::TForm1(TMessageBoxes& boxes, std::unique_ptr<TOpenDialog> openDialog, QWidget* parent)
    : QWidget(parent, Qt::Tool), OpenDialog1(std::move(openDialog)), Boxes(boxes) {
  setWindowTitle(QStringLiteral("[Installer] Tolvane"));
  setFixedSize(199, 263);
  QFont f = font();
  f.setPixelSize(13);
  setFont(f);

  GroupBox1 = new QGroupBox(QStringLiteral("Install for"), this);
  GroupBox1->setGeometry(8, 8, 183, 97);
  TotalCommanderCheck = MakeCheck(GroupBox1, "Total Commander", 22);
  UnrealCommanderCheck = MakeCheck(GroupBox1, "Unreal Commander", 46);
  FreeCommanderCheck = MakeCheck(GroupBox1, "Free Commander", 70);
  Label1 = new QLabel(QStringLiteral("Press install to patch config files of"), this);
  Label2 = new QLabel(QStringLiteral("selected programs. Backup copies"), this);
  Label3 = new QLabel(QStringLiteral("(*.bkp) will be automatically made."), this);
  LayOutNotice({Label1, Label2, Label3}, 116);
  Button1 = new QPushButton(QStringLiteral("Install"), this);
  Button1->setGeometry(16, 224, 75, 25);
  Button2 = new QPushButton(QStringLiteral("Cancel"), this);
  Button2->setGeometry(108, 224, 75, 25);
  connect(Button1, &QPushButton::clicked, this, [this] { Handle([this] { Button1Click(); }); });
  connect(Button2, &QPushButton::clicked, this, [this] { Handle([this] { Button2Click(); }); });
  FormCreate();
}

void TForm1::Handle(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    Boxes.ShowMessageBox(TMessageKind::mkError, mbOK, e.what(), ApplicationTitle);
  }
}

void TForm1::FormCreate() {
  std::string dir = QCoreApplication::applicationDirPath().toStdString();
  ProgramPath = UnixPathToWine(dir + "/ravelk");
  // The file managers are Windows programs under Wine, installed below the
  // prefix's drive_c; the prefix itself is hidden in the home directory.
  OpenDialog1->InitialDir = WineDriveCDirectory(TWineEnvironment::FromProcess());
}

void TForm1::Button1Click() {
  const TManager managers[] = {
      {TotalCommanderCheck, "totalcmd.exe|totalcmd.exe", "Total Commander", &TForm1::InstallTotal},
      {UnrealCommanderCheck, "uncom.exe|uncom.exe", "Unreal Commander", &TForm1::InstallUnreal},
      {FreeCommanderCheck, "FreeCommander.exe|FreeCommander.exe", "Free Commander", &TForm1::InstallFree},
  };
  for (const TManager& m : managers) {
    if (!m.Check->isChecked()) continue;
    OpenDialog1->Filter = m.Filter;
    if (!OpenDialog1->Execute()) continue;
    if ((this->*m.Install)(OpenDialog1->FileName))
      Boxes.ShowMessageBox(TMessageKind::mkInformation, mbOK,
                           std::string("Config file of ") + m.Name + " has been updated");
    else
      Boxes.ShowMessageBox(TMessageKind::mkWarning, mbOK, std::string("Cannot update config file of ") + m.Name);
  }
  close();
}

void TForm1::Button2Click() { close(); }

void TForm1::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  if (OnClose) OnClose();
}

bool TForm1::InstallTotal(const std::string& executable) { return tolvane::InstallTotal(executable, ProgramPath); }

bool TForm1::InstallUnreal(const std::string& executable) {
  return tolvane::InstallUnreal(executable, ProgramPath);
}

bool TForm1::InstallFree(const std::string& executable) { return tolvane::InstallFree(executable, ProgramPath); }

bool TForm1::Backup(const std::string& path) { return tolvane::Backup(path); }

int RunSetup(TMessageBoxes& boxes, std::unique_ptr<TOpenDialog> openDialog) {
  // Qt does not count a tool window as a window of the application, so the
  // closing of any message box would otherwise look like the closing of the
  // last window and end the program under the open window. The window's own
  // closing ends the program instead.
  QApplication::setQuitOnLastWindowClosed(false);
  TForm1 form(boxes, std::move(openDialog));
  form.OnClose = [] { QCoreApplication::quit(); };
  form.show();
  return QApplication::exec();
}

}  // namespace setup
}  // namespace tolvane
