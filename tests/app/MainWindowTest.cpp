#include "app/MainWindow.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTest>
#include <QTextDocument>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "support/TempDir.h"
#include "WindowFakes.h"
#include "app/About.h"
#include "app/GnuGetText.h"
#include "app/GraphicUnits.h"
#include "app/GridView.h"
#include "app/ImageControl.h"
#include "app/SelDirectory.h"
#include "picture/Jpeg.h"

namespace tolvane {
namespace {

using Row = std::vector<std::string>;

// The header of a JPEG whose quantisation table is never defined: it loads,
// and fails when it is drawn.
const std::string BrokenJpeg("\xFF\xD8\xFF\xC0\x00\x0B\x08\x00\x08\x00\x08\x01\x01\x11\x00"
                             "\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00\x12\x34\xFF\xD9",
                             29);

// Pictures of three designs, made once: a top-to-bottom gradient as BMP,
// JPEG and a coarse JPEG; a left-to-right gradient as BMP and a half-size
// JPEG; a circle; and two files that do not make pictures. At threshold 10
// they form the groups Expected; the two that are no pictures stand in none.
class PictureDir {
public:
  PictureDir() {
    const std::string d = Dir.Path + "/";
    Ok = test::Convert({"-size", "320x240", "gradient:black-white", d + "A.jpg"}) &&
         test::Convert({d + "A.jpg", "-type", "TrueColor", d + "A.bmp"}) && test::Convert({d + "A.jpg", "-quality", "30", d + "A_q30.jpg"}) &&
         test::Convert({"-size", "240x320", "gradient:black-white", "-rotate", "90", "-type", "TrueColor", d + "B.bmp"}) &&
         test::Convert({d + "B.bmp", "-resize", "50%", d + "B_half.jpg"}) &&
         test::Convert({"-size", "320x240", "xc:white", "-fill", "black", "-draw", "circle 160,120 160,40", d + "C.jpg"});
    test::WriteFile(d + "damaged.jpg", BrokenJpeg);
    test::WriteFile(d + "zz_broken.bmp", "BM not a bitmap");
  }
  test::TTempDir Dir;
  bool Ok;
};

const std::vector<Row> Expected = {{"A.bmp", "A.jpg", "A_q30.jpg"}, {"B.bmp", "B_half.jpg", ""}};

class MainWindow : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    InitializeGraphicUnits();
    QApplication::setQuitOnLastWindowClosed(false);
    Pictures = new PictureDir;
  }
  static void TearDownTestSuite() {
    delete Pictures;
    Pictures = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(Pictures->Ok) << "ImageMagick's convert failed"; }

  TForm1& MakeForm(std::vector<std::string> arguments = {}) {
    Dialog.reset();  // owned by the previous window too
    auto save = std::make_unique<test::TFakeSaveDialog>();
    Save = save.get();
    Form = std::make_unique<TForm1>(TForm1Services{Boxes, Trash, Shell, Pump, Counter, std::move(save)},
                                    std::move(arguments));
    Dialog = std::make_unique<TSelDirectoryDlg>(Form.get());
    Form->SelDirectoryDlg = Dialog.get();
    Dialog->ChooseLanguage = [this] { Form->SelectTickedLanguage(); };
    Form->ProgramDir = ProgramDir.Path + "/";
    return *Form;
  }

  // The window after a search of the pictures at threshold 10, with the
  // confirmation answered OK.
  TForm1& Searched() {
    TForm1& form = MakeForm({Dir(), "10"});
    form.Handle([&] { form.FormActivate(); });
    Boxes.Shown.clear();
    return form;
  }

  static std::string Dir() { return Pictures->Dir.Path; }
  std::vector<Row> Rows() const {
    std::vector<Row> rows;
    for (int32_t r = 1; r < Form->Grid.RowCount(); ++r) rows.push_back(Form->Grid.RowStrings(r));
    return rows;
  }
  static std::string Text(const QLabel* label) { return label->text().toStdString(); }
  std::vector<std::string> Left() const {
    return {Text(Form->FilePanel1), Text(Form->Label6), Text(Form->Label7), Text(Form->Label8), Text(Form->Label9)};
  }
  std::vector<std::string> Right() const {
    return {Text(Form->FilePanel2), Text(Form->Label16), Text(Form->Label17), Text(Form->Label18), Text(Form->Label19)};
  }
  void Click(QPushButton* button) { button->click(); }
  void Trigger(QAction* action) { action->trigger(); }
  TJPEGImage* Jpeg(TImage* image) {
    TGraphic* g = image->Picture().CurrentGraphic();
    return g && g->Is<TJPEGImage>() ? static_cast<TJPEGImage*>(g) : nullptr;
  }

  static PictureDir* Pictures;
  test::TTempDir ProgramDir;
  test::TFakeMessageBoxes Boxes;
  test::TRecordingTrash Trash;
  test::TRecordingShell Shell;
  test::TFakePump Pump;
  test::TFakeCounter Counter;
  test::TFakeSaveDialog* Save = nullptr;
  std::unique_ptr<TForm1> Form;
  std::unique_ptr<TSelDirectoryDlg> Dialog;
};

