#include "MainWindow.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QFontMetrics>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <exception>

#include "About.h"
#include "ConstTxt.h"
#include "FileFacts.h"
#include "FormTexts.h"
#include "GnuGetText.h"
#include "GridView.h"
#include "ImageControl.h"
#include "ResultGrid.h"
#include "SelDirectory.h"
#include "picture/Jpeg.h"
#include "platform/WinePaths.h"

namespace tolvane {

namespace {

constexpr int ClientWidth = 715;
constexpr int ClientHeight = 444;
constexpr int FontPixels = 12;

// A panel that shows one line of text centred, shortened in the middle when
// it does not fit (a long path keeps its beginning and its file name).
class TPanel : public QLabel {
public:
  explicit TPanel(QWidget* parent) : QLabel(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setAlignment(Qt::AlignCenter);
  }

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    drawFrame(&painter);
    QRect area = contentsRect().adjusted(4, 0, -4, 0);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(area, Qt::AlignCenter, fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width()));
  }
};

// A header panel over a part of the window.
QLabel* MakeHeader(QWidget* parent, const char* caption, int x, int y, int w, int h) {
  auto* header = new QLabel(parent);
  SetCaption(header, caption);
  header->setGeometry(x, y, w, h);
  header->setAlignment(Qt::AlignCenter);
  header->setFrameStyle(QFrame::Panel | QFrame::Raised);
  header->setAutoFillBackground(true);
  QPalette pal = header->palette();
  pal.setColor(QPalette::Window, pal.color(QPalette::Button));
  header->setPalette(pal);
  QFont bold = header->font();
  bold.setBold(true);
  header->setFont(bold);
  return header;
}

QLabel* MakeLabel(QWidget* parent, const char* caption, int x, int y, int w, int h) {
  auto* label = new QLabel(parent);
  if (caption) SetCaption(label, caption);
  label->setGeometry(x, y, w, h);
  return label;
}

QPushButton* MakeButton(QWidget* parent, const char* caption, int x, int y, int w, int h) {
  auto* button = new QPushButton(parent);
  SetCaption(button, caption);
  button->setGeometry(x, y, w, h);
  button->setAutoDefault(false);
  return button;
}

QAction* MakeEntry(QMenu* menu, const char* caption, bool checkable = false) {
  auto* action = menu->addAction(QString());
  SetCaption(action, caption);
  action->setCheckable(checkable);
  return action;
}

// The file details of one side: five captions and five values, one row each.
void MakeDetails(QGroupBox* box, QLabel* (&captions)[5], QLabel* (&values)[5]) {
  static const char* const Captions[5] = {"File size:", "Dimensions:", "Color depth:", "Format:", "Last modified:"};
  for (int i = 0; i < 5; ++i) {
    captions[i] = MakeLabel(box, Captions[i], 5, 18 + 15 * i, 80, 15);
    values[i] = MakeLabel(box, nullptr, 85, 18 + 15 * i, box->width() - 86, 15);
    values[i]->setText(QStringLiteral("0"));
  }
}

// The values start right after the widest caption, in whatever language.
void LayOutDetails(QLabel* const (&captions)[5], QLabel* const (&values)[5]) {
  int widest = 0;
  for (QLabel* caption : captions) widest = std::max(widest, caption->fontMetrics().horizontalAdvance(caption->text()));
  const int valueLeft = 5 + widest + 4;
  for (int i = 0; i < 5; ++i) {
    captions[i]->resize(widest + 2, 15);
    values[i]->setGeometry(valueLeft, values[i]->y(), values[i]->parentWidget()->width() - valueLeft - 1, 15);
  }
}

// A text wider than its control gets a smaller font (down to 9 pixels).
void FitText(QWidget* control, const QString& text, int pixels, int padding) {
  QFont f = control->font();
  f.setPixelSize(pixels);
  while (f.pixelSize() > 9 && QFontMetrics(f).horizontalAdvance(text) + padding > control->width())
    f.setPixelSize(f.pixelSize() - 1);
  control->setFont(f);
}

