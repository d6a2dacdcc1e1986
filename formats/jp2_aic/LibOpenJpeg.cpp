#include "LibOpenJpeg.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "picture/ByteOrder.h"

namespace tolvane {

namespace {

constexpr std::array<uint8_t, 12> kJp2Signature = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50,
                                                   0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A};
constexpr std::array<uint8_t, 4> kCodestreamStart = {0xFF, 0x4F, 0xFF, 0x51};

constexpr OPJ_SIZE_T kStreamError = static_cast<OPJ_SIZE_T>(-1);

TOpjStream& Self(void* self) { return *static_cast<TOpjStream*>(self); }

}  // namespace

TOpjContent OpjContentOf(const uint8_t* header, size_t size) {
  if (size >= kJp2Signature.size() && std::memcmp(header, kJp2Signature.data(), kJp2Signature.size()) == 0)
    return ocJP2;
  if (size >= kCodestreamStart.size() && std::memcmp(header, kCodestreamStart.data(), kCodestreamStart.size()) == 0)
    return ocCodestream;
  return ocUnknown;
}

// --------------------------------------------------------------- JP2 boxes

namespace {

constexpr uint32_t BoxType(const char (&name)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(name[0])) << 24 |
         static_cast<uint32_t>(static_cast<uint8_t>(name[1])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(name[2])) << 8 | static_cast<uint8_t>(name[3]);
}

// A bound on the boxes visited, so that a file of empty boxes costs little;
// a file with more before its code stream is refused (OpjHeaderFactsOf).
constexpr int kMaxBoxes = 1024;

struct TBox {
  uint32_t Type = 0;
  int64_t Body = 0;  // stream position of the box's contents
  int64_t End = 0;   // stream position after the box
};

// The box at the stream's position, ending at or before `limit`; false when
// none fits.
bool ReadBox(TStream& stream, int64_t limit, TBox& box) {
  const int64_t start = stream.Position();
  if (limit - start < 8) return false;
  uint8_t header[16];
  stream.ReadExact(header, 8);
  uint64_t length = LoadBE32(header);
  box.Type = LoadBE32(header + 4);
  int64_t headerSize = 8;
  if (length == 1) {
    if (limit - start < 16) return false;
    stream.ReadExact(header + 8, 8);
    length = uint64_t{LoadBE32(header + 8)} << 32 | LoadBE32(header + 12);
    headerSize = 16;
  } else if (length == 0) {
    length = static_cast<uint64_t>(limit - start);  // up to the end
  }
  if (length < static_cast<uint64_t>(headerSize)) return false;
  if (length > static_cast<uint64_t>(limit - start)) {
    // The library reads a code-stream box that claims more than there is
    // to the end; any other box must fit.
    if (box.Type != BoxType("jp2c")) return false;
    length = static_cast<uint64_t>(limit - start);
  }
  box.Body = start + headerSize;
  box.End = start + static_cast<int64_t>(length);
  return true;
}

}  // namespace

// ------------------------------------------------------ code-stream headers

