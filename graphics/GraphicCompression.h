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

#include <cstdint>

#include "picture/Classes.h"
#include "picture/SysUtils.h"

namespace tolvane {

// The error class of the decoders that call outside libraries.
TOLVANE_EXCEPTION(EGraphicCompression, Exception);
[[noreturn]] void RaiseCompressionError(const std::string& message);

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

}  // namespace tolvane
