// Decompression of a shipped runtime with zstd, linked statically.
#include <zstd.h>

#include "platform/platform.h"

bool DecompressBlock(int method, const unsigned char* in, long long inSize, unsigned char* out,
                     long long outSize, const char** why) {
  if (method != kCompressionZstd) {
    *why = "unknown compression method";
    return false;
  }
  size_t result =
      ZSTD_decompress(out, static_cast<size_t>(outSize), in, static_cast<size_t>(inSize));
  if (ZSTD_isError(result)) {
    *why = ZSTD_getErrorName(result);
    return false;
  }
  if (static_cast<long long>(result) != outSize) {
    *why = "the unpacked size differs from the recorded one";
    return false;
  }
  return true;
}
