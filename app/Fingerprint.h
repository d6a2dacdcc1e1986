// The 128-bit image fingerprint: a picture drawn into 16 x 8 cells, one bit
// per cell, set when the cell is at least as bright as the mean of all cells.
// Near-duplicates differ in few bits.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "picture/Graphics.h"
#include "picture/Jpeg.h"

namespace tolvane {

// Word w holds row 2w in bits 31..16 and row 2w+1 in bits 15..0, column 0
// in the highest bit of each half. A fingerprint never computed is all zero.
struct Fingerprint {
  std::array<uint32_t, 4> Words{};
  friend bool operator==(const Fingerprint&, const Fingerprint&) = default;
};

// Number of 1 bits of a 16-bit value (one table lookup).
int BitCount16(uint16_t value);
// Number of bit positions in which a and b differ, 0..128.
int FingerprintDistance(const Fingerprint& a, const Fingerprint& b);

// Loads directory + relativeName (plain concatenation) into picture and
// draws it into target (a 16 x 8 pl24Bit bitmap) to fill out. A file that
// cannot be loaded, or loads with width or height 0, leaves out as it was
// and gives false. The target is filled white before each drawing, so that
// a fingerprint depends on its file alone. Exceptions raised while drawing
// pass on.
bool ComputeFingerprint(const std::string& directory, const std::string& relativeName, TPicture& picture,
                        Fingerprint& out, TBitmap& target);
// The fingerprint of whatever target (16 x 8, pl24Bit) holds.
Fingerprint FingerprintOfTarget(const TBitmap& target);

struct TExtensionRecord {
  const char* Extension;  // lower case, without a dot
  const char* Description;
};
inline constexpr int ExtensionCount = 50;
extern const TExtensionRecord ExtensionTable[ExtensionCount];

// extension with its dot, already lower-cased by the caller (".jpg").
bool IsSupportedExtension(const std::string& extension);

}  // namespace tolvane
