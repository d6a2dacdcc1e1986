// libjpeg reports fatal errors through error_exit, which must not return.
// C++ exceptions must not pass through libjpeg's C frames, so error_exit
// leaves with longjmp back to the function that called libjpeg, and that
// function throws. Everything that function changes after setjmp lives in a
// heap object whose address was fixed before setjmp.
#include "Jpeg.h"

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>

#include <jerror.h>
#include <jpeglib.h>

namespace tolvane {

TOLVANE_DEFINE_CREATABLE_CLASS(TJPEGImage, TGraphic)

namespace {

constexpr long MaxJpegMemory = 1L << 30;

struct TErrorManager {
  jpeg_error_mgr Pub;
  jmp_buf Jump;
  int Code = 0;
};

void JpegErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<TErrorManager*>(cinfo->err);
  err->Code = cinfo->err->msg_code;
  longjmp(err->Jump, 1);
}

// Warnings (such as a truncated file, where libjpeg supplies a fake end
// marker) are not errors, and nothing is printed.
void JpegEmitMessage(j_common_ptr, int) {}
void JpegOutputMessage(j_common_ptr) {}

// A decompressor that is always destroyed, also when decoding fails.
struct TDecompressor {
  TErrorManager Err;
  jpeg_decompress_struct Info;

