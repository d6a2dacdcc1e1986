// The stream decompressors of the image-format library. Every decoder is a
// TDecoder, so a reader can hold whichever one its file's compression needs
// and drive it the same way: BeginDecoding once, Decode once per strip, row,
// channel or image, EndDecoding once.
//
// A Decode call decodes one buffer that the reader has already read into
// memory. Every decoder treats that buffer as hostile: it never reads more
// than packedSize bytes from source nor writes more than unpackedSize bytes
// (Targa: pixels) to dest, whatever the codes say. Malformed data is decoded
// as far as its codes go; output that the data does not reach is left as it
// was, so readers clear or pre-fill their buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "picture/Classes.h"
#include "picture/SysUtils.h"

namespace tolvane {

// The error class of the decoders that call outside libraries.
TOLVANE_EXCEPTION(EGraphicCompression, Exception);
[[noreturn]] void RaiseCompressionError(const std::string& message);

struct TImageProperties;

// Shows a decoder's warning to the user: a message text and a box caption.
// The JPEG-in-TIFF decoder warns when a strip's data run out. ravelk shows
// a message box; the default writes "caption: text" to standard error. A
// hook must not throw (it is called from inside libjpeg); one that does has
// its exception dropped.
using TCompressionWarningHook = std::function<void(const std::string& text, const std::string& caption)>;
// Installs a hook (an empty one restores the default) and returns the one
// it replaces. Set it while nothing decodes (at start-up).
TCompressionWarningHook SetCompressionWarningHook(TCompressionWarningHook hook);
// Passes a warning to the hook in force, or to the capture of the calling
// thread when it has one.
void ShowCompressionWarning(const std::string& text, const std::string& caption) noexcept;

// While it lives, warnings raised on the thread that made it are kept in
// Warnings instead of reaching the hook: a worker thread must not open a
// message box, so the thread that owns the window shows them afterwards.
// Captures nest; the innermost one takes the warnings.
class TCompressionWarningCapture {
public:
  TCompressionWarningCapture();
  ~TCompressionWarningCapture();
  TCompressionWarningCapture(const TCompressionWarningCapture&) = delete;
  TCompressionWarningCapture& operator=(const TCompressionWarningCapture&) = delete;

  std::vector<std::pair<std::string, std::string>> Warnings;  // text, caption

private:
  TCompressionWarningCapture* FOuter;
};

class TDecoder : public TObject {
  TOLVANE_CLASS(TDecoder)
public:
  // Decodes up to packedSize bytes at source into the unpackedSize bytes at
  // dest. Decoders that say so leave source just behind the data they
  // consumed; the others leave both pointers unchanged. Negative sizes count
  // as 0.
  virtual void Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) = 0;
  // Called once after the last Decode.
  virtual void EndDecoding() {}
  // Called once before the first Decode.
  virtual void BeginDecoding() {}
  // Only the Targa decoder encodes; the others store nothing.
  virtual void Encode(const uint8_t* source, uint8_t* dest, uint32_t count, uint32_t& bytesStored) = 0;
};

// Truevision run-length packets of whole pixels. unpackedSize counts pixels;
// source is left behind the last packet read, so a reader that decodes row
// by row learns how many packed bytes the row used. A packet that runs past
// the output is cut, but its input is still consumed.
class TTargaRLEDecoder : public TDecoder {
  TOLVANE_CLASS(TTargaRLEDecoder)
public:
  // colorDepth: 8, 15, 16, 24 or 32; any other depth decodes nothing.
  explicit TTargaRLEDecoder(int32_t colorDepth) : ColorDepth(colorDepth) {}
  void Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
  // Encodes count pixels into Targa packets (at most 128 pixels each); dest
  // must hold MaxEncodedSize(count) bytes. Packets never reach past count, so
  // a writer that encodes row by row gets packets that never cross rows.
  void Encode(const uint8_t* source, uint8_t* dest, uint32_t count, uint32_t& bytesStored) override;
  // The largest output Encode can produce for count pixels.
  size_t MaxEncodedSize(uint32_t count) const;

  const int32_t ColorDepth;
};

// PackBits (TIFF, Photoshop).
class TPackbitsRLEDecoder : public TDecoder {
  TOLVANE_CLASS(TPackbitsRLEDecoder)
public:
  void Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
  void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }
};

// ZSoft Paintbrush run bytes.
class TPCXRLEDecoder : public TDecoder {
  TOLVANE_CLASS(TPCXRLEDecoder)
public:
  void Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
  void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }
};

