// The JPEG-in-TIFF decoder over libjpeg, and the warning hook it reports
// through.
//
// libjpeg reports fatal errors through error_exit, which must not return,
// and C++ exceptions must not pass through libjpeg's C frames: error_exit
// leaves with longjmp back to the member function that called libjpeg, and
// that function throws. Such functions keep no object with a destructor of
// its own between setjmp and the libjpeg calls; everything they change lives
// in the decoder's heap state, whose address is fixed.
#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

#include "graphics/GraphicCompression.h"
#include "graphics/GraphicFormats.h"
#include "graphics/GraphicStrings.h"

#ifndef JCS_EXTENSIONS
#error "libjpeg must offer the extended colour spaces (blue-green-red output)"
#endif

namespace tolvane {

TOLVANE_DEFINE_CLASS(TTIFFJPEGDecoder, TDecoder)

// ---- Warning hook -----------------------------------------------------------

namespace {

void WarnOnStandardError(const std::string& text, const std::string& caption) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

TCompressionWarningHook& Hook() {
  static TCompressionWarningHook hook = WarnOnStandardError;
  return hook;
}

}  // namespace

TCompressionWarningHook SetCompressionWarningHook(TCompressionWarningHook hook) {
  TCompressionWarningHook previous = std::move(Hook());
  Hook() = hook ? std::move(hook) : WarnOnStandardError;
  return previous;
}

namespace {
// Per thread, so no other thread ever sees it.
thread_local TCompressionWarningCapture* CurrentCapture = nullptr;
}  // namespace

TCompressionWarningCapture::TCompressionWarningCapture() : FOuter(CurrentCapture) { CurrentCapture = this; }

TCompressionWarningCapture::~TCompressionWarningCapture() { CurrentCapture = FOuter; }

void ShowCompressionWarning(const std::string& text, const std::string& caption) noexcept {
  try {
    if (CurrentCapture) CurrentCapture->Warnings.emplace_back(text, caption);
    else Hook()(text, caption);
  } catch (...) {
    // A warning must never end a decode.
  }
}

// ---- Decoder state ------------------------------------------------------------

namespace {

// Libraries cap what one decompressor may allocate.
constexpr long MaxJpegMemory = 1L << 30;

// libjpeg is handed an end-of-image marker whenever the data run out.
const JOCTET EndOfImage[2] = {0xFF, JPEG_EOI};

}  // namespace

struct TTIFFJPEGDecoder::TState {
  // libjpeg's part of each manager comes first, so that libjpeg's pointer to
  // it is also a pointer to ours.
  struct TErrorManager {
    jpeg_error_mgr Pub;
    jmp_buf Jump;
    int Code = 0;
  } Err;
  struct TSource {
    jpeg_source_mgr Pub;
    const uint8_t* Data = nullptr;
    size_t Size = 0;
  } Source;
  jpeg_decompress_struct Info;
  bool Created = false;
  std::vector<uint8_t> Row;  // for rows wider than RowStride
};

namespace {

using TState = TTIFFJPEGDecoder::TState;

void JpegErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<TState::TErrorManager*>(cinfo->err);
  err->Code = cinfo->err->msg_code;
  longjmp(err->Jump, 1);
}

// Library warnings and traces are ignored.
void JpegEmitMessage(j_common_ptr, int) {}
void JpegOutputMessage(j_common_ptr) {}

void SourceInit(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<TState::TSource*>(cinfo->src);
  src->Pub.next_input_byte = src->Data;
  src->Pub.bytes_in_buffer = src->Size;
}

// Called only when the data are used up: warns and supplies an end marker,
// from which libjpeg decodes as far as it can.
boolean SourceFill(j_decompress_ptr cinfo) {
  try {
    ShowCompressionWarning(GraphicStrings::SJPEGEndOfInput, GraphicStrings::SWarning);
  } catch (...) {
    // Nothing may leave through libjpeg's frames.
  }
  cinfo->src->next_input_byte = EndOfImage;
  cinfo->src->bytes_in_buffer = sizeof EndOfImage;
  return TRUE;
}

void SourceSkip(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  jpeg_source_mgr* src = cinfo->src;
  if (static_cast<unsigned long>(count) <= src->bytes_in_buffer) {
    src->next_input_byte += count;
    src->bytes_in_buffer -= static_cast<size_t>(count);
  } else {
    SourceFill(cinfo);
  }
}

void SourceTerm(j_decompress_ptr) {}

[[noreturn]] void RaiseJpegError(int code) { RaiseInvalidGraphicFmt("JPEG error #%d", {code}); }

void SetSource(TState& s, const uint8_t* data, size_t size) {
  s.Source.Data = data;
  s.Source.Size = size;
}

}  // namespace

