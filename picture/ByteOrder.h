// Loads and stores of 16- and 32-bit integers in a stated byte order: from a
// raw pointer where the caller has already checked the bounds, or from a span
// at an offset, where a value that does not fit in the span raises the
// stream's read error (a header shorter than its fields is a short read).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "picture/SysUtils.h"

namespace tolvane {

constexpr uint16_t LoadLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
constexpr uint16_t LoadBE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
constexpr uint32_t LoadLE32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
constexpr uint32_t LoadBE32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}
constexpr int16_t LoadLES16(const uint8_t* p) { return static_cast<int16_t>(LoadLE16(p)); }
constexpr int16_t LoadBES16(const uint8_t* p) { return static_cast<int16_t>(LoadBE16(p)); }
constexpr int32_t LoadLES32(const uint8_t* p) { return static_cast<int32_t>(LoadLE32(p)); }
constexpr int32_t LoadBES32(const uint8_t* p) { return static_cast<int32_t>(LoadBE32(p)); }

// Either byte order, chosen at run time (TIFF, Photo CD headers).
constexpr uint16_t Load16(const uint8_t* p, bool bigEndian) { return bigEndian ? LoadBE16(p) : LoadLE16(p); }
constexpr uint32_t Load32(const uint8_t* p, bool bigEndian) { return bigEndian ? LoadBE32(p) : LoadLE32(p); }

namespace byteorder_detail {
[[noreturn]] void RaiseShortRead();
inline const uint8_t* At(std::span<const uint8_t> bytes, size_t offset, size_t size) {
  if (offset > bytes.size() || bytes.size() - offset < size) RaiseShortRead();
  return bytes.data() + offset;
}
}  // namespace byteorder_detail

inline uint8_t LoadU8(std::span<const uint8_t> b, size_t offset) { return *byteorder_detail::At(b, offset, 1); }
inline uint16_t LoadLE16(std::span<const uint8_t> b, size_t offset) { return LoadLE16(byteorder_detail::At(b, offset, 2)); }
inline uint16_t LoadBE16(std::span<const uint8_t> b, size_t offset) { return LoadBE16(byteorder_detail::At(b, offset, 2)); }
inline uint32_t LoadLE32(std::span<const uint8_t> b, size_t offset) { return LoadLE32(byteorder_detail::At(b, offset, 4)); }
inline uint32_t LoadBE32(std::span<const uint8_t> b, size_t offset) { return LoadBE32(byteorder_detail::At(b, offset, 4)); }
inline uint16_t Load16(std::span<const uint8_t> b, size_t offset, bool bigEndian) {
  return Load16(byteorder_detail::At(b, offset, 2), bigEndian);
}
inline uint32_t Load32(std::span<const uint8_t> b, size_t offset, bool bigEndian) {
  return Load32(byteorder_detail::At(b, offset, 4), bigEndian);
}

inline void StoreLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreLE32(uint8_t* p, uint32_t v) {
  StoreLE16(p, static_cast<uint16_t>(v));
  StoreLE16(p + 2, static_cast<uint16_t>(v >> 16));
}
inline void StoreBE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void StoreBE32(uint8_t* p, uint32_t v) {
  StoreBE16(p, static_cast<uint16_t>(v >> 16));
  StoreBE16(p + 2, static_cast<uint16_t>(v));
}

// Appending stores, for writers that build their output in a byte vector.
inline void AppendLE16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void AppendLE32(std::vector<uint8_t>& out, uint32_t v) {
  AppendLE16(out, static_cast<uint16_t>(v));
  AppendLE16(out, static_cast<uint16_t>(v >> 16));
}
inline void AppendBE16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}
inline void AppendBE32(std::vector<uint8_t>& out, uint32_t v) {
  AppendBE16(out, static_cast<uint16_t>(v >> 16));
  AppendBE16(out, static_cast<uint16_t>(v));
}

}  // namespace tolvane