  TDecompressor() {
    std::memset(&Info, 0, sizeof Info);
    Info.err = jpeg_std_error(&Err.Pub);
    Err.Pub.error_exit = JpegErrorExit;
    Err.Pub.emit_message = JpegEmitMessage;
    Err.Pub.output_message = JpegOutputMessage;
  }
  ~TDecompressor() { jpeg_destroy_decompress(&Info); }
};

[[noreturn]] void RaiseJpegError(int code) { throw EJPEG(Format("JPEG error #%d", {code})); }

struct TDecodeState {
  TDecompressor Dec;
  std::unique_ptr<TBitmap> Bitmap;
  std::vector<uint8_t> Row;
  bool Cmyk = false;
  bool AdobeInverted = false;
};

// Turns one decoded CMYK row into B, G, R.
void CmykToBgr(const uint8_t* in, uint8_t* out, JDIMENSION width, bool inverted) {
  for (JDIMENSION x = 0; x < width; ++x) {
    unsigned c = in[4 * x], m = in[4 * x + 1], y = in[4 * x + 2], k = in[4 * x + 3];
    if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
    // Inverted (Adobe) data stores 255 - ink: the colour is value x black / 255.
    out[3 * x] = static_cast<uint8_t>((y * k + 127) / 255);
    out[3 * x + 1] = static_cast<uint8_t>((m * k + 127) / 255);
    out[3 * x + 2] = static_cast<uint8_t>((c * k + 127) / 255);
  }
}

// What libjpeg holds besides the picture: a file of several scans keeps
// the coefficients of the whole image until its last scan, at full size
// whatever the scale (never more than it may use).
uint64_t WholeImageCoefficientBytes(const jpeg_decompress_struct& info) {
  if (!info.progressive_mode && info.comps_in_scan >= info.num_components) return 0;
  // Each component's blocks, rounded up to whole units of its sampling.
  auto blocks = [](JDIMENSION count, int factor) {
    const uint64_t step = static_cast<uint64_t>(std::max(factor, 1));
    return (uint64_t{count} + step - 1) / step * step;
  };
  uint64_t bytes = 0;
  for (int c = 0; c < info.num_components; ++c) {
    const jpeg_component_info& comp = info.comp_info[c];
    bytes += blocks(comp.width_in_blocks, comp.h_samp_factor) * blocks(comp.height_in_blocks, comp.v_samp_factor) *
             sizeof(JBLOCK);
  }
  return std::min<uint64_t>(bytes, MaxJpegMemory);
}

std::unique_ptr<TBitmap> Decode(const TJPEGData& data, TJpegDecodeScale scale, TJpegDecodeSpeed speed,
                                TJpegOutputDepth depth) {
  auto state = std::make_unique<TDecodeState>();
  TDecodeState* s = state.get();
  j_decompress_ptr cinfo = &s->Dec.Info;
  if (setjmp(s->Dec.Err.Jump)) RaiseJpegError(s->Dec.Err.Code);

  jpeg_create_decompress(cinfo);
  cinfo->mem->max_memory_to_use = MaxJpegMemory;
  jpeg_mem_src(cinfo, data.Data.data(), static_cast<unsigned long>(data.Data.size()));
  jpeg_read_header(cinfo, TRUE);

  cinfo->scale_num = 1;
  cinfo->scale_denom = 1u << scale;
  const bool grey = cinfo->jpeg_color_space == JCS_GRAYSCALE;
  s->Cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
  s->AdobeInverted = s->Cmyk && cinfo->saw_Adobe_marker;
  if (speed == SpeedBestSpeed) {
    cinfo->dct_method = JDCT_IFAST;
    cinfo->do_fancy_upsampling = FALSE;
    cinfo->two_pass_quantize = FALSE;
    cinfo->dither_mode = JDITHER_ORDERED;
  }
  const bool quantize = depth == Output8Bit && !grey && !s->Cmyk;
  if (grey) {
    cinfo->out_color_space = JCS_GRAYSCALE;
  } else if (s->Cmyk) {
    cinfo->out_color_space = JCS_CMYK;
  } else if (quantize) {
    cinfo->out_color_space = JCS_RGB;
    cinfo->quantize_colors = TRUE;
    cinfo->desired_number_of_colors = 256;
  } else {
    cinfo->out_color_space = JCS_EXT_BGR;
  }
  jpeg_calc_output_dimensions(cinfo);
  if (!ImageSizeAllowed(cinfo->output_width, cinfo->output_height, 32)) RaiseJpegError(JERR_IMAGE_TOO_BIG);
  ChargeImageMemory(WholeImageCoefficientBytes(*cinfo));
  jpeg_start_decompress(cinfo);

  s->Bitmap = std::make_unique<TBitmap>();
  TBitmap& bmp = *s->Bitmap;
  const bool indexed = grey || quantize;
  bmp.SetPixelLayout(indexed ? pl8Bit : pl24Bit);
  bmp.ResizeWidth(static_cast<int32_t>(cinfo->output_width));
  bmp.ResizeHeight(static_cast<int32_t>(cinfo->output_height));
  if (grey) {
    std::vector<TPaletteEntry> ramp(256);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = TPaletteEntry{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    bmp.AssignPalette(CreatePalette(std::move(ramp)));
  } else if (quantize) {
    // Two-pass quantisation has chosen its colours by now: its first pass
    // runs inside jpeg_start_decompress.
    std::vector<TPaletteEntry> colours(static_cast<size_t>(cinfo->actual_number_of_colors));
    for (size_t i = 0; i < colours.size(); ++i)
      colours[i] = TPaletteEntry{cinfo->colormap[0][i], cinfo->colormap[1][i], cinfo->colormap[2][i], 0};
    bmp.AssignPalette(CreatePalette(std::move(colours)));
  }
  if (s->Cmyk) s->Row.resize(static_cast<size_t>(cinfo->output_width) * 4);
  while (cinfo->output_scanline < cinfo->output_height) {
    uint8_t* dest = bmp.RowPointer(static_cast<int32_t>(cinfo->output_scanline));
    JSAMPROW row = s->Cmyk ? s->Row.data() : dest;
    if (jpeg_read_scanlines(cinfo, &row, 1) != 1) break;
    if (s->Cmyk) CmykToBgr(s->Row.data(), dest, cinfo->output_width, s->AdobeInverted);
  }
  jpeg_finish_decompress(cinfo);
  return std::move(s->Bitmap);
}

// The compressed data is kept for decoding later, at a scale chosen then,
// but no more of it than a picture of the declared size can need: bytes
// after the end-of-image marker are never read, and data that runs on
// without one is cut where no encoder of such a picture could still be
// writing it. Markers and metadata before the image may take this much;
constexpr uint64_t MetadataAllowance = uint64_t{16} << 20;
// the image's scans this much per sample (baseline 8-bit data takes at
// most about 3.3 bytes with every byte stuffed, real files far less)
constexpr uint64_t BytesPerSampleAllowance = 8;
// and the tables and markers between the scans this much.
constexpr uint64_t ScanMarkerAllowance = uint64_t{1} << 20;
constexpr size_t SourceBufferSize = 64 * 1024;

// A libjpeg data source that reads the stream through a fixed buffer and
// keeps every byte it hands to libjpeg.
struct TStreamSource {
  jpeg_source_mgr Pub{};
  TStream* Stream = nullptr;
  std::vector<uint8_t>* Kept = nullptr;
  bool Overflow = false;  // the header ran past MetadataAllowance
  bool Ended = false;
  std::array<uint8_t, SourceBufferSize> Buffer{};
  const JOCTET FakeEnd[2] = {0xFF, JPEG_EOI};
};

// Reads up to count bytes; a failing stream counts as its end, since no
// exception may pass through libjpeg.
size_t ReadSome(TStream& stream, uint8_t* buffer, size_t count) noexcept {
  try {
    return stream.Read(buffer, count);
  } catch (...) {
    return 0;
  }
}

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<TStreamSource*>(cinfo->src);
  size_t n = 0;
  if (!src->Ended && !src->Overflow) {
    n = ReadSome(*src->Stream, src->Buffer.data(), src->Buffer.size());
    if (n == 0) src->Ended = true;
    if (src->Kept->size() + n > MetadataAllowance) src->Overflow = true, n = 0;
  }
  if (n == 0) {  // as libjpeg's own sources do: a warning and an end marker
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->Pub.next_input_byte = src->FakeEnd;
    src->Pub.bytes_in_buffer = sizeof src->FakeEnd;
    return TRUE;
  }
  src->Kept->insert(src->Kept->end(), src->Buffer.data(), src->Buffer.data() + n);
  src->Pub.next_input_byte = src->Buffer.data();
  src->Pub.bytes_in_buffer = n;
  return TRUE;
}

void SkipInput(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  auto* src = reinterpret_cast<TStreamSource*>(cinfo->src);
  size_t left = static_cast<size_t>(count);
  while (left > src->Pub.bytes_in_buffer) {
    left -= src->Pub.bytes_in_buffer;
    FillInput(cinfo);
  }
  src->Pub.next_input_byte += left;
  src->Pub.bytes_in_buffer -= left;
}

// Finds the end-of-image marker in entropy-coded data and the marker
// segments between scans, the way libjpeg walks them: stuffed bytes,
// fill bytes and restart markers stay inside a scan, every other marker but
// the stand-alone ones carries a length, and a start-of-scan segment is
// followed by entropy-coded data again.
class TEndFinder {
public:
  // The offset just past the end-of-image marker, or npos when the bytes
  // from..size() do not hold it.
  size_t Scan(const std::vector<uint8_t>& data, size_t from) {
    size_t i = from;
    while (i < data.size()) {
      const uint8_t b = data[i];
      switch (FState) {
        case sEntropy: {
          const void* ff = std::memchr(data.data() + i, 0xFF, data.size() - i);
          if (!ff) return std::string::npos;
          i = static_cast<size_t>(static_cast<const uint8_t*>(ff) - data.data()) + 1;
          FState = sEntropyFF;
          continue;
        }
        case sEntropyFF:
          if (b == 0x00 || (b >= JPEG_RST0 && b <= JPEG_RST0 + 7)) FState = sEntropy;
          else if (b != 0xFF) Marker(b);
          break;
        case sMarker:
          if (b == 0xFF) FState = sMarkerFF;
          break;
        case sMarkerFF:
          if (b == 0x00) FState = sMarker;
          else if (b != 0xFF) Marker(b);
          break;
        case sLengthHigh:
          FLength = static_cast<size_t>(b) << 8;
          FState = sLengthLow;
          break;
        case sLengthLow:
          FLength |= b;
          FLength = FLength >= 2 ? FLength - 2 : 0;
          FState = sSegment;
          if (FLength == 0) EndSegment();
          break;
        case sSegment: {
          const size_t take = std::min(FLength, data.size() - i);
          i += take, FLength -= take;
          if (FLength == 0) EndSegment();
          continue;
        }
        case sDone:
          return i;
      }
      ++i;
      if (FState == sDone) return i;
    }
    return std::string::npos;
  }

private:
  enum TState : uint8_t { sEntropy, sEntropyFF, sMarker, sMarkerFF, sLengthHigh, sLengthLow, sSegment, sDone };