// ---- Decoder --------------------------------------------------------------------

TTIFFJPEGDecoder::TTIFFJPEGDecoder(const TImageProperties& properties)
    : FProperties(properties), FState(std::make_unique<TState>()) {}

TTIFFJPEGDecoder::~TTIFFJPEGDecoder() { EndDecoding(); }

void TTIFFJPEGDecoder::BeginDecoding() {
  EndDecoding();
  TState& s = *FState;
  std::memset(&s.Info, 0, sizeof s.Info);
  s.Info.err = jpeg_std_error(&s.Err.Pub);
  s.Err.Pub.error_exit = JpegErrorExit;
  s.Err.Pub.emit_message = JpegEmitMessage;
  s.Err.Pub.output_message = JpegOutputMessage;
  std::memset(&s.Source.Pub, 0, sizeof s.Source.Pub);
  s.Source.Pub.init_source = SourceInit;
  s.Source.Pub.fill_input_buffer = SourceFill;
  s.Source.Pub.skip_input_data = SourceSkip;
  s.Source.Pub.resync_to_restart = jpeg_resync_to_restart;
  s.Source.Pub.term_source = SourceTerm;

  const TByteArray& sampling = FProperties.YCbCrSubsampling;
  HSampling = sampling.size() >= 2 ? sampling[0] : 1;
  VSampling = sampling.size() >= 2 ? sampling[1] : 1;
  const TByteArray& tables = FProperties.JpegTables;
  SetSource(s, tables.data(), tables.size());

  if (setjmp(s.Err.Jump)) RaiseJpegError(s.Err.Code);
  jpeg_create_decompress(&s.Info);
  s.Created = true;
  s.Info.mem->max_memory_to_use = MaxJpegMemory;
  s.Info.src = &s.Source.Pub;
  // The tables stay loaded in the decompressor for every strip.
  if (!tables.empty() && jpeg_read_header(&s.Info, FALSE) != JPEG_HEADER_TABLES_ONLY)
    RaiseCompressionError(GraphicStrings::SJPEGBogusTables);
}

void TTIFFJPEGDecoder::EndDecoding() {
  TState& s = *FState;
  if (!s.Created) return;
  s.Created = false;
  jpeg_destroy_decompress(&s.Info);
}

void TTIFFJPEGDecoder::CheckHeader() {
  const TImageProperties& p = FProperties;
  const jpeg_decompress_struct& info = FState->Info;
  uint32_t width = p.Width, height;
  if (p.Options & optTiled) {
    // Tiles are always whole; a tile's rows lie RowStride bytes apart.
    width = p.TileWidth;
    height = p.TileLength;
    RowStride = static_cast<uint32_t>((uint64_t{p.BitsPerPixel} * p.TileWidth + 7) / 8);
  } else {
    height = p.Height > p.CurrentRow ? p.Height - p.CurrentRow : 0;
    if (!p.RowsPerStrip.empty()) height = std::min(height, p.RowsPerStrip[0]);
    RowStride = p.RowByteCount;
  }
  if (info.image_width != width || info.image_height != height)
    RaiseCompressionError(GraphicStrings::SJPEGStripSize);
  const bool interleaved = p.PlanarConfiguration == 1;
  if (info.num_components != (interleaved ? p.SamplesPerPixel : 1))
    RaiseCompressionError(GraphicStrings::SJPEGComponentCount);
  if (info.data_precision != p.BitsPerSample) RaiseCompressionError(GraphicStrings::SJPEGDataPrecision);
  for (int i = 0; i < info.num_components; ++i) {
    const bool first = i == 0 && interleaved;
    const int h = first ? HSampling : 1, v = first ? VSampling : 1;
    if (info.comp_info[i].h_samp_factor != h || info.comp_info[i].v_samp_factor != v)
      RaiseCompressionError(GraphicStrings::SJPEGSamplingFactors);
  }
}

void TTIFFJPEGDecoder::Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
  DecodeStrip(source, packedSize, dest, 0, unpackedSize > 0 ? static_cast<size_t>(unpackedSize) : 0, true);
}

