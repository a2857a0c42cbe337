#include "pack.h"

#include <filesystem>
#include <limits>

#include "checks.h"
#include "file_io.h"
#include "manifest.h"
#include "runtime_block.h"

namespace launcher_pack {

namespace {

constexpr std::int64_t kMaxBlock = std::numeric_limits<std::int32_t>::max();

std::string TooLarge(std::int64_t size) {
  return "too large (" + std::to_string(size) + " bytes; sizes are stored as 32-bit values)";
}

// Finds the image's archive size field: the 8 bytes after its one marker.
bool FindSizeField(const Bytes& image, std::size_t* field, std::string* what) {
  const MarkerSearch marker = FindSizeFieldMarker(image.data(), image.size());
  *what = std::string("marker ") + kSizeFieldMarker;
  if (marker.count == 0) {
    *what += " not found";
  } else if (marker.count > 1) {
    *what += " occurs more than once";
  } else if (marker.offset + kSizeFieldMarkerLength + kSizeFieldLength > image.size()) {
    *what += " is not followed by an 8-byte archive size field";
  } else {
    *field = marker.offset + kSizeFieldMarkerLength;
    return true;
  }
  return false;
}

// Checks each block and the whole file against the signed 32-bit sizes the launcher reads.
bool CheckSizes(const PackInput& input, std::int64_t image_size, const JarLayout& jar,
                std::int64_t settings_size, PackError* error) {
  using Input = PackError::Input;
  const auto splash_size = static_cast<std::int64_t>(input.splash.size());
  if (*jar.archive_size > kMaxBlock) {
    *error = {Input::kJar, TooLarge(jar.length)};
  } else if (splash_size > kMaxBlock) {
    *error = {Input::kSplash, TooLarge(splash_size)};
  } else if (settings_size > kMaxBlock) {
    *error = {Input::kSettings, TooLarge(settings_size)};
  } else {
    const auto runtime_size = static_cast<std::int64_t>(input.runtime_block.size());
    const std::int64_t total =
        image_size +
        payload_layout::PayloadHeadLength(PayloadVariantOf(input.image), splash_size, runtime_size,
                                          settings_size) +
        jar.length;
    if (total <= kMaxPackedSize) return true;
    *error = {Input::kOutput, "would be " + std::to_string(total) +
                                  " bytes; a launcher reads files of at most " +
                                  std::to_string(kMaxPackedSize) + " bytes"};
  }
  return false;
}

}  // namespace

bool IsWindowsImage(const Bytes& image) {
  return PayloadVariantOf(image) == payload_layout::Variant::kWindows;
}

bool BuildPackedHead(const PackInput& input, const JarLayout& jar, Bytes* out, PackError* error,
                     std::vector<std::string>* warnings) {
  using Input = PackError::Input;
  std::size_t field = 0;
  if (!FindSizeField(input.image, &field, &error->what)) {
    error->input = Input::kImage;
    return false;
  }
  if (!jar.archive_size) {
    *error = {Input::kJar, "no zip end-of-central-directory record found"};
    return false;
  }
  const bool windows = IsWindowsImage(input.image);
  if (input.windows && !windows) {
    *error = {Input::kImage, "not a Windows image; --icon and --version-info are for Windows"};
    return false;
  }
  *out = input.image;
  // The launcher reads the size field's low 32 bits as a signed value.
  WriteLe64(out->data() + field, static_cast<std::uint64_t>(*jar.archive_size));
  // The resources go into a section after the image's own; no byte of the existing sections
  // moves, so the size field stays where the launcher's code finds it.
  if (windows && (input.windows || !input.splash.empty())) {
    std::vector<Resource> resources;
    if (!PackedResources(input.windows.value_or(WindowsResources{}), input.splash, &resources,
                         &error->what)) {
      error->input = Input::kIcon;
      return false;
    }
    Bytes with_resources;
    std::vector<std::string> ignored;
    if (!ReplaceResources(*out, resources, &with_resources, warnings ? warnings : &ignored,
                          &error->what)) {
      error->input = Input::kImage;
      return false;
    }
    *out = std::move(with_resources);
  }
  const Bytes settings = EncodeSettingsBlock(input.settings_lines);
  if (!CheckSizes(input, static_cast<std::int64_t>(out->size()), jar,
                  static_cast<std::int64_t>(settings.size()), error)) {
    return false;
  }
  if (!windows) {
    out->insert(out->end(), input.splash.begin(), input.splash.end());
    AppendLe32(*out, static_cast<std::int32_t>(input.splash.size()));
    // The reserved block carries the runtime, when there is one.
    out->insert(out->end(), input.runtime_block.begin(), input.runtime_block.end());
    AppendLe32(*out, static_cast<std::int32_t>(input.runtime_block.size()));
  }
  out->insert(out->end(), settings.begin(), settings.end());
  AppendLe32(*out, static_cast<std::int32_t>(settings.size()));
  out->insert(out->end(), kGapLength, 0);
  return true;
}

bool BuildPackedImage(const PackInput& input, Bytes* out, PackError* error) {
  if (!BuildPackedHead(input, JarLayoutOf(input.jar), out, error)) return false;
  out->insert(out->end(), input.jar.begin(), input.jar.end());
  return true;
}

namespace {

// The settings file's lines followed by the --set lines, each checked as UTF-8.
bool ReadSettingsLines(const PackOptions& options, std::vector<std::string>* lines,
                       std::string* error) {
  std::string reason;
  if (options.settings_path) {
    Bytes raw;
    std::string text;
    if (!ReadFile(*options.settings_path, &raw, &reason)) {
      *error = "cannot read settings file '" + *options.settings_path + "': " + reason;
      return false;
    }
    if (!DecodeSettingsText(raw, &text, &reason)) {
      *error = "settings file '" + *options.settings_path + "': " + reason;
      return false;
    }
    *lines = SplitLines(text);
  }
  for (std::size_t i = 0; i < options.set_lines.size(); ++i) {
    const std::string& line = options.set_lines[i];
    if (!CheckUtf8(reinterpret_cast<const std::uint8_t*>(line.data()), line.size(), &reason)) {
      *error = "--set value " + std::to_string(i + 1) + ": " + reason;
      return false;
    }
    lines->push_back(line);
  }
  return true;
}

// Reads every input but the jar into *input; the jar is opened and only its layout read.
bool ReadInputs(const PackOptions& options, PackInput* input, InputFile* jar, JarLayout* layout,
                std::string* error) {
  std::string reason;
  auto cannot_read = [&](const char* kind, const std::string& path) {
    *error = std::string("cannot read ") + kind + " '" + path + "': " + reason;
    return false;
  };
  if (!ReadFile(options.launcher_path, &input->image, &reason)) {
    return cannot_read("launcher image", options.launcher_path);
  }
  auto read_jar = [&](std::int64_t pos, std::size_t n, Bytes* out) {
    return jar->ReadAt(pos, n, out, &reason);
  };
  if (!jar->Open(options.jar_path, &reason) || !ReadJarLayout(jar->size(), read_jar, layout)) {
    return cannot_read("jar", options.jar_path);
  }
  if (options.splash_path && !ReadFile(*options.splash_path, &input->splash, &reason)) {
    return cannot_read("splash image", *options.splash_path);
  }
  // A Windows image always gets version information and a manifest.
  if (IsWindowsImage(input->image) || options.icon_path || !options.version_info.empty()) {
    input->windows = WindowsResources{
        {}, options.version_info, std::filesystem::path(options.output_path).filename().string()};
    if (options.icon_path && !ReadFile(*options.icon_path, &input->windows->icon, &reason)) {
      return cannot_read("icon", *options.icon_path);
    }
  }
  return ReadSettingsLines(options, &input->settings_lines, error);
}

std::string Describe(const PackError& error, const PackOptions& options) {
  switch (error.input) {
    case PackError::Input::kImage:
      return "launcher image '" + options.launcher_path + "': " + error.what;
    case PackError::Input::kJar:
      return "jar '" + options.jar_path + "': " + error.what;
    case PackError::Input::kSplash:
      return "splash image '" + options.splash_path.value_or("") + "': " + error.what;
    case PackError::Input::kSettings:
      return "settings: " + error.what;
    case PackError::Input::kIcon:
      return "icon '" + options.icon_path.value_or("") + "': " + error.what;
    case PackError::Input::kOutput:
      break;
  }
  return "output '" + options.output_path + "': " + error.what;
}

// Appends the settings lines the jar's manifest calls for to *lines.
void AddManifestSettings(const InputFile& jar, const JarLayout& layout,
                         std::vector<std::string>* lines, std::vector<std::string>* notes,
                         std::vector<std::string>* warnings) {
  if (!layout.manifest) return;
  std::string text, reason;
  const auto read_jar = [&](std::int64_t pos, std::size_t n, Bytes* out) {
    return jar.ReadAt(pos, n, out, &reason);
  };
  std::string problem;
  if (!ReadManifest(*layout.manifest, layout.length, read_jar, &text, &problem)) {
    warnings->push_back("jar manifest " + layout.manifest->name + ": " + problem +
                        (reason.empty() ? "" : " (" + reason + ")"));
    return;
  }
  MainSection section = ParseMainSection(text);
  ManifestSettings settings = SettingsFromManifest(section.attributes, *lines);
  lines->insert(lines->end(), settings.lines.begin(), settings.lines.end());
  *notes = std::move(settings.notes);
  warnings->insert(warnings->end(), section.warnings.begin(), section.warnings.end());
  warnings->insert(warnings->end(), settings.warnings.begin(), settings.warnings.end());
}

}  // namespace

bool PackFiles(const PackOptions& options, std::string* error, std::vector<std::string>* warnings,
               std::vector<std::string>* notes) {
  PackInput input;  // input.jar stays empty: the jar is copied from its file
  InputFile jar;
  JarLayout layout;
  if (!ReadInputs(options, &input, &jar, &layout, error)) return false;

  std::vector<std::string> added, manifest_warnings;
  AddManifestSettings(jar, layout, &input.settings_lines, &added, &manifest_warnings);
  // The Windows launcher cannot keep a private cache directory yet, so its images go without.
  if (options.default_cds && !IsWindowsImage(input.image) &&
      !HasSettingKey(input.settings_lines, "cds")) {
    input.settings_lines.push_back("cds auto");
  }
  std::vector<std::string> found = CheckSettings(input.settings_lines, layout.entries);
  if (options.runtime_beside) {
    const std::vector<std::string> shipped = CheckShippedRuntime(input.settings_lines);
    found.insert(found.end(), shipped.begin(), shipped.end());
  }
  found.insert(found.end(), manifest_warnings.begin(), manifest_warnings.end());
  if (warnings) *warnings = found;
  if (notes) *notes = added;
  if (options.strict && !found.empty()) {
    *error = found.front() + " (--strict)";
    return false;
  }

  if (options.embed_runtime) {
    if (!options.runtime_dir) {
      *error = "--embed-runtime needs a runtime (--runtime DIR)";
      return false;
    }
    if (IsWindowsImage(input.image)) {
      *error =
          "a runtime inside a Windows executable is not supported yet; ship it beside the "
          "executable";
      return false;
    }
    if (!BuildRuntimeBlock(*options.runtime_dir, options.runtime_level, &input.runtime_block,
                           error)) {
      return false;
    }
  }

  Bytes head;
  PackError pack_error;
  if (!BuildPackedHead(input, layout, &head, &pack_error, warnings ? warnings : &found)) {
    *error = Describe(pack_error, options);
    return false;
  }
  std::string reason;
  if (!WriteFileAtomically(options.output_path, head, &jar, 0755, &reason)) {
    *error = "cannot write output '" + options.output_path + "': " + reason;
    return false;
  }
  return true;
}

}  // namespace launcher_pack