namespace {

constexpr uint16_t kSIZ = 0xFF51, kCOD = 0xFF52, kCOC = 0xFF53, kSOT = 0xFF90, kSOD = 0xFF93, kEOC = 0xFFD9;
constexpr uint32_t kMaxLevels = 32;
// What one record of a precinct or a code block takes in the library Debian
// ships (measured: about 410 bytes), counted generously.
constexpr uint64_t kBytesPerRecord = 512;

// How a tile-component is coded, as far as it sets the number of records:
// decomposition levels, code-block size and precinct sizes (log2).
struct TCodingStyle {
  uint32_t Levels = 0;
  uint32_t BlockWidthLog = 6, BlockHeightLog = 6;
  std::array<uint8_t, kMaxLevels + 1> PrecinctWidthLog{}, PrecinctHeightLog{};
};

uint64_t CeilShift(uint64_t value, uint32_t shift) { return (value + (uint64_t{1} << shift) - 1) >> shift; }
uint64_t CeilDiv(uint64_t value, uint64_t by) { return value / by + (value % by != 0); }

// Code blocks along one side of a resolution: they lie within the
// precincts, whose sub-bands above the lowest resolution are half as large.
uint64_t BlocksAlong(uint64_t bandSamples, uint64_t precincts, uint32_t precinctLog, uint32_t blockLog) {
  const uint32_t log = std::min(blockLog, precinctLog);
  return std::min(precincts << (precinctLog - log), CeilShift(bandSamples, log) + precincts);
}

uint64_t RecordsOf(const TCodingStyle& s, uint64_t width, uint64_t height) {
  uint64_t records = 0;
  for (uint32_t r = 0; r <= s.Levels; ++r) {
    const uint64_t w = CeilShift(width, s.Levels - r), h = CeilShift(height, s.Levels - r);
    const uint32_t pw = s.PrecinctWidthLog[r], ph = s.PrecinctHeightLog[r];
    const uint64_t across = CeilShift(w, pw) + 1, down = CeilShift(h, ph) + 1;
    const uint32_t bandPw = r == 0 ? pw : std::max(pw, 1u) - 1, bandPh = r == 0 ? ph : std::max(ph, 1u) - 1;
    const uint64_t bandW = r == 0 ? w : CeilShift(w, 1), bandH = r == 0 ? h : CeilShift(h, 1);
    records += across * down + (r == 0 ? 1 : 3) * BlocksAlong(bandW, across, bandPw, s.BlockWidthLog) *
                                   BlocksAlong(bandH, down, bandPh, s.BlockHeightLog);
  }
  return records;
}

// Reads the marker segments of a code stream within [position, end).
class TMarkerReader {
public:
  TMarkerReader(TStream& stream, int64_t end) : FStream(stream), FEnd(end) {}

  bool Read(uint8_t* out, size_t count) {
    if (FEnd - FStream.Position() < static_cast<int64_t>(count)) return false;
    FStream.ReadExact(out, count);
    return true;
  }
  bool SeekTo(int64_t position) {
    if (position > FEnd) return false;
    FStream.SetPosition(position);
    return true;
  }
  int64_t Position() const { return FStream.Position(); }
  // Reads segments up to a marker without a length of its own (the start of
  // a tile-part or of its data, the end), handing each to
  // visit(marker, the first bytes of its body, their count, its length);
  // that marker, 0 when none is read.
  template <typename Visit>
  uint16_t Segments(Visit&& visit) {
    for (;;) {
      uint8_t head[4];
      if (!Read(head, 2)) return 0;
      const uint16_t marker = LoadBE16(head);
      if (marker == kSOT || marker == kSOD) return marker;
      if (marker < 0xFF00 || marker == kEOC) return 0;
      if (!Read(head + 2, 2) || LoadBE16(head + 2) < 2) return 0;
      const uint16_t length = LoadBE16(head + 2);
      const int64_t next = FStream.Position() + length - 2;
      uint8_t body[64] = {};
      const auto count = static_cast<size_t>(std::min<int64_t>(next - FStream.Position(), sizeof body));
      if (!Read(body, count)) return 0;
      visit(marker, static_cast<const uint8_t*>(body), count, length);
      if (!SeekTo(next)) return 0;
    }
  }

private:
  TStream& FStream;
  const int64_t FEnd;
};

// The marker segments of a code stream's main header and tile-part headers,
// read within [position, end), keeping the most records any coding style
// gives a tile-component of the given size.
class THeaderWalk {
public:
  THeaderWalk(TStream& stream, int64_t end, uint64_t width, uint64_t height)
      : FReader(stream, end), FWidth(width), FHeight(height) {}