  void Marker(uint8_t code) {
    FMarker = code;
    if (code == JPEG_EOI) FState = sDone;
    else if (code == 0xD8 || code == 0x01 || (code >= JPEG_RST0 && code <= JPEG_RST0 + 7)) FState = sMarker;
    else FState = sLengthHigh;
  }
  void EndSegment() { FState = FMarker == 0xDA ? sEntropy : sMarker; }

  TState FState = sEntropy;  // the search starts after a start-of-scan segment
  uint8_t FMarker = 0;
  size_t FLength = 0;
};

// Reads the header through the stream and keeps the compressed data up to
// its end marker (see MetadataAllowance); checks the declared size.
std::shared_ptr<TJPEGData> LoadData(TStream& stream) {
  auto data = std::make_shared<TJPEGData>();
  auto src = std::make_unique<TStreamSource>();  // outlives the decompressor that reads it
  auto dec = std::make_unique<TDecompressor>();
  TDecompressor* d = dec.get();
  if (setjmp(d->Err.Jump)) RaiseJpegError(d->Err.Code);
  jpeg_create_decompress(&d->Info);
  src->Stream = &stream;
  src->Kept = &data->Data;
  src->Pub.init_source = InitSource;
  src->Pub.fill_input_buffer = FillInput;
  src->Pub.skip_input_data = SkipInput;
  src->Pub.resync_to_restart = jpeg_resync_to_restart;
  src->Pub.term_source = TermSource;
  d->Info.src = &src->Pub;
  jpeg_read_header(&d->Info, TRUE);
  if (src->Overflow) RaiseJpegError(JERR_IMAGE_TOO_BIG);
  // The limit holds for the size the file declares, whatever scale it is
  // decoded at later: a tiny file declaring 65500 x 65500 is no picture.
  const jpeg_decompress_struct& info = d->Info;
  if (!ImageSizeFits(info.image_width, info.image_height, 32)) RaiseJpegError(JERR_IMAGE_TOO_BIG);
  data->Width = static_cast<int32_t>(info.image_width);
  data->Height = static_cast<int32_t>(info.image_height);

  const uint64_t samples = uint64_t{info.image_width} * info.image_height * static_cast<uint64_t>(info.num_components);
  const uint64_t limit = data->Data.size() + ScanMarkerAllowance + BytesPerSampleAllowance * samples;
  std::vector<uint8_t>& kept = data->Data;
  TEndFinder finder;
  // libjpeg stopped after the start-of-scan segment; at the stream's end
  // its buffer is the fake end marker, which is not in kept.
  size_t end = finder.Scan(kept, src->Ended ? kept.size() : kept.size() - src->Pub.bytes_in_buffer);
  bool more = !src->Ended;
  while (end == std::string::npos && more && kept.size() < limit) {
    const size_t old = kept.size();
    const size_t want = static_cast<size_t>(std::min<uint64_t>(SourceBufferSize, limit - old));
    kept.resize(old + want);
    const size_t got = ReadSome(stream, kept.data() + old, want);
    kept.resize(old + got);
    more = got == want;
    end = finder.Scan(kept, old);
  }
  if (end != std::string::npos) kept.resize(end);
  kept.shrink_to_fit();
  return data;
}

}  // namespace

