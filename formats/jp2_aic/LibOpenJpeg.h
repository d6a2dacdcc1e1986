// The JPEG 2000 library as the codec uses it: an OpenJPEG stream over our
// TStream, a decoder that picks the file type by content, and a JP2 writer.
// Nothing here prints: library messages are kept, never sent to stderr, and
// every failure comes back as a result the codec turns into its own message.
#pragma once

#include <openjpeg.h>

#include <cstdint>
#include <memory>
#include <string>

#include "picture/Classes.h"

namespace tolvane {

struct TOpjImageDeleter {
  void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};
using TOpjImage = std::unique_ptr<opj_image_t, TOpjImageDeleter>;

struct TOpjCodecDeleter {
  void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
using TOpjCodecHandle = std::unique_ptr<opj_codec_t, TOpjCodecDeleter>;

// What the first bytes of a stream hold.
enum TOpjContent : uint8_t { ocUnknown, ocJP2, ocCodestream };

// The JP2 signature box (12 bytes) or the start of a raw code stream (SOC
// then SIZ, FF 4F FF 51); anything else is ocUnknown.
TOpjContent OpjContentOf(const uint8_t* header, size_t size);

// What the headers declare that the library acts on while it reads them,
// before its caller can see any of it: it sets up coding parameters for
// every tile (each with a copy of the main header's component-transform
// data), keeps the main header's packed packet headers, and reads a JP2
// file's header boxes whole. A palette it expands into that many full-size
// components only while decoding.
struct TOpjHeaderFacts {
  // Whether the code stream starts with a sound size segment and its main
  // header ends in a tile-part, within the boxes visited; the library
  // decodes nothing else.
  bool Found = false;
  uint64_t Width = 0, Height = 0;  // of the picture
  uint32_t Components = 0;
  uint64_t Tiles = 0;
  bool Transform = false;       // the main header sets a component transform
  uint64_t TransformBytes = 0;  // its segments' bytes
  uint64_t MainHeaderBytes = 0;
  uint64_t WholeBoxBytes = 0;   // JP2: the boxes the library reads whole
  uint32_t PaletteColumns = 0;  // JP2: of the palette box, 0 without one

  // What the library's set-up of the tiles takes, at most.
  uint64_t TileSetupBytes() const;
  // What the library holds once it has read the headers, at most.
  uint64_t HeaderMemory() const;
};

// The facts of the JP2 file or code stream at the stream's position; the
// position is restored.
TOpjHeaderFacts OpjHeaderFactsOf(TStream& stream, TOpjContent content);

// The most memory the library's records of one tile-component of
// width x height samples take while its tile is decoded: it keeps one for
// every precinct and every code block of every resolution, however little
// the file codes, and a file may make them tiny. Judged from every coding
// style that the code stream at the stream's position sets in its main
// header and in its tile-part headers (a tile may set its own), read no
// further than `end`; the position is restored.
uint64_t OpjTileComponentRecordBytes(TStream& stream, TOpjContent content, int64_t end, uint64_t width,
                                     uint64_t height);

// An OpenJPEG stream over a TStream, buffered by 8192 bytes. Positions are
// relative to the TStream's position when the adapter was made, because a
// picture may start in the middle of a stream. The TStream stays open; an
// exception it raises is caught here (it must not cross the C library) and
// reported to the library as a failed read, write or seek.
class TOpjStream {
public:
  static constexpr size_t BufferSize = 8192;

  TOpjStream(TStream& stream, bool input);
  ~TOpjStream();
  TOpjStream(const TOpjStream&) = delete;
  TOpjStream& operator=(const TOpjStream&) = delete;

