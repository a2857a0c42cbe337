// What a Java runtime says about itself in its `release` file, read without starting it.
#ifndef LAUNCHER_RUNTIME_RUNTIME_RELEASE_H_
#define LAUNCHER_RUNTIME_RUNTIME_RELEASE_H_

#include "core/buffer.h"

struct RuntimeRelease {
  MyCString library;         // the JVM library, every symbolic link resolved
  MyCString home;            // the runtime's home directory, which holds `release`
  MyCString javaVersion;     // JAVA_VERSION, e.g. "17.0.15"
  MyCString runtimeVersion;  // JAVA_RUNTIME_VERSION, empty when the file has none
  int feature;               // the feature release: 17 for "17.0.15", 8 for "1.8.0_202"
};

// Reads the release file of the runtime whose JVM library is libraryPath: the library's
// directory is lib/server (bin/server on Windows) or lib/<arch>/server below the home. False,
// with why set, when no release file names a JAVA_VERSION.
bool ReadRuntimeRelease(const char* libraryPath, RuntimeRelease* release, MyCString& why);

// The value of the line KEY="value" (quotes optional) of a release text; false when absent.
bool ReleaseValue(const CBufferRefT<char>& text, const char* key, MyCString& value);

// The feature release of a version text ("1.8.0_202" is 8, "17.0.15" is 17, "25" is 25), or -1
// when the text does not start with a number.
int JavaFeatureVersion(const char* version);

// path without its last component and the separator before it; empty when nothing is left.
MyCString ParentPath(const CBufferRefT<char>& path);

// Up to limit bytes from the start of a file; false when it cannot be opened.
bool ReadFileHead(const char* path, int limit, MyCString& out);

#endif  // LAUNCHER_RUNTIME_RUNTIME_RELEASE_H_
