// The deflate and Photo CD decoders on data made in the test: zlib encodes,
// the Photo CD streams are assembled bit by bit. The JPEG-in-TIFF decoder is
// checked by tiff_jpeg_reference.py.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <zlib.h>

#include "graphics/GraphicCompression.h"

namespace tolvane {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Deflate(const std::string& text) {
  uLongf size = compressBound(static_cast<uLong>(text.size()));
  Bytes out(size);
  compress(out.data(), &size, reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size()));
  out.resize(size);
  return out;
}

// ---- Deflate ------------------------------------------------------------------

TEST(LZ77DecoderTest, WithoutResetOneStreamRunsAcrossCallsAndStopsAtItsEnd) {
  const std::string text = "the quick brown fox jumps over the lazy dog";
  Bytes packed = Deflate(text);
  packed.insert(packed.end(), {1, 2, 3});  // left over after the stream
  TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
  decoder.BeginDecoding();
  Bytes out(text.size());
  const uint8_t* source = packed.data();
  uint8_t* dest = out.data();
  decoder.Decode(source, dest, static_cast<int32_t>(packed.size()), 10);
  EXPECT_EQ(decoder.ZLibResult(), Z_OK);
  EXPECT_EQ(dest, out.data() + 10);
  EXPECT_EQ(decoder.AvailableOutput(), 0u);
  const int32_t left = static_cast<int32_t>(packed.data() + packed.size() - source);
  decoder.Decode(source, dest, left, static_cast<int32_t>(text.size()));
  EXPECT_EQ(decoder.ZLibResult(), Z_STREAM_END);
  EXPECT_EQ(std::string(out.begin(), out.end()), text);
  EXPECT_EQ(decoder.AvailableInput(), 3u);
  EXPECT_EQ(source, packed.data() + packed.size() - 3);
  // After the end nothing moves.
  const uint8_t* const sourceBefore = source;
  uint8_t* const destBefore = dest;
  decoder.Decode(source, dest, 3, 5);
  EXPECT_EQ(source, sourceBefore);
  EXPECT_EQ(dest, destBefore);
  EXPECT_EQ(decoder.ZLibResult(), Z_STREAM_END);
  decoder.EndDecoding();
}

TEST(LZ77DecoderTest, WithResetEveryCallDecodesAStreamOfItsOwn) {
  TLZ77Decoder decoder(Z_PARTIAL_FLUSH, true);
  decoder.BeginDecoding();
  for (const std::string text : {"first strip", "second, longer strip"}) {
    const Bytes packed = Deflate(text);
    Bytes out(text.size());
    const uint8_t* source = packed.data();
    uint8_t* dest = out.data();
    decoder.Decode(source, dest, static_cast<int32_t>(packed.size()), static_cast<int32_t>(out.size()));
    EXPECT_EQ(decoder.ZLibResult(), Z_STREAM_END);
    EXPECT_EQ(std::string(out.begin(), out.end()), text);
  }
}

TEST(LZ77DecoderTest, DamagedDataLeaveANegativeResultAndStopTheDecoder) {
  Bytes packed = Deflate(std::string(200, 'x'));
  packed[0] = 0x79;  // not a zlib header
  TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
  decoder.BeginDecoding();
  Bytes out(200);
  const uint8_t* source = packed.data();
  uint8_t* dest = out.data();
  decoder.Decode(source, dest, static_cast<int32_t>(packed.size()), 200);
  EXPECT_LT(decoder.ZLibResult(), 0);
  // A decoder never begun refuses quietly.
  TLZ77Decoder idle(Z_FINISH, false);
  source = packed.data();
  dest = out.data();
  idle.Decode(source, dest, static_cast<int32_t>(packed.size()), 200);
  EXPECT_LT(idle.ZLibResult(), 0);
  EXPECT_EQ(dest, out.data());
}

// Strips are whole streams, which a faster inflater may take; whatever it
// does, callers must see exactly what one zlib inflate call over the strip
// gives: the bytes (those the data do not reach keep theirs), the result and
// how far both pointers move.
struct TInflateOutcome {
  Bytes Out;
  int32_t Result;
  ptrdiff_t Consumed, Made;
  uint32_t InputLeft, OutputLeft;
  bool operator==(const TInflateOutcome&) const = default;
};

