// The image-format library's base class for raster readers, the record that
// describes an image, the helpers that readers share, and the registration
// list that announces the readers to the picture registry.
//
// A reader is a TFormatGraphic: it decodes its file into the bitmap's own
// pixel memory, so once loaded the picture is an ordinary TBitmap. Each
// reader is one header and one source in graphics/readers/; graphics/README.md
// says how one is added and shows the load frame it follows.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "graphics/GraphicColor.h"
#include "picture/Classes.h"
#include "picture/Graphics.h"
#include "picture/SysUtils.h"

namespace tolvane {

// ---- Image properties -------------------------------------------------------

// The library's array types.
using TCardinalArray = std::vector<uint32_t>;
using TByteArray = std::vector<uint8_t>;
using TFloatArray = std::vector<float>;

// A set of image options (bit-or of the opt constants).
using TImageOptions = uint8_t;
// TIFF: tile width and length are both present and non-zero.
inline constexpr TImageOptions optTiled = 1;
// Multi-byte values of the file are big-endian.
inline constexpr TImageOptions optBigEndian = 2;
// Grey or bilevel data in which 0 is white.
inline constexpr TImageOptions optMinIsWhite = 4;
// Pixels within a byte run from the least significant bit.
inline constexpr TImageOptions optReversedBits = 8;
// A gamma value from the file was handed to the colour manager.
inline constexpr TImageOptions optFileGamma = 16;

// How the pixel data are coded.
enum TImageCompression : uint8_t {
  icUnknown = 0,      // unknown or unsupported
  icNone = 1,         // uncompressed
  icRLE = 2,          // the format's own run-length coding
  icPackBits = 3,     // PackBits
  icLZW = 4,          // LZW (TIFF or GIF code layout)
  icFax3 = 5,         // CCITT group 3 fax
  icCCITTMH = 6,      // CCITT modified Huffman run lengths
  icFax4 = 7,         // CCITT group 4 fax
  icCCITTRLEW = 8,    // modified Huffman run lengths, rows word-aligned
  icLZ77 = 9,         // deflate
  icJPEG = 10,        // JPEG
  icOldJPEG = 11,     // old-style TIFF JPEG
  icThunderScan = 12, // ThunderScan 4-bit
  icNeXT = 13,        // NeXT 2-bit
  icIT8CTPad = 14,    // IT8 CT with padding
  icIT8LW = 15,       // IT8 line work
  icIT8MP = 16,       // IT8 monochrome picture
  icIT8BL = 17,       // IT8 binary line art
  icPixarFilm = 18,   // Pixar film
  icPixarLog = 19,    // Pixar log
  icDCS = 20,         // Kodak DCS
  icJBIG = 21,        // JBIG
  icPCDHuffman = 22,  // Photo CD Huffman-coded residuals
};

// The compression of a TIFF compression number (tag 259); every number
// without a meaning here gives icUnknown.
TImageCompression CompressionFromTIFF(uint16_t value);

// The description of one image, as a reader's ReadImageInfo fills it from
// the file header. Fields that a reader does not set stay zero (Gamma 1.0).
struct TImageProperties {
  uint32_t Version = 0;                    // TIFF 42, GIF 87/89, Paint Shop Pro major version
  TImageOptions Options = 0;
  uint32_t Width = 0;
  uint32_t Height = 0;
  TColorSchemeKind ColorScheme = ckUnknown;  // of the stored samples
  uint8_t BitsPerSample = 0;
  uint8_t SamplesPerPixel = 0;
  uint8_t BitsPerPixel = 0;                // as a rule BitsPerSample x SamplesPerPixel (wraps at 256)
  TImageCompression Compression = icUnknown;
  float Gamma = 0;                         // 1.0 when the file gives none
  float XResolution = 0;                   // dots per inch; 0 when unknown
  float YResolution = 0;
  bool Interlaced = false;                 // GIF, PNG Adam7
  bool HasAlpha = false;
  uint32_t IFDOffset = 0;                  // TIFF: first image file directory
  uint32_t PlanarConfiguration = 0;        // TIFF tag 284
  uint32_t CurrentRow = 0;                 // TIFF: next bitmap row during a load
  uint32_t TileWidth = 0;                  // TIFF tag 322
  uint32_t TileLength = 0;                 // TIFF tag 323
  uint32_t RowByteCount = 0;               // TIFF: bytes of one stored row
  TCardinalArray RowsPerStrip;             // TIFF tag 278
  TByteArray YCbCrSubsampling;             // TIFF tag 530: horizontal, vertical
  TByteArray JpegTables;                   // TIFF tag 347
  uint32_t JpegColorMode = 0;
  uint32_t JpegTablesMode = 0;
  uint32_t CurrentStrip = 0;               // TIFF: strip being decoded
  uint32_t StripCount = 0;
  uint32_t Predictor = 0;                  // TIFF tag 317
  bool PcdOverview = false;                // Photo CD: an overview file
  uint8_t PcdRotation = 0;                 // 1 and 3 swap width and height
  uint16_t PcdImageCount = 0;
  bool GifLocalColorTable = false;
  bool RlaBottomUp = false;
  uint8_t PsdChannels = 0;
  uint8_t PngFilterMethod = 0;
};

// ---- Reader classes -----------------------------------------------------------

// The class record of a format graphic: what every class record holds plus
// the class-level probe, so that a reader can be asked about a file through
// its class alone.
struct TFormatGraphicClassInfo : TClassInfo {
  bool (*ProbeStreamOf)(TStream& stream);

