#include "manifest.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "checks.h"

namespace launcher_pack {

namespace {

constexpr std::int32_t kLocalHeaderSignature = 0x04034b50;
constexpr std::int64_t kLocalHeaderLength = 30;
constexpr std::uint16_t kEncryptedFlag = 1;
constexpr std::size_t kMaxHeaderNameLength = 70;

bool Inflate(const Bytes& compressed, std::uint32_t size, std::string* text, std::string* error) {
  z_stream stream = {};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
    *error = "cannot start zlib";
    return false;
  }
  // One byte of room more than announced shows a stream that inflates to more.
  text->assign(static_cast<std::size_t>(size) + 1, '\0');
  stream.next_in = const_cast<Bytes::value_type*>(compressed.data());
  stream.avail_in = static_cast<uInt>(compressed.size());
  stream.next_out = reinterpret_cast<Bytef*>(text->data());
  stream.avail_out = static_cast<uInt>(text->size());
  const int status = inflate(&stream, Z_FINISH);
  const uLong produced = stream.total_out;
  inflateEnd(&stream);
  if (status != Z_STREAM_END || produced != size) {
    *error = "deflated data is corrupt";
    return false;
  }
  text->resize(size);
  return true;
}

bool IsHeaderNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::vector<std::string> SplitSpaces(const std::string& value) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while ((at = value.find_first_not_of(' ', at)) != std::string::npos) {
    const std::size_t end = std::min(value.find(' ', at), value.size());
    words.push_back(value.substr(at, end - at));
    at = end;
  }
  return words;
}

// The value of the named attribute; java keeps the last of repeated names.
const std::string* Find(const std::vector<ManifestAttribute>& attributes, const char* name) {
  const std::string* value = nullptr;
  for (const ManifestAttribute& attribute : attributes) {
    if (EqualsIgnoringCase(attribute.name, name)) value = &attribute.value;
  }
  return value;
}

bool IsModulePackage(const std::string& word) {
  const std::size_t slash = word.find('/');
  return slash != std::string::npos && slash > 0 && slash + 1 < word.size() &&
         word.find_first_of("/=,", slash + 1) == std::string::npos &&
         word.find_first_of("=,") == std::string::npos;
}

}  // namespace

bool ReadManifest(const ZipEntry& entry, std::int64_t jar_length, const ReadAtFunction& read_at,
                  std::string* text, std::string* error) {
  if (entry.flags & kEncryptedFlag) {
    *error = "encrypted";
    return false;
  }
  if (entry.method != 0 && entry.method != Z_DEFLATED) {
    *error = "compressed with method " + std::to_string(entry.method) +
             ", which launcher-pack cannot read";
    return false;
  }
  if (entry.size > kMaxManifestSize || entry.compressed_size > kMaxManifestSize) {
    *error = "larger than " + std::to_string(kMaxManifestSize >> 20) + " MiB";
    return false;
  }
  Bytes local;
  if (entry.local_header + kLocalHeaderLength > jar_length) {
    *error = "local header lies outside the jar";
    return false;
  }
  if (!read_at(entry.local_header, kLocalHeaderLength, &local)) {
    *error = "read error";
    return false;
  }
  if (ReadLe32(local.data()) != kLocalHeaderSignature) {
    *error = "no local header at offset " + std::to_string(entry.local_header);
    return false;
  }
  const std::int64_t data_pos = entry.local_header + kLocalHeaderLength +
                                ReadLe16(local.data() + 26) + ReadLe16(local.data() + 28);
  if (data_pos + entry.compressed_size > jar_length) {
    *error = "data runs past the end of the jar";
    return false;
  }
  Bytes data;
  if (!read_at(data_pos, entry.compressed_size, &data)) {
    *error = "read error";
    return false;
  }
  if (entry.method == 0) {
    if (entry.compressed_size != entry.size) {
      *error = "stored, but its two sizes differ";
      return false;
    }
    text->assign(data.begin(), data.end());
  } else if (!Inflate(data, entry.size, text, error)) {
    return false;
  }
  const uLong crc =
      crc32(0L, reinterpret_cast<const Bytef*>(text->data()), static_cast<uInt>(text->size()));
  if (crc != entry.crc) {
    *error = "CRC mismatch";
    return false;
  }
  return true;
}

