#include "file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace launcher_pack {

bool ReadFile(const std::string& path, Bytes* data, std::string* reason) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *reason = std::strerror(errno);
    return false;
  }
  data->clear();
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) data->reserve(st.st_size);
  std::uint8_t buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      data->insert(data->end(), buffer, buffer + n);
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      *reason = std::strerror(errno);
      ::close(fd);
      return false;
    }
  }
  ::close(fd);
  return true;
}

bool WriteFileAtomically(const std::string& path, const Bytes& data, mode_t mode,
                         std::string* reason) {
  std::string tmp_name = path + ".tmp-XXXXXX";
  std::vector<char> tmp(tmp_name.begin(), tmp_name.end());
  tmp.push_back('\0');
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) {
    *reason = std::strerror(errno);
    return false;
  }
  auto fail = [&](int err) {
    ::close(fd);
    ::unlink(tmp.data());
    *reason = std::strerror(err);
    return false;
  };
  std::size_t written = 0;
  while (written < data.size()) {
    const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    written += static_cast<std::size_t>(n);
  }
  if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) return fail(errno);
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(tmp.data());
    *reason = std::strerror(err);
    return false;
  }
  if (::rename(tmp.data(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.data());
    *reason = std::strerror(err);
    return false;
  }
  return true;
}

}  // namespace launcher_pack
