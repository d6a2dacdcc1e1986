// Our own stand-ins for the desktop's drawing objects: colours, logical
// palettes, raster operations, handles to icons and memory blocks, and a
// process-local clipboard. Everything here is plain data; nothing talks to a
// display.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tolvane {

// A colour value 0x00BBGGRR.
using TColor = uint32_t;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clNone = 0x1FFFFFFF;
inline constexpr TColor clDefault = 0x20000000;

inline constexpr TColor RGBColor(uint8_t r, uint8_t g, uint8_t b) {
  return TColor{r} | TColor{g} << 8 | TColor{b} << 16;
}
inline constexpr uint8_t GetRValue(TColor c) { return static_cast<uint8_t>(c); }
inline constexpr uint8_t GetGValue(TColor c) { return static_cast<uint8_t>(c >> 8); }
inline constexpr uint8_t GetBValue(TColor c) { return static_cast<uint8_t>(c >> 16); }

// The screen that pictures are shown on has 32 bits per pixel.
int ScreenBitsPerPixel();

// Logical palettes. A palette is immutable once made; a handle shares it, and
// an empty handle is "no palette" (a null palette handle).
struct TPaletteEntry {
  uint8_t peRed = 0, peGreen = 0, peBlue = 0, peFlags = 0;
  friend bool operator==(const TPaletteEntry&, const TPaletteEntry&) = default;
};

class TPalette {
public:
  explicit TPalette(std::vector<TPaletteEntry> entries) : Entries(std::move(entries)) {}
  const std::vector<TPaletteEntry> Entries;
};
using HPALETTE = std::shared_ptr<const TPalette>;

// At most 256 entries are kept (a larger logical palette is cut).
HPALETTE CreatePalette(std::vector<TPaletteEntry> entries);
// Copies up to count entries from start into out; returns the number copied
// (0 for no palette or a start past the end).
uint32_t GetPaletteEntries(const HPALETTE& palette, uint32_t start, uint32_t count, TPaletteEntry* out);
inline uint32_t PaletteEntryCount(const HPALETTE& p) { return p ? static_cast<uint32_t>(p->Entries.size()) : 0; }

// 000000, 800000, 008000, 808000, 000080, 800080, 008080, C0C0C0, 808080,
// FF0000, 00FF00, FFFF00, 0000FF, FF00FF, 00FFFF, FFFFFF (RGB).
HPALETTE SystemPalette16();
// The 256-colour halftone palette of the screen: the 20 static colours at
// indices 0..9 and 246..255, a 6x6x6 colour cube (levels 0, 51, ..., 255)
// at 10..225 and twenty greys between the cube's levels at 226..245
// (round(255 k / 21) for k = 1..20: 12, 24, 36, 49, ..., 243).
HPALETTE HalftonePalette();
// Black at 0, white at 1.
HPALETTE MonochromePalette();
// Index of the entry nearest to colour by squared RGB distance, the lowest
// index on ties; 0 for an empty palette.
uint8_t NearestPaletteIndex(const TPaletteEntry* entries, uint32_t count, TColor colour);

// Raster operations of a copy (source S, destination D, brush pattern P).
inline constexpr uint32_t cmBlackness = 0x00000042;
inline constexpr uint32_t cmDstInvert = 0x00550009;
inline constexpr uint32_t cmMergeCopy = 0x00C000CA;
inline constexpr uint32_t cmMergePaint = 0x00BB0226;
inline constexpr uint32_t cmNotSrcCopy = 0x00330008;
inline constexpr uint32_t cmNotSrcErase = 0x001100A6;
inline constexpr uint32_t cmPatCopy = 0x00F00021;
inline constexpr uint32_t cmPatInvert = 0x005A0049;
inline constexpr uint32_t cmPatPaint = 0x00FB0A09;
inline constexpr uint32_t cmSrcAnd = 0x008800C6;
inline constexpr uint32_t cmSrcCopy = 0x00CC0020;
inline constexpr uint32_t cmSrcErase = 0x00440328;
inline constexpr uint32_t cmSrcInvert = 0x00660046;
inline constexpr uint32_t cmSrcPaint = 0x00EE0086;
inline constexpr uint32_t cmWhiteness = 0x00FF0062;
// The bitwise result of ternary raster operation rop on 24-bit values.
uint32_t ApplyRop3(uint32_t rop, uint32_t pattern, uint32_t source, uint32_t dest);

// Handles of memory blocks, icons and clipboard data. 0 is "none".
using THandle = uintptr_t;

// Movable memory blocks (the global memory of the clipboard interfaces).
inline constexpr uint32_t GMEM_MOVEABLE = 2;
THandle GlobalAlloc(uint32_t flags, size_t size);
void* GlobalLock(THandle block);
void GlobalUnlock(THandle block);
size_t GlobalSize(THandle block);
void GlobalFree(THandle block);

// A process-local clipboard: the data of each format is a memory block that
// the clipboard owns once it is set.
inline constexpr uint16_t CF_BITMAP = 2;
inline constexpr uint16_t CF_METAFILEPICT = 3;
inline constexpr uint16_t CF_DIB = 8;
inline constexpr uint16_t CF_PALETTE = 9;
inline constexpr uint16_t CF_ENHMETAFILE = 14;
uint16_t RegisterClipboardFormat(const std::string& name);
THandle SetClipboardData(uint16_t format, THandle block);
THandle GetClipboardData(uint16_t format);
void EmptyClipboard();

// An icon or cursor image: an AND mask and an XOR image of one size, with a
// hot spot. The colour image is 32-bit BGRA; HasAlpha tells whether its
// fourth byte is an alpha channel (then alpha alone decides how a pixel is
// drawn, and the mask is not used). Rows are top-down and tightly packed.
struct TIconImage {
  int32_t Width = 0, Height = 0;
  int32_t HotSpotX = 0, HotSpotY = 0;
  bool IsIcon = true;
  uint16_t BitsPerPixel = 32;     // of the colour image as the file stored it
  bool HasAlpha = false;
  std::vector<uint8_t> AndMask;   // one byte per pixel, 1 = transparent
  std::vector<uint8_t> XorBgra;   // 4 bytes per pixel
};
using HICON = THandle;
HICON CreateIconHandle(std::shared_ptr<const TIconImage> image);
std::shared_ptr<const TIconImage> IconFromHandle(HICON icon);
void DestroyIcon(HICON icon);

}  // namespace tolvane
