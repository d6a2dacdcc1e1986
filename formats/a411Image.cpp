#include "a411Image.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace tolvane {

TOLVANE_DEFINE_CREATABLE_CLASS(Ta411Object, TGraphic)

namespace {

const char* const SNotSupported = "Not supported";

constexpr int32_t ThumbWidth = 64, ThumbHeight = 48;
constexpr size_t GroupBytes = 6, GroupsPerRow = ThumbWidth / 4;
constexpr size_t FileBytes = GroupBytes * GroupsPerRow * ThumbHeight;

// Rounds to the nearest integer, halves to the even neighbour (the default
// rounding mode, which nothing in the program changes).
long Round(long double value) { return std::lrintl(value); }

uint8_t Clamp(long value) { return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value); }

}  // namespace

TBgr Yuv411ToBgr(uint8_t y, uint8_t u, uint8_t v) {
  // Extended precision with the constants as written: some chroma pairs land
  // within a rounding step of a half, where double would round the other way.
  const long double U = static_cast<long double>(static_cast<int>(u) - 128);
  const long double V = static_cast<long double>(static_cast<int>(v) - 128);
  const long Y = y;
  TBgr out;
  out.R = Clamp(Y + Round(1.402L * V));
  out.G = Clamp(Y - Round(0.34414L * U + 0.71414L * V));
  out.B = Clamp(Y + Round(1.772L * U));
  return out;
}

Ta411Object::Ta411Object() : FImage(std::make_unique<TBitmap>()) { FImage->SetPixelLayout(pl24Bit); }

Ta411Object::~Ta411Object() = default;

void Ta411Object::LoadFile(const std::string& fileName) {
  auto image = std::make_unique<TBitmap>();
  image->SetPixelLayout(pl24Bit);
  image->ResizeWidth(ThumbWidth);
  image->ResizeHeight(ThumbHeight);
  image->BitmapCanvas().FillArea(Rect(0, 0, ThumbWidth, ThumbHeight));
  FImage = std::move(image);

  std::vector<uint8_t> data(FileBytes);
  size_t got;
  {
    TFileStream stream(fileName, fmOpenRead | fmShareDenyNone);
    got = stream.Read(data.data(), data.size());
  }
  // Whole groups only: a group the file ends inside stays white.
  const size_t groups = got / GroupBytes;
  for (size_t g = 0; g < groups; ++g) {
    const uint8_t* p = &data[g * GroupBytes];
    const int32_t row = static_cast<int32_t>(g / GroupsPerRow);
    uint8_t* dst = FImage->RowPointer(row) + (g % GroupsPerRow) * 4 * 3;
    for (size_t i = 0; i < 4; ++i) {
      TBgr c = Yuv411ToBgr(p[i], p[4], p[5]);
      dst[3 * i] = c.B, dst[3 * i + 1] = c.G, dst[3 * i + 2] = c.R;
    }
  }
  Width = ThumbWidth;
  Height = ThumbHeight;
}

void Ta411Object::Render(TCanvas& canvas, const TRect&) { canvas.DrawAt(0, 0, FImage.get()); }

bool Ta411Object::IsBlank() { throw Exception(SNotSupported); }
void Ta411Object::SaveFile(const std::string&) { throw Exception(SNotSupported); }
void Ta411Object::LoadStream(TStream&) { throw Exception(SNotSupported); }
void Ta411Object::SaveStream(TStream&) { throw Exception(SNotSupported); }
void Ta411Object::LoadClipboard(uint16_t, THandle, HPALETTE) { throw Exception(SNotSupported); }
void Ta411Object::SaveClipboard(uint16_t&, THandle&, HPALETTE&) { throw Exception(SNotSupported); }

void Initializea411ImageUnit() { TPicture::RegisterExtension("411", "411 YUV Bitmap", &Ta411Object::StaticClass()); }
void Finalizea411ImageUnit() { TPicture::UnregisterGraphicKind(&Ta411Object::StaticClass()); }

}  // namespace tolvane
