// The Linux build keeps no resources in its executable: messages come from the launcher's own
// table, the splash image from the payload, and setting values know no registry.
#include "platform/platform.h"

const bool kMessagesAreResources = false;

MyCString MessageResourceText(unsigned long) {
  return MyCString();
}

bool OpenSplashResource(const unsigned char**, int*) {
  return false;
}

void* LoadSplashLibraryFile(const char* path) {
  return LibLoad(path);
}

const char* ResolvePlatformReference(const char*) {
  return nullptr;
}
