// Pack-time checks of the settings lines, so that mistakes show before an application ships.
#pragma once

#include <string>
#include <vector>

#include "payload_format.h"

namespace launcher_pack {

// Warnings about the settings: lines whose first word is no setting key (a typo such as
// "mainclas"), a missing `mainclass`, a `mainclass` that the jar does not contain, and
// `minjre`/`maxjre` values that do not start with a number (the launcher ignores those).
std::vector<std::string> CheckSettings(const std::vector<std::string>& lines, const Bytes& jar);

}  // namespace launcher_pack
