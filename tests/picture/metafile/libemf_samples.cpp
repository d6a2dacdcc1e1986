// Writes sample enhanced metafiles through a second independent library
// (libEMF, which records the desktop's drawing calls) into the directory
// given as the only argument.
#include <libEMF/emf.h>

#include <cstdio>
#include <string>

namespace {

// A 76.2 x 50.8 mm frame (288 x 192 pixels); libEMF's reference device
// has 3.2 pixels per millimetre, so the drawing spans 244 x 163 of them.
HDC Begin(const std::string& file) {
  RECT frame = {0, 0, 7620, 5080};
  // The description is two strings ended by an empty one.
  return CreateEnhMetaFileA(0, file.c_str(), &frame, "tolvane\0tests\0");
}

void End(HDC dc) { DeleteEnhMetaFile(CloseEnhMetaFile(dc)); }

void Shapes(const std::string& dir) {
  HDC dc = Begin(dir + "/libemf_shapes.emf");
  HPEN pen = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
  SelectObject(dc, pen);
  HBRUSH red = CreateSolidBrush(RGB(230, 0, 0));
  SelectObject(dc, red);
  Rectangle(dc, 8, 8, 80, 70);
  HBRUSH green = CreateSolidBrush(RGB(0, 150, 0));
  SelectObject(dc, green);
  Ellipse(dc, 95, 8, 235, 70);
  HBRUSH blue = CreateSolidBrush(RGB(0, 0, 220));
  SelectObject(dc, blue);
  POINT star[5] = {{40, 80}, {75, 155}, {5, 105}, {80, 105}, {10, 155}};
  SetPolyFillMode(dc, WINDING);
  Polygon(dc, star, 5);
  SelectObject(dc, GetStockObject(LTGRAY_BRUSH));
  POINT triangles[6] = {{95, 85}, {165, 85}, {130, 155}, {100, 155}, {125, 105}, {160, 155}};
  INT counts[2] = {3, 3};
  PolyPolygon(dc, triangles, counts, 2);
  HBRUSH yellow = CreateSolidBrush(RGB(240, 220, 0));
  SelectObject(dc, yellow);
  BeginPath(dc);
  MoveToEx(dc, 175, 155, nullptr);
  POINT curve[3] = {{175, 70}, {240, 70}, {240, 155}};
  PolyBezierTo(dc, curve, 3);
  CloseFigure(dc);
  EndPath(dc);
  StrokeAndFillPath(dc);
  MoveToEx(dc, 5, 160, nullptr);
  LineTo(dc, 240, 160);
  End(dc);
}

void Text(const std::string& dir) {
  HDC dc = Begin(dir + "/libemf_text.emf");
  HFONT font = CreateFontA(-40, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "DejaVu Sans");
  SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(0, 0, 128));
  TextOutA(dc, 10, 40, "Tolvane", 7);
  End(dc);
}

// The left half black (122 of the drawing's 244 pixels across).
void Half(const std::string& dir) {
  HDC dc = Begin(dir + "/libemf_half.emf");
  SelectObject(dc, GetStockObject(NULL_PEN));
  SelectObject(dc, GetStockObject(BLACK_BRUSH));
  Rectangle(dc, 0, 0, 122, 163);
  End(dc);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: libemf_samples DIR\n");
    return 2;
  }
  Shapes(argv[1]);
  Text(argv[1]);
  Half(argv[1]);
  return 0;
}
