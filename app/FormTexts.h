// Texts of ravelk's windows that follow the language: a caption or hint set
// from its English original, so that RetranslateComponent translates it
// again after a change of language.
#pragma once

#include <QString>

#include <string>

class QObject;
class QWidget;

namespace tolvane {

QString FromUtf8(const std::string& text);

// Sets the caption of object (a window's title, a label's or button's text,
// a group box's or menu's title, an action's text, a memo's lines) from its
// English original, in the current language.
void SetCaption(QObject* object, const char* english);
// Sets a caption that is not translated (a file name, a number).
void SetPlainCaption(QObject* object, const QString& text);
// Sets the hint (tool tip) of widget from its English original.
void SetHint(QWidget* widget, const char* english);
// A tool tip that shows text as it stands: tool tips take text that looks
// like markup for markup, and a file name may ("<b>a</b>.jpg").
QString PlainToolTip(const QString& text);

// Moves a window (a dialog being shown) to the middle of its screen, where
// the secondary windows open rather than over the main window.
void CentreOnScreen(QWidget* window);

}  // namespace tolvane
