// The fax decoders on hand-made bit strings, and what the TIFF reader makes
// of directory values that no tool writes on purpose. Pixels of real files
// are checked against libtiff by tiff_reference.py.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "graphics/GraphicCompression.h"
#include "graphics/GraphicFormats.h"
#include "picture/ByteOrder.h"
#include "support/CountingStream.h"
#include "support/JpegEncode.h"

namespace tolvane {
namespace {

using Bytes = std::vector<uint8_t>;

// "0101..." packed most significant bit first, the last byte padded with 0.
Bytes Bits(const std::string& bits) {
  Bytes out((bits.size() + 7) / 8, 0);
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i] == '1') out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
  return out;
}

// Opens the decoders' steps to the tests.
class TProbe : public TCCITTDecoder {
public:
  explicit TProbe(uint32_t rowWidth, bool swapBits = false) : TCCITTDecoder(0, swapBits, false, rowWidth) {}
  void Decode(const uint8_t*&, uint8_t*&, int32_t, int32_t) override {}
  // The decoder reads the bytes in place; the probe keeps them.
  void Start(const Bytes& packed, Bytes& out) {
    FPacked = packed;
    StartDecoding(FPacked.data(), static_cast<int32_t>(FPacked.size()), out.data(), static_cast<int32_t>(out.size()));
  }
  Bytes FPacked;
  using TCCITTDecoder::FillRun;
  using TCCITTDecoder::FindBlackCode;
  using TCCITTDecoder::FindWhiteCode;
  using TCCITTDecoder::InputExhausted;
  using TCCITTDecoder::IsWhite;
};

template <class TDecoderClass>
Bytes DecodeFax(const Bytes& packed, uint32_t width, uint32_t rows, bool swapBits = false, bool wordAligned = false) {
  TDecoderClass decoder(0, swapBits, wordAligned, width);
  Bytes out(rows * ((width + 7) / 8), 0xAA);
  const uint8_t* source = packed.data();
  uint8_t* dest = out.data();
  decoder.Decode(source, dest, static_cast<int32_t>(packed.size()), static_cast<int32_t>(out.size()));
  return out;
}

const std::string EOL = "000000000001";

TEST(CCITTDecoder, CodeTreesHoldEveryCodeOnce) {
  const TProbe probe(8);
  for (const auto* tree : {&probe.WhiteStates(), &probe.BlackStates()}) {
    ASSERT_EQ(tree->size(), 217u);
    size_t leaves = 0;
    for (const auto& state : *tree) {
      const bool leaf = state.NextState0 == 0 && state.NextState1 == 0;
      leaves += leaf;
      // Every bit sequence ends in a leaf: inner states have both successors.
      if (!leaf) {
        EXPECT_TRUE(state.NextState0 != 0 && state.NextState1 != 0);
      }
    }
    EXPECT_EQ(leaves, 109u);
  }
}

TEST(CCITTDecoder, MakeUpCodesAddUpAndMarkersWin) {
  TProbe probe(8000);
  Bytes out(1000);
  // White 64 + white 0; 2560 + 2560 + 10 (extended codes shared by both colours).
  probe.Start(Bits("11011" "00110101" "000000011111" "000000011111" "00111"), out);
  EXPECT_EQ(probe.FindWhiteCode(), 64);
  EXPECT_EQ(probe.FindWhiteCode(), 5130);
  // An end of line after a make-up code is reported as such.
  probe.Start(Bits("0000001111" + EOL), out);
  EXPECT_EQ(probe.FindBlackCode(), TCCITTDecoder::RunEOL);
  probe.Start(Bits("11011" "000000000000"), out);
  EXPECT_EQ(probe.FindWhiteCode(), TCCITTDecoder::RunInvalid);
  // A code that ends on the data's last bit counts: white 3, white 2.
  probe.Start(Bits("1000" "0111"), out);
  EXPECT_EQ(probe.FindWhiteCode(), 3);
  EXPECT_EQ(probe.FindWhiteCode(), 2);
  EXPECT_TRUE(probe.InputExhausted());
  // Data that end inside a code give the sum so far: black 64, then half a code.
  probe.Start(Bits("0000001111" "0000"), out);
  EXPECT_EQ(probe.FindBlackCode(), 64);
}

