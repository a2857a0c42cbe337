// Helpers shared by the files of the Windows platform layer.
#ifndef LAUNCHER_PLATFORM_WINDOWS_WINDOWS_INTERNAL_H_
#define LAUNCHER_PLATFORM_WINDOWS_WINDOWS_INTERNAL_H_

// Loads a library with the quiet error mode; when that fails, appends the library's directory
// to PATH and tries once more.
void* LoadLibraryWithPathRetry(const char* path);

#endif  // LAUNCHER_PLATFORM_WINDOWS_WINDOWS_INTERNAL_H_
