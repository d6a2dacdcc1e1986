#include "QorGraphics.h"

#include <array>

namespace tolvane {

TOLVANE_DEFINE_CLASS(TQorBitmapFileFormatInfo, TObject)
TOLVANE_DEFINE_CLASS(TQorBitmapFileFormatList, TObject)
TOLVANE_DEFINE_CREATABLE_CLASS(TQorBitmapFileFormat, TObject)
TOLVANE_DEFINE_CREATABLE_CLASS(TQorBitmap, TBitmap)

namespace {

std::unique_ptr<TQorBitmapFileFormatList>& RegistryHolder() {
  static std::unique_ptr<TQorBitmapFileFormatList> list;
  return list;
}

// Opens a file for reading while others may not write it.
constexpr uint16_t kLoadMode = fmOpenRead | fmShareDenyWrite;

}  // namespace

// ---------------------------------------------------------------- registry

TQorBitmapFileFormatList::TQorBitmapFileFormatList() { Add("Windows Bitmap", ".bmp", "BM", 0, 0, nullptr); }

void TQorBitmapFileFormatList::Add(const std::string& description, const std::string& extension,
                                   const std::string& signature, int32_t signatureOffset, uint8_t flags,
                                   TClass codecClass) {
  auto info = std::make_unique<TQorBitmapFileFormatInfo>();
  info->Description = description;
  info->Extension = extension;
  info->Signature = signature;
  info->SignatureOffset = signatureOffset;
  info->Flags = flags;
  info->CodecClass = codecClass;
  FItems.insert(FItems.begin(), std::move(info));
}

TClass TQorBitmapFileFormatList::FindByExtension(const std::string& extension, std::string& description) const {
  for (const auto& item : FItems)
    if (SameText(item->Extension, extension)) {
      description = item->Description;
      return item->CodecClass;
    }
  description.clear();
  return nullptr;
}

TClass TQorBitmapFileFormatList::FindBySignature(const std::string& header, std::string& description) const {
  for (const auto& item : FItems) {
    if (item->SignatureOffset < 0) continue;
    const size_t offset = static_cast<size_t>(item->SignatureOffset);
    if (offset > header.size() || header.size() - offset < item->Signature.size()) continue;
    if (SameText(std::string_view(header).substr(offset, item->Signature.size()), item->Signature)) {
      description = item->Description;
      return item->CodecClass;
    }
  }
  description.clear();
  return nullptr;
}

TQorBitmapFileFormatList& BitmapFileFormatList() {
  auto& list = RegistryHolder();
  if (!list) list = std::make_unique<TQorBitmapFileFormatList>();
  return *list;
}

void FinalizeQorGraphicsUnit() { RegistryHolder().reset(); }

std::string FileExtensionOf(const std::string& fileName) { return ExtractFileExt(fileName); }

// ------------------------------------------------------------- codec base

TQorBitmapFileFormat::~TQorBitmapFileFormat() = default;

std::unique_ptr<TQorBitmapFileFormat> TQorBitmapFileFormat::Create(TClass codecClass, const std::string& description,
                                                                   TBitmap& bitmap) {
  std::unique_ptr<TQorBitmapFileFormat> codec = CreateInstance<TQorBitmapFileFormat>(codecClass);
  if (!codec) throw EInvalidGraphicOperation(Format("Cannot create codec %s", {codecClass ? codecClass->Name : "nil"}));
  codec->Description = description;
  codec->Bitmap = &bitmap;
  return codec;
}

void TQorBitmapFileFormat::LoadStream(TStream& stream) { Stream = &stream; }

void TQorBitmapFileFormat::SaveStream(TStream& stream) { Stream = &stream; }

void TQorBitmapFileFormat::RaiseError(const std::string& message) const {
  throw EInvalidGraphicOperation(Format("Internal error (%s): %s", {ClassName(), message}));
}

HPALETTE TQorBitmapFileFormat::CreateGrayPalette() {
  std::vector<TPaletteEntry> entries(256);
  for (int i = 0; i < 256; ++i) {
    auto v = static_cast<uint8_t>(i);
    entries[i] = TPaletteEntry{v, v, v, 0};
  }
  return CreatePalette(std::move(entries));
}

bool TQorBitmapFileFormat::IsGrayPalette(const HPALETTE& palette) {
  std::array<TPaletteEntry, 256> entries{};
  if (GetPaletteEntries(palette, 0, 256, entries.data()) < 256) return false;
  for (int i = 0; i < 256; ++i)
    if (entries[i].peRed != i || entries[i].peGreen != i || entries[i].peBlue != i) return false;
  return true;
}

TBitmap& TQorBitmapFileFormat::Get24BitCopy() {
  if (!Bitmap24) Bitmap24 = std::make_unique<TBitmap>();
  Bitmap24->CopyFrom(Bitmap);
  Bitmap24->SetPixelLayout(pl24Bit);
  return *Bitmap24;
}

// --------------------------------------------------------------- bitmap

void TQorBitmap::LoadFile(const std::string& fileName) {
  std::string description;
  TClass codecClass = BitmapFileFormatList().FindByExtension(FileExtensionOf(fileName), description);
  if (!codecClass) {
    TBitmap::LoadFile(fileName);
    return;
  }
  auto codec = TQorBitmapFileFormat::Create(codecClass, description, *this);
  TFileStream stream(fileName, kLoadMode);
  codec->LoadStream(stream);
}

void TQorBitmap::LoadStream(TStream& stream) {
  const int64_t start = stream.Position();
  char bytes[8] = {};
  const size_t got = stream.Read(bytes, sizeof bytes);
  stream.SetPosition(start);
  std::string description;
  TClass codecClass = BitmapFileFormatList().FindBySignature(std::string(bytes, got), description);
  if (!codecClass) {
    TBitmap::LoadStream(stream);
    return;
  }
  auto codec = TQorBitmapFileFormat::Create(codecClass, description, *this);
  codec->LoadStream(stream);
}

void TQorBitmap::SaveFile(const std::string& fileName) {
  std::string description;
  TClass codecClass = BitmapFileFormatList().FindByExtension(FileExtensionOf(fileName), description);
  if (!codecClass) {
    TBitmap::SaveFile(fileName);
    return;
  }
  auto codec = TQorBitmapFileFormat::Create(codecClass, description, *this);
  codec->Quality = Quality;
  TFileStream stream(fileName, fmCreate);
  codec->SaveStream(stream);
}

void TQorBitmap::SaveStreamAs(TStream& stream, const std::string& extension) {
  std::string description;
  TClass codecClass = BitmapFileFormatList().FindByExtension(extension, description);
  if (!codecClass) {
    TBitmap::SaveStream(stream);
    return;
  }
  auto codec = TQorBitmapFileFormat::Create(codecClass, description, *this);
  codec->Quality = Quality;
  codec->SaveStream(stream);
}

}  // namespace tolvane
