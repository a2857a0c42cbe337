#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "core/trace.h"
#include "platform/platform.h"
#include "platform/posix/instance_segment.h"
#include "services/single_instance.h"

namespace {

const int kBlockSize = 4096;

unsigned int OwnKey() {
  char path[4096];
  int n = GetExePath(path, kMaxPathBuffer);
  if (n <= 0 || n >= kMaxPathBuffer) return static_cast<unsigned int>(-1);
  return InstanceKey(path);
}

InstanceSegment* AttachOwnSegment() {
  char path[4096];
  int n = GetExePath(path, kMaxPathBuffer);
  if (n <= 0 || n >= kMaxPathBuffer) return nullptr;
  const char* why = "";
  InstanceSegment* segment = AttachInstanceSegment(InstanceKey(path), path, &why);
  if (!segment) TRACE("single instance: running without the guard: %s", why);
  return segment;
}

}  // namespace

// A value inherited from a parent process names memory of that process, so this process
// always makes a block of its own and publishes it, replacing any inherited value.
CProcessAnchor::CProcessAnchor() : block(nullptr), owned(false) {
  block = static_cast<void**>(calloc(1, kBlockSize));
  if (!block) return;
  owned = true;
  char name[32];
  char value[32];
  snprintf(name, sizeof(name), "KEYSHM%08X", OwnKey());
  snprintf(value, sizeof(value), "%lX",
           static_cast<unsigned long>(reinterpret_cast<uintptr_t>(block)));
  PublishEnvironmentVariable(name, value);
}

CProcessAnchor::~CProcessAnchor() {
  if (owned) free(block);
}

void CProcessAnchor::Store(void* loader, void* session) {
  if (!owned) return;
  block[0] = loader;
  block[1] = session;
}

// When the segment cannot be created or attached, or cannot be trusted, the launcher runs
// without the guard.
CInstanceGuard::CInstanceGuard() : segment(AttachOwnSegment()) {}

CInstanceGuard::~CInstanceGuard() {
  DetachInstanceSegment(segment);
}

bool CInstanceGuard::AnotherInstanceRuns() {
  return segment && IncrementInstanceCounter(segment) > 0;
}
