#include "targets.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <system_error>

namespace launcher_pack {

namespace {

const std::vector<Target> kTargets = {
    {"linux-x86_64", "launcher", "default", "linux-x86_64"},
    {"linux-i386", "launcher", "i386", "linux-i386"},
    {"windows-x86_64", "launcher-console.exe", "windows", "windows-x86_64"},
    {"windows-x86_64-gui", "launcher.exe", "windows", "windows-x86_64"},
};

struct Candidate {
  // Relative to launcher-pack's directory; {directory}, {image} and {preset} stand for the
  // fields of the target looked for.
  const char* pattern;
  bool own_target_only;  // the place only holds an image of the target launcher-pack is for
};

// Where an image may lie, in the order tried.
const Candidate kCandidates[] = {
    // Installed: <prefix>/bin/launcher-pack and <prefix>/lib/launcher/<directory>/<image>.
    {"../lib/launcher/{directory}/{image}", false},
    // The build tree launcher-pack was built in: <build>/tools/launcher-pack/launcher-pack.
    {"../../src/{image}", true},
    // A release build tree with one sub-build per target under images/.
    {"../../images/{directory}/src/{image}", false},
    // The build trees of the other presets beside this one: build/<preset>/.
    {"../../../{preset}/src/{image}", false},
};

std::string Expand(std::string pattern, const Target& target) {
  const std::pair<const char*, const char*> fields[] = {
      {"{directory}", target.directory}, {"{image}", target.image}, {"{preset}", target.preset}};
  for (const auto& [name, value] : fields) {
    for (std::size_t at; (at = pattern.find(name)) != std::string::npos;) {
      pattern.replace(at, std::strlen(name), value);
    }
  }
  return pattern;
}

bool IsReadableFile(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec) && ::access(path.c_str(), R_OK) == 0;
}

}  // namespace

const std::vector<Target>& Targets() {
  return kTargets;
}

const Target* FindTarget(const std::string& name) {
  for (const Target& target : kTargets) {
    if (name == target.name) return &target;
  }
  return nullptr;
}

const Target& DefaultTarget() {
  static const Target& target = *FindTarget(LAUNCHER_PACK_DEFAULT_TARGET);
  return target;
}

const char* PackVersion() {
  return LAUNCHER_PACK_VERSION;
}

ImageSearch FindImage(const Target& target, const std::filesystem::path& tool_dir,
                      const Target& own_target) {
  ImageSearch search;
  for (const Candidate& candidate : kCandidates) {
    if (candidate.own_target_only && std::strcmp(target.name, own_target.name) != 0) continue;
    const std::filesystem::path path =
        (tool_dir / Expand(candidate.pattern, target)).lexically_normal();
    // A preset's own tree is also its sibling trees' entry for it: try each place once.
    if (std::find(search.looked_at.begin(), search.looked_at.end(), path) !=
        search.looked_at.end()) {
      continue;
    }
    search.looked_at.push_back(path);
    if (IsReadableFile(path)) {
      search.found = path;
      break;
    }
  }
  return search;
}

std::optional<std::filesystem::path> OwnDirectory(std::string* reason) {
  std::error_code ec;
  // The kernel's link names the executable itself, whatever symbolic link started it.
  const std::filesystem::path self = std::filesystem::canonical("/proc/self/exe", ec);
  if (ec) {
    *reason = "cannot resolve /proc/self/exe: " + ec.message();
    return std::nullopt;
  }
  return self.parent_path();
}

}  // namespace launcher_pack
