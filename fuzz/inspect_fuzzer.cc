// launcher-pack --inspect on arbitrary files: every position is checked before it is read.
#include <cstdint>
#include <sstream>

#include "fuzz_check.h"
#include "inspect.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const launcher_pack::Bytes file(data, data + size);
  std::ostringstream out;
  const int status = launcher_pack::InspectPackedFile(file, out);
  FUZZ_CHECK(status == 0 || status == 1);
  const std::string report = out.str();
  FUZZ_CHECK(!report.empty() && report.back() == '\n');
  // A consistent file is reported down to its jar entries.
  if (status == 0) FUZZ_CHECK(report.find("\njar entries: ") != std::string::npos);
  return 0;
}
