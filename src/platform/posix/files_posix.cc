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
  // Without O_NONBLOCK, opening a FIFO would wait for a writer for ever; anything that is not a
  // regular file reads as empty anyway.
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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
  return got >= 0;
}

bool IsReadable(const char* path) {
  return access(path, R_OK) == 0;
}

namespace {

void CopyCulprit(const char* path, char* culprit, int size) {
  if (size <= 0) return;
  size_t n = strnlen(path, static_cast<size_t>(size) - 1);
  memcpy(culprit, path, n);
  culprit[n] = '\0';
}

// A directory that everyone may write to protects an entry only with the sticky bit, and then
// only an entry that root or the running user owns.
bool DirectoryProtects(const struct stat& directory, uid_t entryOwner) {
  if (!(directory.st_mode & S_IWOTH)) return true;
  return (directory.st_mode & S_ISVTX) && (entryOwner == 0 || entryOwner == geteuid());
}

}  // namespace

bool IsProtectedFromOtherUsers(const char* path, char* culprit, int size) {
  if (size > 0) culprit[0] = '\0';
  // The real path, so that every directory checked is one the file is really reached through.
  char* real = realpath(path, nullptr);
  if (!real) return true;  // nothing there to load or read
  struct stat st;
  bool safe = stat(real, &st) == 0 && !(st.st_mode & S_IWOTH);
  if (!safe) CopyCulprit(real, culprit, size);
  uid_t below = st.st_uid;
  for (char* slash = strrchr(real, '/'); safe && slash; slash = strrchr(real, '/')) {
    if (slash == real)
      slash[1] = '\0';  // the root directory keeps its '/'
    else
      slash[0] = '\0';
    struct stat directory;
    safe = stat(real, &directory) == 0 && DirectoryProtects(directory, below);
    if (!safe) CopyCulprit(real, culprit, size);
    below = directory.st_uid;
    if (slash == real) break;
  }
  free(real);
  return safe;
}

struct DirHandle {
  DIR* dir;
};

namespace {

// Some file systems report no entry types (DT_UNKNOWN); only then a status query decides.
bool IsDirectoryEntry(DIR* dir, const struct dirent* entry) {
  if (entry->d_type != DT_UNKNOWN) return entry->d_type == DT_DIR;
  struct stat st;
  return fstatat(dirfd(dir), entry->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

void FillEntry(DIR* dir, const struct dirent* entry, DirEntryInfo* info) {
  memset(info, 0, sizeof(*info));
  size_t n = strnlen(entry->d_name, sizeof(info->name) - 1);
  memcpy(info->name, entry->d_name, n);
  info->attrib = IsDirectoryEntry(dir, entry) ? kDirAttribute : 0;
}

// The directory part of pattern (up to and with its last '/'), or "." when it has none.
DIR* OpenPatternDirectory(const char* pattern) {
  const char* slash = strrchr(pattern, '/');
  if (!slash) return opendir(".");
  size_t length = static_cast<size_t>(slash - pattern) + 1;
  char* directory = static_cast<char*>(malloc(length + 1));
  if (!directory) return nullptr;
  memcpy(directory, pattern, length);
  directory[length] = '\0';
  DIR* dir = opendir(directory);
  free(directory);
  return dir;
}

}  // namespace

DirHandle* DirFindFirst(const char* pattern, DirEntryInfo* info) {
  DIR* dir = OpenPatternDirectory(pattern);
  if (!dir) return nullptr;
  struct dirent* entry = readdir(dir);
  if (!entry) {
    closedir(dir);
    return nullptr;
  }
  FillEntry(dir, entry, info);
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
  FillEntry(handle->dir, entry, info);
  return 0;
}

void DirFindClose(DirHandle* handle) {
  if (!handle) return;
  closedir(handle->dir);
  free(handle);
}