std::ostream& operator<<(std::ostream& os, const TInflateOutcome& o) {
  return os << "result " << o.Result << " consumed " << o.Consumed << " made " << o.Made << " left " << o.InputLeft
            << "/" << o.OutputLeft;
}

TInflateOutcome ZlibAlone(const Bytes& packed, size_t room) {
  z_stream z{};
  inflateInit(&z);
  TInflateOutcome o{Bytes(room, 0xA5), 0, 0, 0, 0, 0};
  z.next_in = const_cast<Bytef*>(packed.data());
  z.avail_in = static_cast<uInt>(packed.size());
  z.next_out = o.Out.data();
  z.avail_out = static_cast<uInt>(room);
  o.Result = inflate(&z, Z_PARTIAL_FLUSH);
  o.Consumed = z.next_in - packed.data();
  o.Made = z.next_out - o.Out.data();
  o.InputLeft = z.avail_in;
  o.OutputLeft = z.avail_out;
  inflateEnd(&z);
  return o;
}

TInflateOutcome ThroughDecoder(TLZ77Decoder& decoder, const Bytes& packed, size_t room) {
  TInflateOutcome o{Bytes(room, 0xA5), 0, 0, 0, 0, 0};
  const uint8_t* source = packed.data();
  uint8_t* dest = o.Out.data();
  decoder.Decode(source, dest, static_cast<int32_t>(packed.size()), static_cast<int32_t>(room));
  o.Result = decoder.ZLibResult();
  o.Consumed = source - packed.data();
  o.Made = dest - o.Out.data();
  o.InputLeft = decoder.AvailableInput();
  o.OutputLeft = decoder.AvailableOutput();
  return o;
}

Bytes Compress(const Bytes& raw, int level) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  Bytes out(size);
  compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), level);
  out.resize(size);
  return out;
}

TEST(LZ77DecoderTest, WholeStripsGiveZlibsAnswerEvenWhenDamaged) {
  std::mt19937 random(5);
  Bytes picture(20000);
  for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(i % 251 < 120 ? i / 7 : random());
  const Bytes clean = Compress(picture, 6), stored = Compress(picture, 0);
  std::vector<std::pair<std::string, Bytes>> streams = {{"clean", clean}, {"stored blocks", stored}};
  for (size_t cut : {size_t{1}, size_t{3}, size_t{4}, size_t{5}, clean.size() / 2, clean.size() - 1})
    streams.push_back({"cut to " + std::to_string(cut), Bytes(clean.begin(), clean.begin() + cut)});
  Bytes check = clean;
  check.back() ^= 1;
  streams.push_back({"wrong check value", check});
  Bytes header = clean;
  header[1] ^= 1;
  streams.push_back({"bad header", header});
  Bytes dictionary = clean;
  dictionary[1] = 0xBC;  // asks for a preset dictionary (and still checks)
  streams.push_back({"preset dictionary", dictionary});
  Bytes middle = clean;
  middle[middle.size() / 3] ^= 0x5A;
  streams.push_back({"damaged middle", middle});
  Bytes trailing = clean;
  trailing.insert(trailing.end(), {1, 2, 3, 4, 5});
  streams.push_back({"data after the stream", trailing});
  Bytes garbage(300);
  for (uint8_t& b : garbage) b = static_cast<uint8_t>(random());
  streams.push_back({"garbage", garbage});
  streams.push_back({"empty stream", Compress({}, 6)});
  streams.push_back({"nothing", Bytes{}});
  for (const auto& [name, packed] : streams)
    for (size_t room : {size_t{0}, size_t{1}, picture.size() - 1, picture.size(), picture.size() + 7}) {
      SCOPED_TRACE(name + ", room " + std::to_string(room));
      TLZ77Decoder decoder(Z_PARTIAL_FLUSH, true);
      decoder.BeginDecoding();
      const TInflateOutcome expected = ZlibAlone(packed, room);
      // Twice: the second call must start afresh as the first did.
      EXPECT_EQ(ThroughDecoder(decoder, packed, room), expected);
      EXPECT_EQ(ThroughDecoder(decoder, packed, room), expected);
      decoder.EndDecoding();
    }
}

