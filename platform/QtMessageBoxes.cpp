#include "platform/QtMessageBoxes.h"

#include <QFontMetrics>
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

// Breaks every word wider than limit pixels into pieces that fit, one to a
// line, so that a long file name wraps inside the box instead of being cut
// off or running off the screen. Words that fit are left to the label's
// own wrapping.
QString BreakLongWords(const QString& text, const QFontMetrics& metrics, int limit) {
  QStringList lines = text.split(QLatin1Char('\n'));
  for (QString& line : lines) {
    if (metrics.horizontalAdvance(line) <= limit) continue;
    QStringList words = line.split(QLatin1Char(' '));
    for (QString& word : words) {
      if (metrics.horizontalAdvance(word) <= limit) continue;
      QString broken, piece;
      for (qsizetype i = 0; i < word.size();) {
        // A surrogate pair is one character.
        const qsizetype n = word[i].isHighSurrogate() && i + 1 < word.size() ? 2 : 1;
        const QString character = word.mid(i, n);
        if (!piece.isEmpty() && metrics.horizontalAdvance(piece + character) > limit) {
          broken += piece + QLatin1Char('\n');
          piece.clear();
        }
        piece += character;
        i += n;
      }
      word = broken + piece;
    }
    line = words.join(QLatin1Char(' '));
  }
  return lines.join(QLatin1Char('\n'));
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
    int limit = 800;
    if (QScreen* screen = QGuiApplication::primaryScreen()) limit = screen->availableGeometry().width() * 3 / 4;
    body = BreakLongWords(body, label->fontMetrics(), limit);
    box.setText(body);
    int widest = 0;
    for (const QString& line : body.split(QLatin1Char('\n')))
      widest = std::max(widest, label->fontMetrics().horizontalAdvance(line));
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