size_t TTIFFJPEGDecoder::DecodeRows(const uint8_t* source, int32_t packedSize, uint8_t* first, ptrdiff_t step,
                                    size_t rows) {
  return DecodeStrip(source, packedSize, first, step, rows, false);
}

// The rows go from first on, step bytes apart: count rows, or with inBytes
// (Decode) count bytes of whole rows of RowStride bytes.
size_t TTIFFJPEGDecoder::DecodeStrip(const uint8_t* source, int32_t packedSize, uint8_t* first, ptrdiff_t step,
                                     size_t count, bool inBytes) {
  TState& s = *FState;
  if (!s.Created) return 0;
  SetSource(s, source, packedSize > 0 ? static_cast<size_t>(packedSize) : 0);
  if (setjmp(s.Err.Jump)) {
    jpeg_abort_decompress(&s.Info);
    RaiseJpegError(s.Err.Code);
  }
  jpeg_abort_decompress(&s.Info);  // keeps the tables
  jpeg_read_header(&s.Info, TRUE);
  try {
    CheckHeader();
    if (inBytes && (RowStride == 0 ? count != 0 : count % RowStride != 0))
      RaiseCompressionError(GraphicStrings::SJPEGFractionalLine);
  } catch (...) {
    jpeg_abort_decompress(&s.Info);
    throw;
  }
  // RowStride is the strip's, known once its header is checked.
  const size_t rows = !inBytes ? count : RowStride == 0 ? 0 : count / RowStride;
  const ptrdiff_t apart = inBytes ? static_cast<ptrdiff_t>(RowStride) : step;
  SetColorSpaces();
  s.Info.raw_data_out = FALSE;
  jpeg_start_decompress(&s.Info);
  const size_t made = ReadRows(first, apart, rows);
  // A strip that held more rows than were asked for is not read to its end.
  if (s.Info.output_scanline == s.Info.output_height) jpeg_finish_decompress(&s.Info);
  else jpeg_abort_decompress(&s.Info);
  return made;
}

// Rows come out in the colour space the strip holds: grey as one sample,
// CMYK as four (libjpeg undoes a YCCK transform, which its markers
// announce), RGB and YCbCr as blue, green, red. Other schemes have no
// conversion to blue, green, red and fail inside libjpeg.
void TTIFFJPEGDecoder::SetColorSpaces() {
  jpeg_decompress_struct& info = FState->Info;
  switch (FProperties.ColorScheme) {
    case ckGrey:
      info.jpeg_color_space = JCS_GRAYSCALE;
      info.out_color_space = JCS_GRAYSCALE;
      break;
    case ckCMYK: info.out_color_space = JCS_CMYK; break;
    case ckYCbCr:
    case ckRGB:
      info.jpeg_color_space = FProperties.ColorScheme == ckYCbCr ? JCS_YCbCr : JCS_RGB;
      info.out_color_space = JCS_EXT_BGR;
      break;
    default:
      info.jpeg_color_space = JCS_UNKNOWN;
      info.out_color_space = JCS_EXT_BGR;
      break;
  }
}

// Runs under DecodeStrip's setjmp: nothing here has a destructor. Rows that
// fit their RowStride bytes are decoded in place, up to a batch at a call;
// wider ones one at a time, cut to RowStride bytes.
size_t TTIFFJPEGDecoder::ReadRows(uint8_t* first, ptrdiff_t step, size_t rows) {
  TState& s = *FState;
  if (RowStride == 0) return 0;
  const size_t rowBytes = size_t{s.Info.output_width} * static_cast<size_t>(s.Info.output_components);
  const bool direct = rowBytes <= RowStride;
  if (!direct && s.Row.size() < rowBytes) s.Row.resize(rowBytes);
  std::array<JSAMPROW, 16> batch{};
  size_t made = 0;
  while (made < rows) {
    const size_t wanted = direct ? std::min(rows - made, batch.size()) : 1;
    for (size_t k = 0; k < wanted; ++k)
      batch[k] = direct ? first + static_cast<ptrdiff_t>(made + k) * step : s.Row.data();
    const JDIMENSION got = jpeg_read_scanlines(&s.Info, batch.data(), static_cast<JDIMENSION>(wanted));
    if (got == 0) break;
    if (!direct) std::memcpy(first + static_cast<ptrdiff_t>(made) * step, s.Row.data(), RowStride);
    made += got;
  }
  return made;
}

}  // namespace tolvane
