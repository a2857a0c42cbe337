// A reproducible gzip-compressed tar archive (POSIX ustar, with pax records for long names) of
// directories, regular files and symbolic links, written with zlib.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace launcher_pack {

struct TreeEntry {
  enum class Kind { kDirectory, kFile, kSymlink } kind;
  std::string name;              // relative path, '/'-separated, without a trailing '/'
  unsigned mode = 0;             // permission bits (07777)
  std::int64_t size = 0;         // of a file
  std::string link;              // a symbolic link's target, as stored
  std::filesystem::path source;  // a file's location on disk
};

// The entries below root (root itself not included), each directory before its contents and
// the entries of a directory in byte order of their names, so the order never depends on the
// file system. Symbolic links are listed, not followed. Other kinds of file are an error.
bool ListTree(const std::filesystem::path& root, std::vector<TreeEntry>* entries,
              std::string* reason);

// Writes the entries as a .tar.gz to fd. Every entry gets the same modification time (0), owner
// and group 0 and no owner names, and the gzip header has no time or name, so the same entries
// give the same bytes.
bool WriteTarGz(int fd, const std::vector<TreeEntry>& entries, std::string* reason);

}  // namespace launcher_pack