TEST(LZ77DecoderTest, InflateWholeAnswersOnlyForCompleteStreams) {
  const Bytes picture(5000, 7);
  const Bytes packed = Compress(picture, 9);
  TLZ77Decoder decoder(Z_FINISH, false);
  Bytes out(6000);
  EXPECT_EQ(decoder.InflateWhole(packed.data(), packed.size(), out.data(), out.size()), std::optional<size_t>(5000));
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 5000), picture);
  // Cut, too long for the room, or with a wrong check value: zlib's turn.
  EXPECT_FALSE(decoder.InflateWhole(packed.data(), packed.size() - 1, out.data(), out.size()));
  EXPECT_FALSE(decoder.InflateWhole(packed.data(), packed.size(), out.data(), 4999));
  Bytes check = packed;
  check.back() ^= 0x80;
  EXPECT_FALSE(decoder.InflateWhole(check.data(), check.size(), out.data(), out.size()));
}

// ---- Photo CD -------------------------------------------------------------------------

// Assembles residual streams: tables, then rows each introduced by a sync
// marker, padded to whole sectors.
class TPcdStream {
public:
  struct TCode {
    uint8_t Length;
    uint16_t Bits;  // right-aligned
    int8_t Residual;
  };

  TPcdStream& Table(const std::vector<TCode>& codes) {
    Put(static_cast<uint32_t>(codes.size() - 1), 8);
    for (const TCode& c : codes) Put(c.Length - 1u, 8), Put(c.Bits << (16 - c.Length), 16), Put(uint8_t(c.Residual), 8);
    return *this;
  }
  // A sync marker for a row of a plane (0 luminance, 1 abort, 2 and 3 chroma)
  // and the codes of the row. The marker starts on a byte after eight zero
  // bits, or, packed, right after the codes before it.
  TPcdStream& Row(uint32_t plane, uint32_t row, const std::vector<TCode>& codes = {}, bool packed = false) {
    if (packed) {
      Put(0xFFFFFE, 24);
    } else {
      Align();
      Put(0x00FFFFFE, 32);
    }
    Put(plane << 14 | row << 1, 16);
    for (const TCode& c : codes) Put(c.Bits, c.Length);
    return *this;
  }
  Bytes Finish() {
    Align();
    Bytes out = Data;
    out.resize((out.size() / 2048 + 1) * 2048);
    return out;
  }

private:
  void Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i, ++Bits) {
      if (Bits % 8 == 0) Data.push_back(0);
      if ((value >> i) & 1) Data.back() |= static_cast<uint8_t>(0x80 >> (Bits % 8));
    }
  }
  void Align() {
    while (Bits % 8) Put(0, 1);
  }
  Bytes Data;
  size_t Bits = 0;
};

const TPcdStream::TCode Plus1{2, 0b01, 1}, Minus1{3, 0b100, -1}, Plus5{3, 0b101, 5}, Zero{2, 0b00, 0};

struct TPlanes {
  TPlanes(uint32_t width, uint32_t rows, uint8_t value)
      : Luma(size_t{width} * rows, value), Cb(size_t{width} * ((rows + 1) / 2), value), Cr(Cb) {}
  Bytes Luma, Cb, Cr;
};

void DecodePcd(const Bytes& data, TPlanes& planes, uint32_t width, uint32_t rows) {
  TMemoryStream stream(data);
  TPCDDecoder decoder(stream);
  uint8_t* addresses[3] = {planes.Luma.data(), planes.Cb.data(), planes.Cr.data()};
  const uint8_t* source = reinterpret_cast<const uint8_t*>(addresses);
  uint8_t* dest = nullptr;
  decoder.Decode(source, dest, static_cast<int32_t>(width), static_cast<int32_t>(rows));
}

