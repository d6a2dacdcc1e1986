// The deflate decoder over zlib.
#include <cstring>

#include "graphics/GraphicCompression.h"
#include "graphics/GraphicStrings.h"

namespace tolvane {

TOLVANE_DEFINE_CLASS(TLZ77Decoder, TDecoder)

TLZ77Decoder::TLZ77Decoder(int32_t flushMode, bool autoReset) : FlushMode(flushMode), AutoReset(autoReset) {
  std::memset(&FStream, 0, sizeof FStream);
}

TLZ77Decoder::~TLZ77Decoder() {
  if (FStreamOpen) inflateEnd(&FStream);
}

void TLZ77Decoder::BeginDecoding() {
  if (FStreamOpen) {
    inflateEnd(&FStream);
    FStreamOpen = false;
  }
  if (inflateInit(&FStream) < 0) RaiseCompressionError(GraphicStrings::SLZ77Error);
  FStreamOpen = true;
  FZLibResult = 0;
}

void TLZ77Decoder::Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
  FStream.next_in = const_cast<Bytef*>(source);  // zlib never writes through next_in
  FStream.avail_in = packedSize > 0 ? static_cast<uInt>(packedSize) : 0;
  // Without an open stream zlib itself answers Z_STREAM_ERROR.
  if (AutoReset) FZLibResult = inflateReset(&FStream);
  if (FZLibResult != Z_OK) return;
  FStream.next_out = dest;
  FStream.avail_out = unpackedSize > 0 ? static_cast<uInt>(unpackedSize) : 0;
  FZLibResult = inflate(&FStream, FlushMode);
  source = FStream.next_in;
  dest = FStream.next_out;
}

void TLZ77Decoder::EndDecoding() {
  if (!FStreamOpen) return;
  FStreamOpen = false;
  if (inflateEnd(&FStream) < 0) RaiseCompressionError(GraphicStrings::SLZ77Error);
}

}  // namespace tolvane
