// Redirection of the standard handles and the C streams over the Windows API. How a |command
// target starts differs by image: console_windows.cc and window_windows.cc.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/platform.h"

namespace {

// Whether the standard handle saved by ReplaceStandardStream was inherited by child processes.
bool g_savedInheritable[3] = {false, false, false};

DWORD StandardHandleId(int which) {
  return which == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
}

// A second handle of this process to the object of handle; null when it cannot be made.
HANDLE Duplicate(HANDLE handle, bool inheritable) {
  HANDLE copy = nullptr;
  if (!handle || handle == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, inheritable,
                       DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  return copy;
}

// Points the C runtime's descriptor fd (1 or 2) at a duplicate of handle of its own, or closes
// the descriptor when handle is null. The descriptor's previous handle is closed, and the C
// runtime sets the standard handle to its duplicate, so callers set the standard handle after.
void PointDescriptorAt(int fd, HANDLE handle) {
  HANDLE copy = Duplicate(handle, false);
  int flags = _O_TEXT | (copy && GetFileType(copy) == FILE_TYPE_DISK ? _O_APPEND : 0);
  int temporary = copy ? _open_osfhandle(reinterpret_cast<intptr_t>(copy), flags) : -1;
  if (temporary == -1) {
    if (copy) CloseHandle(copy);
    _close(fd);
    return;
  }
  _dup2(temporary, fd);
  _close(temporary);
}

}  // namespace

StreamTarget OpenAppendTarget(const char* path, void** stream) {
  *stream = nullptr;
  HANDLE h =
      CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_ARCHIVE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return kNoStreamTarget;
  SetFilePointer(h, 0, nullptr, FILE_END);
  return reinterpret_cast<StreamTarget>(h);
}

// The standard handle and the C stream both go to target. What is saved is a duplicate of the
// standard handle: the C runtime's descriptor owns the original and closes it when repointed.
StreamTarget ReplaceStandardStream(int which, StreamTarget target, void*) {
  FILE* standard = which == 1 ? stdout : stderr;
  fflush(standard);
  HANDLE original = GetStdHandle(StandardHandleId(which));
  DWORD flags = 0;
  g_savedInheritable[which] =
      GetHandleInformation(original, &flags) && (flags & HANDLE_FLAG_INHERIT) != 0;
  // Not inherited while saved, so that a program started meanwhile never holds it open.
  HANDLE saved = Duplicate(original, false);
  PointDescriptorAt(which, reinterpret_cast<HANDLE>(target));
  // A process started without this standard handle (the windowed launcher started from Explorer)
  // has a C stream tied to no descriptor (_fileno answers -2), which drops every write; it is
  // tied to the descriptor that exists now.
  if (_fileno(standard) < 0) standard->_file = which;
  clearerr(standard);
  setvbuf(standard, nullptr, _IONBF, 0);
  SetStdHandle(StandardHandleId(which), reinterpret_cast<HANDLE>(target));
  return reinterpret_cast<StreamTarget>(saved);
}

// Both the standard handle and the C stream go back to what was saved; the descriptor's
// duplicate of the target is closed, so a command sees the end of its input once the target
// is closed too.
bool RestoreStandardStream(int which, StreamTarget saved) {
  fflush(which == 1 ? stdout : stderr);
  HANDLE handle = reinterpret_cast<HANDLE>(saved);
  if (handle && g_savedInheritable[which]) {
    SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  }
  PointDescriptorAt(which, handle);
  return SetStdHandle(StandardHandleId(which), handle) != 0;
}

void CloseStreamTarget(StreamTarget target) {
  if (target != kNoStreamTarget) CloseHandle(reinterpret_cast<HANDLE>(target));
}

void PublishEnvironmentVariable(const char* name, const char* value) {
  SetEnvironmentVariableA(name, value);
}