  // True when the stream, from its position, holds this class's format; the
  // position is restored.
  bool ProbeStream(TStream& stream) const { return ProbeStreamOf(stream); }
  // ProbeStream on the file, opened read-only; the file is closed on every
  // exit. A file that cannot be opened raises EFOpenError.
  bool ProbeFile(const std::string& fileName) const;
};

// In a reader's class body: its class record and virtual accessor.
#define TOLVANE_FORMAT_CLASS(Self)                                          \
public:                                                                     \
  static const ::tolvane::TFormatGraphicClassInfo& StaticClass();           \
  const ::tolvane::TClassInfo& ClassType() const override { return StaticClass(); }

// In a reader's source: its class record, with its virtual constructor and
// its ProbeStream.
#define TOLVANE_DEFINE_FORMAT_CLASS(Self, Parent)                                                   \
  const ::tolvane::TFormatGraphicClassInfo& Self::StaticClass() {                                   \
    static const ::tolvane::TFormatGraphicClassInfo info{                                           \
        {#Self, &Parent::StaticClass(),                                                             \
         []() -> std::unique_ptr<::tolvane::TObject> { return std::make_unique<Self>(); }},         \
        &Self::ProbeStream};                                                                        \
    return info;                                                                                    \
  }

// The base of every raster reader.
class TFormatGraphic : public TBitmap {
  TOLVANE_FORMAT_CLASS(TFormatGraphic)
public:
  TFormatGraphic() = default;
  ~TFormatGraphic() override;

  // From another format graphic: its ImageProperties first, then the bitmap
  // copy (which shares the image). Other sources: the bitmap copy only.
  void CopyFrom(TPersistent* source) override;

  // Class-level: whether the stream holds this format (base: false).
  static bool ProbeStream(TStream& stream);
  // Clears ImageProperties (Gamma 1.0, everything else zero) and answers
  // false. Overrides call it first, then read the header at BasePosition and
  // answer whether image imageIndex exists and is usable. Called outside a
  // load, it takes the stream's position as BasePosition.
  virtual bool ReadImageInfo(TStream& stream, uint32_t imageIndex);

