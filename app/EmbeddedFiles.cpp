#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <vector>

#include "GnuGetText.h"
#include "platform/UniqueFd.h"

// The record that the build step finds in the program file and into which
// it writes the offset of the appended table. It lives in writable data
// with external linkage, and its offset is read through a volatile pointer:
// the compiler must not take the zero it sees here for the value, since the
// file is changed after linking.
[[gnu::used]] alignas(8) char TolvaneEmbeddedRecord[tolvane::EmbeddedRecordSize] =
    "6637DB2E-62E1-4A60-AC19-C23867046A89";

namespace tolvane {

namespace {

uint64_t GetLE64(std::string_view bytes, size_t at) {
  uint64_t v = 0;
  for (size_t i = 8; i-- > 0;) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
  return v;
}

void PutLE64(std::string& bytes, size_t at, uint64_t v) {
  for (size_t i = 0; i < 8; ++i) bytes[at + i] = static_cast<char>(v >> (8 * i) & 0xFF);
}

std::string EntryName(std::string_view field) {
  size_t end = field.find_last_not_of(std::string_view(" \0", 2));
  std::string name(field.substr(0, end == std::string_view::npos ? 0 : end + 1));
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

std::string ReadWholeFile(const std::string& fileName) {
  std::vector<uint8_t> bytes = ReadFileBytes(fileName);
  return std::string(bytes.begin(), bytes.end());
}

void WriteAllAt(int fd, std::string_view bytes, uint64_t offset) {
  while (!bytes.empty()) {
    ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) RaiseInOutError(n < 0 ? errno : EIO);
    bytes.remove_prefix(static_cast<size_t>(n));
    offset += static_cast<uint64_t>(n);
  }
}

// Where the area appended behind the image begins: the table's start or
// the first file's data, whichever comes first.
uint64_t AppendedAreaStart(std::string_view program, uint64_t record) {
  uint64_t table = GetLE64(program, record + EmbeddedMarkerSize);
  if (table == 0) return program.size();
  TMemoryByteSource source(program);
  uint64_t start = table;
  for (const TEmbeddedFile& f : ReadEmbeddedTable(source, table)) start = std::min(start, f.Offset);
  if (start < record + EmbeddedRecordSize) throw EEmbeddedTableError(Format(GetTextConst::STableOutside, {table}));
  return start;
}

}  // namespace

std::string_view EmbeddedMarker() { return std::string_view(TolvaneEmbeddedRecord, EmbeddedMarkerSize); }

uint64_t OwnEmbeddedTableOffset() {
  const volatile char* p = TolvaneEmbeddedRecord + EmbeddedMarkerSize;
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(p[i]);
  return v;
}

std::string TMemoryByteSource::ReadAt(uint64_t offset, size_t count) const {
  return std::string(FBytes.substr(offset, count));
}

TFileByteSource::TFileByteSource(const std::string& fileName)
    : FStream(fileName, fmOpenRead | fmShareDenyWrite), FSize(static_cast<uint64_t>(FStream.Size())) {}

std::string TFileByteSource::ReadAt(uint64_t offset, size_t count) const {
  std::string bytes(count, '\0');
  // Past the end (the file has shrunk since it was opened) the read falls
  // short and raises.
  if (offset > static_cast<uint64_t>(INT64_MAX)) throw EReadError(SysConst::SReadError);
  FStream.SetPosition(static_cast<int64_t>(offset));
  FStream.ReadExact(bytes.data(), count);
  return bytes;
}

std::vector<TEmbeddedFile> ReadEmbeddedTable(const TByteSource& source, uint64_t tableOffset) {
  std::vector<TEmbeddedFile> files;
  const uint64_t size = source.Size();
  for (uint64_t pos = tableOffset; pos != 0;) {
    if (pos > size || size - pos < 8) throw EEmbeddedTableError(Format(GetTextConst::STableOutside, {pos}));
    std::string next = source.ReadAt(pos, 8);
    if (GetLE64(next, 0) == 0) break;
    if (files.size() == MaxEmbeddedEntries)
      throw EEmbeddedTableError(Format(GetTextConst::STableTooLong, {MaxEmbeddedEntries}));
    if (size - pos < EmbeddedEntrySize) throw EEmbeddedTableError(Format(GetTextConst::STableOutside, {pos}));
    std::string entry = source.ReadAt(pos, EmbeddedEntrySize);
    TEmbeddedFile f{EntryName(std::string_view(entry).substr(24)), GetLE64(entry, 8), GetLE64(entry, 16)};
    if (f.Offset > size || f.Size > size - f.Offset || f.Size > MaxEmbeddedFileSize)
      throw EEmbeddedTableError(Format(GetTextConst::SDataOutside, {f.Name}));
    files.push_back(std::move(f));
    pos = GetLE64(entry, 0);
  }
  return files;
}

std::optional<std::string> ReadEmbeddedFile(const TByteSource& source, uint64_t tableOffset, std::string_view name) {
  for (const TEmbeddedFile& f : ReadEmbeddedTable(source, tableOffset))
    if (f.Name == name) return source.ReadAt(f.Offset, static_cast<size_t>(f.Size));
  return std::nullopt;
}

uint64_t FindEmbeddedRecord(std::string_view program) {
  const std::string_view marker = EmbeddedMarker();
  size_t found = program.find(marker);
  if (found == std::string_view::npos || program.size() - found < EmbeddedRecordSize)
    throw EEmbeddedTableError(GetTextConst::SNoMarker);
  int count = 1;
  for (size_t at = program.find(marker, found + 1); at != std::string_view::npos; at = program.find(marker, at + 1))
    ++count;
  if (count > 1) throw EEmbeddedTableError(Format(GetTextConst::SManyMarkers, {count}));
  return found;
}

void AppendEmbeddedFiles(const std::string& programFile, const std::vector<TFileToEmbed>& files) {
  std::string program = ReadWholeFile(programFile);
  const uint64_t record = FindEmbeddedRecord(program);
  const uint64_t start = AppendedAreaStart(program, record);

  std::string area;
  std::vector<uint64_t> offsets;
  for (const TFileToEmbed& f : files) {
    if (f.Name.size() > EmbeddedNameSize) throw EEmbeddedTableError(Format(GetTextConst::SNameTooLong, {f.Name}));
    offsets.push_back(start + area.size());
    area += f.Data;
  }
  const uint64_t table = files.empty() ? 0 : start + area.size();
  for (size_t i = 0; i < files.size(); ++i) {
    std::string entry(EmbeddedEntrySize, ' ');
    PutLE64(entry, 0, table + (i + 1) * EmbeddedEntrySize);
    PutLE64(entry, 8, offsets[i]);
    PutLE64(entry, 16, files[i].Data.size());
    entry.replace(24, files[i].Name.size(), files[i].Name);
    area += entry;
  }
  if (!files.empty()) area.append(8, '\0');

  std::string offset(8, '\0');
  PutLE64(offset, 0, table);
  TUniqueFd fd(::open(programFile.c_str(), O_WRONLY | O_CLOEXEC));
  if (!fd.Valid()) throw EFCreateError(Format(SysConst::SFCreateErrorEx, {programFile, SysErrorMessage(errno)}));
  if (::ftruncate(fd.Get(), static_cast<off_t>(start)) != 0) RaiseInOutError(errno);
  WriteAllAt(fd.Get(), area, start);
  WriteAllAt(fd.Get(), offset, record + EmbeddedMarkerSize);
  if (fd.Close() != 0) RaiseInOutError(errno);
}

}  // namespace tolvane
