// The picture framework: the abstract graphic, the bitmap that most formats
// decode into, its canvas, the picture with its registry of graphic classes
// by file extension, and the framework's own icon and metafile graphics.
// Every image format plugs in here and the finder reaches formats only
// through TPicture.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "GdiObjects.h"
#include "SysUtils.h"

namespace tolvane {

TOLVANE_EXCEPTION(EInvalidGraphic, Exception);
TOLVANE_EXCEPTION(EInvalidGraphicOperation, Exception);

// Texts of the framework's exceptions.
namespace GraphicsConst {
inline constexpr const char* SUnknownExtension = "Unknown picture file extension (.%s)";
inline constexpr const char* SInvalidBitmap = "Bitmap image is not valid";
inline constexpr const char* SInvalidIcon = "Icon image is not valid";
inline constexpr const char* SInvalidMetafile = "Metafile is not valid";
inline constexpr const char* SInvalidPixelFormat = "Invalid pixel format";
inline constexpr const char* SScanLine = "Scan line index out of range";
inline constexpr const char* SUnknownClipboardFormat = "Unsupported clipboard format";
inline constexpr const char* SAssignError = "Cannot assign a %s to a %s";
}  // namespace GraphicsConst

// Largest picture any reader or bitmap accepts: 2^28 pixels and 2 GiB of
// pixel memory. A reader that meets a larger header raises its own
// invalid-image message before it allocates anything. The fuzz target is
// built with far smaller limits (2^24 pixels, 128 MiB), so that its memory
// and time limits catch whatever a load spends beyond what its picture
// needs.
#ifdef TOLVANE_FUZZ
inline constexpr uint64_t MaxImagePixels = uint64_t{1} << 24;
inline constexpr uint64_t MaxImageBytes = uint64_t{128} << 20;
#else
inline constexpr uint64_t MaxImagePixels = uint64_t{1} << 28;
inline constexpr uint64_t MaxImageBytes = uint64_t{1} << 31;
#endif
// Whether a width x height image of bitsPerPixel fits the limits above.
bool ImageSizeFits(int64_t width, int64_t height, int bitsPerPixel);
// The check a load makes before it sizes a picture: ImageSizeFits, and the
// bytes of an image that fits charged to the calling thread's memory
// account, if it has one (which may wait there until they are free).
bool ImageSizeAllowed(int64_t width, int64_t height, int bitsPerPixel);

// Where the loads on one thread count what they will hold. The search gives
// each worker one account per file, all drawing on one budget, so that its
// workers together never hold more than the budget however many they are;
// a load checks its sizes before it allocates, so it waits there while the
// budget is taken. Charge may throw (a stopped search), like any failure of
// the load.
class TImageMemoryAccount {
public:
  virtual void Charge(uint64_t bytes) = 0;

protected:
  ~TImageMemoryAccount() = default;
};

// Makes an account the calling thread's while the scope lasts.
class TImageMemoryScope {
public:
  explicit TImageMemoryScope(TImageMemoryAccount& account);
  ~TImageMemoryScope();
  TImageMemoryScope(const TImageMemoryScope&) = delete;
  TImageMemoryScope& operator=(const TImageMemoryScope&) = delete;

private:
  TImageMemoryAccount* FOuter;
};

// Charges what a load will hold besides its picture (a decoder's buffers
// for the whole image) to the calling thread's account, if it has one.
void ChargeImageMemory(uint64_t bytes);

enum TPixelLayout : uint8_t {
  plDevice = 0,
  pl1Bit = 1,
  pl4Bit = 2,
  pl8Bit = 3,
  pl15Bit = 4,
  pl16Bit = 5,
  pl24Bit = 6,
  pl32Bit = 7,
  plCustom = 8,
};
// Bits per pixel of a layout as stored (plDevice: 32, as B, G, R, X); 0 for plCustom.
int BitsPerPixelOf(TPixelLayout layout);
const char* PixelLayoutName(TPixelLayout layout);
// Bytes of one stored row: ((width x bits + 31) div 32) x 4.
size_t RowSizeOf(int64_t width, int bitsPerPixel);

enum class TProgressStage : uint8_t { psStarting, psRunning, psEnding };
using TProgressEvent = std::function<void(TObject* sender, TProgressStage stage, uint8_t percentDone,
                                          bool redrawNow, const TRect& r, const std::string& msg)>;

class TCanvas;

// The abstract picture in one file format.
class TGraphic : public TPersistent {
  TOLVANE_CLASS(TGraphic)
public:
  TGraphic() = default;

