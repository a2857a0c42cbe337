// The settings store: the merged settings text (external file first, then the packaged text)
// with the launcher's own paths, answering every lookup by scanning the text line by line.
// Lines that cannot hold a key (comments, blank lines) are skipped through a cache of where
// the other lines start, so a long commented configuration file costs one walk, not one per
// lookup.
#ifndef LAUNCHER_SETTINGS_SETTINGS_LOADER_H_
#define LAUNCHER_SETTINGS_SETTINGS_LOADER_H_

#include "core/buffer.h"
#include "settings/setting_keys.h"

// Called once per matching line by GetSetting with the value as a NUL-terminated string.
typedef void (*SettingCallback)(void* context, const char* value);

// Reads lines from a NUL-terminated text; the view's data pointer is the read position.
class CLineReader : public CBufferRefT<char> {
 public:
  explicit CLineReader(const char* text) : CBufferRefT<char>(text, 0) {}
  // Fills line with the next line; false at the end of the text.
  bool ReadLine(MyCString& line);
  // The same without copying: line views the bytes inside the text.
  bool ReadLine(CBufferRefT<char>& line);
};

// Where the lines of a settings text that start with a letter, digit or '_' (after blanks)
// begin and how long they are, for one starting offset of the walk.
class CSettingsLineCache {
 public:
  // False when the text, its length or the starting offset changed since the cache was built.
  bool Matches(const char* text, int length, int from) const {
    return built_ && text_ == text && length_ == length && from_ == from;
  }
  void Build(const char* text, int length, int from);
  void Invalidate() { built_ = false; }

  struct Span {
    int start;
    int length;
  };
  const CBufferT<Span>& spans() const { return spans_; }

 private:
  bool built_ = false;
  const char* text_ = nullptr;
  int length_ = 0;
  int from_ = 0;
  CBufferT<Span> spans_;
};

class CSettingsLoader : public CStringBufT<char> {
 public:
  // With load set, runs LoadSettings before returning.
  explicit CSettingsLoader(bool load);
  ~CSettingsLoader() override;
  CSettingsLoader(const CSettingsLoader&) = delete;
  CSettingsLoader& operator=(const CSettingsLoader&) = delete;

  // The first value of key, or with a callback every value in text order (the result is then
  // empty). packagedOnly skips the external part; toLocale converts UTF-8 values to the locale.
  MyCString GetSetting(const CBufferRefT<char>& key, SettingCallback callback = nullptr,
                       void* context = nullptr, bool packagedOnly = false,
                       bool toLocale = true) const;
  MyCString GetSetting(const char* key, SettingCallback callback = nullptr, void* context = nullptr,
                       bool packagedOnly = false, bool toLocale = true) const;
  // The first value of a key and every value of a key, each read and expanded the way the key
  // table says.
  MyCString GetValue(SettingKey key) const;
  MyCStringArray GetValues(SettingKey key) const;

  // A relative path made absolute against appHome when readable there, else workDir when
  // readable there, else appHome.
  MyCString ResolvePath(const CBufferRefT<char>& path) const;
  void RefreshWorkDir();
  // Appends a raw settings text, decoded by its byte order mark, as UTF-8.
  void DecodeSettingsText(const char* raw, int length);

  // The launcher variables APPLICATION_HOME, PWD, KSL_APP_PATH and HOME; null for other names.
  const char* GetLauncherVariable(const char* name) const;
  // The expanded `vm` setting, "-" when unset; read once and cached.
  MyCString GetVmName();

  // GetSetting callbacks that expand each value and add it to a MyCStringArray context.
  static void EnumCommonCallback(void* list, const char* value);
  static void EnumCommonCallbackUtf8(void* list, const char* value);

  int externalLength;
  MyCString exePath;
  MyCString appHome;
  MyCString workDir;
  MyCString vmName;
  int trailerEnd;

  // Every change of the text goes through here, so the line caches are dropped with it.
  void SetLength(int n) override;

 private:
  // Where a walk starts: after the external text for packaged-only lookups.
  int PackagedOffset(bool packagedOnly) const;
  const CSettingsLineCache& LineCache(bool packagedOnly) const;

  mutable CSettingsLineCache wholeLines_;
  mutable CSettingsLineCache packagedLines_;
};

// The one settings store of the process.
extern CSettingsLoader* pldr;

// Fills a loader: trailer, paths, external configuration file, packaged settings.
void LoadSettings(CSettingsLoader* loader);

#endif  // LAUNCHER_SETTINGS_SETTINGS_LOADER_H_