PictureDir* MainWindow::Pictures = nullptr;

TEST_F(MainWindow, StartsWithItsControlsAndWithoutACommandLineStartsNothing) {
  TForm1& form = MakeForm();
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Tolvane v 1.4"));
  EXPECT_EQ(form.centralWidget()->size(), QSize(715, 444));
  EXPECT_EQ(form.Panel1->text(), QStringLiteral("List of duplicates"));
  EXPECT_EQ(form.Button8->text(), QStringLiteral("Prev set /\\"));
  EXPECT_EQ(form.Button7->text(), QStringLiteral("Next set \\/"));
  EXPECT_EQ(form.Button3->text(), QStringLiteral("Delete this file [F5]"));
  EXPECT_EQ(form.GroupBox2->title(), QStringLiteral("File informations"));
  EXPECT_EQ(form.Label15->text(), QStringLiteral("Last modified:"));
  EXPECT_EQ(form.Image1->toolTip(), QStringLiteral("Click to see image in full resolution"));
  EXPECT_EQ(form.Image1->size(), QSize(191, 233));
  EXPECT_EQ(Left(), (Row{"filename", "0", "0", "0", "0"}));
  EXPECT_EQ(form.StatusPanel1->text(), QStringLiteral("Total time:"));
  EXPECT_FALSE(form.Button3->isEnabled());
  EXPECT_FALSE(form.Button4->isEnabled());
  EXPECT_TRUE(form.Panel3->isHidden());
  EXPECT_EQ(form.Grid.ColCount(), 5);
  EXPECT_EQ(form.Grid.RowCount(), 2);
  EXPECT_EQ(form.Grid.FixedRows(), 1);
  QStringList menus;
  for (QAction* a : form.MainMenu1->actions()) menus << a->text();
  EXPECT_EQ(menus, (QStringList{"Start", "Options", "Language", "Help"}));
  QStringList quality;
  for (QAction* a : form.Imagepreview1->actions()) quality << a->text() + (a->isChecked() ? "*" : "");
  EXPECT_EQ(quality, (QStringList{"Slowest", "Slow", "Average*", "Fast", "Fastest"}));
  QStringList help;
  for (QAction* a : form.Help1->actions()) help << (a->isSeparator() ? QStringLiteral("-") : a->text());
  EXPECT_EQ(help, (QStringList{"About", "Help", "-", "Check for updates"}));

  form.Handle([&] { form.FormActivate(); });
  EXPECT_TRUE(Boxes.Shown.empty());
  EXPECT_EQ(form.SimilarityThreshold, 1);
  EXPECT_EQ(form.ScanDir, "");
}

TEST_F(MainWindow, CommandLineSearchFillsTheGridAndPreviewsTheFirstPair) {
  TForm1& form = MakeForm({Dir(), "10"});
  form.Handle([&] { form.FormActivate(); });
  ASSERT_EQ(Boxes.Shown.size(), 1u);
  EXPECT_EQ(Boxes.Shown[0].Kind, TMessageKind::mkInformation);
  EXPECT_EQ(Boxes.Shown[0].Buttons, mbOK | mbCancel);
  EXPECT_NE(Boxes.Shown[0].Text.find("\r\n\r\n" + Dir() + "/\r\n\r\n"), std::string::npos);
  EXPECT_EQ(form.ScanDir, Dir() + "/");
  EXPECT_EQ(form.SimilarityThreshold, 10);
  // The damaged pictures did not end the search; they are in no row.
  EXPECT_EQ(Rows(), Expected);
  EXPECT_EQ(form.Grid.ColCount(), 3);
  EXPECT_GT(Pump.Calls, 0);
  EXPECT_EQ(form.Busy, 0);
  EXPECT_TRUE(form.Panel3->isHidden());
  EXPECT_EQ(form.ProgressBar1->value(), 88);  // Round(7 / 8 x 100), the last file's step
  EXPECT_EQ(form.Step1Label->text(), QStringLiteral("88%"));
  EXPECT_TRUE(form.Button3->isEnabled());
  EXPECT_TRUE(form.Button4->isEnabled());
  EXPECT_TRUE(form.Opendirectory1->isEnabled());
  EXPECT_EQ(form.StatusPanel1->text(), QStringLiteral("Total time:     1.50 sec"));

  EXPECT_EQ(form.Grid.SelectionRect(), (CellRange{0, 1, 1, 1}));
  char size[32];
  std::snprintf(size, sizeof size, "%.2f kB", static_cast<double>(std::filesystem::file_size(Dir() + "/A.bmp")) / 1024.0);
  EXPECT_EQ(Left(), (Row{"A.bmp", size, "320x240px (0.08 Mp)", "24 bpp", "Windows BMP"}));
  EXPECT_EQ(Right()[0], "A.jpg");
  EXPECT_EQ(Right()[2], "320x240px (0.08 Mp)");  // the file's size, whatever the preview's decoding
  EXPECT_EQ(Right()[4], "JPEG");
  EXPECT_FALSE(form.Image1->ShownImage().isNull());
  EXPECT_FALSE(form.Image2->ShownImage().isNull());
}