  // Changes: sets the modified flag, then raises OnChange.
  virtual void NotifyChanged(TObject* sender);
  // Draws the whole image into rect of the canvas.
  virtual void Render(TCanvas& canvas, const TRect& rect) = 0;
  // Both blank, or the same class with the same stored bytes.
  virtual bool SameContent(TGraphic* other);
  virtual bool IsBlank() = 0;
  virtual int32_t ImageHeight() = 0;
  virtual HPALETTE PaletteOf() { return nullptr; }
  virtual bool IsTransparentImage() { return FTransparent; }
  virtual int32_t ImageWidth() = 0;
  virtual void ReadStoredData(TStream& stream) { LoadStream(stream); }
  virtual void ResizeHeight(int32_t value) = 0;
  virtual void AssignPalette(HPALETTE) {}
  virtual void SetTransparency(bool value);
  virtual void ResizeWidth(int32_t value) = 0;
  virtual void WriteStoredData(TStream& stream) { SaveStream(stream); }
  // Opens the file read-only and loads it; the stream is closed on any exit.
  virtual void LoadFile(const std::string& fileName);
  // Creates (or replaces) the file and saves into it.
  virtual void SaveFile(const std::string& fileName);
  // Reads the image from the stream's current position.
  virtual void LoadStream(TStream& stream) = 0;
  virtual void SaveStream(TStream& stream) = 0;
  virtual void LoadClipboard(uint16_t format, THandle data, HPALETTE palette) = 0;
  virtual void SaveClipboard(uint16_t& format, THandle& data, HPALETTE& palette) = 0;

  // The virtual constructor: an empty graphic of class cls.
  static std::unique_ptr<TGraphic> ConstructEmpty(TClass cls);

  // Calls OnProgress with exactly these values when a handler is assigned.
  void ReportProgress(TObject* sender, TProgressStage stage, uint8_t percentDone, bool redrawNow,
                      const TRect& r, const std::string& msg);

  TNotifyEvent OnChange;
  TProgressEvent OnProgress;
  // Whether the progress handler may look at the picture while it loads.
  // Only when nothing can (no change handler, and no progress handler or
  // one that only counts or stops) may a reader leave rows it is about to
  // write unfilled meanwhile.
  bool ProgressSeesPixels = true;
  bool Modified = false;
  bool PaletteModified = false;

  // Whether a change or progress handler may look at the picture now.
  bool Watched() const { return OnChange || (OnProgress && ProgressSeesPixels); }

protected:
  bool FTransparent = false;
};
using TGraphicClass = TClass;

// Pen, brush and font of a canvas: only what the system draws with.
enum class TPenStyle : uint8_t { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
enum class TBrushStyle : uint8_t { bsSolid, bsClear };
struct TPen {
  TColor Color = clBlack;
  TPenStyle Style = TPenStyle::psSolid;
  int32_t Width = 1;
};
struct TBrush {
  TColor Color = clWhite;
  TBrushStyle Style = TBrushStyle::bsSolid;
};
struct TFont {
  TColor Color = clBlack;
};

class TBitmap;

// The drawing surface of a bitmap. Drawing is clipped to the bitmap.
class TCanvas {
public:
  explicit TCanvas(TBitmap& owner) : FOwner(owner) {}
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  // Nothing for no graphic or a blank one; otherwise renders it at its own size.
  void DrawAt(int32_t x, int32_t y, TGraphic* graphic);
  // Nothing for no graphic; otherwise the graphic's Render into rect.
  void StretchInto(const TRect& rect, TGraphic* graphic);
  // Fills rect (right and bottom excluded) with the brush.
  void FillArea(const TRect& rect);
  // The colour of a pixel; 0xFFFFFFFF outside the surface.
  TColor PixelColour(int32_t x, int32_t y);
  void PutPixel(int32_t x, int32_t y, TColor colour);
  void MovePen(int32_t x, int32_t y);
  // A line in the pen's colour from the pen position to (x, y), the end
  // point itself excluded; the pen position moves there.
  void DrawLineTo(int32_t x, int32_t y);
  // Fills the polygon with the brush (alternate filling) and outlines it with the pen.
  void FillPolygon(const std::vector<TPoint>& points);
  TRect ClipBounds() const;
  // The bitmap behind the surface.
  TBitmap& DeviceContext() { return FOwner; }
  void LockCanvas() { ++FLockCount; }
  void UnlockCanvas() { --FLockCount; }
  TPoint PenPos() const { return FPenPos; }

