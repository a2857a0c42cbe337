// Finding the JVM library inside a runtime directory of any usual layout.
#ifndef LAUNCHER_RUNTIME_LIBRARY_PROBE_H_
#define LAUNCHER_RUNTIME_LIBRARY_PROBE_H_

#include "core/buffer.h"

class CSettingsLoader;

// The full path of a readable JVM library below directory, or an empty string. Tries each
// candidate sub-directory of the platform: the library itself, the `vm` type directory, then
// every sub-directory that a one-level listing delivers.
MyCString ProbeRuntimeDirectory(CSettingsLoader* loader, const CBufferRefT<char>& directory);

#endif  // LAUNCHER_RUNTIME_LIBRARY_PROBE_H_
