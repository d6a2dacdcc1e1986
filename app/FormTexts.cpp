#include "FormTexts.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTextDocument>
#include <QWidget>

#include "GnuGetText.h"

namespace tolvane {

namespace {

// The property that holds object's caption.
const char* CaptionProperty(QObject* object) {
  if (qobject_cast<QAction*>(object) || qobject_cast<QLabel*>(object) || qobject_cast<QAbstractButton*>(object))
    return "text";
  if (qobject_cast<QMenu*>(object) || qobject_cast<QGroupBox*>(object)) return "title";
  if (qobject_cast<QPlainTextEdit*>(object)) return "plainText";
  return "windowTitle";
}

}  // namespace

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void SetCaption(QObject* object, const char* english) {
  SetTranslatedProperty(object, CaptionProperty(object), english);
}

void SetPlainCaption(QObject* object, const QString& text) { object->setProperty(CaptionProperty(object), text); }

void SetHint(QWidget* widget, const char* english) { SetTranslatedProperty(widget, "toolTip", english); }

QString PlainToolTip(const QString& text) {
  return text.isEmpty() ? text : Qt::convertFromPlainText(text, Qt::WhiteSpaceNoWrap);
}

void CentreOnScreen(QWidget* window) {
  QScreen* screen = window->screen();
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect frame = window->frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  window->move(frame.topLeft());
}

}  // namespace tolvane
