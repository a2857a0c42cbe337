// Helpers shared by the unit tests: temporary directories and files, scoped changes of the
// environment, the locale, the working directory and the launcher's own path, and a builder
// for packed executables (launcher image + payload).
#pragma once

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "../support/temp_dir.h"
#include "../support/test_platform.h"
#include "core/buffer.h"
#include "platform/platform.h"
#include "settings/payload.h"
#include "settings/settings_loader.h"

namespace launcher_test {

inline void MakeDirs(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  MakeDirs(std::filesystem::path(path).parent_path().string());
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) abort();
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

// A temporary directory that can also make files and directories inside it.
class TempDir : public test_support::TempDir {
 public:
  TempDir() : test_support::TempDir("launcher_unit_") {}
  std::string File(const std::string& relative, const std::string& bytes = "") const {
    std::string full = *this / relative;
    WriteBytes(full, bytes);
    return full;
  }
  std::string Dir(const std::string& relative) const {
    std::string full = *this / relative;
    MakeDirs(full);
    return full;
  }
};

// Sets (or, with null, unsets) an environment variable and restores it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    test_support::SetEnv(name, value);
  }
  ~ScopedEnv() { test_support::SetEnv(name_.c_str(), had_ ? old_.c_str() : nullptr); }

 private:
  std::string name_;
  std::string old_;
  bool had_;
};

// Switches the C library's locale; test_support::kUtf8Locale is null where there is no UTF-8
// locale, and the tests leave out what needs one.
class ScopedLocale {
 public:
  explicit ScopedLocale(const char* name) : old_(setlocale(LC_ALL, nullptr)) {
    if (!setlocale(LC_ALL, name)) abort();
  }
  ~ScopedLocale() { setlocale(LC_ALL, old_.c_str()); }

 private:
  std::string old_;
};

class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string& dir) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~ScopedCwd() { std::filesystem::current_path(old_); }

 private:
  std::filesystem::path old_;
};

// Points the launcher's own path at a file and supplies the archive size its image would hold.
class ScopedExePath {
 public:
  explicit ScopedExePath(const std::string& path, long long archiveSize = -1) : path_(path) {
    SetExePathForTesting(path_.c_str());
    SetArchiveSizeForTesting(archiveSize);
  }
  ~ScopedExePath() {
    SetExePathForTesting(nullptr);
    SetArchiveSizeForTesting(-1);
  }

 private:
  std::string path_;
};

class ScopedPldr {
 public:
  explicit ScopedPldr(CSettingsLoader* loader) { pldr = loader; }
  ~ScopedPldr() { pldr = nullptr; }
};

inline std::string Le32(int value) {
  unsigned int v = static_cast<unsigned int>(value);
  std::string out;
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  return out;
}

// Lines joined with CR LF, each line ended by it.
inline std::string CrLf(std::initializer_list<std::string> lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\r\n";
  return out;
}

// The packaged form of settings text: UTF-8 mark, the lines, one NUL.
inline std::string PackagedText(const std::string& lines) {
  return "\xEF\xBB\xBF" + lines + std::string(1, '\0');
}

// The smallest zip archive the launcher accepts: an end-of-central-directory record alone.
inline std::string EndRecord() {
  return std::string("PK\x05\x06", 4) + std::string(18, '\0');
}

// A packed executable: image, splash block, D, reserved block, C, settings, L, 16-byte field,
// zip archive, remark.
struct PackedImage {
  std::string image = "#!launcher image bytes#";
  std::string splash;
  std::string reserved;
  std::string settings = PackagedText("");
  std::string zip = EndRecord();
  std::string remark;

  std::string Build() const {
    return image + splash + Le32(static_cast<int>(splash.size())) + reserved +
           Le32(static_cast<int>(reserved.size())) + settings +
           Le32(static_cast<int>(settings.size())) + std::string(16, '\0') + zip + remark;
  }
  long long ArchiveSize() const { return static_cast<long long>(zip.size()); }
  // Offset just past the settings length field.
  int TrailerEnd() const {
    return static_cast<int>(image.size() + splash.size() + 4 + reserved.size() + 4 +
                            settings.size() + 4);
  }
};

// The elements a settings lookup with a callback collects (no expansion of interest).
inline std::vector<std::string> Elements(MyCStringArray& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.GetCount(); ++i) out.push_back(list.GetAt(i));
  return out;
}

inline std::string Str(const CBufferRefT<char>& s) {
  return std::string(s.GetData() ? s.GetData() : "", static_cast<size_t>(s.GetLength()));
}

// Every value of key in text order, without expansion side effects beyond the callback's.
inline std::vector<std::string> AllValues(const CSettingsLoader& loader, const char* key,
                                          bool packagedOnly = false, bool toLocale = true) {
  MyCStringArray list;
  loader.GetSetting(key, CSettingsLoader::EnumCommonCallback, &list, packagedOnly, toLocale);
  return Elements(list);
}

}  // namespace launcher_test
