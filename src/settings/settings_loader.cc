#include "settings/settings_loader.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/text_conv.h"
#include "platform/platform.h"
#include "settings/expand.h"
#include "settings/payload.h"

CSettingsLoader* pldr = nullptr;

namespace {

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Eight bytes at a time: a long configuration file is checked whole before it is copied.
bool HasHighByte(const char* s, int n) {
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t word;
    memcpy(&word, s + i, sizeof word);
    if (word & 0x8080808080808080ull) return true;
  }
  for (; i < n; ++i) {
    if (static_cast<unsigned char>(s[i]) >= 0x80) return true;
  }
  return false;
}

// The length of s up to its first NUL, at most n.
int LengthBeforeNul(const char* s, int n) {
  const void* nul = memchr(s, '\0', static_cast<size_t>(n));
  return nul ? static_cast<int>(static_cast<const char*>(nul) - s) : n;
}

// Matches "blanks key [blanks] [= [blanks]]" at the start of line; sets the value's start.
bool MatchKey(const CBufferRefT<char>& line, const CBufferRefT<char>& key, int* valueStart) {
  const char* s = line.GetData();
  int n = line.GetLength();
  int k = key.GetLength();
  int i = 0;
  while (i < n && s[i] == ' ') ++i;
  if (n - i < k) return false;
  for (int j = 0; j < k; ++j) {
    if (LowerAscii(s[i + j]) != LowerAscii(key.GetData()[j])) return false;
  }
  i += k;
  if (i < n && IsNameChar(s[i])) return false;
  while (i < n && s[i] == ' ') ++i;
  if (i < n && s[i] == '=') {
    ++i;
    while (i < n && s[i] == ' ') ++i;
  }
  *valueStart = i;
  return true;
}

MyCString UnicodeUnitsToUtf8(const char* bytes, int length, bool bigEndian) {
  int count = length / 2;
  CBufferT<unsigned short> units;
  units.SetLength(count);
  unsigned short* out = units.GetBuffer();
  const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes);
  for (int i = 0; i < count; ++i) {
    unsigned int first = b[2 * i], second = b[2 * i + 1];
    out[i] = static_cast<unsigned short>(bigEndian ? (first << 8) | second : (second << 8) | first);
  }
  UcsString ucs(units.GetData(), count);
  UnicodeString wide(ucs.CStr(), ucs.GetLength());
  Utf8String utf8(wide.CStr(), wide.GetLength());
  return MyCString(utf8.CStr(), utf8.GetLength());
}

// The value after the key, converted to the locale's encoding when asked and possible.
MyCString ValueOf(const CBufferRefT<char>& line, int valueStart, bool toLocale) {
  MyCString value(line.GetData() + valueStart, line.GetLength() - valueStart);
  if (toLocale && HasHighByte(value.CStr(), value.GetLength())) {
    UnicodeStringFromUtf8 wide(value.CStr(), value.GetLength());
    bool exact = true;
    MyCString converted = WideToLocale(wide.CStr(), wide.GetLength(), &exact);
    // A value the locale cannot represent stays in UTF-8, which file systems usually expect.
    if (exact) value = converted;
  }
  return value;
}

void AddValue(void* list, const char* value) {
  static_cast<MyCStringArray*>(list)->Add(value);
}

}  // namespace

bool CLineReader::ReadLine(CBufferRefT<char>& line) {
  const char* p = data_;
  if (!p || *p == '\0') return false;
  const char* start = p;
  // strcspn is vectorised by the C library, which matters for a long configuration file.
  p += strcspn(p, "\r\n");
  line = CBufferRefT<char>(start, static_cast<int>(p - start));
  if (*p == '\r') {
    ++p;
    if (*p == '\n') ++p;
  } else if (*p == '\n') {
    ++p;
    if (*p == '\r') ++p;
  }
  data_ = const_cast<char*>(p);
  return true;
}

bool CLineReader::ReadLine(MyCString& line) {
  CBufferRefT<char> view;
  if (!ReadLine(view)) return false;
  line.SetLength(0);
  line.Append(view);
  return true;
}

CSettingsLoader::CSettingsLoader(bool load) : externalLength(0), trailerEnd(-1) {
  if (load) LoadSettings(this);
}

CSettingsLoader::~CSettingsLoader() {
  vmName.Release();
  workDir.Release();
  appHome.Release();
  exePath.Release();
  Release();
}

MyCString CSettingsLoader::GetSetting(const char* key, SettingCallback callback, void* context,
                                      bool packagedOnly, bool toLocale) const {
  return GetSetting(CStringRefT<char>(key), callback, context, packagedOnly, toLocale);
}

MyCString CSettingsLoader::GetSetting(const CBufferRefT<char>& key, SettingCallback callback,
                                      void* context, bool packagedOnly, bool toLocale) const {
  if (key.GetLength() > 0 && IsNameChar(key.GetData()[0])) {
    // Only lines that start with a name character can match such a key.
    const char* text = CStr();
    char first = LowerAscii(key.GetData()[0]);
    const CBufferT<CSettingsLineCache::Span>& spans = LineCache(packagedOnly).spans();
    for (int i = 0; i < spans.GetLength(); ++i) {
      const CSettingsLineCache::Span& span = spans.GetData()[i];
      if (LowerAscii(text[span.start]) != first) continue;
      int valueStart;
      CBufferRefT<char> line(text + span.start, span.length);
      if (!MatchKey(line, key, &valueStart)) continue;
      MyCString value = ValueOf(line, valueStart, toLocale);
      if (!callback) return value;
      callback(context, value.CStr());
    }
    return MyCString();
  }
  CLineReader reader(CStr() + PackagedOffset(packagedOnly));
  CBufferRefT<char> line;
  while (reader.ReadLine(line)) {
    int valueStart;
    if (!MatchKey(line, key, &valueStart)) continue;
    MyCString value = ValueOf(line, valueStart, toLocale);
    if (!callback) return value;
    callback(context, value.CStr());
  }
  return MyCString();
}

