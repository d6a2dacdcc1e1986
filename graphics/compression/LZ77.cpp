// The deflate decoder over zlib.
#include <zlib.h>

#include <cstring>

#include "graphics/GraphicCompression.h"
#include "graphics/GraphicStrings.h"

namespace tolvane {

TOLVANE_DEFINE_CLASS(TLZ77Decoder, TDecoder)

struct TLZ77Decoder::TStreamState {
  z_stream Stream;
  TStreamState() { std::memset(&Stream, 0, sizeof Stream); }
};

TLZ77Decoder::TLZ77Decoder(int32_t flushMode, bool autoReset)
    : FlushMode(flushMode), AutoReset(autoReset), FState(std::make_unique<TStreamState>()) {}

uint32_t TLZ77Decoder::AvailableInput() const { return FState->Stream.avail_in; }
uint32_t TLZ77Decoder::AvailableOutput() const { return FState->Stream.avail_out; }

TLZ77Decoder::~TLZ77Decoder() {
  if (FStreamOpen) inflateEnd(&FState->Stream);
}

void TLZ77Decoder::BeginDecoding() {
  if (FStreamOpen) {
    inflateEnd(&FState->Stream);
    FStreamOpen = false;
  }
  if (inflateInit(&FState->Stream) < 0) RaiseCompressionError(GraphicStrings::SLZ77Error);
  FStreamOpen = true;
  FZLibResult = 0;
}

void TLZ77Decoder::Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
  FState->Stream.next_in = const_cast<Bytef*>(source);  // zlib never writes through next_in
  FState->Stream.avail_in = packedSize > 0 ? static_cast<uInt>(packedSize) : 0;
  // Without an open stream zlib itself answers Z_STREAM_ERROR.
  if (AutoReset) FZLibResult = inflateReset(&FState->Stream);
  if (FZLibResult != Z_OK) return;
  FState->Stream.next_out = dest;
  FState->Stream.avail_out = unpackedSize > 0 ? static_cast<uInt>(unpackedSize) : 0;
  FZLibResult = inflate(&FState->Stream, FlushMode);
  source = FState->Stream.next_in;
  dest = FState->Stream.next_out;
}

void TLZ77Decoder::EndDecoding() {
  if (!FStreamOpen) return;
  FStreamOpen = false;
  if (inflateEnd(&FState->Stream) < 0) RaiseCompressionError(GraphicStrings::SLZ77Error);
}

}  // namespace tolvane
