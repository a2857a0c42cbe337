// Process state, dynamic loading, threads and signals over POSIX calls.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

bool GetWorkingDir(char* buffer, int size) {
  if (size <= 0 || !getcwd(buffer, static_cast<size_t>(size))) {
    if (size > 0) buffer[0] = '\0';
    return false;
  }
  return true;
}

bool ChangeWorkingDir(const char* path) {
  return chdir(path) == 0;
}

void ExportVariable(const char* assignment) {
  const char* equals = strchr(assignment, '=');
  if (!equals || equals == assignment) return;
  size_t nameLength = static_cast<size_t>(equals - assignment);
  char* name = static_cast<char*>(malloc(nameLength + 1));
  if (!name) return;
  memcpy(name, assignment, nameLength);
  name[nameLength] = '\0';
  const char* value = equals + 1;
  while (*value == ' ' || *value == '\t') ++value;
  setenv(name, value, 1);
  free(name);
}

void InitLocale() {
  setlocale(LC_ALL, "");
}

void* LibLoad(const char* path) {
  return dlopen(path, RTLD_LAZY);
}

void* LoadJvmLibrary(const char* path, const char** reportedReason) {
  void* library = dlopen(path, RTLD_LAZY);
  *reportedReason = library ? nullptr : LibLastError();
  return library;
}

void* LibSymbol(void* library, const char* name) {
  return dlsym(library, name);
}

const char* LibLastError() {
  const char* text = dlerror();
  return text ? text : "";
}

void LibClose(void* library) {
  if (library) dlclose(library);
}

namespace {

struct ThreadStart {
  ThreadProc procedure;
  void* argument;
  int result;
};

void* ThreadMain(void* raw) {
  ThreadStart* start = static_cast<ThreadStart*>(raw);
  start->result = start->procedure(start->argument);
  return nullptr;
}

}  // namespace

bool RunThreadAndJoin(ThreadProc procedure, long stackSize, void* argument, int* result) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_JOINABLE);
  if (stackSize > 0 &&
      pthread_attr_setstacksize(&attributes, static_cast<size_t>(stackSize)) != 0) {
    pthread_attr_destroy(&attributes);
    return false;
  }
  ThreadStart start{procedure, argument, 0};
  pthread_t thread;
  bool created = pthread_create(&thread, &attributes, ThreadMain, &start) == 0;
  if (created) {
    pthread_join(thread, nullptr);
    *result = start.result;
  }
  pthread_attr_destroy(&attributes);
  return created;
}

namespace {

int g_signalPipe[2] = {-1, -1};
void (*g_onSignal)(int) = nullptr;
bool g_forwarding = false;
pthread_mutex_t g_forwardLock = PTHREAD_MUTEX_INITIALIZER;
struct sigaction g_savedInterrupt;
struct sigaction g_savedTerminate;

// Runs in signal context: only hands the number to the watcher thread.
void ForwardSignal(int signalNumber) {
  int savedErrno = errno;
  unsigned char byte = static_cast<unsigned char>(signalNumber);
  ssize_t ignored = write(g_signalPipe[1], &byte, 1);
  (void)ignored;
  errno = savedErrno;
}

void* WatchSignals(void*) {
  for (;;) {
    unsigned char byte;
    ssize_t n = read(g_signalPipe[0], &byte, 1);
    if (n == 1) {
      pthread_mutex_lock(&g_forwardLock);
      if (g_forwarding) g_onSignal(byte);
      pthread_mutex_unlock(&g_forwardLock);
    } else if (n == 0 || errno != EINTR) {
      return nullptr;
    }
  }
}

// A signal that the launcher was started with ignored (nohup, a background job of a script)
// stays ignored, as it does for java.
bool InheritedAsIgnored(int signalNumber) {
  struct sigaction current;
  return sigaction(signalNumber, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO) &&
         current.sa_handler == SIG_IGN;
}

bool Install(int signalNumber, struct sigaction* saved) {
  if (InheritedAsIgnored(signalNumber)) return false;
  struct sigaction action;
  memset(&action, 0, sizeof(action));
  action.sa_handler = ForwardSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  return sigaction(signalNumber, &action, saved) == 0;
}

bool g_interruptInstalled = false;
bool g_terminateInstalled = false;

}  // namespace

void StartSignalForwarding(void (*onSignal)(int)) {
  if (g_onSignal) return;
  if (pipe(g_signalPipe) != 0) return;
  fcntl(g_signalPipe[0], F_SETFD, FD_CLOEXEC);
  fcntl(g_signalPipe[1], F_SETFD, FD_CLOEXEC);
  // A flood of signals must never block the handler once the watcher is busy.
  fcntl(g_signalPipe[1], F_SETFL, O_NONBLOCK);
  g_onSignal = onSignal;
  g_forwarding = true;
  pthread_t watcher;
  if (pthread_create(&watcher, nullptr, WatchSignals, nullptr) != 0) {
    g_forwarding = false;
    return;
  }
  pthread_detach(watcher);
  g_interruptInstalled = Install(SIGINT, &g_savedInterrupt);
  g_terminateInstalled = Install(SIGTERM, &g_savedTerminate);
}

void StopSignalForwarding() {
  if (!g_onSignal) return;
  pthread_mutex_lock(&g_forwardLock);
  g_forwarding = false;
  if (g_interruptInstalled) signal(SIGINT, SIG_DFL);
  if (g_terminateInstalled) signal(SIGTERM, SIG_DFL);
  pthread_mutex_unlock(&g_forwardLock);
}

void ApplySavedDisposition(int signalNumber) {
  const struct sigaction* saved = signalNumber == SIGINT    ? &g_savedInterrupt
                                  : signalNumber == SIGTERM ? &g_savedTerminate
                                                            : nullptr;
  if (!saved) return;
  if (saved->sa_flags & SA_SIGINFO) {
    siginfo_t info;
    memset(&info, 0, sizeof(info));
    info.si_signo = signalNumber;
    saved->sa_sigaction(signalNumber, &info, nullptr);
  } else if (saved->sa_handler == SIG_DFL) {
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
  } else if (saved->sa_handler != SIG_IGN && saved->sa_handler != SIG_ERR) {
    saved->sa_handler(signalNumber);
  }
}

namespace {
bool IsExecutableFile(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISREG(st.st_mode) && access(path, X_OK) == 0;
}
}  // namespace

bool FindProgramOnPath(const char* name, char* out, int size) {
  const char* path = getenv("PATH");
  if (!path) return false;
  size_t nameLength = strlen(name);
  for (const char* entry = path;;) {
    const char* end = strchr(entry, ':');
    size_t entryLength = end ? static_cast<size_t>(end - entry) : strlen(entry);
    const char* directory = entryLength ? entry : ".";
    size_t directoryLength = entryLength ? entryLength : 1;
    if (directoryLength + 1 + nameLength < static_cast<size_t>(size)) {
      memcpy(out, directory, directoryLength);
      out[directoryLength] = '/';
      memcpy(out + directoryLength + 1, name, nameLength + 1);
      if (IsExecutableFile(out)) return true;
    }
    if (!end) return false;
    entry = end + 1;
  }
}

int ReadSymbolicLink(const char* path, char* target, int size) {
  if (size <= 1) return -1;
  ssize_t n = readlink(path, target, static_cast<size_t>(size - 1));
  if (n < 0) return -1;
  if (n >= size - 1) return size;  // may have been cut: the caller treats it as not fitting
  target[n] = '\0';
  return static_cast<int>(n);
}
