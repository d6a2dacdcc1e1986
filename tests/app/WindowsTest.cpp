// The directory dialog, the about box and the controls of the main window.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTest>

#include <filesystem>

#include "support/TempDir.h"
#include "WindowFakes.h"
#include "app/About.h"
#include "app/GridView.h"
#include "app/ImageControl.h"
#include "app/SelDirectory.h"

namespace tolvane {
namespace {

class SelDirectoryTest : public ::testing::Test {
protected:
  SelDirectoryTest() {
    std::filesystem::create_directories(Dir.Path + "/one");
    std::filesystem::create_directories(Dir.Path + "/two");
  }
  // Shows the dialog at (threshold, directory) and lets act work in it.
  int Show(int threshold, const std::string& directory, std::function<void(TSelDirectoryDlg*)> act) {
    test::WhenModal<TSelDirectoryDlg>(std::move(act));
    return Dialog.ShowModal(threshold, directory);
  }

  test::TTempDir Dir;
  TSelDirectoryDlg Dialog;
};

TEST_F(SelDirectoryTest, HasItsControlsAndOpensAtTheGivenDirectoryAndThreshold) {
  EXPECT_EQ(Dialog.windowTitle(), QStringLiteral("Scan directories"));
  EXPECT_EQ(Dialog.size(), QSize(425, 386));
  EXPECT_EQ(Dialog.OKBtn->text(), QStringLiteral("Start"));
  EXPECT_TRUE(Dialog.OKBtn->isDefault());
  EXPECT_EQ(Dialog.Label2->text(), QStringLiteral("Similarity treshold"));
  EXPECT_EQ(Dialog.Label3->text(), QStringLiteral(" Rise similarity threshold to find less similar files."));
  EXPECT_EQ(Dialog.Treshold->minimum(), 1);
  EXPECT_EQ(Dialog.Treshold->maximum(), 255);
  EXPECT_FALSE(Dialog.CheckBox1->isChecked());
  ASSERT_NE(Dialog.Edit2, nullptr);

  std::string folder, typed;
  int threshold = 0;
  int result = Show(7, Dir.Path + "/one/", [&](TSelDirectoryDlg* d) {
    folder = d->SelectedFolder();
    typed = d->Edit1->text().toStdString();
    threshold = d->Treshold->value();
    d->CheckBox1->setChecked(true);
    d->OKBtn->click();
  });
  EXPECT_EQ(result, TSelDirectoryDlg::mrOk);
  EXPECT_EQ(folder, Dir.Path + "/one");
  EXPECT_EQ(typed, Dir.Path + "/one");
  EXPECT_EQ(threshold, 7);
  EXPECT_EQ(Dialog.SelectedPath, Dir.Path + "/one");

  // The box keeps its state; the threshold comes from the caller each time,
  // and a value outside 1..255 is brought into it.
  Show(0, Dir.Path, [&](TSelDirectoryDlg* d) {
    threshold = d->Treshold->value();
    EXPECT_TRUE(d->CheckBox1->isChecked());
    d->CancelBtn->click();
  });
  EXPECT_EQ(threshold, 1);
}

TEST_F(SelDirectoryTest, ATypedDirectoryCountsOnlyOnceOkHasTakenTheTreeThere) {
  // "OK" (or Return in the field) selects an existing directory in the tree.
  int result = Show(1, Dir.Path + "/one", [&](TSelDirectoryDlg* d) {
    d->Edit1->setText(QString::fromStdString(Dir.Path + "/two"));
    d->Button2->click();
    EXPECT_EQ(d->SelectedFolder(), Dir.Path + "/two");
    d->Edit1->setText(QString::fromStdString(Dir.Path + "/one"));
    QTest::keyClick(d->Edit1, Qt::Key_Return);
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(d->SelectedFolder(), Dir.Path + "/one");
    // A path that is no directory is ignored.
    d->Edit1->setText(QString::fromStdString(Dir.Path + "/three"));
    d->Button2->click();
    EXPECT_EQ(d->SelectedFolder(), Dir.Path + "/one");
    // Typed but not taken: "Start" uses the tree's folder.
    d->Edit1->setText(QString::fromStdString(Dir.Path + "/two"));
    d->OKBtn->click();
  });
  EXPECT_EQ(result, TSelDirectoryDlg::mrOk);
  EXPECT_EQ(Dialog.SelectedPath, Dir.Path + "/one");

  // Cancel (or Esc) answers 2 and still remembers the tree's folder.
  result = Show(1, Dir.Path + "/two", [&](TSelDirectoryDlg* d) { QTest::keyClick(d, Qt::Key_Escape); });
  EXPECT_EQ(result, TSelDirectoryDlg::mrCancel);
  EXPECT_EQ(Dialog.SelectedPath, Dir.Path + "/two");

  // A remembered directory that is gone leaves the tree where it was.
  std::filesystem::remove(Dir.Path + "/one");
  Show(1, Dir.Path + "/one", [&](TSelDirectoryDlg* d) { d->OKBtn->click(); });
  EXPECT_EQ(Dialog.SelectedPath, Dir.Path + "/two");
}

TEST_F(SelDirectoryTest, TheDirectoryFieldShowsTheFolderThatStartSearches) {
  // Text typed last time and never taken is gone when the dialog opens again
  // at the same folder (the tree's selection does not change).
  Show(1, Dir.Path + "/one", [&](TSelDirectoryDlg* d) {
    d->Edit1->setText(QStringLiteral("/typed/but/not/taken"));
    d->CancelBtn->click();
  });
  std::string typed;
  Show(1, Dir.Path + "/one", [&](TSelDirectoryDlg* d) {
    typed = d->Edit1->text().toStdString();
    d->CancelBtn->click();
  });
  EXPECT_EQ(typed, Dir.Path + "/one");
  // Nor when the remembered directory is gone and the tree stays put.
  Show(1, Dir.Path + "/one", [&](TSelDirectoryDlg* d) {
    d->Edit1->setText(QStringLiteral("/typed"));
    d->CancelBtn->click();
  });
  Show(1, Dir.Path + "/gone", [&](TSelDirectoryDlg* d) {
    typed = d->Edit1->text().toStdString();
    d->CancelBtn->click();
  });
  EXPECT_EQ(typed, Dir.Path + "/one");
}

TEST_F(SelDirectoryTest, AThresholdTypedOutsideItsRangeIsBroughtIntoIt) {
  // Start takes what the field shows: 0 is below the range and becomes 1
  // (never the value the field held before).
  for (bool byKey : {false, true}) {
    QString shown;
    Show(10, Dir.Path + "/one", [&](TSelDirectoryDlg* d) {
      d->Edit2->selectAll();
      QTest::keyClicks(d->Treshold, QStringLiteral("0"));
      EXPECT_EQ(d->Edit2->text(), QStringLiteral("0"));
      if (byKey)
        QTest::keyClick(d->Treshold, Qt::Key_Return);
      else
        d->OKBtn->click();
      shown = d->Edit2->text();
    });
    EXPECT_EQ(Dialog.Treshold->value(), 1) << byKey;
    EXPECT_EQ(shown, QStringLiteral("1"));
  }
}

// Both windows open in the middle of the screen, wherever the main window is.
TEST(SecondaryWindows, OpenCentredOnTheScreen) {
  QWidget owner;
  owner.setGeometry(0, 0, 200, 150);
  owner.show();
  TSelDirectoryDlg dialog(&owner);
  TAboutBox about(&owner);
  for (QDialog* d : {static_cast<QDialog*>(&dialog), static_cast<QDialog*>(&about)}) {
    QPoint centre, expected;
    test::WhenModal<QDialog>([&](QDialog* shown) {
      centre = shown->frameGeometry().center();
      expected = shown->screen()->availableGeometry().center();
      shown->reject();
    });
    d->exec();
    EXPECT_LE((centre - expected).manhattanLength(), 2) << d->windowTitle().toStdString();
  }
}

TEST(AboutBox, ThanksAndNamesTheLibrariesItUses) {
  TAboutBox box;
  EXPECT_EQ(box.windowTitle(), QStringLiteral("About"));
  EXPECT_EQ(box.size(), QSize(391, 294));
  EXPECT_EQ(box.Label2->text(), QStringLiteral("Tolvane"));
  EXPECT_TRUE(box.Label2->font().bold());
  EXPECT_EQ(box.ProgramIcon->pixmap().size(), QSize(80, 80));
  EXPECT_TRUE(box.Memo1->isReadOnly());
  for (const char* library : {"libjpeg-turbo", "zlib", "OpenJPEG", "Qt", "GNU gettext"})
    EXPECT_TRUE(box.Memo1->toPlainText().contains(QString::fromUtf8(library))) << library;
  test::WhenModal<TAboutBox>([](TAboutBox* b) { b->OKButton->click(); });
  EXPECT_EQ(box.exec(), 1);
}

TEST(ImageControl, DestinationRectFitsProportionallyAndCentres) {
  struct TCase {
    int32_t W, H;
    bool Center, Proportional, Stretch;
    TRect Expected;
  };
  const TCase cases[] = {
      {1600, 1200, true, true, true, Rect(0, 45, 191, 188)},     // 191 x Trunc(191 / 1.333...) = 143
      {1200, 1600, true, true, true, Rect(8, 0, 182, 233)},      // Trunc(233 x 0.75) = 174
      {100, 100, true, true, true, Rect(0, 21, 191, 212)},       // square: height first, then width capped
      {100, 50, false, true, false, Rect(0, 0, 100, 50)},        // small and not stretched
      {100, 50, true, true, false, Rect(45, 91, 145, 141)},      // centred at its size
      {400, 50, true, false, true, Rect(0, 0, 191, 233)},        // stretched over the whole area
      {0, 0, true, true, true, Rect(0, 0, 191, 233)},
  };
  for (const TCase& c : cases) {
    TRect r = ImageDestinationRect(c.W, c.H, 191, 233, c.Center, c.Proportional, c.Stretch);
    EXPECT_EQ(std::tie(r.Left, r.Top, r.Right, r.Bottom),
              std::tie(c.Expected.Left, c.Expected.Top, c.Expected.Right, c.Expected.Bottom))
        << c.W << "x" << c.H;
  }
}

TEST(ImageControl, DrawsThePictureThroughTheFrameworkInItsColours) {
  // Left half red, right half blue, 400 x 100: drawn reduced and centred
  // between black margins.
  TBitmap bitmap;
  bitmap.SetPixelLayout(pl24Bit);
  bitmap.ResizeWidth(400);
  bitmap.ResizeHeight(100);
  bitmap.FillRect(Rect(0, 0, 200, 100), RGBColor(255, 0, 0));
  bitmap.FillRect(Rect(200, 0, 400, 100), RGBColor(0, 0, 255));
  TImage image;
  image.resize(191, 233);
  image.Picture().AssignGraphic(&bitmap);
  TRect dest = image.DestinationRect();
  EXPECT_EQ(dest.Width(), 191);
  EXPECT_EQ(dest.Height(), 47);
  image.PaintImage();
  const QImage& shown = image.ShownImage();
  ASSERT_EQ(shown.size(), QSize(191, 47));
  EXPECT_EQ(shown.pixelColor(10, 20), QColor(255, 0, 0));
  EXPECT_EQ(shown.pixelColor(180, 20), QColor(0, 0, 255));
  QImage screen = image.grab().toImage();
  EXPECT_EQ(screen.pixelColor(95, 10), QColor(Qt::black));
  EXPECT_EQ(screen.pixelColor(10, 116), QColor(255, 0, 0));

  image.ReplacePicture(nullptr);
  EXPECT_TRUE(image.ShownImage().isNull());
  EXPECT_EQ(image.Picture().CurrentGraphic(), nullptr);
}

TEST(GridView, KeysMoveTheCurrentCellInsideTheGridAndColumnsMoveWithTheirCells) {
  TStringGrid grid(3, 4);
  TStringGridView view(grid);
  view.resize(200, 200);
  const TGridCoord from{1, 2};
  EXPECT_EQ(view.KeyTarget(Qt::Key_Left, {}, from), (TGridCoord{0, 2}));
  EXPECT_EQ(view.KeyTarget(Qt::Key_Right, {}, TGridCoord{2, 2}), (TGridCoord{2, 2}));
  EXPECT_EQ(view.KeyTarget(Qt::Key_Up, {}, TGridCoord{1, 1}), (TGridCoord{1, 1}));  // not into the fixed row
  EXPECT_EQ(view.KeyTarget(Qt::Key_Down, {}, from), (TGridCoord{1, 3}));
  EXPECT_EQ(view.KeyTarget(Qt::Key_Home, Qt::ControlModifier, from), (TGridCoord{0, 1}));
  EXPECT_EQ(view.KeyTarget(Qt::Key_End, {}, from), (TGridCoord{2, 2}));
  EXPECT_EQ(view.KeyTarget(Qt::Key_A, {}, from), from);

  grid.SetRowStrings(1, {"a", "b", "c"});
  grid.SetRowStrings(2, {"d", "e"});
  MoveGridColumn(grid, 2, 0);
  EXPECT_EQ(grid.RowStrings(1), (std::vector<std::string>{"c", "a", "b"}));
  EXPECT_EQ(grid.RowStrings(2), (std::vector<std::string>{"", "d", "e"}));
  EXPECT_EQ(grid.RowStrings(0), (std::vector<std::string>{"", "", ""}));
}

}  // namespace
}  // namespace tolvane
