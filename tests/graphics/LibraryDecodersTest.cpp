// The deflate, JPEG-in-TIFF and Photo CD decoders on data made in the test:
// zlib and libjpeg encode, the Photo CD streams are assembled bit by bit.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <zlib.h>

#include "graphics/GraphicCompression.h"
#include "graphics/GraphicFormats.h"

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

// ---- JPEG in TIFF ------------------------------------------------------------------

// A libjpeg encoder for test strips: a gradient image of the given shape.
class TJpegWriter {
public:
  TJpegWriter(int components, J_COLOR_SPACE space, int h0, int v0) {
    Info.err = jpeg_std_error(&Err);
    jpeg_create_compress(&Info);
    Info.input_components = components;
    Info.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    Info.image_width = Info.image_height = 8;
    jpeg_set_defaults(&Info);
    jpeg_set_colorspace(&Info, space);
    Info.comp_info[0].h_samp_factor = h0;
    Info.comp_info[0].v_samp_factor = v0;
  }
  ~TJpegWriter() { jpeg_destroy_compress(&Info); }

  Bytes Tables() {
    Begin();
    jpeg_write_tables(&Info);
    return End();
  }
  // A strip with (allTables) or without its tables, of one colour or (null)
  // of a pattern.
  Bytes Strip(uint32_t width, uint32_t height, bool allTables, const uint8_t rgb[3]) {
    Info.image_width = width;
    Info.image_height = height;
    Begin();
    jpeg_start_compress(&Info, allTables ? TRUE : FALSE);
    const size_t components = static_cast<size_t>(Info.input_components);
    Bytes row(size_t{width} * components);
    while (Info.next_scanline < height) {
      for (size_t i = 0; i < row.size(); ++i)
        row[i] = rgb ? rgb[i % components] : static_cast<uint8_t>((i * 37 + Info.next_scanline * 11) ^ (i / 5));
      JSAMPROW r = row.data();
      jpeg_write_scanlines(&Info, &r, 1);
    }
    jpeg_finish_compress(&Info);
    return End();
  }

private:
  void Begin() { jpeg_mem_dest(&Info, &Buffer, &Size); }
  Bytes End() {
    Bytes out(Buffer, Buffer + Size);
    std::free(Buffer);
    Buffer = nullptr;
    Size = 0;
    return out;
  }

  jpeg_compress_struct Info{};
  jpeg_error_mgr Err{};
  unsigned char* Buffer = nullptr;
  unsigned long Size = 0;
};

const uint8_t Orange[3] = {230, 120, 40};

TImageProperties StripImage(uint32_t width, uint32_t height, uint32_t rowsPerStrip) {
  TImageProperties p;
  p.Width = width;
  p.Height = height;
  p.RowsPerStrip = {rowsPerStrip};
  p.SamplesPerPixel = 3;
  p.BitsPerSample = 8;
  p.BitsPerPixel = 24;
  p.PlanarConfiguration = 1;
  p.ColorScheme = ckYCbCr;
  p.YCbCrSubsampling = {2, 2};
  p.RowByteCount = width * 3;
  return p;
}

// Counts warnings for the life of the test.
class TWarningCounter {
public:
  TWarningCounter() {
    Previous = SetCompressionWarningHook([this](const std::string& text, const std::string& caption) {
      ++Count;
      Text = text;
      Caption = caption;
    });
  }
  ~TWarningCounter() { SetCompressionWarningHook(Previous); }
  int Count = 0;
  std::string Text, Caption;

private:
  TCompressionWarningHook Previous;
};

// Decodes one strip at the image's CurrentRow into rows of RowsPerStrip.
Bytes DecodeStrip(TTIFFJPEGDecoder& decoder, const TImageProperties& p, const Bytes& strip, size_t extra = 0) {
  Bytes out(p.RowsPerStrip[0] * p.RowByteCount + extra, 0xEE);
  const uint8_t* source = strip.data();
  uint8_t* dest = out.data();
  decoder.Decode(source, dest, static_cast<int32_t>(strip.size()), static_cast<int32_t>(out.size()));
  EXPECT_EQ(source, strip.data());
  EXPECT_EQ(dest, out.data());
  return out;
}

