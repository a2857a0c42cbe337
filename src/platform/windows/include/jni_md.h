// Machine-dependent JNI types of 64-bit Windows, for building the Windows launcher on a machine
// whose JDK carries only the headers of its own platform.
#ifndef LAUNCHER_PLATFORM_WINDOWS_JNI_MD_H_
#define LAUNCHER_PLATFORM_WINDOWS_JNI_MD_H_

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif  // LAUNCHER_PLATFORM_WINDOWS_JNI_MD_H_
