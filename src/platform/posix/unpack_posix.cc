// Files of an unpacked runtime over POSIX calls: new files and directories, links, removal of
// a tree, an exclusive lock file and the file system's execute permission.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

struct OutputFile {
  int fd;
};

struct FileLock {
  int fd;
};

const char* LastSystemErrorText() {
  return strerror(errno);
}

bool MakeDirectory(const char* path) {
  return mkdir(path, 0755) == 0;
}

OutputFile* CreateOutputFile(const char* path, bool executable) {
  int fd =
      open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, executable ? 0755 : 0644);
  if (fd == -1) return nullptr;
  OutputFile* file = static_cast<OutputFile*>(malloc(sizeof(OutputFile)));
  if (!file) {
    close(fd);
    errno = ENOMEM;
    return nullptr;
  }
  file->fd = fd;
  return file;
}

bool WriteOutputFile(OutputFile* file, const void* bytes, long long n) {
  const char* at = static_cast<const char*>(bytes);
  while (n > 0) {
    size_t chunk = n > (1 << 30) ? (1 << 30) : static_cast<size_t>(n);
    ssize_t written = write(file->fd, at, chunk);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = ENOSPC;
      return false;
    }
    at += written;
    n -= written;
  }
  return true;
}

bool CloseOutputFile(OutputFile* file) {
  bool closed = close(file->fd) == 0;
  int error = errno;
  free(file);
  errno = error;
  return closed;
}

bool MakeSymbolicLink(const char* target, const char* path) {
  return symlink(target, path) == 0;
}

namespace {

// Removes the entries of the open directory fd, then the directory name in parent.
bool RemoveBelow(int parent, const char* name) {
  int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd == -1) return unlinkat(parent, name, 0) == 0 || errno == ENOENT;
  DIR* listing = fdopendir(fd);
  if (!listing) {
    close(fd);
    return false;
  }
  bool ok = true;
  while (struct dirent* entry = readdir(listing)) {
    const char* child = entry->d_name;
    if (strcmp(child, ".") == 0 || strcmp(child, "..") == 0) continue;
    if (unlinkat(fd, child, 0) == 0) continue;
    if (errno == EISDIR || errno == EPERM) {
      ok = RemoveBelow(fd, child) && ok;
    } else if (errno != ENOENT) {
      ok = false;
    }
  }
  closedir(listing);
  return unlinkat(parent, name, AT_REMOVEDIR) == 0 && ok;
}

}  // namespace

bool RemoveDirectoryTree(const char* path) {
  return RemoveBelow(AT_FDCWD, path);
}

FileLock* LockFileExclusive(const char* path) {
  int fd = open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd == -1) return nullptr;
  struct flock whole;
  memset(&whole, 0, sizeof(whole));
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  int result;
  do {
    result = fcntl(fd, F_SETLKW, &whole);
  } while (result == -1 && errno == EINTR);
  FileLock* lock = result == 0 ? static_cast<FileLock*>(malloc(sizeof(FileLock))) : nullptr;
  if (!lock) {
    close(fd);
    return nullptr;
  }
  lock->fd = fd;
  return lock;
}

void ReleaseFileLock(FileLock* lock) {
  if (!lock) return;
  close(lock->fd);
  free(lock);
}

bool AllowsExecution(const char* directory) {
  struct statvfs info;
  if (statvfs(directory, &info) != 0) return true;
  return (info.f_flag & ST_NOEXEC) == 0;
}
