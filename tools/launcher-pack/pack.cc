#include "pack.h"

#include <limits>

#include "checks.h"
#include "file_io.h"

namespace launcher_pack {

namespace {

constexpr std::int64_t kMaxBlock = std::numeric_limits<std::int32_t>::max();

std::string TooLarge(std::size_t size) {
  return "too large (" + std::to_string(size) + " bytes; sizes are stored as 32-bit values)";
}

}  // namespace

bool IsWindowsImage(const Bytes& image) {
  return image.size() >= 2 && image[0] == 'M' && image[1] == 'Z';
}

std::optional<std::int64_t> ArchiveSize(const Bytes& jar) {
  const auto eocd = FindEocd(jar.data(), jar.size());
  if (!eocd) return std::nullopt;
  return static_cast<std::int64_t>(*eocd + kEocdLength);
}

bool BuildPackedImage(const PackInput& input, Bytes* out, PackError* error) {
  using Input = PackError::Input;
  const MarkerSearch marker = FindSizeFieldMarker(input.image.data(), input.image.size());
  if (marker.count == 0) {
    *error = {Input::kImage, std::string("marker ") + kSizeFieldMarker + " not found"};
    return false;
  }
  if (marker.count > 1) {
    *error = {Input::kImage, std::string("marker ") + kSizeFieldMarker + " occurs more than once"};
    return false;
  }
  if (marker.offset + kSizeFieldMarkerLength + kSizeFieldLength > input.image.size()) {
    *error = {Input::kImage, std::string("marker ") + kSizeFieldMarker +
                                 " is not followed by an 8-byte archive size field"};
    return false;
  }
  const auto archive_size = ArchiveSize(input.jar);
  if (!archive_size) {
    *error = {Input::kJar, "no zip end-of-central-directory record found"};
    return false;
  }
  // The launcher reads the size field's low 32 bits as a signed value.
  if (*archive_size > kMaxBlock) {
    *error = {Input::kJar, TooLarge(input.jar.size())};
    return false;
  }
  const bool windows = IsWindowsImage(input.image);
  if (windows && !input.splash.empty()) {
    *error = {Input::kSplash,
              "a Windows launcher carries its splash image as resource RT_RCDATA 100, linked "
              "when the launcher is built (see docs/windows.md)"};
    return false;
  }
  if (static_cast<std::int64_t>(input.splash.size()) > kMaxBlock) {
    *error = {Input::kSplash, TooLarge(input.splash.size())};
    return false;
  }
  const Bytes settings = EncodeSettingsBlock(input.settings_lines);
  if (static_cast<std::int64_t>(settings.size()) > kMaxBlock) {
    *error = {Input::kSettings, TooLarge(settings.size())};
    return false;
  }

  out->clear();
  out->reserve(input.image.size() + input.splash.size() + settings.size() + input.jar.size() + 12 +
               kGapLength);
  out->insert(out->end(), input.image.begin(), input.image.end());
  WriteLe64(out->data() + marker.offset + kSizeFieldMarkerLength,
            static_cast<std::uint64_t>(*archive_size));
  if (!windows) {
    out->insert(out->end(), input.splash.begin(), input.splash.end());
    AppendLe32(*out, static_cast<std::int32_t>(input.splash.size()));
    AppendLe32(*out, 0);  // reserved block: always empty
  }
  out->insert(out->end(), settings.begin(), settings.end());
  AppendLe32(*out, static_cast<std::int32_t>(settings.size()));
  out->insert(out->end(), kGapLength, 0);
  out->insert(out->end(), input.jar.begin(), input.jar.end());
  return true;
}

bool PackFiles(const PackOptions& options, std::string* error, std::vector<std::string>* warnings) {
  PackInput input;
  std::string reason;
  auto cannot_read = [&](const char* kind, const std::string& path) {
    *error = std::string("cannot read ") + kind + " '" + path + "': " + reason;
    return false;
  };
  if (!ReadFile(options.launcher_path, &input.image, &reason)) {
    return cannot_read("launcher image", options.launcher_path);
  }
  if (!ReadFile(options.jar_path, &input.jar, &reason)) {
    return cannot_read("jar", options.jar_path);
  }
  if (options.splash_path && !ReadFile(*options.splash_path, &input.splash, &reason)) {
    return cannot_read("splash image", *options.splash_path);
  }
  if (options.settings_path) {
    Bytes raw;
    if (!ReadFile(*options.settings_path, &raw, &reason)) {
      return cannot_read("settings file", *options.settings_path);
    }
    std::string text;
    if (!DecodeSettingsText(raw, &text, &reason)) {
      *error = "settings file '" + *options.settings_path + "': " + reason;
      return false;
    }
    input.settings_lines = SplitLines(text);
  }
  input.settings_lines.insert(input.settings_lines.end(), options.set_lines.begin(),
                              options.set_lines.end());

  std::vector<std::string> found = CheckSettings(input.settings_lines, input.jar);
  if (warnings) *warnings = found;
  if (options.strict && !found.empty()) {
    *error = found.front() + " (--strict)";
    return false;
  }

  Bytes packed;
  PackError pack_error;
  if (!BuildPackedImage(input, &packed, &pack_error)) {
    switch (pack_error.input) {
      case PackError::Input::kImage:
        *error = "launcher image '" + options.launcher_path + "': ";
        break;
      case PackError::Input::kJar:
        *error = "jar '" + options.jar_path + "': ";
        break;
      case PackError::Input::kSplash:
        *error = "splash image '" + options.splash_path.value_or("") + "': ";
        break;
      case PackError::Input::kSettings:
        *error = "settings: ";
        break;
    }
    *error += pack_error.what;
    return false;
  }
  if (!WriteFileAtomically(options.output_path, packed, 0755, &reason)) {
    *error = "cannot write output '" + options.output_path + "': " + reason;
    return false;
  }
  return true;
}

}  // namespace launcher_pack
