// A stream over memory that counts the bytes readers take out of it and the
// reads they take them in, so that tests can hold a reader's reading to what
// its picture needs.
#pragma once

#include <cstdint>

#include "picture/Classes.h"

namespace tolvane::test {

class TCountingStream : public TMemoryStream {
public:
  using TMemoryStream::TMemoryStream;
  size_t Read(void* buffer, size_t count) override {
    const size_t read = TMemoryStream::Read(buffer, count);
    BytesRead += read;
    ++Reads;
    return read;
  }
  uint64_t BytesRead = 0;
  uint64_t Reads = 0;
};

}  // namespace tolvane::test
