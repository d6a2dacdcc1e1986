// The directory dialog of ravelk: the folder to search, the similarity
// threshold and whether subdirectories are searched.
#pragma once

#include <QDialog>

#include <functional>
#include <string>

class QCheckBox;
class QFileSystemModel;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTreeView;

namespace tolvane {

class TSelDirectoryDlg : public QDialog {
public:
  explicit TSelDirectoryDlg(QWidget* parent = nullptr);

  // Results of ShowModal.
  static constexpr int mrOk = 1;
  static constexpr int mrCancel = 2;

  // Opens at directory with the threshold set, runs modally; mrOk when
  // "Start" closed the dialog, else mrCancel.
  int ShowModal(int threshold, const std::string& directory);

  void FormCreate();
  void FormShow();
  void FormClose();
  void ShellTreeView1Change();
  void Button2Click();
  // Selects directory in the tree (expanding its parents) when it exists.
  bool NavigateTo(const std::string& directory);
  // The directory selected in the tree, empty when none is.
  std::string SelectedFolder() const;

  QPushButton* OKBtn;
  QPushButton* CancelBtn;
  QGroupBox* GroupBox1;
  QTreeView* ShellTreeView1;
  QLabel* Label1;
  QLineEdit* Edit1;
  QPushButton* Button2;
  QGroupBox* GroupBox2;
  QCheckBox* CheckBox1;
  QLabel* Label4;
  QLabel* Label2;
  QSpinBox* Treshold;
  QLineEdit* Edit2;
  QLabel* Label3;

  // The folder selected when the dialog last closed (the caller reads it).
  std::string SelectedPath;
  // Selects the language that the main window's menu has ticked.
  std::function<void()> ChooseLanguage;

protected:
  void showEvent(QShowEvent* event) override;
  void done(int result) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  QFileSystemModel* FModel;
};

}  // namespace tolvane