  TPen Pen;
  TBrush Brush;
  TFont Font;
  uint32_t CopyMode = cmSrcCopy;

private:
  TBitmap& FOwner;
  TPoint FPenPos;
  int FLockCount = 0;
};

// Makes elements without a value when none is given, so that resize leaves
// new pixel bytes unset instead of clearing memory that is about to be
// written anyway; assign(count, value) and the other members work as ever.
template <class T> struct TUnsetAllocator : std::allocator<T> {
  template <class U> struct rebind {
    using other = TUnsetAllocator<U>;
  };
  TUnsetAllocator() = default;
  template <class U> TUnsetAllocator(const TUnsetAllocator<U>&) noexcept {}
  template <class U> void construct(U* at) noexcept { ::new (static_cast<void*>(at)) U; }
  template <class U, class... A> void construct(U* at, A&&... values) {
    ::new (static_cast<void*>(at)) U(std::forward<A>(values)...);
  }
};
using TPixelBytes = std::vector<uint8_t, TUnsetAllocator<uint8_t>>;

// The pixels of a bitmap, shared by bitmaps until one of them writes.
struct TBitmapImage {
  int32_t Width = 0;
  int32_t Height = 0;
  TPixelLayout Layout = plDevice;
  size_t RowSize = 0;
  TPixelBytes Bits;  // bottom-up rows
  HPALETTE Palette;
};

// Every pixel of the image as B, G, R, A (4 x width x height bytes, top row
// first), indexed pixels through the palette. A is the fourth byte of pl32Bit
// pixels and alpha for every other layout. Converts a row at a time, so an
// image costs what its pixels cost.
std::vector<uint8_t> ImageToBgra(const TBitmapImage& image, uint8_t alpha);

enum class THandleKind : uint8_t { bmDIB, bmDDB };

// An in-memory raster. Rows are stored bottom-up; RowPointer(0) is the top
// row. 24-bit pixels are B, G, R; 32-bit and plDevice B, G, R, X; pl16Bit uses
// the masks F800/07E0/001F; pl15Bit 5 bits per channel; 1-, 4- and 8-bit
// pixels index the palette, the leftmost pixel in the high bits. A palette
// index past the palette draws black; a pl1Bit bitmap without a palette is
// black at 0 and white at 1.
class TBitmap : public TGraphic {
  TOLVANE_CLASS(TBitmap)
public:
  TBitmap();
  ~TBitmap() override;

  // No source empties the image; another bitmap shares its image.
  void CopyFrom(TPersistent* source) override;
  void Render(TCanvas& canvas, const TRect& rect) override;
  bool IsBlank() override;
  int32_t ImageHeight() override { return FImage->Height; }
  int32_t ImageWidth() override { return FImage->Width; }
  HPALETTE PaletteOf() override { return FImage->Palette; }
  void ResizeHeight(int32_t value) override;
  void ResizeWidth(int32_t value) override;
  // The bitmap takes the palette (and ownership of it).
  void AssignPalette(HPALETTE palette) override;
  // Windows BMP from the stream's position.
  void LoadStream(TStream& stream) override;
  void SaveStream(TStream& stream) override;
  void LoadClipboard(uint16_t format, THandle data, HPALETTE palette) override;
  void SaveClipboard(uint16_t& format, THandle& data, HPALETTE& palette) override;

  // A handle to (a snapshot of) the image as an icon-less bitmap object.
  virtual THandle BitmapHandle();
  // The transparency mask: 1 where the transparent colour lies.
  virtual THandle MaskHandle();
  virtual void SetHandleKind(THandleKind kind);

  // Reads a packed device-independent bitmap (info header, colour table,
  // bits) held in memory. bitsOffset is where the bits start, or 0 for right
  // after the colour table. A malformed one raises EInvalidGraphic "Bitmap
  // image is not valid" and leaves the image as it was.
  void LoadDib(const uint8_t* data, size_t size, size_t bitsOffset = 0);

  void SetPixelLayout(TPixelLayout layout);
  TPixelLayout PixelLayoutOf() const { return FImage->Layout; }
  // The first byte of row r (0 = top); gives this bitmap a private image.
  uint8_t* RowPointer(int32_t r);
  // Reading without unsharing; the same range check.
  const uint8_t* ConstRowPointer(int32_t r) const;
  size_t RowSize() const { return FImage->RowSize; }
  TCanvas& BitmapCanvas();
  bool HasCanvas() const { return FCanvas != nullptr; }
  // 0 empties the image (layout plDevice, size 0 x 0); the palette stays.
  void ReplaceHandle(THandle handle);
  void SetTransparentKey(TColor colour);
  // The colour drawn transparent: the key set, else the bottom-left pixel's.
  TColor TransparentKey();