TEST(CCITTDecoder, RunsFillBitsAndStopAtTheRowEnd) {
  TProbe probe(16);
  Bytes out(4);
  probe.Start(Bits("1"), out);
  probe.IsWhite = true;
  EXPECT_FALSE(probe.FillRun(2));
  probe.IsWhite = false;
  EXPECT_FALSE(probe.FillRun(3));
  EXPECT_EQ(out[0], 0x38);
  probe.Start(Bits("1"), out);
  probe.IsWhite = false;
  EXPECT_FALSE(probe.FillRun(10));
  EXPECT_EQ(out[0], 0xFF);
  EXPECT_EQ(out[1], 0xC0);
  // A run past the row's end is cut there: the next row stays white.
  EXPECT_TRUE(probe.FillRun(100));
  EXPECT_EQ(out[1], 0xFF);
  EXPECT_EQ(out[2], 0x00);
  EXPECT_EQ(out[3], 0x00);
}

TEST(CCITTDecoder, ModifiedHuffmanRows) {
  // Row 1 starts black (white 0, black 3, white 5); row 2 is white 2,
  // black 6; each row begins on a byte.
  const Bytes packed = Bits("00110101" "10" "1100" "00" "0111" "0010");
  EXPECT_EQ(DecodeFax<TCCITTMHDecoder>(packed, 8, 2), (Bytes{0xE0, 0x3F}));
  // Reversed bit order reads the same rows; the caller's bytes stay.
  Bytes reversed = packed;
  for (uint8_t& b : reversed) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r | ((b >> i & 1) << (7 - i)));
    b = r;
  }
  const Bytes kept = reversed;
  EXPECT_EQ(DecodeFax<TCCITTMHDecoder>(reversed, 8, 2, true), (Bytes{0xE0, 0x3F}));
  EXPECT_EQ(reversed, kept);
  // Word-aligned: the first row's codes end in the word's first byte, whose
  // second byte (all ones here) is skipped.
  EXPECT_EQ(DecodeFax<TCCITTMHDecoder>(Bits("0111" "0010" "11111111" "0111" "0010"), 8, 2, false, true),
            (Bytes{0x3F, 0x3F}));
}

TEST(CCITTDecoder, GroupThreeRowsFollowTheirEndOfLines) {
  // Fill bits before each EOL; row 1 white 3, black 5; row 2 ends early at
  // its EOL (white 2 then EOL): the rest stays white and row 3 follows the
  // EOL at once (black 8 after white 0).
  const std::string row1 = "1000" "0011";
  const std::string row3 = "00110101" "000101";
  const Bytes packed = Bits("0000" + EOL + row1 + "0000000" + EOL + "0111" + EOL + row3);
  EXPECT_EQ(DecodeFax<TCCITTFax3Decoder>(packed, 8, 3), (Bytes{0x1F, 0x00, 0xFF}));
  // An invalid code ends its row; decoding resumes after the next EOL, and a
  // row that the data do not reach stays white.
  const Bytes damaged = Bits(EOL + "000000001" "1111" + EOL + row1);
  EXPECT_EQ(DecodeFax<TCCITTFax3Decoder>(damaged, 8, 3), (Bytes{0x00, 0x1F, 0x00}));
}

// ---- The TIFF reader --------------------------------------------------------------

struct TEntry {
  uint16_t Tag, Type;
  std::vector<uint32_t> Values;
};