TEST_F(MainWindow, SecondArgumentCountsByItsLowByteAndABadOneIsReported) {
  for (auto [given, threshold] : {std::pair{"300", 44}, {"256", 0}, {"-1", 255}, {"", 1}}) {
    TForm1& form = MakeForm({Dir(), given});
    Boxes.Answers = {mbCancel};
    form.Handle([&] { form.FormActivate(); });
    EXPECT_EQ(form.SimilarityThreshold, threshold) << given;
  }
  Boxes.Shown.clear();
  TForm1& form = MakeForm({Dir(), "12x"});
  form.Handle([&] { form.FormActivate(); });
  ASSERT_EQ(Boxes.Shown.size(), 1u);
  EXPECT_EQ(Boxes.Shown[0].Kind, TMessageKind::mkError);
  EXPECT_EQ(Boxes.Shown[0].Text, "'12x' is not a valid integer value");
  EXPECT_EQ(Boxes.Shown[0].Caption, "Tolvane");
  EXPECT_EQ(form.SimilarityThreshold, 0);
  EXPECT_EQ(form.ScanDir, "");

  // A single argument: a flat search at threshold 1, a separator added; a
  // path as a Windows file manager under Wine passes it is taken through
  // Wine's drive Z:.
  std::string windowsPath = "Z:" + Dir();
  std::replace(windowsPath.begin(), windowsPath.end(), '/', '\\');
  for (const std::string& given : {Dir(), windowsPath}) {
    TForm1& flat = MakeForm({given});
    Boxes.Answers = {mbCancel};
    flat.Handle([&] { flat.FormActivate(); });
    EXPECT_EQ(flat.SimilarityThreshold, 1);
    EXPECT_EQ(flat.ScanDir, Dir() + "/") << given;
  }
}

TEST_F(MainWindow, CancelAtTheConfirmationLeavesTheWindowUntouched) {
  TForm1& form = Searched();
  Click(form.Button7);
  const auto rows = Rows();
  const auto left = Left(), right = Right();
  const CellRange selection = form.Grid.SelectionRect();
  Boxes.Answers = {mbCancel};
  form.Handle([&] { form.BeginFindingDups(true); });
  EXPECT_EQ(Boxes.Shown.size(), 1u);
  EXPECT_EQ(Rows(), rows);
  EXPECT_EQ(Left(), left);
  EXPECT_EQ(Right(), right);
  EXPECT_EQ(form.Grid.SelectionRect(), selection);
  EXPECT_EQ(form.StatusPanel1->text(), QStringLiteral("Total time:     1.50 sec"));
  EXPECT_TRUE(form.Panel3->isHidden());
  EXPECT_TRUE(form.Button3->isEnabled());
  EXPECT_TRUE(form.Opendirectory1->isEnabled());
}

TEST_F(MainWindow, DeletesTheLeftAndRightFilesToTheTrashAndMarksALoneFile) {
  TForm1& form = Searched();
  Click(form.Button3);
  ASSERT_EQ(Boxes.Shown.size(), 1u);
  EXPECT_EQ(Boxes.Shown[0].Kind, TMessageKind::mkWarning);
  EXPECT_EQ(Boxes.Shown[0].Buttons, mbYes | mbNo);
  EXPECT_EQ(Boxes.Shown[0].Text, "Are you sure to move the \"A.bmp\" into Recycled Bin?");
  EXPECT_EQ(Trash.Moved, (Row{Dir() + "/A.bmp"}));
  EXPECT_EQ(Rows()[0], (Row{"A.jpg", "A_q30.jpg", " "}));
  EXPECT_EQ(Left()[0], "A.jpg");
  EXPECT_EQ(Right()[0], "A_q30.jpg");

  Click(form.Button4);
  EXPECT_EQ(Trash.Moved.back(), Dir() + "/A_q30.jpg");
  EXPECT_EQ(Rows()[0], (Row{"A.jpg", "*", " "}));
  EXPECT_EQ(Left()[0], "A.jpg");
  EXPECT_EQ(Right(), (Row{"No duplicates", "", "", "", ""}));
  EXPECT_TRUE(form.Image2->ShownImage().isNull());

  // Nothing is left to delete on the right.
  Boxes.Shown.clear();
  Click(form.Button4);
  form.Handle([&] { form.FormKeyDown(Qt::Key_F7); });
  EXPECT_TRUE(Boxes.Shown.empty());

  Click(form.Button3);
  EXPECT_EQ(Trash.Moved.back(), Dir() + "/A.jpg");
  EXPECT_EQ(Rows()[0], (Row{"*", "*", " "}));
  EXPECT_EQ(Left()[0], "No duplicates");
  EXPECT_EQ(Rows()[1], Expected[1]);
}

