// Which operating system and processor a launcher image or a Java runtime is built for, so that
// launcher-pack can warn before it ships a runtime the launcher cannot load.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "payload_format.h"

namespace launcher_pack {

// The platform of an executable or shared library from its first bytes (an ELF or PE header),
// named like the targets: "linux-x86_64", "linux-i386", "windows-x86_64", "linux-aarch64"; other
// machines read e.g. "linux-machine-8". nullopt when the bytes are neither.
std::optional<std::string> BinaryPlatform(const Bytes& head);

struct RuntimePlatform {
  std::string platform;  // as BinaryPlatform names it
  std::string source;    // what told it, e.g. "lib/server/libjvm.so" or "release OS_ARCH"
};

// The platform of a runtime image: its JVM library's header (lib/server/libjvm.so or
// bin/server/jvm.dll) or, when that cannot be read, the OS_NAME and OS_ARCH of its release file.
std::optional<RuntimePlatform> PlatformOfRuntime(const std::filesystem::path& runtime);

// A warning when the runtime's platform is known and differs from the launcher image's; "" when
// they match or either is unknown.
std::string PlatformMismatchWarning(const std::filesystem::path& runtime, const Bytes& image,
                                    const std::string& image_path);

}  // namespace launcher_pack
