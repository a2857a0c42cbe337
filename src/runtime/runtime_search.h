// Choosing a Java runtime by the `jre_order` strategies; the result is kept for the process.
#ifndef LAUNCHER_RUNTIME_RUNTIME_SEARCH_H_
#define LAUNCHER_RUNTIME_RUNTIME_SEARCH_H_

#include "core/buffer.h"

class CSettingsLoader;

// The path of the JVM library to load, or empty when no strategy found one. The first call
// searches; every later call returns the same answer.
MyCString FindJavaRuntime(CSettingsLoader* loader);

// Forgets the kept answer so that tests can search again.
void ResetJavaRuntimeSearchForTesting();

#endif  // LAUNCHER_RUNTIME_RUNTIME_SEARCH_H_
