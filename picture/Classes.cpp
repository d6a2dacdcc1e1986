#include "Classes.h"
#include "ByteOrder.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace tolvane {

const TClassInfo& TObject::StaticClass() {
  static const TClassInfo info{"TObject", nullptr, nullptr};
  return info;
}

TOLVANE_DEFINE_CLASS(TPersistent, TObject)
TOLVANE_DEFINE_CLASS(TStream, TObject)

void TPersistent::CopyInto(TPersistent& dest) {
  throw EConvertError(Format("Cannot assign a %s to a %s", {ClassName(), dest.ClassName()}));
}

void TPersistent::CopyFrom(TPersistent* source) {
  if (!source) throw EConvertError(Format("Cannot assign a %s to a %s", {"nil", ClassName()}));
  source->CopyInto(*this);
}
TOLVANE_DEFINE_CLASS(TFileStream, TStream)
TOLVANE_DEFINE_CLASS(TMemoryStream, TStream)

int64_t TStream::Size() {
  int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return size;
}

void TStream::SetSize(int64_t) { throw EStreamError("Stream size cannot be changed"); }

int64_t TStream::Remaining() {
  int64_t pos = Position();
  return std::max<int64_t>(Size() - pos, 0);
}

size_t TStream::ReadPieces(std::span<uint8_t* const> pieces, size_t size) {
  size_t done = 0;
  for (uint8_t* piece : pieces) {
    const size_t n = Read(piece, size);
    done += n;
    if (n < size) break;
  }
  return done;
}

void TStream::ReadExact(void* buffer, size_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError(SysConst::SReadError);
}

void TStream::WriteExact(const void* buffer, size_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError(SysConst::SWriteError);
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::vector<uint8_t> buf(static_cast<size_t>(std::min<int64_t>(count, 1 << 16)));
  int64_t left = count;
  while (left > 0) {
    size_t n = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(buf.size())));
    source.ReadExact(buf.data(), n);
    WriteExact(buf.data(), n);
    left -= static_cast<int64_t>(n);
  }
  return count;
}

uint8_t TStream::ReadByte() {
  uint8_t b;
  ReadExact(&b, 1);
  return b;
}

uint16_t TStream::ReadWordLE() {
  uint8_t b[2];
  ReadExact(b, 2);
  return LoadLE16(b);
}

uint16_t TStream::ReadWordBE() {
  uint8_t b[2];
  ReadExact(b, 2);
  return LoadBE16(b);
}

uint32_t TStream::ReadLongLE() {
  uint8_t b[4];
  ReadExact(b, 4);
  return LoadLE32(b);
}

uint32_t TStream::ReadLongBE() {
  uint8_t b[4];
  ReadExact(b, 4);
  return LoadBE32(b);
}

void TStream::WriteByte(uint8_t v) { WriteExact(&v, 1); }

void TStream::WriteWordLE(uint16_t v) {
  uint8_t b[2];
  StoreLE16(b, v);
  WriteExact(b, 2);
}

void TStream::WriteLongLE(uint32_t v) {
  uint8_t b[4];
  StoreLE32(b, v);
  WriteExact(b, 4);
}

// ---------------------------------------------------------------------------