  // Colour of a pixel (0x00BBGGRR) through the palette. Unchecked: (x, y)
  // must lie in the image (the canvas's PixelColour checks).
  TColor PixelColor(int32_t x, int32_t y) const;
  // Writes a colour into a pixel of any layout (nearest palette entry for
  // indexed layouts). Unchecked like PixelColor (the canvas's PutPixel checks).
  void SetPixelColor(int32_t x, int32_t y, TColor colour);
  // Fills the part of rect (right and bottom excluded) that lies in the image.
  void FillRect(const TRect& rect, TColor colour);
  // The palette entries that pixels index (a pl1Bit bitmap without palette: black, white).
  std::vector<TPaletteEntry> EffectivePalette() const;
  const TBitmapImage& Image() const { return *FImage; }

  // ResizeHeight for a reader that writes the rows itself, from the top
  // down, while nobody can look at the bitmap: the new rows are not filled
  // first. Whatever rows the reader has not written when this ends (also
  // when an exception ends the load) are filled then, as ResizeHeight
  // fills new rows; until then they hold whatever the memory held.
  class TUnfilledRows {
  public:
    TUnfilledRows(TBitmap& bitmap, int32_t height);
    ~TUnfilledRows();
    TUnfilledRows(const TUnfilledRows&) = delete;
    TUnfilledRows& operator=(const TUnfilledRows&) = delete;
    // Rows 0..rows - 1 hold the reader's pixels.
    void Written(int32_t rows) { FWritten = std::max(FWritten, rows); }

  private:
    TBitmap& FBitmap;
    const TBitmapImage* FImage = nullptr;  // the image whose rows are unset
    std::vector<uint8_t> FFillRow;          // one new row as ResizeHeight fills it
    int32_t FWritten = 0;
  };

private:
  void Unshare();
  void NewImage(int32_t width, int32_t height, TPixelLayout layout, HPALETTE palette, TColor fill);
  TColor NewRowColour() const;
  void ReadBmp(TStream& stream);

  std::shared_ptr<TBitmapImage> FImage;
  std::unique_ptr<TCanvas> FCanvas;
  TColor FTransparentKey = clDefault;
  std::vector<THandle> FHandles;
};

// The framework's icon graphic: one image of an ICO file, drawn unscaled at
// the top-left of the target rectangle.
class TIcon : public TGraphic {
  TOLVANE_CLASS(TIcon)
public:
  TIcon() = default;
  ~TIcon() override;
  void CopyFrom(TPersistent* source) override;
  void Render(TCanvas& canvas, const TRect& rect) override;
  bool IsBlank() override { return !FImage; }
  int32_t ImageHeight() override { return FImage ? FImage->Height : 0; }
  int32_t ImageWidth() override { return FImage ? FImage->Width : 0; }
  void ResizeHeight(int32_t) override;
  void ResizeWidth(int32_t) override;
  void LoadStream(TStream& stream) override;
  void SaveStream(TStream& stream) override;
  void LoadClipboard(uint16_t format, THandle data, HPALETTE palette) override;
  void SaveClipboard(uint16_t& format, THandle& data, HPALETTE& palette) override;

  // Takes an icon or cursor handle as the image (the handle stays the caller's).
  void ReplaceIconHandle(HICON handle);
  std::shared_ptr<const TIconImage> IconImage() const { return FImage; }

private:
  std::shared_ptr<const TIconImage> FImage;
  // Written back by SaveStream: an icon file of the one image shown, not the
  // whole file loaded, whose other entries and padding may be any size.
  std::vector<uint8_t> FData;
};

// Reads the image of an ICO or CUR file that a 32 x 32 display would pick
// (the entry nearest to 32 x 32, then the deepest); raises EInvalidGraphic
// "Icon image is not valid" for a malformed file. The resource runs from the
// stream's position to its end; only the directory, the first bytes of each
// entry and the chosen entry's image are read. saved, when given, receives
// an icon file holding the chosen entry alone.
std::shared_ptr<TIconImage> ReadIconResource(TStream& stream, std::vector<uint8_t>* saved = nullptr);
// Draws an icon image unscaled with its top-left at (x, y).
void DrawIconImage(TBitmap& target, const TIconImage& icon, int32_t x, int32_t y);

// What a TMetafile holds, told by its content: an enhanced metafile, a
// Windows metafile behind a placeable header, or a plain Windows metafile.
enum class TMetafileKind : uint8_t { mkNone, mkEnhanced, mkPlaceable, mkPlain };

// Bitmaps inside metafiles of more pixels are neither drawn nor kept.
inline constexpr int64_t MaxMetafileBitmapPixels = int64_t{1} << 25;

// The framework's metafile graphic (wmf, emf). Reading needs no display;
// drawing is done by the metafile player that start-up installs (see
// SetMetafilePlayer), and without one a metafile draws nothing.
class TMetafile : public TGraphic {
  TOLVANE_CLASS(TMetafile)
public:
  TMetafile();
  ~TMetafile() override;
  void CopyFrom(TPersistent* source) override;
  // Plays the records scaled so that Frame covers rect.
  void Render(TCanvas& canvas, const TRect& rect) override;
  bool IsBlank() override;
  int32_t ImageHeight() override;
  int32_t ImageWidth() override;
  void ResizeHeight(int32_t value) override;
  void ResizeWidth(int32_t value) override;
  // An enhanced or Windows metafile from the stream's position; anything
  // else raises EInvalidGraphic "Metafile is not valid".
  void LoadStream(TStream& stream) override;
  void SaveStream(TStream& stream) override;
  void LoadClipboard(uint16_t format, THandle data, HPALETTE palette) override;
  void SaveClipboard(uint16_t& format, THandle& data, HPALETTE& palette) override;