TMessageKind KindOf(TMsgDlgType type) {
  switch (type) {
    case TMsgDlgType::mtWarning: return TMessageKind::mkWarning;
    case TMsgDlgType::mtError: return TMessageKind::mkError;
    case TMsgDlgType::mtInformation: return TMessageKind::mkInformation;
    case TMsgDlgType::mtConfirmation: return TMessageKind::mkQuestion;
  }
  return TMessageKind::mkInformation;
}

TMessageButtons ButtonsOf(TMsgDlgButtons buttons) {
  switch (buttons) {
    case TMsgDlgButtons::mbOK: return mbOK;
    case TMsgDlgButtons::mbOKCancel: return mbOK | mbCancel;
    case TMsgDlgButtons::mbYesNo: return mbYes | mbNo;
  }
  return mbOK;
}

// Runs steps that must all run although one of them may fail; the first
// failure is passed on when they have.
class TFirstFailure {
public:
  template <class TStep>
  void Run(TStep&& step) {
    try {
      step();
    } catch (...) {
      if (!FFailure) FFailure = std::current_exception();
    }
  }
  void Rethrow() const {
    if (FFailure) std::rethrow_exception(FFailure);
  }

private:
  std::exception_ptr FFailure;
};

TModalResult ResultOf(TMessageButton button) {
  switch (button) {
    case mbOK: return TModalResult::mrOk;
    case mbCancel: return TModalResult::mrCancel;
    case mbYes: return TModalResult::mrYes;
    case mbNo: return TModalResult::mrNo;
    default: return TModalResult::mrNone;
  }
}

}  // namespace

