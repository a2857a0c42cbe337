// Process state, library loading, the JVM thread and interrupts over the Windows API and the
// C runtime.
#include <process.h>
#include <windows.h>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/buffer.h"
#include "core/trace.h"
#include "platform/platform.h"
#include "platform/windows/windows_internal.h"

bool GetWorkingDir(char* buffer, int size) {
  DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(size), buffer);
  if (n == 0 || n >= static_cast<DWORD>(size)) {
    if (size > 0) buffer[0] = '\0';
    return false;
  }
  return true;
}

// The joined path becomes a full path first; only one of 1 to 259 characters is entered.
bool ChangeWorkingDir(const char* path) {
  char full[MAX_PATH];
  DWORD n = GetFullPathNameA(path, MAX_PATH, full, nullptr);
  if (n < 1 || n > MAX_PATH - 1) return false;
  return SetCurrentDirectoryA(full) != 0;
}

// The whole value goes to the C runtime, which removes the variable when nothing follows '='.
void ExportVariable(const char* assignment) {
  if (strchr(assignment, '=')) _putenv(assignment);
}

void InitLocale() {
  setlocale(LC_ALL, "");
}

namespace {

// A missing dependent library or an unready drive makes a load fail instead of opening a
// system dialog; the mode stays in force for the rest of the process.
void QuietErrorMode() {
  UINT previous = SetErrorMode(0);
  SetErrorMode(previous | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

// Appends ";" and directory to the end of PATH.
void AppendToPath(const char* directory) {
  const char* path = getenv("PATH");
  MyCString assignment("PATH=");
  assignment.AppendStr(path ? path : "");
  assignment.AppendOne(';');
  assignment.AppendStr(directory);
  _putenv(assignment.CStr());
}

MyCString DirectoryPart(const char* path) {
  int cut = 0;
  for (int i = 0; path[i]; ++i) {
    if (path[i] == '/' || path[i] == '\\') cut = i + 1;
  }
  return MyCString(path, cut);
}

// The error of the last failed load or symbol look-up, and the library path it concerned.
DWORD g_libraryError = 0;
MyCString& LibraryErrorPath() {
  static MyCString path;
  return path;
}

void RememberLibraryError(const char* path) {
  g_libraryError = GetLastError();
  LibraryErrorPath() = path;
}

}  // namespace

void* LibLoad(const char* path) {
  QuietErrorMode();
  void* library = reinterpret_cast<void*>(LoadLibraryA(path));
  if (!library) RememberLibraryError(path);
  return library;
}

void* LoadJvmLibrary(const char* path, const char** reportedReason) {
  *reportedReason = nullptr;
  void* library = LibLoad(path);
  if (library) return library;
  // The libraries the JVM library depends on lie in the runtime's bin directory.
  MyCString directory = DirectoryPart(path);
  directory.AppendStr("..");
  AppendToPath(directory.CStr());
  library = reinterpret_cast<void*>(LoadLibraryA(path));
  if (!library) {
    RememberLibraryError(path);
    *reportedReason = LibLastError();
    TRACE("JVM library %s not loaded: %s", path, *reportedReason);
  }
  return library;
}

void* LoadLibraryWithPathRetry(const char* path) {
  void* library = LibLoad(path);
  if (library) return library;
  AppendToPath(DirectoryPart(path).CStr());
  return reinterpret_cast<void*>(LoadLibraryA(path));
}

void* LibSymbol(void* library, const char* name) {
  void* symbol = reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
  if (!symbol) RememberLibraryError("");
  return symbol;
}

// The system's message for the last failed load or look-up, "%1" replaced by the library's path
// and the line end dropped.
const char* LibLastError() {
  static MyCString line;
  char* text = nullptr;
  FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, g_libraryError, 0x0400, reinterpret_cast<char*>(&text), 0, nullptr);
  line.SetLength(0);
  for (const char* p = text ? text : ""; *p; ++p) {
    if (p[0] == '%' && p[1] == '1') {
      line.AppendStr(LibraryErrorPath().CStr());
      ++p;
    } else {
      line.AppendOne(*p);
    }
  }
  if (text) LocalFree(text);
  while (!line.IsEmpty() && static_cast<unsigned char>(line.CStr()[line.GetLength() - 1]) <= ' ') {
    line.SetLength(line.GetLength() - 1);
  }
  if (line.IsEmpty()) line.Format("system error %lu", static_cast<unsigned long>(g_libraryError));
  return line.CStr();
}

void LibClose(void* library) {
  if (library) FreeLibrary(static_cast<HMODULE>(library));
}

namespace {

struct ThreadStart {
  ThreadProc procedure;
  void* argument;
};

unsigned __stdcall ThreadMain(void* raw) {
  ThreadStart* start = static_cast<ThreadStart*>(raw);
  return static_cast<unsigned>(start->procedure(start->argument));
}

}  // namespace

bool RunThreadAndJoin(ThreadProc procedure, long stackSize, void* argument, int* result) {
  ThreadStart start{procedure, argument};
  unsigned size = stackSize > 0 ? static_cast<unsigned>(stackSize) : 0;
  uintptr_t thread =
      _beginthreadex(nullptr, size, ThreadMain, &start, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (!thread) thread = _beginthreadex(nullptr, size, ThreadMain, &start, 0, nullptr);
  if (!thread) return false;
  HANDLE handle = reinterpret_cast<HANDLE>(thread);
  WaitForSingleObject(handle, INFINITE);
  DWORD code = 0;
  GetExitCodeThread(handle, &code);
  CloseHandle(handle);
  *result = static_cast<int>(code);
  return true;
}

namespace {

void (*g_onSignal)(int) = nullptr;
bool g_forwarding = false;
// Held while a signal is handled; stopping takes it, so it waits for a handler already running.
// A critical section, because a handler may raise a signal again on its own thread.
CRITICAL_SECTION g_forwardLock;
bool g_lockReady = false;
void (*g_savedInterrupt)(int) = SIG_DFL;
void (*g_savedTerminate)(int) = SIG_DFL;

// The C runtime delivers a console interrupt on a thread of its own, not inside an
// asynchronous handler, so the work can be done right here. It resets the disposition before
// the call; the handler installs itself again only while forwarding is on, under the lock, so
// a delivery that reaches it after the stop can neither forward nor undo the stop.
void OnSignalHere(int signalNumber) {
  EnterCriticalSection(&g_forwardLock);
  if (g_forwarding) {
    signal(signalNumber, OnSignalHere);
    g_onSignal(signalNumber);
  }
  LeaveCriticalSection(&g_forwardLock);
}

}  // namespace

void StartSignalForwarding(void (*onSignal)(int)) {
  if (!g_lockReady) {
    InitializeCriticalSection(&g_forwardLock);
    g_lockReady = true;
  }
  EnterCriticalSection(&g_forwardLock);
  if (g_forwarding) {
    LeaveCriticalSection(&g_forwardLock);
    return;
  }
  g_onSignal = onSignal;
  g_forwarding = true;
  g_savedInterrupt = signal(SIGINT, OnSignalHere);
  g_savedTerminate = signal(SIGTERM, OnSignalHere);
  LeaveCriticalSection(&g_forwardLock);
}

void StopSignalForwarding() {
  if (!g_lockReady) return;
  EnterCriticalSection(&g_forwardLock);
  g_forwarding = false;
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  LeaveCriticalSection(&g_forwardLock);
}

void ApplySavedDisposition(int signalNumber) {
  void (*saved)(int) = signalNumber == SIGINT    ? g_savedInterrupt
                       : signalNumber == SIGTERM ? g_savedTerminate
                                                 : SIG_IGN;
  if (saved == SIG_DFL) {
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
  } else if (saved != SIG_IGN && saved != SIG_ERR) {
    saved(signalNumber);
  }
}

bool FindProgramOnPath(const char*, char*, int) {
  return false;
}

int ReadSymbolicLink(const char*, char*, int) {
  return -1;
}
