// Subsystem of the Windows build that reads the registry: runtime discovery through the
// JavaSoft and IBM keys, and registry references inside setting values.
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "runtime/library_probe.h"
#include "runtime/runtime_search.h"
#include "settings/expand.h"
#include "settings/settings_loader.h"

const char* const kRuntimeLibrarySuffixes[] = {"", "bin\\", "jre\\bin\\", "..\\jre\\bin\\",
                                               nullptr};

namespace {

const int kValueBuffer = 260;

// Reads a value as text into a 260-byte buffer; false when it is missing or too long.
bool ReadText(HKEY key, const char* name, char* out) {
  DWORD size = kValueBuffer;
  if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(out), &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  if (size >= kValueBuffer) size = kValueBuffer - 1;
  out[size] = '\0';
  return true;
}

// Cuts the text at its last '\' or '/' when that stands at index 1 or later.
void CutLastComponent(MyCString& path) {
  int cut = -1;
  const char* s = path.CStr();
  for (int i = 0; s[i]; ++i) {
    if (s[i] == '\\' || s[i] == '/') cut = i;
  }
  if (cut >= 1) path.SetLength(cut);
}

MyCString ReadRegistryRuntime(CSettingsLoader* loader, const char* baseKey) {
  HKEY base;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, baseKey, 0, KEY_READ, &base) != ERROR_SUCCESS) {
    return MyCString();
  }
  char version[kValueBuffer];
  bool haveVersion = ReadText(base, "CurrentVersion", version);
  RegCloseKey(base);
  if (!haveVersion) return MyCString();
  MyCString versionKey(baseKey);
  versionKey.AppendOne('\\');
  versionKey.AppendStr(version);
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, versionKey.CStr(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return MyCString();
  }
  char value[kValueBuffer];
  if (ReadText(key, "RuntimeLib", value)) {
    RegCloseKey(key);
    MyCString library(value);
    if (_access(value, 4) == 0 && loader->GetVmName().GetLength() <= 1) return library;
    // Two components up from ...\bin\client\jvm.dll is the bin directory, where the `vm`
    // type directory is looked for.
    CutLastComponent(library);
    CutLastComponent(library);
    return ProbeRuntimeDirectory(loader, library);
  }
  bool haveHome = ReadText(key, "JavaHome", value);
  RegCloseKey(key);
  return haveHome ? ProbeRuntimeDirectory(loader, CStringRefT<char>(value)) : MyCString();
}

struct RootKey {
  const char* prefix;
  HKEY key;
};

const RootKey kRootKeys[] = {
    {"HKCR\\", HKEY_CLASSES_ROOT},
    {"HKCU\\", HKEY_CURRENT_USER},
    {"HKLM\\", HKEY_LOCAL_MACHINE},
    {"HKU\\", HKEY_USERS},
    {"HKCC\\", HKEY_CURRENT_CONFIG},
    {"HKEY_CLASSES_ROOT\\", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER\\", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE\\", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS\\", HKEY_USERS},
    {"HKEY_CURRENT_CONFIG\\", HKEY_CURRENT_CONFIG},
};

// The REG_EXPAND_SZ values being expanded, outermost first. A reference to one of them stays
// unexpanded, so a value that refers to itself is read once per reference and expansion grows
// with the text it produces; the depth limit stops chains of distinct values.
const int kMaxExpansionDepth = 8;
struct ValueBeingExpanded {
  HKEY root;
  const char* path;  // key and value name, as written in the reference
};
ValueBeingExpanded g_expanding[kMaxExpansionDepth];
int g_expansionDepth = 0;

// Registry names ignore letter case.
bool IsBeingExpanded(HKEY root, const char* path) {
  for (int i = 0; i < g_expansionDepth; ++i) {
    if (g_expanding[i].root == root && _stricmp(g_expanding[i].path, path) == 0) return true;
  }
  return false;
}

MyCString& ResultBuffer() {
  static MyCString result;
  return result;
}

const char* Fallback(const char* defaultText) {
  if (!defaultText) return nullptr;
  ResultBuffer() = defaultText;
  return ResultBuffer().CStr();
}

// Converts the stored data by its type; false for a value that could not be read.
MyCString ConvertValue(DWORD type, const CBufferT<char>& data) {
  MyCString text;
  const unsigned char* b = reinterpret_cast<const unsigned char*>(data.GetData());
  int n = data.GetLength();
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    int length = 0;
    while (length < n && data.GetData()[length] != '\0') ++length;
    text = MyCString(data.GetData(), length);
    if (type == REG_EXPAND_SZ) text = ExpandValue(text, false);
  } else if ((type == REG_DWORD || type == REG_DWORD_BIG_ENDIAN) && n >= 4) {
    unsigned int v = type == REG_DWORD
                         ? b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<unsigned>(b[3]) << 24)
                         : b[3] | (b[2] << 8) | (b[1] << 16) | (static_cast<unsigned>(b[0]) << 24);
    text.Format("%d", static_cast<int>(v));
  }
  return text;
}

}  // namespace

MyCString SearchPlatformRuntime(char letter, CSettingsLoader* loader) {
  if (letter == 's')
    return ReadRegistryRuntime(loader, "SOFTWARE\\JavaSoft\\Java Runtime Environment");
  if (letter == 'i') return ReadRegistryRuntime(loader, "SOFTWARE\\IBM\\Java2 Runtime Environment");
  return MyCString();
}

const char* ResolvePlatformReference(const char* name) {
  HKEY root = nullptr;
  const char* rest = name;
  for (const RootKey& candidate : kRootKeys) {
    size_t n = strlen(candidate.prefix);
    if (strncmp(name, candidate.prefix, n) == 0) {
      root = candidate.key;
      rest = name + n;
      break;
    }
  }
  MyCString path(rest);
  const char* bar = strchr(path.CStr(), '|');
  MyCString defaultText;
  bool hasDefault = bar != nullptr;
  if (hasDefault) {
    defaultText = bar + 1;
    path.SetLength(static_cast<int>(bar - path.CStr()));
  }
  const char* fallback = hasDefault ? defaultText.CStr() : nullptr;
  if (!root || g_expansionDepth >= kMaxExpansionDepth) return Fallback(fallback);
  if (IsBeingExpanded(root, path.CStr())) return nullptr;

  const char* s = path.CStr();
  const char* lastSlash = strrchr(s, '\\');
  MyCString keyPath(s, lastSlash ? static_cast<int>(lastSlash - s) : path.GetLength());
  MyCString valueName(lastSlash ? lastSlash + 1 : "");
  HKEY key;
  if (RegOpenKeyExA(root, keyPath.CStr(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return Fallback(fallback);
  }
  DWORD type = 0, size = 0;
  const char* value = valueName.IsEmpty() ? nullptr : valueName.CStr();
  if (RegQueryValueExA(key, value, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
    RegCloseKey(key);
    return Fallback(fallback);
  }
  CBufferT<char> data;
  data.SetLength(static_cast<int>(size));
  if (RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(data.GetBuffer()),
                       &size) != ERROR_SUCCESS) {
    RegCloseKey(key);
    return Fallback(fallback);
  }
  data.SetLength(static_cast<int>(size));
  RegCloseKey(key);
  if (type == REG_EXPAND_SZ) g_expanding[g_expansionDepth++] = {root, path.CStr()};
  MyCString text = ConvertValue(type, data);
  if (type == REG_EXPAND_SZ) --g_expansionDepth;
  ResultBuffer() = text;
  return ResultBuffer().CStr();
}
