// Builds a packed executable: a copy of the launcher image with the archive size field filled
// in, followed by the payload (splash image, reserved block, settings text, gap, jar).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jar_layout.h"
#include "payload_format.h"
#include "windows_resources.h"

namespace launcher_pack {

struct PackInput {
  Bytes image;
  Bytes jar;
  std::vector<std::string> settings_lines;
  Bytes splash;         // empty when there is no splash image
  // What a Windows image gets in its resources (together with the splash image); when absent,
  // its resources stay as they are unless there is a splash image.
  std::optional<WindowsResources> windows = std::nullopt;
  Bytes runtime_block = {};  // the reserved block: empty, or a runtime (see runtime_block.h)
};

struct PackError {
  enum class Input { kImage, kJar, kSplash, kSettings, kOutput, kIcon } input;
  std::string what;
};

// A Windows launcher image (it starts with the "MZ" of an executable); its payload begins at
// the settings text, since its splash image travels as resource RT_RCDATA 100, written into
// the image together with the version information, the manifest and the icon.
bool IsWindowsImage(const Bytes& image);

// Assembles the packed file up to the jar, for a jar of the given layout (input.jar is not
// used). Refuses a packed file, jar included, of more than kMaxPackedSize bytes. A warning about
// the image (a dropped signature) goes to *warnings when given.
bool BuildPackedHead(const PackInput& input, const JarLayout& jar, Bytes* out, PackError* error,
                     std::vector<std::string>* warnings = nullptr);

// Assembles the packed file in memory.
bool BuildPackedImage(const PackInput& input, Bytes* out, PackError* error);

struct PackOptions {
  std::string launcher_path;
  std::string jar_path;
  std::optional<std::string> settings_path;
  std::vector<std::string> set_lines;  // appended after the settings file's lines
  std::optional<std::string> splash_path;
  std::optional<std::string> icon_path;  // Windows images only
  VersionInfo version_info;              // Windows images only
  std::string output_path;
  bool strict = false;  // turns the settings warnings into errors
  // Adds the line "cds auto" (automatic class-data sharing) to a Linux image's settings unless
  // they have a cds line.
  bool default_cds = true;
  // A runtime directory to ship; embed_runtime puts it into the executable (Linux images).
  std::optional<std::string> runtime_dir;
  bool embed_runtime = false;
  int runtime_level = 19;  // zstd compression level of an embedded runtime
  // A runtime ships as jre/ beside the executable: the settings are checked for lines that
  // would keep the launcher from using it (see CheckShippedRuntime).
  bool runtime_beside = false;
};

// Reads the inputs, builds the packed file and writes it with mode 0755; the jar is copied in
// chunks, never held in memory. On failure *error is one line naming the file and the problem,
// and no output file is left behind.
// The jar's manifest adds settings lines (see SettingsFromManifest); each addition, and the
// manifest's Class-Path, is described in *notes when given. The settings warnings (see
// CheckSettings) and those about the manifest go to *warnings when given.
bool PackFiles(const PackOptions& options, std::string* error,
               std::vector<std::string>* warnings = nullptr,
               std::vector<std::string>* notes = nullptr);

}  // namespace launcher_pack