TJpegOutputDepth DefaultJpegOutputDepth() {
  static const TJpegOutputDepth depth = ScreenBitsPerPixel() <= 8 ? Output8Bit : Output24Bit;
  return depth;
}

TJPEGImage::TJPEGImage() : FOutputDepth(DefaultJpegOutputDepth()) {}
TJPEGImage::~TJPEGImage() = default;

void TJPEGImage::CopyFrom(TPersistent* source) {
  if (source && source->Is<TJPEGImage>()) {
    auto* other = static_cast<TJPEGImage*>(source);
    FData = other->FData;
    FScale = other->FScale;
    FSpeed = other->FSpeed;
    FOutputDepth = other->FOutputDepth;
    FBitmap.reset();
    NotifyChanged(this);
    return;
  }
  TGraphic::CopyFrom(source);
}

void TJPEGImage::CopyInto(TPersistent& dest) {
  if (dest.Is<TBitmap>()) {
    dest.CopyFrom(&DecodedBitmap());
    return;
  }
  TGraphic::CopyInto(dest);
}

TBitmap& TJPEGImage::DecodedBitmap() {
  if (!FBitmap) {
    if (!FData) {
      FBitmap = std::make_unique<TBitmap>();
    } else {
      FBitmap = Decode(*FData, FScale, FSpeed, FOutputDepth);
      // CMYK photographs are decoded in full colour; an 8-bit output depth
      // then reduces them like any other bitmap.
      if (FOutputDepth == Output8Bit && FBitmap->PixelLayoutOf() == pl24Bit) FBitmap->SetPixelLayout(pl8Bit);
    }
  }
  return *FBitmap;
}

