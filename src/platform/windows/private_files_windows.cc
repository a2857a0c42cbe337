// The user's private files over the Windows file calls. Windows guards files with access
// control lists, which this launcher does not inspect yet, so no directory counts as private
// and the features that need one stay off.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

bool QueryFileStamp(const char* path, bool, FileStamp* stamp) {
  memset(stamp, 0, sizeof(*stamp));
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
  stamp->directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  stamp->regular = !stamp->directory;
  stamp->ownedByUser = true;
  stamp->size = (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  // 100-nanosecond intervals since 1601.
  unsigned long long ticks =
      (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
      data.ftLastWriteTime.dwLowDateTime;
  stamp->modifiedSeconds = static_cast<long long>(ticks / 10000000ull);
  stamp->modifiedNanoseconds = static_cast<long>((ticks % 10000000ull) * 100);
  return true;
}

bool MakePrivateDirectory(const char*, const char** why) {
  *why = "private directories are not supported on Windows";
  return false;
}

bool CreateNewPrivateFile(const char* path) {
  HANDLE h =
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

bool RenameFile(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

bool RemoveFile(const char* path) {
  return DeleteFileA(path) != 0;
}

MyCString AccountHomeDirectory() {
  const char* profile = getenv("USERPROFILE");
  return MyCString(profile ? profile : "");
}

MyCString TemporaryDirectory() {
  char buffer[MAX_PATH + 1];
  DWORD n = GetTempPathA(sizeof(buffer), buffer);
  if (n == 0 || n > MAX_PATH) return MyCString("C:\\Windows\\Temp");
  return MyCString(buffer, static_cast<int>(n));
}

unsigned long CurrentUserId() {
  return 0;
}

unsigned long CurrentProcessId() {
  return GetCurrentProcessId();
}

bool ProcessMayExist(unsigned long processId) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(processId));
  if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
  bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

bool ResolveRealPath(const char* path, MyCString& out) {
  char buffer[MAX_PATH + 1];
  DWORD n = GetFullPathNameA(path, sizeof(buffer), buffer, nullptr);
  if (n == 0 || n > MAX_PATH) return false;
  out = MyCString(buffer, static_cast<int>(n));
  return true;
}
