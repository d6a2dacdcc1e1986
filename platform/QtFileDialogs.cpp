#include "platform/QtFileDialogs.h"

#include <QFileDialog>
#include <QStringList>

namespace tolvane {

namespace {

QString FromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// Qt's filter texts ("Description (pattern pattern)"); the patterns are made
// case-blind because the dialog's own matching may not be, and the dialog is
// told to show only the descriptions.
QStringList QtNameFilters(const std::string& filter) {
  QStringList filters;
  for (const TFilterEntry& entry : ParseDialogFilter(filter)) {
    QStringList globs;
    for (const std::string& pattern : entry.Patterns) globs << FromUtf8(CaseInsensitiveGlob(pattern));
    filters << FromUtf8(entry.Description) + QStringLiteral(" (") + globs.join(QLatin1Char(' ')) +
                   QLatin1Char(')');
  }
  return filters;
}

}  // namespace

bool TQtOpenDialog::Execute() {
  QFileDialog dialog(Owner, FromUtf8(Title), FromUtf8(InitialDir));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  QStringList filters = QtNameFilters(Filter);
  if (!filters.isEmpty()) dialog.setNameFilters(filters);
  if (!FileName.empty()) dialog.selectFile(FromUtf8(FileName));
  if (dialog.exec() != QDialog::Accepted) return false;
  QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return false;
  FileName = chosen.front().toStdString();
  return true;
}

bool TQtSaveDialog::Execute() {
  QFileDialog dialog(Owner, FromUtf8(Title), FromUtf8(InitialDir));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  QStringList filters = QtNameFilters(Filter);
  if (!filters.isEmpty()) dialog.setNameFilters(filters);
  dialog.setDefaultSuffix(FromUtf8(DefaultExt));
  if (!FileName.empty()) dialog.selectFile(FromUtf8(FileName));
  if (dialog.exec() != QDialog::Accepted) return false;
  QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return false;
  FileName = chosen.front().toStdString();
  return true;
}

}  // namespace tolvane
