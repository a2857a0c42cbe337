// Unpacking a shipped runtime's entry stream, and reading a runtime block's header: any input
// either unpacks or is refused, and nothing is ever written beside the target directory.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_check.h"
#include "platform/platform.h"
#include "runtime/embedded_runtime.h"

namespace {

// The only entry of the directory that holds the target.
bool OnlyTargetIn(const std::string& base) {
  DIR* dir = opendir(base.c_str());
  if (!dir) return false;
  int others = 0;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != ".." && name != "rt") ++others;
  }
  closedir(dir);
  return others == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string base = [] {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/unpack-fuzz-XXXXXX";
    FUZZ_CHECK(mkdtemp(&pattern[0]) != nullptr);
    return pattern;
  }();
  const std::string target = base + "/rt";
  FUZZ_CHECK(mkdir(target.c_str(), 0700) == 0);
  MyCString marker, why;
  if (!UnpackEntries(data, static_cast<long long>(size), target.c_str(), marker, why)) {
    FUZZ_CHECK(!why.IsEmpty());
  }
  FUZZ_CHECK(OnlyTargetIn(base));
  FUZZ_CHECK(RemoveDirectoryTree(target.c_str()));

  RuntimeBlockHeader header;
  if (ParseRuntimeBlockHeader(data, static_cast<long long>(size), &header)) {
    FUZZ_CHECK(header.compressedSize <= static_cast<long long>(size) - 64);
    FUZZ_CHECK(header.unpackedSize > 0);
  }
  return 0;
}
