/* Writes sample metafiles with an independent metafile library (libuemf)
   into the directory given as the only argument: enhanced and Windows
   metafiles of filled shapes, of the drawing state (mapping, transforms,
   clipping, paths) with a bitmap, and of text. All are 288 x 192 pixels. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <uemf.h>
#include <uemf_utf.h>
#include <uwmf.h>

static char path[4096];
static const char* at(const char* dir, const char* name) {
  snprintf(path, sizeof path, "%s/%s", dir, name);
  return path;
}

#define E(r) emf_append((PU_ENHMETARECORD)(r), et, U_REC_FREE)
#define W(r) wmf_append((U_METARECORD*)(r), wt, U_REC_FREE)

static U_RECTL box(int l, int t, int r, int b) { return rectl_set(pointl_set(l, t), pointl_set(r, b)); }

/* A 4 x 4 checkerboard of red and blue, 24 bits, bottom-up. */
static PU_BITMAPINFO checker(char* px) {
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      char* p = px + y * 12 + x * 3;
      int red = (x + y) % 2 == 0;
      p[0] = red ? 0 : (char)255, p[1] = 0, p[2] = red ? (char)255 : 0;
    }
  return bitmapinfo_set(bitmapinfoheader_set(4, 4, 1, 24, U_BI_RGB, 48, 3780, 3780, 0, 0), NULL);
}

static void emf_begin(const char* file, EMFTRACK** et, EMFHANDLES** eht) {
  emf_start(file, 65536, 65536, et);
  htable_create(64, 64, eht);
  /* A 96-dpi reference device: 960 pixels are 254 mm. */
  char* rec = U_EMRHEADER_set(box(0, 0, 287, 191), box(0, 0, 7620, 5080), NULL, 0, NULL, sizel_set(960, 960),
                              sizel_set(254, 254), 0);
  emf_append((PU_ENHMETARECORD)rec, *et, U_REC_FREE);
}

static void emf_end(EMFTRACK* et, EMFHANDLES* eht) {
  E(U_EMREOF_set(0, NULL, et));
  emf_finish(et, eht);
  emf_free(&et);
  htable_free(&eht);
}

static uint32_t emf_brush(EMFTRACK* et, EMFHANDLES* eht, U_COLORREF c) {
  uint32_t h;
  E(createbrushindirect_set(&h, eht, logbrush_set(U_BS_SOLID, c, 0)));
  E(selectobject_set(h, eht));
  return h;
}

static void emf_shapes(const char* dir) {
  EMFTRACK* et;
  EMFHANDLES* eht;
  emf_begin(at(dir, "uemf_shapes.emf"), &et, &eht);
  E(selectobject_set(U_NULL_PEN, eht));
  emf_brush(et, eht, colorref_set(255, 0, 0));
  E(U_EMRRECTANGLE_set(box(10, 10, 100, 80)));
  emf_brush(et, eht, colorref_set(0, 0, 255));
  E(U_EMRELLIPSE_set(box(120, 10, 270, 90)));
  emf_brush(et, eht, colorref_set(0, 160, 0));
  U_POINTL tri[3] = {{10, 180}, {60, 100}, {110, 180}};
  E(U_EMRPOLYGON_set(box(10, 100, 110, 180), 3, tri));
  emf_brush(et, eht, colorref_set(200, 200, 0));
  uint32_t counts[2] = {4, 4};
  U_POINTL squares[8] = {{120, 110}, {160, 110}, {160, 150}, {120, 150}, {170, 140}, {200, 140}, {200, 180}, {170, 180}};
  E(U_EMRPOLYPOLYGON_set(box(120, 110, 200, 180), 2, counts, 8, squares));
  emf_brush(et, eht, colorref_set(0, 200, 200));
  E(U_EMRPIE_set(box(210, 100, 280, 185), pointl_set(280, 142), pointl_set(245, 100)));
  uint32_t pen;
  E(createpen_set(&pen, eht, logpen_set(U_PS_SOLID, point_set(1, 1), colorref_set(0, 0, 0))));
  E(selectobject_set(pen, eht));
  U_POINTL line[3] = {{5, 95}, {140, 95}, {140, 5}};
  E(U_EMRPOLYLINE_set(box(5, 5, 140, 95), 3, line));
  emf_end(et, eht);
}

