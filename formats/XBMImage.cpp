#include "XBMImage.h"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

namespace tolvane {

TOLVANE_DEFINE_CREATABLE_CLASS(TXBMImage, TBitmap)

namespace {

const char* const SNotValidXBM = "Not a valid XBM file";
const char* const SNotSupported = "Not supported!";

// A header line longer than this is no X Bitmap; data lines are never held
// whole, so a file of one enormous line costs no more than its picture.
constexpr size_t MaxHeaderLine = 64 * 1024;

// Bytes of a text file with a few bytes of look-ahead. Lines end at LF,
// CR LF or a lone CR.
class TTextReader {
public:
  explicit TTextReader(TStream& stream) : FStream(stream), FBuffer(8192) {}

  // The byte k places ahead, or -1 past the end of the file.
  int Peek(size_t k) {
    if (FLength - FPos <= k) Fill(k + 1);
    return FLength - FPos > k ? FBuffer[FPos + k] : -1;
  }
  void Skip(size_t n) { FPos += std::min(n, FLength - FPos); }
  bool AtEnd() { return Peek(0) < 0; }
  // Whether byte k ahead ends the line (or the file).
  bool EndsLine(size_t k) {
    int c = Peek(k);
    return c < 0 || c == '\r' || c == '\n';
  }
  // Consumes the line end at the read position, if there is one.
  void SkipLineEnd() {
    int c = Peek(0);
    if (c == '\r') {
      Skip(1);
      if (Peek(0) == '\n') Skip(1);
    } else if (c == '\n') {
      Skip(1);
    }
  }
  // The next line without its end; false when it is longer than maxLength.
  bool ReadLine(std::string& line, size_t maxLength) {
    line.clear();
    while (!EndsLine(0)) {
      if (line.size() == maxLength) return false;
      line.push_back(static_cast<char>(Peek(0)));
      Skip(1);
    }
    SkipLineEnd();
    return true;
  }

private:
  void Fill(size_t need) {
    if (FEof) return;
    std::copy(FBuffer.begin() + static_cast<ptrdiff_t>(FPos), FBuffer.begin() + static_cast<ptrdiff_t>(FLength),
              FBuffer.begin());
    FLength -= FPos;
    FPos = 0;
    while (FLength < need) {
      size_t n = FStream.Read(FBuffer.data() + FLength, FBuffer.size() - FLength);
      if (n == 0) {
        FEof = true;
        break;
      }
      FLength += n;
    }
  }

