#include "checks.h"

#include <cctype>
#include <cstdio>
#include <set>

namespace launcher_pack {
namespace {

const char* const kKeys[] = {"mainclass", "classpath",      "libs",           "option",
                             "property",  "export",         "argv",           "minjre",
                             "maxjre",    "jre_order",      "jvmdll",         "jre",
                             "vm",        "message",        "forcecwd",       "stdout",
                             "stderr",    "singleinstance", "disableexternal"};

bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Splits a line the way the launcher reads it: blanks, the key, then blanks, one '=' and
// blanks before the value.
bool SplitLine(const std::string& line, std::string* key, std::string* value) {
  std::size_t i = line.find_first_not_of(' ');
  if (i == std::string::npos) return false;
  std::size_t end = i;
  while (end < line.size() && IsNameChar(line[end])) ++end;
  if (end == i) return false;  // no word: a comment or punctuation, never matched
  *key = Lower(line.substr(i, end - i));
  while (end < line.size() && line[end] == ' ') ++end;
  if (end < line.size() && line[end] == '=') {
    ++end;
    while (end < line.size() && line[end] == ' ') ++end;
  }
  *value = line.substr(end);
  return true;
}

// The names of the jar's entries, from its central directory.
std::set<std::string> EntryNames(const Bytes& jar) {
  std::set<std::string> names;
  auto eocd = FindEocd(jar.data(), jar.size());
  if (!eocd) return names;
  std::size_t pos = static_cast<std::uint32_t>(ReadLe32(jar.data() + *eocd + 16));
  int count = ReadLe16(jar.data() + *eocd + 10);
  for (int i = 0; i < count && pos + 46 <= jar.size(); ++i) {
    const std::uint8_t* p = jar.data() + pos;
    if (ReadLe32(p) != 0x02014b50) break;
    std::size_t nameLength = ReadLe16(p + 28);
    std::size_t next = pos + 46 + nameLength + ReadLe16(p + 30) + ReadLe16(p + 32);
    if (pos + 46 + nameLength > jar.size()) break;
    names.insert(std::string(reinterpret_cast<const char*>(p + 46), nameLength));
    pos = next;
  }
  return names;
}

}  // namespace

std::vector<std::string> CheckSettings(const std::vector<std::string>& lines, const Bytes& jar) {
  std::vector<std::string> warnings;
  const std::set<std::string> known(std::begin(kKeys), std::end(kKeys));
  std::string mainClass;
  bool haveMainClass = false;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    std::string key, value;
    if (!SplitLine(lines[n], &key, &value)) continue;
    const std::string where = "settings line " + std::to_string(n + 1) + ": ";
    if (!known.count(key)) {
      warnings.push_back(where + "'" + key + "' is not a setting key");
    } else if (key == "mainclass" && !haveMainClass) {
      haveMainClass = true;
      mainClass = value;
    } else if (key == "minjre" || key == "maxjre") {
      int number;
      if (std::sscanf(value.c_str(), "%d", &number) != 1) {
        warnings.push_back(where + key + " '" + value +
                           "' does not start with a number and sets no bound");
      }
    }
  }
  if (!haveMainClass || mainClass.empty()) {
    warnings.push_back("no mainclass setting: the application cannot start");
  } else {
    std::string entry = mainClass;
    for (char& c : entry) {
      if (c == '.') c = '/';
    }
    entry += ".class";
    if (!EntryNames(jar).count(entry)) {
      warnings.push_back("mainclass '" + mainClass + "' is not in the jar (no " + entry + ")");
    }
  }
  return warnings;
}

}  // namespace launcher_pack
