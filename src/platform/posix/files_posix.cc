// File access layer and directory listing over POSIX calls.
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

const int kMaxPathBuffer = 4096;
const char kPathListSeparator = ':';
const bool kBackslashSeparatesPaths = false;
const char* const kJvmLibraryName = "libjvm.so";
const char* const kSplashLibraryName = "libsplashscreen.so";

struct FileHandle {
  int kind;  // 1 = open file, 2 = mapping
  intptr_t value;
  size_t length;
};

namespace {
const char* g_exePathOverride = nullptr;
}

void SetExePathForTesting(const char* path) {
  g_exePathOverride = path;
}

int GetExePath(char* buffer, int size) {
  if (size <= 0) return -1;
  ssize_t n;
  if (g_exePathOverride) {
    n = static_cast<ssize_t>(strlen(g_exePathOverride));
    if (n > size) n = size;
    memcpy(buffer, g_exePathOverride, static_cast<size_t>(n));
  } else {
    n = readlink("/proc/self/exe", buffer, static_cast<size_t>(size));
    if (n < 0) {
      buffer[0] = '\0';
      return -1;
    }
  }
  if (n < size) buffer[n] = '\0';
  return static_cast<int>(n);
}

FileHandle* OpenFileRead(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd == -1) return InvalidFileHandle();
  FileHandle* h = static_cast<FileHandle*>(malloc(sizeof(FileHandle)));
  if (!h) {
    close(fd);
    return InvalidFileHandle();
  }
  *h = FileHandle{1, fd, 0};
  return h;
}

int GetFileSize32(FileHandle* file) {
  if (!IsValidFileHandle(file) || file->kind != 1) return -1;
  struct stat st;
  if (fstat(static_cast<int>(file->value), &st) != 0) return -1;
  if (st.st_size < 0 || st.st_size > INT_MAX) return -1;
  if (!S_ISREG(st.st_mode)) return 0;  // a device or directory reads as empty
  return static_cast<int>(st.st_size);
}

FileHandle* MapWholeFile(FileHandle* file) {
  int size = GetFileSize32(file);
  if (size <= 0) return InvalidFileHandle();
  void* address = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE,
                       static_cast<int>(file->value), 0);
  if (address == MAP_FAILED) return InvalidFileHandle();
  FileHandle* h = static_cast<FileHandle*>(malloc(sizeof(FileHandle)));
  if (!h) {
    munmap(address, static_cast<size_t>(size));
    return InvalidFileHandle();
  }
  *h = FileHandle{2, reinterpret_cast<intptr_t>(address), static_cast<size_t>(size)};
  return h;
}

const unsigned char* MapView(FileHandle* mapping) {
  if (!IsValidFileHandle(mapping) || mapping->kind != 2) return nullptr;
  return reinterpret_cast<const unsigned char*>(mapping->value);
}

bool UnmapView(const void*) {
  return true;
}

void CloseFileHandle(FileHandle* handle) {
  if (!IsValidFileHandle(handle)) return;
  if (handle->kind == 1) close(static_cast<int>(handle->value));
  if (handle->kind == 2) munmap(reinterpret_cast<void*>(handle->value), handle->length);
  free(handle);
}

bool ReadFileBytes(FileHandle* file, void* buffer, int n, int* count) {
  ssize_t got = -1;
  if (IsValidFileHandle(file) && file->kind == 1 && n >= 0) {
    got = read(static_cast<int>(file->value), buffer, static_cast<size_t>(n));
  }
  if (count) *count = got < 0 ? 0 : static_cast<int>(got);
  return true;
}

bool IsReadable(const char* path) {
  return access(path, R_OK) == 0;
}

struct DirHandle {
  DIR* dir;
};

namespace {
void FillEntry(const struct dirent* entry, DirEntryInfo* info) {
  memset(info, 0, sizeof(*info));
  size_t n = strnlen(entry->d_name, sizeof(info->name) - 1);
  memcpy(info->name, entry->d_name, n);
  info->attrib = entry->d_type == DT_DIR ? kDirAttribute : 0;
}
}  // namespace

DirHandle* DirFindFirst(const char* pattern, DirEntryInfo* info) {
  char directory[300];
  size_t length = strlen(pattern);
  if (length >= sizeof(directory)) return nullptr;  // beyond the listing's limit
  memcpy(directory, pattern, length + 1);
  char* slash = strrchr(directory, '/');
  if (slash)
    slash[1] = '\0';
  else
    directory[0] = '\0';
  DIR* dir = opendir(directory[0] ? directory : ".");
  if (!dir) return nullptr;
  struct dirent* entry = readdir(dir);
  if (!entry) {
    closedir(dir);
    return nullptr;
  }
  FillEntry(entry, info);
  DirHandle* handle = static_cast<DirHandle*>(malloc(sizeof(DirHandle)));
  if (!handle) {
    closedir(dir);
    return nullptr;
  }
  handle->dir = dir;
  return handle;
}

int DirFindNext(DirHandle* handle, DirEntryInfo* info) {
  if (!handle) return -1;
  struct dirent* entry = readdir(handle->dir);
  if (!entry) return -1;
  FillEntry(entry, info);
  return 0;
}

void DirFindClose(DirHandle* handle) {
  if (!handle) return;
  closedir(handle->dir);
  free(handle);
}
