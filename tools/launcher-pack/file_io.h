// Whole-file reading and all-or-nothing writing for launcher-pack.
#pragma once

#include <sys/types.h>

#include <string>

#include "payload_format.h"

namespace launcher_pack {

// Reads the whole file; on failure sets *reason to the system's description of the error.
bool ReadFile(const std::string& path, Bytes* data, std::string* reason);

// Writes data to a temporary file beside path with the given mode and renames it over path,
// so a failure never leaves a partial file behind.
bool WriteFileAtomically(const std::string& path, const Bytes& data, mode_t mode,
                         std::string* reason);

}  // namespace launcher_pack
