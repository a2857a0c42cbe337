// The launcher images launcher-pack can pack, and where it finds the one of each target beside
// itself: in an installed tree, in its own build tree or in sibling build trees.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace launcher_pack {

struct Target {
  const char* name;       // as given to --target, e.g. "linux-x86_64"
  const char* image;      // file name of its launcher image
  const char* preset;     // the build preset (and build/ subdirectory) that builds that image
  const char* directory;  // its directory below lib/launcher/ and images/: the platform's name,
                          // shared by the console and the windowed Windows image
};

// Every target, in the order --list-targets and --version show them.
const std::vector<Target>& Targets();

// The target of that name, or nullptr.
const Target* FindTarget(const std::string& name);

// The target launcher-pack was built for, used when none is named.
const Target& DefaultTarget();

// launcher-pack's own version, the project's.
const char* PackVersion();

struct ImageSearch {
  std::optional<std::filesystem::path> found;
  std::vector<std::filesystem::path> looked_at;  // every candidate tried, in order
};

// Tries the places where target's image lies relative to tool_dir, the directory of a
// launcher-pack built for own_target, and returns the first that holds a readable regular file.
ImageSearch FindImage(const Target& target, const std::filesystem::path& tool_dir,
                      const Target& own_target = DefaultTarget());

// The directory of the running executable, symbolic links resolved; nullopt when it cannot be
// told, with *reason set.
std::optional<std::filesystem::path> OwnDirectory(std::string* reason);

}  // namespace launcher_pack
