// Hand-made cursor files for the cursor tests: pixels
// known by construction, in the published cursor-file layout (directory,
// bitmap header, colour table, XOR rows, AND rows, all rows bottom-up).
#pragma once

#include <cstdint>
#include <vector>

#include "picture/ByteOrder.h"

namespace tolvane::test {

using Bytes = std::vector<uint8_t>;

struct TCursorSpec {
  int32_t Width = 32, Height = 32;
  uint16_t BitCount = 1;
  uint16_t HotX = 0, HotY = 0;
  uint16_t Type = 2;                // 2 cursor, 1 icon
  std::vector<uint32_t> Palette;    // 0x00RRGGBB, for 8 bits and fewer
  std::vector<uint32_t> Pixels;     // top-down: an index, or 0xAARRGGBB
  std::vector<uint8_t> Transparent; // top-down AND mask, 1 = transparent
};

inline size_t RowBytes(int32_t width, int bits) {
  return (static_cast<size_t>(width) * static_cast<size_t>(bits) + 31) / 32 * 4;
}

// The XOR rows of a spec, bottom-up.
inline Bytes XorRows(const TCursorSpec& s) {
  const size_t row = RowBytes(s.Width, s.BitCount);
  Bytes out(row * static_cast<size_t>(s.Height));
  for (int32_t y = 0; y < s.Height; ++y) {
    uint8_t* r = &out[row * static_cast<size_t>(s.Height - 1 - y)];
    for (int32_t x = 0; x < s.Width; ++x) {
      const uint32_t v = s.Pixels[static_cast<size_t>(y * s.Width + x)];
      switch (s.BitCount) {
        case 1: r[x / 8] |= static_cast<uint8_t>((v & 1) << (7 - x % 8)); break;
        case 4: r[x / 2] |= static_cast<uint8_t>((v & 15) << (x % 2 ? 0 : 4)); break;
        case 8: r[x] = static_cast<uint8_t>(v); break;
        case 24: StoreLE16(r + 3 * x, static_cast<uint16_t>(v)), r[3 * x + 2] = static_cast<uint8_t>(v >> 16); break;
        default: StoreLE32(r + 4 * x, v); break;
      }
    }
  }
  return out;
}

// The AND rows of a spec, bottom-up.
inline Bytes AndRows(const TCursorSpec& s) {
  const size_t row = RowBytes(s.Width, 1);
  Bytes out(row * static_cast<size_t>(s.Height));
  for (int32_t y = 0; y < s.Height; ++y)
    for (int32_t x = 0; x < s.Width; ++x)
      if (s.Transparent[static_cast<size_t>(y * s.Width + x)])
        out[row * static_cast<size_t>(s.Height - 1 - y) + static_cast<size_t>(x / 8)] |=
            static_cast<uint8_t>(0x80 >> (x % 8));
  return out;
}

inline Bytes CursorFile(const TCursorSpec& s) {
  const Bytes xorRows = XorRows(s), andRows = AndRows(s);
  Bytes f;
  AppendLE16(f, 0);
  AppendLE16(f, s.Type);
  AppendLE16(f, 1);
  f.push_back(static_cast<uint8_t>(s.Width));
  f.push_back(static_cast<uint8_t>(s.Height));
  f.push_back(static_cast<uint8_t>(s.Palette.size()));
  f.push_back(0);
  AppendLE16(f, s.HotX);
  AppendLE16(f, s.HotY);
  AppendLE32(f, static_cast<uint32_t>(40 + 4 * s.Palette.size() + xorRows.size() + andRows.size()));
  AppendLE32(f, 22);
  AppendLE32(f, 40);
  AppendLE32(f, static_cast<uint32_t>(s.Width));
  AppendLE32(f, static_cast<uint32_t>(2 * s.Height));
  AppendLE16(f, 1);
  AppendLE16(f, s.BitCount);
  AppendLE32(f, 0);
  AppendLE32(f, static_cast<uint32_t>(xorRows.size() + andRows.size()));
  for (int i = 0; i < 4; ++i) AppendLE32(f, 0);
  for (uint32_t c : s.Palette) AppendLE32(f, c);
  f.insert(f.end(), xorRows.begin(), xorRows.end());
  f.insert(f.end(), andRows.begin(), andRows.end());
  return f;
}

}  // namespace tolvane::test
