// Unpacking a runtime shipped inside the executable is not available on Windows yet: its payload
// has no block for one and the user's cache directory cannot be made private there. Each call
// fails, so that a caller reports the reason instead of using a half-made directory.
#include "platform/platform.h"

const char* LastSystemErrorText() {
  return "not supported on Windows";
}

bool MakeDirectory(const char*) {
  return false;
}

OutputFile* CreateOutputFile(const char*, bool) {
  return nullptr;
}

bool WriteOutputFile(OutputFile*, const void*, long long) {
  return false;
}

bool CloseOutputFile(OutputFile*) {
  return false;
}

bool MakeSymbolicLink(const char*, const char*) {
  return false;
}

bool RemoveDirectoryTree(const char*) {
  return false;
}

FileLock* LockFileExclusive(const char*) {
  return nullptr;
}

void ReleaseFileLock(FileLock*) {}

bool AllowsExecution(const char*) {
  return true;
}

bool DecompressBlock(int, const unsigned char*, long long, unsigned char*, long long,
                     const char** why) {
  *why = "not supported on Windows";
  return false;
}
