// A small registry of bitmap codecs (description, extension, header
// signature, codec class), the base class of those codecs, and TQorBitmap, a
// bitmap that loads and saves through the registry: by file extension first,
// by header signature second, and as BMP when no codec applies.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "picture/Classes.h"
#include "picture/Graphics.h"

namespace tolvane {

// One registry entry. CodecClass is null for the built-in BMP entry.
class TQorBitmapFileFormatInfo : public TObject {
  TOLVANE_CLASS(TQorBitmapFileFormatInfo)
public:
  std::string Description;
  std::string Extension;  // with the leading dot (".aic")
  std::string Signature;
  int32_t SignatureOffset = 0;
  uint8_t Flags = 0;  // stored for the registry's callers, read by nothing
  TClass CodecClass = nullptr;
};

// The registry; every registration inserts at the front, so the latest
// registration is found first.
class TQorBitmapFileFormatList : public TObject {
  TOLVANE_CLASS(TQorBitmapFileFormatList)
public:
  // Starts with the built-in "Windows Bitmap" entry.
  TQorBitmapFileFormatList();

  void Add(const std::string& description, const std::string& extension, const std::string& signature,
           int32_t signatureOffset, uint8_t flags, TClass codecClass);
  // The codec class of the first entry whose extension equals extension
  // (ASCII case ignored); null and an empty description without a match.
  TClass FindByExtension(const std::string& extension, std::string& description) const;
  // The codec class of the first entry whose signature lies in header at its
  // offset (ASCII case ignored); header bytes that were not read never match.
  TClass FindBySignature(const std::string& header, std::string& description) const;

  size_t Count() const { return FItems.size(); }
  const TQorBitmapFileFormatInfo& Items(size_t index) const { return *FItems.at(index); }

private:
  std::vector<std::unique_ptr<TQorBitmapFileFormatInfo>> FItems;
};

// The registry, made with its built-in entry on first use.
TQorBitmapFileFormatList& BitmapFileFormatList();

// The base of the codecs. One instance serves one load or one save.
class TQorBitmapFileFormat : public TObject {
  TOLVANE_CLASS(TQorBitmapFileFormat)
public:
  TQorBitmapFileFormat() = default;
  ~TQorBitmapFileFormat() override;

  // A codec of class codecClass (as the registry names it) for bitmap.
  static std::unique_ptr<TQorBitmapFileFormat> Create(TClass codecClass, const std::string& description,
                                                      TBitmap& bitmap);

  // The base versions only remember the stream; every codec calls them first.
  virtual void LoadStream(TStream& stream);
  virtual void SaveStream(TStream& stream);

  // Raises EInvalidGraphicOperation "Internal error (CLASS): message".
  [[noreturn]] void RaiseError(const std::string& message) const;
  // A new 256-entry palette whose entry i is grey level i.
  static HPALETTE CreateGrayPalette();
  // Whether the palette holds exactly the 256-entry grey ramp of CreateGrayPalette.
  static bool IsGrayPalette(const HPALETTE& palette);
  // Bitmap24 refreshed from Bitmap: a shared copy switched to pl24Bit.
  TBitmap& Get24BitCopy();

  std::string Description;
  TBitmap* Bitmap = nullptr;             // the caller's
  std::unique_ptr<TBitmap> Bitmap24;     // made by Get24BitCopy
  TStream* Stream = nullptr;             // the caller's
  uint8_t Quality = 100;
};

// A bitmap that loads and saves through the codec registry.
class TQorBitmap : public TBitmap {
  TOLVANE_CLASS(TQorBitmap)
public:
  TQorBitmap() = default;

  // The codec of the name's extension; otherwise the inherited load, which
  // ends in LoadStream below.
  void LoadFile(const std::string& fileName) override;
  // The codec of the name's extension; otherwise BMP.
  void SaveFile(const std::string& fileName) override;
  // The codec whose signature the stream's first bytes carry; otherwise BMP.
  void LoadStream(TStream& stream) override;
  // Writes through the codec registered for extension; otherwise BMP.
  void SaveStreamAs(TStream& stream, const std::string& extension);

  uint8_t Quality = 100;  // handed to the codec on every save
};

// The extension of a file name as the codec registry compares it: from the
// last "." (dot included).
std::string FileExtensionOf(const std::string& fileName);

// Frees the registry (it is made again by the next registration).
void FinalizeQorGraphicsUnit();

}  // namespace tolvane
