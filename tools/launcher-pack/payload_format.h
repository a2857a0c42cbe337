// Byte-level layout shared by the packer and the inspector: the archive size field inside the
// launcher image, the payload appended after it, and the zip end record search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace launcher_pack {

using Bytes = std::vector<std::uint8_t>;

// The launcher image carries this text exactly once, followed by the 8-byte archive size field.
inline constexpr char kSizeFieldMarker[] = "@@ZIP-SIZE-FIELD";
inline constexpr std::size_t kSizeFieldMarkerLength = sizeof(kSizeFieldMarker) - 1;
inline constexpr std::size_t kSizeFieldLength = 8;

// The launcher image's version record: this text, the version (e.g. "1.0.0") and a NUL.
inline constexpr char kVersionMarker[] = "@@LAUNCHER-VERSION ";
inline constexpr std::size_t kVersionMarkerLength = sizeof(kVersionMarker) - 1;
inline constexpr std::size_t kMaxVersionLength = 64;

// A zip end-of-central-directory record is 22 bytes plus a comment of at most 64 KiB; the
// launcher only looks this far back from the end of its file.
inline constexpr std::size_t kEocdLength = 22;
inline constexpr std::size_t kEocdSearchWindow = 50 * 1024 + 22;
inline constexpr std::uint8_t kEocdSignature[] = {'P', 'K', 5, 6};

// Zero bytes between the settings length and the first byte of the archive.
inline constexpr std::size_t kGapLength = 16;

// Settings text starts with the UTF-8 byte order mark.
inline constexpr std::uint8_t kUtf8Bom[] = {0xEF, 0xBB, 0xBF};

// A launcher takes its own file size as a signed 32-bit value and finds no payload in a larger
// file, so this is the largest packed file that works.
inline constexpr std::int64_t kMaxPackedSize = 0x7FFFFFFF;

void AppendLe32(Bytes& out, std::int32_t value);
std::int32_t ReadLe32(const std::uint8_t* p);
std::uint16_t ReadLe16(const std::uint8_t* p);
void WriteLe64(std::uint8_t* p, std::uint64_t value);
std::uint64_t ReadLe64(const std::uint8_t* p);

struct MarkerSearch {
  std::size_t count = 0;   // 0, 1, or 2 meaning "two or more"
  std::size_t offset = 0;  // offset of the first occurrence when count > 0
};

// Looks for the size field marker, stopping at the second occurrence.
MarkerSearch FindSizeFieldMarker(const std::uint8_t* data, std::size_t size);

// The version of the first well-formed version record in data (printable ASCII, at most
// kMaxVersionLength bytes, ended by a NUL); nullopt when there is none.
std::optional<std::string> FindLauncherVersion(const std::uint8_t* data, std::size_t size);

// Returns the offset of the zip end record the way the launcher finds it: the last
// "PK\5\6" in the final kEocdSearchWindow bytes that still has 22 bytes after it.
std::optional<std::size_t> FindEocd(const std::uint8_t* data, std::size_t size);

// Checks that data is well-formed UTF-8; otherwise sets *error to "not valid UTF-8 at byte N".
bool CheckUtf8(const std::uint8_t* data, std::size_t size, std::string* error);

// Decodes a settings file (UTF-8 with or without a byte order mark, or UTF-16 LE/BE with one)
// into UTF-8 text. Returns false and sets *error on malformed input.
bool DecodeSettingsText(const Bytes& raw, std::string* utf8, std::string* error);

// Splits text into lines, taking CR, LF, CR LF and LF CR each as one line end. A last line
// without a line end is still a line; empty lines are kept.
std::vector<std::string> SplitLines(const std::string& text);

// The settings block as the launcher reads it: byte order mark, each line ended by CR LF, NUL.
Bytes EncodeSettingsBlock(const std::vector<std::string>& lines);

}  // namespace launcher_pack
