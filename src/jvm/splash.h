// Showing the packaged splash image through the runtime's own splash-screen library.
#ifndef LAUNCHER_JVM_SPLASH_H_
#define LAUNCHER_JVM_SPLASH_H_

#include "core/buffer.h"

class CSettingsLoader;

// The runtime's splash library beside the JVM library's parent directory, or empty.
MyCString FindSplashLibrary(CSettingsLoader* loader);

// Loads the splash library and hands it the packaged image, if there is one. Reports nothing.
void ShowSplash(const char* libraryPath, const char* exePath);

#endif  // LAUNCHER_JVM_SPLASH_H_