TEST_F(MainWindow, DeletesIntoTheDesktopsTrashFromWhereTheFileCanBeRestored) {
  test::TTempDir data, pictures;
  std::filesystem::copy_file(Dir() + "/B.bmp", pictures.Path + "/B.bmp");
  std::filesystem::copy_file(Dir() + "/B_half.jpg", pictures.Path + "/B_half.jpg");
  const char* saved = std::getenv("XDG_DATA_HOME");
  const std::string savedValue = saved ? saved : "";
  ::setenv("XDG_DATA_HOME", data.Path.c_str(), 1);
  TFreedesktopTrash trash;
  auto save = std::make_unique<test::TFakeSaveDialog>();
  TForm1 form(TForm1Services{Boxes, trash, Shell, Pump, Counter, std::move(save)}, {pictures.Path, "10"});
  form.Handle([&] { form.FormActivate(); });
  Click(form.Button4);
  if (saved) ::setenv("XDG_DATA_HOME", savedValue.c_str(), 1);
  else ::unsetenv("XDG_DATA_HOME");

  EXPECT_FALSE(std::filesystem::exists(pictures.Path + "/B_half.jpg"));
  EXPECT_TRUE(std::filesystem::exists(data.Path + "/Trash/files/B_half.jpg"));
  const std::string info = test::ReadFile(data.Path + "/Trash/info/B_half.jpg.trashinfo");
  EXPECT_NE(info.find("Path=" + TrashEncodePath(pictures.Path + "/B_half.jpg") + "\n"), std::string::npos) << info;
  EXPECT_EQ(form.Grid.RowStrings(1), (Row{"B.bmp", "*"}));
}

TEST_F(MainWindow, ADeletionRefusedOrFailedChangesNothing) {
  TForm1& form = Searched();
  Boxes.Answers = {mbNo};
  Click(form.Button3);
  EXPECT_TRUE(Trash.Moved.empty());
  EXPECT_EQ(Rows(), Expected);

  Trash.Succeeds = false;
  Click(form.Button4);
  ASSERT_EQ(Boxes.Shown.size(), 3u);
  EXPECT_EQ(Boxes.Shown[2].Kind, TMessageKind::mkError);
  EXPECT_EQ(Boxes.Shown[2].Text, "Could not delete file \"A.jpg\"!");
  EXPECT_EQ(Rows(), Expected);
  EXPECT_EQ(Right()[0], "A.jpg");
}

TEST_F(MainWindow, F5AndF7DeleteOnlyOnceTheDeleteButtonsAreEnabled) {
  TForm1& form = MakeForm();
  form.ScanDir = Dir() + "/";
  form.Handle([&] { form.FormKeyDown(Qt::Key_F5); });
  form.Handle([&] { form.FormKeyDown(Qt::Key_F7); });
  EXPECT_TRUE(Boxes.Shown.empty());

  TForm1& searched = Searched();
  searched.show();
  searched.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&searched));
  QTest::keyClick(searched.StringGrid1, Qt::Key_F7);
  ASSERT_EQ(Boxes.Shown.size(), 1u);
  EXPECT_EQ(Boxes.Shown[0].Text, "Are you sure to move the \"A.jpg\" into Recycled Bin?");
  QTest::keyClick(searched.StringGrid1, Qt::Key_F5);
  EXPECT_EQ(Trash.Moved, (Row{Dir() + "/A.jpg", Dir() + "/A.bmp"}));
  EXPECT_EQ(Rows()[0], (Row{"A_q30.jpg", "*", " "}));
}

TEST_F(MainWindow, SavesTheDuplicatesListThroughTheDialog) {
  TForm1& form = MakeForm();
  const std::string list = ProgramDir.Path + "/list.kvl";
  Save->Answers = {list, ""};
  Click(form.Button2);
  EXPECT_EQ(test::ReadFile(list), "KVL- Tolvane Duplicates List\r\nDirectory=\r\n,,,,\r\n");
  EXPECT_EQ(Save->Seen[0], (std::pair<std::string, std::string>{"Duplicates list (.KVL)|*.kvl", "kvl"}));

  TForm1& searched = Searched();
  Click(searched.Button3);
  Save->Answers = {list};
  Click(searched.Button2);
  EXPECT_EQ(test::ReadFile(list), "KVL- Tolvane Duplicates List\r\nDirectory=" + Dir() +
                                      "/\r\nA.jpg,A_q30.jpg,\" \"\r\nB.bmp,B_half.jpg,\r\n");

  // Cancelled: nothing written; unwritable: the error box.
  test::WriteFile(list, "kept");
  Click(searched.Button2);
  EXPECT_EQ(test::ReadFile(list), "kept");
  Save->Answers = {ProgramDir.Path + "/no/such/dir/list.kvl"};
  Boxes.Shown.clear();
  Click(searched.Button2);
  ASSERT_EQ(Boxes.Shown.size(), 1u);
  EXPECT_EQ(Boxes.Shown[0].Kind, TMessageKind::mkError);
}

