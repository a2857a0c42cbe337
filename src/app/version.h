// The launcher's version, kept in the image as a record that launcher-pack can find.
#ifndef LAUNCHER_APP_VERSION_H_
#define LAUNCHER_APP_VERSION_H_

// "@@LAUNCHER-VERSION " followed by the version and a NUL, once in the image.
extern const char kVersionRecord[];

// The version text of the record.
const char* LauncherVersion();

#endif  // LAUNCHER_APP_VERSION_H_
