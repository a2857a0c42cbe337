#include "jar_layout.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

namespace launcher_pack {

namespace {

constexpr std::int32_t kCentralHeaderSignature = 0x02014b50;
constexpr std::int64_t kCentralHeaderLength = 46;
constexpr std::int64_t kWindowLength = 256 * 1024;

// Serves the small reads of a central directory walk from windows of the jar, so that a
// directory of many entries costs few reads and little memory.
class Window {
 public:
  Window(std::int64_t length, const ReadAtFunction& read_at) : length_(length), read_at_(read_at) {}

  // Points at the n bytes at pos, which the caller keeps inside the jar; nullptr on a read error.
  // The pointer stays valid until the next call.
  const std::uint8_t* At(std::int64_t pos, std::int64_t n) {
    if (pos < start_ || pos + n > start_ + static_cast<std::int64_t>(bytes_.size())) {
      start_ = pos;
      const std::int64_t size = std::min(std::max(kWindowLength, n), length_ - pos);
      if (!read_at_(pos, static_cast<std::size_t>(size), &bytes_)) return nullptr;
    }
    return bytes_.data() + (pos - start_);
  }

 private:
  std::int64_t length_;
  const ReadAtFunction& read_at_;
  std::int64_t start_ = 0;
  Bytes bytes_;
};

bool EqualsIgnoringCase(const std::string& a, const char* b) {
  return std::equal(a.begin(), a.end(), b, b + std::strlen(b), [](char x, char y) {
    return std::toupper(static_cast<unsigned char>(x)) ==
           std::toupper(static_cast<unsigned char>(y));
  });
}

// Keeps the manifest's entry: the one of the exact name, else the first in another case.
void NoteManifest(const std::uint8_t* header, const std::string& name, JarLayout* jar) {
  const bool exact = name == kManifestName;
  if (!exact && (jar->manifest || !EqualsIgnoringCase(name, kManifestName))) return;
  if (jar->manifest && jar->manifest->name == kManifestName) return;
  jar->manifest = ZipEntry{name,
                           ReadLe16(header + 8),
                           ReadLe16(header + 10),
                           static_cast<std::uint32_t>(ReadLe32(header + 16)),
                           static_cast<std::uint32_t>(ReadLe32(header + 20)),
                           static_cast<std::uint32_t>(ReadLe32(header + 24)),
                           static_cast<std::uint32_t>(ReadLe32(header + 42))};
}

bool ReadEntries(const std::uint8_t* eocd, std::int64_t length, const ReadAtFunction& read_at,
                 JarLayout* jar) {
  Window window(length, read_at);
  std::int64_t pos = static_cast<std::uint32_t>(ReadLe32(eocd + 16));
  const int count = ReadLe16(eocd + 10);
  for (int i = 0; i < count && pos + kCentralHeaderLength <= length; ++i) {
    const std::uint8_t* header = window.At(pos, kCentralHeaderLength);
    if (header == nullptr) return false;
    if (ReadLe32(header) != kCentralHeaderSignature) break;
    const std::int64_t name_length = ReadLe16(header + 28);
    const std::int64_t next =
        pos + kCentralHeaderLength + name_length + ReadLe16(header + 30) + ReadLe16(header + 32);
    if (pos + kCentralHeaderLength + name_length > length) break;
    // The header's fields are taken before the window moves to the name.
    std::array<std::uint8_t, kCentralHeaderLength> fields;
    std::copy_n(header, kCentralHeaderLength, fields.begin());
    const std::uint8_t* name = window.At(pos + kCentralHeaderLength, name_length);
    if (name == nullptr) return false;
    const auto inserted = jar->entries.emplace(reinterpret_cast<const char*>(name),
                                               static_cast<std::size_t>(name_length));
    NoteManifest(fields.data(), *inserted.first, jar);
    pos = next;
  }
  return true;
}

}  // namespace

bool ReadJarLayout(std::int64_t length, const ReadAtFunction& read_at, JarLayout* jar) {
  *jar = JarLayout{length, std::nullopt, {}, std::nullopt};
  const std::int64_t tail_pos =
      std::max<std::int64_t>(0, length - static_cast<std::int64_t>(kEocdSearchWindow));
  Bytes tail;
  if (!read_at(tail_pos, static_cast<std::size_t>(length - tail_pos), &tail)) return false;
  const auto eocd = FindEocd(tail.data(), tail.size());
  if (!eocd) return true;
  jar->archive_size = tail_pos + static_cast<std::int64_t>(*eocd + kEocdLength);
  return ReadEntries(tail.data() + *eocd, length, read_at, jar);
}

JarLayout JarLayoutOf(const Bytes& jar) {
  JarLayout layout;
  ReadJarLayout(
      static_cast<std::int64_t>(jar.size()),
      [&](std::int64_t pos, std::size_t n, Bytes* out) {
        out->assign(jar.begin() + pos, jar.begin() + pos + static_cast<std::int64_t>(n));
        return true;
      },
      &layout);
  return layout;
}

}  // namespace launcher_pack
