// The Linux splash image is the first block of the payload; the splash library of a current
// runtime needs the JVM library loaded first.
#include "jvm/splash.h"
#include "platform/platform.h"
#include "runtime/runtime_search.h"
#include "settings/payload.h"
#include "settings/settings_loader.h"

bool OpenSplashImage(const char* exePath, SplashImage* image) {
  int trailerEnd = pldr ? pldr->trailerEnd : -1;
  if (trailerEnd < 0) return false;
  PayloadView* view = new PayloadView(exePath);
  int offset = 0, length = 0;
  if (!view->SplashBlock(trailerEnd, &offset, &length)) {
    delete view;
    return false;
  }
  image->bytes = view->Bytes() + offset;
  image->length = length;
  image->owner = view;
  return true;
}

void CloseSplashImage(SplashImage* image) {
  delete static_cast<PayloadView*>(image->owner);
  image->owner = nullptr;
}

void* LoadSplashLibrary(const char* libraryPath, bool hasImage) {
  void* library = LibLoad(libraryPath);
  if (!library && hasImage && pldr) {
    // The library lists the JVM library as a dependency that its own search path cannot find;
    // once the JVM library is loaded, the second attempt succeeds.
    MyCString jvm = FindJavaRuntime(pldr);
    if (!jvm.IsEmpty() && LibLoad(jvm.CStr())) library = LibLoad(libraryPath);
  }
  return library;
}
