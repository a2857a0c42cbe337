// What launcher-pack needs to know of a jar, read in pieces so that a large jar is never held in
// memory: its length, the size of its zip archive and the names of its entries.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "payload_format.h"

namespace launcher_pack {

// An entry as its central directory header describes it.
struct ZipEntry {
  std::string name;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;  // 0 stored, 8 deflated
  std::uint32_t crc = 0;
  std::uint32_t compressed_size = 0;
  std::uint32_t size = 0;
  std::int64_t local_header = 0;  // offset of its local header in the jar
};

// The manifest's entry name; java also takes it in another letter case when this one is absent.
inline constexpr char kManifestName[] = "META-INF/MANIFEST.MF";

struct JarLayout {
  std::int64_t length = 0;
  std::optional<std::int64_t> archive_size;         // nullopt when the jar has no end record
  std::set<std::string> entries;                    // names in the central directory
  std::optional<ZipEntry> manifest = std::nullopt;  // nullopt when the jar has no manifest
};

// Reads the n bytes at pos into *out; false on a read error.
using ReadAtFunction = std::function<bool(std::int64_t pos, std::size_t n, Bytes* out)>;

// Finds the end record in the jar's last bytes and walks the central directory it points to,
// stopping at the first header that is malformed or runs past the end. Returns false only when
// read_at fails.
bool ReadJarLayout(std::int64_t length, const ReadAtFunction& read_at, JarLayout* jar);

// The layout of a jar held in memory.
JarLayout JarLayoutOf(const Bytes& jar);

}  // namespace launcher_pack