// A one-directory TIFF: 8-byte header, directory, then the values that do
// not fit their entries, then the pixel bytes of one strip; or, with
// offsets, bytes of which strip i starts at offsets[i] and takes counts[i].
Bytes MakeTiff(std::vector<TEntry> entries, const Bytes& strip, bool big = false, std::vector<uint32_t> offsets = {},
               std::vector<uint32_t> counts = {}) {
  auto put16 = [big](Bytes& b, uint32_t v) {
    big ? AppendBE16(b, static_cast<uint16_t>(v)) : AppendLE16(b, static_cast<uint16_t>(v));
  };
  auto put32 = [big](Bytes& b, uint32_t v) { big ? AppendBE32(b, v) : AppendLE32(b, v); };
  const auto valueBytes = [&](const TEntry& e) {
    Bytes v;
    for (uint32_t x : e.Values) {
      if (e.Type == 3) put16(v, x);
      else if (e.Type == 1) v.push_back(static_cast<uint8_t>(x));
      else put32(v, x);
    }
    return v;
  };
  if (offsets.empty()) {
    offsets = {0};
    counts = {static_cast<uint32_t>(strip.size())};
  }
  entries.push_back({273, 4, offsets});
  entries.push_back({279, 4, counts});
  size_t extraSize = 0;
  for (const TEntry& e : entries) extraSize += valueBytes(e).size() > 4 ? valueBytes(e).size() : 0;
  const uint32_t extraAt = static_cast<uint32_t>(8 + 2 + 12 * entries.size() + 4);
  for (uint32_t& offset : entries[entries.size() - 2].Values) offset += static_cast<uint32_t>(extraAt + extraSize);
  Bytes out = big ? Bytes{'M', 'M'} : Bytes{'I', 'I'};
  put16(out, 42);
  put32(out, 8);
  put16(out, static_cast<uint32_t>(entries.size()));
  Bytes extra;
  for (const TEntry& e : entries) {
    put16(out, e.Tag);
    put16(out, e.Type);
    put32(out, static_cast<uint32_t>(e.Type == 5 ? e.Values.size() / 2 : e.Values.size()));
    Bytes v = valueBytes(e);
    if (v.size() > 4) {
      put32(out, extraAt + static_cast<uint32_t>(extra.size()));
      extra.insert(extra.end(), v.begin(), v.end());
    } else {
      v.resize(4);
      out.insert(out.end(), v.begin(), v.end());
    }
  }
  put32(out, 0);
  out.insert(out.end(), extra.begin(), extra.end());
  out.insert(out.end(), strip.begin(), strip.end());
  return out;
}

std::vector<TEntry> Grey(uint32_t width, uint32_t height) {
  return {{256, 3, {width}}, {257, 3, {height}}, {258, 3, {8}}, {259, 3, {1}}, {262, 3, {1}}};
}

TEST(TIFFGraphic, ReadsDirectoryValuesAsStored) {
  TTIFFGraphic graphic;
  // Big-endian YCbCr: the two subsampling SHORTs inside their entry; a
  // resolution in centimetres; rows per strip "all".
  std::vector<TEntry> e = {{256, 3, {4}},          {257, 3, {2}},         {258, 3, {8, 8, 8}},
                           {262, 3, {6}},          {277, 3, {3}},         {278, 4, {0xFFFFFFFF}},
                           {282, 5, {72, 1}},      {283, 5, {150, 0}},    {296, 3, {3}},
                           {530, 3, {2, 1}},       {259, 3, {1}}};
  TMemoryStream stream(MakeTiff(e, Bytes(24), true));
  ASSERT_TRUE(graphic.ReadImageInfo(stream, 0));
  const TImageProperties& p = graphic.ImageProperties;
  EXPECT_EQ(p.YCbCrSubsampling, (TByteArray{2, 1}));
  EXPECT_EQ(p.BitsPerSample, 8);  // the first of the values at their offset
  EXPECT_EQ(p.RowsPerStrip, (TCardinalArray{2}));
  EXPECT_NEAR(p.XResolution, 182.88f, 1e-3f);
  EXPECT_EQ(p.YResolution, 0.0f);  // denominator 0: as if absent
  EXPECT_TRUE(p.Options & optBigEndian);
  EXPECT_FALSE(graphic.ReadImageInfo(stream, 1));  // no second directory
}

TEST(TIFFGraphic, FirstOfDuplicateTagsAndUncompressedPredictor) {
  // Two width entries (the first counts); predictor 2 on uncompressed data
  // is not undone.
  std::vector<TEntry> e = Grey(3, 1);
  e.insert(e.begin(), {256, 3, {2}});
  e.push_back({317, 3, {2}});
  TMemoryStream stream(MakeTiff(e, Bytes{10, 20, 30}));
  TTIFFGraphic graphic;
  graphic.LoadStream(stream);
  ASSERT_EQ(graphic.ImageWidth(), 2);
  EXPECT_EQ(graphic.RowPointer(0)[1], 20);
}

