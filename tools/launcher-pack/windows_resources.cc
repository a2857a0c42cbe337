#include "windows_resources.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <set>

namespace launcher_pack {

namespace {

// Each --version-info key and the version string it becomes.
struct VersionKey {
  const char* key;
  const char* string_name;
};
constexpr VersionKey kVersionKeys[] = {
    {"company", "CompanyName"},      {"description", "FileDescription"},
    {"file-version", "FileVersion"}, {"internal-name", "InternalName"},
    {"copyright", "LegalCopyright"}, {"original-filename", "OriginalFilename"},
    {"product-name", "ProductName"}, {"product-version", "ProductVersion"}};

constexpr std::size_t kMaxVersionValue = 1024;

constexpr std::uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// The application manifest of every packed executable: no elevation, the DPI of each monitor,
// and Windows Vista, 7, 8, 8.1 and 10 (whose identifier also stands for 11) as supported.
constexpr char kManifest[] = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">
    <security>
      <requestedPrivileges>
        <requestedExecutionLevel level="asInvoker" uiAccess="false"/>
      </requestedPrivileges>
    </security>
  </trustInfo>
  <compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1">
    <application>
      <supportedOS Id="{e2011457-1546-43c5-a5fe-008deee3d3f0}"/>
      <supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>
      <supportedOS Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"/>
      <supportedOS Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}"/>
      <supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>
    </application>
  </compatibility>
  <application xmlns="urn:schemas-microsoft-com:asm.v3">
    <windowsSettings>
      <dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true/pm</dpiAware>
      <dpiAwareness xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">PerMonitorV2, PerMonitor</dpiAwareness>
    </windowsSettings>
  </application>
</assembly>
)";

void Append16(Bytes& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Append32(Bytes& out, std::uint32_t v) {
  Append16(out, v & 0xFFFF);
  Append16(out, v >> 16);
}

// UTF-16 code units of UTF-8 text; a malformed byte becomes U+FFFD.
std::u16string Utf16(const std::string& text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<std::uint8_t>(text[i]);
    const std::size_t length = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
    std::string error;
    if (i + length > text.size() ||
        !CheckUtf8(reinterpret_cast<const std::uint8_t*>(text.data() + i), length, &error)) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    std::uint32_t cp = length == 1 ? b : b & (0xFF >> (length + 1));
    for (std::size_t k = 1; k < length; ++k) cp = (cp << 6) | (text[i + k] & 0x3F);
    if (cp >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += length;
  }
  return out;
}

void AppendUtf16z(Bytes& out, const std::u16string& text) {
  for (char16_t c : text) Append16(out, c);
  Append16(out, 0);
}

void Pad4(Bytes& out) {
  out.resize((out.size() + 3) & ~std::size_t{3}, 0);
}

// 1 to 4 numbers up to 65535 joined by dots, the missing ones 0.
bool ParseVersion(const std::string& text, std::array<std::uint16_t, 4>* parts) {
  *parts = {};
  std::size_t count = 0, at = 0;
  while (true) {
    std::size_t end = at;
    std::uint32_t value = 0;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9' && end - at < 6) {
      value = value * 10 + static_cast<std::uint32_t>(text[end++] - '0');
    }
    if (end == at || value > 0xFFFF || count == 4) return false;
    (*parts)[count++] = static_cast<std::uint16_t>(value);
    if (end == text.size()) return true;
    if (text[end] != '.') return false;
    at = end + 1;
  }
}

// One node of the version information: length, value length, type (1 for text), its key, the
// value and the children, each started on a 4-byte boundary. The length leaves out the padding
// after the last child.
Bytes VersionBlock(const std::string& key, const Bytes& value, std::uint32_t value_length,
                   bool text, const std::vector<Bytes>& children) {
  Bytes block(6, 0);
  AppendUtf16z(block, Utf16(key));
  Pad4(block);
  block.insert(block.end(), value.begin(), value.end());
  for (const Bytes& child : children) {
    Pad4(block);
    block.insert(block.end(), child.begin(), child.end());
  }
  block[0] = static_cast<std::uint8_t>(block.size());
  block[1] = static_cast<std::uint8_t>(block.size() >> 8);
  block[2] = static_cast<std::uint8_t>(value_length);
  block[3] = static_cast<std::uint8_t>(value_length >> 8);
  block[4] = text ? 1 : 0;
  return block;
}

std::string Stem(const std::string& output_name) {
  std::string stem = output_name;
  if (stem.size() > 4) {
    std::string suffix = stem.substr(stem.size() - 4);
    std::transform(suffix.begin(), suffix.end(), suffix.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (suffix == ".exe") stem.resize(stem.size() - 4);
  }
  return stem.empty() ? "application" : stem;
}

}  // namespace

