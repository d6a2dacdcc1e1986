// The arithmetic coder: engine round trips, binarisation worked out by hand,
// context initialisation, and damaged streams.
#include <gtest/gtest.h>

#include <random>

#include "formats/jp2_aic/AICCabacDecoder.h"
#include "formats/jp2_aic/AICCabacEncoder.h"

namespace tolvane {
namespace {

using namespace AICContexts;
using TCoefficients = std::array<int32_t, 64>;

// A bin on a context, or on the bypass when context is -1.
struct TBin {
  int context;
  int value;
};

std::vector<uint8_t> EncodeBins(const std::vector<TBin>& bins, int* maxOutstanding = nullptr, uint8_t quality = 60) {
  TMemoryStream out;
  TAICCabacEncoder encoder(quality, out);
  for (const TBin& b : bins) {
    if (b.context < 0) encoder.EncodeBypass(b.value);
    else encoder.EncodeDecision(b.value, encoder.Contexts[static_cast<size_t>(b.context)]);
    if (maxOutstanding) *maxOutstanding = std::max(*maxOutstanding, encoder.Outstanding);
  }
  encoder.Flush();
  return out.Data();
}

std::vector<uint8_t> EncodeBlocks(const std::vector<TCoefficients>& blocks, int channel = 0) {
  TMemoryStream out;
  TAICCabacEncoder encoder(60, out);
  for (const auto& b : blocks) encoder.EncodeBlock(channel, b);
  encoder.Flush();
  return out.Data();
}

// Reads the bins of a stream one by one, against fresh contexts.
class TBinReader {
public:
  explicit TBinReader(const std::vector<uint8_t>& data) : FStream(data), Decoder(60, FStream) {}
  int Decision(int context) { return Decoder.DecodeDecision(Decoder.Contexts[static_cast<size_t>(context)]); }
  int Bypass() { return Decoder.DecodeBypass(); }

private:
  TMemoryStream FStream;

public:
  TAICCabacDecoder Decoder;
};

TEST(AICCabac, RandomBinsRoundTrip) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 4; ++round) {
    // Skewed bins give long runs; a run of bypass ones keeps bits outstanding.
    std::bernoulli_distribution bit(round % 2 ? 0.97 : 0.5);
    std::vector<TBin> bins(20000);
    for (auto& b : bins) b = {rng() % 8 == 0 ? -1 : static_cast<int>(rng() % kCount), bit(rng)};
    for (size_t i = 100; round == 2 && i < 400; ++i) bins[i] = {-1, 1};
    int maxOutstanding = 0;
    std::vector<uint8_t> data = EncodeBins(bins, &maxOutstanding);
    if (round == 2) {
      EXPECT_GT(maxOutstanding, 100);
    }
    EXPECT_NE(data.back(), 0);  // the stop bit closes the stream

    // The decoder raises when it needs a byte past the end, so this also
    // shows that it never reads beyond the stream.
    TBinReader r(data);
    for (size_t i = 0; i < bins.size(); ++i)
      ASSERT_EQ(bins[i].context < 0 ? r.Bypass() : r.Decision(bins[i].context), bins[i].value) << i;
  }
  EXPECT_EQ(EncodeBins({}).size(), 2u);
}

TEST(AICCabac, ContextInitialisation) {
  TMemoryStream none;
  TAICCabac q1(1, none), q50(50, none), q100(100, none);
  // (181, -493): quality 50 gives pre = 282 - 493, clamped to 1; 100 gives 72.
  EXPECT_EQ(q50.Contexts[GreaterThanOne(0, 1)].State, 62);
  EXPECT_EQ(q50.Contexts[GreaterThanOne(0, 1)].MPS, 0);
  EXPECT_EQ(q100.Contexts[GreaterThanOne(2, 1)].State, 8);
  EXPECT_EQ(q100.Contexts[GreaterThanOne(2, 1)].MPS, 1);
  // Division cuts toward zero: (-29 x 1) div 32 = 0, pre = 66.
  EXPECT_EQ(q1.Contexts[Last(1, 0)].State, 2);
  EXPECT_EQ(q1.Contexts[Last(1, 0)].MPS, 1);
  EXPECT_EQ(q100.Contexts[kCodedBlock].State, 62);  // pre 136 clamped to 126
  for (const TAICCabac* c : {&q1, &q50, &q100}) {
    // Significance states come from the run of mode and last pairs.
    for (int ch = 0; ch < 3; ++ch)
      for (int i = 0; i <= 60; ++i) EXPECT_EQ(c->Contexts[Significance(ch, i)].State, c->Contexts[Last(ch, i)].State);
    for (int ch = 0; ch < 2; ++ch) {
      EXPECT_EQ(c->Contexts[Significance(ch, 61)].State, c->Contexts[kModeFlag].State);
      EXPECT_EQ(c->Contexts[Significance(ch, 62)].State, c->Contexts[kModeBits].State);
    }
    for (int i : {61, 62}) EXPECT_TRUE(c->Contexts[Significance(2, i)].State == 0 && c->Contexts[Significance(2, i)].MPS == 0);
  }
}

