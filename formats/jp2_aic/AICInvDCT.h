// The inverse transform of AIC: the floating-point inverse DCT of the AAN
// arrangement, dequantising on the way in. Encoder and decoder both run it,
// and since its results are truncated, every step keeps the precision the
// format fixes: doubles for named intermediates, extended precision within
// each expression.
#pragma once

#include "AICBase.h"

namespace tolvane {

// Quantised coefficients in, residual out, in place.
void InverseDCT(TAICBlock& block, const TAICQuantTable& dequant);

}  // namespace tolvane
