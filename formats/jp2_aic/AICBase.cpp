#include "AICBase.h"

#include <algorithm>

#include "picture/Graphics.h"

namespace tolvane {

TOLVANE_DEFINE_CLASS(TAICBase, TObject)

namespace {

// Scale factors of the AAN transform, cos(k pi / 16) x sqrt(2) for k > 0.
constexpr double kAanScale[8] = {1.0, 1.387039845, 1.306562965, 1.175875602,
                                 1.0, 0.785694958, 0.541196100, 0.275899379};

// The neighbours of a block: A[-1..15] the row above (A[-1] the corner),
// L[-1..7] the column to the left (L[-1] the same corner). Only the samples
// that the block's position makes available are read.
struct TNeighbours {
  int a[17] = {};
  int l[9] = {};
  bool top = false, left = false, topRight = false;
  int A(int k) const { return a[k + 1]; }
  int L(int k) const { return l[k + 1]; }
};

TNeighbours GatherNeighbours(const TAICChannel& plane, int32_t x, int32_t y, int32_t paddedWidth) {
  TNeighbours n;
  n.top = y >= 1;
  n.left = x >= 1;
  n.topRight = n.top && x <= paddedWidth - 16;
  if (n.top) {
    const uint8_t* above = plane[y - 1];
    const int count = n.topRight ? 16 : 8;
    for (int k = 0; k < count; ++k) n.a[k + 1] = above[x + k];
    if (n.left) n.a[0] = above[x - 1];
  }
  if (n.left) {
    for (int k = 0; k < 8; ++k) n.l[k + 1] = plane[y + k][x - 1];
    n.l[0] = n.a[0];
  }
  return n;
}

uint8_t Byte(int v) { return static_cast<uint8_t>(v); }

void PredictVert(const TNeighbours& n, TAICPredictionBlock& p) {
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j) p[8 * i + j] = Byte(n.A(j));
}

void PredictHorz(const TNeighbours& n, TAICPredictionBlock& p) {
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j) p[8 * i + j] = Byte(n.L(i));
}

void PredictDC(const TNeighbours& n, TAICPredictionBlock& p) {
  int sumA = 0, sumL = 0;
  for (int k = 0; k < 8; ++k) {
    if (n.top) sumA += n.A(k);
    if (n.left) sumL += n.L(k);
  }
  int dc = 128;
  if (n.top && n.left) dc = (sumA + sumL + 8) >> 4;
  else if (n.top) dc = (sumA + 4) >> 3;
  else if (n.left) dc = (sumL + 4) >> 3;
  p.fill(Byte(dc));
}

void PredictDiagonalDownLeft(const TNeighbours& n, TAICPredictionBlock& p) {
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j)
      p[8 * i + j] = (i == 7 && j == 7) ? Byte((n.A(14) + 3 * n.A(15) + 2) >> 2)
                                        : Byte((n.A(i + j) + 2 * n.A(i + j + 1) + n.A(i + j + 2) + 2) >> 2);
}

void PredictDiagonalDownRight(const TNeighbours& n, TAICPredictionBlock& p) {
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j) {
      int v;
      if (j > i) v = (n.A(j - i - 2) + 2 * n.A(j - i - 1) + n.A(j - i) + 2) >> 2;
      else if (j < i) v = (n.L(i - j - 2) + 2 * n.L(i - j - 1) + n.L(i - j) + 2) >> 2;
      else v = (n.A(0) + 2 * n.A(-1) + n.L(0) + 2) >> 2;
      p[8 * i + j] = Byte(v);
    }
}

void PredictVerticalRight(const TNeighbours& n, TAICPredictionBlock& p) {
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j) {
      const int z = 2 * j - i, h = i >> 1;
      int v;
      if (z >= 0 && z % 2 == 0) v = (n.A(j - h - 1) + n.A(j - h) + 1) >> 1;
      else if (z >= 0) v = (n.A(j - h - 2) + 2 * n.A(j - h - 1) + n.A(j - h) + 2) >> 2;
      else if (z == -1) v = (n.L(0) + 2 * n.A(-1) + n.A(0) + 2) >> 2;
      else v = (n.L(i - j - 1) + 2 * n.L(i - j - 2) + n.L(i - j - 3) + 2) >> 2;
      p[8 * i + j] = Byte(v);
    }
}

void PredictHorizontalDown(const TNeighbours& n, TAICPredictionBlock& p) {
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j) {
      const int z = 2 * i - j, h = j >> 1;
      int v;
      if (z >= 0 && z % 2 == 0) v = (n.L(i - h - 1) + n.L(i - h) + 1) >> 1;
      else if (z >= 0) v = (n.L(i - h - 2) + 2 * n.L(i - h - 1) + n.L(i - h) + 2) >> 2;
      else if (z == -1) v = (n.L(0) + 2 * n.A(-1) + n.A(0) + 2) >> 2;
      else v = (n.A(j - i - 1) + 2 * n.A(j - i - 2) + n.A(j - i - 3) + 2) >> 2;
      p[8 * i + j] = Byte(v);
    }
}

