#include "Classes.h"
#include "ByteOrder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
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
  }
  // Regular files never block; clear the flag so writes behave normally.
  int flags = ::fcntl(FHandle, F_GETFL);
  if (flags >= 0) ::fcntl(FHandle, F_SETFL, flags & ~O_NONBLOCK);
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

size_t TFileStream::Read(void* buffer, size_t count) {
  size_t done = 0;
  auto* p = static_cast<uint8_t*>(buffer);
  while (done < count) {
    ssize_t n = ::read(FHandle, p + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

size_t TFileStream::Write(const void* buffer, size_t count) {
  size_t done = 0;
  auto* p = static_cast<const uint8_t*>(buffer);
  while (done < count) {
    ssize_t n = ::write(FHandle, p + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET : origin == TSeekOrigin::soCurrent ? SEEK_CUR : SEEK_END;
  off_t r = ::lseek(FHandle, static_cast<off_t>(offset), whence);
  if (r < 0) {
    // A seek before the start leaves the position where it was.
    return ::lseek(FHandle, 0, SEEK_CUR);
  }
  return r;
}

void TFileStream::SetSize(int64_t newSize) {
  if (::ftruncate(FHandle, static_cast<off_t>(newSize)) != 0) throw EStreamError(SysErrorMessage(errno));
  if (Position() > newSize) SetPosition(newSize);
}

// ---------------------------------------------------------------------------

size_t TMemoryStream::Read(void* buffer, size_t count) {
  if (FPosition >= FData.size()) return 0;
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
