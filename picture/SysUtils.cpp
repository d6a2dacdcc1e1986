#include "SysUtils.h"

#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstring>
#include <langinfo.h>
#include <limits>
#include <locale.h>

namespace tolvane {

TFormatSettings& FormatSettings() {
  static TFormatSettings settings;
  return settings;
}

void LoadFormatSettingsFromLocale() {
  locale_t loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr));
  if (!loc) return;
  const char* radix = nl_langinfo_l(RADIXCHAR, loc);
  const char* thousands = nl_langinfo_l(THOUSEP, loc);
  auto& fs = FormatSettings();
  if (radix && *radix) fs.DecimalSeparator = radix;
  // Locales without grouping (C, POSIX) name no separator; keep a visible one.
  fs.ThousandSeparator = (thousands && *thousands) ? thousands : ",";
  freelocale(loc);
}

namespace {

[[noreturn]] void RaiseFormatError(std::string_view fmt) {
  std::string f(fmt);
  // The message names the format itself; it must not be formatted again.
  throw EConvertError(std::string("Format '") + f + "' invalid or incompatible with argument");
}

// Decimal digits and exponent of a real, rounded to the given number of
// decimals half away from zero on its 18-digit decimal form, so 1.125
// gives "1.13" where binary rounding would give "1.12".
std::string FixedDigits(long double value, int decimals, bool& negative) {
  negative = std::signbit(value) && value != 0;
  if (negative) value = -value;
  if (!std::isfinite(value)) return std::isnan(value) ? "NAN" : "INF";
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 17);
  std::string sci(buf, res.ptr);
  // sci = d.ddddddddddddddddde[+-]xx
  auto epos = sci.find('e');
  int exp10 = std::stoi(sci.substr(epos + 1));
  std::string digits = sci.substr(0, 1) + sci.substr(2, epos - 2);  // 18 digits
  // Position (in digits) of the last kept digit: integer digits = exp10 + 1.
  int keep = exp10 + 1 + decimals;
  std::string intPart, fracPart;
  if (keep < 0) {
    digits = "0";
    exp10 = 0;
  } else {
    bool roundUp = keep < static_cast<int>(digits.size()) && digits[keep] >= '5';
    if (keep < static_cast<int>(digits.size())) digits.resize(keep);
    if (roundUp) {
      int i = static_cast<int>(digits.size()) - 1;
      while (i >= 0 && digits[i] == '9') digits[i--] = '0';
      if (i >= 0) {
        ++digits[i];
      } else {
        digits.insert(digits.begin(), '1');
        ++exp10;
      }
    }
    if (digits.empty()) digits = "0", exp10 = decimals > 0 ? -decimals : 0;
  }
  // Lay the digits out as integer part '.' fraction.
  int intDigits = exp10 + 1;
  std::string out;
  if (intDigits <= 0) {
    out = "0";
    fracPart = std::string(-intDigits, '0') + digits;
  } else {
    if (static_cast<int>(digits.size()) < intDigits) digits.append(intDigits - digits.size(), '0');
    out = digits.substr(0, intDigits);
    fracPart = digits.substr(intDigits);
  }
  out.erase(0, std::min(out.find_first_not_of('0'), out.size() - 1));
  if (static_cast<int>(fracPart.size()) < decimals) fracPart.append(decimals - fracPart.size(), '0');
  fracPart.resize(decimals);
  bool allZero = out == "0" && fracPart.find_first_not_of('0') == std::string::npos;
  if (allZero) negative = false;
  return decimals > 0 ? out + "." + fracPart : out;
}

std::string Group(const std::string& intPart) {
  std::string out;
  const std::string& sep = FormatSettings().ThousandSeparator;
  int n = static_cast<int>(intPart.size());
  for (int i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out += sep;
    out += intPart[i];
  }
  return out;
}

std::string LocaliseReal(std::string fixed, bool thousands) {
  auto dot = fixed.find('.');
  std::string intPart = fixed.substr(0, dot);
  std::string frac = dot == std::string::npos ? "" : fixed.substr(dot + 1);
  if (thousands) intPart = Group(intPart);
  return frac.empty() ? intPart : intPart + FormatSettings().DecimalSeparator + frac;
}

long double AsReal(const TFormatArg& a, std::string_view fmt) {
  if (auto* r = std::get_if<long double>(&a.Value)) return *r;
  RaiseFormatError(fmt);
}

int64_t AsInt(const TFormatArg& a, std::string_view fmt) {
  if (auto* i = std::get_if<int64_t>(&a.Value)) return *i;
  RaiseFormatError(fmt);
}

}  // namespace

