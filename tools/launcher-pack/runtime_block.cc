#include "runtime_block.h"

#include <zstd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "settings/payload_layout.h"

namespace launcher_pack {
namespace {

namespace fs = std::filesystem;
namespace layout = payload_layout;

void PutLe(Bytes& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint64_t GetLe(const std::uint8_t* p, int bytes) {
  std::uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

bool PutText(Bytes& out, const std::string& text) {
  if (text.size() > 0xFFFF) return false;
  PutLe(out, text.size(), 2);
  out.insert(out.end(), text.begin(), text.end());
  return true;
}

// A link target that resolves inside the runtime: relative, ".." only in front and no more of
// them than the link has parent directories (the launcher refuses any other).
bool StaysInside(const std::string& link_path, const std::string& target) {
  if (target.empty() || target[0] == '/') return false;
  long parents = std::count(link_path.begin(), link_path.end(), '/');
  std::string rest = target;
  while (rest.rfind("../", 0) == 0) {
    if (--parents < 0) return false;
    rest.erase(0, 3);
  }
  for (std::size_t start = 0;;) {
    const std::size_t end = rest.find('/', start);
    const std::string part = rest.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

bool AppendEntries(const fs::path& root, Bytes& stream, int* files, std::string* error) {
  std::error_code ec;
  std::vector<fs::path> paths;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    paths.push_back(it->path());
  }
  if (ec) {
    *error = "runtime '" + root.string() + "': " + ec.message();
    return false;
  }
  std::sort(paths.begin(), paths.end());  // a parent sorts before what it holds
  for (const fs::path& path : paths) {
    const std::string relative = path.lexically_relative(root).generic_string();
    const fs::file_status status = fs::symlink_status(path, ec);
    const auto perms = static_cast<std::uint32_t>(status.permissions()) & 0777;
    const bool executable = (perms & 0111) != 0;
    Bytes head;
    if (fs::is_symlink(status)) {
      const std::string target = fs::read_symlink(path, ec).generic_string();
      if (ec || !StaysInside(relative, target)) {
        *error = "runtime '" + root.string() + "': the link '" + relative + "' leaves it";
        return false;
      }
      head.push_back(layout::kEntryLink);
      PutLe(head, 0777, 2);
      if (!PutText(head, relative) || !PutText(head, target)) return false;
    } else if (fs::is_directory(status)) {
      head.push_back(layout::kEntryDirectory);
      PutLe(head, 0755, 2);
      if (!PutText(head, relative)) return false;
    } else if (fs::is_regular_file(status)) {
      std::ifstream in(path, std::ios::binary);
      Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (!in.good() && !in.eof()) {
        *error = "runtime file '" + path.string() + "' cannot be read";
        return false;
      }
      head.push_back(layout::kEntryFile);
      PutLe(head, executable ? 0755 : 0644, 2);
      if (!PutText(head, relative)) return false;
      PutLe(head, data.size(), 8);
      head.insert(head.end(), data.begin(), data.end());
      ++*files;
    } else {
      *error = "runtime '" + root.string() + "': '" + relative + "' is no file or directory";
      return false;
    }
    stream.insert(stream.end(), head.begin(), head.end());
  }
  stream.push_back(layout::kEntryEnd);
  return true;
}

// SHA-256 as FIPS 180-4 defines it.
constexpr std::array<std::uint32_t, 64> kRoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

std::uint32_t Rotr(std::uint32_t x, int n) {
  return (x >> n) | (x << (32 - n));
}

void HashChunk(const std::uint8_t* chunk, std::array<std::uint32_t, 8>& h) {
  std::uint32_t w[64];
  for (int i = 0; i < 16; ++i) {
    w[i] = (std::uint32_t{chunk[4 * i]} << 24) | (std::uint32_t{chunk[4 * i + 1]} << 16) |
           (std::uint32_t{chunk[4 * i + 2]} << 8) | chunk[4 * i + 3];
  }
  for (int i = 16; i < 64; ++i) {
    const std::uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const std::uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  std::array<std::uint32_t, 8> v = h;
  for (int i = 0; i < 64; ++i) {
    const std::uint32_t s1 = Rotr(v[4], 6) ^ Rotr(v[4], 11) ^ Rotr(v[4], 25);
    const std::uint32_t choice = (v[4] & v[5]) ^ (~v[4] & v[6]);
    const std::uint32_t t1 = v[7] + s1 + choice + kRoundConstants[i] + w[i];
    const std::uint32_t s0 = Rotr(v[0], 2) ^ Rotr(v[0], 13) ^ Rotr(v[0], 22);
    const std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
    for (int j = 7; j > 0; --j) v[j] = v[j - 1];
    v[4] += t1;
    v[0] = t1 + s0 + majority;
  }
  for (int i = 0; i < 8; ++i) h[i] += v[i];
}

}  // namespace

std::string Sha256Hex(const Bytes& data) {
  std::array<std::uint32_t, 8> h = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                    0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  const std::size_t whole = data.size() / 64 * 64;
  for (std::size_t i = 0; i < whole; i += 64) HashChunk(data.data() + i, h);
  Bytes tail(data.begin() + static_cast<std::ptrdiff_t>(whole), data.end());
  tail.push_back(0x80);
  while (tail.size() % 64 != 56) tail.push_back(0);
  const std::uint64_t bits = static_cast<std::uint64_t>(data.size()) * 8;
  for (int i = 7; i >= 0; --i) tail.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
  for (std::size_t i = 0; i < tail.size(); i += 64) HashChunk(tail.data() + i, h);
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (std::uint32_t word : h) {
    for (int shift = 28; shift >= 0; shift -= 4) hex.push_back(kHex[(word >> shift) & 0xF]);
  }
  return hex;
}

bool BuildRuntimeBlock(const std::string& directory, int level, Bytes* block, std::string* error) {
  Bytes stream;
  int files = 0;
  if (!AppendEntries(fs::path(directory), stream, &files, error)) {
    if (error->empty()) *error = "runtime '" + directory + "': a name is too long";
    return false;
  }
  Bytes compressed(ZSTD_compressBound(stream.size()));
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, level);
  ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);  // the launcher's check on unpacking
  const std::size_t size =
      ZSTD_compress2(context, compressed.data(), compressed.size(), stream.data(), stream.size());
  ZSTD_freeCCtx(context);
  if (ZSTD_isError(size)) {
    *error = std::string("runtime '") + directory + "': zstd: " + ZSTD_getErrorName(size);
    return false;
  }
  *block = Bytes(layout::kRuntimeMagic, layout::kRuntimeMagic + 8);
  block->reserve(layout::kRuntimeHeaderLength + size);
  PutLe(*block, layout::kRuntimeZstd, 4);
  PutLe(*block, static_cast<std::uint32_t>(files), 4);
  PutLe(*block, size, 8);
  PutLe(*block, stream.size(), 8);
  const std::string digest = Sha256Hex(stream).substr(0, layout::kRuntimeDigestLength);
  block->insert(block->end(), digest.begin(), digest.end());
  block->insert(block->end(), compressed.begin(), compressed.begin() + static_cast<long>(size));
  return true;
}

std::optional<RuntimeBlockInfo> ReadRuntimeBlockHeader(const std::uint8_t* block,
                                                       std::int64_t length) {
  if (length < layout::kRuntimeHeaderLength || std::memcmp(block, layout::kRuntimeMagic, 8) != 0) {
    return std::nullopt;
  }
  RuntimeBlockInfo info;
  info.method = static_cast<int>(GetLe(block + layout::kRuntimeMethodOffset, 4));
  info.file_count = static_cast<int>(GetLe(block + layout::kRuntimeFileCountOffset, 4));
  info.compressed_size =
      static_cast<std::int64_t>(GetLe(block + layout::kRuntimeCompressedSizeOffset, 8));
  info.unpacked_size =
      static_cast<std::int64_t>(GetLe(block + layout::kRuntimeUnpackedSizeOffset, 8));
  info.digest.assign(reinterpret_cast<const char*>(block + layout::kRuntimeDigestOffset),
                     layout::kRuntimeDigestLength);
  return info;
}

}  // namespace launcher_pack