TEST(TIFFGraphic, RefusesWhatItCannotRead) {
  auto message = [](const Bytes& file) {
    TMemoryStream stream(file);
    TTIFFGraphic graphic;
    try {
      graphic.LoadStream(stream);
    } catch (const Exception& e) {
      return e.Message;
    }
    return std::string("loaded");
  };
  const std::string invalid = "Cannot load image. Invalid or unexpected TIF/TIFF image format.";
  std::vector<TEntry> tiled = Grey(2, 2);
  tiled.insert(tiled.end(), {{322, 3, {16}}, {323, 3, {16}}});
  EXPECT_EQ(message(MakeTiff(tiled, Bytes(4))), "Cannot load image. Tiling is not supported for TIF/TIFF files.");
  std::vector<TEntry> fax2d = Grey(8, 1);
  fax2d[2] = {258, 3, {1}};
  fax2d[3] = {259, 3, {3}};
  fax2d.push_back({292, 4, {1}});
  EXPECT_EQ(message(MakeTiff(fax2d, Bytes(4))),
            "Cannot load image. The compression scheme is not supported for TIF/TIFF files.");
  std::vector<TEntry> rgb1 = Grey(2, 1);
  rgb1[4] = {262, 3, {2}};  // RGB with one sample would read past each row
  EXPECT_EQ(message(MakeTiff(rgb1, Bytes(2))), invalid);
  std::vector<TEntry> wide = Grey(2, 1);
  wide[2] = {258, 4, {0x108}};  // 264 bits would wrap to 8
  EXPECT_EQ(message(MakeTiff(wide, Bytes(2))), invalid);
  std::vector<TEntry> ycc = Grey(2, 2);
  ycc[4] = {262, 3, {6}};
  ycc.push_back({277, 3, {3}});
  ycc[2] = {258, 3, {8, 8, 8}};
  EXPECT_EQ(message(MakeTiff(ycc, Bytes(12))), invalid);  // subsampled chroma without JPEG
  Bytes noStrips = MakeTiff(Grey(2, 1), Bytes(2));
  noStrips[8 + 2 + 12 * 5 + 1] = 0x7F;  // tag 273 becomes 0x7F11, unknown
  EXPECT_EQ(message(noStrips), invalid);
  // A colour map of three values fits its entry and is no palette.
  std::vector<TEntry> map = Grey(2, 1);
  map[4] = {262, 3, {3}};
  map.push_back({320, 1, {1, 2, 3}});
  EXPECT_EQ(message(MakeTiff(map, Bytes{0, 1})), "loaded");
}

TEST(TIFFGraphic, GreyTakesTheFirstOfEachPixelsSamples) {
  // Grey with two further samples a pixel, 8 bits and 16 bits big-endian.
  std::vector<TEntry> e = Grey(3, 1);
  e[2] = {258, 3, {8, 8, 8}};
  e.push_back({277, 3, {3}});
  TMemoryStream stream(MakeTiff(e, Bytes{10, 1, 2, 20, 3, 4, 30, 5, 6}));
  TTIFFGraphic graphic;
  graphic.LoadStream(stream);
  const uint8_t* row = graphic.RowPointer(0);
  EXPECT_EQ((Bytes{row[0], row[1], row[2]}), (Bytes{10, 20, 30}));

  e = Grey(2, 1);
  e[2] = {258, 3, {16, 16, 16, 16}};
  e.push_back({277, 3, {4}});
  TMemoryStream wide(MakeTiff(e, Bytes{255, 255, 1, 1, 2, 2, 3, 3, 0, 0, 4, 4, 5, 5, 6, 6}, true));
  graphic.LoadStream(wide);
  row = graphic.RowPointer(0);
  EXPECT_EQ((Bytes{row[0], row[1]}), (Bytes{255, 0}));

  // Four-bit indices with alpha beside them: pixels 1 and 2.
  e = {{256, 3, {2}}, {257, 3, {1}}, {258, 3, {4, 4}}, {259, 3, {1}}, {262, 3, {3}}, {277, 3, {2}}};
  TEntry map{320, 3, {}};
  for (uint32_t plane = 0; plane < 3; ++plane)
    for (uint32_t i = 0; i < 16; ++i) map.Values.push_back(i << 12);
  e.push_back(map);
  TMemoryStream nibbles(MakeTiff(e, Bytes{0x1F, 0x2F}));
  graphic.LoadStream(nibbles);
  row = graphic.RowPointer(0);
  EXPECT_EQ(row[0], 0x12);
}

