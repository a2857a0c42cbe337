// The key table is the one list of setting keys: the packer's checks take it, and the fuzz
// dictionary, the README's key list and the user guide's key table must agree with it.
#include "settings/setting_keys.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "checks.h"
#include "payload_format.h"

namespace {

std::string ReadSource(const char* relative) {
  std::ifstream in(std::string(LAUNCHER_SOURCE_DIR) + "/" + relative, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::set<std::string> TableKeys() {
  std::set<std::string> keys;
  for (const SettingKeyInfo& info : kSettingKeys) keys.insert(info.name);
  return keys;
}

TEST(SettingKeyTable, FuzzDictionaryAndReadmeNameEveryKey) {
  // The dictionary's keys are its quoted tokens from the "# Setting keys" comment to the next.
  const std::string dictionary = ReadSource("fuzz/settings.dict");
  std::istringstream lines(dictionary);
  std::set<std::string> keys;
  bool inKeys = false;
  for (std::string line; std::getline(lines, line);) {
    if (line[0] == '#') {
      inKeys = line.rfind("# Setting keys", 0) == 0;
    } else if (inKeys && line.size() > 2) {
      keys.insert(line.substr(1, line.size() - 2));
    }
  }
  EXPECT_EQ(keys, TableKeys());
  const std::string marker = launcher_pack::kSizeFieldMarker;
  EXPECT_NE(dictionary.find('"' + marker + '"'), std::string::npos);

  // The README's keys are the quoted words of "Settings are lines of a key and a value (...)".
  const std::string readme = ReadSource("README.md");
  const std::size_t start = readme.find("Settings are lines of a key and a value (");
  ASSERT_NE(start, std::string::npos);
  const std::size_t end = readme.find(')', start);
  keys.clear();
  for (std::size_t open = readme.find('`', start); open < end;) {
    const std::size_t close = readme.find('`', open + 1);
    keys.insert(readme.substr(open + 1, close - open - 1));
    open = readme.find('`', close + 1);
  }
  EXPECT_EQ(keys, TableKeys());
}

TEST(SettingKeyTable, UserGuideDescribesEveryKeyAsTheLauncherReadsIt) {
  // Section 2.1's rows: | `key` | default | kind | expanded | .cfg | meaning |
  std::map<std::string, std::vector<std::string>> rows;
  std::istringstream lines(ReadSource("docs/guide.md"));
  bool inSection = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("### ", 0) == 0) inSection = line.rfind("### 2.1 Keys", 0) == 0;
    if (!inSection || line.rfind("| `", 0) != 0) continue;
    std::vector<std::string> cells;
    std::istringstream row(line.substr(2));
    for (std::string cell; cells.size() < 5 && std::getline(row, cell, '|');) {
      cells.push_back(cell.substr(0, cell.size() - 1));  // the blank before each '|'
    }
    rows[cells[0].substr(1, cells[0].size() - 2)] = cells;
  }
  EXPECT_EQ(rows.size(), static_cast<std::size_t>(kSettingKeyCount));
  for (const SettingKeyInfo& info : kSettingKeys) {
    SCOPED_TRACE(info.name);
    ASSERT_EQ(rows.count(info.name), 1u);
    const std::vector<std::string>& cells = rows[info.name];
    EXPECT_EQ(cells[2].find(info.multiple ? " multi" : " single"), 0u) << cells[2];
    EXPECT_EQ(cells[3].find(info.expands ? " yes" : " no"), 0u) << cells[3];
    // The external file cannot set a packaged-only key, adds to a multiple one and overrides
    // a single one.
    const char* cfg = info.packagedOnly ? " **no**" : info.multiple ? " adds" : " overrides";
    EXPECT_EQ(cells[4].find(cfg), 0u) << cells[4];
  }
}

TEST(SettingKeyTable, PackerTakesEveryKeyAndWarnsAboutOtherWords) {
  std::vector<std::string> lines = {"mainclass a.B", "mainclas a.B", "options -Xmx1g"};
  for (const SettingKeyInfo& info : kSettingKeys) lines.push_back(std::string(info.name) + " x");
  std::vector<std::string> unknown;
  for (const std::string& warning : launcher_pack::CheckSettings(lines, {"a/B.class"})) {
    if (warning.find("is not a setting key") != std::string::npos) unknown.push_back(warning);
  }
  EXPECT_EQ(unknown, (std::vector<std::string>{"settings line 2: 'mainclas' is not a setting key",
                                               "settings line 3: 'options' is not a setting key"}));
}

}  // namespace