  // Reused by every load of this graphic.
  TColorManager ColorManager;
  // The image most recently examined by ReadImageInfo.
  TImageProperties ImageProperties;
  // Where the current load began: the file offsets that readers follow are
  // relative to it, so an image may start anywhere inside a stream.
  int64_t BasePosition = 0;
  // The stream of the load in progress (null outside a load).
  TStream* SourceStream = nullptr;
  // The rectangle passed with progress reports.
  TRect ProgressRect;

protected:
  // Steps 1 and 2 of every load, for the lifetime of the frame: the image is
  // emptied, BasePosition and SourceStream are set. Leaving the frame, also
  // by an exception, ends a progress stage still open, frees the reader's
  // load state (FreeLoadState) and clears SourceStream, so that no reader
  // writes its own clean-up for the error path.
  class TLoadFrame {
  public:
    TLoadFrame(TFormatGraphic& graphic, TStream& stream);
    ~TLoadFrame();
    TLoadFrame(const TLoadFrame&) = delete;
    TLoadFrame& operator=(const TLoadFrame&) = delete;

  private:
    TFormatGraphic& FGraphic;
  };

  // Raises "Cannot load image. Invalid or unexpected %s image format." with
  // formatName when the image of ImageProperties is too large for a bitmap
  // of the layout (more than 2^28 pixels or 2 GiB of pixel memory). Readers
  // call it before anything is sized.
  void CheckImageSize(const char* formatName, TPixelLayout layout) const;

  // Progress: a one-row ProgressRect at the top, width pixels wide, and the
  // first stage: text, or "Preparing..." when none is given.
  void StartProgress(int32_t width, const char* text = nullptr);
  // Ends the current stage and starts the next with its text.
  void NextStage(const char* text);
  // After a row: psRunning with rowsDone of ImageProperties.Height in percent
  // (rounded), then ProgressRect moves down one row.
  void RowDone(uint32_t rowsDone);
  // Ends the last stage.
  void EndProgress();
  // Frees what a reader holds only during a load (decoders, raw buffers);
  // the load frame calls it on every exit.
  virtual void FreeLoadState() {}

  // The common colour set-up from ImageProperties: the file's scheme, depth
  // and samples; a blue-green-red target (with alpha when the image has one)
  // for colour images and the source's own scheme for indexed and grey ones
  // (grey for grey with alpha); 8-bit targets for 16-bit sources, with
  // cvSwap16 for big-endian files. A file gamma above 0 goes through the
  // gamma table (cvGamma, optFileGamma). Readers whose format needs more do
  // their own.
  void SetUpColorManager(float fileGamma = 0);

private:
  bool FLoading = false;
  bool FProgressOpen = false;  // a stage started and not yet ended
};

using TFormatGraphicClass = const TFormatGraphicClassInfo*;

// ---- Shared routines ----------------------------------------------------------

[[noreturn]] void RaiseInvalidGraphic(const std::string& message);
[[noreturn]] void RaiseInvalidGraphicFmt(std::string_view format, std::initializer_list<TFormatArg> arguments);

// Doubles a plane of 8-bit samples in place: height rows of width samples
// at rowStride bytes become 2 x height rows of 2 x width samples at the same
// stride, the new samples interpolated. Needs width and height of at least
// 2, rowStride of at least 2 x width and a plane that holds the doubled rows;
// otherwise nothing happens.
void UpsamplePlane2x(uint32_t width, uint32_t height, uint32_t rowStride, std::span<uint8_t> plane);

// Reverse the bytes of count 16-bit or 32-bit values in place (any alignment).
void SwapWords(void* values, size_t count);
void SwapLongs(void* values, size_t count);
constexpr uint32_t SwapLong(uint32_t value) {
  return value >> 24 | (value >> 8 & 0xFF00u) | (value << 8 & 0xFF0000u) | value << 24;
}

// Undo TIFF horizontal differencing over one row of count + 1 pixels of 1, 3
// or 4 bytes: each byte from the second pixel on gets the byte one pixel to
// its left added, modulo 256. The row must hold (count + 1) pixels.
void UndoPredictor8(uint8_t* row, uint32_t count);
void UndoPredictor24(uint8_t* row, uint32_t count);
void UndoPredictor32(uint8_t* row, uint32_t count);

// ---- Registration list ---------------------------------------------------------

// Kinds of a format (bit-or); stored, never read back.
using TFormatKinds = uint8_t;
inline constexpr TFormatKinds fkAnimated = 1;
inline constexpr TFormatKinds fkLayered = 2;
inline constexpr TFormatKinds fkMultiImage = 4;
inline constexpr TFormatKinds fkRaster = 8;
inline constexpr TFormatKinds fkVector = 16;

// One registered graphic class.
struct TClassEntry {
  TGraphicClass GraphicClass = nullptr;
  std::string Description;  // shared by the class's extensions
  int32_t Count = 0;        // extension entries that use this entry
};

// One registered extension.
struct TExtensionEntry {
  std::string Extension;  // as passed, without a dot
  std::string Description;
  TFormatKinds FormatKinds = 0;
  TClassEntry* ClassEntry = nullptr;
};

// Remembers which graphic class reads which extension and forwards every
// registration to the picture registry.
class TFileFormatList : public TObject {
  TOLVANE_CLASS(TFileFormatList)
public:
  TFileFormatList() = default;
  // Clear.
  ~TFileFormatList() override;

