// Arbitrary bytes as the launcher's own file: the remark search, the trailer position, the
// packaged and the external settings, every settings lookup and the splash block.
//
// Input: 4 bytes archive size (little-endian, as the image's field holds it), 2 bytes external
// file length n, n bytes of external configuration file, then the own file.
//
// The build wraps mmap and munmap (-Wl,--wrap) so that the own file is "mapped" into a heap
// block of exactly its size: AddressSanitizer then reports any read past the file's end, which a
// real mapping would hide up to the next page boundary.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <set>

#include "fuzz_support.h"
#include "platform/platform.h"
#include "settings/payload.h"

extern "C" void* __real_mmap(void* address, size_t length, int protection, int flags, int fd,
                             off_t offset);
extern "C" int __real_munmap(void* address, size_t length);

namespace {

volatile unsigned g_sink;  // the block bytes are read into it, so every byte is touched

std::set<void*>& HeapMappings() {
  static std::set<void*> mappings;
  return mappings;
}

}  // namespace

extern "C" void* __wrap_mmap(void* address, size_t length, int protection, int flags, int fd,
                             off_t offset) {
  if (address || fd < 0 || offset != 0 || protection != PROT_READ || length == 0) {
    return __real_mmap(address, length, protection, flags, fd, offset);
  }
  unsigned char* copy = static_cast<unsigned char*>(malloc(length));
  size_t done = 0;
  while (copy && done < length) {
    ssize_t n = pread(fd, copy + done, length - done, static_cast<off_t>(done));
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  if (!copy || done != length) {
    free(copy);
    return MAP_FAILED;
  }
  HeapMappings().insert(copy);
  return copy;
}

extern "C" int __wrap_munmap(void* address, size_t length) {
  if (HeapMappings().erase(address)) {
    free(address);
    return 0;
  }
  return __real_munmap(address, length);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setlocale(LC_ALL, "C.UTF-8");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  const uint32_t archiveSize =
      static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1]) << 8) |
      (static_cast<uint32_t>(data[2]) << 16) | (static_cast<uint32_t>(data[3]) << 24);
  size_t external = static_cast<size_t>(data[4]) | (static_cast<size_t>(data[5]) << 8);
  data += 6;
  size -= 6;
  if (external > size) external = size;

  static const std::string own = fuzz::ScratchDir() + "/tool.bin";
  static const std::string config = own + ".cfg";
  if (external > 0) {
    fuzz::WriteFile(config, data, external);
  } else {
    unlink(config.c_str());
  }
  const size_t fileSize = size - external;
  fuzz::WriteFile(own, data + external, fileSize);

  SetExePathForTesting(own.c_str());
  SetArchiveSizeForTesting(archiveSize);
  {
    CSettingsLoader loader(true);
    FUZZ_CHECK(loader.trailerEnd == -1 ||
               (loader.trailerEnd >= 4 && static_cast<size_t>(loader.trailerEnd) + 16 <= fileSize));
    FUZZ_CHECK(loader.externalLength >= 0 && loader.externalLength <= loader.GetLength());
    FUZZ_CHECK(fuzz::Str(loader.exePath) == own);

    pldr = &loader;
    fuzz::LookUpEveryKey(loader);
    pldr = nullptr;

    PayloadView view(own.c_str());
    FUZZ_CHECK(view.Size() == static_cast<int>(fileSize));
    int offset = -1, length = -1;
    if (view.SettingsBlock(loader.trailerEnd, &offset, &length)) {
      FUZZ_CHECK(offset >= 0 && length >= 0 && offset + length + 4 == loader.trailerEnd);
      for (int i = 0; i < length; ++i) g_sink += view.Bytes()[offset + i];
    }
    if (view.SplashBlock(loader.trailerEnd, &offset, &length)) {
      // The image lies in front of its own length field and the C and L fields.
      FUZZ_CHECK(loader.trailerEnd >= 0 && offset >= 0 && length > 0);
      FUZZ_CHECK(static_cast<long long>(offset) + length + 12 <= loader.trailerEnd);
      for (int i = 0; i < length; ++i) g_sink += view.Bytes()[offset + i];
    }
  }
  SetExePathForTesting(nullptr);
  SetArchiveSizeForTesting(-1);
  return 0;
}