void ExpectColour(const Bytes& rows, size_t pixels, const uint8_t rgb[3]) {
  for (size_t i = 0; i < pixels; ++i)
    for (int c = 0; c < 3; ++c) ASSERT_NEAR(rows[3 * i + c], rgb[2 - c], 3) << "pixel " << i;
}

TEST(TIFFJPEGDecoderTest, AbbreviatedStripsUseTheTablesAndTheLastStripIsShort) {
  TImageProperties p = StripImage(16, 100, 16);
  TJpegWriter writer(3, JCS_YCbCr, 2, 2);
  p.JpegTables = writer.Tables();
  TTIFFJPEGDecoder decoder(p);
  decoder.BeginDecoding();
  EXPECT_EQ(decoder.HSampling, 2);
  for (p.CurrentRow = 0; p.CurrentRow < 96; p.CurrentRow += 16)
    ExpectColour(DecodeStrip(decoder, p, writer.Strip(16, 16, false, Orange)), 16 * 16, Orange);
  // The last strip holds 4 rows: a strip of 16 is refused, one of 4 decodes
  // and leaves the rest of the buffer alone.
  EXPECT_THROW(
      {
        try {
          DecodeStrip(decoder, p, writer.Strip(16, 16, false, Orange));
        } catch (const EGraphicCompression& e) {
          EXPECT_STREQ(e.what(), "Improper JPEG strip/tile size.");
          throw;
        }
      },
      EGraphicCompression);
  const Bytes last = DecodeStrip(decoder, p, writer.Strip(16, 4, false, Orange));
  ExpectColour(last, 16 * 4, Orange);
  EXPECT_EQ(last[16 * 4 * 3], 0xEE);
  decoder.EndDecoding();
}

TEST(TIFFJPEGDecoderTest, SelfContainedStripsAndRGBData) {
  TImageProperties p = StripImage(24, 8, 8);
  p.YCbCrSubsampling = {1, 1};
  TTIFFJPEGDecoder decoder(p);
  decoder.BeginDecoding();
  TJpegWriter ycc(3, JCS_YCbCr, 1, 1);
  ExpectColour(DecodeStrip(decoder, p, ycc.Strip(24, 8, true, Orange)), 24 * 8, Orange);
  // Data stored as RGB are delivered in the same blue-green-red order.
  p.ColorScheme = ckRGB;
  TJpegWriter rgb(3, JCS_RGB, 1, 1);
  ExpectColour(DecodeStrip(decoder, p, rgb.Strip(24, 8, true, Orange)), 24 * 8, Orange);
}

// Decoding the strip raises the exception class with the message.
template <class E>
void ExpectFailure(TTIFFJPEGDecoder& decoder, const TImageProperties& p, const Bytes& strip, const std::string& message,
                   size_t extra = 0) {
  try {
    DecodeStrip(decoder, p, strip, extra);
    ADD_FAILURE() << "no exception, expected " << message;
  } catch (const E& e) {
    EXPECT_EQ(std::string(e.what()).substr(0, message.size()), message);
  }
}

TEST(TIFFJPEGDecoderTest, StripsThatDoNotFitTheImageAreRefused) {
  TImageProperties p = StripImage(16, 16, 16);
  p.YCbCrSubsampling = {1, 1};
  TTIFFJPEGDecoder decoder(p);
  decoder.BeginDecoding();
  TJpegWriter subsampled(3, JCS_YCbCr, 2, 2), full(3, JCS_YCbCr, 1, 1), grey(1, JCS_GRAYSCALE, 1, 1);
  ExpectFailure<EGraphicCompression>(decoder, p, subsampled.Strip(16, 16, true, Orange),
                                     "Improper JPEG sampling factors.");
  ExpectFailure<EGraphicCompression>(decoder, p, grey.Strip(16, 16, true, Orange), "Improper JPEG component count.");
  ExpectFailure<EGraphicCompression>(decoder, p, full.Strip(16, 16, true, Orange),
                                     "Fractional JPEG scanline unsupported.", 5);
  p.BitsPerSample = 12;
  ExpectFailure<EGraphicCompression>(decoder, p, full.Strip(16, 16, true, Orange), "Improper JPEG data precision.");
  p.BitsPerSample = 8;
  // Damaged data and schemes without a conversion end inside libjpeg.
  ExpectFailure<EInvalidGraphic>(decoder, p, Bytes(40, 0x55), "JPEG error #");
  p.ColorScheme = ckCMYK;
  ExpectFailure<EInvalidGraphic>(decoder, p, full.Strip(16, 16, true, Orange), "JPEG error #");
  // The decoder is still usable after every failure.
  p.ColorScheme = ckYCbCr;
  ExpectColour(DecodeStrip(decoder, p, full.Strip(16, 16, true, Orange)), 16 * 16, Orange);
}

