// Standard stream descriptors and the shared instance segment over POSIX calls.
#include <fcntl.h>
#include <signal.h>
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

namespace {
void IgnoreBrokenPipe(int) {}
}  // namespace

StreamTarget StartCommandTarget(const char* command, void** stream) {
  FILE* pipe = popen(command, "w");
  *stream = pipe;
  if (!pipe) return -1;
  // A command may end before the launcher has written everything, its messages included; the
  // write then fails instead of SIGPIPE ending the launcher without its status. A handler, not
  // SIG_IGN, so that every program started later gets the default action back.
  struct sigaction current;
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO) &&
      current.sa_handler == SIG_DFL) {
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_handler = IgnoreBrokenPipe;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGPIPE, &action, nullptr);
  }
  return fileno(pipe);
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
  void* address = shmat(id, nullptr, SHM_RND);
  if (address == reinterpret_cast<void*>(-1)) return nullptr;
  // A segment that nobody else has attached may hold the count of processes that died: a start
  // that passed the guard keeps the segment attached while it runs. The count is taken before
  // the attach count and cleared only if it is still the same, so a start that attached in
  // between and has counted itself already is never wiped out.
  int* counter = static_cast<int*>(address);
  int seen = __atomic_load_n(counter, __ATOMIC_SEQ_CST);
  struct shmid_ds status;
  if (seen != 0 && shmctl(id, IPC_STAT, &status) == 0 && status.shm_nattch == 1) {
    __atomic_compare_exchange_n(counter, &seen, 0, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  }
  InstanceSegment* segment = static_cast<InstanceSegment*>(malloc(sizeof(InstanceSegment)));
  if (!segment) {
    shmdt(address);
    return nullptr;
  }
  segment->id = id;
  segment->counter = counter;
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
