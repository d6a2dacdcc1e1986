#include "QorFileFormatJP2.h"

#include <algorithm>
#include <array>
#include <vector>

#include "LibOpenJpeg.h"

namespace tolvane {

TOLVANE_DEFINE_CREATABLE_CLASS(TQorJP2FileFormat, TQorBitmapFileFormat)

namespace {

// Brings one component's samples to 8 bits: signed samples are moved up by
// half their range, deeper samples shifted down, shallower ones stretched so
// that their largest value becomes 255. 8-bit unsigned samples stay as they are.
class TSampleScale {
public:
  explicit TSampleScale(const opj_image_comp_t& comp)
      : FOffset(comp.sgnd ? int64_t{1} << (comp.prec - 1) : 0),
        FShift(comp.prec > 8 ? static_cast<int>(comp.prec) - 8 : 0),
        FMax(comp.prec < 8 ? (int64_t{1} << comp.prec) - 1 : 0) {}

  bool Plain() const { return FOffset == 0 && FShift == 0 && FMax == 0; }

  uint8_t operator()(int32_t sample) const {
    int64_t v = sample + FOffset;
    if (FShift) v >>= FShift;
    else if (FMax) v = (std::clamp<int64_t>(v, 0, FMax) * 255 + FMax / 2) / FMax;
    return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255));
  }

private:
  int64_t FOffset;
  int FShift;
  int64_t FMax;
};

// Where the samples of one component lie for each picture column and row:
// the nearest sample at or before the position on the component's own grid,
// clipped to the samples the component has.
struct TComponentMap {
  const int32_t* Data = nullptr;
  size_t Stride = 0;
  std::vector<uint32_t> Columns;
  std::vector<uint32_t> Rows;
  bool Direct = false;  // one sample per pixel, no offsets
};

uint32_t NearestIndex(uint64_t position, uint32_t step, uint32_t origin, uint32_t count) {
  const uint64_t onGrid = position / step;
  if (onGrid <= origin) return 0;
  return static_cast<uint32_t>(std::min<uint64_t>(onGrid - origin, count - 1));
}

TComponentMap MapComponent(const opj_image_t& image, const opj_image_comp_t& comp, uint32_t width, uint32_t height) {
  TComponentMap map;
  map.Data = comp.data;
  map.Stride = comp.w;
  map.Direct = comp.dx == 1 && comp.dy == 1 && comp.w == width && comp.h == height && comp.x0 == image.x0 &&
               comp.y0 == image.y0;
  if (map.Direct) return map;
  map.Columns.resize(width);
  for (uint32_t x = 0; x < width; ++x)
    map.Columns[x] = NearestIndex(uint64_t{image.x0} + x, comp.dx, comp.x0, comp.w);
  map.Rows.resize(height);
  for (uint32_t y = 0; y < height; ++y) map.Rows[y] = NearestIndex(uint64_t{image.y0} + y, comp.dy, comp.y0, comp.h);
  return map;
}

// Whether the decoded component can be read as the maps above read it.
bool UsableComponent(const opj_image_comp_t& comp) {
  return comp.data && comp.w > 0 && comp.h > 0 && comp.dx > 0 && comp.dy > 0 && comp.prec >= 1 && comp.prec <= 31;
}

// One row of one component, brought to 8 bits, written every `step` bytes.
void FillRow(const TComponentMap& map, const TSampleScale& scale, uint32_t y, uint32_t width, uint8_t* out,
             size_t step) {
  if (map.Direct) {
    const int32_t* src = map.Data + size_t{y} * map.Stride;
    if (scale.Plain()) {
      for (uint32_t x = 0; x < width; ++x, out += step) *out = static_cast<uint8_t>(std::clamp(src[x], 0, 255));
    } else {
      for (uint32_t x = 0; x < width; ++x, out += step) *out = scale(src[x]);
    }
    return;
  }
  const int32_t* src = map.Data + size_t{map.Rows[y]} * map.Stride;
  for (uint32_t x = 0; x < width; ++x, out += step) *out = scale(src[map.Columns[x]]);
}

// A generous bound on the coded data of a picture: even a lossless code
// stream with many layers and small code blocks stays well under four times
// the raw samples, plus room for markers of a small picture.
uint64_t CodedDataBound(uint64_t pixels, uint64_t components, uint32_t deepestBits) {
  return pixels * components * ((deepestBits + 7) / 8) * 4 + (uint64_t{16} << 20);
}

