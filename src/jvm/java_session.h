// The JVM thread's procedure: environment, options, creation, properties, version bounds and
// the main class invocation.
#ifndef LAUNCHER_JVM_JAVA_SESSION_H_
#define LAUNCHER_JVM_JAVA_SESSION_H_

#include <jni.h>

#include "core/buffer.h"

// Runs the Java application; returns 0 or the number of the message it has printed.
int RunJavaSession(int argCount, char** argVector, void (*signalSetup)(), int extraCount,
                   char** extraVector);

// The thread stack size in bytes that the last "-Xss" option asks for ("-Xss512k", "-Xss64m",
// "-Xss1g", plain bytes), or 0 when no option asks for one the way the JVM reads it.
long RequestedStackSize();
long ParseStackSizeOption(const char* option);

// The JVM's java.version in the locale's encoding; false without a JVM to ask.
bool GetJavaVersion(MyCString& out);

// Sets one Java system property from "name=value" (UTF-8).
void SetSystemProperty(JNIEnv* env, const char* text);

// 6 when version is below minimum, 12 when above maximum, else 0 (prefix comparison of up to
// four numbers "major.minor.micro_update"; a bound that does not start with a number is none).
int CheckVersionBounds(const char* version, const char* minimum, const char* maximum);

#endif  // LAUNCHER_JVM_JAVA_SESSION_H_