TForm1::TForm1(TForm1Services services, std::vector<std::string> arguments, QWidget* parent)
    : QMainWindow(parent),
      Finder(*this),
      ScanDir(Finder.ScanDir),
      SimilarityThreshold(Finder.SimilarityThreshold),
      Busy(Finder.Busy),
      Grid(Finder.StringGrid1),
      Arguments(std::move(arguments)),
      SaveDialog1(std::move(services.SaveDialog)),
      FBoxes(services.Boxes),
      FTrash(services.Trash),
      FShell(services.Shell),
      FPump(services.Pump),
      FCounter(services.Counter) {
  setWindowTitle(QStringLiteral("Tolvane"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setWindowIcon(QIcon(ProgramPicture(64)));
  QFont f = font();
  f.setPixelSize(FontPixels);
  setFont(f);
  CreateControls();
  CreateMenu();
  Connect();
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  FormCreate();
}

TForm1::~TForm1() {
  Grid.OnChange = nullptr;
  Grid.OnSelectionChange = nullptr;
  // The controls go first: the grid's view reads the grid, which is a member.
  delete takeCentralWidget();
}

void TForm1::CreateControls() {
  auto* client = new QWidget(this);
  client->setFixedSize(ClientWidth, ClientHeight);
  setCentralWidget(client);

  Panel1 = MakeHeader(client, "List of duplicates", 8, 8, 244, 22);
  StringGrid1 = new TStringGridView(Grid, client);
  StringGrid1->setGeometry(8, 30, 244, 296);
  Button8 = MakeButton(client, "Prev set /\\", 8, 332, 120, 26);
  Button7 = MakeButton(client, "Next set \\/", 132, 332, 120, 26);
  Button5 = MakeButton(client, "< Prev dup.", 8, 362, 120, 26);
  Button6 = MakeButton(client, "Next dup. >", 132, 362, 120, 26);
  Button2 = MakeButton(client, "Save List", 8, 392, 244, 26);

  Panel2 = MakeHeader(client, "Preview of duplicates", 260, 8, 447, 22);
  QFrame** frames[2] = {&ImgPrevPanel1, &ImgPrevPanel2};
  TImage** images[2] = {&Image1, &Image2};
  QLabel** files[2] = {&FilePanel1, &FilePanel2};
  QGroupBox** boxes[2] = {&GroupBox1, &GroupBox2};
  QLabel* captions[2][5];
  QLabel* values[2][5];
  for (int side = 0; side < 2; ++side) {
    const int x = 260 + 226 * side;
    auto* frame = new QFrame(client);
    frame->setGeometry(x, 30, 221, 235);
    frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    frame->setAutoFillBackground(true);
    QPalette pal = frame->palette();
    pal.setColor(QPalette::Window, Qt::black);
    pal.setColor(QPalette::WindowText, Qt::black);
    frame->setPalette(pal);
    *frames[side] = frame;
    auto* image = new TImage(frame);
    image->setGeometry(15, 1, 191, 233);
    SetHint(image, "Click to see image in full resolution");
    *images[side] = image;
    auto* panel = new TPanel(client);
    panel->setGeometry(x, 268, 221, 22);
    *files[side] = panel;
    auto* box = new QGroupBox(client);
    SetCaption(box, "File informations");
    box->setGeometry(x, 292, 221, 97);
    QFont small = box->font();
    small.setPixelSize(FontPixels - 1);
    box->setFont(small);
    *boxes[side] = box;
    MakeDetails(box, captions[side], values[side]);
  }
  Label1 = captions[0][0], Label2 = captions[0][1], Label3 = captions[0][2], Label4 = captions[0][3];
  Label5 = captions[0][4];
  Label6 = values[0][0], Label7 = values[0][1], Label8 = values[0][2], Label9 = values[0][3], Label10 = values[0][4];
  Label11 = captions[1][0], Label12 = captions[1][1], Label13 = captions[1][2], Label14 = captions[1][3];
  Label15 = captions[1][4];
  Label16 = values[1][0], Label17 = values[1][1], Label18 = values[1][2], Label19 = values[1][3];
  Label20 = values[1][4];
  SetCaption(FilePanel1, ConstTxt::SFileName);
  SetCaption(FilePanel2, ConstTxt::SFileName);
  Button3 = MakeButton(client, "Delete this file [F5]", 260, 392, 221, 26);
  Button4 = MakeButton(client, "Delete this file [F7]", 486, 392, 221, 26);
  Button3->setEnabled(false);
  Button4->setEnabled(false);

  // The progress of a search, over the file details.
  Panel3 = new QFrame(client);
  Panel3->setGeometry(260, 268, 447, 121);
  Panel3->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel3->setAutoFillBackground(true);
  Panel4 = MakeHeader(Panel3, "Comparing in process...", 2, 2, 443, 22);
  Label21 = MakeLabel(Panel3, "Please be patient- finding duplicates can take even a few hours.", 10, 30, 427, 30);
  Label21->setWordWrap(true);
  Label22 = MakeLabel(Panel3, "Step 1 (scan)", 10, 64, 120, 18);
  ProgressBar1 = new QProgressBar(Panel3);
  ProgressBar1->setGeometry(132, 64, 240, 18);
  Label23 = MakeLabel(Panel3, "Step 2 (compare)", 10, 90, 120, 18);
  ProgressBar2 = new QProgressBar(Panel3);
  ProgressBar2->setGeometry(132, 90, 240, 18);
  for (QProgressBar* bar : {ProgressBar1, ProgressBar2}) {
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
  }
  Step1Label = MakeLabel(Panel3, nullptr, 380, 64, 50, 18);
  Step2Label = MakeLabel(Panel3, nullptr, 380, 90, 50, 18);
  Step1Label->setText(QStringLiteral("0"));
  Step2Label->setText(QStringLiteral("0"));
  Panel3->hide();

  StatusBar1 = new QStatusBar(client);
  StatusBar1->setGeometry(0, ClientHeight - 20, ClientWidth, 20);
  StatusBar1->setSizeGripEnabled(false);
  StatusPanel1 = new QLabel(StatusBar1);
  StatusPanel1->setFixedWidth(200);
  StatusPanel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  SetCaption(StatusPanel1, "Total time:");
  StatusBar1->addWidget(StatusPanel1);
}

void TForm1::CreateMenu() {
  MainMenu1 = menuBar();
  Opendirectory1 = MainMenu1->addAction(QString());
  SetCaption(Opendirectory1, "Start");
  Options1 = MainMenu1->addMenu(QString());
  SetCaption(Options1, "Options");
  Imagepreview1 = Options1->addMenu(QString());
  SetCaption(Imagepreview1, "Image preview");
  Slowest1 = MakeEntry(Imagepreview1, "Slowest", true);
  Slow1 = MakeEntry(Imagepreview1, "Slow", true);
  Average1 = MakeEntry(Imagepreview1, "Average", true);
  Fast1 = MakeEntry(Imagepreview1, "Fast", true);
  Fastest1 = MakeEntry(Imagepreview1, "Fastest", true);
  Average1->setChecked(true);
  Installinfilemanagers1 = MakeEntry(Options1, "Install in file managers");
  Language1 = MainMenu1->addMenu(QString());
  SetCaption(Language1, "Language");
  Polski1 = MakeEntry(Language1, "Polski", true);
  English1 = MakeEntry(Language1, "English", true);
  Deutsch1 = MakeEntry(Language1, "Deutsch", true);
  Help1 = MainMenu1->addMenu(QString());
  SetCaption(Help1, "Help");
  About2 = MakeEntry(Help1, "About");
  Manual1 = MakeEntry(Help1, "Help");
  Help1->addSeparator();
  Check1 = MakeEntry(Help1, "Check for updates");
}

void TForm1::Connect() {
  Grid.OnChange = [this] { GridChanged(); };
  Grid.OnSelectionChange = [this] { GridChanged(); };
  auto on = [this](auto* sender, auto signal, void (TForm1::*handler)()) {
    connect(sender, signal, this, [this, handler] { Handle([this, handler] { (this->*handler)(); }); });
  };
  on(Opendirectory1, &QAction::triggered, &TForm1::Opendirectory1Click);
  on(Installinfilemanagers1, &QAction::triggered, &TForm1::Installinfilemanagers1Click);
  on(About2, &QAction::triggered, &TForm1::About2Click);
  on(Manual1, &QAction::triggered, &TForm1::Manual1Click);
  on(Check1, &QAction::triggered, &TForm1::Check1Click);
  on(English1, &QAction::triggered, &TForm1::English1Click);
  on(Polski1, &QAction::triggered, &TForm1::Polski1Click);
  on(Deutsch1, &QAction::triggered, &TForm1::Deutsch1Click);
  for (QAction* entry : {Slowest1, Slow1, Average1, Fast1, Fastest1})
    connect(entry, &QAction::triggered, this, [this, entry] { Handle([this, entry] { Fastest1Click(entry); }); });
  on(Button2, &QPushButton::clicked, &TForm1::Button2Click);
  on(Button3, &QPushButton::clicked, &TForm1::Button3Click);
  on(Button4, &QPushButton::clicked, &TForm1::Button4Click);
  on(Button5, &QPushButton::clicked, &TForm1::Button5Click);
  on(Button6, &QPushButton::clicked, &TForm1::Button6Click);
  on(Button7, &QPushButton::clicked, &TForm1::Button7Click);
  on(Button8, &QPushButton::clicked, &TForm1::Button8Click);
  Image1->OnClick = [this] { Handle([this] { Image1Click(); }); };
  Image2->OnClick = [this] { Handle([this] { Image2Click(); }); };
  for (int key : {Qt::Key_F5, Qt::Key_F7}) {
    auto* shortcut = new QShortcut(QKeySequence(key), this);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, [this, key] { Handle([this, key] { FormKeyDown(key); }); });
  }
  StringGrid1->OnCellPressed = [this](int32_t col, int32_t row) { Handle([&] { Grid.FocusCell(col, row); }); };
  StringGrid1->OnKeyDown = [this](int key, Qt::KeyboardModifiers modifiers) {
    // The selection collapses and the current cell moves in one step, and
    // the pairing that follows sees both.
    Handle([&] {
      StringGrid1KeyDown(key);
      TGridCoord from = Grid.Current();
      TGridCoord to = StringGrid1->KeyTarget(key, modifiers, from);
      if (to != from) Grid.FocusCell(to.X, to.Y);
    });
  };
  StringGrid1->OnColumnMoved = [this](int32_t from, int32_t to) {
    Handle([&] { MoveGridColumn(Grid, from, to); });
  };
}

void TForm1::Handle(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    ShowError(e);
  }
  if (!FPairingDue || FPairing || Busy) return;
  TFirstFailure pairing;
  FPairing = true;
  pairing.Run([this] { Select2InStringGrid(); });
  FPairing = false;
  FPairingDue = false;
  try {
    pairing.Rethrow();
  } catch (const std::exception& e) {
    ShowError(e);
  }
}

