// The image control of the previews: a picture drawn through the picture
// framework into a rectangle of the control, proportionally and centred.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

#include <functional>

#include "picture/Graphics.h"

namespace tolvane {

// Where a picture of w x h is drawn in a client area of cw x ch. With
// stretch, or proportional and a picture larger than the client area, the
// picture is scaled to fit (keeping its aspect ratio when proportional);
// with center the rectangle is centred (offsets truncated toward zero).
TRect ImageDestinationRect(int32_t w, int32_t h, int32_t cw, int32_t ch, bool center, bool proportional,
                           bool stretch);

// The pixels of a 24-bit bitmap as an image (null for another layout).
QImage BitmapToImage(TBitmap& bitmap);

class TImage : public QWidget {
public:
  explicit TImage(QWidget* parent = nullptr);

  TPicture& Picture() { return FPicture; }
  // Empties the control.
  void ReplacePicture(std::nullptr_t);
  TRect DestinationRect();
  // Draws the picture into DestinationRect through the framework and shows
  // the result; what drawing raises (a damaged JPEG) leaves the control empty
  // and is passed on.
  void PaintImage();
  // What the control shows: DestinationRect's pixels (null when empty).
  const QImage& ShownImage() const { return FShown; }

  bool Center = true;
  bool Proportional = true;
  bool Stretch = true;
  // Behind transparent pictures.
  QColor Background = Qt::black;
  // A click with the left button.
  std::function<void()> OnClick;

protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

private:
  TPicture FPicture;
  QImage FShown;
  QRect FShownRect;
};

}  // namespace tolvane
