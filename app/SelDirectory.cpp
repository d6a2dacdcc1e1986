#include "SelDirectory.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QTreeView>

#include "FormTexts.h"
#include "GnuGetText.h"

namespace tolvane {

namespace {

QLabel* MakeLabel(QWidget* parent, const char* text, int x, int y, int w, int h) {
  auto* label = new QLabel(parent);
  SetCaption(label, text);
  label->setGeometry(x, y, w, h);
  return label;
}

QPushButton* MakeButton(QWidget* parent, const char* text, int x, int y, int w, int h) {
  auto* button = new QPushButton(parent);
  SetCaption(button, text);
  button->setGeometry(x, y, w, h);
  return button;
}

// A path as the model names it: without a trailing "/" except for the root.
QString ModelPath(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return FromUtf8(path);
}

}  // namespace

TSelDirectoryDlg::TSelDirectoryDlg(QWidget* parent) : QDialog(parent) {
  SetCaption(this, "Scan directories");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(425, 386);
  setModal(true);
  QFont f = font();
  f.setPixelSize(12);
  setFont(f);

  GroupBox1 = new QGroupBox(this);
  SetCaption(GroupBox1, "Select directory");
  GroupBox1->setGeometry(8, 8, 409, 232);
  FModel = new QFileSystemModel(this);
  FModel->setOption(QFileSystemModel::DontWatchForChanges);
  FModel->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
  FModel->setRootPath(QStringLiteral("/"));
  ShellTreeView1 = new QTreeView(GroupBox1);
  ShellTreeView1->setGeometry(8, 22, 393, 170);
  ShellTreeView1->setModel(FModel);
  for (int c = 1; c < FModel->columnCount(); ++c) ShellTreeView1->hideColumn(c);
  ShellTreeView1->header()->hide();
  ShellTreeView1->setRootIsDecorated(true);
  ShellTreeView1->setUniformRowHeights(true);
  ShellTreeView1->setContextMenuPolicy(Qt::NoContextMenu);
  ShellTreeView1->expand(FModel->index(QStringLiteral("/")));
  Label1 = MakeLabel(GroupBox1, "Directory", 8, 202, 58, 21);
  Edit1 = new QLineEdit(GroupBox1);
  Edit1->setGeometry(66, 200, 279, 24);
  Edit1->installEventFilter(this);
  Button2 = MakeButton(GroupBox1, "OK", 352, 199, 49, 26);

  GroupBox2 = new QGroupBox(this);
  SetCaption(GroupBox2, "Search options");
  GroupBox2->setGeometry(8, 248, 409, 96);
  CheckBox1 = new QCheckBox(GroupBox2);
  SetCaption(CheckBox1, "Search subdirectories");
  CheckBox1->setGeometry(8, 20, 393, 19);
  Label4 = MakeLabel(GroupBox2, "Searching subdirectories can take a lot of time.", 27, 38, 374, 17);
  Label4->setEnabled(false);
  Label2 = MakeLabel(GroupBox2, "Similarity treshold", 8, 64, 118, 21);
  Treshold = new QSpinBox(GroupBox2);
  Treshold->setGeometry(128, 62, 60, 24);
  Treshold->setRange(1, 255);
  Treshold->setValue(1);
  // What the field shows is what Start searches with: a typed value outside
  // the range (0, or nothing) becomes the nearest in it, never the value
  // the field held before.
  Treshold->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
  Edit2 = Treshold->findChild<QLineEdit*>();
  Label3 = MakeLabel(GroupBox2, " Rise similarity threshold to find less similar files.", 196, 58, 205, 32);
  Label3->setWordWrap(true);

  OKBtn = MakeButton(this, "Start", 254, 352, 75, 26);
  OKBtn->setDefault(true);
  OKBtn->setEnabled(false);
  CancelBtn = MakeButton(this, "Cancel", 342, 352, 75, 26);

  connect(OKBtn, &QPushButton::clicked, this, [this] { done(mrOk); });
  connect(CancelBtn, &QPushButton::clicked, this, [this] { done(mrCancel); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(ShellTreeView1->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this] { ShellTreeView1Change(); });
  // The model lists and sorts folders in the background: whenever it has
  // news, the selected folder is brought into view again.
  auto reveal = [this] {
    QTimer::singleShot(0, this, [this] {
      QModelIndex current = ShellTreeView1->currentIndex();
      if (current.isValid()) ShellTreeView1->scrollTo(current, QAbstractItemView::PositionAtCenter);
    });
  };
  connect(FModel, &QFileSystemModel::directoryLoaded, this, reveal);
  connect(FModel, &QAbstractItemModel::layoutChanged, this, reveal);
  FormCreate();
}

void TSelDirectoryDlg::FormCreate() { TranslateComponent(this); }

void TSelDirectoryDlg::FormShow() {
  if (!SelectedPath.empty()) NavigateTo(SelectedPath);
  // The field shows the folder that Start will search, also when the tree
  // has not moved (text typed last time and never taken goes).
  ShellTreeView1Change();
  if (ChooseLanguage) ChooseLanguage();
  RetranslateComponent(this);
}

void TSelDirectoryDlg::FormClose() { SelectedPath = SelectedFolder(); }

int TSelDirectoryDlg::ShowModal(int threshold, const std::string& directory) {
  Treshold->setValue(threshold);
  SelectedPath = directory;
  return exec() == mrOk ? mrOk : mrCancel;
}

void TSelDirectoryDlg::ShellTreeView1Change() {
  std::string folder = SelectedFolder();
  Edit1->setText(FromUtf8(folder));
  OKBtn->setEnabled(!folder.empty());
}

void TSelDirectoryDlg::Button2Click() { NavigateTo(Edit1->text().toStdString()); }

bool TSelDirectoryDlg::NavigateTo(const std::string& directory) {
  if (directory.empty() || directory.front() != '/') return false;
  QString path = ModelPath(directory);
  if (!QFileInfo(path).isDir()) return false;
  QModelIndex index = FModel->index(path);
  if (!index.isValid()) return false;
  for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent()) ShellTreeView1->expand(parent);
  ShellTreeView1->setCurrentIndex(index);
  ShellTreeView1->scrollTo(index, QAbstractItemView::PositionAtCenter);
  return true;
}

std::string TSelDirectoryDlg::SelectedFolder() const {
  QModelIndex index = ShellTreeView1->currentIndex();
  if (!index.isValid()) return {};
  return FModel->filePath(index).toStdString();
}

void TSelDirectoryDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CentreOnScreen(this);
  FormShow();
}

void TSelDirectoryDlg::done(int result) {
  // Text typed into the threshold counts once the dialog closes, also when
  // Return closed it before the field lost the focus.
  Treshold->interpretText();
  FormClose();
  QDialog::done(result == mrOk ? mrOk : mrCancel);
}

bool TSelDirectoryDlg::eventFilter(QObject* watched, QEvent* event) {
  // Return in the directory field goes to the folder typed, as "OK" beside
  // it does, rather than starting a search of the folder still selected.
  if (watched == Edit1 && event->type() == QEvent::KeyPress) {
    int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      Button2Click();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace tolvane
