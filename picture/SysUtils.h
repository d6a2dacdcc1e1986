// Exceptions, message formatting and small string helpers shared by every
// module. The exception classes carry the names that messages such as
// "Cannot assign a %s to a %s" show, so each reports its own ClassName().
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace tolvane {

class Exception : public std::exception {
public:
  explicit Exception(std::string message) : Message(std::move(message)) {}
  const char* what() const noexcept override { return Message.c_str(); }
  virtual const char* ClassName() const noexcept { return "Exception"; }
  // Whether this exception's class is cls or derives from it, by name.
  virtual bool IsA(std::string_view cls) const noexcept { return cls == "Exception"; }

  std::string Message;
};

// Declares an exception class with its parent; ClassName() names it.
#define TOLVANE_EXCEPTION(Name, Parent)                                              \
  class Name : public Parent {                                                       \
  public:                                                                            \
    using Parent::Parent;                                                            \
    const char* ClassName() const noexcept override { return #Name; }                \
    bool IsA(std::string_view cls) const noexcept override {                         \
      return cls == #Name || Parent::IsA(cls);                                       \
    }                                                                                \
  }

TOLVANE_EXCEPTION(EAbort, Exception);
TOLVANE_EXCEPTION(EConvertError, Exception);
TOLVANE_EXCEPTION(EInOutError, Exception);
TOLVANE_EXCEPTION(EOutOfResources, Exception);
TOLVANE_EXCEPTION(EStreamError, Exception);
TOLVANE_EXCEPTION(EReadError, EStreamError);
TOLVANE_EXCEPTION(EWriteError, EStreamError);
TOLVANE_EXCEPTION(EFOpenError, EStreamError);
TOLVANE_EXCEPTION(EFCreateError, EStreamError);

// The texts that the framework raises (the messages of its exceptions).
namespace SysConst {
inline constexpr const char* SReadError = "Stream read error";
inline constexpr const char* SWriteError = "Stream write error";
inline constexpr const char* SFOpenErrorEx = "Cannot open file \"%s\". %s";
inline constexpr const char* SFCreateErrorEx = "Cannot create file \"%s\". %s";
inline constexpr const char* SInvalidInteger = "'%s' is not a valid integer value";
inline constexpr const char* SOutOfResources = "Out of system resources";
inline constexpr const char* SOperationAborted = "Operation aborted";
inline constexpr const char* SInvalidFormat = "Format '%s' invalid or incompatible with argument";
inline constexpr const char* SDateEncodeError = "Invalid argument to date encode";
inline constexpr const char* SFileNotFound = "File not found";
inline constexpr const char* SAccessDenied = "File access denied";
inline constexpr const char* SDiskFull = "Disk full";
inline constexpr const char* SInOutError = "I/O error %d";
}  // namespace SysConst

// One argument of Format: an integer, a real or a text.
class TFormatArg {
public:
  TFormatArg(int v) : Value(static_cast<int64_t>(v)) {}
  TFormatArg(unsigned v) : Value(static_cast<int64_t>(v)) {}
  TFormatArg(long v) : Value(static_cast<int64_t>(v)) {}
  TFormatArg(unsigned long v) : Value(static_cast<int64_t>(v)) {}
  TFormatArg(long long v) : Value(static_cast<int64_t>(v)) {}
  TFormatArg(unsigned long long v) : Value(static_cast<int64_t>(v)) {}
  TFormatArg(double v) : Value(static_cast<long double>(v)) {}
  TFormatArg(long double v) : Value(v) {}
  TFormatArg(const char* v) : Value(std::string(v ? v : "")) {}
  TFormatArg(std::string_view v) : Value(std::string(v)) {}
  TFormatArg(const std::string& v) : Value(v) {}

  std::variant<int64_t, long double, std::string> Value;
};

// Separators that "%f", "%n" and the size texts use; set from the user's
// locale at start-up (never read from the C library while formatting, so a
// German locale cannot leak into a reader's number parsing).
struct TFormatSettings {
  std::string DecimalSeparator = ".";
  std::string ThousandSeparator = ",";
};
TFormatSettings& FormatSettings();
// Fills FormatSettings() from the C library's LC_NUMERIC of the environment.
void LoadFormatSettingsFromLocale();

// Formats a message: %s, %d, %u, %x (upper-case hex digits), %f (fixed),
// %n (fixed with thousands separators), %e, %g and %%, each with optional
// "-", width and ".precision" ("%8.2n", "%1.2f"). %f and %n default to two
// decimals. A conversion that does not fit its argument raises EConvertError.
std::string Format(std::string_view fmt, std::initializer_list<TFormatArg> args);

std::string IntToStr(int64_t value);
std::string IntToHex(uint64_t value, int digits);
// Decimal (or "$"/"0x" hexadecimal) text to a 32-bit integer; anything else
// raises EConvertError "'%s' is not a valid integer value".
int32_t StrToInt(std::string_view text);
bool TryStrToInt(std::string_view text, int32_t& value);

// ASCII-only case changes: non-ASCII bytes of UTF-8 names stay as they are.
std::string LowerCase(std::string_view s);
std::string UpperCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b);

// The extension of a file name: the text from its last "." (dot included),
// or empty when there is no dot or a path separator follows the last dot.
std::string ExtractFileExt(std::string_view fileName);
// The directory part of a path with its trailing "/", or empty.
std::string ExtractFilePath(std::string_view fileName);
std::string ExtractFileName(std::string_view fileName);

// Raises EInOutError with the text for a failed system call's errno.
[[noreturn]] void RaiseInOutError(int err);
// The system's text for errno err.
std::string SysErrorMessage(int err);

}  // namespace tolvane