  void Codestream() {
    uint8_t soc[2];
    if (!FReader.Read(soc, 2) || LoadBE16(soc) != 0xFF4F) return;
    uint16_t marker = Segments();
    while (marker == kSOT) {
      const int64_t start = FReader.Position() - 2;
      uint8_t sot[10];  // length, tile, tile-part length, part, parts
      if (!FReader.Read(sot, sizeof sot)) return;
      const uint32_t length = LoadBE32(sot + 4);
      // A tile-part of length 0 runs to the end of the code stream.
      if (Segments() != kSOD || length == 0 || !FReader.SeekTo(start + length)) return;
      marker = Segments();
    }
  }
  uint64_t MostRecords() const { return FMostRecords; }

private:
  uint16_t Segments() {
    return FReader.Segments([this](uint16_t marker, const uint8_t* body, size_t size, uint16_t) {
      Segment(marker, body, size);
    });
  }
  void Segment(uint16_t marker, const uint8_t* body, size_t size) {
    if (marker == kSIZ && size >= 36) {
      FComponents = LoadBE16(body + 34);
    } else if (marker == kCOD && size >= 5) {  // style, progression, layers, transform
      Style(body[0] & 1, body + 5, size - 5);
    } else if (marker == kCOC) {
      const size_t index = FComponents < 257 ? 1 : 2;
      if (size > index) Style(body[index] & 1, body + index + 1, size - index - 1);
    }
  }
  // The parameters after a COD's or COC's style byte: levels, code-block
  // width and height, block style, wavelet, then the precincts if any.
  void Style(bool precincts, const uint8_t* p, size_t size) {
    if (size < 3) return;
    TCodingStyle s;
    s.Levels = std::min<uint32_t>(p[0], kMaxLevels);
    s.BlockWidthLog = std::min<uint32_t>(p[1], 8) + 2;
    s.BlockHeightLog = std::min<uint32_t>(p[2], 8) + 2;
    for (uint32_t r = 0; r <= s.Levels; ++r) {
      const uint8_t sizes = precincts && 5 + r < size ? p[5 + r] : 0xFF;
      s.PrecinctWidthLog[r] = sizes & 15;
      s.PrecinctHeightLog[r] = static_cast<uint8_t>(sizes >> 4);
    }
    FMostRecords = std::max(FMostRecords, RecordsOf(s, FWidth, FHeight));
  }

  TMarkerReader FReader;
  const uint64_t FWidth, FHeight;
  uint16_t FComponents = 0;
  uint64_t FMostRecords = 0;
};

// The code stream's box in a JP2 file, among the first kMaxBoxes; false
// without one.
bool FindCodestreamBox(TStream& stream, int64_t end, TBox& box) {
  for (int top = 0; top < kMaxBoxes && ReadBox(stream, end, box); ++top) {
    if (box.Type == BoxType("jp2c")) return true;
    stream.SetPosition(box.End);
  }
  return false;
}

}  // namespace

uint64_t OpjTileComponentRecordBytes(TStream& stream, TOpjContent content, int64_t end, uint64_t width,
                                     uint64_t height) {
  const int64_t start = stream.Position();
  THeaderWalk walk(stream, end, width, height);
  try {
    TBox box;
    if (content == ocCodestream) {
      walk.Codestream();
    } else if (FindCodestreamBox(stream, end, box)) {
      stream.SetPosition(box.Body);
      walk.Codestream();
    }
  } catch (const EReadError&) {
    // What could be read counts; the library judges the rest.
  }
  stream.SetPosition(start);
  return walk.MostRecords() * kBytesPerRecord;
}

// ------------------------------------------------------------ header facts

