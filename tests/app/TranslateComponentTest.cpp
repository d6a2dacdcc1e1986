#include <gtest/gtest.h>

#include <QAction>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>

#include "GetTextTestUtil.h"
#include "app/GnuGetText.h"

using namespace tolvane;
using namespace tolvane::test;

namespace {

// A window with one control of every kind whose texts are translated.
struct TSampleWindow {
  TSampleWindow() {
    Window.setWindowTitle("Scan directories");
    auto* client = new QWidget(&Window);
    Window.setCentralWidget(client);
    Label = new QLabel("File size:", client);
    Value = new QLabel("0", client);
    Button = new QPushButton("Cancel", client);
    Button->setToolTip("Click to see image in full resolution");
    Box = new QGroupBox("Search options", client);
    Memo = new QPlainTextEdit(client);
    Memo->setPlainText("Search options\nlibjpeg\nCancel");
    Edit = new QLineEdit(client);
    Edit->setPlaceholderText("Directory");
    Edit->setText("Cancel");
    Menu = Window.menuBar()->addMenu("Options");
    Entry = Menu->addAction("Fastest");
    Top = Window.menuBar()->addAction("Start");
  }

  QMainWindow Window;
  QLabel* Label;
  QLabel* Value;
  QPushButton* Button;
  QGroupBox* Box;
  QPlainTextEdit* Memo;
  QLineEdit* Edit;
  QMenu* Menu;
  QAction* Entry;
  QAction* Top;
};

class TranslateComponentTest : public ::testing::Test {
protected:
  void SetUp() override {
    auto catalogue = [&](const char* language, std::vector<std::pair<std::string, std::string>> entries) {
      WriteBytes(Dir.Path + "/locale/" + language + "/LC_MESSAGES/default.mo", Msgfmt(PoText(entries)));
    };
    catalogue("de", {{"Scan directories", "Verzeichnisse durchsuchen"},
                     {"File size:", "Dateigröße:"},
                     {"Cancel", "Abbrechen"},
                     {"Click to see image in full resolution", "Klicken für volle Auflösung"},
                     {"Search options", "Suchoptionen"},
                     {"Directory", "Verzeichnis"},
                     {"Options", "Optionen"},
                     {"Fastest", "Sehr schnell"},
                     {"Start", "Start"},
                     {"filename", "Dateiname"},
                     {"Duplicates list (*.kvl)", "Duplikatliste (*.kvl)"}});
    catalogue("pl", {{"Scan directories", "Przeszukiwanie katalogów"},
                     {"File size:", "Rozmiar pliku:"},
                     {"Cancel", "Anuluj"},
                     {"Search options\nlibjpeg\nCancel", "Opcje\nlibjpeg\nAnuluj"},
                     {"Options", "Opcje"},
                     {"Fastest", "Najszybciej"},
                     {"Start", "Szukaj"},
                     {"filename", "nazwa pliku"}});
    TCatalogueLocation location;
    location.ProgramDir = Dir.Path + "/";
    SetCatalogueLocation(location);
  }
  void TearDown() override {
    SetCatalogueLocation(TCatalogueLocation::OwnProgram());
    SelectLanguage("en");
  }

