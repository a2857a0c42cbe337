// Redirection of the standard handles and the C streams over the Windows API.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/platform.h"

StreamTarget OpenAppendTarget(const char* path, void** stream) {
  *stream = nullptr;
  HANDLE h =
      CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_ARCHIVE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return kNoStreamTarget;
  SetFilePointer(h, 0, nullptr, FILE_END);
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_APPEND | _O_TEXT);
  FILE* file = fd == -1 ? nullptr : _fdopen(fd, "a");
  if (file) setbuf(file, nullptr);
  *stream = file;
  return reinterpret_cast<StreamTarget>(h);
}

StreamTarget StartCommandTarget(const char* command, void** stream) {
  FILE* pipe = _popen(command, "w");
  *stream = pipe;
  if (!pipe) return kNoStreamTarget;
  return _get_osfhandle(_fileno(pipe));
}

StreamTarget ReplaceStandardStream(int which, StreamTarget target, void* stream) {
  DWORD id = which == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
  FILE* standard = which == 1 ? stdout : stderr;
  fflush(standard);
  HANDLE saved = GetStdHandle(id);
  SetStdHandle(id, reinterpret_cast<HANDLE>(target));
  // The C stream takes over the target's descriptor, so the launcher's own output follows.
  FILE* source = static_cast<FILE*>(stream);
  if (source) {
    _dup2(_fileno(source), _fileno(standard));
    setvbuf(standard, nullptr, _IONBF, 0);
  }
  return reinterpret_cast<StreamTarget>(saved);
}

// Only the standard handle goes back; the C streams are left as they are.
bool RestoreStandardStream(int which, StreamTarget saved) {
  fflush(which == 1 ? stdout : stderr);
  return SetStdHandle(which == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE,
                      reinterpret_cast<HANDLE>(saved)) != 0;
}

void CloseStreamTarget(StreamTarget target) {
  if (target != kNoStreamTarget) CloseHandle(reinterpret_cast<HANDLE>(target));
}

void PublishEnvironmentVariable(const char* name, const char* value) {
  SetEnvironmentVariableA(name, value);
}
