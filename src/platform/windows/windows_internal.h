// Helpers shared by the files of the Windows platform layer.
#ifndef LAUNCHER_PLATFORM_WINDOWS_WINDOWS_INTERNAL_H_
#define LAUNCHER_PLATFORM_WINDOWS_WINDOWS_INTERNAL_H_

#include "core/buffer.h"

// Loads a library with the quiet error mode; when that fails, appends the library's directory
// to PATH and tries once more.
void* LoadLibraryWithPathRetry(const char* path);

// The name of the single instance mutex for the executable at path.
CStringBufT<wchar_t> InstanceMutexName(const char* path);

#endif  // LAUNCHER_PLATFORM_WINDOWS_WINDOWS_INTERNAL_H_