MainSection ParseMainSection(const std::string& text) {
  MainSection section;
  std::size_t pos = 0;
  for (int number = 1; pos < text.size(); ++number) {
    const std::size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
    const std::string line = text.substr(pos, end - pos);
    const std::string where = "jar manifest line " + std::to_string(number) + ": ";
    if (end == text.size()) {
      // java reads a manifest line by line up to each line end.
      section.warnings.push_back(where + "'" + line + "' has no line end; java does not read it");
      break;
    }
    pos = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    if (line.empty()) break;  // the end of the main section
    if (line[0] == ' ') {
      if (section.attributes.empty()) {
        section.warnings.push_back(where +
                                   "a continuation line with no header before it; java "
                                   "refuses the manifest");
        section.attributes.clear();
        break;
      }
      section.attributes.back().value += line.substr(1);
      continue;
    }
    const std::size_t colon = line.find(':');
    const bool valid_name =
        colon != std::string::npos && colon > 0 && colon <= kMaxHeaderNameLength &&
        std::all_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(colon),
                    IsHeaderNameChar);
    if (!valid_name || line.compare(colon, 2, ": ") != 0) {
      section.warnings.push_back(where + "'" + line +
                                 "' is not a 'Name: value' header; java refuses the manifest");
      section.attributes.clear();
      break;
    }
    section.attributes.push_back({line.substr(0, colon), line.substr(colon + 2)});
  }
  return section;
}

ManifestSettings SettingsFromManifest(const std::vector<ManifestAttribute>& attributes,
                                      const std::vector<std::string>& settings_lines) {
  ManifestSettings result;
  bool have_main_class = false;
  std::set<std::string> options;
  for (const std::string& line : settings_lines) {
    std::string key, value;
    if (!SplitSettingsLine(line, &key, &value)) continue;
    have_main_class = have_main_class || key == "mainclass";
    if (key == "option") options.insert(value);
  }

  if (const std::string* value = Find(attributes, "Main-Class")) {
    const std::size_t first = value->find_first_not_of(' ');
    const std::string main_class =
        first == std::string::npos ? ""
                                   : value->substr(first, value->find_last_not_of(' ') + 1 - first);
    if (!main_class.empty() && !have_main_class) {
      result.lines.push_back("mainclass " + main_class);
      result.notes.push_back("mainclass " + main_class + " from the jar's manifest (Main-Class)");
    }
  }

  auto add_option = [&](const std::string& option, const char* attribute) {
    if (!options.insert(option).second) return;
    result.lines.push_back("option " + option);
    result.notes.push_back("option " + option + " from the jar's manifest (" + attribute + ")");
  };
  const std::pair<const char*, const char*> module_access[] = {{"Add-Opens", "--add-opens="},
                                                               {"Add-Exports", "--add-exports="}};
  for (const auto& [attribute, option] : module_access) {
    const std::string* value = Find(attributes, attribute);
    if (value == nullptr) continue;
    for (const std::string& word : SplitSpaces(*value)) {
      if (IsModulePackage(word)) {
        add_option(option + word + "=ALL-UNNAMED", attribute);
      } else {
        result.warnings.push_back("jar manifest " + std::string(attribute) + ": '" + word +
                                  "' is not module/package; no option added for it");
      }
    }
  }
  if (const std::string* value = Find(attributes, "Enable-Native-Access")) {
    std::string modules;
    for (const std::string& word : SplitSpaces(*value))
      modules += (modules.empty() ? "" : ",") + word;
    if (!modules.empty()) add_option("--enable-native-access=" + modules, "Enable-Native-Access");
  }

  if (const std::string* value = Find(attributes, "Class-Path")) {
    const std::vector<std::string> entries = SplitSpaces(*value);
    std::string listed;
    for (const std::string& entry : entries) {
      listed += " " + entry;
      if (entry.rfind('/', 0) == 0 || entry.rfind("file:/", 0) == 0) {
        result.warnings.push_back("jar manifest Class-Path entry '" + entry +
                                  "' is absolute: the packed application would load a jar from "
                                  "the packing machine's path");
      }
    }
    if (!entries.empty()) {
      result.notes.push_back(
          "jar manifest Class-Path (relative entries are found beside the packed executable):" +
          listed);
    }
  }
  return result;
}

}  // namespace launcher_pack
