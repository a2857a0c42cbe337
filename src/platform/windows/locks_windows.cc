// The lock and the one-time initialisation of the platform interface over Windows slim
// reader/writer locks (taken exclusively) and one-time initialisation objects. A slim lock is
// not recursive, unlike a critical section, so TryLock behaves as it does on POSIX.
#include <windows.h>

#include <new>

#include "platform/platform.h"

namespace {

SRWLOCK* SlimLockIn(unsigned char* storage) {
  return reinterpret_cast<SRWLOCK*>(storage);
}

BOOL CALLBACK CallProcedure(PINIT_ONCE, PVOID parameter, PVOID*) {
  (*static_cast<void (**)()>(parameter))();
  return TRUE;
}

}  // namespace

CPlatformLock::CPlatformLock() {
  static_assert(sizeof(SRWLOCK) <= sizeof(storage_), "lock does not fit");
  InitializeSRWLock(new (storage_) SRWLOCK);
}

// A slim lock owns no system resources.
CPlatformLock::~CPlatformLock() {}

void CPlatformLock::Lock() {
  AcquireSRWLockExclusive(SlimLockIn(storage_));
}

void CPlatformLock::Unlock() {
  ReleaseSRWLockExclusive(SlimLockIn(storage_));
}

bool CPlatformLock::TryLock() {
  return TryAcquireSRWLockExclusive(SlimLockIn(storage_)) != 0;
}

void RunOnce(OnceFlag* flag, void (*procedure)()) {
  static_assert(sizeof(INIT_ONCE) <= sizeof(flag->storage), "once flag does not fit");
  InitOnceExecuteOnce(reinterpret_cast<INIT_ONCE*>(flag->storage), CallProcedure, &procedure,
                      nullptr);
}
