// The jar's manifest as `java -jar` reads it, and the settings lines that give a packed
// application what the JVM takes from a manifest only when it starts a jar itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jar_layout.h"

namespace launcher_pack {

// A manifest larger than this is not read.
inline constexpr std::uint32_t kMaxManifestSize = 64u << 20;

// Reads the data of the manifest's entry, stored or deflated, and checks its size and CRC.
// On failure sets *error, e.g. "compressed with method 12, which launcher-pack cannot read".
bool ReadManifest(const ZipEntry& entry, std::int64_t jar_length, const ReadAtFunction& read_at,
                  std::string* text, std::string* error);

struct ManifestAttribute {
  std::string name;
  std::string value;
};

struct MainSection {
  std::vector<ManifestAttribute> attributes;  // in text order, continuation lines joined
  std::vector<std::string> warnings;
};

// The main section: the headers up to the first empty line. Lines end with CR LF, LF or CR, and
// a line that starts with one space continues the previous value. A line that is no
// "Name: value" header makes java refuse the manifest, so it leaves no attributes; an
// unterminated last line is left out with a warning.
MainSection ParseMainSection(const std::string& text);

struct ManifestSettings {
  std::vector<std::string> lines;     // settings lines to append
  std::vector<std::string> notes;     // one line for each line added, one for Class-Path
  std::vector<std::string> warnings;  // values that cannot be converted, absolute Class-Path
};

// Main-Class becomes a mainclass line when settings_lines have none; Add-Opens, Add-Exports and
// Enable-Native-Access become the equivalent option lines, unless settings_lines hold them
// already. Class-Path entries are listed, and absolute ones draw a warning.
ManifestSettings SettingsFromManifest(const std::vector<ManifestAttribute>& attributes,
                                      const std::vector<std::string>& settings_lines);

}  // namespace launcher_pack
