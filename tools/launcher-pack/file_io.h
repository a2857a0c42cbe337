// Bounded reading of regular files and all-or-nothing writing for launcher-pack.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>

#include "payload_format.h"

namespace launcher_pack {

// An open regular file, read in pieces. Devices, pipes and directories are refused, since
// they may never end or change under the reader.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // On failure sets *reason, e.g. "a character device, not a regular file".
  bool Open(const std::string& path, std::string* reason);
  std::int64_t size() const { return size_; }

  // Reads the n bytes at pos into *out; fails when the file ends before them.
  bool ReadAt(std::int64_t pos, std::size_t n, Bytes* out, std::string* reason) const;

  // Writes the first size() bytes to fd in chunks of bounded size.
  bool CopyTo(int fd, std::string* reason) const;

 private:
  std::string path_;
  int fd_ = -1;
  std::int64_t size_ = 0;
};

// Reads a whole regular file; one larger than kMaxPackedSize is refused unread, since it cannot
// be part of a packed file. On failure sets *reason.
bool ReadFile(const std::string& path, Bytes* data, std::string* reason);

// Writes head and then the whole of tail (when given) to a temporary file beside path with the
// given mode and renames it over path, so a failure never leaves a partial file behind. SIGINT,
// SIGTERM or SIGHUP while the temporary file exists remove it before the process ends.
bool WriteFileAtomically(const std::string& path, const Bytes& head, const InputFile* tail,
                         mode_t mode, std::string* reason);

// Like WriteFileAtomically, with the contents written to the temporary file's descriptor by
// write, which sets *reason when it fails.
bool WriteFileAtomically(const std::string& path, mode_t mode,
                         const std::function<bool(int fd, std::string* reason)>& write,
                         std::string* reason);

// Writes all size bytes to fd; sets *reason on failure.
bool WriteAll(int fd, const std::uint8_t* data, std::size_t size, std::string* reason);

}  // namespace launcher_pack
