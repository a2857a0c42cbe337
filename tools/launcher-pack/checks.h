// Pack-time checks of the settings lines, so that mistakes show before an application ships.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace launcher_pack {

// Warnings about the settings: lines whose first word is no setting key (a typo such as
// "mainclas"), a byte order mark inside a line, a missing `mainclass`, a `mainclass` that is not
// among the jar's entries, and `minjre`/`maxjre` values that do not start with a number (the
// launcher ignores those).
std::vector<std::string> CheckSettings(const std::vector<std::string>& lines,
                                       const std::set<std::string>& jar_entries);

}  // namespace launcher_pack
