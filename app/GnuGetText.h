// Translation of ravelk's texts into the user's language.
//
// Catalogues are binary message catalogues (the format that msgfmt writes),
// text domain "default", one per language, keyed by the English texts. They
// travel inside the program file: a build step appends them behind the
// program image together with a table of files, and writes the table's
// offset into a record of the program's own data. Catalogues beside the
// program ("locale/<language>/LC_MESSAGES/default.mo") serve when the table
// has none.
//
// The windows are translated by TranslateComponent and RetranslateComponent
// (GnuGetTextQt.cpp, with Qt); everything else here is free of Qt.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "picture/Classes.h"
#include "picture/SysUtils.h"
#include "platform/UniqueFd.h"

class QObject;

namespace tolvane {

TOLVANE_EXCEPTION(EMoFileError, Exception);
TOLVANE_EXCEPTION(EEmbeddedTableError, Exception);

namespace GetTextConst {
inline constexpr const char* SMoTooShort = "Message catalogue is too short";
inline constexpr const char* SMoBadMagic = "Not a message catalogue";
inline constexpr const char* SMoBadRevision = "Unsupported message catalogue revision %d";
inline constexpr const char* SMoBadTable = "Message catalogue's string table lies outside the file";
inline constexpr const char* SMoBadString = "Message catalogue's string %d lies outside the file";
inline constexpr const char* STableOutside = "Embedded file table: entry at %d lies outside the program file";
inline constexpr const char* SDataOutside = "Embedded file table: data of \"%s\" lies outside the program file";
inline constexpr const char* STableTooLong = "Embedded file table: more than %d entries";
inline constexpr const char* SNoMarker = "The program file holds no marker for embedded files";
inline constexpr const char* SManyMarkers = "The program file holds the marker for embedded files %d times";
inline constexpr const char* SNameTooLong = "Embedded file name too long: \"%s\"";
}  // namespace GetTextConst

// ---------------------------------------------------------------------------
// Message catalogues

// One catalogue, read from memory and checked completely when it is made:
// a malformed one raises EMoFileError and is never half used. Of a plural
// entry the singular is the key and the first form the translation; entries
// with a context and empty translations are left out.
class TMoFile {
public:
  explicit TMoFile(std::string_view data);