uint64_t CodedDataLimit(const opj_image_t& header, uint32_t components) {
  uint32_t deepest = 8;
  for (uint32_t c = 0; c < header.numcomps; ++c) deepest = std::max(deepest, std::min(header.comps[c].prec, 32u));
  const uint64_t pixels = (uint64_t{header.x1} - header.x0) * (uint64_t{header.y1} - header.y0);
  return CodedDataBound(pixels, components, deepest);
}

// The header boxes a JP2 file may hold: far more than any colour profile
// or palette needs.
constexpr uint64_t kMaxHeaderBoxBytes = uint64_t{64} << 20;
// Tiles of a few pixels each cost the library far more than their pixels:
// their set-up may take 16 times the bitmap, or this much for a small
// picture (tiles of 32 x 32 grey pixels take 13 times theirs).
constexpr uint64_t kSmallPictureTileSetup = uint64_t{64} << 20;

// Whether the library may read the headers at all: what it sets up and
// keeps while it reads them is judged from the file first, the main header
// being coded data bounded like the rest (its samples as deep as they
// may be).
bool HeadersAffordable(const TOpjHeaderFacts& h) {
  if (!h.Found || !ImageSizeFits(static_cast<int64_t>(h.Width), static_cast<int64_t>(h.Height), 24)) return false;
  if (h.MainHeaderBytes > CodedDataBound(h.Width * h.Height, uint64_t{h.Components} + h.PaletteColumns, 32))
    return false;
  const uint64_t bitmap = RowSizeOf(static_cast<int64_t>(h.Width), 24) * h.Height;
  if (h.TileSetupBytes() > std::max(kSmallPictureTileSetup, 16 * bitmap)) return false;
  return h.WholeBoxBytes <= kMaxHeaderBoxBytes && h.HeaderMemory() <= MaxImageBytes;
}

// What a decode holds at once, at most: the coded data, the library's
// samples (four bytes each, for every component and palette column), a
// tile's samples beside them when the picture has several tiles, its
// records of the tile's precincts and code blocks, and the bitmap the
// samples end in.
uint64_t DecodeMemory(TOpjDecoder& decoder, uint64_t dataLimit, int64_t width, int64_t height) {
  const uint64_t components = decoder.MaxComponents();
  const uint64_t samples = components * static_cast<uint64_t>(width * height) * 4;
  const uint64_t tile = uint64_t{decoder.Image()->numcomps} * decoder.TileBufferPixels() * 4;
  const uint64_t bitmap = uint64_t{RowSizeOf(width, components >= 3 ? 24 : 8)} * static_cast<uint64_t>(height);
  return decoder.CodedBytes(dataLimit) + samples + tile + decoder.TileRecordBytes(dataLimit) + bitmap;
}

}  // namespace

uint32_t JP2ResolutionCount(int32_t width, int32_t height) {
  uint32_t side = static_cast<uint32_t>(std::max(1, std::min(width, height)));
  uint32_t levels = 1;
  while (levels < 6 && (side >>= 1) != 0) ++levels;
  return levels;
}

void TQorJP2FileFormat::LoadStream(TStream& stream) {
  TQorBitmapFileFormat::LoadStream(stream);
  TOpjDecoder decoder(stream);
  if (!HeadersAffordable(decoder.Headers())) RaiseError(JP2Const::SUnableToDecode);
  const uint64_t headerMemory = decoder.Headers().HeaderMemory();
  ChargeImageMemory(headerMemory);
  if (!decoder.ReadHeader()) RaiseError(JP2Const::SUnableToDecode);

  // The declared size is checked before the library allocates anything.
  const opj_image_t* header = decoder.Image();
  if (header->x1 <= header->x0 || header->y1 <= header->y0) RaiseError(JP2Const::SUnableToDecode);
  const int64_t width = int64_t{header->x1} - header->x0;
  const int64_t height = int64_t{header->y1} - header->y0;
  if (!ImageSizeAllowed(width, height, 24)) RaiseError(JP2Const::SUnableToDecode);
  const uint64_t dataLimit = CodedDataLimit(*header, decoder.MaxComponents());
  const uint64_t memory = headerMemory + DecodeMemory(decoder, dataLimit, width, height);
  if (memory > MaxImageBytes) RaiseError(JP2Const::SUnableToDecode);
  // The headers and the size check above have been charged already; the
  // rest is the library's while it decodes.
  const uint64_t charged = headerMemory + RowSizeOf(width, 24) * static_cast<uint64_t>(height);
  ChargeImageMemory(memory > charged ? memory - charged : 0);

  if (!decoder.Decode(dataLimit)) RaiseError(JP2Const::SUnableToDecode);
  const opj_image_t& image = *decoder.Image();
  if (image.numcomps != 1 && image.numcomps != 3) RaiseError(JP2Const::SColorSpaces);
  if (image.x1 - image.x0 != width || image.y1 - image.y0 != height) RaiseError(JP2Const::SUnableToDecode);
  for (uint32_t c = 0; c < image.numcomps; ++c)
    if (!UsableComponent(image.comps[c])) RaiseError(JP2Const::SUnableToDecode);

  const bool grey = image.numcomps == 1;
  if (grey) {
    Bitmap->SetPixelLayout(pl8Bit);
    Bitmap->AssignPalette(CreateGrayPalette());
  } else {
    Bitmap->SetPixelLayout(pl24Bit);
  }
  const auto w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(height);
  Bitmap->ResizeWidth(static_cast<int32_t>(w));
  Bitmap->ResizeHeight(static_cast<int32_t>(h));

  std::vector<TComponentMap> maps;
  std::vector<TSampleScale> scales;
  for (uint32_t c = 0; c < image.numcomps; ++c) {
    maps.push_back(MapComponent(image, image.comps[c], w, h));
    scales.emplace_back(image.comps[c]);
  }
  for (uint32_t y = 0; y < h; ++y) {
    uint8_t* row = Bitmap->RowPointer(static_cast<int32_t>(y));
    if (grey) {
      FillRow(maps[0], scales[0], y, w, row, 1);
    } else {
      // Bitmap pixels are B, G, R; components 0, 1, 2 are R, G, B.
      for (uint32_t c = 0; c < 3; ++c) FillRow(maps[c], scales[c], y, w, row + (2 - c), 3);
    }
  }
}