TEST_F(MainWindow, PreviewQualityRedecodesTheShownJpegs) {
  TForm1& form = Searched();
  Click(form.Button6);  // A.jpg and A_q30.jpg
  ASSERT_NE(Jpeg(form.Image1), nullptr);
  ASSERT_NE(Jpeg(form.Image2), nullptr);
  EXPECT_EQ(Jpeg(form.Image1)->JpegDecodeScale(), ScaleQuarter);
  EXPECT_EQ(Jpeg(form.Image1)->ImageWidth(), 80);
  Trigger(form.Slowest1);
  for (TImage* image : {form.Image1, form.Image2}) {
    EXPECT_EQ(Jpeg(image)->JpegDecodeScale(), ScaleFull);
    EXPECT_EQ(Jpeg(image)->JpegDecodeSpeed(), SpeedBestQuality);
    EXPECT_EQ(Jpeg(image)->ImageWidth(), 320);
    EXPECT_FALSE(image->ShownImage().isNull());
  }
  EXPECT_EQ(Left()[2], "320x240px (0.08 Mp)");
  Trigger(form.Fastest1);
  EXPECT_EQ(Jpeg(form.Image2)->JpegDecodeScale(), ScaleEighth);
  EXPECT_EQ(Jpeg(form.Image2)->JpegDecodeSpeed(), SpeedBestSpeed);
  int ticked = 0;
  for (QAction* a : form.Imagepreview1->actions()) ticked += a->isChecked();
  EXPECT_EQ(ticked, 1);
  EXPECT_TRUE(form.Fastest1->isChecked());

  // With no entry ticked, a JPEG keeps its settings; a newly shown one is
  // decoded as the ticked entry says.
  form.Fastest1->setChecked(false);
  Click(form.Button5);
  EXPECT_EQ(Jpeg(form.Image2)->JpegDecodeScale(), ScaleFull);
  form.Slow1->trigger();
  Click(form.Button6);
  EXPECT_EQ(Jpeg(form.Image2)->JpegDecodeScale(), ScaleHalf);
}

TEST_F(MainWindow, NavigatesAcrossSetsAndDuplicates) {
  TForm1& form = Searched();
  auto pair = [&] { return std::pair{Left()[0], Right()[0]}; };
  Click(form.Button6);
  EXPECT_EQ(pair(), (std::pair<std::string, std::string>{"A.jpg", "A_q30.jpg"}));
  Click(form.Button6);
  EXPECT_EQ(pair(), (std::pair<std::string, std::string>{"A.jpg", "A_q30.jpg"}));
  Click(form.Button5);
  EXPECT_EQ(pair(), (std::pair<std::string, std::string>{"A.bmp", "A.jpg"}));
  Click(form.Button8);
  EXPECT_EQ(form.Grid.SelectionRect().Top, 1);
  Click(form.Button6);
  Click(form.Button7);  // column 1 of a row of two walks back to its pair
  EXPECT_EQ(pair(), (std::pair<std::string, std::string>{"B.bmp", "B_half.jpg"}));
  EXPECT_EQ(form.Grid.SelectionRect(), (CellRange{0, 2, 1, 2}));
  Click(form.Button7);  // the last set stays
  EXPECT_EQ(form.Grid.SelectionRect().Top, 2);

  // Clicking past a row's end, and the arrow keys.
  form.show();
  form.StringGrid1->Synchronize();
  form.StringGrid1->OnCellPressed(2, 1);
  EXPECT_EQ(form.Grid.SelectionRect(), (CellRange{1, 1, 2, 1}));
  EXPECT_EQ(pair(), (std::pair<std::string, std::string>{"A.jpg", "A_q30.jpg"}));
  QTest::keyClick(form.StringGrid1, Qt::Key_Left);
  EXPECT_EQ(pair(), (std::pair<std::string, std::string>{"A.bmp", "A.jpg"}));
  QTest::keyClick(form.StringGrid1, Qt::Key_Right);
  EXPECT_EQ(pair(), (std::pair<std::string, std::string>{"A.jpg", "A_q30.jpg"}));
  QTest::keyClick(form.StringGrid1, Qt::Key_Down);
  EXPECT_EQ(pair(), (std::pair<std::string, std::string>{"B.bmp", "B_half.jpg"}));
}