  TScratchDir Dir;
};

TEST_F(TranslateComponentTest, EveryTextOfAWindowFollowsTheLanguage) {
  SelectLanguage("de_DE");
  TSampleWindow w;
  TranslateComponent(&w.Window);
  EXPECT_EQ(w.Window.windowTitle(), "Verzeichnisse durchsuchen");
  EXPECT_EQ(w.Label->text(), "Dateigröße:");
  EXPECT_EQ(w.Value->text(), "0");
  EXPECT_EQ(w.Button->text(), "Abbrechen");
  EXPECT_EQ(w.Button->toolTip(), "Klicken für volle Auflösung");
  EXPECT_EQ(w.Box->title(), "Suchoptionen");
  // A memo without an entry of its own is translated line by line.
  EXPECT_EQ(w.Memo->toPlainText(), "Suchoptionen\nlibjpeg\nAbbrechen");
  EXPECT_EQ(w.Edit->placeholderText(), "Verzeichnis");
  // What the user typed is never translated.
  EXPECT_EQ(w.Edit->text(), "Cancel");
  EXPECT_EQ(w.Menu->title(), "Optionen");
  EXPECT_EQ(w.Menu->menuAction()->text(), "Optionen");
  EXPECT_EQ(w.Entry->text(), "Sehr schnell");

  SelectLanguage("pl");
  RetranslateComponent(&w.Window);
  EXPECT_EQ(w.Window.windowTitle(), "Przeszukiwanie katalogów");
  EXPECT_EQ(w.Label->text(), "Rozmiar pliku:");
  // The whole memo has an entry here; a text the catalogue lacks is English.
  EXPECT_EQ(w.Memo->toPlainText(), "Opcje\nlibjpeg\nAnuluj");
  EXPECT_EQ(w.Box->title(), "Search options");
  EXPECT_EQ(w.Button->toolTip(), "Click to see image in full resolution");
  EXPECT_EQ(w.Top->text(), "Szukaj");
  EXPECT_EQ(w.Menu->title(), "Opcje");

  SelectLanguage("en");
  RetranslateComponent(&w.Window);
  EXPECT_EQ(w.Window.windowTitle(), "Scan directories");
  EXPECT_EQ(w.Label->text(), "File size:");
  EXPECT_EQ(w.Memo->toPlainText(), "Search options\nlibjpeg\nCancel");
  EXPECT_EQ(w.Menu->title(), "Options");
  EXPECT_EQ(w.Entry->text(), "Fastest");
  EXPECT_EQ(w.Top->text(), "Start");
}

TEST_F(TranslateComponentTest, TextsTheProgramSetKeepTheirValue) {
  SelectLanguage("de");
  TSampleWindow w;
  TranslateComponent(&w.Window);
  // A panel now shows a file name, a value label a size.
  w.Label->setText("Cancel");
  w.Value->setText("12 KB");
  SelectLanguage("pl");
  RetranslateComponent(&w.Window);
  EXPECT_EQ(w.Label->text(), "Cancel");
  EXPECT_EQ(w.Value->text(), "12 KB");
  // And keeps it from then on.
  SelectLanguage("en");
  RetranslateComponent(&w.Window);
  EXPECT_EQ(w.Label->text(), "Cancel");
  // A text set from its English original follows the language again.
  SetTranslatedProperty(w.Label, "text", "filename");
  EXPECT_EQ(w.Label->text(), "filename");
  SelectLanguage("pl");
  RetranslateComponent(&w.Window);
  EXPECT_EQ(w.Label->text(), "nazwa pliku");
  SelectLanguage("de");
  RetranslateComponent(&w.Window);
  EXPECT_EQ(w.Label->text(), "Dateiname");
}

TEST_F(TranslateComponentTest, TranslatingTwiceKeepsTheOriginalsAndDialogFiltersFollow) {
  SelectLanguage("de");
  TSampleWindow w;
  TranslateComponent(&w.Window);
  // Translating twice does not take the German text for an original.
  TranslateComponent(&w.Window);
  SelectLanguage("en");
  RetranslateComponent(&w.Window);
  EXPECT_EQ(w.Label->text(), "File size:");

  SelectLanguage("de");
  QFileDialog dialog(&w.Window);
  dialog.setNameFilters({"Duplicates list (*.kvl)", "All (*)"});
  TranslateComponent(&dialog);
  EXPECT_EQ(dialog.nameFilters(), (QStringList{"Duplikatliste (*.kvl)", "All (*)"}));
  SelectLanguage("en");
  RetranslateComponent(&dialog);
  EXPECT_EQ(dialog.nameFilters(), (QStringList{"Duplicates list (*.kvl)", "All (*)"}));
}

}  // namespace