void TForm1::ShowError(const std::exception& e) {
  FBoxes.ShowMessageBox(TMessageKind::mkError, mbOK, e.what(), ApplicationTitle);
}

void TForm1::FitTexts() {
  LayOutDetails({Label1, Label2, Label3, Label4, Label5}, {Label6, Label7, Label8, Label9, Label10});
  LayOutDetails({Label11, Label12, Label13, Label14, Label15}, {Label16, Label17, Label18, Label19, Label20});
  // The captions of another language leave the values another width.
  for (QLabel* value : {Label6, Label7, Label8, Label9, Label10, Label16, Label17, Label18, Label19, Label20})
    FitText(value, value->text(), FontPixels - 1, 0);
  for (QPushButton* button : {Button2, Button3, Button4, Button5, Button6, Button7, Button8})
    FitText(button, button->text(), FontPixels, 10);
}

TMessageButton TForm1::Box(TMessageKind kind, TMessageButtons buttons, const std::string& text) {
  return FBoxes.ShowMessageBox(kind, buttons, text, LoadResString(std::string(MessageKindCaption(kind)).c_str()));
}

void TForm1::GridChanged() {
  StringGrid1->GridChanged();
  FPairingDue = true;
}

// --- Start-up and the window's frame ---------------------------------------

void TForm1::FormCreate() {
  setWindowTitle(windowTitle() + QStringLiteral(" ") + QString::fromLatin1(ProgramVersion));
  TranslateComponent(this);
  FitTexts();
  if (CurrentLanguage() == "pl_PL") {
    Polski1->setChecked(true);
    English1->setChecked(false);
  }
  ProgramDir = QCoreApplication::applicationDirPath().toStdString() + "/";
  Busy = 0;
}

