// The launcher's version, kept in the image as a record that launcher-pack can find.
#ifndef LAUNCHER_APP_VERSION_H_
#define LAUNCHER_APP_VERSION_H_

// The version text of the image's version record.
const char* LauncherVersion();

#endif  // LAUNCHER_APP_VERSION_H_
