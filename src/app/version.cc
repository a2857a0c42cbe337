#include "app/version.h"

#include "settings/payload_layout.h"

#ifndef LAUNCHER_VERSION
#define LAUNCHER_VERSION "0.0.0"
#endif

using LauncherVersionRecord = decltype(payload_layout::MakeVersionRecord(LAUNCHER_VERSION));

// The version record that launcher-pack looks for in the image: the marker, the version and a
// NUL. It is the record's only definition, so the image holds the marker once; external linkage
// makes debug information refer to the record instead of holding a copy of its bytes.
extern __attribute__((used)) const LauncherVersionRecord kLauncherVersionRecord =
    payload_layout::MakeVersionRecord(LAUNCHER_VERSION);

const char* LauncherVersion() {
  return kLauncherVersionRecord.text + payload_layout::kVersionMarkerLength;
}
