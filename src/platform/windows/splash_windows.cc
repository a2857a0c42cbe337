// The Windows splash image is the executable's resource RT_RCDATA 100.
#include <windows.h>

#include "platform/platform.h"
#include "platform/windows/windows_internal.h"

bool OpenSplashResource(const unsigned char** bytes, int* length) {
  HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(100), MAKEINTRESOURCEA(10));
  DWORD size = found ? SizeofResource(nullptr, found) : 0;
  HGLOBAL loaded = size ? LoadResource(nullptr, found) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data || size > 0x7FFFFFFF) return false;
  *bytes = static_cast<const unsigned char*>(data);
  *length = static_cast<int>(size);
  return true;
}

void* LoadSplashLibraryFile(const char* path) {
  return LoadLibraryWithPathRetry(path);
}
