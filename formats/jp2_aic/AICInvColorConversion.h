// Y, Cb, Cr to RGB for the AIC decoder: the JFIF equations in 16.16 fixed
// point with clamped results.
#pragma once

#include <array>
#include <cstdint>

#include "AICCommon.h"
#include "picture/Graphics.h"

namespace tolvane {

// The products of the inverse equations for every byte value of Cb or Cr.
struct TYCbCrToRGBTables {
  std::array<int32_t, 256> CrR, CbB, CbG, CrG;  // CrR, CbB already rounded and shifted
};
const TYCbCrToRGBTables& BuildYCbCrToRGBTables();

// Writes the width x height image area of the planes into a pl24Bit bitmap
// of at least that size (rows B, G, R).
void YCbCrToRGB(const TAICChannels& planes, TBitmap& bitmap, int32_t width, int32_t height);

}  // namespace tolvane
