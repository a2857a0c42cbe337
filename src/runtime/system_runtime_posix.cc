// The Linux build's runtime discovery: the library directories probed in a runtime directory
// and the system runtime found through the `java` command on the search path.
#include <cstring>

#include "core/trace.h"
#include "platform/platform.h"
#include "runtime/library_probe.h"

#ifndef LAUNCHER_ARCH_DIR
#define LAUNCHER_ARCH_DIR "amd64"
#endif

// The classic layouts first; "lib/" and "../lib/" reach the server directory of a JDK 9 or
// later, whose library no longer sits below an architecture directory.
const char* const kRuntimeLibrarySuffixes[] = {
    "",
    LAUNCHER_ARCH_DIR "/",
    "lib/" LAUNCHER_ARCH_DIR "/",
    "jre/lib/" LAUNCHER_ARCH_DIR "/",
    "../lib/" LAUNCHER_ARCH_DIR "/",
    "../jre/lib/" LAUNCHER_ARCH_DIR "/",
    "lib/",
    "../lib/",
    nullptr,
};

namespace {

const int kJavaPathBuffer = 4096;
const int kMaxLinksFollowed = 40;

// Follows the symbolic links of path in place; false when a target does not fit the buffer or
// the chain is longer than the bound (a loop).
bool FollowLinks(char* path) {
  for (int followed = 0;; ++followed) {
    char target[kJavaPathBuffer];
    int n = ReadSymbolicLink(path, target, kJavaPathBuffer);
    if (n < 0) return true;
    if (n >= kJavaPathBuffer || followed == kMaxLinksFollowed) return false;
    if (target[0] == '/') {
      memcpy(path, target, static_cast<size_t>(n) + 1);
      continue;
    }
    // A relative target is taken from the directory that holds the link.
    char* slash = strrchr(path, '/');
    size_t directoryLength = slash ? static_cast<size_t>(slash - path) + 1 : 0;
    if (directoryLength + static_cast<size_t>(n) >= static_cast<size_t>(kJavaPathBuffer)) {
      return false;
    }
    memcpy(path + directoryLength, target, static_cast<size_t>(n) + 1);
  }
}

MyCString SystemRuntime(CSettingsLoader* loader) {
  char path[kJavaPathBuffer];
  // Without a java command there is no system runtime to find; probing "/" instead would load
  // whatever library another user left in a top-level directory such as /tmp.
  if (!FindProgramOnPath("java", path, kJavaPathBuffer)) {
    TRACE("runtime s: no java on PATH");
    return MyCString();
  }
  TRACE("runtime s: java on PATH: %s", path);
  MyCString command(path);
  if (!FollowLinks(path)) {
    TRACE("runtime s: too many or too long symbolic links from %s", command.CStr());
    return MyCString();
  }
  TRACE("runtime s: links resolved to %s", path);
  char* slash = strrchr(path, '/');
  if (slash) slash[1] = '\0';
  return ProbeRuntimeDirectory(loader, CStringRefT<char>(path));
}

}  // namespace

MyCString SearchPlatformRuntime(char letter, CSettingsLoader* loader) {
  if (letter == 's') return SystemRuntime(loader);
  return MyCString();
}
