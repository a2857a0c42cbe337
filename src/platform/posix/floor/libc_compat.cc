// What the compiled launcher expects from the C library and the C++ runtime but a C library
// of the oldest supported release does not export under that name. The launcher image links
// neither the C library's own static part nor the C++ runtime, so these few functions are
// written here over interfaces that every release since then exports.
#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/stat.h>

extern "C" {

int __xstat(int version, const char* path, struct stat* buffer);
int __fxstat(int version, int fd, struct stat* buffer);
int __fxstatat(int version, int dirfd, const char* path, struct stat* buffer, int flags);
int __lxstat(int version, const char* path, struct stat* buffer);
int __cxa_atexit(void (*function)(void*), void* argument, void* dso);
// This image's handle for exit processing, defined by the compiler's start file.
extern void* __dso_handle __attribute__((visibility("hidden")));

}  // extern "C"

namespace {

// The layout number of struct stat that __xstat and __fxstat are asked for: the one that
// matches the C library headers' struct stat.
#if defined(__x86_64__)
const int kStatLayout = 1;
#elif defined(__i386__)
const int kStatLayout = 3;
#else
#error "the stat layout number is known for x86-64 and i386 only"
#endif

// Serialises the initialisation of function-local statics. Recursive, so that initialising
// one static may initialise another on the same thread.
pthread_mutex_t g_staticInitLock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

unsigned char* GuardByte(uint64_t* guard) {
  return reinterpret_cast<unsigned char*>(guard);
}

}  // namespace

extern "C" {

// stat, fstat, fstatat and lstat became exported functions of the C library only recently; before,
// its static part turned them into these calls.
int stat(const char* path, struct stat* buffer) noexcept {
  return __xstat(kStatLayout, path, buffer);
}

int fstat(int fd, struct stat* buffer) noexcept {
  return __fxstat(kStatLayout, fd, buffer);
}

int fstatat(int dirfd, const char* path, struct stat* buffer, int flags) noexcept {
  return __fxstatat(kStatLayout, dirfd, path, buffer, flags);
}

int lstat(const char* path, struct stat* buffer) noexcept {
  return __lxstat(kStatLayout, path, buffer);
}

// atexit has always lived in the C library's static part: registers function for this image.
int atexit(void (*function)(void)) noexcept {
  return __cxa_atexit(reinterpret_cast<void (*)(void*)>(function), nullptr, &__dso_handle);
}

// The C++ ABI's guards of function-local statics. The first byte of a guard is non-zero once
// its object is constructed; 1 from acquire means the caller constructs it and then releases.
int __cxa_guard_acquire(uint64_t* guard) {
  if (__atomic_load_n(GuardByte(guard), __ATOMIC_ACQUIRE)) return 0;
  pthread_mutex_lock(&g_staticInitLock);
  if (*GuardByte(guard)) {
    pthread_mutex_unlock(&g_staticInitLock);
    return 0;
  }
  return 1;
}

void __cxa_guard_release(uint64_t* guard) {
  __atomic_store_n(GuardByte(guard), 1, __ATOMIC_RELEASE);
  pthread_mutex_unlock(&g_staticInitLock);
}

// The stack protector of position-independent i386 code (the static zstd library) calls this
// local alias, which the C library's static part would otherwise supply.
void __stack_chk_fail(void) __attribute__((noreturn));
__attribute__((visibility("hidden"), noreturn)) void __stack_chk_fail_local(void) {
  __stack_chk_fail();
}

}  // extern "C"
