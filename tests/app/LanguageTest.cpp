// The windows of ravelk in English, Polish and German: the shipped
// catalogues against the texts the windows show, and switching the
// language in every state of a search.
#include <gtest/gtest.h>

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>

#include <memory>
#include <regex>
#include <set>

#include "support/TempDir.h"
#include "WindowFakes.h"
#include "app/About.h"
#include "app/ConstTxt.h"
#include "app/GnuGetText.h"
#include "app/GraphicUnits.h"
#include "app/ImageControl.h"
#include "app/SelDirectory.h"
#include "app/MainWindow.h"
#include "picture/Graphics.h"

namespace tolvane {
namespace {

const char* const Languages[] = {"en", "pl", "de", "en"};

QString Tr(const char* english) { return QString::fromStdString(TranslateText(english)); }

std::string Text(const QLabel* label) { return label->text().toStdString(); }

// A white 32 x 16 BMP with the rectangle dark painted black.
void WriteBmp(const std::string& path, const TRect& dark) {
  TBitmap b;
  b.SetPixelLayout(pl24Bit);
  b.ResizeWidth(32);
  b.ResizeHeight(16);
  b.FillRect(dark, clBlack);
  b.SaveFile(path);
}

class LanguageTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    InitializeGraphicUnits();
    QApplication::setQuitOnLastWindowClosed(false);
  }
  void SetUp() override {
    SetCatalogueLocation({"", 0, CATALOGUE_DIR "/"});
    SelectLanguage("en");
  }
  void TearDown() override {
    Form.reset();
    SetCatalogueLocation(TCatalogueLocation::OwnProgram());
    SelectLanguage("en");
  }

  TForm1& MakeForm(std::vector<std::string> arguments = {}) {
    Form = std::make_unique<TForm1>(
        TForm1Services{Boxes, Trash, Shell, Pump, Counter, std::make_unique<test::TFakeSaveDialog>()},
        std::move(arguments));
    auto* dialog = new TSelDirectoryDlg(Form.get());
    auto* about = new TAboutBox(Form.get());
    Form->SelDirectoryDlg = dialog;
    Form->AboutBox = about;
    dialog->ChooseLanguage = about->ChooseLanguage = [this] { Form->SelectTickedLanguage(); };
    return *Form;
  }

  void Choose(const std::string& language) {
    QAction* entry = language == "pl" ? Form->Polski1 : language == "de" ? Form->Deutsch1 : Form->English1;
    entry->trigger();
  }

  // The texts of the window that never change with its state, in the
  // current language.
  void ExpectFrameIn(const std::string& language) {
    SCOPED_TRACE(language);
    EXPECT_EQ(CurrentLanguage(), language);
    TForm1& f = *Form;
    EXPECT_EQ(f.windowTitle(), "Tolvane v 1.4");
    EXPECT_EQ(f.Panel1->text(), Tr("List of duplicates"));
    EXPECT_EQ(f.Panel2->text(), Tr("Preview of duplicates"));
    EXPECT_EQ(f.GroupBox2->title(), Tr("File informations"));
    EXPECT_EQ(f.Label12->text(), Tr("Dimensions:"));
    EXPECT_EQ(f.Button2->text(), Tr("Save List"));
    EXPECT_EQ(f.Button4->text(), Tr("Delete this file [F7]"));
    EXPECT_EQ(f.Image1->toolTip(), Tr("Click to see image in full resolution"));
    EXPECT_EQ(f.Panel4->text(), Tr("Comparing in process..."));
    EXPECT_EQ(f.Label23->text(), Tr("Step 2 (compare)"));
    EXPECT_EQ(f.Opendirectory1->text(), Tr("Start"));
    EXPECT_EQ(f.Options1->title(), Tr("Options"));
    EXPECT_EQ(f.Slowest1->text(), Tr("Slowest"));
    EXPECT_EQ(f.Help1->title(), Tr("Help"));
    EXPECT_EQ(f.Check1->text(), Tr("Check for updates"));
    EXPECT_EQ(f.Polski1->text(), "Polski");
    EXPECT_EQ(f.Polski1->isChecked(), language == "pl");
    EXPECT_EQ(f.Deutsch1->isChecked(), language == "de");
    EXPECT_EQ(f.English1->isChecked(), language == "en");
    if (language != "en") {
      EXPECT_NE(f.Button2->text(), "Save List");
    }
  }

