// The forward transform of the AIC encoder: the scaled floating-point DCT
// of Arai, Agui and Nakajima, quantised on the way out. Every named
// intermediate is a double, every expression is evaluated in extended
// precision and rounded when stored, so that the coefficients do not depend
// on the compiler's choices.
#pragma once

#include "AICBase.h"

namespace tolvane {

// Residual in, quantised coefficients out (index 8 x vertical frequency +
// horizontal frequency), in place.
void ForwardDCT(TAICBlock& block, const TAICQuantTable& quant);

}  // namespace tolvane
