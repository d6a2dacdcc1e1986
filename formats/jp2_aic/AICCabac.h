// The context-adaptive binary arithmetic coder of AIC: the engine's tables,
// the codec's context set and its initialisation from the file's quality.
// Encoder and decoder derive from TAICCabac; every context adapts with each
// use, so both sides must run the same bins in the same order.
#pragma once

#include <array>
#include <cstdint>

#include "AICCommon.h"
#include "picture/Classes.h"

namespace tolvane {

// The engine's tables: LPS ranges by state and range quarter, and the state
// transitions after an LPS and after an MPS.
extern const uint8_t kRangeTabLPS[64][4];
extern const uint8_t kTransIdxLPS[64];
extern const uint8_t kTransIdxMPS[64];

struct TAICContext {
  int32_t State = 0;  // 0..63
  int32_t MPS = 0;    // 0 or 1
};

// An initialisation pair (m, n) of a context.
struct TAICInitPair {
  int32_t M, N;
};

// Layout of the flat context array.
namespace AICContexts {
inline constexpr int kModeFlag = 0;
inline constexpr int kModeBits = 1;
inline constexpr int kSignificance = 2;      // + 63 c + i
inline constexpr int kLast = 191;            // + 63 c + i
inline constexpr int kGreaterThanOne = 380;  // + 5 c + n
inline constexpr int kLevel = 395;           // + 5 c + n
inline constexpr int kCodedBlock = 410;
inline constexpr int kCount = 411;
inline constexpr int Significance(int c, int i) { return kSignificance + 63 * c + i; }
inline constexpr int Last(int c, int i) { return kLast + 63 * c + i; }
inline constexpr int GreaterThanOne(int c, int n) { return kGreaterThanOne + 5 * c + n; }
inline constexpr int Level(int c, int n) { return kLevel + 5 * c + n; }
}  // namespace AICContexts

// The stream buffer of both engines.
inline constexpr size_t kAICBufferSize = 8192;

class TAICCabac : public TObject {
  TOLVANE_CLASS(TAICCabac)
public:
  // Stores both and initialises the contexts.
  TAICCabac(uint8_t quality, TStream& stream);

  // The context that the pair (m, n) gives at the coder's quality.
  TAICContext InitContext(int32_t m, int32_t n) const;
  void InitContexts();

  uint8_t Quality;
  TStream* Stream;  // the caller's
  int32_t BitsLeft = 0;
  uint32_t BitBuffer = 0;
  int32_t Range = 510;
  int32_t Low = 0;
  std::array<uint8_t, kAICBufferSize> Buffer{};
  int32_t BufferPos = 0;
  std::array<TAICContext, AICContexts::kCount> Contexts{};
};

}  // namespace tolvane