void TQorJP2FileFormat::SaveStream(TStream& stream) {
  TQorBitmapFileFormat::SaveStream(stream);
  const TPixelLayout layout = Bitmap->PixelLayoutOf();
  TBitmap& source = (layout == pl8Bit && IsGrayPalette(Bitmap->PaletteOf())) || layout == pl24Bit
                        ? *Bitmap
                        : Get24BitCopy();
  const bool grey = source.PixelLayoutOf() == pl8Bit;
  const int32_t width = source.ImageWidth(), height = source.ImageHeight();
  if (width <= 0 || height <= 0) RaiseError(JP2Const::SUnableToCreate);

  const uint32_t count = grey ? 1 : 3;
  std::array<opj_image_cmptparm_t, 3> parameters{};
  for (opj_image_cmptparm_t& p : parameters) {
    p.dx = p.dy = 1;
    p.w = static_cast<uint32_t>(width);
    p.h = static_cast<uint32_t>(height);
    p.prec = 8;
    p.sgnd = 0;
  }
  TOpjImage image(opj_image_create(count, parameters.data(), grey ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB));
  if (!image) RaiseError(JP2Const::SUnableToCreate);
  image->x0 = image->y0 = 0;
  image->x1 = static_cast<uint32_t>(width);
  image->y1 = static_cast<uint32_t>(height);

  const auto w = static_cast<size_t>(width);
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* row = source.ConstRowPointer(y);
    const size_t at = static_cast<size_t>(y) * w;
    if (grey) {
      std::copy(row, row + w, image->comps[0].data + at);
      continue;
    }
    int32_t* r = image->comps[0].data + at;
    int32_t* g = image->comps[1].data + at;
    int32_t* b = image->comps[2].data + at;
    for (size_t x = 0; x < w; ++x, row += 3) {
      b[x] = row[0];
      g[x] = row[1];
      r[x] = row[2];
    }
  }

  TOpjEncodeOptions options;
  options.Resolutions = JP2ResolutionCount(width, height);
  // Quality is the share of the raw size the file may take, in percent;
  // 100 and above keep every bit, and 0 counts as 1.
  options.Ratio = Quality >= 100 ? 0.0f : 100.0f / static_cast<float>(std::max<uint8_t>(Quality, 1));
  options.ColorTransform = !grey;
  if (!EncodeJp2(*image, stream, options)) RaiseError(JP2Const::SUnableToEncode);
}

void InitializeQorFileFormatJP2Unit() {
  // Bytes 4..7 of a JP2 file are the type of its signature box; a raw code
  // stream has none, so ".jpc" files are found by extension only.
  BitmapFileFormatList().Add("JPEG 2000", ".jp2", "jP  ", 4, 1, &TQorJP2FileFormat::StaticClass());
  BitmapFileFormatList().Add("JPEG 2000", ".jpc", "jP  ", 4, 1, &TQorJP2FileFormat::StaticClass());
}

}  // namespace tolvane