void TJPEGImage::Render(TCanvas& canvas, const TRect& rect) { canvas.StretchInto(rect, &DecodedBitmap()); }

int32_t TJPEGImage::ImageWidth() {
  if (FBitmap) return FBitmap->ImageWidth();
  if (!FData) return 0;
  int32_t div = 1 << FScale;
  return (FData->Width + div - 1) / div;
}

int32_t TJPEGImage::ImageHeight() {
  if (FBitmap) return FBitmap->ImageHeight();
  if (!FData) return 0;
  int32_t div = 1 << FScale;
  return (FData->Height + div - 1) / div;
}

HPALETTE TJPEGImage::PaletteOf() { return FBitmap ? FBitmap->PaletteOf() : nullptr; }

void TJPEGImage::ResizeHeight(int32_t) { throw EInvalidGraphicOperation("Cannot change the size of a JPEG image"); }
void TJPEGImage::ResizeWidth(int32_t) { throw EInvalidGraphicOperation("Cannot change the size of a JPEG image"); }

void TJPEGImage::LoadStream(TStream& stream) {
  FData = LoadData(stream);
  FBitmap.reset();
  NotifyChanged(this);
}

void TJPEGImage::SaveStream(TStream& stream) {
  if (FData) stream.WriteExact(FData->Data.data(), FData->Data.size());
}

void TJPEGImage::LoadClipboard(uint16_t, THandle, HPALETTE) {
  throw EInvalidGraphic(GraphicsConst::SUnknownClipboardFormat);
}

void TJPEGImage::SaveClipboard(uint16_t& format, THandle& data, HPALETTE& palette) {
  DecodedBitmap().SaveClipboard(format, data, palette);
}

void TJPEGImage::SetDecodeScale(TJpegDecodeScale value) {
  if (value == FScale) return;
  FBitmap.reset();
  FScale = value;
  NotifyChanged(this);
}

void TJPEGImage::SetDecodeSpeed(TJpegDecodeSpeed value) {
  if (value == FSpeed) return;
  FBitmap.reset();
  FSpeed = value;
  NotifyChanged(this);
}

void TJPEGImage::SetOutputDepth(TJpegOutputDepth value) {
  if (value == FOutputDepth) return;
  FBitmap.reset();
  FOutputDepth = value;
  NotifyChanged(this);
}

void InitializeJpegUnit() {
  TPicture::RegisterExtension("jpeg", "JPEG Image File", &TJPEGImage::StaticClass());
  TPicture::RegisterExtension("jpg", "JPEG Image File", &TJPEGImage::StaticClass());
}

void FinalizeJpegUnit() { TPicture::UnregisterGraphicKind(&TJPEGImage::StaticClass()); }

}  // namespace tolvane