std::string Format(std::string_view fmt, std::initializer_list<TFormatArg> args) {
  std::string out;
  auto arg = args.begin();
  for (size_t i = 0; i < fmt.size(); ++i) {
    char c = fmt[i];
    if (c != '%') {
      out += c;
      continue;
    }
    if (++i >= fmt.size()) RaiseFormatError(fmt);
    if (fmt[i] == '%') {
      out += '%';
      continue;
    }
    bool left = false;
    if (fmt[i] == '-') left = true, ++i;
    int width = 0, precision = -1;
    while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') width = width * 10 + (fmt[i++] - '0');
    if (i < fmt.size() && fmt[i] == '.') {
      precision = 0;
      ++i;
      while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') precision = precision * 10 + (fmt[i++] - '0');
    }
    if (i >= fmt.size() || arg == args.end()) RaiseFormatError(fmt);
    char conv = static_cast<char>(fmt[i] | 0x20);
    const TFormatArg& a = *arg++;
    std::string text;
    switch (conv) {
      case 's': {
        auto* s = std::get_if<std::string>(&a.Value);
        if (!s) RaiseFormatError(fmt);
        text = precision >= 0 ? s->substr(0, precision) : *s;
        break;
      }
      case 'd':
      case 'u': {
        int64_t v = AsInt(a, fmt);
        if (conv == 'u') v = static_cast<uint32_t>(v);
        bool neg = v < 0;
        uint64_t mag = neg ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
        text = std::to_string(mag);
        if (precision > static_cast<int>(text.size())) text.insert(0, precision - text.size(), '0');
        if (neg) text.insert(0, "-");
        break;
      }
      case 'x': {
        int64_t v = AsInt(a, fmt);
        uint64_t u = v < 0 && v >= INT32_MIN ? static_cast<uint32_t>(v) : static_cast<uint64_t>(v);
        text = IntToHex(u, precision > 0 ? precision : 1);
        break;
      }
      case 'f':
      case 'n': {
        bool neg;
        std::string fixed = FixedDigits(AsReal(a, fmt), precision < 0 ? 2 : precision, neg);
        text = (neg ? "-" : "") + LocaliseReal(fixed, conv == 'n');
        break;
      }
      case 'e':
      case 'g': {
        long double v = AsReal(a, fmt);
        char buf[80];
        int prec = precision < 0 ? 15 : precision;
        auto res = std::to_chars(buf, buf + sizeof buf, static_cast<double>(v),
                                 conv == 'e' ? std::chars_format::scientific : std::chars_format::general,
                                 conv == 'e' ? std::max(prec - 1, 0) : std::max(prec, 1));
        std::string s(buf, res.ptr);
        for (auto& ch : s) ch = static_cast<char>(ch == 'e' ? 'E' : ch);
        auto dot = s.find('.');
        if (dot != std::string::npos) s.replace(dot, 1, FormatSettings().DecimalSeparator);
        text = s;
        break;
      }
      default:
        RaiseFormatError(fmt);
    }
    if (static_cast<int>(text.size()) < width) {
      std::string pad(width - text.size(), ' ');
      text = left ? text + pad : pad + text;
    }
    out += text;
  }
  return out;
}

std::string IntToStr(int64_t value) { return std::to_string(value); }

std::string IntToHex(uint64_t value, int digits) {
  static const char hex[] = "0123456789ABCDEF";
  std::string s;
  do {
    s.insert(s.begin(), hex[value & 15]);
    value >>= 4;
  } while (value);
  if (static_cast<int>(s.size()) < digits) s.insert(0, digits - s.size(), '0');
  return s;
}

bool TryStrToInt(std::string_view text, int32_t& value) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool neg = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) neg = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return false;
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    int d;
    char c = text[i];
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && (c | 0x20) >= 'a' && (c | 0x20) <= 'f') d = (c | 0x20) - 'a' + 10;
    else return false;
    v = v * base + d;
    if (v > (base == 16 ? int64_t{0xFFFFFFFF} : int64_t{0x80000000})) return false;
  }
  if (base == 16) {
    v = static_cast<int32_t>(static_cast<uint32_t>(v));
    if (neg) v = -v;
  } else {
    if (neg) v = -v;
    if (v > INT32_MAX || v < INT32_MIN) return false;
  }
  value = static_cast<int32_t>(v);
  return true;
}

int32_t StrToInt(std::string_view text) {
  int32_t v;
  if (!TryStrToInt(text, v)) throw EConvertError(Format(SysConst::SInvalidInteger, {std::string(text)}));
  return v;
}

std::string LowerCase(std::string_view s) {
  std::string r(s);
  for (auto& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return r;
}

std::string UpperCase(std::string_view s) {
  std::string r(s);
  for (auto& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return r;
}

bool SameText(std::string_view a, std::string_view b) { return a.size() == b.size() && LowerCase(a) == LowerCase(b); }

std::string ExtractFileExt(std::string_view fileName) {
  auto dot = fileName.find_last_of('.');
  if (dot == std::string_view::npos) return {};
  if (fileName.find_first_of("/", dot) != std::string_view::npos) return {};
  return std::string(fileName.substr(dot));
}

std::string ExtractFilePath(std::string_view fileName) {
  auto slash = fileName.find_last_of('/');
  return slash == std::string_view::npos ? std::string() : std::string(fileName.substr(0, slash + 1));
}

std::string ExtractFileName(std::string_view fileName) {
  auto slash = fileName.find_last_of('/');
  return std::string(slash == std::string_view::npos ? fileName : fileName.substr(slash + 1));
}

std::string SysErrorMessage(int err) {
  char buf[256];
  // GNU strerror_r returns the message pointer.
  const char* msg = strerror_r(err, buf, sizeof buf);
  return msg ? msg : "";
}

void RaiseInOutError(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      throw EInOutError(SysConst::SFileNotFound);
    case EACCES:
    case EPERM:
    case EROFS:
      throw EInOutError(SysConst::SAccessDenied);
    case ENOSPC:
    case EDQUOT:
      throw EInOutError(SysConst::SDiskFull);
    default:
      throw EInOutError(Format(SysConst::SInOutError, {err}));
  }
}

}  // namespace tolvane
