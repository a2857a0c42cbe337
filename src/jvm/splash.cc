#include "jvm/splash.h"

#include <jni.h>

#include "core/trace.h"
#include "platform/platform.h"
#include "runtime/runtime_search.h"
#include "settings/file_trust.h"
#include "settings/payload.h"
#include "settings/settings_loader.h"

namespace {

typedef int(JNICALL* SplashInitProc)();
typedef int(JNICALL* SplashLoadMemoryProc)(void* data, int size);

// The packaged image: a resource of the executable where the platform keeps it there (Windows),
// otherwise the payload's splash block.
struct SplashImage {
  const unsigned char* bytes;
  int length;
  PayloadView* view;  // the mapping the bytes belong to, released afterwards
};

bool OpenSplashImage(const char* exePath, SplashImage* image) {
  if (OpenSplashResource(&image->bytes, &image->length)) return true;
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
  image->view = view;
  return true;
}

void CloseSplashImage(SplashImage* image) {
  delete image->view;
  image->view = nullptr;
}

void* LoadSplashLibrary(const char* libraryPath, bool hasImage) {
  void* library = LoadSplashLibraryFile(libraryPath);
  if (!library && hasImage && pldr) {
    // A splash library that lists the JVM library as a dependency its own search path cannot
    // find loads once the JVM library is loaded.
    MyCString jvm = FindJavaRuntime(pldr);
    if (!jvm.IsEmpty() && LibLoad(jvm.CStr())) library = LoadSplashLibraryFile(libraryPath);
  }
  return library;
}

}  // namespace

MyCString FindSplashLibrary(CSettingsLoader* loader) {
  MyCString library = FindJavaRuntime(loader);
  if (library.IsEmpty()) return MyCString();
  const char* s = library.CStr();
  int cut = 0;
  for (int i = 0; s[i]; ++i) {
    if (s[i] == '/' || s[i] == '\\') cut = i + 1;
  }
  MyCString candidate(s, cut);
  candidate.AppendStr("../");
  candidate.AppendStr(kSplashLibraryName);
  if (!IsReadable(candidate.CStr())) {
    TRACE("splash library: %s not readable", candidate.CStr());
    return MyCString();
  }
  if (!IsTrustedFile(candidate)) return MyCString();
  TRACE("splash library: %s", candidate.CStr());
  return candidate;
}

void ShowSplash(const char* libraryPath, const char* exePath) {
  SplashImage image = {nullptr, 0, nullptr};
  bool hasImage = OpenSplashImage(exePath, &image);
  void* library = LoadSplashLibrary(libraryPath, hasImage);
  SplashInitProc init =
      library ? reinterpret_cast<SplashInitProc>(LibSymbol(library, "SplashInit")) : nullptr;
  SplashLoadMemoryProc load =
      library ? reinterpret_cast<SplashLoadMemoryProc>(LibSymbol(library, "SplashLoadMemory"))
              : nullptr;
  TRACE("splash: image %s, library %s", hasImage ? "present" : "absent",
        library ? "loaded" : "not loaded");
  if (init && load && hasImage) {
    init();
    load(const_cast<unsigned char*>(image.bytes), image.length);
  }
  CloseSplashImage(&image);
}