// A self-contained JPEG of four components at full resolution, stored as
// CMYK or turned into YCCK by libjpeg.
Bytes JpegOfInks(const Bytes& cmyk, uint32_t width, uint32_t height, J_COLOR_SPACE space) {
  return test::EncodeJpeg(cmyk, width, height, 4, JCS_CMYK, [&](jpeg_compress_struct& c) {
    jpeg_set_colorspace(&c, space);
    jpeg_set_quality(&c, 100, TRUE);
    for (int i = 0; i < c.num_components; ++i) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
  });
}

TEST(TIFFGraphic, CmykAndYcckJpegStripsShowTheirInks) {
  // No Debian tool writes YCCK strips: smooth inks of known value, and the
  // colours they mix to, within the JPEG's loss.
  constexpr uint32_t w = 16, h = 8;
  Bytes inks;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      for (uint32_t v : {x * 12, y * 20, 200 - x * 6, (x + y) * 5}) inks.push_back(static_cast<uint8_t>(v));
  for (J_COLOR_SPACE space : {JCS_CMYK, JCS_YCCK}) {
    std::vector<TEntry> e = {{256, 3, {w}}, {257, 3, {h}}, {258, 3, {8, 8, 8, 8}}, {259, 3, {7}},
                             {262, 3, {5}},  {277, 3, {4}}};
    TMemoryStream stream(MakeTiff(e, JpegOfInks(inks, w, h, space)));
    TTIFFGraphic graphic;
    graphic.LoadStream(stream);
    ASSERT_EQ(graphic.PixelLayoutOf(), pl24Bit);
    int worst = 0;
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) {
          const uint8_t* ink = &inks[(y * w + x) * 4];
          const int want = (255 - ink[c]) * (255 - ink[3]) / 255;
          const int got = graphic.RowPointer(static_cast<int32_t>(y))[x * 3 + 2 - c];
          worst = std::max(worst, std::abs(got - want));
        }
    EXPECT_LE(worst, 4) << (space == JCS_YCCK ? "YCCK" : "CMYK");
  }
}

using test::TCountingStream;

std::vector<TEntry> Rgb(uint32_t width, uint32_t height, uint32_t compression, uint32_t rowsPerStrip) {
  return {{256, 3, {width}},     {257, 3, {height}}, {258, 3, {8, 8, 8}},     {259, 3, {compression}},
          {262, 3, {2}},         {277, 3, {3}},      {278, 3, {rowsPerStrip}}};
}

// Rows as the bitmap holds them (blue, green, red, then the padding).
Bytes BitmapBytes(TBitmap& bitmap) {
  Bytes out;
  for (int32_t y = 0; y < bitmap.ImageHeight(); ++y)
    out.insert(out.end(), bitmap.RowPointer(y), bitmap.RowPointer(y) + bitmap.RowSize());
  return out;
}

