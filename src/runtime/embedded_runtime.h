// A Java runtime shipped inside the executable: the reserved payload block holds it compressed,
// and the first start unpacks it into the user's cache directory, where later starts find it.
#ifndef LAUNCHER_RUNTIME_EMBEDDED_RUNTIME_H_
#define LAUNCHER_RUNTIME_EMBEDDED_RUNTIME_H_

#include "core/buffer.h"

class CSettingsLoader;

struct RuntimeBlockHeader {
  int method;
  int fileCount;
  long long compressedSize;
  long long unpackedSize;
  char digest[33];  // lower-case hex, NUL-terminated
};

// Reads the header of a reserved block; false when the block is no runtime block or its sizes
// do not fit the block.
bool ParseRuntimeBlockHeader(const unsigned char* block, long long length,
                             RuntimeBlockHeader* header);

// A relative '/'-separated path without empty, "." or ".." components.
bool IsSafeEntryPath(const char* path);
// A link at entryPath whose relative target stays inside the runtime directory: ".." only as its
// leading components and no more of them than entryPath has parent directories.
bool IsSafeLinkTarget(const char* entryPath, const char* target);

// Writes the entries of an unpacked stream below directory and appends a "size path" line per
// file to marker. False, with why set, on a damaged stream, an unsafe entry or a failed write.
bool UnpackEntries(const unsigned char* stream, long long length, const char* directory,
                   MyCString& marker, MyCString& why);

// True when directory holds a completion marker and the files a start needs have the sizes it
// lists (one status query each).
bool IsCompleteRuntime(const char* directory);

// The directory of the executable's own runtime, unpacked on the first start; empty when the
// executable carries none. *carried tells whether it carries one: then an empty result means
// that unpacking failed, and the reason was printed.
MyCString EmbeddedRuntimeDirectory(CSettingsLoader* loader, bool* carried);

#endif  // LAUNCHER_RUNTIME_EMBEDDED_RUNTIME_H_
