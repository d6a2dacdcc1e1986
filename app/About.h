// The about box of ravelk.
#pragma once

#include <QDialog>
#include <QPixmap>

#include <functional>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace tolvane {

// The program's picture: two overlapping photographs, size x size pixels.
QPixmap ProgramPicture(int size);

class TAboutBox : public QDialog {
public:
  explicit TAboutBox(QWidget* parent = nullptr);

  void FormCreate();
  void FormShow();

  // Selects the language that the main window's menu has ticked.
  std::function<void()> ChooseLanguage;

  QLabel* ProgramIcon;
  QLabel* Label2;
  QLabel* Label1;
  QPlainTextEdit* Memo1;
  QPushButton* OKButton;

protected:
  void showEvent(QShowEvent* event) override;
};

}  // namespace tolvane
