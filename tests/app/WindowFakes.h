// Stand-ins for the desktop's services of ravelk's windows (the message boxes
// and the file dialogs are the shared fakes of tests/support), and pictures
// made with ImageMagick for them to show.
#pragma once

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

#include "platform/EventPump.h"
#include "platform/PerformanceCounter.h"
#include "platform/Shell.h"
#include "platform/Trash.h"
#include "support/FileDialogFakes.h"
#include "support/MessageBoxFakes.h"

extern char** environ;

namespace tolvane::test {

class TRecordingTrash : public TRecycleBin {
public:
  bool MoveToRecycleBin(const std::string& path) override {
    Moved.push_back(path);
    return Succeeds;
  }
  bool Succeeds = true;
  std::vector<std::string> Moved;
};

// Records what would be opened or run; a path that names no file answers
// "file not found", as the desktop's shell does.
class TRecordingShell : public TShell {
public:
  int Open(const std::string& target) override {
    Opened.push_back(target);
    return IsUrl(target) || Exists(target) ? ShellOk : ShellFileNotFound;
  }
  int Run(const std::string& program) override {
    Ran.push_back(program);
    return Exists(program) ? ShellOk : ShellFileNotFound;
  }
  static bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
  }
  std::vector<std::string> Opened;
  std::vector<std::string> Ran;
};

class TFakePump : public TEventPump {
public:
  void ProcessMessages() override {
    ++Calls;
    if (OnProcess) OnProcess();
  }
  int Calls = 0;
  std::function<void()> OnProcess;
};

// Each reading of the counter is 1.5 seconds after the one before.
class TFakeCounter : public TPerformanceCounter {
public:
  int64_t Counter() override { return Now += 3 * Frequency_ / 2; }
  int64_t Frequency() override { return Frequency_; }
  int64_t Frequency_ = 1000;
  int64_t Now = 0;
};

// Runs ImageMagick's convert with args; true when it succeeded.
inline bool Convert(const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>("convert")};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, "convert", nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Once a modal dialog of class T is up, calls act with it from inside its
// own event loop.
template <class T>
void WhenModal(std::function<void(T*)> act) {
  QTimer::singleShot(0, [act] {
    if (auto* dialog = dynamic_cast<T*>(QApplication::activeModalWidget()))
      act(dialog);
    else
      WhenModal<T>(act);
  });
}

}  // namespace tolvane::test
