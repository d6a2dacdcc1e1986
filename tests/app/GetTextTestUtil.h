// Catalogues made by msgfmt at test time, and other helpers of the
// translation tests.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace tolvane::test {

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// Runs a command through the shell and returns its standard output.
inline std::string RunCommand(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) throw std::runtime_error("popen failed");
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  int rc = ::pclose(pipe);
  if (status) *status = rc;
  return out;
}

// A fresh directory, removed with its contents.
using TScratchDir = TTempDir;

// msgid/msgstr pairs as a .po text in UTF-8.
inline std::string PoText(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string po = "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n";
  auto quote = [](const std::string& s) {
    std::string q = "\"";
    for (char c : s) {
      if (c == '"' || c == '\\') q += '\\';
      if (c == '\n') q += "\\n";
      else q += c;
    }
    return q + "\"";
  };
  for (const auto& [id, str] : entries) po += "\nmsgid " + quote(id) + "\nmsgstr " + quote(str) + "\n";
  return po;
}

// The catalogue that msgfmt makes of po (with extra options such as
// "--endianness=big").
inline std::string Msgfmt(const std::string& po, const std::string& options = "") {
  TScratchDir dir;
  WriteBytes(dir.Path + "/in.po", po);
  int status = 0;
  RunCommand("msgfmt " + options + " -o '" + dir.Path + "/out.mo' '" + dir.Path + "/in.po' 2>&1", &status);
  if (status != 0) throw std::runtime_error("msgfmt failed");
  return ReadBytes(dir.Path + "/out.mo");
}

}  // namespace tolvane::test
