#include "GdiObjects.h"

#include <cmath>
#include <map>
#include <mutex>

namespace tolvane {

int ScreenBitsPerPixel() { return 32; }

HPALETTE CreatePalette(std::vector<TPaletteEntry> entries) {
  if (entries.size() > 256) entries.resize(256);
  return std::make_shared<const TPalette>(std::move(entries));
}

uint32_t GetPaletteEntries(const HPALETTE& palette, uint32_t start, uint32_t count, TPaletteEntry* out) {
  if (!palette || start >= palette->Entries.size()) return 0;
  uint32_t n = std::min<uint32_t>(count, static_cast<uint32_t>(palette->Entries.size()) - start);
  for (uint32_t i = 0; i < n; ++i) out[i] = palette->Entries[start + i];
  return n;
}

namespace {
TPaletteEntry Entry(uint32_t rgb) {
  return TPaletteEntry{static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8), static_cast<uint8_t>(rgb), 0};
}
}  // namespace

HPALETTE SystemPalette16() {
  static const HPALETTE palette = [] {
    const uint32_t rgb[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
                              0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
    std::vector<TPaletteEntry> e;
    for (uint32_t c : rgb) e.push_back(Entry(c));
    return CreatePalette(std::move(e));
  }();
  return palette;
}

HPALETTE HalftonePalette() {
  static const HPALETTE palette = [] {
    const uint32_t low[10] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080,
                              0x800080, 0x008080, 0xC0C0C0, 0xC0DCC0, 0xA6CAF0};
    const uint32_t high[10] = {0xFFFBF0, 0xA0A0A4, 0x808080, 0xFF0000, 0x00FF00,
                               0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
    std::vector<TPaletteEntry> e;
    for (uint32_t c : low) e.push_back(Entry(c));
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b)
          e.push_back(TPaletteEntry{static_cast<uint8_t>(r * 51), static_cast<uint8_t>(g * 51),
                                    static_cast<uint8_t>(b * 51), 0});
    // Twenty greys between the cube's levels: round(255 k / 21), k = 1..20.
    for (int k = 1; k <= 20; ++k) {
      auto v = static_cast<uint8_t>(std::lround(255.0 * k / 21.0));
      e.push_back(TPaletteEntry{v, v, v, 0});
    }
    for (uint32_t c : high) e.push_back(Entry(c));
    return CreatePalette(std::move(e));
  }();
  return palette;
}

HPALETTE MonochromePalette() {
  static const HPALETTE palette = CreatePalette({TPaletteEntry{0, 0, 0, 0}, TPaletteEntry{255, 255, 255, 0}});
  return palette;
}

uint8_t NearestPaletteIndex(const TPaletteEntry* entries, uint32_t count, TColor colour) {
  int r = GetRValue(colour), g = GetGValue(colour), b = GetBValue(colour);
  uint32_t best = 0;
  int bestDist = INT32_MAX;
  for (uint32_t i = 0; i < count && i < 256; ++i) {
    int dr = entries[i].peRed - r, dg = entries[i].peGreen - g, db = entries[i].peBlue - b;
    int d = dr * dr + dg * dg + db * db;
    if (d < bestDist) {
      bestDist = d;
      best = i;
      if (d == 0) break;
    }
  }
  return static_cast<uint8_t>(best);
}

uint32_t ApplyRop3(uint32_t rop, uint32_t p, uint32_t s, uint32_t d) {
  // The operation's index byte is its truth table over (P, S, D): bit
  // (P << 2 | S << 1 | D) of the byte is the result for those inputs.
  uint32_t code = (rop >> 16) & 0xFF;
  uint32_t result = 0;
  for (int i = 0; i < 8; ++i) {
    if (!(code & (1u << i))) continue;
    uint32_t term = ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
    result |= term;
  }
  return result & 0xFFFFFF;
}

// ---------------------------------------------------------------------------
// Handle tables. Handles are small integers that never repeat within a run.

namespace {
template <class T> class THandleTable {
public:
  THandle Add(T value) {
    std::lock_guard lock(FMutex);
    THandle h = ++FNext;
    FItems.emplace(h, std::move(value));
    return h;
  }
  T* Find(THandle h) {
    std::lock_guard lock(FMutex);
    auto it = FItems.find(h);
    return it == FItems.end() ? nullptr : &it->second;
  }
  void Remove(THandle h) {
    std::lock_guard lock(FMutex);
    FItems.erase(h);
  }

private:
  std::mutex FMutex;
  std::map<THandle, T> FItems;
  THandle FNext = 0x1000;
};

THandleTable<std::vector<uint8_t>>& MemoryBlocks() {
  static THandleTable<std::vector<uint8_t>> table;
  return table;
}

THandleTable<std::shared_ptr<const TIconImage>>& Icons() {
  static THandleTable<std::shared_ptr<const TIconImage>> table;
  return table;
}

struct TClipboardState {
  std::map<std::string, uint16_t> Formats;
  std::map<uint16_t, THandle> Data;
  uint16_t NextFormat = 0xC000;
};
TClipboardState& Clipboard() {
  static TClipboardState state;
  return state;
}
}  // namespace

THandle GlobalAlloc(uint32_t, size_t size) { return MemoryBlocks().Add(std::vector<uint8_t>(size)); }

void* GlobalLock(THandle block) {
  auto* b = MemoryBlocks().Find(block);
  return b ? b->data() : nullptr;
}

void GlobalUnlock(THandle) {}

size_t GlobalSize(THandle block) {
  auto* b = MemoryBlocks().Find(block);
  return b ? b->size() : 0;
}

void GlobalFree(THandle block) { MemoryBlocks().Remove(block); }

uint16_t RegisterClipboardFormat(const std::string& name) {
  auto& c = Clipboard();
  auto it = c.Formats.find(name);
  if (it != c.Formats.end()) return it->second;
  return c.Formats[name] = c.NextFormat++;
}

THandle SetClipboardData(uint16_t format, THandle block) {
  if (!block || !MemoryBlocks().Find(block)) return 0;
  auto& c = Clipboard();
  auto old = c.Data.find(format);
  if (old != c.Data.end() && old->second != block) GlobalFree(old->second);
  c.Data[format] = block;
  return block;
}

THandle GetClipboardData(uint16_t format) {
  auto& c = Clipboard();
  auto it = c.Data.find(format);
  return it == c.Data.end() ? 0 : it->second;
}

void EmptyClipboard() {
  auto& c = Clipboard();
  for (auto& [f, h] : c.Data) GlobalFree(h);
  c.Data.clear();
}

HICON CreateIconHandle(std::shared_ptr<const TIconImage> image) {
  return image ? Icons().Add(std::move(image)) : 0;
}

std::shared_ptr<const TIconImage> IconFromHandle(HICON icon) {
  auto* p = Icons().Find(icon);
  return p ? *p : nullptr;
}

void DestroyIcon(HICON icon) { Icons().Remove(icon); }

}  // namespace tolvane
