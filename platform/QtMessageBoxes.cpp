#include "platform/QtMessageBoxes.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QString>

#include <algorithm>
#include <array>
#include <utility>

namespace tolvane {

namespace {

constexpr std::array<std::pair<TMessageButton, QMessageBox::StandardButton>, 7> ButtonMap{{
    {mbOK, QMessageBox::Ok},
    {mbCancel, QMessageBox::Cancel},
    {mbYes, QMessageBox::Yes},
    {mbNo, QMessageBox::No},
    {mbAbort, QMessageBox::Abort},
    {mbRetry, QMessageBox::Retry},
    {mbIgnore, QMessageBox::Ignore},
}};

QMessageBox::Icon IconOf(TMessageKind kind) {
  switch (kind) {
    case TMessageKind::mkInformation: return QMessageBox::Information;
    case TMessageKind::mkWarning: return QMessageBox::Warning;
    case TMessageKind::mkError: return QMessageBox::Critical;
    case TMessageKind::mkQuestion: return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

QString FromUtf8(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// The answer when the box is closed without a button.
TMessageButton EscapeAnswer(TMessageButtons buttons) {
  for (TMessageButton b : {mbCancel, mbNo})
    if (buttons & b) return b;
  for (const auto& [ours, theirs] : ButtonMap)
    if (buttons & ours) return ours;
  return mbOK;
}

}  // namespace

TMessageButton TQtMessageBoxes::ShowMessageBox(TMessageKind kind, TMessageButtons buttons, std::string_view text,
                                               std::string_view caption) {
  if ((buttons & (mbOK | mbCancel | mbYes | mbNo | mbAbort | mbRetry | mbIgnore)) == 0) buttons = mbOK;
  QMessageBox::StandardButtons qtButtons;
  for (const auto& [ours, theirs] : ButtonMap)
    if (buttons & ours) qtButtons |= theirs;

  QString body = FromUtf8(text);
  body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QMessageBox box(IconOf(kind), FromUtf8(caption.empty() ? MessageKindCaption(kind) : caption), body, qtButtons,
                  Owner);
  // File names in texts must never be taken for markup.
  box.setTextFormat(Qt::PlainText);
  // Lines are broken where the text breaks them: the box grows to its
  // widest line (up to most of the screen) instead of wrapping at half width.
  if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
    int widest = 0;
    for (const QString& line : body.split(QLatin1Char('\n')))
      widest = std::max(widest, label->fontMetrics().horizontalAdvance(line));
    int limit = 800;
    if (QScreen* screen = QGuiApplication::primaryScreen()) limit = screen->availableGeometry().width() * 3 / 4;
    label->setMinimumWidth(std::min(widest + 2, limit));
  }
  TMessageButton escape = EscapeAnswer(buttons);
  for (const auto& [ours, theirs] : ButtonMap)
    if (ours == escape) box.setEscapeButton(theirs);

  int answer = box.exec();
  for (const auto& [ours, theirs] : ButtonMap)
    if ((buttons & ours) && answer == theirs) return ours;
  return escape;
}

}  // namespace tolvane
