#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "Graphics.h"

namespace tolvane {

void TCanvas::DrawAt(int32_t x, int32_t y, TGraphic* graphic) {
  if (!graphic || graphic->IsBlank()) return;
  // A picture placed so far right or down that its far edge passes 32 bits
  // lies wholly off the surface; its edge is held at the largest value.
  auto end = [](int32_t at, int32_t size) { return static_cast<int32_t>(std::min<int64_t>(int64_t{at} + size, INT32_MAX)); };
  graphic->Render(*this, Rect(x, y, end(x, graphic->ImageWidth()), end(y, graphic->ImageHeight())));
}

void TCanvas::StretchInto(const TRect& rect, TGraphic* graphic) {
  if (graphic) graphic->Render(*this, rect);
}

TRect TCanvas::ClipBounds() const { return Rect(0, 0, FOwner.ImageWidth(), FOwner.ImageHeight()); }

void TCanvas::FillArea(const TRect& rect) {
  if (Brush.Style == TBrushStyle::bsClear) return;
  TRect clip = ClipBounds();
  int32_t x0 = std::max(rect.Left, clip.Left), x1 = std::min(rect.Right, clip.Right);
  int32_t y0 = std::max(rect.Top, clip.Top), y1 = std::min(rect.Bottom, clip.Bottom);
  if (x0 >= x1 || y0 >= y1) return;
  FOwner.FillRect(Rect(x0, y0, x1, y1), Brush.Color & 0xFFFFFF);
  FOwner.NotifyChanged(&FOwner);
}

TColor TCanvas::PixelColour(int32_t x, int32_t y) {
  TRect clip = ClipBounds();
  if (x < clip.Left || x >= clip.Right || y < clip.Top || y >= clip.Bottom) return 0xFFFFFFFF;
  return FOwner.PixelColor(x, y);
}

void TCanvas::PutPixel(int32_t x, int32_t y, TColor colour) {
  TRect clip = ClipBounds();
  if (x < clip.Left || x >= clip.Right || y < clip.Top || y >= clip.Bottom) return;
  FOwner.SetPixelColor(x, y, colour & 0xFFFFFF);
}

void TCanvas::MovePen(int32_t x, int32_t y) { FPenPos = TPoint{x, y}; }

void TCanvas::DrawLineTo(int32_t x, int32_t y) {
  TPoint from = FPenPos;
  FPenPos = TPoint{x, y};
  if (Pen.Style == TPenStyle::psClear) return;
  // A Bresenham line from the pen position; like the desktop's line, the end
  // point itself is not drawn. Step i (0 <= i < n) of the longer axis lies
  // floor((2 m i + n) / 2n) along the shorter one, so only the steps that
  // cross the surface are visited, however far away the ends lie.
  const int64_t dx = int64_t{x} - from.X, dy = int64_t{y} - from.Y;
  const bool xMajor = std::llabs(dx) >= std::llabs(dy);
  const int64_t major = xMajor ? dx : dy, minor = xMajor ? dy : dx;
  const int64_t n = std::llabs(major), m = std::llabs(minor);
  if (n == 0) return;
  const int64_t majorStep = major < 0 ? -1 : 1, minorStep = minor < 0 ? -1 : 1;
  const int64_t majorFrom = xMajor ? from.X : from.Y, minorFrom = xMajor ? from.Y : from.X;
  const TRect clip = ClipBounds();
  const int64_t lo = xMajor ? clip.Left : clip.Top, hi = xMajor ? clip.Right : clip.Bottom;
  const int64_t first = std::max<int64_t>(0, majorStep > 0 ? lo - majorFrom : majorFrom - (hi - 1));
  const int64_t last = std::min<int64_t>(n, majorStep > 0 ? hi - majorFrom : majorFrom - lo + 1);
  for (int64_t i = first; i < last; ++i) {
    const auto offset = static_cast<int64_t>((2 * static_cast<__int128>(m) * i + n) / (2 * static_cast<__int128>(n)));
    const int64_t a = majorFrom + majorStep * i, b = minorFrom + minorStep * offset;
    const int64_t px = xMajor ? a : b, py = xMajor ? b : a;
    if (px >= clip.Left && px < clip.Right && py >= clip.Top && py < clip.Bottom)
      FOwner.SetPixelColor(static_cast<int32_t>(px), static_cast<int32_t>(py), Pen.Color & 0xFFFFFF);
  }
}

void TCanvas::FillPolygon(const std::vector<TPoint>& points) {
  if (points.empty()) return;
  TRect clip = ClipBounds();
  if (Brush.Style != TBrushStyle::bsClear && points.size() >= 3) {
    int32_t top = points[0].Y, bottom = points[0].Y;
    for (const TPoint& p : points) top = std::min(top, p.Y), bottom = std::max(bottom, p.Y);
    top = std::max(top, clip.Top);
    bottom = std::min(bottom, clip.Bottom);
    std::vector<double> xs;
    // Alternate filling at pixel centres: a pixel is inside when its centre
    // lies left of an odd number of edges.
    for (int32_t y = top; y < bottom; ++y) {
      double cy = y + 0.5;
      xs.clear();
      for (size_t i = 0; i < points.size(); ++i) {
        const TPoint& a = points[i];
        const TPoint& b = points[(i + 1) % points.size()];
        if ((a.Y <= cy) == (b.Y <= cy)) continue;
        xs.push_back(a.X + (cy - a.Y) * (double(b.X) - a.X) / (double(b.Y) - a.Y));
      }
      std::sort(xs.begin(), xs.end());
      for (size_t i = 0; i + 1 < xs.size(); i += 2) {
        auto from = static_cast<int64_t>(std::ceil(xs[i] - 0.5)), to = static_cast<int64_t>(std::ceil(xs[i + 1] - 0.5));
        from = std::max<int64_t>(from, clip.Left);
        to = std::min<int64_t>(to, clip.Right);
        if (from < to)
          FOwner.FillRect(Rect(static_cast<int32_t>(from), y, static_cast<int32_t>(to), y + 1), Brush.Color & 0xFFFFFF);
      }
    }
  }
  TPoint saved = FPenPos;
  MovePen(points.back().X, points.back().Y);
  for (const TPoint& p : points) DrawLineTo(p.X, p.Y);
  FPenPos = saved;
  FOwner.NotifyChanged(&FOwner);
}

}  // namespace tolvane
