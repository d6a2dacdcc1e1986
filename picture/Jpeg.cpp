// libjpeg reports fatal errors through error_exit, which must not return.
// C++ exceptions must not pass through libjpeg's C frames, so error_exit
// leaves with longjmp back to the function that called libjpeg, and that
// function throws. Everything that function changes after setjmp lives in a
// heap object whose address was fixed before setjmp.
#include "Jpeg.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

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

void ReadHeader(TJPEGData& data) {
  auto dec = std::make_unique<TDecompressor>();
  TDecompressor* d = dec.get();
  if (setjmp(d->Err.Jump)) RaiseJpegError(d->Err.Code);
  jpeg_create_decompress(&d->Info);
  jpeg_mem_src(&d->Info, data.Data.data(), static_cast<unsigned long>(data.Data.size()));
  jpeg_read_header(&d->Info, TRUE);
  // The limit holds for the size the file declares, whatever scale it is
  // decoded at later: a tiny file declaring 65500 x 65500 is no picture.
  if (!ImageSizeAllowed(d->Info.image_width, d->Info.image_height, 32)) RaiseJpegError(JERR_IMAGE_TOO_BIG);
  data.Width = static_cast<int32_t>(d->Info.image_width);
  data.Height = static_cast<int32_t>(d->Info.image_height);
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
  auto data = std::make_shared<TJPEGData>();
  data->Data.resize(static_cast<size_t>(stream.Remaining()));
  data->Data.resize(stream.Read(data->Data.data(), data->Data.size()));
  ReadHeader(*data);
  FData = std::move(data);
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
