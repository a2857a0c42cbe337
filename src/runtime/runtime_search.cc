#include "runtime/runtime_search.h"

#include <cstdlib>
#include <cstring>

#include "core/trace.h"
#include "platform/platform.h"
#include "runtime/embedded_runtime.h"
#include "runtime/library_probe.h"
#include "settings/file_trust.h"
#include "settings/settings_loader.h"

namespace {

// "-" before the first search; afterwards the library path or empty.
MyCString& KeptResult() {
  static MyCString result("-");
  return result;
}

MyCString CustomLibrary(CSettingsLoader* loader) {
  MyCString value = loader->GetValue(SettingKey::kJvmDll);
  if (value.IsEmpty()) {
    TRACE("runtime c: no jvmdll setting");
    return MyCString();
  }
  MyCString resolved = loader->ResolvePath(value);
  if (!IsReadable(resolved.CStr())) {
    TRACE("runtime c: jvmdll %s is not readable", resolved.CStr());
    return MyCString();
  }
  return IsTrustedFile(resolved) ? resolved : MyCString();
}

// With no jre setting, a runtime the executable carries comes first; when it cannot be unpacked,
// stop is set so that no other runtime stands in for it.
MyCString ApplicationRuntime(CSettingsLoader* loader, bool* stop) {
  MyCString value = loader->GetValue(SettingKey::kJre);
  if (!value.IsEmpty()) return ProbeRuntimeDirectory(loader, loader->ResolvePath(value));
  bool carried = false;
  MyCString unpacked = EmbeddedRuntimeDirectory(loader, &carried);
  if (carried) {
    *stop = unpacked.IsEmpty();
    if (*stop) return unpacked;
    unpacked.AppendOne('/');
    return ProbeRuntimeDirectory(loader, unpacked);
  }
  // The default runtime lies beside the executable, whatever the working directory.
  MyCString beside(loader->appHome);
  beside.AppendStr("./jre/");
  return ProbeRuntimeDirectory(loader, beside);
}

MyCString EnvironmentRuntime(CSettingsLoader* loader) {
  static const char* const kVariables[] = {"JRE_HOME", "JAVA_HOME"};
  for (const char* name : kVariables) {
    const char* value = getenv(name);
    if (!value || !*value) {
      TRACE("runtime e: %s is not set", name);
      continue;
    }
    TRACE("runtime e: %s=%s", name, value);
    MyCString found = ProbeRuntimeDirectory(loader, CStringRefT<char>(value));
    if (!found.IsEmpty()) return found;
  }
  return MyCString();
}

MyCString RunStrategy(char letter, CSettingsLoader* loader, bool* stop) {
  switch (letter) {
    case 'c':
      return CustomLibrary(loader);
    case 'b':
      return ApplicationRuntime(loader, stop);
    case 'e':
      return EnvironmentRuntime(loader);
    case 's':
    case 'i':
      return SearchPlatformRuntime(letter, loader);
    default:
      return MyCString();
  }
}

MyCString SearchOrder(CSettingsLoader* loader) {
  MyCString order = loader->GetValue(SettingKey::kJreOrder);
  char* s = order.GetBuffer();
  bool known = false;
  for (int i = 0; i < order.GetLength(); ++i) {
    if (s[i] >= 'A' && s[i] <= 'Z') s[i] = static_cast<char>(s[i] - 'A' + 'a');
    if (s[i] && strchr("cbsie", s[i])) known = true;
  }
  if (!known) order = "cbsie";
  return order;
}

}  // namespace

MyCString FindJavaRuntime(CSettingsLoader* loader) {
  MyCString& kept = KeptResult();
  if (!kept.Equals("-")) return kept;
  MyCString order = SearchOrder(loader);
  TRACE("runtime search order: %s", order.CStr());
  for (int i = 0; i < order.GetLength(); ++i) {
    TRACE("runtime strategy %c", order.CStr()[i]);
    bool stop = false;
    MyCString found = RunStrategy(order.CStr()[i], loader, &stop);
    if (stop) break;
    if (!found.IsEmpty()) {
      TRACE("runtime found: %s", found.CStr());
      kept = found;
      return kept;
    }
  }
  TRACE("runtime: no strategy found a JVM library");
  kept = "";
  return kept;
}

void ResetJavaRuntimeSearchForTesting() {
  KeptResult() = "-";
}
