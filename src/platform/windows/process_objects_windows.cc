// The process-wide objects of the Windows build: the stream redirector, built before main and
// destroyed at exit, and the single instance guard, a mutex named after the executable.
#include <windows.h>

#include <cstdio>

#include "core/buffer.h"
#include "services/single_instance.h"
#include "services/std_redir.h"
#include "settings/settings_loader.h"

namespace {
CStdRedir g_redirector;
}  // namespace

void RedirectStdout(const char* text) {
  g_redirector.RedirectStdout(text);
}
void RedirectStderr(const char* text) {
  g_redirector.RedirectStderr(text);
}

// The Windows build keeps no anchor block.
void StoreAnchorAddresses(void*, void*) {}

// The executable's path with ':' and '\' turned into '.', followed by ".ksl"; the mutex is
// held until the process ends, when the system releases it for the next instance.
bool AnotherInstanceRuns() {
  MyCString name(pldr ? pldr->exePath.CStr() : "");
  char* s = name.GetBuffer();
  for (int i = 0; i < name.GetLength(); ++i) {
    if (s[i] == ':' || s[i] == '\\') s[i] = '.';
  }
  name.AppendStr(".ksl");
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name.CStr());
  if (!mutex) {
    printf("CreateMutex error: %d\n", static_cast<int>(GetLastError()));
    fflush(stdout);
    return true;
  }
  return WaitForSingleObject(mutex, 100) == WAIT_TIMEOUT;
}
