#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScreen>

#include <vector>

#include "QtTestEnvironment.h"
#include "support/TempDir.h"
#include "platform/QtFileDialogs.h"
#include "platform/QtMessageBoxes.h"

namespace tolvane {
namespace {

TEST(QtMessageBoxes, ShowsPlainTextAndReturnsThePressedButton) {
  QString text, title;
  QMessageBox::Icon icon{};
  test::WhenModal<QMessageBox>([&](QMessageBox* box) {
    text = box->text();
    title = box->windowTitle();
    icon = box->icon();
    box->button(QMessageBox::No)->click();
  });
  TQtMessageBoxes boxes;
  EXPECT_EQ(boxes.ShowMessageBox(TMessageKind::mkWarning, mbYes | mbNo, "Delete <b>a.jpg</b>?\r\nSure?"), mbNo);
  EXPECT_EQ(text, QStringLiteral("Delete <b>a.jpg</b>?\nSure?"));
  EXPECT_EQ(title, QStringLiteral("Warning"));
  EXPECT_EQ(icon, QMessageBox::Warning);

  test::WhenModal<QMessageBox>([&](QMessageBox* box) {
    title = box->windowTitle();
    box->reject();  // closed without a button
  });
  EXPECT_EQ(boxes.ShowMessageBox(TMessageKind::mkInformation, mbOK | mbCancel, "Scan?", "Tolvane"), mbCancel);
  EXPECT_EQ(title, QStringLiteral("Tolvane"));
}

TEST(QtMessageBoxes, ALongNameWrapsInsideTheScreen) {
  const std::string name = "/pictures/" + std::string(700, 'x') + ".jpg";
  const std::string text = "Cannot delete " + name + "\r\nIt stays where it is.";
  QString shown;
  int width = 0, room = 0;
  std::vector<std::string> clipped;
  test::WhenModal<QMessageBox>([&](QMessageBox* box) {
    shown = box->text();
    width = box->frameGeometry().width();
    room = box->screen()->availableGeometry().width();
    // The label wraps between words; no word may be wider than the label.
    auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    for (const QString& word : shown.split(QRegularExpression(QStringLiteral("[ \n]"))))
      if (label->fontMetrics().horizontalAdvance(word) > label->width()) clipped.push_back(word.toStdString());
    box->accept();
  });
  TQtMessageBoxes().ShowMessageBox(TMessageKind::mkError, mbOK, text);
  EXPECT_LE(width, room);
  EXPECT_EQ(clipped, std::vector<std::string>{});
  // Only line breaks are added: the name is whole, and the lines that fit stay.
  EXPECT_EQ(QString(shown).remove(QLatin1Char('\n')),
            QString::fromStdString("Cannot delete " + name + "It stays where it is."));
  EXPECT_TRUE(shown.endsWith(QStringLiteral("\nIt stays where it is.")));
}

TEST(QtOpenDialog, ReturnsTheChosenFileOrCancel) {
  test::TTempDir dir;
  test::WriteFile(dir / "TOTALCMD.EXE", "");
  QStringList filters;
  test::WhenModal<QFileDialog>([&](QFileDialog* dialog) {
    filters = dialog->nameFilters();
    dialog->selectFile(QString::fromStdString(dir / "TOTALCMD.EXE"));
    QMetaObject::invokeMethod(dialog, "accept");
  });
  TQtOpenDialog open;
  open.Filter = "totalcmd.exe|totalcmd.exe";
  open.InitialDir = dir.Path;
  ASSERT_TRUE(open.Execute());
  EXPECT_EQ(open.FileName, dir / "TOTALCMD.EXE");
  EXPECT_EQ(filters, QStringList{QStringLiteral("totalcmd.exe ([tT][oO][tT][aA][lL][cC][mM][dD].[eE][xX][eE])")});

  test::WhenModal<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
  EXPECT_FALSE(open.Execute());
}

TEST(QtSaveDialog, AddsTheDefaultExtensionAndAsksNothingBeforeReplacing) {
  test::TTempDir dir;
  test::WriteFile(dir / "old.kvl", "old");
  TQtSaveDialog save;
  save.Filter = "Duplicates list (.KVL)|*.kvl";
  save.DefaultExt = "kvl";
  save.InitialDir = dir.Path;
  QStringList filters;
  test::WhenModal<QFileDialog>([&](QFileDialog* dialog) {
    filters = dialog->nameFilters();
    dialog->selectFile(QString::fromStdString(dir / "list"));
    QMetaObject::invokeMethod(dialog, "accept");
  });
  ASSERT_TRUE(save.Execute());
  EXPECT_EQ(save.FileName, dir / "list.kvl");
  EXPECT_EQ(filters, QStringList{QStringLiteral("Duplicates list (.KVL) (*.[kK][vV][lL])")});

  // An existing file is chosen at once: no question box follows.
  test::WhenModal<QFileDialog>([&](QFileDialog* dialog) {
    dialog->selectFile(QString::fromStdString(dir / "old.kvl"));
    QMetaObject::invokeMethod(dialog, "accept");
  });
  ASSERT_TRUE(save.Execute());
  EXPECT_EQ(save.FileName, dir / "old.kvl");

  test::WhenModal<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
  EXPECT_FALSE(save.Execute());
}

}  // namespace
}  // namespace tolvane
