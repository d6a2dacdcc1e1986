// The translation of windows: every text property of a window and of the
// objects it owns keeps, as two dynamic properties, its English original
// and the text last shown, so that it can be translated again from English
// and a text that the program has set since can be told apart.
#include <QAbstractButton>
#include <QAction>
#include <QCoreApplication>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTranslator>
#include <QWidget>

#include "GnuGetText.h"

namespace tolvane {

namespace {

constexpr const char* PlainTextProperty = "plainText";
// QFileDialog keeps its filters without a property of their own.
constexpr const char* FiltersProperty = "nameFilters";

QByteArray OriginalKey(const char* property) { return QByteArray("tolvane.en.") + property; }
QByteArray ShownKey(const char* property) { return QByteArray("tolvane.shown.") + property; }

// The translated text properties of object.
std::vector<const char*> TextProperties(QObject* object) {
  std::vector<const char*> names;
  if (auto* action = qobject_cast<QAction*>(object)) {
    // A menu's own action mirrors the menu's title, which is translated.
    auto* menu = qobject_cast<QMenu*>(action->parent());
    if (!menu || menu->menuAction() != action) names.push_back("text");
    return names;
  }
  auto* widget = qobject_cast<QWidget*>(object);
  if (!widget) return names;
  if (widget->isWindow()) names.push_back("windowTitle");
  names.push_back("toolTip");
  if (qobject_cast<QLabel*>(object) || qobject_cast<QAbstractButton*>(object)) names.push_back("text");
  if (qobject_cast<QGroupBox*>(object) || qobject_cast<QMenu*>(object)) names.push_back("title");
  if (qobject_cast<QPlainTextEdit*>(object)) names.push_back(PlainTextProperty);
  if (qobject_cast<QLineEdit*>(object)) names.push_back("placeholderText");
  if (qobject_cast<QFileDialog*>(object)) names.push_back(FiltersProperty);
  return names;
}

bool Is(const char* property, const char* name) { return std::string_view(property) == name; }

QVariant ReadProperty(QObject* object, const char* property) {
  if (auto* dialog = qobject_cast<QFileDialog*>(object); dialog && Is(property, FiltersProperty))
    return dialog->nameFilters();
  return object->property(property);
}

void WriteProperty(QObject* object, const char* property, const QVariant& value) {
  if (auto* dialog = qobject_cast<QFileDialog*>(object); dialog && Is(property, FiltersProperty))
    dialog->setNameFilters(value.toStringList());
  else object->setProperty(property, value);
}

QString Tr(const QString& english) {
  if (english.isEmpty()) return english;
  return QString::fromStdString(TranslateText(english.toStdString()));
}

// A memo is translated as a whole when the catalogue knows the whole text,
// else line by line.
QString TrMemo(const QString& english) {
  QString whole = Tr(english);
  if (whole != english || !english.contains(QLatin1Char('\n'))) return whole;
  QStringList lines = english.split(QLatin1Char('\n'));
  for (QString& line : lines) line = Tr(line);
  return lines.join(QLatin1Char('\n'));
}

QVariant Translated(const char* property, const QVariant& english) {
  if (english.typeId() == QMetaType::QStringList) {
    QStringList items = english.toStringList();
    for (QString& item : items) item = Tr(item);
    return items;
  }
  if (Is(property, PlainTextProperty)) return TrMemo(english.toString());
  return Tr(english.toString());
}

bool IsEmptyText(const QVariant& value) {
  if (value.typeId() == QMetaType::QStringList) return value.toStringList().isEmpty();
  return value.toString().isEmpty();
}

void Show(QObject* object, const char* property, const QVariant& english) {
  QVariant text = Translated(property, english);
  WriteProperty(object, property, text);
  // What the property holds now, as the widget keeps it (a memo drops a
  // trailing line break), so that the next comparison is exact.
  object->setProperty(ShownKey(property), ReadProperty(object, property));
}

void Forget(QObject* object, const char* property) {
  object->setProperty(OriginalKey(property), QVariant());
  object->setProperty(ShownKey(property), QVariant());
}

// Translates one property again from its original; a text that the program
// set since the last translation stays, and the property is forgotten.
// An unrecorded property is recorded first when record is set.
void TranslateProperty(QObject* object, const char* property, bool record) {
  QVariant original = object->property(OriginalKey(property));
  if (!original.isValid()) {
    if (!record) return;
    original = ReadProperty(object, property);
    if (IsEmptyText(original)) return;
    object->setProperty(OriginalKey(property), original);
  } else if (ReadProperty(object, property) != object->property(ShownKey(property))) {
    Forget(object, property);
    return;
  }
  Show(object, property, original);
}

// root and every object it owns, with the actions of its widgets; setting
// a text may make or drop helper objects, so each is held by a guard.
QList<QPointer<QObject>> ObjectsOf(QObject* root) {
  QList<QPointer<QObject>> objects{root};
  for (QObject* child : root->findChildren<QObject*>()) objects.append(child);
  for (QObject* object : root->findChildren<QWidget*>())
    for (QAction* action : static_cast<QWidget*>(object)->actions())
      if (!objects.contains(action)) objects.append(action);
  return objects;
}

void Walk(QObject* root, bool record) {
  for (const QPointer<QObject>& object : ObjectsOf(root))
    if (object)
      for (const char* property : TextProperties(object.data())) TranslateProperty(object.data(), property, record);
}

// Qt's own texts (the buttons of message boxes, the file dialog) in the
// current language, from the toolkit's catalogues when they are installed.
void LoadToolkitTranslation(const std::string& language) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  // Owned by the application; deleting it takes it out of use.
  static QPointer<QTranslator> current;
  delete current.data();
  auto* translator = new QTranslator(app);
  const QString directory = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (IsLanguageCode(language) && language != "en" &&
      translator->load(QStringLiteral("qtbase_") + QString::fromStdString(language), directory)) {
    QCoreApplication::installTranslator(translator);
    current = translator;
  } else {
    delete translator;
  }
}

}  // namespace

void TranslateComponent(QObject* root) { Walk(root, true); }

void RetranslateComponent(QObject* root) { Walk(root, false); }

void SetTranslatedProperty(QObject* object, const char* property, std::string_view english) {
  QVariant original = QString::fromUtf8(english.data(), static_cast<qsizetype>(english.size()));
  object->setProperty(OriginalKey(property), original);
  Show(object, property, original);
}

void FollowLanguageInToolkit() {
  SetLanguageChangedHook(LoadToolkitTranslation);
  LoadToolkitTranslation(CurrentLanguage());
}

}  // namespace tolvane
