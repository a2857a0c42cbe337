// Byte-level layout shared by the packer and the inspector: the archive size field inside the
// launcher image, the payload appended after it, and the zip end record search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "settings/payload_layout.h"

namespace launcher_pack {

using Bytes = std::vector<std::uint8_t>;

// The layout constants are the launcher's own (settings/payload_layout.h).
using payload_layout::kEocdLength;
using payload_layout::kEocdSearchWindow;
using payload_layout::kEocdSignature;
using payload_layout::kGapLength;
using payload_layout::kLengthFieldSize;
using payload_layout::kMaxPackedSize;
using payload_layout::kMaxVersionLength;
using payload_layout::kSizeFieldLength;
using payload_layout::kSizeFieldMarkerLength;
using payload_layout::kUtf8Bom;
using payload_layout::kVersionMarkerLength;

// The marker texts whole. A launcher image holds each only inside its record; these copies
// belong to the packer.
inline constexpr auto kSizeFieldMarkerText = payload_layout::SizeFieldMarker();
inline constexpr const char* kSizeFieldMarker = kSizeFieldMarkerText.text;
inline constexpr auto kVersionMarkerText = payload_layout::VersionMarker();
inline constexpr const char* kVersionMarker = kVersionMarkerText.text;

// The payload a launcher image takes: a Windows image starts with the "MZ" of an executable.
payload_layout::Variant PayloadVariantOf(const Bytes& image);

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

// Appends the UTF-8 form of code point cp.
void AppendUtf8(std::string& out, std::uint32_t cp);

}  // namespace launcher_pack
