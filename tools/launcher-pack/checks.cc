#include "checks.h"

#include <cctype>
#include <cstdio>
#include <set>

#include "settings/setting_keys.h"

namespace launcher_pack {
namespace {

bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// JVM options whose value follows an '='; written with a space instead, as on a java command
// line, the JVM takes the whole line for an option it does not know.
const char* const kEqualsOptions[] = {"--add-opens",           "--add-exports",  "--add-modules",
                                      "--add-reads",           "--patch-module", "--module-path",
                                      "--enable-native-access"};

// What keeps an option value from reaching the JVM as meant, or "" when nothing does.
std::string OptionProblem(const std::string& value) {
  for (const std::string name : kEqualsOptions) {
    if (value.compare(0, name.size(), name) != 0) continue;
    const std::size_t rest = value.find_first_not_of(' ', name.size());
    if (rest == std::string::npos) {
      return "option '" + value + "' has no value; write " + name + "=VALUE in one line";
    }
    if (rest > name.size()) {
      return "option '" + value + "' is ignored by the JVM; write '" + name + "=" +
             value.substr(rest) + "'";
    }
  }
  if (value.find('#') != std::string::npos) {
    return "option '" + value +
           "' contains '#', but settings have no comments: the JVM receives the '#' and all after "
           "it";
  }
  return "";
}

}  // namespace

// Blanks, the key, then blanks, one '=' and blanks before the value.
bool SplitSettingsLine(const std::string& line, std::string* key, std::string* value) {
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

namespace {

// A byte order mark left inside the text, as when two files were joined: the launcher skips a
// line that starts with one and reads one anywhere else as part of the line.
std::string ByteOrderMarkProblem(const std::string& line) {
  const std::size_t at = line.find("\xEF\xBB\xBF");
  if (at == std::string::npos) return "";
  if (at == line.find_first_not_of(' ')) {
    return "starts with a byte order mark (U+FEFF), so the launcher ignores the line";
  }
  return "contains a byte order mark (U+FEFF), which the launcher reads as part of the line";
}

}  // namespace

bool HasSettingKey(const std::vector<std::string>& lines, const std::string& wanted) {
  std::string key, value;
  for (const std::string& line : lines) {
    if (SplitSettingsLine(line, &key, &value) && key == wanted) return true;
  }
  return false;
}

std::vector<std::string> CheckSettings(const std::vector<std::string>& lines,
                                       const std::set<std::string>& jar_entries) {
  std::vector<std::string> warnings;
  std::set<std::string> known;
  for (const SettingKeyInfo& info : kSettingKeys) known.insert(info.name);
  std::string mainClass;
  bool haveMainClass = false;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    const std::string where = "settings line " + std::to_string(n + 1) + ": ";
    const std::string bom = ByteOrderMarkProblem(lines[n]);
    if (!bom.empty()) warnings.push_back(where + bom);
    std::string key, value;
    if (!SplitSettingsLine(lines[n], &key, &value)) continue;
    if (!known.count(key)) {
      warnings.push_back(where + "'" + key + "' is not a setting key");
    } else if (key == "mainclass" && !haveMainClass) {
      haveMainClass = true;
      mainClass = value;
    } else if (key == "mainclass") {
      warnings.push_back(where + "a second mainclass line; the launcher uses the first, '" +
                         mainClass + "'");
    } else if (key == "option") {
      const std::string problem = OptionProblem(value);
      if (!problem.empty()) warnings.push_back(where + problem);
    } else if (key == "cds" && Lower(value) != "auto" && Lower(value) != "off") {
      warnings.push_back(where + "cds '" + value +
                         "' is neither auto nor off; the launcher leaves class-data sharing off");
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
    if (!jar_entries.count(entry)) {
      warnings.push_back("mainclass '" + mainClass + "' is not in the jar (no " + entry + ")");
    }
  }
  return warnings;
}

std::vector<std::string> CheckShippedRuntime(const std::vector<std::string>& lines) {
  // Single-valued keys: the first line counts. Each found value keeps its line number.
  std::pair<std::size_t, std::string> jre, jvmdll, order;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    std::string key, value;
    if (!SplitSettingsLine(lines[n], &key, &value)) continue;
    auto* slot = key == "jre"         ? &jre
                 : key == "jvmdll"    ? &jvmdll
                 : key == "jre_order" ? &order
                                      : nullptr;
    if (slot && slot->first == 0) *slot = {n + 1, value};
  }
  std::vector<std::string> warnings;
  auto where = [](std::size_t line) { return "settings line " + std::to_string(line) + ": "; };
  static const std::set<std::string> kBeside = {
      "jre", "jre/", "./jre", "./jre/", "%APPLICATION_HOME%jre", "%APPLICATION_HOME%jre/"};
  if (jre.first && !kBeside.count(jre.second)) {
    warnings.push_back(where(jre.first) + "jre '" + jre.second +
                       "' makes the launcher look there instead of in the runtime shipped "
                       "beside the executable (jre/)");
  }
  // The order as the launcher reads it: known letters, any case; none known means cbsie.
  std::string letters;
  for (char c : Lower(order.second)) {
    if (std::string("cbsie").find(c) != std::string::npos) letters += c;
  }
  const bool defaulted = letters.empty();
  if (defaulted) letters = "cbsie";
  const std::size_t b = letters.find('b');
  if (b == std::string::npos) {
    warnings.push_back(where(order.first) + "jre_order '" + order.second +
                       "' has no b, so the runtime shipped beside the executable is never used");
  } else {
    std::string before;
    for (char c : letters.substr(0, b)) {
      if (c != 'c') before += c;  // c finds nothing without jvmdll, told below
    }
    if (!before.empty() && !defaulted) {
      warnings.push_back(where(order.first) + "jre_order '" + order.second + "' tries " + before +
                         " before b, so a Java installed on the machine may be used instead of "
                         "the runtime shipped beside the executable");
    }
    if (jvmdll.first && letters.find('c') < b) {
      warnings.push_back(where(jvmdll.first) + "jvmdll '" + jvmdll.second +
                         "' is tried before the runtime shipped beside the executable");
    }
  }
  return warnings;
}

}  // namespace launcher_pack