  test::TFakeMessageBoxes Boxes;
  test::TRecordingTrash Trash;
  test::TRecordingShell Shell;
  test::TFakePump Pump;
  test::TFakeCounter Counter;
  std::unique_ptr<TForm1> Form;
};

// Every text that the three windows translate, and every message.
std::set<std::string> TranslatedTexts(TForm1& form) {
  std::set<std::string> texts;
  for (QObject* window : {static_cast<QObject*>(&form), static_cast<QObject*>(form.SelDirectoryDlg),
                          static_cast<QObject*>(form.AboutBox)}) {
    QList<QObject*> objects = window->findChildren<QObject*>();
    objects.append(window);
    for (QObject* object : objects)
      for (const QByteArray& name : object->dynamicPropertyNames())
        if (name.startsWith("tolvane.en.")) texts.insert(object->property(name).toString().toStdString());
  }
  for (const char* message : {ConstTxt::SConfirmScan, ConstTxt::SNoImageFiles, ConstTxt::SFileName, ConstTxt::STotalTime,
                              ConstTxt::SNoClock, ConstTxt::SNoDuplicates, ConstTxt::SConfirmDelete,
                              ConstTxt::SCannotDelete, ConstTxt::SNoHelpFile, ConstTxt::SNoSetup, ConstTxt::SListFilter})
    texts.insert(message);
  for (TMessageKind kind : {TMessageKind::mkInformation, TMessageKind::mkWarning, TMessageKind::mkError,
                            TMessageKind::mkQuestion})
    texts.insert(std::string(MessageKindCaption(kind)));
  return texts;
}

TEST_F(LanguageTest, BothCataloguesTranslateEveryTextOfTheWindowsAndNothingElse) {
  TForm1& form = MakeForm();
  std::set<std::string> texts = TranslatedTexts(form);
  // Names, numbers and the program's name stay as they are.
  for (const char* same : {"Tolvane", "Tolvane v 1.4", "Polski", "English", "Deutsch", "0"}) texts.erase(same);
  for (const char* language : {"de", "pl"}) {
    TMoFile mo(test::ReadFile(std::string(CATALOGUE_DIR) + "/locale/" + language + "/LC_MESSAGES/default.mo"));
    for (const std::string& text : texts) EXPECT_NE(mo.Lookup(text), nullptr) << language << " lacks: " << text;
    for (const auto& [id, translation] : mo.Entries())
      EXPECT_TRUE(texts.count(id)) << language << " has an entry that nothing shows: " << id;
  }
}

