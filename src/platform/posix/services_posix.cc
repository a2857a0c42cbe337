// Standard stream descriptors and the shared instance segment over POSIX calls.
#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

StreamTarget OpenAppendTarget(const char* path, void** stream) {
  *stream = nullptr;
  return open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0664);
}

StreamTarget StartCommandTarget(const char* command, void** stream) {
  FILE* pipe = popen(command, "w");
  *stream = pipe;
  return pipe ? fileno(pipe) : -1;
}

StreamTarget ReplaceStandardStream(int which, StreamTarget target, void*) {
  fflush(which == 1 ? stdout : stderr);
  int saved = dup(which);
  dup2(static_cast<int>(target), which);
  return saved;
}

void RestoreStandardStream(int which, StreamTarget saved) {
  fflush(which == 1 ? stdout : stderr);
  dup2(static_cast<int>(saved), which);
  close(static_cast<int>(saved));
}

void CloseStreamTarget(StreamTarget target) {
  if (target >= 0) close(static_cast<int>(target));
}

struct InstanceSegment {
  int id;
  int* counter;
};

namespace {
const size_t kSegmentSize = 4096;
const int kProjectNumber = 255;
}  // namespace

unsigned int InstanceKey(const char* path) {
  return static_cast<unsigned int>(ftok(path, kProjectNumber));
}

InstanceSegment* AttachInstanceSegment(unsigned int key) {
  if (key == static_cast<unsigned int>(-1)) return nullptr;
  int id = shmget(static_cast<key_t>(key), kSegmentSize, IPC_CREAT | 0666);
  if (id == -1) return nullptr;
  struct shmid_ds status;
  if (shmctl(id, IPC_STAT, &status) != 0) return nullptr;
  void* address = shmat(id, nullptr, SHM_RND);
  if (address == reinterpret_cast<void*>(-1)) return nullptr;
  // A segment that nobody had attached may hold the count of processes that died.
  if (status.shm_nattch == 0) memset(address, 0, kSegmentSize);
  InstanceSegment* segment = static_cast<InstanceSegment*>(malloc(sizeof(InstanceSegment)));
  if (!segment) {
    shmdt(address);
    return nullptr;
  }
  segment->id = id;
  segment->counter = static_cast<int*>(address);
  return segment;
}

int IncrementInstanceCounter(InstanceSegment* segment) {
  return __atomic_fetch_add(segment->counter, 1, __ATOMIC_SEQ_CST);
}

void DetachInstanceSegment(InstanceSegment* segment) {
  if (!segment) return;
  shmdt(segment->counter);
  struct shmid_ds status;
  if (shmctl(segment->id, IPC_STAT, &status) == 0 && status.shm_nattch == 0) {
    shmctl(segment->id, IPC_RMID, nullptr);
  }
  free(segment);
}

void PublishEnvironmentVariable(const char* name, const char* value) {
  setenv(name, value, 1);
}