  // Takes every class out of the picture registry (first registered first)
  // and empties both lists.
  void Clear();
  // Index of the extension (letter case ignored), or -1; "" gives -1.
  int FindExtension(std::string_view extension) const;
  // Index of the class's entry, or -1.
  int FindClassEntry(TGraphicClass graphicClass) const;
  // Adds an extension for a class and forwards it to the picture registry
  // with the individual description, or the class's common one when that is
  // empty. A non-empty common description replaces the class's. "" does
  // nothing; a known extension raises EInvalidGraphic "Attempt to register
  // %s twice.".
  void RegisterFormat(const std::string& extension, const std::string& commonDescription,
                      const std::string& individualDescription, TFormatKinds kinds, TGraphicClass graphicClass);
  // Removes an extension (graphicClass is not consulted); the class leaves
  // the picture registry with its last extension. An empty extension removes
  // every extension of graphicClass and the class. Unknown ones are ignored.
  void UnregisterFormat(const std::string& extension, TGraphicClass graphicClass);

  const std::vector<std::unique_ptr<TClassEntry>>& ClassEntries() const { return FClassList; }
  const std::vector<std::unique_ptr<TExtensionEntry>>& ExtensionEntries() const { return FExtensionList; }

private:
  TClassEntry& AttachClassEntry(TGraphicClass graphicClass, const std::string& commonDescription);
  void RemoveClassEntry(TClassEntry* entry);

  std::vector<std::unique_ptr<TClassEntry>> FClassList;
  std::vector<std::unique_ptr<TExtensionEntry>> FExtensionList;
};

// The library's one list, between RegisterAllFormats and UnregisterAllFormats
// (null outside).
TFileFormatList* FileFormatList();
// Start-up: creates the list and registers the library's extensions in
// table order. Runs once; repeated calls only count.
void RegisterAllFormats();
// Shutdown: takes the library's classes out of the picture registry again
// and frees the list, when the last RegisterAllFormats is matched.
void UnregisterAllFormats();
// The names of the classes UnregisterAllFormats takes out, in its order:
// every class the start-up table may register, readers first, then the
// framework's own classes.
std::span<const char* const> ShutdownOrder();

}  // namespace tolvane

// Every reader of the library, so that this unit's header names every class.
#include "graphics/readers/AutodeskGraphic.h"
#include "graphics/readers/CUTGraphic.h"
#include "graphics/readers/EPSGraphic.h"
#include "graphics/readers/GIFGraphic.h"
#include "graphics/readers/PCDGraphic.h"
#include "graphics/readers/PCXGraphic.h"
#include "graphics/readers/PNGGraphic.h"
#include "graphics/readers/PPMGraphic.h"
#include "graphics/readers/PSDGraphic.h"
#include "graphics/readers/PSPGraphic.h"
#include "graphics/readers/RLAGraphic.h"
#include "graphics/readers/SGIGraphic.h"
#include "graphics/readers/TIFFGraphic.h"
#include "graphics/readers/TargaGraphic.h"
