#include "jvm/class_path.h"

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "settings/expand.h"
#include "settings/settings_loader.h"

namespace {

bool IsArchiveName(const char* name) {
  const char* dot = strrchr(name, '.');
  if (!dot) return false;
  MyCString extension(dot);
  return extension.EqualsNoCase(".jar") || extension.EqualsNoCase(".zip");
}

bool IsDot(const char* name) {
  return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

void AppendEnvironmentPath(const char* name, CBufferT<char>& out) {
  const char* value = getenv(name);
  // An empty element would mean the working directory to the JVM.
  if (!value || !*value) return;
  out.AppendOne(kPathListSeparator);
  out.Append(value, static_cast<int>(strlen(value)));
}

}  // namespace

void ScanArchiveDirectory(const CBufferRefT<char>& directory, CBufferT<char>& out) {
  MyCString base(directory);
  char last = base.CharAt(base.GetLength() - 1, '\0');
  if (last != '/' && last != '\\') base.AppendOne('/');
  MyCString pattern(base);
  pattern.AppendStr("*.*");
  DirEntryInfo entry;
  DirHandle* listing = DirFindFirst(pattern.CStr(), &entry);
  if (!listing) return;
  do {
    if (IsDot(entry.name)) continue;
    MyCString path(base);
    path.AppendStr(entry.name);
    if (entry.attrib & kDirAttribute) {
      ScanArchiveDirectory(path, out);
    } else if (IsArchiveName(entry.name)) {
      out.AppendOne(kPathListSeparator);
      out.Append(path);
    }
  } while (DirFindNext(listing, &entry) == 0);
  DirFindClose(listing);
}

MyCString BuildClassPath(CSettingsLoader* loader) {
  char exe[4096];
  int n = GetExePath(exe, kMaxPathBuffer);
  MyCString result;
  if (n > 0 && n < kMaxPathBuffer) result.Append(exe, n);

  CBufferT<char> settingElements;
  // Each element of a classpath value is expanded and resolved on its own.
  const SettingKeyInfo& classPath = KeyInfo(SettingKey::kClassPath);
  loader->GetSetting(classPath.name, AppendPathList, &settingElements, classPath.packagedOnly,
                     !classPath.utf8);
  result.Append(settingElements);

  MyCStringArray libs = loader->GetValues(SettingKey::kLibs);
  for (int i = 0; i < libs.GetCount(); ++i) {
    MyCString directory = loader->ResolvePath(CStringRefT<char>(libs.GetAt(i)));
    CBufferT<char> archives;
    ScanArchiveDirectory(directory, archives);
    result.Append(archives);
  }

  AppendEnvironmentPath("CLASSPATH", result);
  AppendEnvironmentPath("CLASS_PATH", result);
  return result;
}
