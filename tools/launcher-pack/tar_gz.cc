#include "tar_gz.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <system_error>

#include "file_io.h"

namespace launcher_pack {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kBlock = 512;
constexpr std::size_t kRecord = 20 * kBlock;  // tar's default blocking factor
constexpr std::size_t kChunk = 1 << 20;

// A gzip stream into a file descriptor.
class GzipSink {
 public:
  explicit GzipSink(int fd) : fd_(fd) {
    // Window bits 15 + 16: a gzip wrapper, whose header zlib writes with no time and no name.
    ok_ = deflateInit2(&z_, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK;
  }
  ~GzipSink() { deflateEnd(&z_); }
  GzipSink(const GzipSink&) = delete;
  GzipSink& operator=(const GzipSink&) = delete;

  bool Write(const std::uint8_t* data, std::size_t size, std::string* reason) {
    written_ += size;
    return Deflate(data, size, Z_NO_FLUSH, reason);
  }
  bool Finish(std::string* reason) { return Deflate(nullptr, 0, Z_FINISH, reason); }
  std::uint64_t written() const { return written_; }

 private:
  bool Deflate(const std::uint8_t* data, std::size_t size, int flush, std::string* reason) {
    if (!ok_) {
      *reason = "zlib could not be set up";
      return false;
    }
    z_.next_in = const_cast<Bytef*>(data);
    z_.avail_in = static_cast<uInt>(size);
    std::uint8_t out[1 << 16];
    int status;
    do {
      z_.next_out = out;
      z_.avail_out = sizeof out;
      status = deflate(&z_, flush);
      if (status == Z_STREAM_ERROR) {
        *reason = "zlib failed to compress";
        return false;
      }
      if (!WriteAll(fd_, out, sizeof out - z_.avail_out, reason)) return false;
    } while (z_.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
    return true;
  }

  int fd_;
  z_stream z_{};
  bool ok_ = false;
  std::uint64_t written_ = 0;
};

void PutOctal(std::uint8_t* field, std::size_t width, std::uint64_t value) {
  // width - 1 octal digits and a NUL.
  field[width - 1] = 0;
  for (std::size_t i = width - 1; i-- > 0; value >>= 3) field[i] = '0' + (value & 7);
}

void PutText(std::uint8_t* field, std::size_t width, const std::string& text) {
  std::memcpy(field, text.data(), std::min(width, text.size()));
}

// Splits name into ustar's prefix (up to 155 bytes) and name (up to 100) fields at a '/'; false
// when it cannot be split so.
bool SplitUstarName(const std::string& name, std::string* prefix, std::string* rest) {
  if (name.size() <= 100) {
    *prefix = "", *rest = name;
    return true;
  }
  for (std::size_t slash = name.find('/'); slash != std::string::npos;
       slash = name.find('/', slash + 1)) {
    if (slash <= 155 && name.size() - slash - 1 <= 100 && slash + 1 < name.size()) {
      *prefix = name.substr(0, slash), *rest = name.substr(slash + 1);
      return true;
    }
  }
  return false;
}

// One pax record: "LENGTH key=value\n", LENGTH counting the whole record, its own digits too.
std::string PaxRecord(const std::string& key, const std::string& value) {
  const std::size_t body = key.size() + value.size() + 3;  // ' ', '=', '\n'
  std::size_t length = body + 1;
  while (std::to_string(length).size() + body != length) ++length;
  return std::to_string(length) + " " + key + "=" + value + "\n";
}

Bytes Header(const std::string& name, char type, unsigned mode, std::uint64_t size,
             const std::string& link) {
  Bytes block(kBlock, 0);
  std::string prefix, rest;
  if (!SplitUstarName(name, &prefix, &rest)) rest = name.substr(0, 100);  // a pax path follows
  PutText(&block[0], 100, rest);
  PutOctal(&block[100], 8, mode);
  PutOctal(&block[108], 8, 0);  // uid
  PutOctal(&block[116], 8, 0);  // gid
  PutOctal(&block[124], 12, size);
  PutOctal(&block[136], 12, 0);  // mtime
  block[156] = static_cast<std::uint8_t>(type);
  PutText(&block[157], 100, link);
  std::memcpy(&block[257],
              "ustar\0"
              "00",
              8);
  PutText(&block[345], 155, prefix);
  // The checksum is the sum of the header's bytes with its own field taken as blanks.
  std::memset(&block[148], ' ', 8);
  unsigned sum = 0;
  for (std::uint8_t byte : block) sum += byte;
  PutOctal(&block[148], 7, sum);
  return block;
}

bool WritePadded(GzipSink* sink, const Bytes& data, std::string* reason) {
  Bytes padded = data;
  padded.resize((data.size() + kBlock - 1) / kBlock * kBlock, 0);
  return sink->Write(padded.data(), padded.size(), reason);
}

bool WriteEntry(GzipSink* sink, const TreeEntry& entry, std::string* reason) {
  const bool directory = entry.kind == TreeEntry::Kind::kDirectory;
  const std::string name = entry.name + (directory ? "/" : "");
  std::string prefix, rest, pax;
  if (!SplitUstarName(name, &prefix, &rest)) pax += PaxRecord("path", name);
  if (entry.link.size() > 100) pax += PaxRecord("linkpath", entry.link);
  if (!pax.empty()) {
    if (!WritePadded(sink,
                     Header("PaxHeaders/" + entry.name.substr(0, 80), 'x', 0644, pax.size(), ""),
                     reason) ||
        !WritePadded(sink, Bytes(pax.begin(), pax.end()), reason)) {
      return false;
    }
  }
  const char type = directory ? '5' : entry.kind == TreeEntry::Kind::kSymlink ? '2' : '0';
  const std::uint64_t size = entry.kind == TreeEntry::Kind::kFile ? entry.size : 0;
  if (!WritePadded(sink, Header(name, type, entry.mode, size, entry.link.substr(0, 100)), reason)) {
    return false;
  }
  if (entry.kind != TreeEntry::Kind::kFile) return true;
  InputFile file;
  if (!file.Open(entry.source.string(), reason)) {
    *reason = "'" + entry.source.string() + "': " + *reason;
    return false;
  }
  if (file.size() != entry.size) {
    *reason = "'" + entry.source.string() + "' changed while being archived";
    return false;
  }
  Bytes chunk;
  for (std::int64_t pos = 0; pos < entry.size; pos += kChunk) {
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(kChunk, entry.size - pos));
    if (!file.ReadAt(pos, n, &chunk, reason)) {
      *reason = "'" + entry.source.string() + "': " + *reason;
      return false;
    }
    if (pos + static_cast<std::int64_t>(n) == entry.size) {
      if (!WritePadded(sink, chunk, reason)) return false;
    } else if (!sink->Write(chunk.data(), n, reason)) {
      return false;
    }
  }
  return true;
}

bool ListInto(const fs::path& root, const std::string& relative, std::vector<TreeEntry>* entries,
              std::string* reason) {
  std::error_code ec;
  std::vector<std::string> names;
  const fs::path dir = relative.empty() ? root : root / relative;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  if (ec) {
    *reason = "cannot list '" + dir.string() + "': " + ec.message();
    return false;
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    TreeEntry entry;
    entry.name = relative.empty() ? name : relative + "/" + name;
    entry.source = root / entry.name;
    const fs::file_status status = fs::symlink_status(entry.source, ec);
    if (ec) {
      *reason = "cannot read '" + entry.source.string() + "': " + ec.message();
      return false;
    }
    entry.mode = static_cast<unsigned>(status.permissions()) & 07777;
    if (fs::is_symlink(status)) {
      entry.kind = TreeEntry::Kind::kSymlink;
      entry.link = fs::read_symlink(entry.source, ec).string();
    } else if (fs::is_directory(status)) {
      entry.kind = TreeEntry::Kind::kDirectory;
    } else if (fs::is_regular_file(status)) {
      entry.kind = TreeEntry::Kind::kFile;
      entry.size = static_cast<std::int64_t>(fs::file_size(entry.source, ec));
    } else {
      *reason = "'" + entry.source.string() + "' is neither a file, a directory nor a link";
      return false;
    }
    if (ec) {
      *reason = "cannot read '" + entry.source.string() + "': " + ec.message();
      return false;
    }
    entries->push_back(entry);
    if (entry.kind == TreeEntry::Kind::kDirectory && !ListInto(root, entry.name, entries, reason)) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool ListTree(const fs::path& root, std::vector<TreeEntry>* entries, std::string* reason) {
  return ListInto(root, "", entries, reason);
}

bool WriteTarGz(int fd, const std::vector<TreeEntry>& entries, std::string* reason) {
  GzipSink sink(fd);
  for (const TreeEntry& entry : entries) {
    if (entry.size >= (std::int64_t{1} << 33)) {  // 11 octal digits
      *reason = "'" + entry.name + "' is too large for a tar entry";
      return false;
    }
    if (!WriteEntry(&sink, entry, reason)) return false;
  }
  // Two zero blocks end the archive; it is padded to whole records as tar writes them.
  const std::size_t end = sink.written() + 2 * kBlock;
  const Bytes zeros((end + kRecord - 1) / kRecord * kRecord - sink.written(), 0);
  return sink.Write(zeros.data(), zeros.size(), reason) && sink.Finish(reason);
}

}  // namespace launcher_pack
