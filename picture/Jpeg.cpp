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
// after the end-of-image marker are never read, segments that decoding
// skips are left out, and data that runs on without an end marker is cut
// where no encoder of such a picture could still be writing it. Markers and
// metadata before the image may take this much;
constexpr uint64_t MetadataAllowance = uint64_t{16} << 20;
// the image's scans this much per sample (baseline 8-bit data takes at
// most about 3.3 bytes with every byte stuffed, real files far less)
constexpr uint64_t BytesPerSampleAllowance = 8;
// and the tables and markers between the scans this much.
constexpr uint64_t ScanMarkerAllowance = uint64_t{1} << 20;
constexpr size_t SourceBufferSize = 64 * 1024;

// Copies compressed data as libjpeg walks it and stops after the
// end-of-image marker, leaving out the comment and application segments
// that decoding skips (all but the JFIF and Adobe ones, which tell it the
// colour space). Stuffed bytes and restart markers stay inside a scan,
// every other marker but the stand-alone ones carries a length, and a
// start-of-scan segment is followed by entropy-coded data again. A marker
// that ends entropy-coded data is always kept: inside a damaged scan the
// decoder stops at whichever marker comes first.
class TMarkerFilter {
public:
  // Appends the kept bytes of data[0, size) to out.
  void Append(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
    size_t i = 0;
    while (i < size && FState != sDone) {
      const uint8_t b = data[i];
      switch (FState) {
        case sEntropy:
        case sMarker: {
          // Entropy-coded data, or stray bytes between segments that the
          // decoder passes over, run up to the next 0xFF.
          const void* ff = std::memchr(data + i, 0xFF, size - i);
          const size_t run = ff ? static_cast<size_t>(static_cast<const uint8_t*>(ff) - data) - i : size - i;
          out.insert(out.end(), data + i, data + i + run);
          i += run;
          if (ff) {
            FPendingFF = true;
            FState = FState == sEntropy ? sEntropyFF : sMarkerFF;
            ++i;
          }
          continue;
        }
        case sEntropyFF:
          if (b == 0x00 || (b >= JPEG_RST0 && b <= JPEG_RST0 + 7)) EmitPending(out, b, sEntropy);
          else if (b != 0xFF) Marker(b, true, out);
          break;
        case sMarkerFF:
          if (b == 0x00) EmitPending(out, b, sMarker);
          else if (b != 0xFF) Marker(b, false, out);
          break;
        case sLengthHigh:
          FLength = static_cast<size_t>(b) << 8;
          if (FKeep) out.push_back(b);
          FState = sLengthLow;
          break;
        case sLengthLow:
          FLength |= b;
          FLength = FLength >= 2 ? FLength - 2 : 0;
          if (FKeep) out.push_back(b);
          FState = sSegment;
          if (FLength == 0) EndSegment();
          break;
        case sSegment: {
          const size_t take = std::min(FLength, size - i);
          if (FKeep) out.insert(out.end(), data + i, data + i + take);
          i += take, FLength -= take;
          if (FLength == 0) EndSegment();
          continue;
        }
        case sDone: break;
      }
      ++i;
    }
  }
  // At the data's end: the 0xFF held back for a marker that never came.
  void Flush(std::vector<uint8_t>& out) {
    if (FPendingFF) out.push_back(0xFF);
    FPendingFF = false;
  }
  bool Done() const { return FState == sDone; }

private:
  enum TState : uint8_t { sMarker, sMarkerFF, sEntropy, sEntropyFF, sLengthHigh, sLengthLow, sSegment, sDone };

  static bool Skipped(uint8_t code) {
    return code == JPEG_COM || (code > JPEG_APP0 && code <= JPEG_APP0 + 15 && code != JPEG_APP0 + 14);
  }

  void EmitPending(std::vector<uint8_t>& out, uint8_t b, TState next) {
    Flush(out);
    out.push_back(b);
    FState = next;
  }
  void Marker(uint8_t code, bool afterEntropy, std::vector<uint8_t>& out) {
    FMarker = code;
    FKeep = afterEntropy || !Skipped(code);
    if (FKeep) EmitPending(out, code, sLengthHigh);
    FPendingFF = false;
    if (code == JPEG_EOI) FState = sDone;
    else if (code == 0xD8 || code == 0x01 || (code >= JPEG_RST0 && code <= JPEG_RST0 + 7)) FState = sMarker;
    else FState = sLengthHigh;
  }
  void EndSegment() { FState = FMarker == 0xDA ? sEntropy : sMarker; }

  TState FState = sMarker;
  uint8_t FMarker = 0;
  bool FKeep = true;  // the segment being read is copied
  size_t FLength = 0;
  // A 0xFF read but not yet known to be kept. Fill bytes before it (more
  // 0xFF) mean nothing to the decoder and are not kept: a run of them costs
  // no memory.
  bool FPendingFF = false;
};

// A libjpeg data source that reads the stream through a fixed buffer and
// hands libjpeg the bytes it keeps, so that the header is read from the
// same bytes that are decoded later.
struct TStreamSource {
  jpeg_source_mgr Pub{};
  TStream* Stream = nullptr;
  std::vector<uint8_t>* Kept = nullptr;
  TMarkerFilter Filter;
  bool Overflow = false;  // the header ran past MetadataAllowance
  bool Ended = false;     // the stream has no more bytes
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

// Reads up to count bytes of the stream through the filter into the kept
// data; false at the stream's end.
bool ReadFiltered(TStreamSource& src, size_t count) {
  const size_t n = ReadSome(*src.Stream, src.Buffer.data(), count);
  if (n == 0) {
    src.Ended = true;
    src.Filter.Flush(*src.Kept);
    return false;
  }
  src.Filter.Append(src.Buffer.data(), n, *src.Kept);
  return true;
}

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<TStreamSource*>(cinfo->src);
  std::vector<uint8_t>& kept = *src->Kept;
  const size_t start = kept.size();
  // A read may be left out whole (a long comment); libjpeg gets bytes or the end.
  while (kept.size() == start && !src->Ended && !src->Overflow && !src->Filter.Done()) {
    if (!ReadFiltered(*src, src->Buffer.size())) break;
    if (kept.size() > MetadataAllowance) src->Overflow = true, kept.resize(start);
  }
  if (kept.size() == start) {  // as libjpeg's own sources do: a warning and an end marker
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->Pub.next_input_byte = src->FakeEnd;
    src->Pub.bytes_in_buffer = sizeof src->FakeEnd;
    return TRUE;
  }
  // libjpeg asks again only when it has used these bytes up, so the kept
  // data may grow (and move) before then.
  src->Pub.next_input_byte = kept.data() + start;
  src->Pub.bytes_in_buffer = kept.size() - start;
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
  // The filter keeps no more than it reads, so the kept data stay within the limit.
  while (!src->Filter.Done() && !src->Ended && kept.size() < limit)
    ReadFiltered(*src, static_cast<size_t>(std::min<uint64_t>(SourceBufferSize, limit - kept.size())));
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
