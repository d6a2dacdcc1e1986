// The main window of ravelk: the result grid, the two previews with their
// file details, deletion to the trash, the duplicates list and the menus.
#pragma once

#include <QMainWindow>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/DuplicateSearch.h"
#include "platform/EventPump.h"
#include "platform/FileDialogs.h"
#include "platform/MessageBoxes.h"
#include "platform/PerformanceCounter.h"
#include "platform/Shell.h"
#include "platform/Trash.h"

class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QStatusBar;

namespace tolvane {

class TAboutBox;
class TImage;
class TJPEGImage;
class TSelDirectoryDlg;
class TStringGridView;

// The application's title: the caption of its standard error box.
inline constexpr const char* ApplicationTitle = "Tolvane";
inline constexpr const char* ProgramVersion = "v 1.4";
// Where "Check for updates" leads.
inline constexpr const char* DownloadPage = "https://tolvane.example/?s=download";

// The desktop's services that the window uses; all must outlive it.
struct TForm1Services {
  TMessageBoxes& Boxes;
  TRecycleBin& Trash;
  TShell& Shell;
  TEventPump& Pump;
  TPerformanceCounter& Counter;
  std::unique_ptr<TSaveDialog> SaveDialog;
};

// What one side of the previews shows.
enum class TPreviewState : uint8_t { psNone, psFile, psNoDuplicates };

class TForm1 : public QMainWindow, private TFinderView {
public:
  // arguments: the command line without the program's name.
  TForm1(TForm1Services services, std::vector<std::string> arguments, QWidget* parent = nullptr);
  ~TForm1() override;

  // Event handlers.
  void FormCreate();
  // Acts on the command line; only the first call does anything.
  void FormActivate();
  void FormKeyDown(int key);
  void Opendirectory1Click();
  void Button2Click();
  void Button3Click();
  void Button4Click();
  void Button5Click();
  void Button6Click();
  void Button7Click();
  void Button8Click();
  void Image1Click();
  void Image2Click();
  void Fastest1Click(QAction* sender);
  void Installinfilemanagers1Click();
  void About2Click();
  void Manual1Click();
  void Check1Click();
  void English1Click();
  void Polski1Click();
  void Deutsch1Click();
  void StringGrid1KeyDown(int key);
  // The language of the secondary windows: that of the ticked entry of the
  // "Language" menu; with none ticked, the language stays.
  void SelectTickedLanguage();

  // The search of ScanDir (Busy while it runs; "Start" disabled). False
  // when no search started.
  bool BeginFindingDups(bool searchSubdirectories);
  // Pairs the selection and previews the pair, as often as it takes the
  // selection to settle; nothing while a search runs.
  void Select2InStringGrid();
  void PreviewImages(int32_t col, int32_t row);
  void AdjustPreviewQuality(TJPEGImage& graphic);
  bool DeleteImage(const std::string& name);
  bool MoveToRecycleBin(const std::string& path);
  // Removes the cell that side 1 (left) or 2 (right) was previewed from.
  void UsunKomorke(int side);
  void DeleteCell(int32_t row, int32_t column);

  // Runs an event handler; an exception that leaves it is shown in the
  // application's standard error box, and the window goes on. Afterwards the
  // selection is paired again when the grid or the selection has changed.
  void Handle(const std::function<void()>& handler);

  // State. The search's own fields, under the names the window uses.
  TDuplicateFinder Finder;
  std::string& ScanDir;
  uint8_t& SimilarityThreshold;
  uint8_t& Busy;
  TStringGrid& Grid;
  std::string ProgramDir;
  std::vector<std::string> Arguments;
  // Shown by "Start" and "About"; made after the window (by main or a test).
  TSelDirectoryDlg* SelDirectoryDlg = nullptr;
  TAboutBox* AboutBox = nullptr;
  // What each side of the previews shows, the name of its file and the
  // cell it was previewed from.
  TPreviewState PreviewState[2] = {TPreviewState::psNone, TPreviewState::psNone};
  std::string PreviewName[2];
  TGridCoord PreviewCell[2];

  // Controls.
  QLabel* Panel1;
  TStringGridView* StringGrid1;
  QLabel* Panel2;
  QFrame* ImgPrevPanel1;
  QFrame* ImgPrevPanel2;
  TImage* Image1;
  TImage* Image2;
  QLabel* FilePanel1;
  QLabel* FilePanel2;
  QGroupBox* GroupBox1;
  QGroupBox* GroupBox2;
  QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label7, *Label8, *Label9, *Label10;
  QLabel *Label11, *Label12, *Label13, *Label14, *Label15, *Label16, *Label17, *Label18, *Label19, *Label20;
  QPushButton* Button2;
  QPushButton* Button3;
  QPushButton* Button4;
  QPushButton* Button5;
  QPushButton* Button6;
  QPushButton* Button7;
  QPushButton* Button8;
  QStatusBar* StatusBar1;
  QLabel* StatusPanel1;
  QFrame* Panel3;
  QLabel* Panel4;
  QLabel *Label21, *Label22, *Label23;
  QProgressBar* ProgressBar1;
  QProgressBar* ProgressBar2;
  QLabel* Step1Label;
  QLabel* Step2Label;
  std::unique_ptr<TSaveDialog> SaveDialog1;
  QMenuBar* MainMenu1;
  QAction* Opendirectory1;
  QMenu* Options1;
  QMenu* Imagepreview1;
  QAction *Slowest1, *Slow1, *Average1, *Fast1, *Fastest1;
  QAction* Installinfilemanagers1;
  QMenu* Language1;
  QAction *Polski1, *English1, *Deutsch1;
  QMenu* Help1;
  QAction* About2;
  QAction* Manual1;
  QAction* Check1;

protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

private:
  // TFinderView: what the search does to the window.
  std::string ResourceText(std::string_view english) override;
  TModalResult ShowMessageBox(TMsgDlgType kind, TMsgDlgButtons buttons, const std::string& text) override;
  void ShowProgressPanel(bool visible) override;
  void SetStepProgress(int step, int position, const std::string& label) override;
  void ResetFilePanels(const std::string& fileNameText) override;
  void SetStatusText(const std::string& text) override;
  void EnableDeleteButtons() override;
  bool ProcessMessages() override;
  int64_t PerformanceCounter() override;
  int64_t PerformanceFrequency() override;

  void CreateControls();
  void CreateMenu();
  void Connect();
  // One side of PreviewImages: 0 left, 1 right.
  void PreviewSide(int side, const std::string& cell);
  // One side shows no file: its panel shows caption, its details values.
  void ClearSide(int side, TPreviewState state, const char* caption, const QString& values);
  // The five file details of a side, in order.
  std::array<QLabel*, 5> ValueLabels(int side) const;
  void DeleteSide(int side);
  void ChooseLanguage(const char* code, QAction* entry);
  // Lays the texts out for their widths in the current language.
  void FitTexts();
  void GridChanged();
  void ShowError(const std::exception& e);
  // A message box with the title of its kind, in the current language.
  TMessageButton Box(TMessageKind kind, TMessageButtons buttons, const std::string& text);

  TMessageBoxes& FBoxes;
  TRecycleBin& FTrash;
  TShell& FShell;
  TEventPump& FPump;
  TPerformanceCounter& FCounter;
  // Set when the grid or its selection changed since the last pairing.
  bool FPairingDue = false;
  bool FPairing = false;
  // The command line is acted on once, when the window is first shown.
  bool FActivated = false;
  bool FActivationPending = false;
  bool FCloseRequested = false;
  bool FDeleteEnabledBySearch = false;
};

}  // namespace tolvane