TEST_F(MainWindow, APreviewThatFailsIsReportedAndNamesItsOwnFile) {
  // Files that fail no longer stand in a row, but a pair's files may be
  // damaged after the search found them.
  test::TTempDir pictures;
  for (const char* name : {"A.bmp", "A.jpg"}) std::filesystem::copy_file(Dir() + "/" + name, pictures.Path + "/" + name);
  std::filesystem::copy_file(Dir() + "/B_half.jpg", pictures.Path + "/B0.jpg");
  std::filesystem::copy_file(Dir() + "/B.bmp", pictures.Path + "/B1.bmp");
  TForm1& form = MakeForm({pictures.Path, "10"});
  form.Handle([&] { form.FormActivate(); });
  Boxes.Shown.clear();
  test::WriteFile(pictures.Path + "/B0.jpg", BrokenJpeg);         // draws badly
  test::WriteFile(pictures.Path + "/B1.bmp", "BM not a bitmap");  // does not load
  Click(form.Button7);
  ASSERT_EQ(Boxes.Shown.size(), 1u);
  EXPECT_EQ(Boxes.Shown[0].Kind, TMessageKind::mkError);
  EXPECT_NE(Boxes.Shown[0].Text.find("JPEG error"), std::string::npos) << Boxes.Shown[0].Text;
  EXPECT_EQ(Left()[0], "B0.jpg");
  EXPECT_EQ(Right(), (Row{"B1.bmp", "", "", "", ""}));
  EXPECT_TRUE(form.Image1->ShownImage().isNull());
  EXPECT_TRUE(form.Image2->ShownImage().isNull());
  // Not tried again while they are shown; deleting names the right file.
  Click(form.Button6);
  EXPECT_EQ(Boxes.Shown.size(), 1u);
  Click(form.Button4);
  EXPECT_EQ(Trash.Moved, (Row{pictures.Path + "/B1.bmp"}));
  EXPECT_EQ(Rows()[1], (Row{"B0.jpg", "*"}));
}

TEST_F(MainWindow, FileNamesThatLookLikeMarkupShowAsTheyStand) {
  test::TTempDir pictures;
  const std::string left = "a <b>x &amp; <img src=A.bmp>.bmp", right = "b <i>y.bmp";
  std::filesystem::copy_file(Dir() + "/A.bmp", pictures.Path + "/" + left);
  std::filesystem::copy_file(Dir() + "/A.bmp", pictures.Path + "/" + right);
  TForm1& form = MakeForm({pictures.Path, "10"});
  form.Handle([&] { form.FormActivate(); });
  auto shown = [](const QString& tip) {
    QTextDocument document;
    document.setHtml(tip);
    return document.toPlainText().toStdString();
  };
  EXPECT_EQ(shown(form.FilePanel1->toolTip()), left);
  EXPECT_EQ(shown(form.FilePanel2->toolTip()), right);
  QAbstractItemModel* model = form.StringGrid1->model();
  EXPECT_EQ(shown(model->data(model->index(1, 0), Qt::ToolTipRole).toString()), left);
}

TEST_F(MainWindow, OpensPicturesHelpSetupAndTheDownloadPageThroughTheShell) {
  TForm1& form = Searched();
  form.Image2->OnClick();
  EXPECT_EQ(Shell.Opened, (Row{Dir() + "/A.jpg"}));

  Trigger(form.Manual1);
  EXPECT_EQ(Shell.Opened.back(), ProgramDir.Path + "/help.chm");
  ASSERT_EQ(Boxes.Shown.size(), 1u);
  EXPECT_EQ(Boxes.Shown[0].Kind, TMessageKind::mkWarning);
  EXPECT_EQ(Boxes.Shown[0].Text, "Could not find help.chm. File could be deleted, moved or renamed.");

  Trigger(form.Installinfilemanagers1);
  EXPECT_EQ(Shell.Ran, (Row{ProgramDir.Path + "/setup"}));
  ASSERT_EQ(Boxes.Shown.size(), 2u);
  EXPECT_EQ(Boxes.Shown[1].Text, "Could not find setup. File could be deleted, moved or renamed.");
  test::WriteFile(ProgramDir.Path + "/setup", "");
  Trigger(form.Installinfilemanagers1);
  EXPECT_EQ(Boxes.Shown.size(), 2u);

  Trigger(form.Check1);
  EXPECT_EQ(Shell.Opened.back(), "https://tolvane.example/?s=download");
  EXPECT_EQ(Boxes.Shown.size(), 2u);

  // "filename" and "No duplicates" are not files.
  TForm1& fresh = MakeForm();
  Shell.Opened.clear();
  fresh.Image1->OnClick();
  EXPECT_TRUE(Shell.Opened.empty());
}

