// The state that the AIC encoder and decoder share: image size, planes, the
// prediction mode of every block position and the dequantiser, with the
// 8x8 block predictor. Encoder and decoder must predict identically, since
// every reconstructed block is the prediction source of the blocks after it.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "AICCommon.h"
#include "picture/Classes.h"

namespace tolvane {

using TAICBlock = std::array<int32_t, 64>;
using TAICPredictionBlock = std::array<uint8_t, 64>;
using TAICQuantTable = std::array<double, 64>;

class TAICBase : public TObject {
  TOLVANE_CLASS(TAICBase)
public:
  TAICBase() = default;

  // Stores the size, colour and quality, allocates the planes and the mode
  // array and sets up the quantiser. Planes larger than the picture limits
  // are refused (EAICError) before anything is allocated.
  void SetupImage(int32_t width, int32_t height, uint8_t colour, uint8_t quality);
  // Quality to scale, then SetQuantiser; quality 0 raises EAICError.
  void SetQuality();
  // Builds Dequant (the encoder adds Quant).
  virtual void SetQuantiser(int32_t scale);
  // The quantiser step of scale applied to the AAN scale factors: the
  // dequantiser, or with forDecoding false the reciprocal quantiser.
  static void BuildQuantTable(int32_t scale, TAICQuantTable& table, bool forDecoding);
  // The step of a scale, clamped to 1..32767.
  static double QuantiserStep(int32_t scale);

  // Predicts the 8x8 block at pixel (x, y) of plane; false (and block
  // untouched) when the mode is not usable at that position.
  bool Predict(TAICPredictionMode mode, const TAICChannel& plane, int32_t x, int32_t y,
               TAICPredictionBlock& block) const;
  // The mode that the neighbours predict for a block position.
  TAICPredictionMode PredictedMode(int32_t blockColumn, int32_t blockRow) const;

  TAICPredictionMode& ModeAt(int32_t blockRow, int32_t blockColumn) {
    return Modes[static_cast<size_t>(blockRow) * static_cast<size_t>(PaddedWidth / 8) + static_cast<size_t>(blockColumn)];
  }
  TAICPredictionMode ModeAt(int32_t blockRow, int32_t blockColumn) const {
    return Modes[static_cast<size_t>(blockRow) * static_cast<size_t>(PaddedWidth / 8) + static_cast<size_t>(blockColumn)];
  }

  TStream* Stream = nullptr;  // the caller's
  uint8_t Colour = 0;         // 1: planes Y, Cb, Cr; otherwise one grey plane
  uint8_t LastChannel = 0;
  uint8_t Quality = 0;
  int32_t Width = 0, Height = 0;
  int32_t PaddedHeight = 0, PaddedWidth = 0;
  TAICChannels Planes;
  std::vector<TAICPredictionMode> Modes;  // [PaddedHeight / 8][PaddedWidth / 8]
  TAICQuantTable Dequant{};
};

}  // namespace tolvane
