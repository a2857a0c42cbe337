// LoadSettings: the loading sequence of the settings store, including the optional external
// configuration file beside the executable.
#include <cstring>

#include "core/trace.h"
#include "platform/platform.h"
#include "settings/file_trust.h"
#include "settings/payload.h"
#include "settings/settings_loader.h"

namespace {

// Reads a whole file into the loader's text; false when it cannot be used.
bool AppendFile(CSettingsLoader* loader, const char* path) {
  // Its option lines can run code (a Java agent), so only a file no other user can replace.
  if (!IsReadable(path) || !IsTrustedFile(CStringRefT<char>(path))) return false;
  FileHandle* file = OpenFileRead(path);
  if (!IsValidFileHandle(file)) return false;
  int size = GetFileSize32(file);
  if (size < 0) {
    CloseFileHandle(file);
    return false;
  }
  MyCString contents;
  contents.SetLength(size);
  int count = 0;
  if (!ReadFileBytes(file, contents.GetBuffer(), size, &count)) {
    TRACE("external configuration: %s could not be read", path);
  }
  CloseFileHandle(file);
  loader->DecodeSettingsText(contents.CStr(), count);
  return true;
}

// Position of the extension's '.' in the file name part of path, or -1.
int ExtensionPosition(const MyCString& path) {
  const char* s = path.CStr();
  for (int i = path.GetLength() - 1; i >= 0; --i) {
    if (s[i] == '.') return i;
    if (s[i] == '/' || (s[i] == '\\' && kBackslashSeparatesPaths)) return -1;
  }
  return -1;
}

void ReadExternalFile(CSettingsLoader* loader) {
  const MyCString& exe = loader->exePath;
  if (exe.IsEmpty()) return;
  int dot = ExtensionPosition(exe);
  int stem = dot < 0 ? exe.GetLength() : dot;
  static const char* const kSuffixes[] = {".cfg", ".config"};
  // Without an extension the names without it are the same names again.
  int rounds = dot < 0 ? 1 : 2;
  for (int withoutExtension = 0; withoutExtension < rounds; ++withoutExtension) {
    for (const char* suffix : kSuffixes) {
      MyCString candidate(exe.CStr(), withoutExtension ? stem : exe.GetLength());
      candidate.AppendStr(suffix);
      if (candidate.GetLength() >= kMaxPathBuffer) continue;
      if (AppendFile(loader, candidate.CStr())) {
        TRACE("external configuration: %s used", candidate.CStr());
        return;
      }
      TRACE("external configuration: %s not readable", candidate.CStr());
    }
  }
}

}  // namespace

void LoadSettings(CSettingsLoader* loader) {
  LocateTrailer(loader);
  loader->RefreshWorkDir();
  char path[4096];
  int n = GetExePath(path, kMaxPathBuffer);
  loader->exePath.SetLength(0);
  if (n > 0 && n < kMaxPathBuffer) loader->exePath.Append(path, n);
  const char* exe = loader->exePath.CStr();
  const char* slash = nullptr;
  for (const char* p = exe; *p; ++p) {
    if (*p == '/' || *p == '\\') slash = p;
  }
  loader->appHome = MyCString(exe, slash ? static_cast<int>(slash - exe) + 1 : 0);

  ReadExternalFile(loader);
  // The separator keeps the external file's last line apart from the first packaged line.
  if (loader->GetLength() > 0) loader->Append("\r\n", 2);
  loader->externalLength = loader->GetLength();

  ReadPackagedSettings(loader);
  MyCString disable = loader->GetValue(SettingKey::kDisableExternal);
  if (disable.EqualsNoCase("true")) {
    if (loader->externalLength > 0) TRACE("external configuration: discarded by disableexternal");
    int keep = loader->GetLength() - loader->externalLength;
    if (keep <= 0) {
      loader->SetLength(0);
    } else {
      memmove(loader->GetBuffer(), loader->GetBuffer() + loader->externalLength,
              static_cast<size_t>(keep));
      loader->SetLength(keep);
    }
    loader->externalLength = 0;
  }
}