// SGI run-length rows of 8- or 16-bit samples; 16-bit samples stay in the
// file's big-endian order. A count of 0 ends the row.
class TSGIRLEDecoder : public TDecoder {
  TOLVANE_CLASS(TSGIRLEDecoder)
public:
  // sampleSize: 8 or 16 (anything but 16 means 8).
  explicit TSGIRLEDecoder(uint8_t sampleSize) : SampleSize(sampleSize) {}
  void Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
  void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }

  const uint8_t SampleSize;
};

// Dr. Halo rows: a stored length word, codes, and a 0 code that ends the row.
// source is left behind the terminating 0 (or behind the last byte used when
// the data end first), so consecutive rows decode back to back. Output past
// unpackedSize is dropped while the codes are still read to the row's end.
class TCUTRLEDecoder : public TDecoder {
  TOLVANE_CLASS(TCUTRLEDecoder)
public:
  void Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
  void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }
};

// Paint Shop Pro run-length channels.
class TPSPRLEDecoder : public TDecoder {
  TOLVANE_CLASS(TPSPRLEDecoder)
public:
  void Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
  void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }
};

// Alias/Wavefront run-length channels of one row.
class TRLADecoder : public TDecoder {
  TOLVANE_CLASS(TRLADecoder)
public:
  void Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
  void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }
};

// TIFF LZW: codes most significant bit first, the code width growing one
// code early; the end code stops decoding.
class TTIFFLZWDecoder : public TDecoder {
  TOLVANE_CLASS(TTIFFLZWDecoder)
public:
  void Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
  void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }
};

// GIF LZW: codes least significant bit first; an end code is skipped and
// decoding goes on while data remain.
class TGIFLZWDecoder : public TDecoder {
  TOLVANE_CLASS(TGIFLZWDecoder)
public:
  // initialCodeSize: the image's minimum code size; a size above 11, whose
  // codes could not fit the 4096-entry table, decodes nothing.
  explicit TGIFLZWDecoder(uint8_t initialCodeSize) : InitialCodeSize(initialCodeSize) {}
  void Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
  void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }

  const uint8_t InitialCodeSize;
};

// ThunderScan 4-bit grey, two pixels per byte with the first in the high
// nibble. Rows are (rowWidth + 1) / 2 bytes; each row starts afresh, and a
// last row that unpackedSize cuts is decoded as far as it fits.
class TThunderDecoder : public TDecoder {
  TOLVANE_CLASS(TThunderDecoder)
public:
  explicit TThunderDecoder(uint32_t rowWidth) : RowWidth(rowWidth) {}
  void Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
  void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }

  const uint32_t RowWidth;
};

// The one-dimensional run-length codes of group 3 facsimile: the base holds
// the two code trees, the bit reader and the row writer. Output rows are
// (rowWidth + 7) / 8 bytes, black pixels 1 bits, the first pixel in the most
// significant bit. Every row starts at its own row boundary: a row that ends
// early (end of line, an invalid code, the end of the data) keeps its missing
// pixels white, and a run longer than the rest of its row is cut at the row's
// end. The packed data are never changed, also when their bits are read
// least significant first. No error is raised: damaged data give damaged rows.
class TCCITTDecoder : public TDecoder {
  TOLVANE_CLASS(TCCITTDecoder)
public:
  // One node of a code tree: the states reached by a 0 and a 1 bit (0: none,
  // the root is state 0) and, in leaves, the run (0..63 terminating codes,
  // 64..2560 make-up codes, RunEOL, RunInvalid).
  struct CodeState {
    int32_t NextState0 = 0;
    int32_t NextState1 = 0;
    int32_t RunLength = 0;
  };
  using TStateArray = std::vector<CodeState>;
  static constexpr int32_t RunEOL = -1;
  static constexpr int32_t RunInvalid = -2;

  // faxOptions: the group 3 options word (stored only); swapBits: the packed
  // bytes hold their first bit in the least significant position;
  // wordAligned: packed rows start on 16-bit boundaries (modified Huffman).
  TCCITTDecoder(uint32_t faxOptions, bool swapBits, bool wordAligned, uint32_t rowWidth);
  void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }

  const TStateArray& WhiteStates() const { return FWhiteStates; }
  const TStateArray& BlackStates() const { return FBlackStates; }

  const uint32_t FaxOptions;
  const bool SwapBits;
  const bool WordAligned;
  const uint32_t RowWidth;