TEST(TIFFJPEGDecoderTest, TablesThatHoldAnImageAreBogus) {
  TImageProperties p = StripImage(16, 16, 16);
  TJpegWriter writer(3, JCS_YCbCr, 2, 2);
  p.JpegTables = writer.Strip(8, 8, true, Orange);
  TTIFFJPEGDecoder decoder(p);
  try {
    decoder.BeginDecoding();
    ADD_FAILURE() << "tables accepted";
  } catch (const EGraphicCompression& e) {
    EXPECT_STREQ(e.what(), "Bogus JPEG tables field.");
  }
}

TEST(TIFFJPEGDecoderTest, AStripThatEndsEarlyWarnsAndDecodesWhatItHas) {
  TWarningCounter warnings;
  TImageProperties p = StripImage(64, 64, 64);
  TJpegWriter writer(3, JCS_YCbCr, 2, 2);
  p.JpegTables = writer.Tables();
  Bytes strip = writer.Strip(64, 64, false, nullptr);
  TTIFFJPEGDecoder decoder(p);
  decoder.BeginDecoding();
  const Bytes whole = DecodeStrip(decoder, p, strip);
  EXPECT_EQ(warnings.Count, 0);
  strip.resize(strip.size() * 2 / 3);
  const Bytes cut = DecodeStrip(decoder, p, strip);
  EXPECT_GE(warnings.Count, 1);
  EXPECT_EQ(warnings.Text, "JPEG decompression error. Unexpected end of input.");
  EXPECT_EQ(warnings.Caption, "Warning");
  // The top rows were in the data.
  EXPECT_EQ(Bytes(cut.begin(), cut.begin() + 64 * 3 * 8), Bytes(whole.begin(), whole.begin() + 64 * 3 * 8));
  EXPECT_NE(cut, whole);
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

  void Table(const std::vector<TCode>& codes) {
    Byte(static_cast<uint8_t>(codes.size() - 1));
    for (const TCode& c : codes) {
      Byte(static_cast<uint8_t>(c.Length - 1));
      const uint16_t aligned = static_cast<uint16_t>(c.Bits << (16 - c.Length));
      Byte(static_cast<uint8_t>(aligned >> 8));
      Byte(static_cast<uint8_t>(aligned));
      Byte(static_cast<uint8_t>(c.Residual));
    }
  }
  // A sync marker for a row of a plane (0 luminance, 2 and 3 chroma).
  void Sync(uint32_t plane, uint32_t row) {
    Align();
    for (uint8_t b : {0x00, 0xFF, 0xFF, 0xFE}) Byte(b);
    Byte(static_cast<uint8_t>(plane << 6 | row >> 7));
    Byte(static_cast<uint8_t>((row & 0x7F) << 1));
  }
  void Code(const TCode& c) {
    for (int i = c.Length - 1; i >= 0; --i) Bit((c.Bits >> i) & 1);
  }
  Bytes Finish() {
    Align();
    Bytes out = Data;
    out.resize((out.size() / 2048 + 1) * 2048);
    return out;
  }

private:
  void Byte(uint8_t b) {
    for (int i = 7; i >= 0; --i) Bit((b >> i) & 1);
  }
  void Bit(int b) {
    if (Bits % 8 == 0) Data.push_back(0);
    if (b) Data.back() |= static_cast<uint8_t>(0x80 >> (Bits % 8));
    ++Bits;
  }
  void Align() {
    while (Bits % 8) Bit(0);
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
  TPcdStream s;
  s.Table({Plus1, Minus1, Plus5, Zero});  // one table for rows of up to 1536 samples
  s.Sync(0, 1);
  for (const auto& c : {Plus1, Minus1, Plus5, Zero}) s.Code(c);
  s.Sync(2, 2);  // chroma without a table: skipped
  s.Code(Plus5);
  s.Sync(0, 3);
  s.Code(Minus1);
  s.Sync(0, 4);  // the end row; what follows is not read
  s.Sync(0, 0);
  s.Code(Plus5);
  TPlanes planes(4, 4, 253);
  DecodePcd(s.Finish(), planes, 4, 4);
  EXPECT_EQ(Bytes(planes.Luma.begin() + 4, planes.Luma.begin() + 8), (Bytes{254, 252, 255, 253}));
  EXPECT_EQ(planes.Luma[12], 252);
  EXPECT_EQ(Bytes(planes.Luma.begin(), planes.Luma.begin() + 4), Bytes(4, 253));
  EXPECT_EQ(planes.Cb, Bytes(planes.Cb.size(), 253));
  // A sample of 0 lowered by 1 stays 0.
  TPcdStream low;
  low.Table({Minus1});
  low.Sync(0, 0);
  low.Code(Minus1);
  low.Sync(0, 1);
  TPlanes zero(2, 1, 0);
  DecodePcd(low.Finish(), zero, 2, 1);
  EXPECT_EQ(zero.Luma[0], 0);
}

TEST(PCDDecoderTest, WideRowsReadThreeTablesOneForEachPlane) {
  const uint32_t width = 1600, rows = 2;
  TPcdStream s;
  s.Table({Plus1});
  s.Table({Minus1});
  s.Table({Plus5});
  s.Sync(0, 1);
  s.Code(Plus1);
  s.Sync(2, 1);
  s.Code(Minus1);
  s.Sync(3, 0);
  s.Code(Plus5);
  s.Code(Plus5);
  s.Sync(0, rows);
  TPlanes planes(width, rows, 100);
  DecodePcd(s.Finish(), planes, width, rows);
  EXPECT_EQ(planes.Luma[width], 101);
  EXPECT_EQ(planes.Cb[0], 99);
  EXPECT_EQ(planes.Cr[0], 105);
  EXPECT_EQ(planes.Cr[1], 105);
  EXPECT_EQ(planes.Cr[2], 100);
}

TEST(PCDDecoderTest, BadCodesLongCodesAbortsAndShortStreams) {
  // An unknown code skips to the next row.
  TPcdStream skip;
  skip.Table({Plus1});
  skip.Sync(0, 0);
  skip.Code(Minus1);  // "100" is no code of this table
  skip.Code(Plus1);
  skip.Sync(0, 1);
  skip.Code(Plus1);
  skip.Sync(0, 2);
  TPlanes planes(2, 2, 10);
  DecodePcd(skip.Finish(), planes, 2, 2);
  EXPECT_EQ(planes.Luma, (Bytes{10, 10, 11, 10}));
  // A table entry longer than 16 bits ends the call with nothing decoded.
  Bytes longCode = {0x00, 16, 0x80, 0x00, 0x01};
  longCode.resize(2048);
  TPlanes untouched(2, 2, 10);
  DecodePcd(longCode, untouched, 2, 2);
  EXPECT_EQ(untouched.Luma, Bytes(4, 10));
  // Plane code 1 aborts the load.
  TPcdStream abort;
  abort.Table({Plus1});
  abort.Sync(1, 0);
  EXPECT_THROW(DecodePcd(abort.Finish(), planes, 2, 2), EAbort);
  // Data that end without an end row run into the stream's end.
  TPcdStream open;
  open.Table({Plus1});
  open.Sync(0, 0);
  EXPECT_THROW(DecodePcd(open.Finish(), planes, 2, 2), EReadError);
}

TEST(PCDDecoderTest, RowsAndCodesBeyondThePlanesAreDropped) {
  TPcdStream s;
  s.Table({Plus1});
  s.Sync(0, 9);  // past the two rows
  for (int i = 0; i < 20; ++i) s.Code(Plus1);
  s.Sync(3, 1);  // chroma with no table
  s.Sync(0, 1);  // more codes than the row has samples
  for (int i = 0; i < 20; ++i) s.Code(Plus1);
  s.Sync(0, 2);
  TPlanes planes(3, 2, 7);
  DecodePcd(s.Finish(), planes, 3, 2);
  EXPECT_EQ(planes.Luma, (Bytes{7, 7, 7, 8, 8, 8}));
}

}  // namespace
}  // namespace tolvane