  TStream& FStream;
  std::vector<uint8_t> FBuffer;
  size_t FPos = 0, FLength = 0;
  bool FEof = false;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The number that follows key on a header line: from the second character
// after key to the end of the line, blanks removed.
int32_t HeaderNumber(const std::string& line, const std::string& key) {
  size_t at = line.find(key);
  if (at == std::string::npos) throw Exception(SNotValidXBM);
  std::string text = line.substr(std::min(at + key.size() + 1, line.size()));
  text.erase(std::remove_if(text.begin(), text.end(), IsBlank), text.end());
  return StrToInt(text);
}

int HexDigit(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Finds "bits[]" in a line fed one byte at a time (the pattern repeats none
// of its prefixes, so a mismatch restarts at its first byte).
class TBitsMarker {
public:
  bool Feed(int c) {
    static constexpr char Pattern[] = "bits[]";
    if (c == Pattern[FMatched]) ++FMatched;
    else FMatched = c == Pattern[0] ? 1 : 0;
    if (FMatched < sizeof Pattern - 1) return false;
    FMatched = 0;
    return true;
  }
  void Reset() { FMatched = 0; }

private:
  size_t FMatched = 0;
};

// Where the data bytes of the file go: row after row of Ceil(width / 8) bytes.
class TRowFiller {
public:
  TRowFiller(TBitmap& bitmap, int32_t width, int32_t height)
      : FBitmap(bitmap), FRowBytes((static_cast<size_t>(width) + 7) / 8), FHeight(height) {
    FRow = FBitmap.RowPointer(0);
  }
  // Stores one file byte; true once the last row is complete.
  bool Store(uint8_t fileByte) {
    FRow[FByte++] = static_cast<uint8_t>(~ReverseBits(fileByte));
    if (FByte < FRowBytes) return false;
    FByte = 0;
    if (++FRowIndex == FHeight) return true;
    FRow = FBitmap.RowPointer(FRowIndex);
    return false;
  }

private:
  TBitmap& FBitmap;
  const size_t FRowBytes;
  const int32_t FHeight;
  int32_t FRowIndex = 0;
  size_t FByte = 0;
  uint8_t* FRow = nullptr;
};

// Reads the data lines: every "0x" followed by one or two characters on the
// line is a value, from the first line that holds "bits[]" on. Values that
// stand before "bits[]" on that line count too, so they wait until the line
// is known to be a data line.
void ReadData(TTextReader& reader, TRowFiller& rows, size_t bytesNeeded) {
  bool seen = false;
  TBitsMarker marker;
  std::vector<uint8_t> pending;
  std::optional<std::string> pendingError;
  while (!reader.AtEnd()) {
    marker.Reset();
    pending.clear();
    pendingError.reset();
    while (!reader.EndsLine(0)) {
      std::optional<uint8_t> value;
      std::optional<std::string> badText;
      const int c = reader.Peek(0);
      if (c == '0' && reader.Peek(1) == 'x' && !reader.EndsLine(2)) {
        // A value cut short by the line end keeps the one digit it has.
        std::string digits(1, static_cast<char>(reader.Peek(2)));
        if (!reader.EndsLine(3)) digits.push_back(static_cast<char>(reader.Peek(3)));
        bool found = false;
        for (size_t i = 0; i < 2 + digits.size(); ++i) found |= marker.Feed(reader.Peek(i));
        reader.Skip(2 + digits.size());
        int v = 0;
        for (char d : digits) v = HexDigit(d) < 0 || v < 0 ? -1 : v * 16 + HexDigit(d);
        if (v < 0) badText = digits;
        else value = static_cast<uint8_t>(v);
        if (found && !seen) {
          // "bits[]" ended inside the digits: what stood before it counts.
          seen = true;
          if (pendingError) throw EConvertError(Format(SysConst::SInvalidInteger, {*pendingError}));
          for (uint8_t p : pending)
            if (rows.Store(p)) return;
        }
      } else {
        reader.Skip(1);
        if (marker.Feed(c) && !seen) {
          seen = true;
          if (pendingError) throw EConvertError(Format(SysConst::SInvalidInteger, {*pendingError}));
          for (uint8_t p : pending)
            if (rows.Store(p)) return;
        }
        continue;
      }
      if (seen) {
        if (badText) throw EConvertError(Format(SysConst::SInvalidInteger, {*badText}));
        if (rows.Store(*value)) return;
      } else if (!pendingError) {
        if (badText) pendingError = badText;
        else if (pending.size() < bytesNeeded) pending.push_back(*value);
      }
    }
    reader.SkipLineEnd();
  }
}

void LoadXbm(TXBMImage& image, TStream& stream) {
  TTextReader reader(stream);
  std::string line;
  if (!reader.ReadLine(line, MaxHeaderLine)) throw Exception(SNotValidXBM);
  const int32_t width = HeaderNumber(line, "_width");
  if (width < 0 || !ImageSizeAllowed(width, 1, 1)) throw Exception(SNotValidXBM);
  image.ResizeWidth(width);
  if (!reader.ReadLine(line, MaxHeaderLine)) throw Exception(SNotValidXBM);
  const int32_t height = HeaderNumber(line, "_height");
  if (height < 0 || !ImageSizeAllowed(width, height, 1)) throw Exception(SNotValidXBM);
  image.ResizeHeight(height);
  // An empty picture has no first row to receive data.
  if (width == 0 || height == 0) throw EInvalidGraphic(GraphicsConst::SScanLine);
  TRowFiller rows(image, width, height);
  ReadData(reader, rows, (static_cast<size_t>(width) + 7) / 8 * static_cast<size_t>(height));
}

// The file byte of each memory byte: a pixel whose palette colour is dark is
// a set bit, the leftmost pixel the least significant bit.
std::array<uint8_t, 256> FileByteTable(const std::vector<TPaletteEntry>& palette) {
  bool dark[2] = {true, true};
  for (size_t i = 0; i < 2 && i < palette.size(); ++i) {
    const TPaletteEntry& e = palette[i];
    dark[i] = 299 * e.peRed + 587 * e.peGreen + 114 * e.peBlue < 128 * 1000;
  }
  std::array<uint8_t, 256> table{};
  for (unsigned m = 0; m < 256; ++m) {
    unsigned f = 0;
    for (unsigned bit = 0; bit < 8; ++bit)
      if (dark[(m >> (7 - bit)) & 1]) f |= 1u << bit;
    table[m] = static_cast<uint8_t>(f);
  }
  return table;
}

void SaveXbm(TXBMImage& image, TStream& stream) {
  const int32_t width = image.ImageWidth(), height = image.ImageHeight();
  const std::array<uint8_t, 256> table = FileByteTable(image.EffectivePalette());
  auto write = [&stream](const std::string& text) { stream.WriteExact(text.data(), text.size()); };
  write("#define img_width " + IntToStr(width) + "\r\n");
  write("#define img_height " + IntToStr(height) + "\r\n");
  write("static char img_bits[]={\r\n");
  const size_t rowBytes = (static_cast<size_t>(width) + 7) / 8;
  std::string text;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* row = image.ConstRowPointer(y);
    text.clear();
    for (size_t i = 0; i < rowBytes; ++i) text += "0x" + IntToHex(table[row[i]], 2) + ",";
    write(text + "\r\n");
  }
  write("};\r\n");
}

}  // namespace

uint8_t ReverseBits(uint8_t value) {
  unsigned v = value;
  v = (v & 0xF0) >> 4 | (v & 0x0F) << 4;
  v = (v & 0xCC) >> 2 | (v & 0x33) << 2;
  v = (v & 0xAA) >> 1 | (v & 0x55) << 1;
  return static_cast<uint8_t>(v);
}

TXBMImage::TXBMImage() { SetPixelLayout(pl1Bit); }

void TXBMImage::LoadFile(const std::string& fileName) {
  // The bytes of the file are bits of a black-and-white picture, whatever
  // this bitmap held before.
  SetPixelLayout(pl1Bit);
  if (EffectivePalette() != MonochromePalette()->Entries) AssignPalette(MonochromePalette());
  try {
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    LoadXbm(*this, stream);
  } catch (const EStreamError& e) {
    throw EInOutError(e.Message);
  }
}

void TXBMImage::SaveFile(const std::string& fileName) {
  SetPixelLayout(pl1Bit);
  try {
    TFileStream stream(fileName, fmCreate);
    SaveXbm(*this, stream);
  } catch (const EStreamError& e) {
    throw EInOutError(e.Message);
  }
}

void TXBMImage::LoadStream(TStream&) { throw Exception(SNotSupported); }
void TXBMImage::SaveStream(TStream&) { throw Exception(SNotSupported); }

void InitializeXBMImageUnit() { TPicture::RegisterExtension("xbm", "X Bitmap", &TXBMImage::StaticClass()); }
void FinalizeXBMImageUnit() { TPicture::UnregisterGraphicKind(&TXBMImage::StaticClass()); }

}  // namespace tolvane
