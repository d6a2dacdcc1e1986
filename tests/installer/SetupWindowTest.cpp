#include "installer/SetupWindow.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <vector>

#include "QtTestEnvironment.h"
#include "platform/QtMessageBoxes.h"
#include "support/FileDialogFakes.h"
#include "support/MessageBoxFakes.h"
#include "support/TempDir.h"
#include "platform/WinePaths.h"

namespace tolvane {
namespace {

using setup::TForm1;

using test::TFakeMessageBoxes;
using test::TFakeOpenDialog;

class Form1Test : public ::testing::Test {
protected:
  TForm1& MakeForm(std::deque<std::string> answers) {
    auto dialog = std::make_unique<TFakeOpenDialog>(std::move(answers));
    Dialog = dialog.get();
    Form = std::make_unique<TForm1>(Boxes, std::move(dialog));
    Form->OnClose = [this] { ++Closed; };
    Form->show();
    return *Form;
  }

  test::TTempDir Dir;
  TFakeMessageBoxes Boxes;
  TFakeOpenDialog* Dialog = nullptr;
  std::unique_ptr<TForm1> Form;
  int Closed = 0;
};

TEST_F(Form1Test, ShowsItsControlsAndNamesTheFinderBesideIt) {
  TForm1& form = MakeForm({});
  EXPECT_EQ(form.windowTitle(), QStringLiteral("[Installer] Tolvane"));
  EXPECT_TRUE(form.windowFlags() & Qt::Tool);
  EXPECT_EQ(form.size(), QSize(199, 263));
  EXPECT_EQ(form.GroupBox1->title(), QStringLiteral("Install for"));
  for (QCheckBox* check : {form.TotalCommanderCheck, form.UnrealCommanderCheck, form.FreeCommanderCheck})
    EXPECT_FALSE(check->isChecked());
  EXPECT_EQ(form.Label3->text(), QStringLiteral("(*.bkp) will be automatically made."));
  EXPECT_EQ(form.ProgramPath, UnixPathToWine(QCoreApplication::applicationDirPath().toStdString() + "/ravelk"));
  // The notice stays inside the window, whatever the font's width.
  for (QLabel* label : {form.Label1, form.Label2, form.Label3})
    EXPECT_LE(label->geometry().right(), 199) << label->text().toStdString();
}

TEST_F(Form1Test, TheFileDialogOpensInTheWinePrefixsDriveC) {
  std::filesystem::create_directories(Dir / "prefix/drive_c");
  const char* old = std::getenv("WINEPREFIX");
  const std::string saved = old ? old : "";
  ::setenv("WINEPREFIX", (Dir / "prefix").c_str(), 1);
  EXPECT_EQ(MakeForm({}).OpenDialog1->InitialDir, Dir / "prefix/drive_c");
  old ? ::setenv("WINEPREFIX", saved.c_str(), 1) : ::unsetenv("WINEPREFIX");
}

TEST_F(Form1Test, InstallWithNothingTickedOnlyCloses) {
  TForm1& form = MakeForm({});
  form.Button1->click();
  EXPECT_TRUE(Dialog->Filters.empty());
  EXPECT_TRUE(Boxes.Shown.empty());
  EXPECT_EQ(Closed, 1);
  EXPECT_FALSE(form.isVisible());
}

TEST_F(Form1Test, CancelCloses) {
  MakeForm({}).Button2->click();
  EXPECT_EQ(Closed, 1);
}

TEST_F(Form1Test, InstallRunsTickedManagersInOrder) {
  test::WriteFile(Dir / "DEFAULT.BAR", "[Buttonbar]\r\nButtoncount=3\r\n");
  TForm1& form = MakeForm({Dir / "totalcmd.exe", "", Dir / "FreeCommander.exe"});
  form.TotalCommanderCheck->setChecked(true);
  form.UnrealCommanderCheck->setChecked(true);
  form.FreeCommanderCheck->setChecked(true);
  form.Button1->click();
  EXPECT_EQ(Dialog->Filters, (std::vector<std::string>{"totalcmd.exe|totalcmd.exe", "uncom.exe|uncom.exe",
                                                        "FreeCommander.exe|FreeCommander.exe"}));
  // Unreal Commander was cancelled: no box for it. Free Commander has no
  // configuration file.
  ASSERT_EQ(Boxes.Shown.size(), 2u);
  EXPECT_EQ(Boxes.Shown[0].Kind, TMessageKind::mkInformation);
  EXPECT_EQ(Boxes.Shown[0].Buttons, mbOK);
  EXPECT_EQ(Boxes.Shown[0].Text, "Config file of Total Commander has been updated");
  EXPECT_EQ(Boxes.Shown[1].Kind, TMessageKind::mkWarning);
  EXPECT_EQ(Boxes.Shown[1].Text, "Cannot update config file of Free Commander");
  EXPECT_EQ(test::ReadFile(Dir / "DEFAULT.BAR"),
            "[Buttonbar]\r\nButtoncount=4\r\nbutton4=" + form.ProgramPath + "\r\ncmd4=" + form.ProgramPath +
                "\r\nparam4=\"\"%P\"\"\r\nmenu4=Tolvane\r\n");
  EXPECT_EQ(Closed, 1);
}

TEST_F(Form1Test, InvalidCountShowsErrorAndKeepsWindowOpen) {
  test::WriteFile(Dir / "DEFAULT.BAR", "[Buttonbar]\r\nButtoncount=many\r\n");
  TForm1& form = MakeForm({Dir / "totalcmd.exe", Dir / "FreeCommander.exe"});
  form.TotalCommanderCheck->setChecked(true);
  form.FreeCommanderCheck->setChecked(true);
  form.Button1->click();
  EXPECT_EQ(Dialog->Filters.size(), 1u);  // Free Commander is not reached
  ASSERT_EQ(Boxes.Shown.size(), 1u);
  EXPECT_EQ(Boxes.Shown[0].Kind, TMessageKind::mkError);
  EXPECT_EQ(Boxes.Shown[0].Text, "'many' is not a valid integer value");
  EXPECT_EQ(Boxes.Shown[0].Caption, "Tolvane Installer");
  EXPECT_EQ(Closed, 0);
  EXPECT_TRUE(form.isVisible());
}

// The program as it runs for real: its own event loop and Qt's message
// boxes. The error box closes, and the window must still be there.
TEST(SetupProgram, KeepsItsWindowOpenAfterAMessageBox) {
  test::TTempDir dir;
  test::WriteFile(dir / "DEFAULT.BAR", "[Buttonbar]\r\nButtoncount=abc\r\n");
  QApplication::setQuitOnLastWindowClosed(true);  // Qt's default, as in a fresh program
  QString shown;
  bool openAfterBox = false;
  QTimer::singleShot(0, [&] {
    QPointer<TForm1> form;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* f = dynamic_cast<TForm1*>(w)) form = f;
    ASSERT_TRUE(form);
    form->TotalCommanderCheck->setChecked(true);
    test::WhenModal<QMessageBox>([&](QMessageBox* box) {
      shown = box->text();
      box->button(QMessageBox::Ok)->click();
    });
    form->Button1->click();
    // Once the events of the closed box have passed, the window is still
    // open and the program still runs; Cancel then ends it.
    QTimer::singleShot(50, [&, form] {
      if (!form) return;
      openAfterBox = form->isVisible();
      form->Button2->click();
    });
  });
  TQtMessageBoxes boxes;
  EXPECT_EQ(setup::RunSetup(boxes, std::make_unique<TFakeOpenDialog>(std::deque<std::string>{dir / "totalcmd.exe"})), 0);
  EXPECT_EQ(shown, QStringLiteral("'abc' is not a valid integer value"));
  EXPECT_TRUE(openAfterBox);
}

}  // namespace
}  // namespace tolvane
