// A stand-in for a Java runtime's splash screen library that records the calls the launcher makes
// in the file named by TESTJVM_LOG and can save the image it was given to the file named by
// TESTSPLASH_DUMP. Built twice, the second time without SplashLoadMemory.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "log_file.h"

#if defined(_WIN32)
#define TESTSPLASH_EXPORT extern "C" __declspec(dllexport)
#else
#define TESTSPLASH_EXPORT extern "C" __attribute__((visibility("default")))
#endif

TESTSPLASH_EXPORT int SplashInit(void) {
  testjvm::AppendLogLine("splash init");
  return 1;
}

#ifndef TESTSPLASH_NO_LOAD
TESTSPLASH_EXPORT int SplashLoadMemory(void* data, int size) {
  if (size < 0 || (data == nullptr && size > 0)) {
    testjvm::AppendLogLine("splash load invalid " + std::to_string(size));
    return 0;
  }
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::string line = "splash load " + std::to_string(size);
  if (size > 0) line += ' ';
  for (int i = 0; i < size && i < 16; ++i) {
    line += "0123456789abcdef"[bytes[i] >> 4];
    line += "0123456789abcdef"[bytes[i] & 0xF];
  }
  testjvm::AppendLogLine(line);
  if (const char* dump = std::getenv("TESTSPLASH_DUMP")) {
    if (std::FILE* file = std::fopen(dump, "wb")) {
      if (size > 0) std::fwrite(bytes, 1, static_cast<size_t>(size), file);
      std::fclose(file);
    }
  }
  return 1;
}
#endif
