// Class metadata, geometry and streams (TStream, TFileStream, TMemoryStream):
// the base on which graphics, readers and codecs are written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "SysUtils.h"

namespace tolvane {

class TObject;

// A class record: name, parent and, for classes that registries create by
// reference, the virtual constructor. A "class reference" is a pointer to one.
struct TClassInfo {
  const char* Name;
  const TClassInfo* Parent;
  std::unique_ptr<TObject> (*Create)();  // null for classes never made by reference

  bool InheritsFrom(const TClassInfo& other) const {
    for (const TClassInfo* c = this; c; c = c->Parent)
      if (c == &other) return true;
    return false;
  }
};
using TClass = const TClassInfo*;

class TObject {
public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;

  static const TClassInfo& StaticClass();
  virtual const TClassInfo& ClassType() const { return StaticClass(); }
  std::string ClassName() const { return ClassType().Name; }
  bool InheritsFrom(const TClassInfo& cls) const { return ClassType().InheritsFrom(cls); }
  // True for an instance of T or of a class derived from it.
  template <class T> bool Is() const { return InheritsFrom(T::StaticClass()); }
};

// In a class body: the class record of Self and its virtual accessor.
#define TOLVANE_CLASS(Self)                                              \
public:                                                                  \
  static const ::tolvane::TClassInfo& StaticClass();                     \
  const ::tolvane::TClassInfo& ClassType() const override { return StaticClass(); }

// In a source file: the record of a class that is never made by reference.
#define TOLVANE_DEFINE_CLASS(Self, Parent)                                             \
  const ::tolvane::TClassInfo& Self::StaticClass() {                                   \
    static const ::tolvane::TClassInfo info{#Self, &Parent::StaticClass(), nullptr};   \
    return info;                                                                       \
  }

// In a source file: the record of a class with a virtual constructor
// (ConstructEmpty); Self must be default-constructible.
#define TOLVANE_DEFINE_CREATABLE_CLASS(Self, Parent)                                   \
  const ::tolvane::TClassInfo& Self::StaticClass() {                                   \
    static const ::tolvane::TClassInfo info{                                           \
        #Self, &Parent::StaticClass(),                                                 \
        []() -> std::unique_ptr<::tolvane::TObject> { return std::make_unique<Self>(); }}; \
    return info;                                                                       \
  }

// A class that registries can create: makes an instance of cls and casts it.
template <class T> std::unique_ptr<T> CreateInstance(TClass cls) {
  if (!cls || !cls->Create || !cls->InheritsFrom(T::StaticClass())) return nullptr;
  std::unique_ptr<TObject> obj = cls->Create();
  return std::unique_ptr<T>(static_cast<T*>(obj.release()));
}

struct TPoint {
  int32_t X = 0, Y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

struct TRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  int32_t Width() const { return Right - Left; }
  int32_t Height() const { return Bottom - Top; }
  friend bool operator==(const TRect&, const TRect&) = default;
};
inline TRect Rect(int32_t l, int32_t t, int32_t r, int32_t b) { return TRect{l, t, r, b}; }

using TNotifyEvent = std::function<void(TObject* sender)>;

// An object whose contents can be copied from another object. CopyFrom asks
// the source to CopyInto this object; the base CopyInto raises EConvertError
// "Cannot assign a %s to a %s", and a null source names "nil".
class TPersistent : public TObject {
  TOLVANE_CLASS(TPersistent)
public:
  virtual void CopyInto(TPersistent& dest);
  virtual void CopyFrom(TPersistent* source);
};

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

// A byte stream. Read is the plain read (a short read is no error; bytes not
// delivered stay as they were); ReadExact raises EReadError "Stream read error".
class TStream : public TObject {
  TOLVANE_CLASS(TStream)
public:
  virtual size_t Read(void* buffer, size_t count) = 0;
  // Reads pieces.size() runs of size bytes from the position on, one after
  // another into pieces[0], pieces[1] and so on, as Read would; returns the
  // bytes read, fewer only where the stream ends.
  virtual size_t ReadPieces(std::span<uint8_t* const> pieces, size_t size);
  virtual size_t Write(const void* buffer, size_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual int64_t Size();
  // Cuts or extends the stream; streams that cannot raise EStreamError.
  virtual void SetSize(int64_t newSize);

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
  // Bytes from the position to the end (never negative).
  int64_t Remaining();

  void ReadExact(void* buffer, size_t count);
  void WriteExact(const void* buffer, size_t count);
  // Copies count bytes from source (0: from its position to its end).
  int64_t CopyFrom(TStream& source, int64_t count);

  uint8_t ReadByte();
  uint16_t ReadWordLE();
  uint16_t ReadWordBE();
  uint32_t ReadLongLE();
  uint32_t ReadLongBE();
  void WriteByte(uint8_t v);
  void WriteWordLE(uint16_t v);
  void WriteLongLE(uint32_t v);
};

// File open modes: one access mode, optionally or-ed with a share mode
// (kept for the callers' sake; Linux has no share modes).
enum : uint16_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareExclusive = 0x0010,
  fmShareDenyWrite = 0x0020,
  fmShareDenyNone = 0x0040,
  fmCreate = 0xFFFF,
};

// A file stream. Opening refuses anything but a regular file with
// EFOpenError (a FIFO, device or directory named like a picture never
// blocks a reader); fmCreate creates or truncates, raising EFCreateError.
//
// Readers take their bytes a few at a time and seek between them, so reads
// go through a buffer of up to ReadBufferSize bytes: a small read or a seek
// inside what the buffer holds costs no system call. A read of a buffer's
// size or more goes straight into the caller's memory. Writes go straight
// to the file and drop the buffer. The size is the file's when it was
// opened, followed by this stream's own writes, SetSize and any bytes a
// read finds beyond it.
class TFileStream : public TStream {
  TOLVANE_CLASS(TFileStream)
public:
  static constexpr size_t ReadBufferSize = size_t{64} << 10;

  TFileStream(const std::string& fileName, uint16_t mode);
  ~TFileStream() override;
  size_t Read(void* buffer, size_t count) override;
  // Many pieces go from the file straight into their places in one call.
  size_t ReadPieces(std::span<uint8_t* const> pieces, size_t size) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return FSize; }
  void SetSize(int64_t newSize) override;
  const std::string& FileName() const { return FFileName; }

private:
  bool Buffered() const { return FPosition >= FBufferStart && FPosition - FBufferStart < static_cast<int64_t>(FBuffered); }
  size_t TakeBuffered(uint8_t* dest, size_t count);
  bool FillBuffer(size_t wanted);
  size_t ReadAt(int64_t offset, uint8_t* dest, size_t count);
  void DropBuffer() { FBuffered = 0; }

  std::string FFileName;
  int FHandle = -1;
  int64_t FPosition = 0;
  int64_t FSize = 0;
  std::vector<uint8_t> FBuffer;  // made on the first read that needs it
  int64_t FBufferStart = 0;      // the file offset of FBuffer[0]
  size_t FBuffered = 0;          // bytes of FBuffer that hold the file's
  int64_t FReadEnd = 0;          // where the last read from the file ended
  size_t FReadAhead = ReadBufferSize;
};

// A stream over memory that it owns.
class TMemoryStream : public TStream {
  TOLVANE_CLASS(TMemoryStream)
public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> data) : FData(std::move(data)) {}
  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName);
  const std::vector<uint8_t>& Data() const { return FData; }
  std::vector<uint8_t>& Data() { return FData; }

private:
  std::vector<uint8_t> FData;
  size_t FPosition = 0;
};

// Reads a whole file into memory (regular files only, as TFileStream).
std::vector<uint8_t> ReadFileBytes(const std::string& fileName);

}  // namespace tolvane
