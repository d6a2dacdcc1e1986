// The QApplication of a test program, and a way to act on a modal dialog
// that the code under test runs.
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace tolvane::test {

// Once the modal dialog of type T is up, calls act with it (from inside the
// dialog's own event loop).
template <class T>
void WhenModal(std::function<void(T*)> act) {
  QTimer::singleShot(0, [act] {
    if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget()))
      act(dialog);
    else
      WhenModal<T>(act);
  });
}

}  // namespace tolvane::test
