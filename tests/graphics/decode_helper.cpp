// Drives one decoder of the library over packed data that a test script cut
// out of a real file, so that the script can compare the result with an
// independent decoder's.
//
//   decode_helper DECODER PARAM PACKED JOBS OUT
//
// DECODER is targa, packbits, pcx, sgi, cut, psp, rla, tifflzw, giflzw or
// thunder; PARAM its constructor argument (0 when it has none). JOBS holds
// one call per line, "OFFSET PACKEDSIZE UNPACKEDSIZE": the call decodes the
// PACKEDSIZE bytes of PACKED at OFFSET (an OFFSET of -1 continues where the
// previous call left its source pointer; a PACKEDSIZE of -1 takes every
// byte from OFFSET on) into a zeroed buffer of
// UNPACKEDSIZE bytes (Targa: pixels). OUT receives the buffers one after
// another. Each call prints the number of packed bytes its source pointer
// moved on. Every buffer has exactly its stated size, so a decoder that
// strays outside one trips the address sanitizer.
//
//   decode_helper encode-targa DEPTH PIXELS COUNT OUT
//
// encodes COUNT pixels per call (one call per row) from PIXELS into OUT.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "graphics/GraphicCompression.h"

using namespace tolvane;

namespace {

std::vector<uint8_t> ReadAll(const char* name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const char* name, const std::vector<uint8_t>& data) {
  std::ofstream out(name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

std::unique_ptr<TDecoder> MakeDecoder(const std::string& kind, int param) {
  if (kind == "targa") return std::make_unique<TTargaRLEDecoder>(param);
  if (kind == "packbits") return std::make_unique<TPackbitsRLEDecoder>();
  if (kind == "pcx") return std::make_unique<TPCXRLEDecoder>();
  if (kind == "sgi") return std::make_unique<TSGIRLEDecoder>(static_cast<uint8_t>(param));
  if (kind == "cut") return std::make_unique<TCUTRLEDecoder>();
  if (kind == "psp") return std::make_unique<TPSPRLEDecoder>();
  if (kind == "rla") return std::make_unique<TRLADecoder>();
  if (kind == "tifflzw") return std::make_unique<TTIFFLZWDecoder>();
  if (kind == "giflzw") return std::make_unique<TGIFLZWDecoder>(static_cast<uint8_t>(param));
  if (kind == "thunder") return std::make_unique<TThunderDecoder>(static_cast<uint32_t>(param));
  return nullptr;
}

int Decode(const std::string& kind, int param, const char* packedName, const char* jobsName, const char* outName) {
  std::unique_ptr<TDecoder> decoder = MakeDecoder(kind, param);
  if (!decoder) return 2;
  const size_t unit = kind == "targa" ? static_cast<size_t>(param + 1) / 8 : 1;
  const std::vector<uint8_t> packed = ReadAll(packedName);
  std::ifstream jobs(jobsName);
  std::vector<uint8_t> result;
  long long next = 0;
  long long offset, packedSize, unpackedSize;
  while (jobs >> offset >> packedSize >> unpackedSize) {
    if (offset < 0) offset = next;
    if (packedSize < 0) packedSize = static_cast<long long>(packed.size()) - offset;
    if (offset + packedSize > static_cast<long long>(packed.size())) return 3;
    std::vector<uint8_t> in(packed.begin() + offset, packed.begin() + offset + packedSize);
    std::vector<uint8_t> out(static_cast<size_t>(unpackedSize) * unit);
    const uint8_t* source = in.data();
    uint8_t* dest = out.data();
    decoder->Decode(source, dest, static_cast<int32_t>(packedSize), static_cast<int32_t>(unpackedSize));
    std::printf("%lld\n", static_cast<long long>(source - in.data()));
    next = offset + (source - in.data());
    result.insert(result.end(), out.begin(), out.end());
  }
  WriteAll(outName, result);
  return 0;
}

int EncodeTarga(int depth, const char* pixelsName, long count, const char* outName) {
  TTargaRLEDecoder encoder(depth);
  const size_t pixelSize = static_cast<size_t>(depth + 1) / 8;
  const std::vector<uint8_t> pixels = ReadAll(pixelsName);
  std::vector<uint8_t> result;
  for (size_t at = 0; at + count * pixelSize <= pixels.size(); at += count * pixelSize) {
    std::vector<uint8_t> row(pixels.begin() + at, pixels.begin() + at + count * pixelSize);
    std::vector<uint8_t> packed(encoder.MaxEncodedSize(static_cast<uint32_t>(count)));
    uint32_t stored = 0;
    encoder.Encode(row.data(), packed.data(), static_cast<uint32_t>(count), stored);
    result.insert(result.end(), packed.begin(), packed.begin() + stored);
  }
  WriteAll(outName, result);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::cerr << "usage: decode_helper DECODER PARAM PACKED JOBS OUT\n";
    return 2;
  }
  const std::string kind = argv[1];
  if (kind == "encode-targa") return EncodeTarga(std::atoi(argv[2]), argv[3], std::atol(argv[4]), argv[5]);
  return Decode(kind, std::atoi(argv[2]), argv[3], argv[4], argv[5]);
}
