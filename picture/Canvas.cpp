#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "Graphics.h"

namespace tolvane {

void TCanvas::DrawAt(int32_t x, int32_t y, TGraphic* graphic) {
  if (!graphic || graphic->IsBlank()) return;
  graphic->Render(*this, Rect(x, y, x + graphic->ImageWidth(), y + graphic->ImageHeight()));
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
  // Bresenham from the pen position; like the desktop's line, the end point
  // itself is not drawn.
  int64_t x0 = from.X, y0 = from.Y;
  const int64_t dx = std::llabs(int64_t{x} - x0), dy = -std::llabs(int64_t{y} - y0);
  const int sx = x0 < x ? 1 : -1, sy = y0 < y ? 1 : -1;
  int64_t err = dx + dy;
  TRect clip = ClipBounds();
  while (x0 != x || y0 != y) {
    if (x0 >= clip.Left && x0 < clip.Right && y0 >= clip.Top && y0 < clip.Bottom)
      FOwner.SetPixelColor(static_cast<int32_t>(x0), static_cast<int32_t>(y0), Pen.Color & 0xFFFFFF);
    int64_t e2 = 2 * err;
    if (e2 >= dy) err += dy, x0 += sx;
    if (e2 <= dx) err += dx, y0 += sy;
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
        xs.push_back(a.X + (cy - a.Y) * (b.X - a.X) / static_cast<double>(b.Y - a.Y));
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