TEST(PCDDecoderTest, ResidualsAreAddedRowByRowUntilTheEndRow) {
  // One table for rows of up to 1536 samples: chroma rows have none and are
  // skipped; a sample of 0 lowered stays 0; the end row stops decoding
  // whatever follows.
  TPcdStream s;
  s.Table({Plus1, Minus1, Plus5, Zero}).Row(0, 1, {Plus1, Minus1, Plus5, Zero}).Row(2, 2, {Plus5});
  s.Row(0, 3, {Minus1, Minus1}).Row(0, 4).Row(0, 0, {Plus5});
  TPlanes planes(4, 4, 253);
  planes.Luma[13] = 0;
  DecodePcd(s.Finish(), planes, 4, 4);
  EXPECT_EQ(planes.Luma, (Bytes{253, 253, 253, 253, 254, 252, 255, 253, 253, 253, 253, 253, 252, 0, 253, 253}));
  EXPECT_EQ(planes.Cb, Bytes(planes.Cb.size(), 253));
  // Wider rows have a table for each plane.
  const uint32_t width = 1600;
  TPcdStream wide;
  wide.Table({Plus1}).Table({Minus1}).Table({Plus5}).Row(0, 1, {Plus1}).Row(2, 1, {Minus1}).Row(3, 0, {Plus5, Plus5});
  TPlanes big(width, 2, 100);
  DecodePcd(wide.Row(0, 2).Finish(), big, width, 2);
  EXPECT_EQ(big.Luma[width], 101);
  EXPECT_EQ(big.Cb[0], 99);
  EXPECT_EQ(Bytes(big.Cr.begin(), big.Cr.begin() + 3), (Bytes{105, 105, 100}));
}

TEST(PCDDecoderTest, RowsEndOnlyAtAWholeMarker) {
  // Rows packed one after the other keep their last codes, and a run of one
  // bits inside a row is a code, not a marker.
  const TPcdStream::TCode Ones{12, 0xFFF, 3};
  TPcdStream s;
  s.Table({Plus1, Minus1, Ones}).Row(0, 0, {Plus1, Minus1, Plus1}).Row(0, 1, {Ones, Ones, Plus1}, true);
  TPlanes planes(3, 2, 50);
  DecodePcd(s.Row(0, 2, {}, true).Finish(), planes, 3, 2);
  EXPECT_EQ(planes.Luma, (Bytes{51, 49, 51, 53, 53, 51}));
}

TEST(PCDDecoderTest, BadCodesLongCodesAbortsAndShortStreams) {
  // An unknown code skips to the next row.
  TPlanes planes(2, 2, 10);
  DecodePcd(TPcdStream().Table({Plus1}).Row(0, 0, {Minus1, Plus1}).Row(0, 1, {Plus1}).Row(0, 2).Finish(), planes, 2, 2);
  EXPECT_EQ(planes.Luma, (Bytes{10, 10, 11, 10}));
  // A table entry longer than 16 bits ends the call with nothing decoded.
  Bytes longCode = {0x00, 16, 0x80, 0x00, 0x01};
  longCode.resize(2048);
  TPlanes untouched(2, 2, 10);
  DecodePcd(longCode, untouched, 2, 2);
  EXPECT_EQ(untouched.Luma, Bytes(4, 10));
  // Plane code 1 aborts the load; data without an end row run into the
  // stream's end.
  EXPECT_THROW(DecodePcd(TPcdStream().Table({Plus1}).Row(1, 0).Finish(), planes, 2, 2), EAbort);
  EXPECT_THROW(DecodePcd(TPcdStream().Table({Plus1}).Row(0, 0).Finish(), planes, 2, 2), EReadError);
}

TEST(PCDDecoderTest, RowsAndCodesBeyondThePlanesAreDropped) {
  const std::vector<TPcdStream::TCode> many(20, Plus1);
  TPlanes planes(3, 2, 7);
  DecodePcd(TPcdStream().Table({Plus1}).Row(0, 9, many).Row(3, 1).Row(0, 1, many).Row(0, 2).Finish(), planes, 3, 2);
  EXPECT_EQ(planes.Luma, (Bytes{7, 7, 7, 8, 8, 8}));
}

}  // namespace
}  // namespace tolvane
