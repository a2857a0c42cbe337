// The byte layout that launcher-pack writes and the launcher reads back: the two marked records
// inside the launcher image, the payload blocks appended after the image and the search for the
// zip end record. Plain constants and small structs, so that the launcher and the packer share
// one definition.
#ifndef LAUNCHER_SETTINGS_PAYLOAD_LAYOUT_H_
#define LAUNCHER_SETTINGS_PAYLOAD_LAYOUT_H_

#include <cstdint>

namespace payload_layout {

// Marker texts are kept in two halves: a marker must occur exactly once in a launcher image, so
// only the definition of its record there may hold the whole text, never a constant that a
// compiler could also emit, for instance as debug information.
template <int N>
struct MarkerText {
  char text[N + 1];  // NUL-terminated
};

template <int N, int H, int T>
constexpr MarkerText<N> JoinMarker(const char (&head)[H], const char (&tail)[T]) {
  static_assert(H - 1 + T - 1 == N, "the halves make up the marker");
  MarkerText<N> joined = {};
  for (int i = 0; i < H - 1; ++i) joined.text[i] = head[i];
  for (int i = 0; i < T - 1; ++i) joined.text[H - 1 + i] = tail[i];
  return joined;
}

// The archive size field: the marker, then 8 bytes in which the packer stores the zip archive's
// size Z, little-endian. The launcher reads the low 4 bytes as a signed value.
inline constexpr int kSizeFieldMarkerLength = 16;
inline constexpr int kSizeFieldLength = 8;
inline constexpr char kSizeFieldMarkerHead[] = "@@ZIP-SI";
inline constexpr char kSizeFieldMarkerTail[] = "ZE-FIELD";

constexpr MarkerText<kSizeFieldMarkerLength> SizeFieldMarker() {
  return JoinMarker<kSizeFieldMarkerLength>(kSizeFieldMarkerHead, kSizeFieldMarkerTail);
}

// The field as the launcher image holds it, before packing: the marker and a zero size.
struct SizeFieldRecord {
  char marker[kSizeFieldMarkerLength];
  unsigned char size[kSizeFieldLength];
};

constexpr SizeFieldRecord MakeSizeFieldRecord() {
  const MarkerText<kSizeFieldMarkerLength> marker = SizeFieldMarker();
  SizeFieldRecord record = {};
  for (int i = 0; i < kSizeFieldMarkerLength; ++i) record.marker[i] = marker.text[i];
  return record;
}

// The version record: the marker, the version text (printable ASCII, at most kMaxVersionLength
// bytes) and a NUL.
inline constexpr int kVersionMarkerLength = 19;
inline constexpr int kMaxVersionLength = 64;
inline constexpr char kVersionMarkerHead[] = "@@LAUNCHER-";
inline constexpr char kVersionMarkerTail[] = "VERSION ";

constexpr MarkerText<kVersionMarkerLength> VersionMarker() {
  return JoinMarker<kVersionMarkerLength>(kVersionMarkerHead, kVersionMarkerTail);
}

template <int N>
struct VersionRecord {
  char text[kVersionMarkerLength + N];
};

// The record of a version given as a string literal, whose NUL ends the record.
template <int N>
constexpr VersionRecord<N> MakeVersionRecord(const char (&version)[N]) {
  static_assert(N - 1 <= kMaxVersionLength, "the version text fits the record");
  const MarkerText<kVersionMarkerLength> marker = VersionMarker();
  VersionRecord<N> record = {};
  for (int i = 0; i < kVersionMarkerLength; ++i) record.text[i] = marker.text[i];
  for (int i = 0; i < N; ++i) record.text[kVersionMarkerLength + i] = version[i];
  return record;
}

// The zip end-of-central-directory record: its signature and fixed length. The launcher takes the
// last signature with a whole record after it within the final kEocdSearchWindow bytes of
// its file; every byte after that record is the remark (the archive comment).
inline constexpr int kEocdLength = 22;
inline constexpr unsigned char kEocdSignature[4] = {'P', 'K', 5, 6};
inline constexpr int kEocdSearchWindow = 50 * 1024 + kEocdLength;

// The payload, in file order right after the image: the splash image (D bytes), D, the reserved
// block (C bytes), C, the settings text (L bytes), L, a gap of zero bytes, the zip archive and
// the remark. Each length is a 4-byte little-endian signed value and counts the block before it.
// Readers walk back from trailerEnd, the offset just past L.
inline constexpr int kLengthFieldSize = 4;
inline constexpr int kGapLength = 16;
// The settings text starts with the UTF-8 byte order mark and ends with one NUL.
inline constexpr unsigned char kUtf8Bom[3] = {0xEF, 0xBB, 0xBF};

// A Windows launcher carries its splash image as a resource: its payload starts with the
// settings text, without the splash and reserved blocks and their lengths.
enum class Variant { kLinux, kWindows };

// The payload bytes in front of the zip archive.
constexpr std::int64_t PayloadHeadLength(Variant variant, std::int64_t splash,
                                         std::int64_t reserved, std::int64_t settings) {
  const std::int64_t blocks =
      variant == Variant::kWindows ? 0 : splash + kLengthFieldSize + reserved + kLengthFieldSize;
  return blocks + settings + kLengthFieldSize + kGapLength;
}

// trailerEnd of a file of fileSize bytes ending with an archive of archiveSize bytes and a
// remark of remarkLength bytes.
constexpr std::int64_t TrailerEnd(std::int64_t fileSize, std::int64_t archiveSize,
                                  std::int64_t remarkLength) {
  return fileSize - archiveSize - remarkLength - kGapLength;
}

// A Linux payload's reserved block may carry a Java runtime: a header of kRuntimeHeaderLength
// bytes, then the compressed entry stream. Header fields, little-endian: the magic (8 bytes), the
// compression method (4), the file count (4), the compressed size (8), the unpacked size (8) and
// the digest of the unpacked stream as kRuntimeDigestLength lower-case hex digits.
inline constexpr char kRuntimeMagic[9] = "JRTBLK01";
inline constexpr int kRuntimeHeaderLength = 64;
inline constexpr int kRuntimeDigestLength = 32;
inline constexpr int kRuntimeMethodOffset = 8;
inline constexpr int kRuntimeFileCountOffset = 12;
inline constexpr int kRuntimeCompressedSizeOffset = 16;
inline constexpr int kRuntimeUnpackedSizeOffset = 24;
inline constexpr int kRuntimeDigestOffset = 32;
enum RuntimeMethod { kRuntimeZstd = 1, kRuntimeDeflate = 2 };
// The unpacked stream is a sequence of entries, each a type byte, a 2-byte mode and a 2-byte path
// length, the relative path ('/'-separated), then for a file an 8-byte size and its bytes, for a
// link a 2-byte target length and the target; a type byte kEntryEnd closes the stream.
enum RuntimeEntryType { kEntryEnd = 0, kEntryDirectory = 'd', kEntryFile = 'f', kEntryLink = 'l' };
// The largest unpacked stream the launcher accepts.
inline constexpr std::int64_t kMaxRuntimeUnpackedSize = std::int64_t{1} << 30;

// The launcher takes its own file size as a signed 32-bit value and finds no payload in a larger
// file, so this is the largest packed file that works.
inline constexpr std::int64_t kMaxPackedSize = 0x7FFFFFFF;

}  // namespace payload_layout

#endif  // LAUNCHER_SETTINGS_PAYLOAD_LAYOUT_H_
