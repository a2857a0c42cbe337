// Helpers for the packing tests: a minimal zip writer, fake launcher images, temporary
// directories and a way to run the launcher-pack binary.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "../support/temp_dir.h"
#include "payload_format.h"

namespace launcher_pack::testing {

inline void Append(Bytes& out, const std::string& s) {
  out.insert(out.end(), s.begin(), s.end());
}
inline void Append(Bytes& out, const Bytes& b) {
  out.insert(out.end(), b.begin(), b.end());
}
inline void AppendLe(Bytes& out, std::uint32_t v, int n) {
  for (int i = 0; i < n; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline std::uint32_t Crc32(const std::string& data) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : data) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

// Raw deflate data, as a zip entry holds it: zlib's stream without its 2-byte header and
// 4-byte checksum.
inline std::string Deflate(const std::string& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
           static_cast<uLong>(data.size()));
  return out.substr(2, size - 6);
}

// A zip archive of stored (or, with deflated set, compressed) entries, with an optional archive
// comment.
inline Bytes MakeZip(const std::vector<std::pair<std::string, std::string>>& entries,
                     const std::string& comment = "", bool deflated = false) {
  Bytes zip, central;
  for (const auto& [name, plain] : entries) {
    const std::uint32_t offset = static_cast<std::uint32_t>(zip.size());
    const std::uint32_t crc = Crc32(plain);
    const std::string data = deflated ? Deflate(plain) : plain;
    const auto size = static_cast<std::uint32_t>(data.size());
    const auto plain_size = static_cast<std::uint32_t>(plain.size());
    const std::uint32_t method = deflated ? 8 : 0;
    AppendLe(zip, 0x04034b50, 4);
    AppendLe(zip, 20, 2), AppendLe(zip, 0, 2), AppendLe(zip, method, 2);  // version, flags
    AppendLe(zip, 0, 4);                                                  // time and date
    AppendLe(zip, crc, 4), AppendLe(zip, size, 4), AppendLe(zip, plain_size, 4);
    AppendLe(zip, static_cast<std::uint32_t>(name.size()), 2), AppendLe(zip, 0, 2);
    Append(zip, name), Append(zip, data);

    AppendLe(central, 0x02014b50, 4);
    AppendLe(central, 20, 2), AppendLe(central, 20, 2), AppendLe(central, 0, 2);
    AppendLe(central, method, 2), AppendLe(central, 0, 4);
    AppendLe(central, crc, 4), AppendLe(central, size, 4), AppendLe(central, plain_size, 4);
    AppendLe(central, static_cast<std::uint32_t>(name.size()), 2);
    AppendLe(central, 0, 2), AppendLe(central, 0, 2), AppendLe(central, 0, 2);
    AppendLe(central, 0, 2), AppendLe(central, 0, 4), AppendLe(central, offset, 4);
    Append(central, name);
  }
  const auto central_offset = static_cast<std::uint32_t>(zip.size());
  Append(zip, central);
  AppendLe(zip, 0x06054b50, 4);
  AppendLe(zip, 0, 2), AppendLe(zip, 0, 2);
  AppendLe(zip, static_cast<std::uint32_t>(entries.size()), 2);
  AppendLe(zip, static_cast<std::uint32_t>(entries.size()), 2);
  AppendLe(zip, static_cast<std::uint32_t>(central.size()), 4);
  AppendLe(zip, central_offset, 4);
  AppendLe(zip, static_cast<std::uint32_t>(comment.size()), 2);
  Append(zip, comment);
  return zip;
}

// A fake launcher image: filler, the size field marker, 8 placeholder bytes (0xAA), filler.
inline Bytes MakeImage(std::size_t before = 40, std::size_t after = 24) {
  Bytes image;
  for (std::size_t i = 0; i < before; ++i) image.push_back(static_cast<std::uint8_t>(i * 7 + 1));
  Append(image, kSizeFieldMarker);
  image.insert(image.end(), kSizeFieldLength, 0xAA);
  for (std::size_t i = 0; i < after; ++i) image.push_back(static_cast<std::uint8_t>(i * 3 + 2));
  return image;
}

// A fake launcher image that carries the version record of the given version.
inline Bytes MakeVersionedImage(const std::string& version) {
  Bytes image = MakeImage();
  Append(image, std::string(kVersionMarker) + version + '\0');
  Append(image, std::string(8, 'z'));
  return image;
}

inline void WriteBytes(const std::filesystem::path& path, const Bytes& data) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}
inline void WriteBytes(const std::filesystem::path& path, const std::string& data) {
  WriteBytes(path, Bytes(data.begin(), data.end()));
}
inline Bytes ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
// A sparse jar of the given size: zeros (no disk blocks) followed by an empty end record.
inline void WriteSparseJar(const std::filesystem::path& path, std::uintmax_t size) {
  const Bytes end_record = MakeZip({});
  WriteBytes(path, Bytes{});
  std::filesystem::resize_file(path, size - end_record.size());
  std::ofstream(path, std::ios::binary | std::ios::app)
      .write(reinterpret_cast<const char*>(end_record.data()),
             static_cast<std::streamsize>(end_record.size()));
}
inline std::string ReadText(const std::filesystem::path& path) {
  const Bytes b = ReadBytes(path);
  return std::string(b.begin(), b.end());
}

// A fresh directory removed with its contents when the object goes away.
using TempDir = test_support::TempDir;

struct ToolResult {
  int status = -1;
  std::string out, err;
};

// Starts the launcher-pack binary with its output going to the given files and SIGINT at its
// default action (a shell ignores it in background jobs).
inline pid_t StartTool(const std::vector<std::string>& args, const std::string& out_path,
                       const std::string& err_path, std::string program = LAUNCHER_PACK_BINARY) {
  std::vector<char*> argv;
  argv.push_back(program.data());
  std::vector<std::string> copies = args;
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGINT, SIG_DFL);
    const int out_fd = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err_fd = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out_fd, 1);
    ::dup2(err_fd, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

// Runs the launcher-pack binary (or a copy of it) with the given arguments; its output is
// captured via files.
inline ToolResult RunTool(const std::vector<std::string>& args,
                          const std::string& program = LAUNCHER_PACK_BINARY) {
  TempDir capture;
  const std::string out_path = capture / "out", err_path = capture / "err";
  const pid_t pid = StartTool(args, out_path, err_path, program);
  ToolResult result;
  int wstatus = 0;
  if (pid > 0 && ::waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus)) {
    result.status = WEXITSTATUS(wstatus);
  }
  result.out = ReadText(out_path);
  result.err = ReadText(err_path);
  return result;
}

}  // namespace launcher_pack::testing
