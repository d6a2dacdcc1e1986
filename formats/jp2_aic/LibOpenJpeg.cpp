#include "LibOpenJpeg.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "picture/ByteOrder.h"

namespace tolvane {

namespace {

constexpr std::array<uint8_t, 12> kJp2Signature = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50,
                                                   0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A};
constexpr std::array<uint8_t, 4> kCodestreamStart = {0xFF, 0x4F, 0xFF, 0x51};

constexpr OPJ_SIZE_T kStreamError = static_cast<OPJ_SIZE_T>(-1);

TOpjStream& Self(void* self) { return *static_cast<TOpjStream*>(self); }

}  // namespace

TOpjContent OpjContentOf(const uint8_t* header, size_t size) {
  if (size >= kJp2Signature.size() && std::memcmp(header, kJp2Signature.data(), kJp2Signature.size()) == 0)
    return ocJP2;
  if (size >= kCodestreamStart.size() && std::memcmp(header, kCodestreamStart.data(), kCodestreamStart.size()) == 0)
    return ocCodestream;
  return ocUnknown;
}

// --------------------------------------------------------------- JP2 boxes

namespace {

constexpr uint32_t BoxType(const char (&name)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(name[0])) << 24 |
         static_cast<uint32_t>(static_cast<uint8_t>(name[1])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(name[2])) << 8 | static_cast<uint8_t>(name[3]);
}

struct TBox {
  uint32_t Type = 0;
  int64_t Body = 0;  // stream position of the box's contents
  int64_t End = 0;   // stream position after the box
};

// The box at the stream's position, ending at or before `limit`; false when
// none fits.
bool ReadBox(TStream& stream, int64_t limit, TBox& box) {
  const int64_t start = stream.Position();
  if (limit - start < 8) return false;
  uint8_t header[16];
  stream.ReadExact(header, 8);
  uint64_t length = LoadBE32(header);
  box.Type = LoadBE32(header + 4);
  int64_t headerSize = 8;
  if (length == 1) {
    if (limit - start < 16) return false;
    stream.ReadExact(header + 8, 8);
    length = uint64_t{LoadBE32(header + 8)} << 32 | LoadBE32(header + 12);
    headerSize = 16;
  } else if (length == 0) {
    length = static_cast<uint64_t>(limit - start);  // up to the end
  }
  if (length < static_cast<uint64_t>(headerSize) || length > static_cast<uint64_t>(limit - start)) return false;
  box.Body = start + headerSize;
  box.End = start + static_cast<int64_t>(length);
  return true;
}

uint32_t PaletteColumnsOf(TStream& stream, int64_t end) {
  // A bound on the boxes visited, so that a file of empty boxes costs little.
  constexpr int kMaxBoxes = 256;
  TBox box;
  for (int top = 0; top < kMaxBoxes && ReadBox(stream, end, box); ++top) {
    if (box.Type == BoxType("jp2c")) return 0;
    if (box.Type == BoxType("jp2h")) {
      TBox inner;
      stream.SetPosition(box.Body);
      for (int sub = 0; sub < kMaxBoxes && ReadBox(stream, box.End, inner); ++sub) {
        if (inner.Type == BoxType("pclr")) {
          if (inner.End - inner.Body < 3) return 0;
          uint8_t head[3];
          stream.ReadExact(head, 3);
          return head[2];
        }
        stream.SetPosition(inner.End);
      }
      return 0;
    }
    stream.SetPosition(box.End);
  }
  return 0;
}

}  // namespace

uint32_t Jp2PaletteColumns(TStream& stream) {
  const int64_t start = stream.Position();
  uint32_t columns = 0;
  try {
    columns = PaletteColumnsOf(stream, start + stream.Remaining());
  } catch (const EReadError&) {
    columns = 0;
  }
  stream.SetPosition(start);
  return columns;
}

// ------------------------------------------------------------------ stream