static void emf_state(const char* dir) {
  EMFTRACK* et;
  EMFHANDLES* eht;
  emf_begin(at(dir, "uemf_state.emf"), &et, &eht);
  E(selectobject_set(U_NULL_PEN, eht));
  /* Logical units of a tenth of a pixel. */
  E(U_EMRSETMAPMODE_set(U_MM_ANISOTROPIC));
  E(U_EMRSETWINDOWEXTEX_set(sizel_set(2880, 1920)));
  E(U_EMRSETVIEWPORTEXTEX_set(sizel_set(288, 192)));
  emf_brush(et, eht, colorref_set(255, 128, 0));
  E(U_EMRSAVEDC_set());
  E(U_EMRINTERSECTCLIPRECT_set(box(100, 100, 1000, 700)));
  E(U_EMRSETWORLDTRANSFORM_set(xform_set(2, 0, 0, 2, 0, 0)));
  E(U_EMRRECTANGLE_set(box(0, 0, 800, 800))); /* clipped to 100..1000 x 100..700 */
  E(U_EMRRESTOREDC_set(-1));
  E(U_EMRRECTANGLE_set(box(1200, 100, 1500, 700)));
  char px[48];
  PU_BITMAPINFO bmi = checker(px);
  E(U_EMRSTRETCHDIBITS_set(box(0, 0, 0, 0), pointl_set(1700, 100), pointl_set(960, 960), pointl_set(0, 0),
                           pointl_set(4, 4), U_DIB_RGB_COLORS, U_SRCCOPY, bmi, 48, px));
  free(bmi);
  emf_brush(et, eht, colorref_set(128, 0, 128));
  E(U_EMRBEGINPATH_set());
  U_POINTL curve[4] = {{200, 1800}, {400, 1000}, {1200, 1000}, {1400, 1800}};
  E(U_EMRPOLYBEZIER_set(box(0, 0, 0, 0), 4, curve));
  E(U_EMRCLOSEFIGURE_set());
  E(U_EMRENDPATH_set());
  E(U_EMRFILLPATH_set(box(0, 0, 0, 0)));
  emf_end(et, eht);
}

static void emf_text(const char* dir) {
  EMFTRACK* et;
  EMFHANDLES* eht;
  emf_begin(at(dir, "uemf_text.emf"), &et, &eht);
  uint16_t* face = U_Utf8ToUtf16le("DejaVu Sans", 0, NULL);
  U_LOGFONT lf = logfont_set(-60, 0, 0, 0, 700, 0, 0, 0, U_ANSI_CHARSET, U_OUT_DEFAULT_PRECIS, 0, 0, 0, face);
  free(face);
  char* elf = (char*)&lf;
  uint32_t font;
  E(extcreatefontindirectw_set(&font, eht, elf, NULL));
  E(selectobject_set(font, eht));
  E(U_EMRSETBKMODE_set(U_TRANSPARENT));
  E(U_EMRSETTEXTCOLOR_set(colorref_set(0, 0, 0)));
  E(U_EMRSETTEXTALIGN_set(U_TA_BASELINE));
  size_t n;
  uint16_t* text = U_Utf8ToUtf16le("Metafile", 0, &n);
  uint32_t dx[8] = {60, 41, 29, 40, 26, 21, 21, 41}; /* advances of the bold face at 60 pixels */
  char* emrtext = emrtext_set(pointl_set(4, 120), (U_NUM_STR)n, 2, text, U_ETO_NONE, box(0, 0, -1, -1), dx);
  E(U_EMREXTTEXTOUTW_set(box(0, 0, -1, -1), U_GM_COMPATIBLE, 1, 1, (PU_EMRTEXT)emrtext));
  free(emrtext);
  free(text);
  emf_end(et, eht);
}

/* A placeable file is 3 x 2 inches at 1440 units per inch; a plain one
   takes its size from its window, 288 x 192 units. Either way the picture
   is 288 x 192 pixels, and unit() gives the units per pixel. */
static int unit(int placeable) { return placeable ? 15 : 1; }

static void wmf_begin(const char* file, int placeable, WMFTRACK** wt, WMFHANDLES** wht) {
  wmf_start(file, 65536, 65536, wt);
  wmf_htable_create(64, 64, wht);
  U_PAIRF* size = U_PAIRF_set(3.0f, 2.0f);
  char* rec = U_WMRHEADER_set(placeable ? size : NULL, 1440);
  free(size);
  wmf_header_append((U_METARECORD*)rec, *wt, U_REC_FREE);
  wmf_append((U_METARECORD*)U_WMRSETWINDOWORG_set(point16_set(0, 0)), *wt, U_REC_FREE);
  const int u = unit(placeable);
  wmf_append((U_METARECORD*)U_WMRSETWINDOWEXT_set(point16_set((int16_t)(288 * u), (int16_t)(192 * u))), *wt, U_REC_FREE);
}

static void wmf_end(WMFTRACK* wt, WMFHANDLES* wht) {
  W(U_WMREOF_set());
  wmf_finish(wt);
  wmf_free(&wt);
  wmf_htable_free(&wht);
}

static uint32_t wmf_brush(WMFTRACK* wt, WMFHANDLES* wht, U_COLORREF c) {
  uint32_t h;
  W(wcreatebrushindirect_set(&h, wht, U_WLOGBRUSH_set(U_BS_SOLID, c, 0)));
  W(wselectobject_set(h, wht));
  return h;
}

/* Shapes over a white page, so that renderers which size the picture by
   what it draws see the whole page. Coordinates are given in pixels. The
   placeable file holds what every renderer draws alike; the plain one adds
   rounded corners, an ellipse and a bitmap. */
