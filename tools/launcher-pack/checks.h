// Pack-time checks of the settings lines, so that mistakes show before an application ships.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace launcher_pack {

// Splits a settings line the way the launcher reads it into its key, in lower case, and its
// value; false for a line that starts with no word (a comment or punctuation, never matched).
bool SplitSettingsLine(const std::string& line, std::string* key, std::string* value);

// Whether a line of the settings has the key (in lower case).
bool HasSettingKey(const std::vector<std::string>& lines, const std::string& key);

// Warnings about the settings: lines whose first word is no setting key (a typo such as
// "mainclas"), a byte order mark inside a line, a missing `mainclass`, a `mainclass` that is not
// among the jar's entries, a second `mainclass` line (the launcher takes the first),
// `minjre`/`maxjre` values that do not start with a number (the launcher ignores those), a `cds`
// value other than `auto` or `off`, and
// `option` values that do not reach the JVM as meant: one holding '#' (settings have no
// comments) and a module option such as `--add-opens` followed by a space instead of '='.
std::vector<std::string> CheckSettings(const std::vector<std::string>& lines,
                                       const std::set<std::string>& jar_entries);

// Warnings when the settings keep the launcher from taking the runtime shipped as jre/ beside the
// executable: a `jre` setting naming another directory, a `jre_order` without `b` or with other
// strategies before it, and a `jvmdll` that `c` tries first.
std::vector<std::string> CheckShippedRuntime(const std::vector<std::string>& lines);

}  // namespace launcher_pack