TEST_F(LanguageTest, SwitchingFollowsEveryStateOfASearch) {
  test::TTempDir pictures;
  WriteBmp(pictures.Path + "/a.bmp", Rect(0, 0, 16, 8));
  WriteBmp(pictures.Path + "/b.bmp", Rect(0, 0, 16, 8));
  WriteBmp(pictures.Path + "/c.bmp", Rect(16, 0, 32, 16));
  TForm1& form = MakeForm({pictures.Path + "/", "5"});
  // Before any search.
  for (const char* language : Languages) {
    Choose(language);
    ExpectFrameIn(language);
    EXPECT_EQ(form.FilePanel1->text(), Tr("filename"));
    EXPECT_EQ(form.StatusPanel1->text(), Tr("Total time:"));
  }

  // While the search runs, each turn of the event loop switches to the
  // next language: the progress panel follows, its numbers stay.
  int turn = 0;
  std::vector<std::string> progress;
  Pump.OnProcess = [&] {
    const std::string language = Languages[turn++ % 3];
    Choose(language);
    ExpectFrameIn(language);
    EXPECT_EQ(form.FilePanel2->text(), Tr("filename"));
    EXPECT_EQ(form.Label21->text(), Tr("Please be patient- finding duplicates can take even a few hours."));
    progress.push_back(Text(form.Step1Label) + "/" + Text(form.Step2Label));
  };
  form.Handle([&] { form.FormActivate(); });
  Pump.OnProcess = nullptr;
  ASSERT_GE(turn, 4);
  for (const std::string& p : progress) EXPECT_TRUE(std::regex_match(p, std::regex("[0-9]+%?/[0-9]+%?"))) << p;
  // The confirmation came before the first switch.
  ASSERT_EQ(Boxes.Shown.size(), 1u);
  EXPECT_EQ(Boxes.Shown[0].Text, Format(ConstTxt::SConfirmScan, {pictures.Path + "/"}));

  // With previews: file names and their details stay; the status keeps the
  // time as the search wrote it.
  ASSERT_EQ(form.Grid.RowStrings(1)[0], "a.bmp");
  const std::vector<std::string> shown = {Text(form.FilePanel1), Text(form.Label6), Text(form.FilePanel2),
                                          Text(form.StatusPanel1)};
  EXPECT_EQ(shown[0], "a.bmp");
  for (const char* language : Languages) {
    Choose(language);
    ExpectFrameIn(language);
    EXPECT_EQ((std::vector<std::string>{Text(form.FilePanel1), Text(form.Label6), Text(form.FilePanel2),
                                        Text(form.StatusPanel1)}),
              shown);
  }

  // Messages come in the language of the moment they are shown; a side
  // without a duplicate follows every switch and deletes nothing.
  Choose("pl");
  Boxes.Shown.clear();
  form.Button4->click();
  ASSERT_EQ(Boxes.Shown.size(), 1u);
  EXPECT_EQ(Boxes.Shown[0].Text, "Czy na pewno przenieść „b.bmp” do kosza?");
  EXPECT_EQ(Boxes.Shown[0].Caption, "Ostrzeżenie");
  EXPECT_EQ(Text(form.FilePanel2), "Brak duplikatów");
  for (const char* language : Languages) {
    Choose(language);
    EXPECT_EQ(form.FilePanel2->text(), Tr("No duplicates"));
    form.Button4->click();
  }
  EXPECT_EQ(Trash.Moved.size(), 1u);
  EXPECT_EQ(Text(form.FilePanel1), "a.bmp");

  // A search that finds too little warns in the current language.
  Choose("de");
  test::TTempDir lonely;
  WriteBmp(lonely.Path + "/only.bmp", Rect(0, 0, 4, 4));
  form.ScanDir = lonely.Path + "/";
  Boxes.Shown.clear();
  form.Handle([&] { form.BeginFindingDups(false); });
  ASSERT_EQ(Boxes.Shown.size(), 2u);
  EXPECT_EQ(Boxes.Shown[1].Text, "Im angegebenen Ordner wurden keine Bilddateien gefunden!");
  EXPECT_EQ(Boxes.Shown[1].Caption, "Warnung");
  EXPECT_EQ(form.FilePanel1->text(), "Dateiname");
}

TEST_F(LanguageTest, TheStartingLanguageTicksOnlyPolishAndTheSecondaryWindowsFollowTheTick) {
  SelectLanguage("pl_PL");
  TForm1& form = MakeForm();
  EXPECT_TRUE(form.Polski1->isChecked());
  EXPECT_FALSE(form.English1->isChecked());
  EXPECT_EQ(form.Button2->text(), "Zapisz listę");

  // Any other language ticks nothing, and the secondary windows keep it.
  for (const char* language : {"pl", "de_DE", "en"}) {
    SelectLanguage(language);
    MakeForm();
    EXPECT_FALSE(Form->Polski1->isChecked() || Form->English1->isChecked() || Form->Deutsch1->isChecked());
    QString title, notice;
    test::WhenModal<TAboutBox>([&](TAboutBox* box) {
      title = box->windowTitle();
      notice = box->Label1->text();
      box->OKButton->click();
    });
    Form->About2Click();
    EXPECT_EQ(CurrentLanguage(), language);
    EXPECT_EQ(title, Tr("About"));
    const QByteArray english = Form->AboutBox->Label1->property("tolvane.en.text").toString().toUtf8();
    EXPECT_EQ(notice, Tr(english.constData()));
  }
  EXPECT_EQ(Form->AboutBox->windowTitle(), "About");

  // With an entry ticked, showing the box selects that entry's language.
  Choose("de");
  SelectLanguage("pl");
  test::WhenModal<TAboutBox>([&](TAboutBox* box) { box->OKButton->click(); });
  Form->About2Click();
  EXPECT_EQ(CurrentLanguage(), "de");
  EXPECT_EQ(Form->AboutBox->windowTitle(), "Über Tolvane");
  EXPECT_TRUE(Form->AboutBox->Memo1->toPlainText().startsWith("Dank an alle"));
}

}  // namespace
}  // namespace tolvane
