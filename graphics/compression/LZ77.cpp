// The deflate decoder over zlib, with libdeflate for streams held whole.
#include <libdeflate.h>
#include <zlib.h>

#include <cstring>

#include "graphics/GraphicCompression.h"
#include "graphics/GraphicStrings.h"

namespace tolvane {

TOLVANE_DEFINE_CLASS(TLZ77Decoder, TDecoder)

namespace {

struct TDecompressorFree {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

}  // namespace

struct TLZ77Decoder::TStreamState {
  z_stream Stream;
  // Made on first use; each decoder has its own, as each thread has its own
  // decoders.
  std::unique_ptr<libdeflate_decompressor, TDecompressorFree> Whole;
  // Where a whole stream is inflated before it may reach the caller's
  // buffer, which keeps its bytes whenever zlib has to decode instead.
  std::vector<uint8_t> Scratch;
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

namespace {

struct TWholeStream {
  size_t Consumed = 0;  // input bytes up to the end of the stream's check value
  size_t Made = 0;
};

// libdeflate and zlib make the same bytes of every stream both accept.
// libdeflate refuses what it cannot finish (damaged or cut data, a stream
// that makes more than the room given), where zlib still makes the bytes up
// to the fault; those are left to zlib.
std::optional<TWholeStream> InflateWithLibdeflate(
    std::unique_ptr<libdeflate_decompressor, TDecompressorFree>& decompressor, const uint8_t* source,
    size_t packedSize, uint8_t* dest, size_t unpackedSize) {
  if (!decompressor) decompressor.reset(libdeflate_alloc_decompressor());
  if (!decompressor || !source || !dest) return std::nullopt;
  TWholeStream whole;
  if (libdeflate_zlib_decompress_ex(decompressor.get(), source, packedSize, dest, unpackedSize, &whole.Consumed,
                                    &whole.Made) != LIBDEFLATE_SUCCESS)
    return std::nullopt;
  return whole;
}

}  // namespace

std::optional<size_t> TLZ77Decoder::InflateWhole(const uint8_t* source, size_t packedSize, uint8_t* dest,
                                                 size_t unpackedSize) {
  const auto whole = InflateWithLibdeflate(FState->Whole, source, packedSize, dest, unpackedSize);
  if (!whole) return std::nullopt;
  return whole->Made;
}

// One inflate call over a whole stream ends at its end with everything made
// up to there: that is the state a clean libdeflate answer leaves behind.
bool TLZ77Decoder::DecodeWhole(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
  // Without an open stream zlib answers Z_STREAM_ERROR and makes nothing.
  if (!FStreamOpen || packedSize <= 0) return false;
  const auto packed = static_cast<size_t>(packedSize);
  const size_t unpacked = unpackedSize > 0 ? static_cast<size_t>(unpackedSize) : 0;
  TStreamState& s = *FState;
  if (s.Scratch.size() < unpacked) s.Scratch.resize(unpacked);
  // zlib refuses an output buffer without an address, even an empty one.
  const auto whole = dest ? InflateWithLibdeflate(s.Whole, source, packed, s.Scratch.data(), unpacked) : std::nullopt;
  if (!whole) return false;
  if (whole->Made > 0) std::memcpy(dest, s.Scratch.data(), whole->Made);
  FZLibResult = Z_STREAM_END;
  s.Stream.next_in = const_cast<Bytef*>(source + whole->Consumed);  // zlib never writes through next_in
  s.Stream.avail_in = static_cast<uInt>(packed - whole->Consumed);
  s.Stream.next_out = dest + whole->Made;
  s.Stream.avail_out = static_cast<uInt>(unpacked - whole->Made);
  source += whole->Consumed;
  dest += whole->Made;
  return true;
}

void TLZ77Decoder::Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
  if (AutoReset && DecodeWhole(source, dest, packedSize, unpackedSize)) return;
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
