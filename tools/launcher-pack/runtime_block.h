// The reserved payload block that carries a Java runtime: a header, then the runtime directory's
// entries as one compressed stream (the layout is in settings/payload_layout.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "payload_format.h"

namespace launcher_pack {

struct RuntimeBlockInfo {
  int method = 0;
  int file_count = 0;
  std::int64_t compressed_size = 0;
  std::int64_t unpacked_size = 0;
  std::string digest;
};

// Serialises the directory (directories, files and relative links inside it; sorted, so that
// the same runtime gives the same bytes), names it by the SHA-256 of the stream and compresses
// it with zstd at the given level. False, with *error set, when the directory cannot be read or
// holds a link that leaves it or another kind of file.
bool BuildRuntimeBlock(const std::string& directory, int level, Bytes* block, std::string* error);

// The header of a runtime block, or nothing when block is no runtime block.
std::optional<RuntimeBlockInfo> ReadRuntimeBlockHeader(const std::uint8_t* block,
                                                       std::int64_t length);

// The lower-case hex SHA-256 digest of data.
std::string Sha256Hex(const Bytes& data);

}  // namespace launcher_pack