TEST(AICCabac, Binarisation) {
  // Magnitudes 14, 15, 16 at position 0: greater-than-one, unary bins on one
  // level context, then the exp-Golomb tail in bypass bins, then the sign.
  for (int32_t magnitude : {14, 15, 16}) {
    TCoefficients block{};
    block[0] = -magnitude;
    TBinReader r(EncodeBlocks({block}));
    EXPECT_EQ(r.Decision(kCodedBlock) + r.Decision(Significance(0, 0)) + r.Decision(Last(0, 0)), 3);
    EXPECT_EQ(r.Decision(GreaterThanOne(0, 1)), 1);
    for (int i = 0; i < std::min(magnitude - 2, 13); ++i) EXPECT_EQ(r.Decision(Level(0, 0)), 1);
    std::vector<int> tail = magnitude == 14 ? std::vector<int>{r.Decision(Level(0, 0))}
                            : magnitude == 15 ? std::vector<int>{r.Bypass()}
                                              : std::vector<int>{r.Bypass(), r.Bypass(), r.Bypass()};
    EXPECT_EQ(tail, magnitude == 16 ? std::vector<int>({1, 0, 0}) : std::vector<int>{0});
    EXPECT_EQ(r.Bypass(), 1) << "sign";
  }
  // An all-zero block costs one bin; a block whose only coefficient is at
  // position 63 codes 63 significance zeros and no last bin.
  TCoefficients last{};
  last[63] = 1;
  TBinReader r(EncodeBlocks({TCoefficients{}, last}));
  EXPECT_EQ(r.Decision(kCodedBlock), 0);
  EXPECT_EQ(r.Decision(kCodedBlock), 1);
  for (int i = 0; i < 63; ++i) EXPECT_EQ(r.Decision(Significance(0, i)), 0);
  EXPECT_EQ(r.Decision(GreaterThanOne(0, 1)), 0);
  EXPECT_EQ(r.Bypass(), 0);

  // The predicted mode costs one bin; remainder 7 (mode 8 against 2) is 1, 1, 1.
  TMemoryStream out;
  {
    TAICCabacEncoder encoder(60, out);
    encoder.EncodeMode(-1);
    encoder.EncodeMode(7);
  }  // destruction writes the tail
  TBinReader modes(out.Data());
  EXPECT_EQ(modes.Decision(kModeFlag), 1);
  EXPECT_EQ(modes.Decision(kModeFlag), 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(modes.Decision(kModeBits), 1);
}

TEST(AICCabac, RandomBlocksRoundTrip) {
  std::mt19937 rng(99);
  std::vector<TCoefficients> blocks(300);
  for (TCoefficients& b : blocks) {
    b.fill(0);
    for (int k = static_cast<int>(rng() % 65); k > 0; --k) {
      const auto kind = static_cast<uint32_t>(rng() % 10);
      const auto v = static_cast<int32_t>(kind < 6 ? 1 + rng() % 3 : kind < 9 ? rng() % 300 : rng() >> 1);
      b[rng() % 64] = rng() % 2 ? v : -v;
    }
  }
  blocks[0].fill(INT32_MAX);
  blocks[1].fill(-INT32_MAX);
  for (int channel = 0; channel < 3; ++channel) {
    TBinReader r(EncodeBlocks(blocks, channel));
    for (size_t n = 0; n < blocks.size(); ++n) {
      TCoefficients decoded;
      r.Decoder.DecodeBlock(channel, decoded);
      ASSERT_EQ(decoded, blocks[n]) << "block " << n << " channel " << channel;
    }
  }
}

// A block whose level has 13 unary ones and then the given bypass bins.
std::vector<uint8_t> LevelWithTail(const std::vector<int>& tail) {
  std::vector<TBin> bins = {{kCodedBlock, 1}, {Significance(0, 0), 1}, {Last(0, 0), 1}, {GreaterThanOne(0, 1), 1}};
  for (int i = 0; i < 13; ++i) bins.push_back({Level(0, 0), 1});
  for (int b : tail) bins.push_back({-1, b});
  return EncodeBins(bins);
}

TEST(AICCabac, DamagedStreamsRaise) {
  auto expectInvalid = [](const std::vector<uint8_t>& data, int blocks) {
    TMemoryStream in(data);
    TCoefficients decoded;
    try {
      TAICCabacDecoder decoder(60, in);
      for (int i = 0; i < blocks; ++i) decoder.DecodeBlock(0, decoded);
      ADD_FAILURE() << "decoded";
    } catch (const EAICError& e) {
      EXPECT_STREQ(e.what(), "Invalid AIC file");
    }
  };
  TCoefficients block{};
  block[5] = 40;
  std::vector<uint8_t> cut = EncodeBlocks({block, block, block});
  cut.resize(cut.size() / 2);
  expectInvalid(cut, 1000);                              // ends early
  expectInvalid({}, 1);                                  // no stream at all
  expectInvalid(std::vector<uint8_t>(64, 0xFF), 1);      // an offset no encoder starts with
  expectInvalid(LevelWithTail(std::vector<int>(40, 1)), 1);  // prefix past any 32-bit value
  std::vector<int> tail(30, 1);                          // prefix 30, magnitude above 2^31 - 1
  tail.push_back(0);
  tail.insert(tail.end(), 30, 1);
  expectInvalid(LevelWithTail(tail), 1);
}

}  // namespace
}  // namespace tolvane
