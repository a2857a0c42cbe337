// The Windows splash image is the executable's resource RT_RCDATA 100.
#include <windows.h>

#include "jvm/splash.h"
#include "platform/windows/windows_internal.h"

bool OpenSplashImage(const char*, SplashImage* image) {
  HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(100), MAKEINTRESOURCEA(10));
  DWORD size = found ? SizeofResource(nullptr, found) : 0;
  HGLOBAL loaded = size ? LoadResource(nullptr, found) : nullptr;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes || size > 0x7FFFFFFF) return false;
  image->bytes = static_cast<const unsigned char*>(bytes);
  image->length = static_cast<int>(size);
  return true;
}

void CloseSplashImage(SplashImage*) {}

void* LoadSplashLibrary(const char* libraryPath, bool) {
  return LoadLibraryWithPathRetry(libraryPath);
}