static void wmf_shapes(const char* dir, const char* name, int placeable) {
  WMFTRACK* wt;
  WMFHANDLES* wht;
  wmf_begin(at(dir, name), placeable, &wt, &wht);
  const int u = unit(placeable);
#define P(x, y) point16_set((int16_t)((x) * u), (int16_t)((y) * u))
  uint32_t pen;
  W(wcreatepenindirect_set(&pen, wht, U_PEN_set(U_PS_NULL, 1, colorref_set(0, 0, 0))));
  W(wselectobject_set(pen, wht));
  wmf_brush(wt, wht, colorref_set(255, 255, 255));
  W(U_WMRRECTANGLE_set(U_RECT16_set(P(0, 0), P(288, 192))));
  wmf_brush(wt, wht, colorref_set(255, 0, 0));
  W(U_WMRRECTANGLE_set(U_RECT16_set(P(10, 10), P(100, 80))));
  wmf_brush(wt, wht, colorref_set(0, 160, 0));
  U_POINT16 tri[3] = {P(10, 180), P(60, 100), P(110, 180)};
  W(U_WMRPOLYGON_set(3, tri));
  wmf_brush(wt, wht, colorref_set(200, 200, 0));
  uint16_t counts[2] = {4, 4};
  U_POINT16 squares[8] = {P(120, 110), P(160, 110), P(160, 150), P(120, 150),
                          P(170, 140), P(200, 140), P(200, 180), P(170, 180)};
  W(U_WMRPOLYPOLYGON_set(2, counts, squares));
  wmf_brush(wt, wht, colorref_set(0, 0, 255));
  if (placeable) {
    W(U_WMRRECTANGLE_set(U_RECT16_set(P(120, 10), P(270, 90))));
    wmf_brush(wt, wht, colorref_set(0, 200, 200));
    W(U_WMRPIE_set(P(280, 142), P(245, 100), U_RECT16_set(P(210, 100), P(280, 185))));
  } else {
    W(U_WMRROUNDRECT_set((int16_t)(30 * u), (int16_t)(30 * u), U_RECT16_set(P(120, 10), P(270, 90))));
    wmf_brush(wt, wht, colorref_set(0, 200, 200));
    W(U_WMRELLIPSE_set(U_RECT16_set(P(10, 100), P(110, 180))));
    char px[48];
    PU_BITMAPINFO bmi = checker(px);
    W(U_WMRSTRETCHDIB_set(P(212, 104), P(64, 64), point16_set(0, 0), point16_set(4, 4), U_DIB_RGB_COLORS,
                          U_SRCCOPY, bmi, 48, px));
    free(bmi);
  }
#undef P
  wmf_end(wt, wht);
}

static void wmf_text(const char* dir) {
  WMFTRACK* wt;
  WMFHANDLES* wht;
  wmf_begin(at(dir, "uemf_text.wmf"), 1, &wt, &wht);
  uint32_t font;
  U_FONT* f = U_FONT_set(-60 * 15, 0, 0, 0, 700, 0, 0, 0, U_ANSI_CHARSET, 0, 0, 0, 0, "DejaVu Sans");
  W(wcreatefontindirect_set(&font, wht, f));
  free(f);
  W(wselectobject_set(font, wht));
  W(U_WMRSETBKMODE_set(U_TRANSPARENT));
  W(U_WMRSETTEXTALIGN_set(U_TA_BASELINE));
  W(U_WMRTEXTOUT_set(point16_set(4 * 15, 120 * 15), "Metafile"));
  wmf_end(wt, wht);
}

/* The left half black, in both kinds: the fingerprint's worked example. */
static void half(const char* dir) {
  EMFTRACK* et;
  EMFHANDLES* eht;
  emf_begin(at(dir, "uemf_half.emf"), &et, &eht);
  E(selectobject_set(U_NULL_PEN, eht));
  E(selectobject_set(U_BLACK_BRUSH, eht));
  E(U_EMRRECTANGLE_set(box(0, 0, 144, 192)));
  emf_end(et, eht);

  WMFTRACK* wt;
  WMFHANDLES* wht;
  wmf_begin(at(dir, "uemf_half.wmf"), 1, &wt, &wht);
  uint32_t pen;
  W(wcreatepenindirect_set(&pen, wht, U_PEN_set(U_PS_NULL, 1, colorref_set(0, 0, 0))));
  W(wselectobject_set(pen, wht));
  wmf_brush(wt, wht, colorref_set(0, 0, 0));
  W(U_WMRRECTANGLE_set(U_RECT16_set(point16_set(0, 0), point16_set(2160, 2880))));
  wmf_end(wt, wht);
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: uemf_samples DIR\n");
    return 2;
  }
  emf_shapes(argv[1]);
  emf_state(argv[1]);
  emf_text(argv[1]);
  wmf_shapes(argv[1], "uemf_shapes.wmf", 1);
  wmf_shapes(argv[1], "uemf_plain.wmf", 0);
  wmf_text(argv[1]);
  half(argv[1]);
  return 0;
}
