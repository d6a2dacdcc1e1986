#include <cstring>

#include "Graphics.h"

namespace tolvane {

TOLVANE_DEFINE_CLASS(TGraphic, TPersistent)

namespace {
// Set by a search worker for the file it loads; no account elsewhere.
thread_local TImageMemoryAccount* CurrentAccount = nullptr;
}  // namespace

bool ImageSizeFits(int64_t width, int64_t height, int bitsPerPixel) {
  if (width < 0 || height < 0) return false;
  if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > MaxImagePixels) return false;
  if (width > (int64_t{1} << 28) || height > (int64_t{1} << 28)) return false;
  return RowSizeOf(width, bitsPerPixel) * static_cast<uint64_t>(height) <= MaxImageBytes;
}

bool ImageSizeAllowed(int64_t width, int64_t height, int bitsPerPixel) {
  if (!ImageSizeFits(width, height, bitsPerPixel)) return false;
  ChargeImageMemory(RowSizeOf(width, bitsPerPixel) * static_cast<uint64_t>(height));
  return true;
}

TImageMemoryScope::TImageMemoryScope(TImageMemoryAccount& account) : FOuter(CurrentAccount) {
  CurrentAccount = &account;
}

TImageMemoryScope::~TImageMemoryScope() { CurrentAccount = FOuter; }

void ChargeImageMemory(uint64_t bytes) {
  if (CurrentAccount && bytes > 0) CurrentAccount->Charge(bytes);
}

int BitsPerPixelOf(TPixelLayout layout) {
  switch (layout) {
    case pl1Bit: return 1;
    case pl4Bit: return 4;
    case pl8Bit: return 8;
    case pl15Bit:
    case pl16Bit: return 16;
    case pl24Bit: return 24;
    case pl32Bit:
    case plDevice: return 32;
    default: return 0;
  }
}

const char* PixelLayoutName(TPixelLayout layout) {
  static const char* const names[] = {"plDevice", "pl1Bit",  "pl4Bit",  "pl8Bit", "pl15Bit",
                                      "pl16Bit",  "pl24Bit", "pl32Bit", "plCustom"};
  return layout <= plCustom ? names[layout] : "plCustom";
}

size_t RowSizeOf(int64_t width, int bitsPerPixel) {
  return static_cast<size_t>((static_cast<uint64_t>(width) * static_cast<uint64_t>(bitsPerPixel) + 31) / 32 * 4);
}

void TGraphic::NotifyChanged(TObject*) {
  Modified = true;
  if (OnChange) OnChange(this);
}

bool TGraphic::SameContent(TGraphic* other) {
  bool blank = IsBlank();
  bool otherBlank = !other || other->IsBlank();
  if (blank || otherBlank) return blank && otherBlank;
  if (&ClassType() != &other->ClassType()) return false;
  TMemoryStream a, b;
  WriteStoredData(a);
  other->WriteStoredData(b);
  return a.Data() == b.Data();
}

void TGraphic::SetTransparency(bool value) {
  if (value == FTransparent) return;
  FTransparent = value;
  NotifyChanged(this);
}

void TGraphic::LoadFile(const std::string& fileName) {
  TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
  LoadStream(stream);
}

void TGraphic::SaveFile(const std::string& fileName) {
  TFileStream stream(fileName, fmCreate);
  SaveStream(stream);
}

std::unique_ptr<TGraphic> TGraphic::ConstructEmpty(TClass cls) { return CreateInstance<TGraphic>(cls); }

void TGraphic::ReportProgress(TObject* sender, TProgressStage stage, uint8_t percentDone, bool redrawNow,
                              const TRect& r, const std::string& msg) {
  if (OnProgress) OnProgress(sender, stage, percentDone, redrawNow, r, msg);
}

}  // namespace tolvane