TFileStream::TFileStream(const std::string& fileName, uint16_t mode) : FFileName(fileName) {
  if (mode == fmCreate) {
    // O_NONBLOCK keeps a FIFO of that name from blocking the open.
    FHandle = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    struct stat st;
    if (FHandle >= 0 && (::fstat(FHandle, &st) != 0 || !S_ISREG(st.st_mode))) {
      ::close(FHandle);
      FHandle = -1;
      errno = EINVAL;
    }
    if (FHandle < 0 || ::ftruncate(FHandle, 0) != 0) {
      int err = errno;
      if (FHandle >= 0) ::close(FHandle);
      FHandle = -1;
      throw EFCreateError(Format(SysConst::SFCreateErrorEx, {fileName, SysErrorMessage(err)}));
    }
  } else {
    int access = (mode & 3) == fmOpenWrite ? O_WRONLY : (mode & 3) == fmOpenReadWrite ? O_RDWR : O_RDONLY;
    FHandle = ::open(fileName.c_str(), access | O_NONBLOCK | O_CLOEXEC);
    int err = errno;
    struct stat st;
    if (FHandle >= 0 && (::fstat(FHandle, &st) != 0 || !S_ISREG(st.st_mode))) {
      err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
      ::close(FHandle);
      FHandle = -1;
    }
    if (FHandle < 0) throw EFOpenError(Format(SysConst::SFOpenErrorEx, {fileName, SysErrorMessage(err)}));
    FSize = static_cast<int64_t>(st.st_size);
  }
  // Regular files never block; clear the flag so writes behave normally.
  int flags = ::fcntl(FHandle, F_GETFL);
  if (flags >= 0) ::fcntl(FHandle, F_SETFL, flags & ~O_NONBLOCK);
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

namespace {

// After a jump the buffer takes this much; reading on doubles it up to the
// buffer's size, so a reader that hops between places (the channels of a
// picture read side by side) pays for little that it does not use.
constexpr size_t ShortReadAhead = size_t{4} << 10;

}  // namespace

size_t TFileStream::Read(void* buffer, size_t count) {
  if (count == 0) return 0;  // an empty read may come with no buffer at all
  auto* dest = static_cast<uint8_t*>(buffer);
  size_t done = TakeBuffered(dest, count);
  if (done == count) return done;
  if (count - done >= ReadBufferSize) {
    const size_t got = ReadAt(FPosition, dest + done, count - done);
    FPosition += static_cast<int64_t>(got);
    return done + got;
  }
  if (!FillBuffer(count - done)) return done;
  return done + TakeBuffered(dest + done, count - done);
}

// Pieces that start in what the buffer holds, and the last few pieces, too
// few together to pass the buffer by, go the way of any read.
size_t TFileStream::ReadPieces(std::span<uint8_t* const> pieces, size_t size) {
  constexpr size_t BatchPieces = 128;
  size_t done = 0, k = 0;
  while (k < pieces.size()) {
    if (Buffered() || (pieces.size() - k) * size < ReadBufferSize) {
      const size_t n = Read(pieces[k++], size);
      done += n;
      if (n < size) return done;
      continue;
    }
    std::array<iovec, BatchPieces> vector;
    const size_t count = std::min(pieces.size() - k, BatchPieces);
    for (size_t i = 0; i < count; ++i) vector[i] = {pieces[k + i], size};
    const ssize_t n = ::preadv(FHandle, vector.data(), static_cast<int>(count), static_cast<off_t>(FPosition));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return done;
    const auto got = static_cast<size_t>(n);
    FPosition += n;
    FReadEnd = FPosition;
    FSize = std::max(FSize, FPosition);
    done += got;
    k += got / size;
    // A piece cut short is finished by plain reads, which stop at the end.
    if (const size_t part = got % size) {
      const size_t more = ReadAt(FPosition, pieces[k] + part, size - part);
      FPosition += static_cast<int64_t>(more);
      done += more;
      if (part + more < size) return done;
      ++k;
    }
  }
  return done;
}

// Copies what the buffer holds from the position on.
size_t TFileStream::TakeBuffered(uint8_t* dest, size_t count) {
  if (FPosition < FBufferStart || FPosition - FBufferStart >= static_cast<int64_t>(FBuffered)) return 0;
  const size_t at = static_cast<size_t>(FPosition - FBufferStart);
  const size_t n = std::min(count, FBuffered - at);
  std::memcpy(dest, FBuffer.data() + at, n);
  FPosition += static_cast<int64_t>(n);
  return n;
}

// Fills the buffer from the position with at least wanted bytes (fewer at
// the end of the file); false when there are none.
bool TFileStream::FillBuffer(size_t wanted) {
  const bool readingOn = FPosition >= FReadEnd && FPosition - FReadEnd <= static_cast<int64_t>(FReadAhead);
  FReadAhead = readingOn ? std::min(2 * FReadAhead, ReadBufferSize) : ShortReadAhead;
  if (FBuffer.empty()) FBuffer.resize(ReadBufferSize);
  FBufferStart = FPosition;
  FBuffered = ReadAt(FPosition, FBuffer.data(), std::max(wanted, FReadAhead));
  return FBuffered > 0;
}

// Reads at a file offset without moving the position; short only at the
// end of the file or on an error.
size_t TFileStream::ReadAt(int64_t offset, uint8_t* dest, size_t count) {
  size_t done = 0;
  while (done < count && static_cast<uint64_t>(offset) + done < uint64_t{INT64_MAX}) {
    const off_t at = static_cast<off_t>(offset + static_cast<int64_t>(done));
    const ssize_t n = ::pread(FHandle, dest + done, count - done, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  FReadEnd = offset + static_cast<int64_t>(done);
  if (done > 0) FSize = std::max(FSize, FReadEnd);  // the file has grown meanwhile
  return done;
}

size_t TFileStream::Write(const void* buffer, size_t count) {
  DropBuffer();
  size_t done = 0;
  auto* p = static_cast<const uint8_t*>(buffer);
  while (done < count && static_cast<uint64_t>(FPosition) + done < uint64_t{INT64_MAX}) {
    const off_t at = static_cast<off_t>(FPosition + static_cast<int64_t>(done));
    const ssize_t n = ::pwrite(FHandle, p + done, count - done, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  FPosition += static_cast<int64_t>(done);
  if (done > 0) FSize = std::max(FSize, FPosition);
  return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  const int64_t base = origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? FPosition : FSize;
  int64_t target = 0;
  // A seek before the start, or past what an offset can hold, leaves the
  // position where it was.
  if (__builtin_add_overflow(base, offset, &target) || target < 0) return FPosition;
  // Past the end the file system decides, as it may not hold every offset.
  if (target > FSize && ::lseek(FHandle, static_cast<off_t>(target), SEEK_SET) < 0) return FPosition;
  FPosition = target;
  return FPosition;
}

void TFileStream::SetSize(int64_t newSize) {
  if (::ftruncate(FHandle, static_cast<off_t>(newSize)) != 0) throw EStreamError(SysErrorMessage(errno));
  DropBuffer();
  FSize = newSize;
  FPosition = std::min(FPosition, newSize);
}

// ---------------------------------------------------------------------------

size_t TMemoryStream::Read(void* buffer, size_t count) {
  // An empty read may come with no buffer at all.
  if (count == 0 || FPosition >= FData.size()) return 0;
  size_t n = std::min(count, FData.size() - FPosition);
  std::memcpy(buffer, FData.data() + FPosition, n);
  FPosition += n;
  return n;
}

size_t TMemoryStream::Write(const void* buffer, size_t count) {
  if (count == 0) return 0;
  if (FPosition + count > FData.size()) FData.resize(FPosition + count);
  std::memcpy(FData.data() + FPosition, buffer, count);
  FPosition += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == TSeekOrigin::soBeginning ? 0
                 : origin == TSeekOrigin::soCurrent ? static_cast<int64_t>(FPosition)
                                                    : static_cast<int64_t>(FData.size());
  int64_t p = base + offset;
  if (p >= 0) FPosition = static_cast<size_t>(p);
  return static_cast<int64_t>(FPosition);
}

void TMemoryStream::SetSize(int64_t newSize) {
  FData.resize(static_cast<size_t>(std::max<int64_t>(newSize, 0)));
  if (FPosition > FData.size()) FPosition = FData.size();
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  FData = ReadFileBytes(fileName);
  FPosition = 0;
}

void TMemoryStream::SaveToFile(const std::string& fileName) {
  TFileStream f(fileName, fmCreate);
  f.WriteExact(FData.data(), FData.size());
}

std::vector<uint8_t> ReadFileBytes(const std::string& fileName) {
  TFileStream f(fileName, fmOpenRead | fmShareDenyWrite);
  std::vector<uint8_t> data(static_cast<size_t>(f.Size()));
  data.resize(f.Read(data.data(), data.size()));
  return data;
}

void byteorder_detail::RaiseShortRead() { throw EReadError(SysConst::SReadError); }

}  // namespace tolvane
