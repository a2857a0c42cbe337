// Pieces shared by the fuzz targets: a scratch directory, a check that aborts (so that
// libFuzzer keeps the input), and the lookups every settings target runs.
#pragma once

#include <ftw.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/buffer.h"
#include "fuzz_check.h"
#include "settings/expand.h"
#include "settings/setting_keys.h"
#include "settings/settings_loader.h"

namespace fuzz {

inline int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  return remove(path);
}

// A private directory below $TMPDIR (or /tmp), removed at exit. libFuzzer may end without
// running exit handlers, so run-fuzzers points TMPDIR at a directory it clears itself.
inline const std::string& ScratchDir() {
  static std::string path = [] {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/launcher-fuzz-XXXXXX";
    if (!mkdtemp(&pattern[0])) abort();
    atexit([] { nftw(ScratchDir().c_str(), RemoveEntry, 8, FTW_DEPTH | FTW_PHYS); });
    return pattern;
  }();
  return path;
}

inline void WriteFile(const std::string& path, const unsigned char* data, size_t size) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) abort();
  if (size && fwrite(data, 1, size, f) != size) abort();
  fclose(f);
}

inline std::string Str(const CBufferRefT<char>& s) {
  return std::string(s.GetData() ? s.GetData() : "", static_cast<size_t>(s.GetLength()));
}

inline bool HasLineBreak(const CBufferRefT<char>& s) {
  for (int i = 0; i < s.GetLength(); ++i) {
    char c = s.GetData()[i];
    if (c == '\r' || c == '\n' || c == '\0') return true;
  }
  return false;
}

// Gives the loader the launcher variables a real start would have.
inline void SetLauncherPaths(CSettingsLoader& loader) {
  loader.exePath = "/opt/app/tool.bin";
  loader.appHome = "/opt/app/";
  loader.workDir = "/var/empty/";
}

// Every key the launcher reads, the ways the launcher reads it (packaged-only keys from the
// packaged part only). Needs pldr == &loader for the expanding callbacks.
inline void LookUpEveryKey(CSettingsLoader& loader) {
  for (const SettingKeyInfo& info : kSettingKeys) {
    const char* key = info.name;
    const bool packagedOnly = info.packagedOnly;
    // Raw values are one line each: a value never spans a line end.
    MyCString raw = loader.GetSetting(key, nullptr, nullptr, packagedOnly, false);
    FUZZ_CHECK(!HasLineBreak(raw));
    MyCString local = loader.GetSetting(key, nullptr, nullptr, packagedOnly, true);
    MyCString expanded = ExpandValue(local, false);
    if (!strchr(local.CStr(), '%') && !strchr(local.CStr(), '$')) {
      FUZZ_CHECK(expanded.GetLength() == local.GetLength());
    }

    MyCStringArray values, utf8Values;
    FUZZ_CHECK(
        loader.GetSetting(key, CSettingsLoader::EnumCommonCallback, &values, packagedOnly, true)
            .IsEmpty());
    loader.GetSetting(key, CSettingsLoader::EnumCommonCallbackUtf8, &utf8Values, packagedOnly,
                      false);
    FUZZ_CHECK(values.GetCount() == utf8Values.GetCount());
    // The first collected value is the single-valued lookup, expanded.
    if (values.GetCount() > 0) {
      FUZZ_CHECK(strcmp(values.GetAt(0), expanded.CStr()) == 0);
    } else {
      FUZZ_CHECK(local.IsEmpty());
    }

    // The table-driven lookups: every line, and the first of them alone.
    MyCStringArray tableValues = loader.GetValues(info.key);
    MyCString tableValue = loader.GetValue(info.key);
    FUZZ_CHECK(tableValues.GetCount() == values.GetCount());
    if (tableValues.GetCount() > 0) {
      FUZZ_CHECK(strcmp(tableValues.GetAt(0), tableValue.CStr()) == 0);
    } else {
      FUZZ_CHECK(tableValue.IsEmpty());
    }
  }
  CBufferT<char> paths;
  loader.GetSetting("classpath", AppendPathList, &paths);
  FUZZ_CHECK(paths.IsEmpty() || paths.GetData()[0] == ':');
  loader.vmName.SetLength(0);
  FUZZ_CHECK(!loader.GetVmName().IsEmpty());
}

}  // namespace fuzz
