// RGB to Y, Cb, Cr for the AIC encoder: the JFIF equations in 16.16 fixed
// point, one table lookup per product.
#pragma once

#include <array>
#include <cstdint>

#include "AICCommon.h"
#include "picture/Graphics.h"

namespace tolvane {

// The eight products of the forward equations for every byte value.
struct TRGBToYCbCrTables {
  std::array<int32_t, 256> RY, GY, BY, RCb, GCb, BCb, GCr, BCr;  // B x 0.5 serves Cb, R x 0.5 Cr
};
const TRGBToYCbCrTables& BuildRGBToYCbCrTables();

// Converts the width x height image area of a pl24Bit bitmap (rows B, G, R)
// into the first three planes.
void RGBToYCbCr(const TBitmap& bitmap, TAICChannels& planes, int32_t width, int32_t height);

}  // namespace tolvane