void PredictVerticalLeft(const TNeighbours& n, TAICPredictionBlock& p) {
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j) {
      const int h = i >> 1;
      p[8 * i + j] = (i % 2 == 0) ? Byte((n.A(j + h) + n.A(j + h + 1) + 1) >> 1)
                                  : Byte((n.A(j + h) + 2 * n.A(j + h + 1) + n.A(j + h + 2) + 2) >> 2);
    }
}

void PredictHorizontalUp(const TNeighbours& n, TAICPredictionBlock& p) {
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j) {
      const int z = 2 * i + j, h = j >> 1;
      int v;
      if (z < 13 && z % 2 == 0) v = (n.L(i + h) + n.L(i + h + 1) + 1) >> 1;
      else if (z < 13) v = (n.L(i + h) + 2 * n.L(i + h + 1) + n.L(i + h + 2) + 2) >> 2;
      else if (z == 13) v = (n.L(6) + 3 * n.L(7) + 2) >> 2;
      else v = n.L(7);
      p[8 * i + j] = Byte(v);
    }
}

}  // namespace

void TAICBase::SetupImage(int32_t width, int32_t height, uint8_t colour, uint8_t quality) {
  if (width < 0 || height < 0) RaiseAICError(AICConst::SInvalidFile);
  const int64_t paddedWidth = (int64_t{width} + 7) / 8 * 8;
  const int64_t paddedHeight = (int64_t{height} + 7) / 8 * 8;
  if (!ImageSizeAllowed(paddedWidth, paddedHeight, colour == 1 ? 24 : 8)) RaiseAICError(AICConst::SInvalidFile);
  Width = width;
  Height = height;
  Colour = colour;
  Quality = quality;
  PaddedWidth = static_cast<int32_t>(paddedWidth);
  PaddedHeight = static_cast<int32_t>(paddedHeight);
  if (quality == 0) RaiseAICError(AICConst::SInvalidQuality);
  Planes[0].Allocate(PaddedWidth, PaddedHeight);
  if (colour == 1) {
    LastChannel = 2;
    Planes[1].Allocate(PaddedWidth, PaddedHeight);
    Planes[2].Allocate(PaddedWidth, PaddedHeight);
  } else {
    LastChannel = 0;
  }
  Modes.assign(static_cast<size_t>(PaddedHeight / 8) * static_cast<size_t>(PaddedWidth / 8), pmVert);
  SetQuality();
}

void TAICBase::SetQuality() {
  // A quality of 0 would divide by zero; no file or caller gets that far.
  if (Quality == 0) RaiseAICError(AICConst::SInvalidQuality);
  const int32_t scale = Quality <= 50 ? 5000 / Quality : 200 - 2 * Quality;
  SetQuantiser(scale);
}

void TAICBase::SetQuantiser(int32_t scale) { BuildQuantTable(scale, Dequant, true); }

double TAICBase::QuantiserStep(int32_t scale) {
  double step = static_cast<double>(static_cast<long double>(18 * scale + 50) / 100.0L);
  return std::clamp(step, 1.0, 32767.0);
}

void TAICBase::BuildQuantTable(int32_t scale, TAICQuantTable& table, bool forDecoding) {
  const double step = QuantiserStep(scale);
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) {
      const long double product = static_cast<long double>(step) * kAanScale[r] * kAanScale[c];
      table[static_cast<size_t>(8 * r + c)] =
          forDecoding ? static_cast<double>(product) : static_cast<double>(1.0L / (product * 8.0L));
    }
}

bool TAICBase::Predict(TAICPredictionMode mode, const TAICChannel& plane, int32_t x, int32_t y,
                       TAICPredictionBlock& block) const {
  const TNeighbours n = GatherNeighbours(plane, x, y, PaddedWidth);
  switch (mode) {
    case pmVert:
      if (!n.top) return false;
      PredictVert(n, block);
      return true;
    case pmHorz:
      if (!n.left) return false;
      PredictHorz(n, block);
      return true;
    case pmDC:
      PredictDC(n, block);
      return true;
    case pmDiagonalDownLeft:
      if (!n.topRight) return false;
      PredictDiagonalDownLeft(n, block);
      return true;
    case pmDiagonalDownRight:
      if (!n.top || !n.left) return false;
      PredictDiagonalDownRight(n, block);
      return true;
    case pmVerticalRight:
      if (!n.top || !n.left) return false;
      PredictVerticalRight(n, block);
      return true;
    case pmHorizontalDown:
      if (!n.top || !n.left) return false;
      PredictHorizontalDown(n, block);
      return true;
    case pmVerticalLeft:
      if (!n.topRight) return false;
      PredictVerticalLeft(n, block);
      return true;
    case pmHorizontalUp:
      if (!n.left) return false;
      PredictHorizontalUp(n, block);
      return true;
  }
  return false;
}

TAICPredictionMode TAICBase::PredictedMode(int32_t blockColumn, int32_t blockRow) const {
  const TAICPredictionMode left = blockColumn > 0 ? ModeAt(blockRow, blockColumn - 1) : pmDC;
  const TAICPredictionMode up = blockRow > 0 ? ModeAt(blockRow - 1, blockColumn) : pmDC;
  return std::min(left, up);
}

}  // namespace tolvane
