// Assembling the class path: the executable itself, `classpath`, the archives below `libs`
// and the class path environment variables.
#ifndef LAUNCHER_JVM_CLASS_PATH_H_
#define LAUNCHER_JVM_CLASS_PATH_H_

#include "core/buffer.h"

class CSettingsLoader;

MyCString BuildClassPath(CSettingsLoader* loader);

// Appends, each after a separator, every .jar and .zip archive below directory, depth-first in
// listing order.
void ScanArchiveDirectory(const CBufferRefT<char>& directory, CBufferT<char>& out);

#endif  // LAUNCHER_JVM_CLASS_PATH_H_
