#include "GnuGetText.h"
#include "picture/ByteOrder.h"

namespace tolvane {

namespace {

constexpr uint32_t MoMagic = 0x950412de;
constexpr size_t MoHeaderSize = 28;

// Words of the catalogue in the byte order that its magic number tells.
class TMoWords {
public:
  explicit TMoWords(std::string_view data) : FData(data) {
    if (data.size() < MoHeaderSize) throw EMoFileError(GetTextConst::SMoTooShort);
    uint32_t magic = Word(0);
    if (magic != MoMagic) {
      FSwapped = true;
      if (Word(0) != MoMagic) throw EMoFileError(GetTextConst::SMoBadMagic);
    }
  }

  // The word at offset, which the caller has checked to lie in the data.
  uint32_t Word(uint64_t offset) const {
    const auto* p = reinterpret_cast<const unsigned char*>(FData.data() + offset);
    return Load32(p, FSwapped);
  }

  // String i of the table at tableOffset: its length and offset, checked to
  // lie in the data with the NUL that ends it.
  std::string_view String(uint64_t tableOffset, uint32_t i) const {
    uint64_t entry = tableOffset + uint64_t(i) * 8;
    uint64_t length = Word(entry), offset = Word(entry + 4);
    if (offset >= FData.size() || length >= FData.size() - offset || FData[offset + length] != '\0')
      throw EMoFileError(Format(GetTextConst::SMoBadString, {i}));
    return FData.substr(offset, length);
  }

  uint64_t Size() const { return FData.size(); }

private:
  std::string_view FData;
  bool FSwapped = false;
};

// The text up to the first NUL: a plural entry's singular or first form.
std::string_view FirstForm(std::string_view s) { return s.substr(0, s.find('\0')); }

}  // namespace

TMoFile::TMoFile(std::string_view data) {
  TMoWords words(data);
  const uint32_t revision = words.Word(4);
  // Major revisions 0 and 1 share the string tables; 1 adds tables of
  // system-dependent strings, which nothing here needs.
  if ((revision >> 16) > 1) throw EMoFileError(Format(GetTextConst::SMoBadRevision, {revision >> 16}));
  const uint64_t count = words.Word(8), originals = words.Word(12), translations = words.Word(16);
  for (uint64_t table : {originals, translations})
    if (table > words.Size() || count > (words.Size() - table) / 8) throw EMoFileError(GetTextConst::SMoBadTable);

  FEntries.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    std::string_view original = words.String(originals, i);
    std::string_view translation = words.String(translations, i);
    if (original.empty()) {
      FHeader = translation;
      continue;
    }
    // "context\x04text": a text for one context only, which nothing here asks for.
    if (original.find('\x04') != std::string_view::npos) continue;
    std::string_view shown = FirstForm(translation);
    if (shown.empty()) continue;
    FEntries.emplace(FirstForm(original), shown);
  }
}

const std::string* TMoFile::Lookup(std::string_view msgid) const {
  auto it = FEntries.find(std::string(msgid));
  return it == FEntries.end() ? nullptr : &it->second;
}

}  // namespace tolvane