protected:
  // Sets up the bit reader and the row writer for one Decode call and clears
  // the output; false when there is nothing to decode.
  bool StartDecoding(const uint8_t* source, int32_t packedSize, uint8_t* dest, int32_t unpackedSize);
  // The next run of the colour: make-up codes and the terminating code after
  // them summed, RunEOL or RunInvalid (whatever make-up codes came first), or
  // the sum so far when the data end inside a code.
  int32_t FindWhiteCode() { return FindCode(FWhiteStates); }
  int32_t FindBlackCode() { return FindCode(FBlackStates); }
  int32_t FindRun() { return IsWhite ? FindWhiteCode() : FindBlackCode(); }
  bool InputExhausted() const { return FBitsLeft == 0 && FSourceLeft == 0; }
  // Consumes and returns the next bit (0 once the data are exhausted).
  bool NextBit();
  // Writes a run of the current colour into the current row; true when the
  // row is complete.
  bool FillRun(uint32_t run);
  // Moves the writer to the start of the next row; false when the output
  // holds no further row.
  bool NextRow();
  bool OutputFull() const { return FRowStart >= FDestSize; }
  // Drops the unread bits of the current byte, and with WordAligned the
  // following byte when that byte lies at an odd offset.
  void AlignInput();

  bool IsWhite = true;

private:
  void BuildCodeTrees();
  static void AddCode(TStateArray& tree, uint32_t code, uint32_t length, int32_t run);
  int32_t FindCode(const TStateArray& tree);
  void LoadByte();

  TStateArray FWhiteStates, FBlackStates;
  // Bit reader.
  const uint8_t* FSource = nullptr;  // next byte to load
  size_t FSourceLeft = 0;            // bytes not yet loaded
  size_t FSourceSize = 0;
  uint32_t FCurrentByte = 0;
  uint32_t FBitsLeft = 0;            // bits of the current byte not yet read
  // Row writer.
  uint8_t* FDest = nullptr;
  size_t FDestSize = 0;
  size_t FRowBytes = 0;
  size_t FRowStart = 0;              // offset of the current row
  uint32_t FColumn = 0;              // pixels of the current row written
};

// Group 3 rows with end-of-line codes (TIFF compression 3, one-dimensional).
// Each row is found by its end-of-line code; after an invalid code the rest
// of the row stays white and decoding picks up at the next end of line.
class TCCITTFax3Decoder : public TCCITTDecoder {
  TOLVANE_CLASS(TCCITTFax3Decoder)
public:
  TCCITTFax3Decoder(uint32_t faxOptions, bool swapBits, bool wordAligned, uint32_t rowWidth)
      : TCCITTDecoder(faxOptions, swapBits, wordAligned, rowWidth) {}
  void Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;

private:
  void SynchronizeOnEOL(uint32_t eolCount);
};

// Modified Huffman rows without end-of-line codes (TIFF compression 2, and
// 32771 with rows aligned to 16-bit words): each row's codes begin on a byte
// (or word) boundary.
class TCCITTMHDecoder : public TCCITTDecoder {
  TOLVANE_CLASS(TCCITTMHDecoder)
public:
  TCCITTMHDecoder(uint32_t faxOptions, bool swapBits, bool wordAligned, uint32_t rowWidth)
      : TCCITTDecoder(faxOptions, swapBits, wordAligned, rowWidth) {}
  void Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
};

// Deflate data (TIFF, PNG, Paint Shop Pro) through zlib. Decode inflates
// from source into dest and advances both past what was consumed and
// produced; it never raises, and its caller judges ZLibResult. Without
// automatic reset the decoder keeps one zlib stream across calls, and once
// zlib has reported the stream's end (1) or an error (negative) every later
// call does nothing. With automatic reset every call holds a whole stream,
// which libdeflate inflates at once when it can tell that zlib would make
// the same bytes of it (see InflateWhole); callers see zlib's answer either
// way.
class TLZ77Decoder : public TDecoder {
  TOLVANE_CLASS(TLZ77Decoder)
public:
  // flushMode: the flush argument of every inflate call (zlib's
  // Z_PARTIAL_FLUSH, Z_FINISH, ... as a plain int, so that zlib stays private
  // to the decoder's source); autoReset: start a new zlib stream on every
  // Decode.
  TLZ77Decoder(int32_t flushMode, bool autoReset);
  ~TLZ77Decoder() override;

  // A zlib stream with its 2-byte header; a zlib failure raises
  // EGraphicCompression "LZ77 decompression error.".
  void BeginDecoding() override;
  void Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
  // Releases the zlib stream; a zlib failure raises "LZ77 decompression error.".
  void EndDecoding() override;
  void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }

  // Inflates one whole zlib stream at once through libdeflate, for callers
  // that hold all of it: when the data begin with a complete, undamaged
  // stream that makes at most unpackedSize bytes, the number of bytes made,
  // which are the bytes zlib makes of it. Otherwise nothing, and dest's bytes
  // are undefined: zlib must then decode the data for its partial output and
  // its result. Leaves the zlib stream alone.
  std::optional<size_t> InflateWhole(const uint8_t* source, size_t packedSize, uint8_t* dest, size_t unpackedSize);

  // Input bytes not consumed and output space not filled by the last call.
  uint32_t AvailableInput() const;
  uint32_t AvailableOutput() const;
  // The result of the last inflateReset or inflate (0 before the first).
  int32_t ZLibResult() const { return FZLibResult; }

  const int32_t FlushMode;
  const bool AutoReset;