// A row as the reader decodes deflate data: what zlib makes of them, the
// rest zero.
Bytes Inflated(const Bytes& packed, size_t size) {
  Bytes out(size, 0);
  z_stream z{};
  inflateInit(&z);
  z.next_in = const_cast<Bytef*>(packed.data());
  z.avail_in = static_cast<uInt>(packed.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(size);
  inflate(&z, Z_PARTIAL_FLUSH);
  inflateEnd(&z);
  return out;
}

TEST(TIFFGraphic, StripsInAnyOrderAndPlaceGiveTheirRows) {
  // Rows of one picture stored one a strip, in order and in reverse order,
  // two strips sharing their bytes, strips past and at the end of the file:
  // uncompressed, as PackBits literals and deflated (one stream cut short,
  // one making half its row, and with the predictor). Rows read together
  // must follow the strips, and nothing the data do not reach may keep
  // what the memory held (a small picture, which the sanitizer's allocator
  // fills with garbage).
  constexpr uint32_t w = 7, h = 40, rowBytes = 3 * w;
  Bytes pixels(size_t{rowBytes} * h);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7 + i / rowBytes);
  for (const auto& [compression, predictor] : {std::pair{1u, 1u}, {32773u, 1u}, {8u, 1u}, {8u, 2u}})
    for (bool reversed : {false, true}) {
      SCOPED_TRACE(testing::Message() << "compression " << compression << " predictor " << predictor << " reversed "
                                      << reversed);
      Bytes data, want = pixels;
      std::vector<uint32_t> offsets(h), counts(h);
      for (uint32_t k = 0; k < h; ++k) {
        const uint32_t y = reversed ? h - 1 - k : k;
        offsets[y] = static_cast<uint32_t>(data.size());
        Bytes row(pixels.begin() + y * rowBytes, pixels.begin() + (y + 1) * rowBytes), packed;
        if (predictor == 2)
          for (size_t i = rowBytes; i-- > 3;) row[i] = static_cast<uint8_t>(row[i] - row[i - 3]);
        if (compression == 1) {
          packed = row;
        } else if (compression == 32773) {
          packed.push_back(rowBytes - 1);
          packed.insert(packed.end(), row.begin(), row.end());
        } else {
          const uLong length = y == 30 ? rowBytes / 2 : rowBytes;
          uLongf size = compressBound(length);
          packed.resize(size);
          compress2(packed.data(), &size, row.data(), length, 6);
          packed.resize(y == 20 ? size - 4 : size);
          Bytes made = Inflated(packed, rowBytes);
          for (size_t i = 3; predictor == 2 && i < rowBytes; ++i) made[i] = static_cast<uint8_t>(made[i] + made[i - 3]);
          std::copy(made.begin(), made.end(), want.begin() + y * rowBytes);
        }
        data.insert(data.end(), packed.begin(), packed.end());
        counts[y] = static_cast<uint32_t>(data.size()) - offsets[y];
      }
      offsets[11] = offsets[10];  // row 11 is row 10 again
      std::copy_n(want.begin() + 10 * rowBytes, rowBytes, want.begin() + 11 * rowBytes);
      std::vector<TEntry> e = Rgb(w, h, compression, 1);
      e.push_back({317, 3, {predictor}});
      Bytes file = MakeTiff(e, data, false, offsets, counts);
      // Row 0's strip runs off the end (uncompressed) or starts there, as
      // row 1's does; both are zero where the file has no bytes.
      const uint32_t end = static_cast<uint32_t>(file.size());
      const uint32_t offsetsAt = LoadLE32(file.data() + 8 + 2 + 12 * e.size() + 8);
      StoreLE32(file.data() + offsetsAt, compression == 1 ? end - 5 : end);
      StoreLE32(file.data() + offsetsAt + 4, end);
      std::fill_n(want.begin(), 2 * rowBytes, 0);
      if (compression == 1) std::copy_n(file.end() - 5, 5, want.begin());
      for (size_t y = 0; y < h; ++y)
        for (size_t x = 0; x < w; ++x) std::swap(want[y * rowBytes + 3 * x], want[y * rowBytes + 3 * x + 2]);
      TMemoryStream stream(file);
      TTIFFGraphic graphic;
      graphic.LoadStream(stream);
      Bytes got = BitmapBytes(graphic);
      for (size_t y = 0; y < h; ++y) {
        const auto at = got.begin() + static_cast<ptrdiff_t>(y * rowBytes);
        ASSERT_EQ(Bytes(at + rowBytes, at + static_cast<ptrdiff_t>(graphic.RowSize())), Bytes(3, 0)) << "padding";
        got.erase(at + rowBytes, at + static_cast<ptrdiff_t>(graphic.RowSize()));
      }
      EXPECT_EQ(got, want);
    }
}

// A JPEG strip of 8 rows given to a picture of 12 rows in strips of 8: the
// second strip finds 8 rows where 4 belong and fails the load.
Bytes JpegTiffFailingAtItsSecondStrip(Bytes& colours) {
  constexpr uint32_t w = 16, h = 8;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      for (uint32_t v : {x * 12, y * 20, 100u}) colours.push_back(static_cast<uint8_t>(v));
  const Bytes jpeg = test::EncodeJpeg(colours, w, h, 3, JCS_RGB, [](jpeg_compress_struct& c) {
    jpeg_set_quality(&c, 100, TRUE);
    for (int i = 0; i < c.num_components; ++i) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
  });
  std::vector<TEntry> e = Rgb(w, 12, 7, 8);
  e[4] = {262, 3, {6}};
  e.push_back({530, 3, {1, 1}});
  const auto size = static_cast<uint32_t>(jpeg.size());
  return MakeTiff(e, jpeg, false, {0, 0}, {size, size});
}