TOpjStream::TOpjStream(TStream& stream, bool input) : FStream(stream), FInput(input) {
  FBase = stream.Position();
  if (input) FLength = stream.Remaining();
  FHandle = opj_stream_create(BufferSize, input ? OPJ_STREAM_READ : OPJ_STREAM_WRITE);
  if (!FHandle) return;
  opj_stream_set_user_data(FHandle, this, nullptr);
  if (input) {
    opj_stream_set_user_data_length(FHandle, static_cast<OPJ_UINT64>(FLength));
    opj_stream_set_read_function(FHandle, &ReadProc);
  } else {
    opj_stream_set_write_function(FHandle, &WriteProc);
  }
  opj_stream_set_skip_function(FHandle, &SkipProc);
  opj_stream_set_seek_function(FHandle, &SeekProc);
}

TOpjStream::~TOpjStream() {
  if (FHandle) opj_stream_destroy(FHandle);
}

void TOpjStream::LimitLength(int64_t length) {
  if (!FInput || !FHandle || length >= FLength) return;
  FLength = std::max<int64_t>(length, 0);
  opj_stream_set_user_data_length(FHandle, static_cast<OPJ_UINT64>(FLength));
}

int64_t TOpjStream::Consumed() {
  try {
    return FStream.Position() - FBase;
  } catch (...) {
    FFailed = true;
    return 0;
  }
}

OPJ_SIZE_T TOpjStream::ReadProc(void* buffer, OPJ_SIZE_T count, void* self) {
  TOpjStream& s = Self(self);
  if (s.FFailed) return kStreamError;
  try {
    const int64_t left = s.FBase + s.FLength - s.FStream.Position();
    if (left <= 0) return kStreamError;
    const size_t got = s.FStream.Read(buffer, std::min<uint64_t>(count, static_cast<uint64_t>(left)));
    // The library takes "nothing read" as an error result, not as 0.
    return got == 0 ? kStreamError : got;
  } catch (...) {
    s.FFailed = true;
    return kStreamError;
  }
}

OPJ_SIZE_T TOpjStream::WriteProc(void* buffer, OPJ_SIZE_T count, void* self) {
  TOpjStream& s = Self(self);
  if (s.FFailed) return kStreamError;
  try {
    s.FStream.WriteExact(buffer, count);
    return count;
  } catch (...) {
    s.FFailed = true;
    return kStreamError;
  }
}

OPJ_OFF_T TOpjStream::SkipProc(OPJ_OFF_T count, void* self) {
  TOpjStream& s = Self(self);
  if (s.FFailed) return -1;
  try {
    const int64_t from = s.FStream.Position();
    int64_t to = from + count;
    if (to < s.FBase) return -1;
    // A reader never moves past the data; a writer may leave a gap that it
    // fills later (the JP2 writer reserves its code-stream box header so).
    if (s.FInput && to > s.FBase + s.FLength) to = s.FBase + s.FLength;
    const int64_t reached = s.FStream.Seek(to, TSeekOrigin::soBeginning);
    if (reached != to) return -1;
    return to == from && count > 0 ? -1 : static_cast<OPJ_OFF_T>(to - from);
  } catch (...) {
    s.FFailed = true;
    return -1;
  }
}

OPJ_BOOL TOpjStream::SeekProc(OPJ_OFF_T offset, void* self) {
  TOpjStream& s = Self(self);
  if (s.FFailed || offset < 0) return OPJ_FALSE;
  if (s.FInput && offset > s.FLength) return OPJ_FALSE;
  try {
    const int64_t to = s.FBase + offset;
    return s.FStream.Seek(to, TSeekOrigin::soBeginning) == to ? OPJ_TRUE : OPJ_FALSE;
  } catch (...) {
    s.FFailed = true;
    return OPJ_FALSE;
  }
}

// ---------------------------------------------------------------- messages

void TOpjMessages::Install(opj_codec_t* codec) {
  opj_set_error_handler(codec, &OnError, this);
  opj_set_warning_handler(codec, &OnQuiet, this);
  opj_set_info_handler(codec, &OnQuiet, this);
}

void TOpjMessages::OnError(const char* message, void* self) {
  try {
    static_cast<TOpjMessages*>(self)->FLastError = message ? message : "";
  } catch (...) {
    // Out of memory while keeping a message: the failure is reported anyway.
  }
}