private:
  bool DecodeWhole(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize);

  struct TStreamState;  // zlib's stream and libdeflate's, known only to the decoder's source
  std::unique_ptr<TStreamState> FState;
  int32_t FZLibResult = 0;
  bool FStreamOpen = false;
};

// The JPEG strips of a TIFF image through libjpeg. One Decode per strip:
// source holds the strip's packedSize bytes, dest receives unpackedSize
// bytes of rows RowStride bytes apart in the strip's own colour space: one
// byte a pixel for grey, four (C, M, Y, K) for CMYK, three in the order
// blue, green, red for RGB and YCbCr; neither pointer moves. The header of every strip is
// checked against the image properties (EGraphicCompression with the
// reason); errors inside libjpeg raise EInvalidGraphic "JPEG error #%d".
// A strip that ends early passes "JPEG decompression error. Unexpected end
// of input." to the warning hook, once per missing refill, and decodes as far
// as the data go.
class TTIFFJPEGDecoder : public TDecoder {
  TOLVANE_CLASS(TTIFFJPEGDecoder)
public:
  // The properties (Width, Height, CurrentRow, RowsPerStrip, tiles,
  // SamplesPerPixel, BitsPerSample, PlanarConfiguration, YCbCrSubsampling,
  // JpegTables, ColorScheme, RowByteCount) are read, never written, and must
  // outlive the decoder.
  explicit TTIFFJPEGDecoder(const TImageProperties& properties);
  ~TTIFFJPEGDecoder() override;

  // Creates the decompressor and loads the image's JPEG tables, if any:
  // a tables field that holds an image raises "Bogus JPEG tables field.".
  void BeginDecoding() override;
  void Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
  // Decode into rows that lie step bytes apart (a bitmap's, bottom-up:
  // step negative), RowStride bytes each, from first on: at most rows rows;
  // returns the rows the strip delivered.
  size_t DecodeRows(const uint8_t* source, int32_t packedSize, uint8_t* first, ptrdiff_t step, size_t rows);
  // Destroys the decompressor (also done by the destructor).
  void EndDecoding() override;
  void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }

  // The sampling factors expected of the first component.
  uint16_t HSampling = 1;
  uint16_t VSampling = 1;
  // Bytes from one output row to the next (the image's RowByteCount; a
  // tile's row for tiled images).
  uint32_t RowStride = 0;

  struct TState;

private:
  size_t DecodeStrip(const uint8_t* source, int32_t packedSize, uint8_t* first, ptrdiff_t step, size_t count,
                     bool inBytes);
  void CheckHeader();
  void SetColorSpaces();
  size_t ReadRows(uint8_t* first, ptrdiff_t step, size_t rows);

  const TImageProperties& FProperties;
  std::unique_ptr<TState> FState;
};

// The Huffman-coded residuals of the high Photo CD resolutions, read from a
// stream in 2048-byte sectors and added to planes that already hold the
// lower resolution doubled. Decode has a meaning of its own: source points
// at an array of three plane pointers (luminance, first chroma, second
// chroma: uint8_t* const[3]); dest is not used; packedSize is the width of a
// luminance row in samples and the row stride of all three planes;
// unpackedSize the number of luminance rows (1024 or 2048). The luminance
// plane holds unpackedSize rows, each chroma plane (unpackedSize + 1) / 2;
// no residual is written outside its row. A short stream raises EReadError;
// plane code 1 raises EAbort.
class TPCDDecoder : public TDecoder {
  TOLVANE_CLASS(TPCDDecoder)
public:
  // Reads from the stream's position; the stream is not owned.
  explicit TPCDDecoder(TStream& stream) : FStream(stream) {}
  void Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
  void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }
  // The same as Decode with the planes named.
  void DecodePlanes(uint8_t* luminance, uint8_t* chroma1, uint8_t* chroma2, uint32_t rowWidth, uint32_t rows);

  // One code of a residual table.
  struct PCDTableEntry {
    uint8_t Length = 0;     // bits in the code, 1 to 16
    uint32_t Sequence = 0;  // the code, left-aligned in 32 bits
    uint8_t Key = 0;        // the residual, a signed byte
    uint32_t Mask = 0;      // ones in the top Length bits
  };

private:
  TStream& FStream;
};

}  // namespace tolvane