TEST_F(MainWindow, StartSearchesWhatTheDirectoryDialogChose) {
  TForm1& form = MakeForm();
  form.SimilarityThreshold = 1;
  test::TTempDir tree;
  std::filesystem::create_directories(tree.Path + "/sub");
  std::filesystem::copy_file(Dir() + "/A.jpg", tree.Path + "/sub/A.jpg");
  std::filesystem::copy_file(Dir() + "/A.bmp", tree.Path + "/A.bmp");
  int shownThreshold = 0;
  test::WhenModal<TSelDirectoryDlg>([&](TSelDirectoryDlg* dialog) {
    shownThreshold = dialog->Treshold->value();
    dialog->NavigateTo(tree.Path);
    dialog->Treshold->setValue(10);
    dialog->CheckBox1->setChecked(true);
    dialog->OKBtn->click();
  });
  Trigger(form.Opendirectory1);
  EXPECT_EQ(shownThreshold, 1);
  EXPECT_EQ(form.ScanDir, tree.Path + "/");
  EXPECT_EQ(form.SimilarityThreshold, 10);
  EXPECT_EQ(Rows(), (std::vector<Row>{{"/A.bmp", "/sub/A.jpg"}}));
  EXPECT_EQ(Right()[0], "/sub/A.jpg");

  // Cancelled: nothing changes.
  Boxes.Shown.clear();
  test::WhenModal<TSelDirectoryDlg>([&](TSelDirectoryDlg* dialog) {
    shownThreshold = dialog->Treshold->value();
    dialog->NavigateTo("/");
    dialog->CancelBtn->click();
  });
  Trigger(form.Opendirectory1);
  EXPECT_EQ(shownThreshold, 10);
  EXPECT_EQ(form.ScanDir, tree.Path + "/");
  EXPECT_TRUE(Boxes.Shown.empty());

  // Another folder, cancelled at the confirmation: the grid's names still
  // belong to the folder searched, and a deletion takes the file from there.
  test::WhenModal<TSelDirectoryDlg>([&](TSelDirectoryDlg* dialog) {
    dialog->NavigateTo(Dir());
    dialog->Treshold->setValue(30);
    dialog->OKBtn->click();
  });
  Boxes.Answers = {mbCancel};
  Trigger(form.Opendirectory1);
  EXPECT_EQ(form.ScanDir, tree.Path + "/");
  EXPECT_EQ(form.SimilarityThreshold, 10);
  Click(form.Button3);
  EXPECT_EQ(Trash.Moved, (Row{tree.Path + "//A.bmp"}));
}

TEST_F(MainWindow, ASearchOfTooFewPicturesWarnsAndKeepsTheButtons) {
  TForm1& form = Searched();
  test::TTempDir lonely;
  std::filesystem::copy_file(Dir() + "/A.jpg", lonely.Path + "/A.jpg");
  form.ScanDir = lonely.Path + "/";
  form.Handle([&] { form.BeginFindingDups(false); });
  ASSERT_EQ(Boxes.Shown.size(), 2u);
  EXPECT_EQ(Boxes.Shown[1].Kind, TMessageKind::mkWarning);
  EXPECT_EQ(Boxes.Shown[1].Text, "No image files found in the specified directory!");
  EXPECT_EQ(form.Grid.ColCount(), 1);
  EXPECT_EQ(form.Grid.RowCount(), 2);
  EXPECT_TRUE(form.Panel3->isHidden());
  EXPECT_TRUE(form.Button3->isEnabled());
  EXPECT_EQ(Left(), (Row{"filename", "0", "0", "0", "0"}));
  // The panels name no file, so the enabled buttons delete nothing.
  Boxes.Shown.clear();
  Click(form.Button3);
  EXPECT_TRUE(Boxes.Shown.empty());
}

TEST_F(MainWindow, ASearchShowsItsProgressAndDisablesStartWhileItRuns) {
  TForm1& form = MakeForm({Dir(), "10"});
  Counter.Frequency_ = 0;
  bool sawPanel = false, startDisabled = false, deleteDisabled = false;
  Pump.OnProcess = [&] {
    sawPanel = sawPanel || !form.Panel3->isHidden();
    startDisabled = startDisabled || !form.Opendirectory1->isEnabled();
    deleteDisabled = deleteDisabled || !form.Button3->isEnabled();
    EXPECT_EQ(form.Busy, 1);
  };
  form.Handle([&] { form.FormActivate(); });
  EXPECT_TRUE(sawPanel);
  EXPECT_TRUE(startDisabled);
  EXPECT_TRUE(deleteDisabled);
  EXPECT_EQ(form.StatusPanel1->text(), QStringLiteral("System clock not found"));
  EXPECT_TRUE(form.Opendirectory1->isEnabled());
}

TEST_F(MainWindow, ClosingTheWindowDuringASearchEndsIt) {
  TForm1& form = MakeForm({Dir(), "10"});
  form.show();
  Pump.OnProcess = [&] {
    if (Pump.Calls == 2) {
      EXPECT_FALSE(form.close());
    }
  };
  form.Handle([&] { form.FormActivate(); });
  EXPECT_EQ(Pump.Calls, 2);
  EXPECT_EQ(form.Busy, 0);
  EXPECT_TRUE(form.Panel3->isHidden());
  EXPECT_TRUE(form.isVisible());
  QCoreApplication::processEvents();
  EXPECT_FALSE(form.isVisible());
}

