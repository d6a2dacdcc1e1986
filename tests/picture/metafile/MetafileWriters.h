// Hand-made metafiles for tests: records are written field by field, so
// that tests can also make the malformed ones no writer produces.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace tolvane::test {

inline void PutU16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
inline void PutU32(std::vector<uint8_t>& v, uint32_t x) {
  PutU16(v, x & 0xFFFF);
  PutU16(v, x >> 16);
}
inline void SetU32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

constexpr uint32_t Stock(uint32_t n) { return 0x80000000u | n; }

// An enhanced metafile on a 96-dpi reference device (960 px = 254 mm), so
// that a frame of 2540 units per 96 pixels makes device pixels image pixels.
class TEmfWriter {
public:
  // frame in 0.01 mm.
  TEmfWriter(int32_t left, int32_t top, int32_t right, int32_t bottom, uint16_t handles = 8) {
    PutU32(FData, 1);
    PutU32(FData, 108);
    for (int32_t v : {0, 0, -1, -1, left, top, right, bottom}) PutU32(FData, static_cast<uint32_t>(v));
    PutU32(FData, 0x464D4520);
    PutU32(FData, 0x10000);
    PutU32(FData, 0);  // size, set by Finish
    PutU32(FData, 0);  // records, set by Finish
    PutU16(FData, handles);
    PutU16(FData, 0);
    for (uint32_t v : {0u, 0u, 0u, 960u, 960u, 254u, 254u, 0u, 0u, 0u, 254000u, 254000u}) PutU32(FData, v);
  }

  // A record of 32-bit fields.
  TEmfWriter& Add(uint32_t type, std::initializer_list<int64_t> fields) {
    std::vector<uint8_t> payload;
    for (int64_t f : fields) PutU32(payload, static_cast<uint32_t>(f));
    return AddRaw(type, payload);
  }
  TEmfWriter& AddRaw(uint32_t type, const std::vector<uint8_t>& payload) {
    PutU32(FData, type);
    PutU32(FData, static_cast<uint32_t>(8 + payload.size()));
    FData.insert(FData.end(), payload.begin(), payload.end());
    ++FRecords;
    return *this;
  }
  // Appends the end-of-file record and fills in the header's totals.
  std::vector<uint8_t> Finish() {
    Add(14, {0, 16, 20});
    std::vector<uint8_t> data = FData;
    SetU32(data, 48, static_cast<uint32_t>(data.size()));
    SetU32(data, 52, FRecords + 1);
    return data;
  }

private:
  std::vector<uint8_t> FData;
  uint32_t FRecords = 0;
};

// A Windows metafile, placeable (bounding box in units per inch) or plain.
class TWmfWriter {
public:
  TWmfWriter(bool placeable, int16_t left = 0, int16_t top = 0, int16_t right = 0, int16_t bottom = 0,
             uint16_t inch = 96) {
    if (placeable) {
      PutU32(FData, 0x9AC6CDD7);
      PutU16(FData, 0);
      for (int16_t v : {left, top, right, bottom}) PutU16(FData, static_cast<uint16_t>(v));
      PutU16(FData, inch);
      PutU32(FData, 0);
      uint16_t sum = 0;
      for (size_t i = 0; i < 20; i += 2) sum ^= static_cast<uint16_t>(FData[i] | FData[i + 1] << 8);
      PutU16(FData, sum);
    }
    FHeaderAt = FData.size();
    for (uint32_t v : {1u, 9u, 0x300u}) PutU16(FData, v);
    PutU32(FData, 0);  // size in words, set by Finish
    PutU16(FData, 0);  // objects, set by Finish
    PutU32(FData, 0);  // largest record
    PutU16(FData, 0);
  }

  // A record of 16-bit parameters as the file stores them.
  TWmfWriter& Add(uint16_t function, std::initializer_list<int32_t> params) {
    std::vector<uint8_t> payload;
    for (int32_t p : params) PutU16(payload, static_cast<uint16_t>(p));
    return AddRaw(function, payload);
  }
  TWmfWriter& AddRaw(uint16_t function, std::vector<uint8_t> payload) {
    if (payload.size() % 2) payload.push_back(0);
    PutU32(FData, static_cast<uint32_t>(3 + payload.size() / 2));
    PutU16(FData, function);
    FData.insert(FData.end(), payload.begin(), payload.end());
    return *this;
  }
  std::vector<uint8_t> Finish(uint16_t objects = 8) {
    Add(0, {});
    std::vector<uint8_t> data = FData;
    SetU32(data, FHeaderAt + 6, static_cast<uint32_t>((data.size() - FHeaderAt) / 2));
    data[FHeaderAt + 10] = static_cast<uint8_t>(objects);
    data[FHeaderAt + 11] = static_cast<uint8_t>(objects >> 8);
    return data;
  }

private:
  std::vector<uint8_t> FData;
  size_t FHeaderAt = 0;
};

// A 2 x 2 bottom-up 24-bit bitmap: black, white over red, grey.
inline std::vector<uint8_t> Dib2x2() {
  std::vector<uint8_t> dib;
  for (uint32_t v : {40u, 2u, 2u}) PutU32(dib, v);
  PutU16(dib, 1);
  PutU16(dib, 24);
  for (int i = 0; i < 6; ++i) PutU32(dib, 0);
  dib.insert(dib.end(), {0x00, 0x00, 0xFF, 0x80, 0x80, 0x80, 0, 0});  // bottom row: red, grey
  dib.insert(dib.end(), {0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0, 0});  // top row: black, white
  return dib;
}

// Record payloads: 32-bit fields, 16-bit words, and both joined.
inline std::vector<uint8_t> Fields(std::initializer_list<int64_t> values) {
  std::vector<uint8_t> out;
  for (int64_t v : values) PutU32(out, static_cast<uint32_t>(v));
  return out;
}
inline std::vector<uint8_t> Words(std::initializer_list<int32_t> values) {
  std::vector<uint8_t> out;
  for (int32_t v : values) PutU16(out, static_cast<uint16_t>(v));
  return out;
}
inline std::vector<uint8_t> Cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
inline std::vector<uint8_t> Put32(std::vector<uint8_t> v, size_t at, uint64_t value) {
  SetU32(v, at, static_cast<uint32_t>(value));
  return v;
}

constexpr size_t Pad = 70000;       // makes a record longer than what is kept whole
constexpr size_t FarPad = 3 << 16;  // parts of a record this far apart are moved together

// n bytes that no record field is made of, inserted at at (default: the end).
inline std::vector<uint8_t> Padded(std::vector<uint8_t> v, size_t n = Pad, size_t at = SIZE_MAX) {
  std::vector<uint8_t> junk(n);
  for (size_t i = 0; i < n; ++i) junk[i] = static_cast<uint8_t>(i * 131 + 7);
  v.insert(v.begin() + static_cast<ptrdiff_t>(std::min(at, v.size())), junk.begin(), junk.end());
  return v;
}

}  // namespace tolvane::test
