#include "jvm/splash.h"

#include "platform/platform.h"
#include "runtime/runtime_search.h"
#include "settings/payload.h"
#include "settings/settings_loader.h"

namespace {
typedef int (*SplashInitProc)();
typedef int (*SplashLoadMemoryProc)(void* data, int size);
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
  return IsReadable(candidate.CStr()) ? candidate : MyCString();
}

void ShowSplash(const char* libraryPath, const char* exePath) {
  int trailerEnd = pldr ? pldr->trailerEnd : -1;
  PayloadView view(exePath);
  int offset = 0, length = 0;
  bool hasImage = trailerEnd >= 0 && view.SplashBlock(trailerEnd, &offset, &length);

  void* library = LibLoad(libraryPath);
  if (!library && hasImage && pldr) {
    // A current runtime's splash library needs the JVM library, which its own search path
    // cannot find; loading the JVM library first lets the second attempt succeed.
    MyCString jvm = FindJavaRuntime(pldr);
    if (!jvm.IsEmpty() && LibLoad(jvm.CStr())) library = LibLoad(libraryPath);
  }
  if (!library) return;
  SplashInitProc init = reinterpret_cast<SplashInitProc>(LibSymbol(library, "SplashInit"));
  SplashLoadMemoryProc load =
      reinterpret_cast<SplashLoadMemoryProc>(LibSymbol(library, "SplashLoadMemory"));
  if (!init || !load || !hasImage) return;
  init();
  load(const_cast<unsigned char*>(view.Bytes()) + offset, length);
}
