// The window of setup: the file managers to patch, and Install / Cancel.
#pragma once

#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "platform/FileDialogs.h"
#include "platform/MessageBoxes.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace tolvane {

// The application's title: the caption of its standard error box.
inline constexpr const char* ApplicationTitle = "Tolvane Installer";

// setup's window: its own namespace, so that it and ravelk's main window,
// which share the class name, never meet under one qualified name.
namespace setup {

class TForm1 : public QWidget {
public:
  // Message boxes go to boxes (which must outlive the window); the open
  // dialog is the window's own.
  TForm1(TMessageBoxes& boxes, std::unique_ptr<TOpenDialog> openDialog, QWidget* parent = nullptr);

  void FormCreate();
  void Button1Click();
  void Button2Click();
  bool InstallTotal(const std::string& executable);
  bool InstallUnreal(const std::string& executable);
  bool InstallFree(const std::string& executable);
  bool Backup(const std::string& path);

  QGroupBox* GroupBox1;
  QCheckBox* TotalCommanderCheck;
  QCheckBox* UnrealCommanderCheck;
  QCheckBox* FreeCommanderCheck;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QPushButton* Button1;
  QPushButton* Button2;
  std::unique_ptr<TOpenDialog> OpenDialog1;

  // The finder beside this program, as the file managers name it.
  std::string ProgramPath;
  // Called when the window has closed; the program ends there (a tool
  // window does not count as the application's last window for Qt).
  std::function<void()> OnClose;

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  // Runs an event handler; what it raises is shown in the application's
  // standard error box, since nothing may pass through Qt's event loop.
  void Handle(const std::function<void()>& handler);

  TMessageBoxes& Boxes;
};

// setup's own run: makes the window, shows it and runs the application's
// event loop until the window closes; returns the loop's exit code. Needs
// the QApplication made.
int RunSetup(TMessageBoxes& boxes, std::unique_ptr<TOpenDialog> openDialog);

}  // namespace setup
}  // namespace tolvane
