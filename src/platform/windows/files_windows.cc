// File access layer and directory listing over the Windows file calls and the C runtime.
#include <io.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "core/trace.h"
#include "platform/platform.h"

const int kMaxPathBuffer = 260;
const char kPathListSeparator = ';';
const bool kBackslashSeparatesPaths = true;
const char* const kJvmLibraryName = "jvm.dll";
const char* const kSplashLibraryName = "splashscreen.dll";

struct FileHandle {
  int kind;  // 1 = open file, 2 = mapping
  HANDLE handle;
  const void* view;
};

namespace {
const char* g_exePathOverride = nullptr;

FileHandle* NewHandle(int kind, HANDLE handle) {
  FileHandle* h = static_cast<FileHandle*>(malloc(sizeof(FileHandle)));
  if (!h) {
    CloseHandle(handle);
    return InvalidFileHandle();
  }
  *h = FileHandle{kind, handle, nullptr};
  return h;
}
}  // namespace

void SetExePathForTesting(const char* path) {
  g_exePathOverride = path;
}

int GetExePath(char* buffer, int size) {
  if (size <= 0) return -1;
  if (g_exePathOverride) {
    int n = static_cast<int>(strlen(g_exePathOverride));
    if (n > size) n = size;
    memcpy(buffer, g_exePathOverride, static_cast<size_t>(n));
    if (n < size) buffer[n] = '\0';
    return n;
  }
  DWORD n = GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(size));
  if (n == 0) {
    buffer[0] = '\0';
    return -1;
  }
  // A full buffer holds a path cut short; the callers take the length as too long.
  static bool traced = false;
  if (n >= static_cast<DWORD>(size) && !traced) {
    traced = true;
    TRACE("executable path: longer than %d characters, so the launcher cannot read its own file",
          size - 1);
  }
  return static_cast<int>(n);
}

FileHandle* OpenFileRead(const char* path) {
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return InvalidFileHandle();
  return NewHandle(1, h);
}

int GetFileSize32(FileHandle* file) {
  if (!IsValidFileHandle(file) || file->kind != 1) return -1;
  DWORD high = 0;
  DWORD low = GetFileSize(file->handle, &high);
  if (low == INVALID_FILE_SIZE || high != 0 || low > 0x7FFFFFFFu) return -1;
  return static_cast<int>(low);
}

FileHandle* MapWholeFile(FileHandle* file) {
  if (GetFileSize32(file) <= 0) return InvalidFileHandle();
  HANDLE mapping = CreateFileMappingA(file->handle, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!mapping) return InvalidFileHandle();
  FileHandle* h = NewHandle(2, mapping);
  if (!IsValidFileHandle(h)) return h;
  h->view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  return h;
}

const unsigned char* MapView(FileHandle* mapping) {
  if (!IsValidFileHandle(mapping) || mapping->kind != 2) return nullptr;
  return static_cast<const unsigned char*>(mapping->view);
}

bool UnmapView(const void* address) {
  return address && UnmapViewOfFile(address);
}

void CloseFileHandle(FileHandle* handle) {
  if (!IsValidFileHandle(handle)) return;
  CloseHandle(handle->handle);
  free(handle);
}

bool ReadFileBytes(FileHandle* file, void* buffer, int n, int* count) {
  DWORD got = 0;
  bool read = IsValidFileHandle(file) && file->kind == 1 && n >= 0 &&
              ReadFile(file->handle, buffer, static_cast<DWORD>(n), &got, nullptr);
  if (count) *count = static_cast<int>(got);
  return read;
}

bool IsReadable(const char* path) {
  return _access(path, 4) == 0;
}

// Windows guards files with access control lists, which an installer sets up; there is no
// world-writable bit to look at.
bool IsProtectedFromOtherUsers(const char*, char* culprit, int size) {
  if (size > 0) culprit[0] = '\0';
  return true;
}

struct DirHandle {
  intptr_t search;
};

namespace {
void FillEntry(const _finddata_t& data, DirEntryInfo* info) {
  memset(info, 0, sizeof(*info));
  size_t n = strnlen(data.name, sizeof(info->name) - 1);
  memcpy(info->name, data.name, n);
  // A symbolic link or junction to a directory is listed as a link, not as a directory, so
  // that a scan never follows it, as on Linux (a link to a directory above never ends).
  bool link = (data.attrib & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  info->attrib = (data.attrib & _A_SUBDIR) && !link ? kDirAttribute : 0;
}
}  // namespace

DirHandle* DirFindFirst(const char* pattern, DirEntryInfo* info) {
  _finddata_t data;
  intptr_t search = _findfirst(pattern, &data);
  if (search == -1) return nullptr;
  DirHandle* handle = static_cast<DirHandle*>(malloc(sizeof(DirHandle)));
  if (!handle) {
    _findclose(search);
    return nullptr;
  }
  handle->search = search;
  FillEntry(data, info);
  return handle;
}

int DirFindNext(DirHandle* handle, DirEntryInfo* info) {
  _finddata_t data;
  if (!handle || _findnext(handle->search, &data) != 0) return -1;
  FillEntry(data, info);
  return 0;
}

void DirFindClose(DirHandle* handle) {
  if (!handle) return;
  _findclose(handle->search);
  free(handle);
}