TEST(TIFFGraphic, RowsTheLoadDidNotReachAreWhiteWhetherWatchedOrNot) {
  for (bool watched : {false, true}) {
    Bytes colours;
    TMemoryStream stream(JpegTiffFailingAtItsSecondStrip(colours));
    TTIFFGraphic graphic;
    bool restWhite = true;
    // A handler may look at the picture while it loads: the rows still to
    // come are as a new picture's rows are.
    if (watched)
      graphic.OnProgress = [&](TObject*, TProgressStage stage, uint8_t, bool, const TRect& r, const std::string&) {
        if (stage != TProgressStage::psRunning) return;
        for (int32_t y = r.Top + 1; y < graphic.ImageHeight(); ++y)
          for (size_t i = 0; i < 48; ++i) restWhite = restWhite && graphic.ConstRowPointer(y)[i] == 0xFF;
      };
    EXPECT_THROW(graphic.LoadStream(stream), EGraphicCompression);
    EXPECT_TRUE(restWhite);
    ASSERT_EQ(graphic.ImageHeight(), 12);
    int worst = 0;
    for (int32_t y = 0; y < 8; ++y)
      for (size_t i = 0; i < 48; ++i)
        worst = std::max(worst, std::abs(graphic.ConstRowPointer(y)[i] - colours[size_t(y) * 48 + i / 3 * 3 + 2 - i % 3]));
    EXPECT_LE(worst, 3) << "watched " << watched;
    for (int32_t y = 8; y < 12; ++y)
      EXPECT_EQ(Bytes(graphic.ConstRowPointer(y), graphic.ConstRowPointer(y) + 48), Bytes(48, 0xFF))
          << "row " << y << " watched " << watched;
  }
}

TEST(TIFFGraphic, StripsSharingOneStretchAreReadBoundedByThePicture) {
  // 2^14 one-byte PackBits strips, each claiming the whole 128 KiB file:
  // reading each claim in full took 2^14 times the file.
  constexpr uint32_t strips = 1u << 14;
  std::vector<TEntry> e = Grey(1, strips);
  e[3] = {259, 3, {32773}};
  e.push_back({278, 3, {1}});
  Bytes file = MakeTiff(e, Bytes{});
  const size_t entry273 = 8 + 2 + 12 * e.size();
  const auto countsAt = static_cast<uint32_t>(file.size() + 4 * strips);
  StoreLE32(file.data() + entry273 + 4, strips);
  StoreLE32(file.data() + entry273 + 8, static_cast<uint32_t>(file.size()));
  StoreLE32(file.data() + entry273 + 12 + 4, strips);
  StoreLE32(file.data() + entry273 + 12 + 8, countsAt);
  file.resize(countsAt);  // the offsets: all 0
  for (uint32_t i = 0; i < strips; ++i) AppendLE32(file, countsAt + 4 * strips);
  TCountingStream stream(file);
  TTIFFGraphic graphic;
  graphic.LoadStream(stream);
  EXPECT_EQ(graphic.ImageHeight(), static_cast<int32_t>(strips));
  EXPECT_LT(stream.BytesRead, uint64_t{strips} * 16 * 1024);
}

TEST(TIFFGraphic, ProbesSaveAndEPSPreview) {
  const Bytes tiff = MakeTiff(Grey(2, 1), Bytes{0x40, 0x80});
  TMemoryStream stream(tiff);
  EXPECT_TRUE(TTIFFGraphic::ProbeStream(stream));
  EXPECT_EQ(stream.Position(), 0);
  EXPECT_FALSE(TEPSGraphic::ProbeStream(stream));
  TTIFFGraphic graphic;
  graphic.LoadStream(stream);
  TMemoryStream saved;
  graphic.SaveStream(saved);
  EXPECT_EQ(saved.Size(), 0);

  // The preview at offset 1000 keeps its own offsets.
  Bytes eps(1000, ' ');
  StoreLE32(eps.data(), 0xC6D3D0C5);
  StoreLE32(eps.data() + 20, 1000);
  StoreLE32(eps.data() + 24, static_cast<uint32_t>(tiff.size()));
  eps.insert(eps.end(), tiff.begin(), tiff.end());
  TMemoryStream epsStream(eps);
  EXPECT_TRUE(TEPSGraphic::ProbeStream(epsStream));
  TEPSGraphic preview;
  preview.LoadStream(epsStream);
  ASSERT_EQ(preview.ImageWidth(), 2);
  EXPECT_EQ(preview.RowPointer(0)[0], 0x40);
  EXPECT_EQ(preview.RowPointer(0)[1], 0x80);
}

}  // namespace
}  // namespace tolvane