namespace {

constexpr uint16_t kMCT = 0xFF74, kMCC = 0xFF75, kMCO = 0xFF77;
// The library's tile limit (the largest tile index a tile-part can name).
constexpr uint64_t kMaxTiles = 65535;

// The boxes the library reads whole into memory, wherever they lie before
// the code stream: the signature, file type and header boxes, and the
// header's own boxes when they stand outside it.
bool ReadWhole(uint32_t type) {
  for (const uint32_t whole : {BoxType("jP  "), BoxType("ftyp"), BoxType("jp2h"), BoxType("ihdr"), BoxType("colr"),
                               BoxType("bpcc"), BoxType("pclr"), BoxType("cmap"), BoxType("cdef")})
    if (type == whole) return true;
  return false;
}

// The size segment and the main header of the code stream at the stream's
// position, read within [position, end).
void MainHeaderFacts(TStream& stream, int64_t end, TOpjHeaderFacts& facts) {
  TMarkerReader reader(stream, end);
  const int64_t start = reader.Position();
  uint8_t head[4];
  if (!reader.Read(head, 4) || LoadBE16(head) != 0xFF4F || LoadBE16(head + 2) != kSIZ) return;
  stream.SetPosition(start + 2);
  bool sized = false;
  const uint16_t marker = reader.Segments([&](uint16_t code, const uint8_t* body, size_t size, uint16_t length) {
    if (code == kSIZ && !sized && size >= 36) {
      sized = true;
      // Capabilities, picture end, picture origin, tile size, tile origin.
      const uint64_t x1 = LoadBE32(body + 2), y1 = LoadBE32(body + 6), x0 = LoadBE32(body + 10),
                     y0 = LoadBE32(body + 14), tileW = LoadBE32(body + 18), tileH = LoadBE32(body + 22),
                     tileX = LoadBE32(body + 26), tileY = LoadBE32(body + 30);
      facts.Components = LoadBE16(body + 34);
      // Headers the library refuses before it sets anything up.
      if (x1 <= x0 || y1 <= y0 || tileW == 0 || tileH == 0 || tileX > x0 || tileY > y0) return;
      facts.Width = x1 - x0;
      facts.Height = y1 - y0;
      facts.Tiles = CeilDiv(x1 - tileX, tileW) * CeilDiv(y1 - tileY, tileH);
    } else if (code == kMCT || code == kMCC || code == kMCO) {
      facts.Transform = true;
      facts.TransformBytes += length;
    }
  });
  // The main header ends where the first tile-part starts.
  if (marker != kSOT || facts.Width == 0 || facts.Tiles > kMaxTiles) return;
  facts.MainHeaderBytes = static_cast<uint64_t>(reader.Position() - 2 - start);
  facts.Found = true;
}

// The palette's columns of a JP2 header box, counting its boxes as read
// whole; false when it holds more boxes than are visited.
bool HeaderBoxFacts(TStream& stream, const TBox& header, TOpjHeaderFacts& facts) {
  stream.SetPosition(header.Body);
  TBox inner;
  for (int sub = 0; sub < kMaxBoxes; ++sub) {
    if (!ReadBox(stream, header.End, inner)) return true;
    if (inner.Type == BoxType("pclr") && inner.End - inner.Body >= 3) {
      uint8_t head[3];
      stream.ReadExact(head, 3);
      facts.PaletteColumns = std::max<uint32_t>(facts.PaletteColumns, head[2]);
    }
    stream.SetPosition(inner.End);
  }
  return false;
}

void Jp2Facts(TStream& stream, int64_t end, TOpjHeaderFacts& facts) {
  TBox box;
  for (int top = 0; top < kMaxBoxes && ReadBox(stream, end, box); ++top) {
    if (box.Type == BoxType("jp2c")) {
      stream.SetPosition(box.Body);
      MainHeaderFacts(stream, box.End, facts);
      return;
    }
    if (ReadWhole(box.Type)) facts.WholeBoxBytes += static_cast<uint64_t>(box.End - box.Body);
    if (box.Type == BoxType("jp2h") && !HeaderBoxFacts(stream, box, facts)) return;
    stream.SetPosition(box.End);
  }
}

}  // namespace

uint64_t TOpjHeaderFacts::TileSetupBytes() const {
  // Measured with the library Debian ships: about 8.7 KiB a tile and 1.1 KiB
  // a tile-component, counted generously; the transform's matrices and data
  // are copied into every tile.
  const uint64_t c = Components;
  return Tiles * ((12 << 10) + c * (3 << 9) + (Transform ? 8 * c * c : 0) + 2 * TransformBytes);
}

uint64_t TOpjHeaderFacts::HeaderMemory() const {
  // The main header's packed packet headers are kept and then merged; a
  // colour profile is copied out of its box.
  return TileSetupBytes() + 2 * MainHeaderBytes + 3 * WholeBoxBytes;
}

TOpjHeaderFacts OpjHeaderFactsOf(TStream& stream, TOpjContent content) {
  const int64_t start = stream.Position();
  const int64_t end = start + stream.Remaining();
  TOpjHeaderFacts facts;
  try {
    if (content == ocCodestream) MainHeaderFacts(stream, end, facts);
    else if (content == ocJP2) Jp2Facts(stream, end, facts);
  } catch (const EReadError&) {
    facts.Found = false;
  }
  stream.SetPosition(start);
  return facts;
}

// ------------------------------------------------------------------ stream

TOpjStream::TOpjStream(TStream& stream, bool input) : FStream(stream), FInput(input) {
  FBase = stream.Position();
  if (input) FLength = stream.Remaining();
  FHandle = opj_stream_create(BufferSize, input ? OPJ_STREAM_READ : OPJ_STREAM_WRITE);
  if (!FHandle) return;
  opj_stream_set_user_data(FHandle, this, nullptr);
  if (input) {
    opj_stream_set_user_data_length(FHandle, static_cast<OPJ_UINT64>(FLength));
    opj_stream_set_read_function(FHandle, &ReadProc);
  } else {
    opj_stream_set_write_function(FHandle, &WriteProc);
  }
  opj_stream_set_skip_function(FHandle, &SkipProc);
  opj_stream_set_seek_function(FHandle, &SeekProc);
}

