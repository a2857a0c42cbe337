// Showing the packaged splash image through the runtime's own splash-screen library.
#ifndef LAUNCHER_JVM_SPLASH_H_
#define LAUNCHER_JVM_SPLASH_H_

#include "core/buffer.h"

class CSettingsLoader;

// The runtime's splash library beside the JVM library's parent directory, or empty.
MyCString FindSplashLibrary(CSettingsLoader* loader);

// Loads the splash library and hands it the packaged image, if there is one. Reports nothing.
void ShowSplash(const char* libraryPath, const char* exePath);

// Where the platform keeps the packaged image: the payload's first block on Linux, a resource
// of the executable on Windows. Provided by the platform layer.
struct SplashImage {
  const unsigned char* bytes;
  int length;
  void* owner;  // what has to be released afterwards
};
bool OpenSplashImage(const char* exePath, SplashImage* image);
void CloseSplashImage(SplashImage* image);
// Loads the splash library the platform's way; null when it cannot be loaded.
void* LoadSplashLibrary(const char* libraryPath, bool hasImage);

#endif  // LAUNCHER_JVM_SPLASH_H_
