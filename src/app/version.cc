#include "app/version.h"

#ifndef LAUNCHER_VERSION
#define LAUNCHER_VERSION "0.0.0"
#endif

const char kVersionRecord[] = "@@LAUNCHER-VERSION " LAUNCHER_VERSION;

const char* LauncherVersion() {
  return kVersionRecord + sizeof("@@LAUNCHER-VERSION ") - 1;
}