  // The translation of msgid; nullptr when the catalogue has none.
  const std::string* Lookup(std::string_view msgid) const;
  size_t Count() const { return FEntries.size(); }
  // The catalogue's header (the translation of the empty text).
  const std::string& Header() const { return FHeader; }
  // Every entry, for the tests of the catalogues.
  const std::unordered_map<std::string, std::string>& Entries() const { return FEntries; }

private:
  std::unordered_map<std::string, std::string> FEntries;
  std::string FHeader;
};

// ---------------------------------------------------------------------------
// Files appended to the program file

// A record of the program file: the marker text followed by the 64-bit
// little-endian offset of the table (0 while nothing is appended).
inline constexpr size_t EmbeddedMarkerSize = 36;
inline constexpr size_t EmbeddedRecordSize = EmbeddedMarkerSize + 8;
// One entry of the table: next entry, data offset, data size (each 64-bit
// little-endian), then the name, padded with blanks. An 8-byte zero where an
// entry would begin ends the chain.
inline constexpr size_t EmbeddedEntrySize = 256;
inline constexpr size_t EmbeddedNameSize = EmbeddedEntrySize - 24;
// More entries than this are taken for a damaged (or looping) chain.
inline constexpr int MaxEmbeddedEntries = 1024;
// No catalogue is this large; a larger entry is taken for damage.
inline constexpr uint64_t MaxEmbeddedFileSize = 64u << 20;

// The marker, read from the program's own record (so that its text stands
// once in the program file, where the build step looks for it).
std::string_view EmbeddedMarker();
// The table's offset in the program's own record.
uint64_t OwnEmbeddedTableOffset();

struct TEmbeddedFile {
  std::string Name;  // relative to the program's directory, with "/"
  uint64_t Offset = 0;
  uint64_t Size = 0;
};

// Bytes of a file or of memory, read at an offset.
class TByteSource {
public:
  virtual ~TByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Reads count bytes at offset, which the caller has checked against Size().
  virtual std::string ReadAt(uint64_t offset, size_t count) const = 0;
};

class TMemoryByteSource : public TByteSource {
public:
  explicit TMemoryByteSource(std::string_view bytes) : FBytes(bytes) {}
  uint64_t Size() const override { return FBytes.size(); }
  std::string ReadAt(uint64_t offset, size_t count) const override;

private:
  std::string_view FBytes;
};

// A regular file opened for reading through the framework's file stream,
// so that a FIFO or device in its place never blocks; raises EFOpenError
// when it cannot be opened.
class TFileByteSource : public TByteSource {
public:
  explicit TFileByteSource(const std::string& fileName);
  uint64_t Size() const override { return FSize; }
  std::string ReadAt(uint64_t offset, size_t count) const override;

private:
  // Reading moves the stream's position, which is no state of the source.
  mutable TFileStream FStream;
  uint64_t FSize = 0;
};

// The table that starts at tableOffset (empty for offset 0). Every offset
// and size is checked against the source's size; a damaged table raises
// EEmbeddedTableError.
std::vector<TEmbeddedFile> ReadEmbeddedTable(const TByteSource& source, uint64_t tableOffset);
// The data of file name in the table, if the table lists it.
std::optional<std::string> ReadEmbeddedFile(const TByteSource& source, uint64_t tableOffset, std::string_view name);

// Where the marker record stands in program, which must hold it exactly
// once; raises EEmbeddedTableError otherwise.
uint64_t FindEmbeddedRecord(std::string_view program);

struct TFileToEmbed {
  std::string Name;
  std::string Data;
};
// Appends files and their table to the program file and writes the table's
// offset into its record. A table appended before is cut off first, so that
// doing it again leaves one table.
void AppendEmbeddedFiles(const std::string& programFile, const std::vector<TFileToEmbed>& files);

// ---------------------------------------------------------------------------
// The current language

// Where catalogues are looked for.
struct TCatalogueLocation {
  std::string ProgramFile;  // the file whose appended table is read
  uint64_t TableOffset = 0; // where that table starts (0: none)
  std::string ProgramDir;   // where catalogue files are looked for, with "/"

  // This program: its own file and record, and its directory.
  static TCatalogueLocation OwnProgram();
};

// The catalogue of language from location: first in the appended table,
// then on disk, for the whole code and then for its first two letters
// ("pl_PL", then "pl"). Null when there is none, or only damaged ones.
std::shared_ptr<const TMoFile> LoadCatalogue(const TCatalogueLocation& location, const std::string& language);

// Whether code can name a catalogue directory (letters, digits, "_", "-", "@").
bool IsLanguageCode(std::string_view code);

// Sets where catalogues come from; until it is called, this program.
void SetCatalogueLocation(TCatalogueLocation location);
// Makes language ("en", "pl", "de", or a code such as "pl_PL") the current
// language of the whole program and loads its catalogue.
void SelectLanguage(const std::string& language);
// The language as last selected ("pl_PL" when the environment said so).
std::string CurrentLanguage();
// The language of the environment (LANG, else LC_ALL / LC_MESSAGES, else
// the C library's locale), selected.
void SelectUserLanguage();
// The current translation of an English text; the text itself when the
// catalogue has none.
std::string TranslateText(std::string_view english);

// Runs after every SelectLanguage (the toolkit's own texts follow it).
void SetLanguageChangedHook(std::function<void(const std::string& language)> hook);

// ---------------------------------------------------------------------------
// Windows (Qt)

// Translates every text of root and of the objects it owns (window titles,
// captions of labels, buttons, group boxes, menus and actions, tool tips,
// memo lines, placeholder texts, file dialog filters) and remembers, per
// property, the English original and the text shown.
void TranslateComponent(QObject* root);
// Translates root again from the English originals after a language
// change. A property whose text the program has changed since it was last
// translated keeps the program's text and is no longer translated.
void RetranslateComponent(QObject* root);
// Sets a text property of object from its English original, in the current
// language, so that retranslation follows it.
void SetTranslatedProperty(QObject* object, const char* property, std::string_view english);
// Lets the toolkit's own texts (standard buttons, the file dialog) follow
// the language, from the toolkit's catalogues where they are installed.
void FollowLanguageInToolkit();

}  // namespace tolvane
