// The lock and the one-time initialisation of the platform interface over POSIX threads.
#include <pthread.h>

#include <cstdlib>
#include <new>

#include "platform/platform.h"

namespace {

pthread_mutex_t* MutexIn(unsigned char* storage) {
  return reinterpret_cast<pthread_mutex_t*>(storage);
}

}  // namespace

CPlatformLock::CPlatformLock() {
  static_assert(sizeof(pthread_mutex_t) <= sizeof(storage_), "mutex does not fit");
  static_assert(alignof(pthread_mutex_t) <= 16, "mutex alignment too strict");
  // A default mutex: not recursive, and initialising it cannot fail.
  pthread_mutex_init(new (storage_) pthread_mutex_t, nullptr);
}

CPlatformLock::~CPlatformLock() {
  pthread_mutex_destroy(MutexIn(storage_));
}

void CPlatformLock::Lock() {
  // Only a broken mutex fails here; going on unlocked would break every caller's assumption.
  if (pthread_mutex_lock(MutexIn(storage_)) != 0) abort();
}

void CPlatformLock::Unlock() {
  pthread_mutex_unlock(MutexIn(storage_));
}

bool CPlatformLock::TryLock() {
  return pthread_mutex_trylock(MutexIn(storage_)) == 0;
}

void RunOnce(OnceFlag* flag, void (*procedure)()) {
  static_assert(sizeof(pthread_once_t) <= sizeof(flag->storage), "once flag does not fit");
  static_assert(PTHREAD_ONCE_INIT == 0, "a zero-initialised flag must mean not run");
  pthread_once(reinterpret_cast<pthread_once_t*>(flag->storage), procedure);
}
