#include "file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>
#include <vector>

namespace launcher_pack {

namespace {

constexpr std::int64_t kCopyChunk = 1 << 20;
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kCleanupSignalCount = std::size(kCleanupSignals);

// The temporary file the signal handler removes. Both are set while the signals are blocked,
// so the handler never sees a half-written path.
const char* volatile g_temp_path = nullptr;
volatile std::sig_atomic_t g_temp_armed = 0;

// Uses only async-signal-safe calls. SA_RESETHAND has restored the default action, so raising
// the signal again ends the process with it.
void RemoveTempFileAndRaise(int sig) {
  if (g_temp_armed) ::unlink(g_temp_path);
  ::raise(sig);
}

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISFIFO(mode)) return "a pipe";
  if (S_ISSOCK(mode)) return "a socket";
  return "a special file";
}

// A temporary file beside a target, removed unless it is renamed over the target, also when one
// of kCleanupSignals ends the process. Only one exists at a time.
class TempFile {
 public:
  TempFile() = default;
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  bool Create(const std::string& target, std::string* reason);
  int fd() const { return fd_; }
  // Closes the file and renames it over target.
  bool Commit(const std::string& target, std::string* reason);

 private:
  void InstallHandlers(const sigset_t& mask);

  std::vector<char> path_;
  int fd_ = -1;
  bool created_ = false, committed_ = false, handlers_ = false;
  struct sigaction old_actions_[kCleanupSignalCount];
};

bool TempFile::Create(const std::string& target, std::string* reason) {
  const std::string name = target + ".tmp-XXXXXX";
  path_.assign(name.begin(), name.end());
  path_.push_back('\0');
  sigset_t blocked, old_mask;
  sigemptyset(&blocked);
  for (int sig : kCleanupSignals) sigaddset(&blocked, sig);
  // A signal arriving between creating the file and arming the handler waits until both are done.
  ::sigprocmask(SIG_BLOCK, &blocked, &old_mask);
  InstallHandlers(blocked);
  fd_ = ::mkstemp(path_.data());
  const int err = errno;
  created_ = fd_ >= 0;
  g_temp_path = path_.data();
  g_temp_armed = created_;
  ::sigprocmask(SIG_SETMASK, &old_mask, nullptr);
  if (!created_) *reason = std::strerror(err);
  return created_;
}

void TempFile::InstallHandlers(const sigset_t& mask) {
  struct sigaction action = {};
  action.sa_handler = RemoveTempFileAndRaise;
  action.sa_mask = mask;
  action.sa_flags = SA_RESETHAND;
  for (std::size_t i = 0; i < kCleanupSignalCount; ++i) {
    ::sigaction(kCleanupSignals[i], nullptr, &old_actions_[i]);
    // A signal the caller ignores (as under nohup) stays ignored.
    if (old_actions_[i].sa_handler != SIG_IGN) ::sigaction(kCleanupSignals[i], &action, nullptr);
  }
  handlers_ = true;
}

bool TempFile::Commit(const std::string& target, std::string* reason) {
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 || ::rename(path_.data(), target.c_str()) != 0) {
    *reason = std::strerror(errno);
    return false;
  }
  committed_ = true;
  return true;
}

TempFile::~TempFile() {
  if (fd_ >= 0) ::close(fd_);
  if (created_ && !committed_) ::unlink(path_.data());
  g_temp_armed = 0;
  if (!handlers_) return;
  for (std::size_t i = 0; i < kCleanupSignalCount; ++i) {
    ::sigaction(kCleanupSignals[i], &old_actions_[i], nullptr);
  }
}

}  // namespace

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size, std::string* reason) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      *reason = std::strerror(errno);
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool InputFile::Open(const std::string& path, std::string* reason) {
  // O_NONBLOCK keeps open() from waiting for a writer when path names a pipe; it does not
  // change how a regular file reads.
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st;
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
    *reason = std::strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *reason = std::string(KindOf(st.st_mode)) + ", not a regular file";
    return false;
  }
  path_ = path;
  size_ = st.st_size;
  return true;
}

bool InputFile::ReadAt(std::int64_t pos, std::size_t n, Bytes* out, std::string* reason) const {
  out->resize(n);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t got = ::pread(fd_, out->data() + done, n - done, pos + done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      *reason = got < 0 ? std::strerror(errno) : "the file ended early; did it change?";
      return false;
    }
    done += static_cast<std::size_t>(got);
  }
  return true;
}

bool InputFile::CopyTo(int fd, std::string* reason) const {
  Bytes chunk;
  for (std::int64_t pos = 0; pos < size_; pos += kCopyChunk) {
    const auto n = static_cast<std::size_t>(std::min(kCopyChunk, size_ - pos));
    if (!ReadAt(pos, n, &chunk, reason)) {
      *reason = "reading '" + path_ + "': " + *reason;
      return false;
    }
    if (!WriteAll(fd, chunk.data(), n, reason)) return false;
  }
  return true;
}

bool ReadFile(const std::string& path, Bytes* data, std::string* reason) {
  InputFile file;
  if (!file.Open(path, reason)) return false;
  if (file.size() > kMaxPackedSize) {
    *reason = std::to_string(file.size()) + " bytes, more than a packed file can hold (" +
              std::to_string(kMaxPackedSize) + " bytes)";
    return false;
  }
  return file.ReadAt(0, static_cast<std::size_t>(file.size()), data, reason);
}

bool WriteFileAtomically(const std::string& path, const Bytes& head, const InputFile* tail,
                         mode_t mode, std::string* reason) {
  return WriteFileAtomically(
      path, mode,
      [&](int fd, std::string* why) {
        return WriteAll(fd, head.data(), head.size(), why) && (!tail || tail->CopyTo(fd, why));
      },
      reason);
}

bool WriteFileAtomically(const std::string& path, mode_t mode,
                         const std::function<bool(int fd, std::string* reason)>& write,
                         std::string* reason) {
  TempFile tmp;
  if (!tmp.Create(path, reason)) return false;
  if (!write(tmp.fd(), reason)) return false;
  if (::fchmod(tmp.fd(), mode) != 0 || ::fsync(tmp.fd()) != 0) {
    *reason = std::strerror(errno);
    return false;
  }
  return tmp.Commit(path, reason);
}

}  // namespace launcher_pack
