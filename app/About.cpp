#include "About.h"

#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>

#include "FormTexts.h"
#include "GnuGetText.h"

namespace tolvane {

namespace {

constexpr const char* Notice =
    "This program is free to use, copy and give away unchanged, at home and at work. "
    "It comes with no warranty of any kind: you use it at your own risk, and the author "
    "is not liable for lost data or any other damage. Tolvane, its pictures and its "
    "texts are the author's work; all rights not granted here are reserved.\n"
    "Contact and updates: https://tolvane.example/";

constexpr const char* Thanks =
    "Thanks to everybody who tested Tolvane, reported faults and suggested "
    "improvements, and to the translators of its Polish and German texts.\n"
    "\n"
    "Tolvane uses these libraries, with thanks to their authors:\n"
    "\n"
    "- libjpeg-turbo: the libjpeg-turbo Project, building on the work of the "
    "Independent JPEG Group.\n"
    "- zlib: Jean-loup Gailly and Mark Adler.\n"
    "- OpenJPEG: the Université catholique de Louvain, CNES, CS Systèmes "
    "d'Information and the OpenJPEG contributors.\n"
    "- Qt: The Qt Company Ltd. and the Qt contributors.\n"
    "- GNU gettext: the Free Software Foundation.";

// One photograph of the picture: a white-framed print with a sky, a sun and
// hills, turned by angle degrees about its centre.
void DrawPhoto(QPainter& p, const QRectF& r, qreal angle, const QColor& sky, const QColor& hill) {
  p.save();
  p.translate(r.center());
  p.rotate(angle);
  QRectF frame(-r.width() / 2, -r.height() / 2, r.width(), r.height());
  p.setPen(QPen(QColor(60, 60, 60, 120), r.width() / 40));
  p.setBrush(Qt::white);
  p.drawRoundedRect(frame, r.width() / 24, r.width() / 24);
  QRectF inner = frame.adjusted(r.width() / 12, r.width() / 12, -r.width() / 12, -r.width() / 12);
  QLinearGradient g(inner.topLeft(), inner.bottomLeft());
  g.setColorAt(0, sky.lighter(130));
  g.setColorAt(1, sky);
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawRect(inner);
  p.setBrush(QColor(255, 214, 80));
  qreal sun = inner.width() / 6;
  p.drawEllipse(QPointF(inner.right() - 1.6 * sun, inner.top() + 1.6 * sun), sun, sun);
  QPainterPath hills;
  hills.moveTo(inner.bottomLeft());
  hills.lineTo(inner.left(), inner.bottom() - inner.height() * 0.35);
  hills.quadTo(inner.left() + inner.width() * 0.3, inner.bottom() - inner.height() * 0.75,
               inner.left() + inner.width() * 0.55, inner.bottom() - inner.height() * 0.4);
  hills.quadTo(inner.left() + inner.width() * 0.8, inner.bottom() - inner.height() * 0.6, inner.right(),
               inner.bottom() - inner.height() * 0.3);
  hills.lineTo(inner.bottomRight());
  hills.closeSubpath();
  p.setBrush(hill);
  p.drawPath(hills);
  p.restore();
}

}  // namespace

QPixmap ProgramPicture(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  DrawPhoto(p, QRectF(0.04 * s, 0.10 * s, 0.62 * s, 0.52 * s), -10, QColor(70, 130, 200), QColor(60, 140, 70));
  DrawPhoto(p, QRectF(0.32 * s, 0.36 * s, 0.62 * s, 0.52 * s), 8, QColor(70, 130, 200), QColor(60, 140, 70));
  // The magnifier that finds the second print's twin.
  p.setPen(QPen(QColor(40, 40, 40), s / 14, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(0.70 * s, 0.70 * s), QPointF(0.92 * s, 0.92 * s));
  p.setPen(QPen(QColor(40, 40, 40), s / 22));
  p.setBrush(QColor(255, 255, 255, 90));
  p.drawEllipse(QPointF(0.58 * s, 0.58 * s), 0.17 * s, 0.17 * s);
  return pixmap;
}

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
  SetCaption(this, "About");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(391, 294);
  setModal(true);
  QFont f = font();
  f.setPixelSize(12);
  setFont(f);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::white);
  setPalette(pal);

  ProgramIcon = new QLabel(this);
  ProgramIcon->setGeometry(8, 8, 80, 80);
  ProgramIcon->setPixmap(ProgramPicture(80));

  Label2 = new QLabel(this);
  SetCaption(Label2, "Tolvane");
  QFont bold = f;
  bold.setBold(true);
  bold.setPixelSize(20);
  Label2->setFont(bold);
  Label2->setGeometry(100, 8, 283, 28);

  Label1 = new QLabel(this);
  SetCaption(Label1, Notice);
  QFont small = f;
  small.setPixelSize(10);
  Label1->setFont(small);
  Label1->setWordWrap(true);
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label1->setTextInteractionFlags(Qt::TextSelectableByMouse);
  Label1->setGeometry(100, 38, 283, 112);

  Memo1 = new QPlainTextEdit(this);
  SetCaption(Memo1, Thanks);
  Memo1->setReadOnly(true);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setGeometry(8, 156, 375, 96);

  OKButton = new QPushButton(this);
  SetCaption(OKButton, "OK");
  OKButton->setDefault(true);
  OKButton->setGeometry(158, 260, 75, 26);
  connect(OKButton, &QPushButton::clicked, this, [this] { done(1); });
  FormCreate();
}

void TAboutBox::FormCreate() { TranslateComponent(this); }

void TAboutBox::FormShow() {
  if (ChooseLanguage) ChooseLanguage();
  RetranslateComponent(this);
}

void TAboutBox::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CentreOnScreen(this);
  FormShow();
}

}  // namespace tolvane
