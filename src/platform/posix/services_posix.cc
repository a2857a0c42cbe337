// Standard stream descriptors and the shared instance segment over POSIX calls.
#include <fcntl.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/instance_segment.h"

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
  int saved = fcntl(which, F_DUPFD_CLOEXEC, 3);
  if (saved == -1) return kNoStreamTarget;
  if (dup2(static_cast<int>(target), which) == -1) {
    close(saved);
    return kNoStreamTarget;
  }
  return saved;
}

bool RestoreStandardStream(int which, StreamTarget saved) {
  fflush(which == 1 ? stdout : stderr);
  bool restored = dup2(static_cast<int>(saved), which) != -1;
  close(static_cast<int>(saved));
  return restored;
}

void CloseStreamTarget(StreamTarget target) {
  if (target >= 0) close(static_cast<int>(target));
}

void ShowUserText(const char* text) {
  fprintf(stderr, "%s\n", text);
  fflush(stderr);
}

bool UserTextGoesToStandardError() {
  return true;
}

struct InstanceSegment {
  int id;
  int* counter;
};

namespace {

const size_t kSegmentSize = 4096;
const int kProjectNumber = 255;

// The start of the segment: the counter, then which executable file it guards (device, inode,
// change time and path), so that another file whose key is the same is never refused because
// of it, and a segment left by a file that is gone is taken over.
struct SegmentHeader {
  int counter;
  int claim;  // kUnclaimed, kClaiming while the identity is written, then kClaimed
  unsigned long long device;
  unsigned long long inode;
  long long changeSeconds;
  long long changeNanoseconds;
  char path[4000];
};
static_assert(sizeof(SegmentHeader) <= kSegmentSize, "the header fits the segment");
const int kUnclaimed = 0;
const int kClaiming = 1;
const int kClaimed = 2;

// The identity of the file at path, as the segment records it.
struct FileIdentity {
  struct stat status;
  const char* path;
};

void WriteIdentity(SegmentHeader* header, const FileIdentity& file) {
  header->device = static_cast<unsigned long long>(file.status.st_dev);
  header->inode = static_cast<unsigned long long>(file.status.st_ino);
  header->changeSeconds = static_cast<long long>(file.status.st_ctim.tv_sec);
  header->changeNanoseconds = static_cast<long long>(file.status.st_ctim.tv_nsec);
  size_t n = strnlen(file.path, sizeof(header->path) - 1);
  memcpy(header->path, file.path, n);
  header->path[n] = '\0';
}

bool SameIdentity(const SegmentHeader* header, const struct stat& file) {
  return header->device == static_cast<unsigned long long>(file.st_dev) &&
         header->inode == static_cast<unsigned long long>(file.st_ino) &&
         header->changeSeconds == static_cast<long long>(file.st_ctim.tv_sec) &&
         header->changeNanoseconds == static_cast<long long>(file.st_ctim.tv_nsec);
}

// Whether the file the segment records still exists as recorded: then its key collides with
// ours and its guard is not ours to take.
bool RecordedFileExists(const SegmentHeader* header) {
  char path[sizeof(header->path)];
  memcpy(path, header->path, sizeof(path));
  path[sizeof(path) - 1] = '\0';
  struct stat status;
  return path[0] != '\0' && stat(path, &status) == 0 && SameIdentity(header, status);
}

// Waits a moment for a start that is writing the identity; false when it never finishes.
bool WaitForClaim(SegmentHeader* header) {
  for (int wait = 0; __atomic_load_n(&header->claim, __ATOMIC_SEQ_CST) != kClaimed; ++wait) {
    if (wait == 1000) return false;
    usleep(1000);
  }
  return true;
}

// Claims the segment under the claim word: writes the identity and, when resetCounter, clears
// the count of a file that is gone, before any start of this file can count itself.
bool Claim(SegmentHeader* header, int from, const FileIdentity& file, bool resetCounter) {
  if (!__atomic_compare_exchange_n(&header->claim, &from, kClaiming, false, __ATOMIC_SEQ_CST,
                                   __ATOMIC_SEQ_CST)) {
    return false;
  }
  WriteIdentity(header, file);
  if (resetCounter) __atomic_store_n(&header->counter, 0, __ATOMIC_SEQ_CST);
  __atomic_store_n(&header->claim, kClaimed, __ATOMIC_SEQ_CST);
  return true;
}

// True when the segment guards file: claims an unclaimed segment or one left by a file that is
// gone; false for the guard of another existing file whose key is the same.
bool GuardsFile(SegmentHeader* header, const FileIdentity& file) {
  if (Claim(header, kUnclaimed, file, false)) return true;
  if (!WaitForClaim(header)) return false;
  if (SameIdentity(header, file.status)) return true;
  if (RecordedFileExists(header)) return false;
  if (Claim(header, kClaimed, file, true)) return true;
  return WaitForClaim(header) && SameIdentity(header, file.status);
}

// A segment that nobody else has attached may hold the count of processes that died, or the
// identity of a file that is gone: a start that passed the guard keeps the segment attached
// while it runs. The count is taken before the attach count and cleared only if it is still
// the same, so a start that attached in between and has counted itself already is never
// wiped out.
void ClearWhenAlone(int id, SegmentHeader* header, const FileIdentity& file) {
  int seen = __atomic_load_n(&header->counter, __ATOMIC_SEQ_CST);
  struct shmid_ds status;
  if (shmctl(id, IPC_STAT, &status) != 0 || status.shm_nattch != 1) return;
  if (seen != 0) {
    __atomic_compare_exchange_n(&header->counter, &seen, 0, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
  }
  // Alone, this start also takes over a claim that a start which died left half-written.
  Claim(header, __atomic_load_n(&header->claim, __ATOMIC_SEQ_CST), file, false);
}

// Only a segment that the running user made, and that no other user may write, is trusted.
bool IsOwnSegment(int id) {
  struct shmid_ds status;
  if (shmctl(id, IPC_STAT, &status) != 0) return false;
  uid_t self = geteuid();
  return status.shm_perm.uid == self && status.shm_perm.cuid == self &&
         (status.shm_perm.mode & 0066) == 0;
}

}  // namespace

unsigned int InstanceKey(const char* path) {
  return static_cast<unsigned int>(ftok(path, kProjectNumber));
}

InstanceSegment* AttachInstanceSegment(unsigned int key, const char* path, const char** why) {
  FileIdentity file = {{}, path};
  if (key == static_cast<unsigned int>(-1) || stat(path, &file.status) != 0) {
    *why = "the executable file has no key";
    return nullptr;
  }
  int id = shmget(static_cast<key_t>(key), kSegmentSize, IPC_CREAT | 0600);
  if (id == -1) {
    *why = errno == EACCES ? "its segment belongs to another user" : "shmget failed";
    return nullptr;
  }
  if (!IsOwnSegment(id)) {
    *why = "its segment belongs to another user or is open to other users";
    return nullptr;
  }
  void* address = shmat(id, nullptr, SHM_RND);
  if (address == reinterpret_cast<void*>(-1)) {
    *why = "shmat failed";
    return nullptr;
  }
  SegmentHeader* header = static_cast<SegmentHeader*>(address);
  ClearWhenAlone(id, header, file);
  if (!GuardsFile(header, file)) {
    *why = "its segment guards another executable whose key is the same";
    shmdt(address);
    return nullptr;
  }
  InstanceSegment* segment = static_cast<InstanceSegment*>(malloc(sizeof(InstanceSegment)));
  if (!segment) {
    shmdt(address);
    *why = "out of memory";
    return nullptr;
  }
  segment->id = id;
  segment->counter = &header->counter;
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