MyCString CSettingsLoader::GetValue(SettingKey key) const {
  const SettingKeyInfo& info = KeyInfo(key);
  MyCString value = GetSetting(info.name, nullptr, nullptr, info.packagedOnly, !info.utf8);
  return info.expands ? ExpandValue(value, info.utf8) : value;
}

MyCStringArray CSettingsLoader::GetValues(SettingKey key) const {
  const SettingKeyInfo& info = KeyInfo(key);
  SettingCallback add = !info.expands ? AddValue
                        : info.utf8   ? EnumCommonCallbackUtf8
                                      : EnumCommonCallback;
  MyCStringArray values;
  GetSetting(info.name, add, &values, info.packagedOnly, !info.utf8);
  return values;
}

int CSettingsLoader::PackagedOffset(bool packagedOnly) const {
  if (!packagedOnly || externalLength <= 0) return 0;
  return externalLength < GetLength() ? externalLength : GetLength();
}

const CSettingsLineCache& CSettingsLoader::LineCache(bool packagedOnly) const {
  CSettingsLineCache& cache = packagedOnly ? packagedLines_ : wholeLines_;
  int from = PackagedOffset(packagedOnly);
  if (!cache.Matches(CStr(), GetLength(), from)) cache.Build(CStr(), GetLength(), from);
  return cache;
}

void CSettingsLoader::SetLength(int n) {
  wholeLines_.Invalidate();
  packagedLines_.Invalidate();
  CStringBufT<char>::SetLength(n);
}

void CSettingsLineCache::Build(const char* text, int length, int from) {
  spans_.SetLength(0);
  CLineReader reader(text + from);
  CBufferRefT<char> line;
  while (reader.ReadLine(line)) {
    int i = 0;
    while (i < line.GetLength() && line.GetData()[i] == ' ') ++i;
    if (i == line.GetLength() || !IsNameChar(line.GetData()[i])) continue;
    Span span = {static_cast<int>(line.GetData() - text) + i, line.GetLength() - i};
    spans_.AppendOne(span);
  }
  text_ = text;
  length_ = length;
  from_ = from;
  built_ = true;
}

MyCString CSettingsLoader::ResolvePath(const CBufferRefT<char>& path) const {
  char first = path.CharAt(0, '\0');
  if (first == '\\' || first == '/' || path.CharAt(1, '\0') == ':') return MyCString(path);
  MyCString fromHome(appHome);
  fromHome.Append(path);
  if (IsReadable(fromHome.CStr())) return fromHome;
  MyCString fromWorkDir(workDir);
  fromWorkDir.Append(path);
  if (IsReadable(fromWorkDir.CStr())) return fromWorkDir;
  return fromHome;
}

void CSettingsLoader::RefreshWorkDir() {
  char buffer[4096];
  workDir.SetLength(0);
  if (!GetWorkingDir(buffer, kMaxPathBuffer)) return;
  workDir.AppendStr(buffer);
  char last = workDir.CharAt(workDir.GetLength() - 1, '\0');
  if (last != '/' && last != '\\') workDir.AppendOne('/');
}

void CSettingsLoader::DecodeSettingsText(const char* raw, int length) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(raw);
  int textLength = length > 0 ? LengthBeforeNul(raw, length) : 0;
  if (length >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
    Append(raw + 3, length - 3);
  } else if (length >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
    Append(UnicodeUnitsToUtf8(raw + 2, length - 2, false));
  } else if (length >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
    Append(UnicodeUnitsToUtf8(raw + 2, length - 2, true));
  } else if (length > 0 && !HasHighByte(raw, textLength) && LocaleKeepsAscii()) {
    // Plain ASCII converts to itself; the conversion would stop at a NUL, so the copy does too.
    Append(raw, textLength);
  } else if (length > 0) {
    UnicodeString wide(raw, length);
    Utf8String utf8(wide.CStr(), wide.GetLength());
    Append(utf8);
  }
}

const char* CSettingsLoader::GetLauncherVariable(const char* name) const {
  MyCString n(name);
  if (n.EqualsNoCase("APPLICATION_HOME")) return appHome.CStr();
  if (n.EqualsNoCase("PWD")) return workDir.CStr();
  if (n.EqualsNoCase("KSL_APP_PATH")) return exePath.CStr();
  if (!n.EqualsNoCase("HOME")) return nullptr;
  // Kept for the process; an empty value is looked up again on every use.
  static MyCString home;
  if (home.IsEmpty()) {
    const char* drive = getenv("HOMEDRIVE");
    const char* path = getenv("HOMEPATH");
    if (drive && path) {
      home.AppendStr(drive);
      home.AppendStr(path);
    }
  }
  return home.CStr();
}

MyCString CSettingsLoader::GetVmName() {
  if (vmName.IsEmpty()) {
    vmName = GetValue(SettingKey::kVm);
    if (vmName.IsEmpty()) vmName = "-";
  }
  return vmName;
}

void CSettingsLoader::EnumCommonCallback(void* list, const char* value) {
  MyCString expanded = ExpandValue(CStringRefT<char>(value), false);
  static_cast<MyCStringArray*>(list)->Add(expanded.CStr(), expanded.GetLength());
}

void CSettingsLoader::EnumCommonCallbackUtf8(void* list, const char* value) {
  MyCString expanded = ExpandValue(CStringRefT<char>(value), true);
  static_cast<MyCStringArray*>(list)->Add(expanded.CStr(), expanded.GetLength());
}