const std::vector<std::string>& VersionInfoKeys() {
  static const std::vector<std::string> keys = [] {
    std::vector<std::string> k;
    for (const VersionKey& v : kVersionKeys) k.push_back(v.key);
    std::sort(k.begin(), k.end());
    return k;
  }();
  return keys;
}

bool AddVersionInfoField(const std::string& argument, VersionInfo* info, std::string* error) {
  const std::size_t eq = argument.find('=');
  const std::string key = argument.substr(0, eq);
  const auto& keys = VersionInfoKeys();
  if (eq == std::string::npos || std::find(keys.begin(), keys.end(), key) == keys.end()) {
    *error = "--version-info takes KEY=VALUE with KEY one of";
    for (const std::string& k : keys) *error += " " + k;
    return false;
  }
  const std::string value = argument.substr(eq + 1);
  std::string reason;
  std::array<std::uint16_t, 4> parts;
  if (info->count(key) != 0) {
    *error = "--version-info " + key + " given more than once";
  } else if (value.size() > kMaxVersionValue) {
    // Each node of the version information records its length in 16 bits.
    *error =
        "--version-info " + key + " is longer than " + std::to_string(kMaxVersionValue) + " bytes";
  } else if (!CheckUtf8(reinterpret_cast<const std::uint8_t*>(value.data()), value.size(),
                        &reason)) {
    *error = "--version-info " + key + ": " + reason;
  } else if (key.find("version") != std::string::npos && !ParseVersion(value, &parts)) {
    *error = "--version-info " + key + " '" + value +
             "' is not 1 to 4 numbers from 0 to 65535 joined by dots";
  } else {
    (*info)[key] = value;
    return true;
  }
  return false;
}

bool IconResources(const Bytes& ico, std::vector<Resource>* out, std::string* error) {
  auto fail = [&](const std::string& what) {
    *error = what;
    return false;
  };
  if (ico.size() < 6 || ReadLe16(ico.data()) != 0 || ReadLe16(ico.data() + 2) != 1) {
    return fail("not an icon file (no icon directory at its start)");
  }
  const std::size_t count = ReadLe16(ico.data() + 4);
  if (count == 0) return fail("the icon file holds no image");
  if (6 + 16 * count > ico.size()) return fail("the icon directory does not fit the file");
  // The group has the .ico directory's form, each 16-byte entry cut to 14 bytes: in place of
  // the image's 4-byte file offset, the 2-byte number of its RT_ICON resource.
  Bytes group{0, 0, 1, 0};
  Append16(group, static_cast<std::uint32_t>(count));
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* entry = ico.data() + 6 + 16 * i;
    const std::uint32_t size = static_cast<std::uint32_t>(ReadLe32(entry + 8));
    const std::uint32_t offset = static_cast<std::uint32_t>(ReadLe32(entry + 12));
    const std::string which = "icon image " + std::to_string(i + 1);
    if (size == 0 || offset > ico.size() || size > ico.size() - offset) {
      return fail(which + " lies outside the file");
    }
    const std::uint8_t* image = ico.data() + offset;
    const bool png = size >= sizeof kPngSignature &&
                     std::memcmp(image, kPngSignature, sizeof kPngSignature) == 0;
    const bool bitmap = size >= 40 && ReadLe32(image) >= 40 && ReadLe32(image) <= 124;
    if (!png && !bitmap) return fail(which + " is neither a PNG image nor a bitmap");
    const auto id = static_cast<std::uint16_t>(i + 1);
    out->push_back({kRtIcon, id, kResourceLanguage, Bytes(image, image + size)});
    group.insert(group.end(), entry, entry + 12);
    Append16(group, id);
  }
  out->push_back({kRtGroupIcon, 1, kResourceLanguage, group});
  return true;
}

