// The part of the windowed image launcher.exe (GUI subsystem, no console) that the console image
// does differently. Text for the user goes to standard error when the launcher has a standard
// error handle (started with redirection, or after the `stderr` setting); otherwise the lines of
// the whole run are collected and shown in one message box when the process exits, titled with
// the executable's file name. A |command target is started without a console window.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "core/buffer.h"
#include "core/text_conv.h"
#include "platform/platform.h"

namespace {

// The lines waiting for the message box; created with the first one.
MyCString* g_boxText = nullptr;

// The write ends of the pipes into commands. A command started later is never given one of them
// as its output, so that each command sees the end of its input once the launcher closes its own
// handles.
HANDLE g_commandPipes[8];
int g_commandPipeCount = 0;

bool StandardErrorHasHandle() {
  HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  if (!handle || handle == INVALID_HANDLE_VALUE) return false;
  SetLastError(NO_ERROR);
  return GetFileType(handle) != FILE_TYPE_UNKNOWN || GetLastError() == NO_ERROR;
}

// Runs at exit, after main has returned its status or exit() was called with one: the status
// the process ends with stays the same, it is only delayed until the box is closed.
void ShowCollectedText() {
  MyCString* text = g_boxText;
  g_boxText = nullptr;
  if (!text) return;
  CStringBufT<wchar_t> path;
  path.SetLength(32768);
  DWORD length = GetModuleFileNameW(nullptr, path.GetBuffer(), 32768);
  path.SetLength(length < 32768 ? static_cast<int>(length) : 0);
  const wchar_t* title = path.CStr();
  for (int i = 0; i < path.GetLength(); ++i) {
    if (path.CStr()[i] == L'\\' || path.CStr()[i] == L'/') title = path.CStr() + i + 1;
  }
  UnicodeString wide(text->CStr(), text->GetLength());
  MessageBoxW(nullptr, wide.CStr(), title, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
  delete text;
}

// An inheritable duplicate of the launcher's standard handle id for a command; null when the
// launcher has none or when it is the pipe into another command.
HANDLE HandleForCommand(DWORD id) {
  HANDLE handle = GetStdHandle(id);
  if (!handle || handle == INVALID_HANDLE_VALUE) return nullptr;
  for (int i = 0; i < g_commandPipeCount; ++i) {
    if (g_commandPipes[i] == handle) return nullptr;
  }
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                       DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  return copy;
}

void CloseIfOpen(HANDLE handle) {
  if (handle) CloseHandle(handle);
}

}  // namespace

void ShowUserText(const char* text) {
  if (StandardErrorHasHandle()) {
    fprintf(stderr, "%s\n", text);
    fflush(stderr);
    return;
  }
  if (g_boxText) {
    g_boxText->AppendOne('\n');
  } else {
    g_boxText = new MyCString();
    atexit(ShowCollectedText);
  }
  g_boxText->AppendStr(text);
}

bool UserTextGoesToStandardError() {
  return StandardErrorHasHandle();
}

// The command runs as "%COMSPEC% /c command", as _popen runs it, but with CREATE_NO_WINDOW: a
// console program started by a program without a console would otherwise open a console window.
// Its standard input is the read end of a pipe, of which only the command holds a handle; the
// write end, the target, is the launcher's own and no child inherits it. The command's output
// goes to the launcher's standard output and error, when it has them. It is not waited for.
StreamTarget StartCommandTarget(const char* command, void** stream) {
  *stream = nullptr;
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  if (g_commandPipeCount == 8 || !CreatePipe(&read, &write, nullptr, 0)) return kNoStreamTarget;
  char shell[MAX_PATH];
  DWORD length = GetEnvironmentVariableA("COMSPEC", shell, MAX_PATH);
  MyCString line;
  line.Format("\"%s\" /c %s", length > 0 && length < MAX_PATH ? shell : "cmd.exe", command);
  STARTUPINFOA start = {};
  start.cb = sizeof(start);
  start.dwFlags = STARTF_USESTDHANDLES;
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  start.hStdInput = read;
  start.hStdOutput = HandleForCommand(STD_OUTPUT_HANDLE);
  start.hStdError = HandleForCommand(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info = {};
  BOOL started = CreateProcessA(nullptr, line.GetBuffer(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                nullptr, nullptr, &start, &info);
  CloseHandle(read);
  CloseIfOpen(start.hStdOutput);
  CloseIfOpen(start.hStdError);
  if (!started) {
    CloseHandle(write);
    return kNoStreamTarget;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  g_commandPipes[g_commandPipeCount++] = write;
  return reinterpret_cast<StreamTarget>(write);
}
