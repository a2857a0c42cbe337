// The part of the console image launcher-console.exe that the windowed image does differently:
// text for the user goes to standard error, and a |command target is started by _popen, which
// shares the launcher's console with the command.
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/platform.h"

void ShowUserText(const char* text) {
  fprintf(stderr, "%s\n", text);
  fflush(stderr);
}

bool UserTextGoesToStandardError() {
  return true;
}

// The target is a handle of the launcher's own to the pipe into the command, which no child
// process inherits; the C stream of _popen is closed, so the command is never waited for.
StreamTarget StartCommandTarget(const char* command, void** stream) {
  *stream = nullptr;
  FILE* pipe = _popen(command, "w");
  if (!pipe) return kNoStreamTarget;
  HANDLE target = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(pipe))),
                       GetCurrentProcess(), &target, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    target = nullptr;
  }
  fclose(pipe);
  return target ? reinterpret_cast<StreamTarget>(target) : kNoStreamTarget;
}
