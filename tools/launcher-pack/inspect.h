// Reports what a launcher would read from a packed file, checking every position first.
#pragma once

#include <ostream>

#include "payload_format.h"

namespace launcher_pack {

// Prints one "name: value" line per item to out. Returns 0 when the file is consistent and 1
// when a value does not fit the file or a block is malformed; never reads out of bounds.
int InspectPackedFile(const Bytes& file, std::ostream& out);

}  // namespace launcher_pack