TEST_F(MainWindow, ColumnsMoveWithTheirCells) {
  TForm1& form = Searched();
  form.StringGrid1->OnColumnMoved(0, 2);
  EXPECT_EQ(Rows(), (std::vector<Row>{{"A.jpg", "A_q30.jpg", "A.bmp"}, {"B_half.jpg", "", "B.bmp"}}));
  EXPECT_EQ(Left()[0], "A.jpg");

  // B.bmp now stands after a gap: its row shows no pair, the previews stay,
  // and deleting the file shown removes that file's own cell.
  form.StringGrid1->OnCellPressed(2, 2);
  EXPECT_EQ(Left()[0], "A.jpg");
  EXPECT_EQ(Right()[0], "A_q30.jpg");
  Click(form.Button3);
  EXPECT_EQ(Trash.Moved, (Row{Dir() + "/A.jpg"}));
  EXPECT_EQ(Rows(), (std::vector<Row>{{"A_q30.jpg", "A.bmp", " "}, {"B_half.jpg", "", "B.bmp"}}));
  EXPECT_EQ(Left(), (Row{"filename", "0", "0", "0", "0"}));
  // The right file's cell has moved on: it is not deleted from elsewhere.
  Boxes.Shown.clear();
  Click(form.Button4);
  EXPECT_TRUE(Boxes.Shown.empty());
  EXPECT_EQ(Trash.Moved.size(), 1u);
}

TEST_F(MainWindow, SwitchesLanguageAtRunTimeWindowsAndMessagesAlike) {
  SetCatalogueLocation({"", 0, CATALOGUE_DIR "/"});
  struct TEnglishAgain {
    ~TEnglishAgain() { SelectLanguage("en"); }
  } englishAgain;
  TForm1& form = Searched();
  Trigger(form.Deutsch1);
  EXPECT_TRUE(form.Deutsch1->isChecked());
  EXPECT_FALSE(form.English1->isChecked());
  EXPECT_EQ(form.Button2->text(), QStringLiteral("Liste speichern"));
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Tolvane v 1.4"));
  EXPECT_EQ(Left()[0], "A.bmp");  // file names are not translated
  Click(form.Button4);
  EXPECT_EQ(Boxes.Shown[0].Text, "Soll „A.jpg“ wirklich in den Papierkorb verschoben werden?");
  EXPECT_EQ(Boxes.Shown[0].Caption, "Warnung");
  Click(form.Button4);
  EXPECT_EQ(Right()[0], "Keine Duplikate");
  // Deleting still knows that side holds no file.
  Click(form.Button4);
  EXPECT_EQ(Trash.Moved.size(), 2u);

  // The secondary windows follow the ticked entry when they are shown.
  QString title;
  test::WhenModal<TSelDirectoryDlg>([&](TSelDirectoryDlg* d) {
    title = d->windowTitle();
    d->CancelBtn->click();
  });
  Trigger(form.Opendirectory1);
  EXPECT_EQ(title, QStringLiteral("Ordner durchsuchen"));

  Trigger(form.English1);
  EXPECT_EQ(form.Button2->text(), QStringLiteral("Save List"));
  EXPECT_EQ(Right()[0], "No duplicates");
  EXPECT_EQ(Left()[0], "A.bmp");
  EXPECT_EQ(form.StatusPanel1->text(), QStringLiteral("Total time:     1.50 sec"));
}

// Switching the language moves the values to after the new captions: every
// value must still fit the room left to it.
TEST_F(MainWindow, ValuesFitTheirLabelsAfterALanguageSwitch) {
  SetCatalogueLocation({"", 0, CATALOGUE_DIR "/"});
  struct TEnglishAgain {
    ~TEnglishAgain() { SelectLanguage("en"); }
  } englishAgain;
  // Pictures whose dimensions make a long value.
  test::TTempDir big;
  ASSERT_TRUE(test::Convert({"-size", "1600x1200", "gradient:black-white", big / "a.jpg"}) &&
              test::Convert({big / "a.jpg", "-quality", "40", big / "b.jpg"}));
  TForm1& form = MakeForm({big.Path, "10"});
  form.Handle([&] { form.FormActivate(); });
  ASSERT_EQ(Text(form.Label7), "1600x1200px (1.92 Mp)");
  auto overflowing = [&] {
    std::vector<std::string> wide;
    for (QLabel* label : {form.Label6, form.Label7, form.Label8, form.Label9, form.Label10, form.Label16,
                          form.Label17, form.Label18, form.Label19, form.Label20})
      if (label->fontMetrics().horizontalAdvance(label->text()) > label->width()) wide.push_back(Text(label));
    return wide;
  };
  EXPECT_EQ(overflowing(), std::vector<std::string>{});
  for (QAction* language : {form.Deutsch1, form.Polski1, form.English1}) {
    Trigger(language);
    EXPECT_EQ(overflowing(), std::vector<std::string>{}) << language->text().toStdString();
  }
}

}  // namespace
}  // namespace tolvane