TOpjStream::~TOpjStream() {
  if (FHandle) opj_stream_destroy(FHandle);
}

void TOpjStream::LimitLength(int64_t length) {
  if (!FInput || !FHandle || length >= FLength) return;
  FLength = std::max<int64_t>(length, 0);
  opj_stream_set_user_data_length(FHandle, static_cast<OPJ_UINT64>(FLength));
}

int64_t TOpjStream::Consumed() {
  try {
    return FStream.Position() - FBase;
  } catch (...) {
    FFailed = true;
    return 0;
  }
}

OPJ_SIZE_T TOpjStream::ReadProc(void* buffer, OPJ_SIZE_T count, void* self) {
  TOpjStream& s = Self(self);
  if (s.FFailed) return kStreamError;
  try {
    const int64_t left = s.FBase + s.FLength - s.FStream.Position();
    if (left <= 0) return kStreamError;
    const size_t got = s.FStream.Read(buffer, std::min<uint64_t>(count, static_cast<uint64_t>(left)));
    // The library takes "nothing read" as an error result, not as 0.
    return got == 0 ? kStreamError : got;
  } catch (...) {
    s.FFailed = true;
    return kStreamError;
  }
}

OPJ_SIZE_T TOpjStream::WriteProc(void* buffer, OPJ_SIZE_T count, void* self) {
  TOpjStream& s = Self(self);
  if (s.FFailed) return kStreamError;
  try {
    s.FStream.WriteExact(buffer, count);
    return count;
  } catch (...) {
    s.FFailed = true;
    return kStreamError;
  }
}

OPJ_OFF_T TOpjStream::SkipProc(OPJ_OFF_T count, void* self) {
  TOpjStream& s = Self(self);
  if (s.FFailed) return -1;
  try {
    const int64_t from = s.FStream.Position();
    int64_t to = from + count;
    if (to < s.FBase) return -1;
    // A reader never moves past the data; a writer may leave a gap that it
    // fills later (the JP2 writer reserves its code-stream box header so).
    if (s.FInput && to > s.FBase + s.FLength) to = s.FBase + s.FLength;
    const int64_t reached = s.FStream.Seek(to, TSeekOrigin::soBeginning);
    if (reached != to) return -1;
    return to == from && count > 0 ? -1 : static_cast<OPJ_OFF_T>(to - from);
  } catch (...) {
    s.FFailed = true;
    return -1;
  }
}

OPJ_BOOL TOpjStream::SeekProc(OPJ_OFF_T offset, void* self) {
  TOpjStream& s = Self(self);
  if (s.FFailed || offset < 0) return OPJ_FALSE;
  if (s.FInput && offset > s.FLength) return OPJ_FALSE;
  try {
    const int64_t to = s.FBase + offset;
    return s.FStream.Seek(to, TSeekOrigin::soBeginning) == to ? OPJ_TRUE : OPJ_FALSE;
  } catch (...) {
    s.FFailed = true;
    return OPJ_FALSE;
  }
}

// ---------------------------------------------------------------- messages

void TOpjMessages::Install(opj_codec_t* codec) {
  opj_set_error_handler(codec, &OnError, this);
  opj_set_warning_handler(codec, &OnQuiet, this);
  opj_set_info_handler(codec, &OnQuiet, this);
}

void TOpjMessages::OnError(const char* message, void* self) {
  try {
    static_cast<TOpjMessages*>(self)->FLastError = message ? message : "";
  } catch (...) {
    // Out of memory while keeping a message: the failure is reported anyway.
  }
}

// ----------------------------------------------------------------- decoder

TOpjDecoder::TOpjDecoder(TStream& stream) : FSource(stream), FStart(stream.Position()) {
  std::array<uint8_t, kJp2Signature.size()> header{};
  const size_t got = stream.Read(header.data(), header.size());
  stream.SetPosition(FStart);
  FContent = OpjContentOf(header.data(), got);
  if (FContent == ocUnknown) return;
  FHeaders = OpjHeaderFactsOf(stream, FContent);
  FStream = std::make_unique<TOpjStream>(stream, true);
}

uint32_t TOpjDecoder::MaxComponents() const {
  return (FImage ? FImage->numcomps : 0) + FHeaders.PaletteColumns;
}