void TForm1::FormActivate() {
  if (FActivated) return;
  FActivated = true;
  if (Arguments.size() >= 2 && !Arguments[1].empty())
    SimilarityThreshold = static_cast<uint8_t>(StrToInt(Arguments[1]) & 0xFF);
  else
    SimilarityThreshold = 1;
  if (Arguments.empty() || Arguments[0].empty()) return;
  std::string dir = WinePathToUnix(Arguments[0], TWineEnvironment::FromProcess());
  if (dir.empty() || dir.back() != '/') dir += '/';
  ScanDir = dir;
  BeginFindingDups(false);
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (FActivated || FActivationPending) return;
  FActivationPending = true;
  StringGrid1->setFocus();
  // After the window has appeared, so that the confirmation stands over it.
  QTimer::singleShot(0, this, [this] { Handle([this] { FormActivate(); }); });
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (Busy) {
    // The search ends at its next look at the event queue; the window
    // closes when it has.
    FCloseRequested = true;
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

void TForm1::FormKeyDown(int key) {
  if (key == Qt::Key_F5 && Button3->isEnabled()) Button3Click();
  if (key == Qt::Key_F7 && Button4->isEnabled()) Button4Click();
}

// --- The search ------------------------------------------------------------

bool TForm1::BeginFindingDups(bool searchSubdirectories) {
  if (Busy) return false;
  const bool deleteWasEnabled = Button3->isEnabled();
  FDeleteEnabledBySearch = false;
  Opendirectory1->setEnabled(false);
  Button3->setEnabled(false);
  Button4->setEnabled(false);
  struct TRestore {
    TForm1& F;
    bool DeleteWasEnabled;
    ~TRestore() {
      F.Opendirectory1->setEnabled(true);
      F.Button3->setEnabled(DeleteWasEnabled || F.FDeleteEnabledBySearch);
      F.Button4->setEnabled(DeleteWasEnabled || F.FDeleteEnabledBySearch);
      // The grid is shown whole at once, and the pairing follows.
      F.StringGrid1->Synchronize();
      F.FPairingDue = true;
      if (F.FCloseRequested) QTimer::singleShot(0, &F, [&f = F] { f.close(); });
    }
  } restore{*this, deleteWasEnabled};
  return Finder.BeginFindingDups(searchSubdirectories);
}

std::string TForm1::ResourceText(std::string_view english) { return LoadResString(std::string(english).c_str()); }

TModalResult TForm1::ShowMessageBox(TMsgDlgType kind, TMsgDlgButtons buttons, const std::string& text) {
  return ResultOf(Box(KindOf(kind), ButtonsOf(buttons), text));
}

void TForm1::ShowProgressPanel(bool visible) {
  Panel3->setVisible(visible);
  if (visible) Panel3->raise();
}

void TForm1::SetStepProgress(int step, int position, const std::string& label) {
  (step == 1 ? ProgressBar1 : ProgressBar2)->setValue(position);
  (step == 1 ? Step1Label : Step2Label)->setText(FromUtf8(label));
}

void TForm1::ResetFilePanels(const std::string&) {
  for (int side = 0; side < 2; ++side)
    ClearSide(side, TPreviewState::psNone, ConstTxt::SFileName, QStringLiteral("0"));
}

void TForm1::SetStatusText(const std::string& text) { SetPlainCaption(StatusPanel1, FromUtf8(text)); }

void TForm1::EnableDeleteButtons() { FDeleteEnabledBySearch = true; }

bool TForm1::ProcessMessages() {
  FPump.ProcessMessages();
  return !FCloseRequested;
}

int64_t TForm1::PerformanceCounter() { return FCounter.Counter(); }

int64_t TForm1::PerformanceFrequency() { return FCounter.Frequency(); }

// --- The previews ----------------------------------------------------------

void TForm1::Select2InStringGrid() {
  if (Busy) return;
  // A preview that fails does not stop the selection from settling; the
  // first failure is reported when it has.
  TFirstFailure previews;
  SettleSelectionPair(Grid, [&](TGridCoord cell) { previews.Run([&] { PreviewImages(cell.X, cell.Y); }); });
  previews.Rethrow();
}

void TForm1::PreviewImages(int32_t col, int32_t row) {
  if (!PairPreviewable(Grid, col, row)) return;
  // Both sides always follow the pair, so that each panel names the cell
  // that a deletion removes; a side that fails is reported afterwards.
  TFirstFailure sides;
  for (int side = 0; side < 2; ++side) {
    PreviewCell[side] = TGridCoord{col + side, row};
    sides.Run([&] { PreviewSide(side, Grid.CellText(col + side, row)); });
  }
  sides.Rethrow();
}

std::array<QLabel*, 5> TForm1::ValueLabels(int side) const {
  if (side == 0) return {Label6, Label7, Label8, Label9, Label10};
  return {Label16, Label17, Label18, Label19, Label20};
}

void TForm1::ClearSide(int side, TPreviewState state, const char* caption, const QString& values) {
  PreviewState[side] = state;
  PreviewName[side].clear();
  SetCaption(side == 0 ? FilePanel1 : FilePanel2, caption);
  (side == 0 ? Image1 : Image2)->ReplacePicture(nullptr);
  (side == 0 ? FilePanel1 : FilePanel2)->setToolTip(QString());
  for (QLabel* label : ValueLabels(side)) label->setText(values);
}

void TForm1::PreviewSide(int side, const std::string& cell) {
  if (cell == NoDuplicateMark) {
    ClearSide(side, TPreviewState::psNoDuplicates, ConstTxt::SNoDuplicates, QString());
    return;
  }
  const std::array<QLabel*, 5> labels = ValueLabels(side);
  if (PreviewState[side] == TPreviewState::psFile && PreviewName[side] == cell) return;

  QLabel* panel = side == 0 ? FilePanel1 : FilePanel2;
  TImage* image = side == 0 ? Image1 : Image2;
  PreviewState[side] = TPreviewState::psFile;
  PreviewName[side] = cell;
  SetPlainCaption(panel, FromUtf8(cell));
  panel->setToolTip(PlainToolTip(FromUtf8(cell)));
  const std::string path = ScanDir + cell;
  try {
    image->Picture().LoadPictureFile(path);
  } catch (...) {
    // The previous file's picture and details would stand under this
    // file's name, and a deletion would remove this one.
    image->ReplacePicture(nullptr);
    for (QLabel* label : labels) label->clear();
    throw;
  }
  TPicture& picture = image->Picture();
  TGraphic* graphic = picture.CurrentGraphic();
  int64_t width = picture.PictureWidth(), height = picture.PictureHeight();
  if (graphic && graphic->Is<TJPEGImage>()) {
    auto* jpeg = static_cast<TJPEGImage*>(graphic);
    AdjustPreviewQuality(*jpeg);
    // The file's own size, not that of the preview's reduced decoding.
    width = jpeg->HeaderWidth();
    height = jpeg->HeaderHeight();
  }
  labels[0]->setText(FromUtf8(FormatFileSize(GetFileSizeOf(path))));
  labels[1]->setText(FromUtf8(Format(LoadResString(ConstTxt::SDimensions),
                                     {width, height, static_cast<long double>(width * height) / 1000000})));
  labels[2]->setText(FromUtf8(ColorDepthText(picture)));
  labels[3]->setText(FromUtf8(FormatNameText(graphic)));
  labels[4]->setText(FromUtf8(FileDateText(path)));
  for (QLabel* label : labels) FitText(label, label->text(), FontPixels - 1, 0);
  image->PaintImage();
}

void TForm1::AdjustPreviewQuality(TJPEGImage& graphic) {
  struct TQuality {
    QAction* Entry;
    TJpegDecodeScale Scale;
    TJpegDecodeSpeed Speed;
  };
  const TQuality qualities[] = {
      {Fastest1, ScaleEighth, SpeedBestSpeed}, {Fast1, ScaleEighth, SpeedBestQuality},
      {Average1, ScaleQuarter, SpeedBestQuality}, {Slow1, ScaleHalf, SpeedBestQuality},
      {Slowest1, ScaleFull, SpeedBestQuality},
  };
  for (const TQuality& q : qualities) {
    if (!q.Entry->isChecked()) continue;
    graphic.SetDecodeScale(q.Scale);
    graphic.SetDecodeSpeed(q.Speed);
    return;
  }
}

void TForm1::Fastest1Click(QAction* sender) {
  for (QAction* entry : {Slowest1, Slow1, Average1, Fast1, Fastest1}) entry->setChecked(false);
  sender->setChecked(true);
  TFirstFailure repaints;
  for (TImage* image : {Image1, Image2}) {
    TGraphic* graphic = image->Picture().CurrentGraphic();
    if (!graphic || !graphic->Is<TJPEGImage>()) continue;
    AdjustPreviewQuality(*static_cast<TJPEGImage*>(graphic));
    repaints.Run([image] { image->PaintImage(); });
  }
  repaints.Rethrow();
}

void TForm1::Image1Click() {
  if (PreviewState[0] == TPreviewState::psFile) FShell.Open(ScanDir + PreviewName[0]);
}

void TForm1::Image2Click() {
  if (PreviewState[1] == TPreviewState::psFile) FShell.Open(ScanDir + PreviewName[1]);
}

// --- Navigation ------------------------------------------------------------

void TForm1::Button8Click() { SelectPrevSet(Grid); }

void TForm1::Button7Click() { SelectNextSet(Grid); }

void TForm1::Button5Click() { SelectPrevDup(Grid); }

void TForm1::Button6Click() { SelectNextDup(Grid); }

void TForm1::StringGrid1KeyDown(int) { CollapseSelectionToLeft(Grid); }

// --- Deletion --------------------------------------------------------------

void TForm1::Button3Click() { DeleteSide(0); }

void TForm1::Button4Click() { DeleteSide(1); }

void TForm1::DeleteSide(int side) {
  // Only a file that the side shows can be deleted: not "filename" before a
  // preview, not the place of a file already gone, not one whose cell has
  // since been dragged away with its column.
  if (PreviewState[side] != TPreviewState::psFile) return;
  const TGridCoord cell = PreviewCell[side];
  if (Grid.CellText(cell.X, cell.Y) != PreviewName[side]) return;
  if (!DeleteImage(PreviewName[side])) return;
  ClearSide(side, TPreviewState::psNone, ConstTxt::SFileName, QStringLiteral("0"));
  UsunKomorke(side + 1);
}

bool TForm1::DeleteImage(const std::string& name) {
  if (Box(TMessageKind::mkWarning, mbYes | mbNo,
                            Format(LoadResString(ConstTxt::SConfirmDelete), {name})) != mbYes)
    return false;
  if (MoveToRecycleBin(ScanDir + name)) return true;
  Box(TMessageKind::mkError, mbOK, Format(LoadResString(ConstTxt::SCannotDelete), {name}));
  return false;
}

bool TForm1::MoveToRecycleBin(const std::string& path) {
  try {
    return FTrash.MoveToRecycleBin(path);
  } catch (const std::exception&) {
    return false;
  }
}

void TForm1::UsunKomorke(int side) {
  // Once the pairing has settled on a pair, these are the selection's left
  // and right cells. A selection that came to rest where no pair can be
  // previewed (an empty row, a gap left by a dragged column) leaves the
  // previews as they were, and the shown file's own cell is the one to go.
  if (side != 1 && side != 2) return;
  const TGridCoord cell = PreviewCell[side - 1];
  DeleteCell(cell.Y, cell.X);
}

void TForm1::DeleteCell(int32_t row, int32_t column) { tolvane::DeleteCell(Grid, row, column); }

// --- Menu commands ---------------------------------------------------------

void TForm1::Opendirectory1Click() {
  if (!SelDirectoryDlg || Busy) return;
  if (SelDirectoryDlg->ShowModal(SimilarityThreshold, ScanDir) != TSelDirectoryDlg::mrOk) return;
  std::string path = SelDirectoryDlg->SelectedPath;
  if (path.empty()) return;
  if (path.back() != '/') path += '/';
  const std::string previousDir = ScanDir;
  const uint8_t previousThreshold = SimilarityThreshold;
  ScanDir = path;
  SimilarityThreshold = static_cast<uint8_t>(SelDirectoryDlg->Treshold->value());
  if (BeginFindingDups(SelDirectoryDlg->CheckBox1->isChecked())) return;
  // Cancelled at the confirmation: the grid still holds the names of the
  // last search, which previews, deletions and the list resolve against
  // ScanDir.
  ScanDir = previousDir;
  SimilarityThreshold = previousThreshold;
}

void TForm1::Button2Click() {
  SaveDialog1->DefaultExt = "kvl";
  SaveDialog1->Filter = LoadResString(ConstTxt::SListFilter);
  if (!SaveDialog1->Execute()) return;
  Finder.SaveDuplicatesList(SaveDialog1->FileName);
}

void TForm1::About2Click() {
  if (AboutBox) AboutBox->exec();
}

void TForm1::Manual1Click() {
  if (FShell.Open(ProgramDir + "help.chm") == ShellFileNotFound)
    Box(TMessageKind::mkWarning, mbOK, LoadResString(ConstTxt::SNoHelpFile));
}

void TForm1::Installinfilemanagers1Click() {
  if (FShell.Run(ProgramDir + "setup") == ShellFileNotFound)
    Box(TMessageKind::mkWarning, mbOK, LoadResString(ConstTxt::SNoSetup));
}

void TForm1::Check1Click() { FShell.Open(DownloadPage); }

void TForm1::ChooseLanguage(const char* code, QAction* entry) {
  SelectLanguage(code);
  RetranslateComponent(this);
  FitTexts();
  for (QAction* e : {Polski1, English1, Deutsch1}) e->setChecked(false);
  entry->setChecked(true);
}

void TForm1::English1Click() { ChooseLanguage("en", English1); }

void TForm1::Polski1Click() { ChooseLanguage("pl", Polski1); }

void TForm1::Deutsch1Click() { ChooseLanguage("de", Deutsch1); }

void TForm1::SelectTickedLanguage() {
  if (English1->isChecked()) SelectLanguage("en");
  else if (Polski1->isChecked()) SelectLanguage("pl");
  else if (Deutsch1->isChecked()) SelectLanguage("de");
}

}  // namespace tolvane
