// The user's private files and directories over POSIX calls: status queries, a directory only
// the user may enter, exclusive creation, renaming and the account's home directory.
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

bool QueryFileStamp(const char* path, bool followLinks, FileStamp* stamp) {
  memset(stamp, 0, sizeof(*stamp));
  struct stat st;
  if ((followLinks ? stat(path, &st) : lstat(path, &st)) != 0) return false;
  stamp->regular = S_ISREG(st.st_mode);
  stamp->directory = S_ISDIR(st.st_mode);
  stamp->symbolicLink = S_ISLNK(st.st_mode);
  stamp->ownedByUser = st.st_uid == geteuid();
  stamp->writableByOthers = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
  stamp->size = static_cast<long long>(st.st_size);
  stamp->modifiedSeconds = static_cast<long long>(st.st_mtim.tv_sec);
  stamp->modifiedNanoseconds = static_cast<long>(st.st_mtim.tv_nsec);
  stamp->device = static_cast<unsigned long long>(st.st_dev);
  stamp->inode = static_cast<unsigned long long>(st.st_ino);
  return true;
}

namespace {

// Opens the last component without following a link, then checks and tightens what it opened,
// so that a directory swapped in between is never the one approved.
bool CheckPrivateDirectory(const char* path, const char** why) {
  int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd == -1) {
    // A link to a directory fails as "not a directory" when a directory is asked for.
    int error = errno;
    struct stat link;
    bool isLink = error != ENOENT && lstat(path, &link) == 0 && S_ISLNK(link.st_mode);
    *why = isLink || error == ELOOP ? "is a symbolic link"
           : error == ENOTDIR       ? "is not a directory"
           : error == ENOENT        ? "cannot be created"
                                    : "cannot be opened";
    return false;
  }
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
  if (!ok) {
    *why = "cannot be queried";
  } else if (st.st_uid != geteuid()) {
    *why = "belongs to another user";
    ok = false;
  } else if ((st.st_mode & 022) != 0) {
    // Another user may have put files into it already: nothing in it can be trusted.
    *why = "is writable by other users";
    ok = false;
  } else if ((st.st_mode & 077) != 0 && fchmod(fd, 0700) != 0) {
    *why = "is open to other users and cannot be closed to them";
    ok = false;
  }
  close(fd);
  return ok;
}

}  // namespace

bool MakePrivateDirectory(const char* path, const char** why) {
  *why = "";
  if (!path || path[0] != '/') {
    *why = "is not an absolute path";
    return false;
  }
  // The usual case: the directory exists already.
  if (CheckPrivateDirectory(path, why)) return true;
  size_t length = strlen(path);
  char* partial = static_cast<char*>(malloc(length + 1));
  if (!partial) {
    *why = "out of memory";
    return false;
  }
  memcpy(partial, path, length + 1);
  for (size_t i = 1; i <= length; ++i) {
    if (partial[i] != '/' && partial[i] != '\0') continue;
    char kept = partial[i];
    partial[i] = '\0';
    if (mkdir(partial, 0700) != 0 && errno != EEXIST) {
      *why = errno == EROFS    ? "cannot be created: read-only file system"
             : errno == EACCES ? "cannot be created: permission denied"
                               : "cannot be created";
      free(partial);
      return false;
    }
    partial[i] = kept;
  }
  free(partial);
  return CheckPrivateDirectory(path, why);
}

bool CreateNewPrivateFile(const char* path) {
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd == -1) return false;
  close(fd);
  return true;
}

bool RenameFile(const char* from, const char* to) {
  return rename(from, to) == 0;
}

bool RemoveFile(const char* path) {
  return unlink(path) == 0;
}

MyCString AccountHomeDirectory() {
  MyCString home;
  // The buffer grows for account databases whose entries do not fit the first size.
  for (size_t size = 4096; size <= 1u << 20 && home.IsEmpty(); size *= 4) {
    char* buffer = static_cast<char*>(malloc(size));
    if (!buffer) break;
    struct passwd entry;
    struct passwd* found = nullptr;
    int error = getpwuid_r(geteuid(), &entry, buffer, size, &found);
    if (error == 0 && found && found->pw_dir) home = found->pw_dir;
    free(buffer);
    if (error != ERANGE) break;
  }
  return home;
}

MyCString TemporaryDirectory() {
  const char* value = getenv("TMPDIR");
  return MyCString(value && value[0] == '/' ? value : "/tmp");
}

unsigned long CurrentUserId() {
  return static_cast<unsigned long>(geteuid());
}

unsigned long CurrentProcessId() {
  return static_cast<unsigned long>(getpid());
}

bool ProcessMayExist(unsigned long processId) {
  if (processId == 0 || processId > 0x7FFFFFFFul) return false;
  return kill(static_cast<pid_t>(processId), 0) == 0 || errno == EPERM;
}

bool ResolveRealPath(const char* path, MyCString& out) {
  char* real = realpath(path, nullptr);
  if (!real) return false;
  out = real;
  free(real);
  return true;
}