  // The metafile's bytes as kept, from its first header to its last
  // record: a record longer than 64 KiB keeps only what the player can draw
  // from it, with its sizes rewritten to match (see MetafileRecords.h).
  const std::vector<uint8_t>& Data() const { return FData; }
  TMetafileKind Kind() const { return FKind; }
  // The picture's extent in the file's own units: the frame of an enhanced
  // metafile (0.01 mm), the bounding box of a placeable one, the window of a
  // plain one (empty when the file sets none).
  const TRect& Frame() const { return FFrame; }
  // Units of Frame per inch.
  int32_t UnitsPerInch() const { return FUnitsPerInch; }

private:
  std::vector<uint8_t> FData;
  TMetafileKind FKind = TMetafileKind::mkNone;
  TRect FFrame;
  int32_t FUnitsPerInch = 96;
  int32_t FWidth = 0, FHeight = 0;
};

// Plays a metafile into rect of target. It never throws: a malformed record
// ends playback with what was drawn so far.
using TMetafilePlayer = void (*)(const TMetafile& metafile, TBitmap& target, const TRect& rect);
// Installs the player that TMetafile::Render calls (null removes it).
void SetMetafilePlayer(TMetafilePlayer player);
TMetafilePlayer MetafilePlayer();

// One entry of the picture registry.
struct TFileFormatEntry {
  TGraphicClass GraphicClass;
  std::string Extension;  // lower case, without a dot
  std::string Description;
};

// Holds one current graphic and loads files through the registry.
class TPicture : public TPersistent {
  TOLVANE_CLASS(TPicture)
public:
  TPicture() = default;
  ~TPicture() override;

  // Registry (class-level). The latest registration of an extension wins.
  static void RegisterExtension(const std::string& extension, const std::string& description,
                                TGraphicClass graphicClass);
  static void RegisterClipboardKind(uint16_t format, TGraphicClass graphicClass);
  // Removes every entry of cls and of its descendants from both registries.
  static void UnregisterGraphicKind(TGraphicClass graphicClass);
  static TGraphicClass FindGraphicKind(const std::string& extension);
  static const std::vector<TFileFormatEntry>& RegisteredFormats();
  static const std::vector<std::pair<uint16_t, TGraphicClass>>& RegisteredClipboardKinds();

  // Loads a file into a new graphic of the class registered for its
  // extension; on failure the previous graphic stays.
  void LoadPictureFile(const std::string& fileName);
  // The current graphic as a bitmap (replacing a non-bitmap by an empty one).
  TBitmap& AsBitmap();
  // Null frees the current graphic; otherwise a copy of source becomes current.
  void AssignGraphic(TGraphic* source);
  TGraphic* CurrentGraphic() const { return FGraphic.get(); }
  int32_t PictureWidth() const { return FGraphic ? FGraphic->ImageWidth() : 0; }
  int32_t PictureHeight() const { return FGraphic ? FGraphic->ImageHeight() : 0; }

  TNotifyEvent OnChange;
  TProgressEvent OnProgress;
  // Handed to each graphic it loads (see TGraphic::ProgressSeesPixels).
  bool ProgressSeesPixels = true;

private:
  void SetGraphic(std::unique_ptr<TGraphic> graphic);
  void PictureChanged(TObject* sender);
  std::unique_ptr<TGraphic> FGraphic;
};

// The extension LoadPictureFile takes from a name: after the last ".", or
// none when a "/" follows that dot; the dot is not part of it.
std::string PictureExtensionOf(const std::string& fileName);

}  // namespace tolvane