bool TOpjDecoder::ReadHeader() {
  if (FContent == ocUnknown || !FStream->Handle()) return false;
  FCodec.reset(opj_create_decompress(FContent == ocJP2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
  if (!FCodec) return false;
  FMessages.Install(FCodec.get());
  opj_dparameters_t parameters;
  opj_set_default_decoder_parameters(&parameters);
  if (!opj_setup_decoder(FCodec.get(), &parameters)) return false;
  if (!opj_decoder_set_strict_mode(FCodec.get(), OPJ_TRUE)) return false;
  opj_image_t* image = nullptr;
  const bool read = opj_read_header(FStream->Handle(), FCodec.get(), &image) != OPJ_FALSE;
  FImage.reset(image);
  return read && FImage && !FStream->Failed();
}

uint64_t TOpjDecoder::LargestTile(uint64_t& width, uint64_t& height) const {
  width = height = 0;
  if (!FCodec || !FImage) return 0;
  opj_codestream_info_v2_t* info = opj_get_cstr_info(FCodec.get());
  if (!info) return 0;
  width = std::min<uint64_t>(info->tdx, FImage->x1 - FImage->x0);
  height = std::min<uint64_t>(info->tdy, FImage->y1 - FImage->y0);
  const uint64_t tiles = uint64_t{info->tw} * info->th;
  opj_destroy_cstr_info(&info);
  return tiles;
}

uint64_t TOpjDecoder::TileBufferPixels() const {
  uint64_t width, height;
  return LargestTile(width, height) > 1 ? width * height : 0;
}

uint64_t TOpjDecoder::CodedBytes(uint64_t dataLimit) {
  return std::min(dataLimit, static_cast<uint64_t>(std::max<int64_t>(FStream->Left(), 0)));
}

uint64_t TOpjDecoder::TileRecordBytes(uint64_t dataLimit) {
  uint64_t width, height;
  if (LargestTile(width, height) == 0) return 0;
  const uint64_t end = static_cast<uint64_t>(FStart + FStream->Consumed()) + dataLimit;
  const int64_t bounded = end < static_cast<uint64_t>(INT64_MAX) ? static_cast<int64_t>(end) : INT64_MAX;
  // The library reads on from where it stopped.
  const int64_t reading = FSource.Position();
  FSource.SetPosition(FStart);
  const uint64_t bytes = OpjTileComponentRecordBytes(FSource, FContent, bounded, width, height);
  FSource.SetPosition(reading);
  return FImage->numcomps * bytes;
}

bool TOpjDecoder::Decode(uint64_t dataLimit) {
  if (!FCodec || !FImage) return false;
  const uint64_t limit = static_cast<uint64_t>(FStream->Consumed()) + dataLimit;
  if (limit < static_cast<uint64_t>(INT64_MAX)) FStream->LimitLength(static_cast<int64_t>(limit));
  if (!opj_decode(FCodec.get(), FStream->Handle(), FImage.get())) return false;
  if (!opj_end_decompress(FCodec.get(), FStream->Handle())) return false;
  return !FStream->Failed();
}

// ----------------------------------------------------------------- encoder

bool EncodeJp2(opj_image_t& image, TStream& stream, const TOpjEncodeOptions& options) {
  opj_cparameters_t parameters;
  opj_set_default_encoder_parameters(&parameters);
  parameters.tcp_numlayers = 1;
  parameters.cp_disto_alloc = 1;
  parameters.tcp_rates[0] = options.Ratio;  // 0: lossless
  parameters.irreversible = 0;
  parameters.numresolution = static_cast<int>(options.Resolutions);
  parameters.tcp_mct = options.ColorTransform ? 1 : 0;

  TOpjMessages messages;
  TOpjCodecHandle codec(opj_create_compress(OPJ_CODEC_JP2));
  if (!codec) return false;
  messages.Install(codec.get());
  if (!opj_setup_encoder(codec.get(), &parameters, &image)) return false;
  TOpjStream out(stream, false);
  if (!out.Handle()) return false;
  if (!opj_start_compress(codec.get(), &image, out.Handle())) return false;
  if (!opj_encode(codec.get(), out.Handle())) return false;
  if (!opj_end_compress(codec.get(), out.Handle())) return false;
  return !out.Failed();
}

}  // namespace tolvane
