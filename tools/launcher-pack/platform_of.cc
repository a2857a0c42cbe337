#include "platform_of.h"

#include <fstream>
#include <utility>

namespace launcher_pack {

namespace {

constexpr std::size_t kHeadBytes = 4096;

unsigned Le16(const Bytes& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8);
}
std::uint32_t Le32(const Bytes& b, std::size_t at) {
  return Le16(b, at) | (static_cast<std::uint32_t>(Le16(b, at + 2)) << 16);
}

// The processor names of ELF's e_machine and of the PE file header's Machine field.
struct Machine {
  unsigned elf, pe;
  const char* name;
};
constexpr Machine kMachines[] = {
    {3, 0x14c, "i386"}, {62, 0x8664, "x86_64"}, {183, 0xaa64, "aarch64"}};

std::string PlatformName(const char* os, unsigned machine, bool pe) {
  for (const Machine& m : kMachines) {
    if ((pe ? m.pe : m.elf) == machine) return std::string(os) + "-" + m.name;
  }
  return std::string(os) + "-machine-" + std::to_string(machine);
}

Bytes ReadHead(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  Bytes head(kHeadBytes);
  in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  return head;
}

// The value of KEY="VALUE" in a runtime's release file, or "".
std::string ReleaseValue(const std::filesystem::path& release, const std::string& key) {
  std::ifstream in(release);
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, key.size() + 1, key + "=") != 0) continue;
    std::string value = line.substr(key.size() + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    return value;
  }
  return "";
}

std::optional<std::string> PlatformFromRelease(const std::filesystem::path& release) {
  const std::string os = ReleaseValue(release, "OS_NAME");
  std::string arch = ReleaseValue(release, "OS_ARCH");
  if (os.empty() || arch.empty()) return std::nullopt;
  if (arch == "amd64") arch = "x86_64";
  if (arch == "x86" || arch == "i586" || arch == "i686") arch = "i386";
  std::string name = os.rfind("Windows", 0) == 0 ? "windows" : os == "Linux" ? "linux" : os;
  return name + "-" + arch;
}

}  // namespace

std::optional<std::string> BinaryPlatform(const Bytes& head) {
  if (head.size() >= 20 && head[0] == 0x7f && head[1] == 'E' && head[2] == 'L' && head[3] == 'F') {
    // e_machine is stored in the file's byte order; all machines named here are little-endian.
    const unsigned machine = head[5] == 2 ? (head[18] << 8 | head[19]) : Le16(head, 18);
    return PlatformName("linux", machine, false);
  }
  if (head.size() >= 0x40 && head[0] == 'M' && head[1] == 'Z') {
    const std::uint32_t pe = Le32(head, 0x3c);
    if (pe <= head.size() - 6 && head[pe] == 'P' && head[pe + 1] == 'E' && head[pe + 2] == 0 &&
        head[pe + 3] == 0) {
      return PlatformName("windows", Le16(head, pe + 4), true);
    }
  }
  return std::nullopt;
}

std::optional<RuntimePlatform> PlatformOfRuntime(const std::filesystem::path& runtime) {
  for (const char* library : {"lib/server/libjvm.so", "bin/server/jvm.dll"}) {
    if (std::optional<std::string> platform = BinaryPlatform(ReadHead(runtime / library))) {
      return RuntimePlatform{*platform, library};
    }
  }
  if (std::optional<std::string> platform = PlatformFromRelease(runtime / "release")) {
    return RuntimePlatform{*platform, "release OS_NAME and OS_ARCH"};
  }
  return std::nullopt;
}

std::string PlatformMismatchWarning(const std::filesystem::path& runtime, const Bytes& image,
                                    const std::string& image_path) {
  const std::optional<std::string> image_platform = BinaryPlatform(image);
  const std::optional<RuntimePlatform> runtime_platform = PlatformOfRuntime(runtime);
  if (!image_platform || !runtime_platform || *image_platform == runtime_platform->platform) {
    return "";
  }
  return "runtime '" + runtime.string() + "' is for " + runtime_platform->platform + " (" +
         runtime_platform->source + ") but launcher image '" + image_path + "' is for " +
         *image_platform + ": the launcher cannot load that runtime";
}

}  // namespace launcher_pack
