#include "GnuGetText.h"

#include <unistd.h>

#include <climits>

#include "platform/Locale.h"

namespace tolvane {

namespace {

constexpr const char* SelfFile = "/proc/self/exe";

struct TTranslationState {
  std::optional<TCatalogueLocation> Location;
  std::string Language = "en";
  std::shared_ptr<const TMoFile> Catalogue;
  std::function<void(const std::string&)> Hook;

  const TCatalogueLocation& Where() {
    if (!Location) Location = TCatalogueLocation::OwnProgram();
    return *Location;
  }
};

// The one translation state of the program; the windows use it from the
// GUI thread only.
TTranslationState& State() {
  static TTranslationState state;
  return state;
}

std::string CatalogueName(const std::string& language) { return "locale/" + language + "/LC_MESSAGES/default.mo"; }

// A catalogue that is missing or damaged is no catalogue: the texts stay English.
std::shared_ptr<const TMoFile> EmbeddedCatalogue(const TCatalogueLocation& location, const std::string& name) {
  if (location.TableOffset == 0) return nullptr;
  try {
    TFileByteSource program(location.ProgramFile);
    std::optional<std::string> data = ReadEmbeddedFile(program, location.TableOffset, name);
    if (data) return std::make_shared<const TMoFile>(*data);
  } catch (const Exception&) {
  }
  return nullptr;
}

std::shared_ptr<const TMoFile> CatalogueFile(const TCatalogueLocation& location, const std::string& name) {
  if (location.ProgramDir.empty()) return nullptr;
  const std::string path = location.ProgramDir + name;
  if (::access(path.c_str(), R_OK) != 0) return nullptr;
  try {
    TFileByteSource file(path);
    if (file.Size() > MaxEmbeddedFileSize) return nullptr;
    return std::make_shared<const TMoFile>(file.ReadAt(0, static_cast<size_t>(file.Size())));
  } catch (const Exception&) {
  }
  return nullptr;
}

}  // namespace

TCatalogueLocation TCatalogueLocation::OwnProgram() {
  TCatalogueLocation location{SelfFile, OwnEmbeddedTableOffset(), {}};
  char path[PATH_MAX];
  ssize_t n = ::readlink(SelfFile, path, sizeof path);
  if (n > 0 && static_cast<size_t>(n) < sizeof path) {
    std::string program(path, static_cast<size_t>(n));
    location.ProgramDir = program.substr(0, program.rfind('/') + 1);
  }
  return location;
}

bool IsLanguageCode(std::string_view code) {
  if (code.empty()) return false;
  for (char c : code) {
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!letter && c != '_' && c != '-' && c != '@') return false;
  }
  return true;
}

std::shared_ptr<const TMoFile> LoadCatalogue(const TCatalogueLocation& location, const std::string& language) {
  // A code from the environment becomes part of a path: nothing but a
  // plain code may ("../x" must not reach outside the catalogue directory).
  if (!IsLanguageCode(language)) return nullptr;
  std::vector<std::string> candidates{language};
  if (language.size() > 2) candidates.push_back(language.substr(0, 2));
  for (const std::string& candidate : candidates) {
    const std::string name = CatalogueName(candidate);
    if (auto catalogue = EmbeddedCatalogue(location, name)) return catalogue;
    if (auto catalogue = CatalogueFile(location, name)) return catalogue;
  }
  return nullptr;
}

void SetCatalogueLocation(TCatalogueLocation location) { State().Location = std::move(location); }

void SelectLanguage(const std::string& language) {
  TTranslationState& state = State();
  state.Catalogue = LoadCatalogue(state.Where(), language);
  state.Language = language;
  if (state.Hook) state.Hook(language);
}

std::string CurrentLanguage() { return State().Language; }

void SelectUserLanguage() { SelectLanguage(UserLanguageCode(TLocaleEnvironment::FromProcess())); }

std::string TranslateText(std::string_view english) {
  const TTranslationState& state = State();
  if (state.Catalogue)
    if (const std::string* text = state.Catalogue->Lookup(english)) return *text;
  return std::string(english);
}

void SetLanguageChangedHook(std::function<void(const std::string& language)> hook) { State().Hook = std::move(hook); }

}  // namespace tolvane