Resource VersionResource(const VersionInfo& info, const std::string& output_name) {
  auto field = [&](const char* key) -> std::string {
    const auto found = info.find(key);
    return found == info.end() ? std::string() : found->second;
  };
  std::map<std::string, std::string> strings;  // by version string name
  for (const VersionKey& k : kVersionKeys) {
    if (!field(k.key).empty()) strings[k.string_name] = field(k.key);
  }
  const std::string stem = Stem(output_name);
  strings.emplace("ProductName", stem);
  strings.emplace("FileDescription", strings["ProductName"]);
  strings.emplace("InternalName", stem);
  strings.emplace("OriginalFilename", output_name.empty() ? stem + ".exe" : output_name);
  const std::string version =
      field("file-version").empty() ? field("product-version") : field("file-version");
  strings.emplace("FileVersion", version.empty() ? "1.0.0.0" : version);
  strings.emplace("ProductVersion", strings["FileVersion"]);

  std::array<std::uint16_t, 4> file{}, product{};
  ParseVersion(strings["FileVersion"], &file);
  ParseVersion(strings["ProductVersion"], &product);
  Bytes fixed;
  Append32(fixed, 0xFEEF04BD);  // signature
  Append32(fixed, 0x00010000);  // structure version 1.0
  Append32(fixed, std::uint32_t{file[0]} << 16 | file[1]);
  Append32(fixed, std::uint32_t{file[2]} << 16 | file[3]);
  Append32(fixed, std::uint32_t{product[0]} << 16 | product[1]);
  Append32(fixed, std::uint32_t{product[2]} << 16 | product[3]);
  Append32(fixed, 0x3F);     // every flag is meaningful ...
  Append32(fixed, 0);        // ... and none is set
  Append32(fixed, 0x40004);  // for Windows NT
  Append32(fixed, 1);        // an application
  Append32(fixed, 0);        // no subtype
  Append32(fixed, 0);        // no date
  Append32(fixed, 0);

  std::vector<Bytes> entries;
  for (const auto& [name, text] : strings) {
    const std::u16string value = Utf16(text);
    Bytes encoded;
    AppendUtf16z(encoded, value);
    // A string's value length counts its UTF-16 units, the NUL included.
    entries.push_back(
        VersionBlock(name, encoded, static_cast<std::uint32_t>(value.size() + 1), true, {}));
  }
  // The strings are in English (United States), code page 1200 (UTF-16).
  const Bytes table = VersionBlock("040904B0", {}, 0, true, entries);
  const Bytes string_info = VersionBlock("StringFileInfo", {}, 0, true, {table});
  Bytes translation;
  Append16(translation, kResourceLanguage);
  Append16(translation, 1200);
  const Bytes var = VersionBlock("Translation", translation, 4, false, {});
  const Bytes var_info = VersionBlock("VarFileInfo", {}, 0, true, {var});
  return {kRtVersion, 1, kResourceLanguage,
          VersionBlock("VS_VERSION_INFO", fixed, static_cast<std::uint32_t>(fixed.size()), false,
                       {string_info, var_info})};
}

Resource ManifestResource() {
  return {kRtManifest, 1, kResourceLanguage, Bytes(kManifest, kManifest + sizeof kManifest - 1)};
}

bool PackedResources(const WindowsResources& request, const Bytes& splash,
                     std::vector<Resource>* out, std::string* error) {
  out->clear();
  if (!request.icon.empty() && !IconResources(request.icon, out, error)) return false;
  if (!splash.empty()) out->push_back({kRtRcdata, kSplashResourceId, kResourceLanguage, splash});
  out->push_back(VersionResource(request.version, request.output_name));
  out->push_back(ManifestResource());
  return true;
}

bool ReplaceResources(const Bytes& image, const std::vector<Resource>& added, Bytes* out,
                      std::vector<std::string>* warnings, std::string* error) {
  PeImage pe;
  std::vector<Resource> resources;
  if (!ParsePeImage(image.data(), image.size(), &pe, error) ||
      !ReadResources(image.data(), image.size(), pe, &resources, error)) {
    return false;
  }
  // Types of which an added resource replaces every one; icons go with their groups.
  std::set<std::uint16_t> whole_types;
  for (const Resource& r : added) {
    if (r.type.named()) continue;
    if (r.type.id == kRtIcon || r.type.id == kRtGroupIcon) {
      whole_types.insert({kRtIcon, kRtGroupIcon});
    } else if (r.type.id == kRtVersion || r.type.id == kRtManifest) {
      whole_types.insert(r.type.id);
    }
  }
  const auto replaced = [&](const Resource& old) {
    if (!old.type.named() && whole_types.count(old.type.id) != 0) return true;
    return std::any_of(added.begin(), added.end(),
                       [&](const Resource& r) { return r.type == old.type && r.name == old.name; });
  };
  resources.erase(std::remove_if(resources.begin(), resources.end(), replaced), resources.end());
  resources.insert(resources.end(), added.begin(), added.end());
  std::uint64_t total = 0;
  for (const Resource& r : resources) total += r.data.size();
  if (total > static_cast<std::uint64_t>(kMaxPackedSize)) {
    *error = "its resources would take " + std::to_string(total) + " bytes";
    return false;
  }
  // The old tree stays where it is (a later section, such as .reloc, usually follows it); the
  // directory entry points at the new one.
  const Bytes tree = BuildResourceTree(std::move(resources), NextSectionAddress(pe));
  return AddSection(image, pe, ".rsrc2", tree, kResourceDirectory, out, warnings, error);
}

bool ListResources(const std::uint8_t* data, std::size_t size, std::vector<Resource>* out,
                   std::string* error) {
  PeImage pe;
  return ParsePeImage(data, size, &pe, error) && ReadResources(data, size, pe, out, error);
}

}  // namespace launcher_pack