  opj_stream_t* Handle() const { return FHandle; }
  // A reader: the data end at `length` bytes from the start, if that is
  // sooner than the stream's end, so that the library neither reads nor
  // reserves memory for more.
  void LimitLength(int64_t length);
  // The bytes from the start to the TStream's position (the library may
  // have buffered some of them without using them yet).
  int64_t Consumed();
  // A reader: the bytes after those, to the end of its data.
  int64_t Left() { return FLength - Consumed(); }
  // Whether the TStream raised during a read, write or seek.
  bool Failed() const { return FFailed; }

private:
  static OPJ_SIZE_T ReadProc(void* buffer, OPJ_SIZE_T count, void* self);
  static OPJ_SIZE_T WriteProc(void* buffer, OPJ_SIZE_T count, void* self);
  static OPJ_OFF_T SkipProc(OPJ_OFF_T count, void* self);
  static OPJ_BOOL SeekProc(OPJ_OFF_T offset, void* self);

  TStream& FStream;
  const bool FInput;
  int64_t FBase = 0;
  int64_t FLength = 0;  // input: the bytes that were left on entry
  bool FFailed = false;
  opj_stream_t* FHandle = nullptr;
};

// Installs handlers that keep the library's error text and drop its warnings
// and notes, so that nothing reaches standard error.
class TOpjMessages {
public:
  void Install(opj_codec_t* codec);
  const std::string& LastError() const { return FLastError; }

private:
  static void OnError(const char* message, void* self);
  static void OnQuiet(const char*, void*) {}
  std::string FLastError;
};

// One decode of a JP2 file or raw code stream from a TStream's position.
// Strict: a truncated code stream fails instead of showing part of a picture.
class TOpjDecoder {
public:
  explicit TOpjDecoder(TStream& stream);
  TOpjDecoder(const TOpjDecoder&) = delete;
  TOpjDecoder& operator=(const TOpjDecoder&) = delete;

  TOpjContent Content() const { return FContent; }
  // What the headers declare, read before the library reads them.
  const TOpjHeaderFacts& Headers() const { return FHeaders; }
  // A bound on the components a decoded picture may have: the header's and
  // the palette's columns.
  uint32_t MaxComponents() const;
  // Reads the headers; Image() then holds the geometry without samples.
  // False for unknown content or a header the library refuses.
  bool ReadHeader();
  // The pixels of the largest tile, clipped to the picture, when the
  // picture has several tiles: the library decodes a tile into samples of
  // its own before copying them into the picture's. 0 for a single tile,
  // which it decodes in place.
  uint64_t TileBufferPixels() const;
  // The coded data after the headers that Decode(dataLimit) may take in.
  uint64_t CodedBytes(uint64_t dataLimit);
  // The library's records of the largest tile while it is decoded (see
  // OpjTileComponentRecordBytes), for the headers Decode(dataLimit) may read.
  uint64_t TileRecordBytes(uint64_t dataLimit);
  // Decodes every component and reads to the end of the code stream, taking
  // at most dataLimit bytes past the headers (the library holds a tile's
  // coded data in memory, and a small picture must not cost a large file).
  bool Decode(uint64_t dataLimit);
  const opj_image_t* Image() const { return FImage.get(); }
  const std::string& LastError() const { return FMessages.LastError(); }

private:
  // The number of tiles, and the size of the largest, clipped to the picture.
  uint64_t LargestTile(uint64_t& width, uint64_t& height) const;

  TStream& FSource;
  const int64_t FStart;
  TOpjContent FContent = ocUnknown;
  TOpjHeaderFacts FHeaders;
  TOpjMessages FMessages;
  std::unique_ptr<TOpjStream> FStream;
  TOpjCodecHandle FCodec;  // destroyed before the stream it reads
  TOpjImage FImage;
};

struct TOpjEncodeOptions {
  uint32_t Resolutions = 6;
  float Ratio = 0;  // compression ratio of the one layer; 0 is lossless
  bool ColorTransform = false;
};

// Writes image as a JP2 file at stream's position: one layer, reversible 5/3
// wavelet. False when the library refuses or the stream fails.
bool EncodeJp2(opj_image_t& image, TStream& stream, const TOpjEncodeOptions& options);

}  // namespace tolvane
