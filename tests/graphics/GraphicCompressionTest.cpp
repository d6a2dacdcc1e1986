// Decoders on hand-made data: the rules of each code, the edges of the
// buffers, and hostile data (which the sanitizers watch).
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "graphics/GraphicCompression.h"

namespace tolvane {
namespace {

using Bytes = std::vector<uint8_t>;

// Decodes packed into a buffer of exactly unpacked bytes (pre-filled with
// 0xEE so that untouched bytes show); returns the buffer and how far the
// decoder moved its source pointer.
std::pair<Bytes, ptrdiff_t> DecodeCall(TDecoder& decoder, const Bytes& packed, size_t unpacked, size_t unit = 1) {
  Bytes in(packed);
  Bytes out(unpacked * unit, 0xEE);
  const uint8_t* source = in.data();
  uint8_t* dest = out.data();
  decoder.Decode(source, dest, static_cast<int32_t>(in.size()), static_cast<int32_t>(unpacked));
  EXPECT_EQ(dest, out.data());
  return {out, source - in.data()};
}

Bytes Decoded(TDecoder&& decoder, const Bytes& packed, size_t unpacked) { return DecodeCall(decoder, packed, unpacked).first; }

Bytes Repeat(uint8_t value, size_t count) { return Bytes(count, value); }

// Codes with explicit widths, packed most significant bit first (TIFF) or
// least significant bit first (GIF); the last byte is padded with zeros.
struct TCode {
  uint32_t Value, Width;
};
Bytes PackMSB(const std::vector<TCode>& codes) {
  Bytes out;
  uint64_t buffer = 0;
  int bits = 0;
  for (const TCode& c : codes) {
    buffer = buffer << c.Width | c.Value;
    for (bits += c.Width; bits >= 8; bits -= 8) out.push_back(static_cast<uint8_t>(buffer >> (bits - 8)));
  }
  if (bits > 0) out.push_back(static_cast<uint8_t>(buffer << (8 - bits)));
  return out;
}
Bytes PackLSB(const std::vector<TCode>& codes) {
  Bytes out;
  uint64_t buffer = 0;
  int bits = 0;
  for (const TCode& c : codes) {
    buffer |= static_cast<uint64_t>(c.Value) << bits;
    for (bits += c.Width; bits >= 8; bits -= 8, buffer >>= 8) out.push_back(static_cast<uint8_t>(buffer));
  }
  if (bits > 0) out.push_back(static_cast<uint8_t>(buffer));
  return out;
}

TEST(PackbitsDecoder, LiteralsRunsAndNoOps) {
  EXPECT_EQ(Decoded(TPackbitsRLEDecoder(), {0x80, 0x02, 'a', 'b', 'c', 0xFE, 'z'}, 6),
            (Bytes{'a', 'b', 'c', 'z', 'z', 'z'}));
  EXPECT_EQ(Decoded(TPackbitsRLEDecoder(), {0x81, 7}, 128), Repeat(7, 128));
}

TEST(PackbitsDecoder, ClipsToOutputAndInput) {
  EXPECT_EQ(Decoded(TPackbitsRLEDecoder(), {0x04, 1, 2, 3, 4, 5}, 3), (Bytes{1, 2, 3}));
  EXPECT_EQ(Decoded(TPackbitsRLEDecoder(), {0x05, 1, 2}, 4), (Bytes{1, 2, 0xEE, 0xEE}));
  EXPECT_EQ(Decoded(TPackbitsRLEDecoder(), {0x81, 9}, 5), Repeat(9, 5));
  EXPECT_EQ(Decoded(TPackbitsRLEDecoder(), {0x01, 4, 4, 0xFE}, 4), (Bytes{4, 4, 0xEE, 0xEE}));  // run without value
  // The longest literal, whole and cut by either side, between two others.
  Bytes literal(128);
  for (size_t i = 0; i < literal.size(); ++i) literal[i] = static_cast<uint8_t>(i + 1);
  Bytes packed = {0x00, 0xAA, 0x7F};
  packed.insert(packed.end(), literal.begin(), literal.end());
  packed.insert(packed.end(), {0x00, 0xBB});
  Bytes whole = {0xAA};
  whole.insert(whole.end(), literal.begin(), literal.end());
  whole.push_back(0xBB);
  EXPECT_EQ(Decoded(TPackbitsRLEDecoder(), packed, 130), whole);
  EXPECT_EQ(Decoded(TPackbitsRLEDecoder(), packed, 128), Bytes(whole.begin(), whole.begin() + 128));
  Bytes cut(packed.begin(), packed.begin() + 130);
  Bytes expected(whole.begin(), whole.begin() + 128);
  expected.insert(expected.end(), {0xEE, 0xEE});
  EXPECT_EQ(Decoded(TPackbitsRLEDecoder(), cut, 130), expected);
}

TEST(PCXDecoder, RunBytesAndLiterals) {
  // 0xC0 is a run of none that still uses its value byte.
  EXPECT_EQ(Decoded(TPCXRLEDecoder(), {0xC0, 0x55, 0x12, 0xC3, 0xC1, 0xBF}, 5), (Bytes{0x12, 0xC1, 0xC1, 0xC1, 0xBF}));
  EXPECT_EQ(Decoded(TPCXRLEDecoder(), {0xFF, 9}, 3), Repeat(9, 3));
  EXPECT_EQ(Decoded(TPCXRLEDecoder(), {7, 0xC2}, 3), (Bytes{7, 0xEE, 0xEE}));
}

TEST(SGIDecoder, EightBitRowsEndAtZeroCount) {
  EXPECT_EQ(Decoded(TSGIRLEDecoder(8), {0x83, 1, 2, 3, 0x02, 9, 0x00, 0x81, 7}, 7),
            (Bytes{1, 2, 3, 9, 9, 0xEE, 0xEE}));
  EXPECT_EQ(Decoded(TSGIRLEDecoder(8), {0x80, 0x81, 7}, 2), (Bytes{0xEE, 0xEE}));
  EXPECT_EQ(Decoded(TSGIRLEDecoder(8), {0x7F, 4, 0x85, 1, 2}, 5), Repeat(4, 5));
  EXPECT_EQ(Decoded(TSGIRLEDecoder(8), {0x01, 4, 0x85, 1, 2}, 5), (Bytes{4, 1, 2, 0xEE, 0xEE}));
}

TEST(SGIDecoder, SixteenBitSamplesKeepTheirByteOrder) {
  // The count word's high byte does not count.
  EXPECT_EQ(Decoded(TSGIRLEDecoder(16), {0xFF, 0x82, 0x12, 0x34, 0x56, 0x78, 0x00, 0x02, 0xAB, 0xCD, 0x00, 0x00}, 10),
            (Bytes{0x12, 0x34, 0x56, 0x78, 0xAB, 0xCD, 0xAB, 0xCD, 0xEE, 0xEE}));
  EXPECT_EQ(Decoded(TSGIRLEDecoder(16), {0x00, 0x05, 0xAB, 0xCD}, 5), (Bytes{0xAB, 0xCD, 0xAB, 0xCD, 0xEE}));
}

TEST(CUTDecoder, RowsDecodeBackToBack) {
  const Bytes data = {7, 0, 0x83, 5, 0x02, 'a', 'b', 0x00, 4, 0, 0x01, 'c', 0x00};
  TCUTRLEDecoder decoder;
  auto [row, used] = DecodeCall(decoder, data, 5);
  EXPECT_EQ(row, (Bytes{5, 5, 5, 'a', 'b'}));
  EXPECT_EQ(used, 8);
  auto [next, usedNext] = DecodeCall(decoder, Bytes(data.begin() + used, data.end()), 2);
  EXPECT_EQ(next, (Bytes{'c', 0xEE}));
  EXPECT_EQ(usedNext, 5);
}

TEST(CUTDecoder, ClippedRowStillEndsBehindItsZero) {
  TCUTRLEDecoder decoder;
  auto [row, used] = DecodeCall(decoder, {9, 0, 0x90, 5, 0x03, 1, 2, 3, 0x00, 0x81}, 4);
  EXPECT_EQ(row, Repeat(5, 4));
  EXPECT_EQ(used, 9);
  EXPECT_EQ(DecodeCall(decoder, {2, 0, 0x05, 1, 2}, 8).second, 5);  // the data end first
}

TEST(PSPDecoder, LiteralsAndRuns) {
  EXPECT_EQ(Decoded(TPSPRLEDecoder(), {3, 'a', 'b', 'c', 130, 'x', 128, 'y', 1, 'z'}, 7),
            (Bytes{'a', 'b', 'c', 'x', 'x', 'z', 0xEE}));
  EXPECT_EQ(Decoded(TPSPRLEDecoder(), {255, 1}, 4), Repeat(1, 4));
  EXPECT_EQ(Decoded(TPSPRLEDecoder(), {5, 1, 2}, 4), (Bytes{1, 2, 0xEE, 0xEE}));
}

TEST(RLADecoder, RunsAndLiterals) {
  EXPECT_EQ(Decoded(TRLADecoder(), {2, 7, 0xFD, 'a', 'b', 'c', 0x00, 9}, 8), (Bytes{7, 7, 7, 'a', 'b', 'c', 9, 0xEE}));
  EXPECT_EQ(Decoded(TRLADecoder(), {127, 1}, 5), Repeat(1, 5));
  EXPECT_EQ(Decoded(TRLADecoder(), {0x80, 1, 2}, 3), (Bytes{1, 2, 0xEE}));
}

TEST(TargaDecoder, CountsPixelsAndReportsTheBytesUsed) {
  TTargaRLEDecoder decoder(24);
  auto [pixels, used] = DecodeCall(decoder, {0x82, 1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9, 0xFF, 0xFF}, 5, 3);
  EXPECT_EQ(pixels, (Bytes{1, 2, 3, 1, 2, 3, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(used, 11);

  TTargaRLEDecoder deep(32);
  EXPECT_EQ(DecodeCall(deep, {0x81, 1, 2, 3, 4}, 2, 4).first, (Bytes{1, 2, 3, 4, 1, 2, 3, 4}));
  TTargaRLEDecoder grey(8);
  EXPECT_EQ(DecodeCall(grey, {0x02, 1, 2, 3}, 3).first, (Bytes{1, 2, 3}));
}

TEST(TargaDecoder, OtherDepthsDecodeNothing) {
  TTargaRLEDecoder decoder(12);
  auto [pixels, used] = DecodeCall(decoder, {0x81, 1, 2}, 2, 2);
  EXPECT_EQ(pixels, Repeat(0xEE, 4));
  EXPECT_EQ(used, 0);
}

TEST(TargaDecoder, PacketsPastTheRowAreCutButConsumed) {
  TTargaRLEDecoder decoder(16);
  auto [pixels, used] = DecodeCall(decoder, {0x83, 1, 2, 0x00, 9, 9}, 2, 2);
  EXPECT_EQ(pixels, (Bytes{1, 2, 1, 2}));
  EXPECT_EQ(used, 3);
  std::tie(pixels, used) = DecodeCall(decoder, {0x03, 1, 2, 3, 4, 5, 6, 7, 8, 0x00}, 2, 2);
  EXPECT_EQ(pixels, (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(used, 9);
  std::tie(pixels, used) = DecodeCall(decoder, {0x01, 1, 2, 3}, 2, 2);  // data end inside a pixel
  EXPECT_EQ(pixels, (Bytes{1, 2, 3, 0xEE}));
  EXPECT_EQ(used, 4);
}

// Encodes count pixels of the given depth; returns the packets.
Bytes Encoded(int32_t depth, const Bytes& pixels, uint32_t count) {
  TTargaRLEDecoder encoder(depth);
  Bytes out(encoder.MaxEncodedSize(count), 0xEE);
  uint32_t stored = 12345;
  encoder.Encode(pixels.data(), out.data(), count, stored);
  EXPECT_LE(stored, out.size());
  out.resize(stored);
  return out;
}

TEST(TargaEncoder, PacketsOfAtMost128Pixels) {
  Bytes different(200);
  for (size_t i = 0; i < different.size(); ++i) different[i] = static_cast<uint8_t>(i);
  const Bytes raw = Encoded(8, different, 200);
  ASSERT_EQ(raw.size(), 202u);
  EXPECT_EQ(raw[0], 127);
  EXPECT_EQ(raw[129], 71);
  EXPECT_EQ(Bytes(raw.begin() + 130, raw.end()), Bytes(different.begin() + 128, different.end()));

  EXPECT_EQ(Encoded(8, Repeat(5, 200), 200), (Bytes{0xFF, 5, 0xC7, 5}));
  EXPECT_EQ(Encoded(24, {1, 2, 3, 1, 2, 3}, 2), (Bytes{0x81, 1, 2, 3}));
  EXPECT_EQ(Encoded(24, {1, 2, 3}, 1), (Bytes{0x00, 1, 2, 3}));
  // Pixels are compared whole: equal first bytes do not make a run.
  EXPECT_EQ(Encoded(16, {1, 2, 1, 3, 4, 4, 4, 4, 4, 4, 5, 5}, 6),
            (Bytes{0x01, 1, 2, 1, 3, 0x82, 4, 4, 0x00, 5, 5}));
  EXPECT_TRUE(Encoded(12, {1, 2}, 1).empty());
}

TEST(TargaEncoder, RoundTripsEveryDepth) {
  std::mt19937 random(7);
  for (int32_t depth : {8, 15, 16, 24, 32}) {
    const size_t size = (depth + 1) / 8;
    for (uint32_t count : {1u, 2u, 3u, 127u, 128u, 129u, 300u}) {
      Bytes pixels(count * size);
      for (size_t i = 0; i < count; ++i)  // stretches of equal pixels between noise
        for (size_t b = 0; b < size; ++b)
          pixels[i * size + b] = static_cast<uint8_t>(i / 5 % 3 == 0 ? random() : i / 5);
      const Bytes packed = Encoded(depth, pixels, count);
      TTargaRLEDecoder decoder(depth);
      auto [back, used] = DecodeCall(decoder, packed, count, size);
      EXPECT_EQ(back, pixels) << depth << " " << count;
      EXPECT_EQ(used, static_cast<ptrdiff_t>(packed.size()));
    }
  }
}

// A single pixel between pairs costs a packet of its own: the output bound
// must cover a header byte for every pixel.
TEST(TargaEncoder, SinglePixelsBetweenPairsFitTheBound) {
  Bytes pixels;
  for (uint8_t i = 0; pixels.size() < 300; i = static_cast<uint8_t>(i + 2)) pixels.insert(pixels.end(), {i, 1, 1});
  const Bytes packed = Encoded(8, pixels, 300);
  EXPECT_EQ(packed.size(), 400u);
  EXPECT_EQ(Bytes(packed.begin(), packed.begin() + 4), (Bytes{0x00, 0, 0x81, 1}));
}

// "ABABABA" as the classic LZW example codes it; the last code is the
// string being defined.
const std::vector<uint32_t> ABABABA = {'A', 'B', 258, 260};

TEST(TIFFLZWDecoder, DecodesWithOrWithoutALeadingClearCode) {
  std::vector<TCode> codes;
  for (uint32_t c : ABABABA) codes.push_back({c, 9});
  codes.push_back({257, 9});
  const Bytes expected = {'A', 'B', 'A', 'B', 'A', 'B', 'A'};
  EXPECT_EQ(Decoded(TTIFFLZWDecoder(), PackMSB(codes), 7), expected);
  codes.insert(codes.begin(), {256, 9});
  EXPECT_EQ(Decoded(TTIFFLZWDecoder(), PackMSB(codes), 7), expected);
  EXPECT_EQ(Decoded(TTIFFLZWDecoder(), PackMSB(codes), 4), (Bytes{'A', 'B', 'A', 'B'}));
}

TEST(TIFFLZWDecoder, EndCodeStopsDecoding) {
  EXPECT_EQ(Decoded(TTIFFLZWDecoder(), PackMSB({{'A', 9}, {257, 9}, {'B', 9}, {'C', 9}}), 3), (Bytes{'A', 0xEE, 0xEE}));
}

TEST(TIFFLZWDecoder, StringsCopiedFromTheOutputTakeNoMoreThanTheirBytes) {
  // "ab" is copied from the start of ten letters; nothing after it changes,
  // also when the output ends inside it, or inside a longer string.
  std::vector<TCode> codes;
  for (uint32_t c = 'a'; c <= 'j'; ++c) codes.push_back({c, 9});
  codes.push_back({258, 9});
  codes.push_back({257, 9});
  const Bytes letters = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j'};
  Bytes expected = letters;
  expected.insert(expected.end(), {'a', 'b'});
  expected.insert(expected.end(), 9, 0xEE);
  EXPECT_EQ(Decoded(TTIFFLZWDecoder(), PackMSB(codes), expected.size()), expected);
  EXPECT_EQ(Decoded(TTIFFLZWDecoder(), PackMSB(codes), 11), Bytes(expected.begin(), expected.begin() + 11));
  // Strings of 2 to 11 bytes, each made as the string being defined, cut at
  // every size.
  std::vector<TCode> chain = {{'x', 9}};
  Bytes made = {'x'};
  for (uint32_t entry = 258; entry < 268; ++entry) {
    chain.push_back({entry, 9});
    made.insert(made.end(), entry - 256, 'x');
  }
  chain.push_back({257, 9});
  for (size_t size = 1; size <= made.size() + 3; ++size) {
    Bytes want(made.begin(), made.begin() + std::min(size, made.size()));
    want.resize(size, 0xEE);
    EXPECT_EQ(Decoded(TTIFFLZWDecoder(), PackMSB(chain), size), want) << size;
  }
}

TEST(TIFFLZWDecoder, CodesPastTheTableAreDroppedWithTheirBits) {
  EXPECT_EQ(Decoded(TTIFFLZWDecoder(), PackMSB({{'A', 9}, {300, 9}, {'B', 9}, {257, 9}}), 3), (Bytes{'A', 'B', 0xEE}));
  // Only a single byte can follow a clear code.
  EXPECT_EQ(Decoded(TTIFFLZWDecoder(), PackMSB({{256, 9}, {258, 9}, {'C', 9}, {257, 9}}), 2), (Bytes{'C', 0xEE}));
}

// Literal codes 1, 2, ...: each code after the first adds an entry of two
// bytes. first254 codes fit 9 bits before the width grows; the others
// follow the table of widths.
struct TWidthStep {
  uint32_t Codes, Width;
};
std::vector<TCode> LiteralCodes(uint32_t count, const std::vector<TWidthStep>& steps, Bytes& output) {
  std::vector<TCode> codes;
  uint32_t done = 0;
  for (const TWidthStep& step : steps)
    for (; done < step.Codes && done < count; ++done) {
      const uint32_t literal = done * 7 % 251 + 1;
      codes.push_back({literal, step.Width});
      output.push_back(static_cast<uint8_t>(literal));
    }
  return codes;
}

TEST(TIFFLZWDecoder, WidthGrowsOneCodeEarlyAndAFullTableTakesNoMore) {
  // Entry 510, made by the 254th code, switches to 10 bits; 1022 and 2046
  // to 11 and 12; the 3839th code makes the last entry, 4095.
  const std::vector<TWidthStep> steps = {{254, 9}, {766, 10}, {1790, 11}, {5000, 12}};
  Bytes expected;
  std::vector<TCode> codes = LiteralCodes(3839, steps, expected);
  const uint8_t last[2] = {expected[3837], expected[3838]};
  for (int i = 0; i < 3; ++i) {  // the last entry, which stays as it was made
    codes.push_back({4095, 12});
    expected.insert(expected.end(), last, last + 2);
  }
  codes.push_back({'Q', 12});
  codes.push_back({257, 12});
  expected.push_back('Q');
  EXPECT_EQ(Decoded(TTIFFLZWDecoder(), PackMSB(codes), expected.size()), expected);
}

TEST(GIFLZWDecoder, SmallCodeSizeAndWidthGrowth) {
  // Code size 2: clear 4, end 5, 3-bit codes until entry 7 has been made.
  const Bytes packed = PackLSB({{4, 3}, {1, 3}, {6, 3}, {1, 3}, {2, 4}, {5, 4}});
  EXPECT_EQ(Decoded(TGIFLZWDecoder(2), packed, 5), (Bytes{1, 1, 1, 1, 2}));
}

TEST(GIFLZWDecoder, EndCodeBeforeTheEndOfDataIsSkipped) {
  // The codes after a pause come from the bits left in the buffer and the
  // next byte; without that byte they are not taken.
  EXPECT_EQ(Decoded(TGIFLZWDecoder(2), PackLSB({{4, 3}, {1, 3}, {5, 3}, {2, 3}, {6, 3}, {5, 3}}), 4),
            (Bytes{1, 2, 1, 2}));
  EXPECT_EQ(Decoded(TGIFLZWDecoder(2), PackLSB({{4, 3}, {1, 3}, {5, 3}, {2, 3}}), 2), (Bytes{1, 0xEE}));
  // A code past the table pauses the same way.
  EXPECT_EQ(Decoded(TGIFLZWDecoder(2), PackLSB({{4, 3}, {1, 3}, {7, 3}, {2, 3}, {5, 4}, {0, 8}}), 2), (Bytes{1, 2}));
}

TEST(GIFLZWDecoder, CodeSizesPastTheTableAreRefused) {
  EXPECT_EQ(Decoded(TGIFLZWDecoder(11), PackLSB({{2048, 12}, {5, 12}, {300, 12}, {2049, 12}}), 2), (Bytes{5, 44}));
  EXPECT_EQ(Decoded(TGIFLZWDecoder(12), PackLSB({{4096, 13}, {5, 13}}), 1), (Bytes{0xEE}));
  EXPECT_EQ(Decoded(TGIFLZWDecoder(255), {0xFF, 0xFF, 0xFF}, 1), (Bytes{0xEE}));
}

TEST(GIFLZWDecoder, FullTableKeepsItsLastEntry) {
  // Entry 511 switches to 10 bits, 1023 and 2047 to 11 and 12. An encoder
  // that goes on coding after the table is full must not change entry 4095.
  const std::vector<TWidthStep> steps = {{255, 9}, {767, 10}, {1791, 11}, {5000, 12}};
  Bytes expected;
  std::vector<TCode> codes = LiteralCodes(3839, steps, expected);
  codes.insert(codes.begin(), {256, 9});
  const uint8_t last[2] = {expected[3837], expected[3838]};
  for (int i = 0; i < 3; ++i) {
    codes.push_back({4095, 12});
    expected.insert(expected.end(), last, last + 2);
  }
  codes.push_back({'Q', 12});
  codes.push_back({4095, 12});
  expected.push_back('Q');
  expected.insert(expected.end(), last, last + 2);
  EXPECT_EQ(Decoded(TGIFLZWDecoder(8), PackLSB(codes), expected.size()), expected);
}

TEST(ThunderDecoder, RawPixelsAndDeltas) {
  EXPECT_EQ(Decoded(TThunderDecoder(4), {0xC5, 0xCA, 0xC1, 0xCF}, 2), (Bytes{0x5A, 0x1F}));
  // 2-bit fields +1, skip, -1; 3-bit fields skip, -3.
  EXPECT_EQ(Decoded(TThunderDecoder(3), {0xC5, 0x5B}, 2), (Bytes{0x56, 0x50}));
  EXPECT_EQ(Decoded(TThunderDecoder(2), {0xC2, 0xA5}, 1), (Bytes{0x2F}));
  // Deltas wrap modulo 16.
  EXPECT_EQ(Decoded(TThunderDecoder(4), {0xC0, 0x7F, 0x86}, 2), (Bytes{0x0F, 0xED}));
  EXPECT_EQ(Decoded(TThunderDecoder(3), {0xCF, 0x83}, 2), (Bytes{0xFF, 0x20}));
}

TEST(ThunderDecoder, RunsFillHalfBytesAndStopAtTheRowEnd) {
  EXPECT_EQ(Decoded(TThunderDecoder(4), {0xC7, 0x03}, 2), (Bytes{0x77, 0x77}));
  EXPECT_EQ(Decoded(TThunderDecoder(6), {0xC3, 0xC9, 0xC4, 0x03}, 3), (Bytes{0x39, 0x44, 0x44}));
  EXPECT_EQ(Decoded(TThunderDecoder(5), {0xC3, 0x02, 0xC8}, 3), (Bytes{0x33, 0x38, 0xEE}));
  EXPECT_EQ(Decoded(TThunderDecoder(6), {0xC3, 0x00, 0xC5}, 3), (Bytes{0x35, 0xEE, 0xEE}));
  // A run too long for its row ends there; the next row starts afresh.
  EXPECT_EQ(Decoded(TThunderDecoder(4), {0xC1, 0x3F, 0x5F}, 4), (Bytes{0x11, 0x11, 0x10, 0xF0}));
}

TEST(ThunderDecoder, OddRowWidthsLeaveTheLastLowNibbleClear) {
  EXPECT_EQ(Decoded(TThunderDecoder(3), {0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6}, 4), (Bytes{0x12, 0x30, 0x45, 0x60}));
  EXPECT_EQ(Decoded(TThunderDecoder(3), {0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6}, 3), (Bytes{0x12, 0x30, 0x45}));
  EXPECT_EQ(Decoded(TThunderDecoder(0), {0xC1}, 3), Repeat(0xEE, 3));
}

// Random data of every size into buffers of every size: the decoders must
// stay inside both (the sanitizers check) and the advancing ones must not
// report more than they were given.
TEST(Decoders, HostileDataStaysInsideTheBuffers) {
  std::mt19937 random(20240607);
  std::vector<std::pair<std::unique_ptr<TDecoder>, size_t>> decoders;
  auto add = [&](std::unique_ptr<TDecoder> decoder, size_t unit = 1) { decoders.emplace_back(std::move(decoder), unit); };
  add(std::make_unique<TTargaRLEDecoder>(24), 3);
  add(std::make_unique<TTargaRLEDecoder>(16), 2);
  add(std::make_unique<TPackbitsRLEDecoder>());
  add(std::make_unique<TPCXRLEDecoder>());
  add(std::make_unique<TSGIRLEDecoder>(8));
  add(std::make_unique<TSGIRLEDecoder>(16));
  add(std::make_unique<TCUTRLEDecoder>());
  add(std::make_unique<TPSPRLEDecoder>());
  add(std::make_unique<TRLADecoder>());
  add(std::make_unique<TTIFFLZWDecoder>());
  add(std::make_unique<TGIFLZWDecoder>(2));
  add(std::make_unique<TGIFLZWDecoder>(8));
  add(std::make_unique<TThunderDecoder>(7));
  for (const auto& [decoder, unit] : decoders) {
    for (int i = 0; i < 400; ++i) {
      Bytes packed(random() % 600);
      for (uint8_t& b : packed) b = static_cast<uint8_t>(random());
      auto [out, used] = DecodeCall(*decoder, packed, random() % 700, unit);
      EXPECT_GE(used, 0);
      EXPECT_LE(used, static_cast<ptrdiff_t>(packed.size()));
    }
    // Sizes that count as nothing, with an output buffer that has no address.
    const Bytes codes = {0x81, 0x05, 0xC3, 0x00, 0x01, 0x80, 0xFF, 0x02};
    const uint8_t* source = codes.data();
    uint8_t* dest = nullptr;
    decoder->Decode(source, dest, -5, -1);
    for (size_t at = 0; at < codes.size(); ++at) {
      source = codes.data() + at;
      decoder->Decode(source, dest, static_cast<int32_t>(codes.size() - at), 0);
    }
  }
}

// LZW streams in which every code is the string being defined, so that the
// strings grow to the longest the table can hold: the assembly stack must
// take each whole.
TEST(Decoders, LongestLZWStringsFitTheirStack) {
  auto stream = [](uint32_t clear, uint32_t width, bool early, std::vector<TCode> codes) {
    uint32_t longest = 1, total = 1;
    for (uint32_t entry = clear + 2; entry < 4096; ++entry) {
      codes.push_back({entry, width});
      total += ++longest;
      const uint32_t next = early ? entry + 1 : entry;
      if (next == (1u << width) - 1 && width < 12) ++width;
    }
    return std::make_pair(codes, total);
  };
  auto [tiff, tiffTotal] = stream(256, 9, true, {{256, 9}, {'x', 9}});
  EXPECT_EQ(Decoded(TTIFFLZWDecoder(), PackMSB(tiff), tiffTotal), Repeat('x', tiffTotal));
  auto [gif, gifTotal] = stream(4, 3, false, {{4, 3}, {1, 3}});
  EXPECT_EQ(Decoded(TGIFLZWDecoder(2), PackLSB(gif), gifTotal), Repeat(1, gifTotal));
}

}  // namespace
}  // namespace tolvane