// ----------------------------------------------------------------- decoder

TOpjDecoder::TOpjDecoder(TStream& stream) {
  const int64_t start = stream.Position();
  std::array<uint8_t, kJp2Signature.size()> header{};
  const size_t got = stream.Read(header.data(), header.size());
  stream.SetPosition(start);
  FContent = OpjContentOf(header.data(), got);
  if (FContent == ocUnknown) return;
  if (FContent == ocJP2) FPaletteColumns = Jp2PaletteColumns(stream);
  FStream = std::make_unique<TOpjStream>(stream, true);
}

uint32_t TOpjDecoder::MaxComponents() const {
  return (FImage ? FImage->numcomps : 0) + FPaletteColumns;
}

bool TOpjDecoder::ReadHeader() {
  if (FContent == ocUnknown || !FStream->Handle()) return false;
  FCodec.reset(opj_create_decompress(FContent == ocJP2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
  if (!FCodec) return false;
  FMessages.Install(FCodec.get());
  opj_dparameters_t parameters;
  opj_set_default_decoder_parameters(&parameters);
  if (!opj_setup_decoder(FCodec.get(), &parameters)) return false;
  if (!opj_decoder_set_strict_mode(FCodec.get(), OPJ_TRUE)) return false;
  opj_image_t* image = nullptr;
  const bool read = opj_read_header(FStream->Handle(), FCodec.get(), &image) != OPJ_FALSE;
  FImage.reset(image);
  return read && FImage && !FStream->Failed();
}

uint64_t TOpjDecoder::TileBufferPixels() const {
  if (!FCodec || !FImage) return 0;
  opj_codestream_info_v2_t* info = opj_get_cstr_info(FCodec.get());
  if (!info) return 0;
  uint64_t pixels = 0;
  if (uint64_t{info->tw} * info->th > 1) {
    const uint64_t width = std::min<uint64_t>(info->tdx, FImage->x1 - FImage->x0);
    pixels = width * std::min<uint64_t>(info->tdy, FImage->y1 - FImage->y0);
  }
  opj_destroy_cstr_info(&info);
  return pixels;
}

uint64_t TOpjDecoder::CodedBytes(uint64_t dataLimit) {
  return std::min(dataLimit, static_cast<uint64_t>(std::max<int64_t>(FStream->Left(), 0)));
}

bool TOpjDecoder::Decode(uint64_t dataLimit) {
  if (!FCodec || !FImage) return false;
  const uint64_t limit = static_cast<uint64_t>(FStream->Consumed()) + dataLimit;
  if (limit < static_cast<uint64_t>(INT64_MAX)) FStream->LimitLength(static_cast<int64_t>(limit));
  if (!opj_decode(FCodec.get(), FStream->Handle(), FImage.get())) return false;
  if (!opj_end_decompress(FCodec.get(), FStream->Handle())) return false;
  return !FStream->Failed();
}

// ----------------------------------------------------------------- encoder

bool EncodeJp2(opj_image_t& image, TStream& stream, const TOpjEncodeOptions& options) {
  opj_cparameters_t parameters;
  opj_set_default_encoder_parameters(&parameters);
  parameters.tcp_numlayers = 1;
  parameters.cp_disto_alloc = 1;
  parameters.tcp_rates[0] = options.Ratio;  // 0: lossless
  parameters.irreversible = 0;
  parameters.numresolution = static_cast<int>(options.Resolutions);
  parameters.tcp_mct = options.ColorTransform ? 1 : 0;

  TOpjMessages messages;
  TOpjCodecHandle codec(opj_create_compress(OPJ_CODEC_JP2));
  if (!codec) return false;
  messages.Install(codec.get());
  if (!opj_setup_encoder(codec.get(), &parameters, &image)) return false;
  TOpjStream out(stream, false);
  if (!out.Handle()) return false;
  if (!opj_start_compress(codec.get(), &image, out.Handle())) return false;
  if (!opj_encode(codec.get(), out.Handle())) return false;
  if (!opj_end_compress(codec.get(), out.Handle())) return false;
  return !out.Failed();
}

}  // namespace tolvane
