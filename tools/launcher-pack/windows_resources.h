// The resources launcher-pack gives a packed Windows executable: its icon, version information,
// application manifest and splash image, written into a copy of the launcher image.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "pe_resources.h"

namespace launcher_pack {

// The language of the resources launcher-pack writes: English (United States).
inline constexpr std::uint16_t kResourceLanguage = 0x0409;
// The number of the splash image resource, which the Windows launcher loads as RT_RCDATA.
inline constexpr std::uint16_t kSplashResourceId = 100;

// Version information fields by --version-info key, e.g. "product-name".
using VersionInfo = std::map<std::string, std::string>;

// The keys --version-info takes.
const std::vector<std::string>& VersionInfoKeys();

// Adds one --version-info KEY=VALUE; false with *error for an unknown or repeated key, a value
// that is not UTF-8 or longer than 1024 bytes, or a version that is not 1 to 4 numbers up to
// 65535 joined by dots.
bool AddVersionInfoField(const std::string& argument, VersionInfo* info, std::string* error);

struct WindowsResources {
  Bytes icon;  // an .ico file; empty keeps the image's own icons
  VersionInfo version;
  std::string output_name;  // the packed file's name, e.g. "myapp.exe", for the defaults
};

// Each image of the .ico file as RT_ICON 1..n, and RT_GROUP_ICON 1 listing them by number;
// false with *error when ico is no icon file or an image lies outside it.
bool IconResources(const Bytes& ico, std::vector<Resource>* out, std::string* error);

// RT_VERSION 1 with the fixed version numbers and the strings of info; the fields not given
// come from the output name (product and internal name, original file name, description) or
// from each other (the two versions), else 1.0.0.0.
Resource VersionResource(const VersionInfo& info, const std::string& output_name);

// RT_MANIFEST 1: per-monitor DPI awareness, the supported Windows versions and no elevation.
Resource ManifestResource();

// The resources of a packed executable: the icon when given, the splash image when not empty,
// version information and the manifest. False with *error when the icon cannot be used.
bool PackedResources(const WindowsResources& request, const Bytes& splash,
                     std::vector<Resource>* out, std::string* error);

// Copies a Windows image with `added` in its resources, in a section of its own that the
// resource directory then points at. Every existing resource stays unless an added one
// replaces it: one of the same type and name (in every language), and every icon and icon
// group when an icon is added, every version resource and every manifest likewise.
bool ReplaceResources(const Bytes& image, const std::vector<Resource>& added, Bytes* out,
                      std::vector<std::string>* warnings, std::string* error);

// Every resource of the PE image in the size bytes at data.
bool ListResources(const std::uint8_t* data, std::size_t size, std::vector<Resource>* out,
                   std::string* error);

}  // namespace launcher_pack
