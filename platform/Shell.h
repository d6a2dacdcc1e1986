// The desktop shell's "open" verb: a file, folder or web address opened by
// the program the desktop associates with it (xdg-open), started detached.
#pragma once

#include <string>

namespace tolvane {

// Results of Open, as the desktop shell reports them.
enum : int { ShellOk = 0, ShellFileNotFound = 2, ShellFailed = 31 };

class TShell {
public:
  virtual ~TShell() = default;
  // Opens a path or a URL. ShellFileNotFound when a path names no file.
  virtual int Open(const std::string& target) = 0;
  // Starts a program file without arguments. ShellFileNotFound when there
  // is no such file, ShellFailed when it cannot be started.
  virtual int Run(const std::string& program) = 0;
};

// Starts xdg-open with the target as its one argument, never through a
// shell, in a session of its own; the child is reaped in the background.
// Run starts the program itself the same way.
class TXdgShell : public TShell {
public:
  explicit TXdgShell(std::string program = "xdg-open") : FProgram(std::move(program)) {}
  int Open(const std::string& target) override;
  int Run(const std::string& program) override;

private:
  std::string FProgram;
};

// True for a web address ("scheme://...") rather than a path.
bool IsUrl(const std::string& target);

}  // namespace tolvane
