// Every setting key the launcher reads and how its lines are read. The launcher's lookups, the
// packer's settings checks and the fuzz targets take the keys from this table.
#ifndef LAUNCHER_SETTINGS_SETTING_KEYS_H_
#define LAUNCHER_SETTINGS_SETTING_KEYS_H_

enum class SettingKey {
  kMainClass,
  kClassPath,
  kLibs,
  kOption,
  kProperty,
  kExport,
  kArgv,
  kMinJre,
  kMaxJre,
  kJreOrder,
  kJvmDll,
  kJre,
  kVm,
  kMessage,
  kForceCwd,
  kStdout,
  kStderr,
  kSingleInstance,
  kDisableExternal,
  kCds,
  kCount
};

struct SettingKeyInfo {
  SettingKey key;
  const char* name;   // lower case; lines match it in any letter case
  bool multiple;      // every line counts, in text order; otherwise only the first line
  bool expands;       // variable references in the values are replaced
  bool packagedOnly;  // read from the packaged settings only: the external file cannot set it
  // Values stay UTF-8 instead of being converted to the locale's encoding, and expansion
  // converts substituted environment text to UTF-8.
  bool utf8;
};

// In SettingKey order. classpath values are lists: each element is expanded on its own.
inline constexpr SettingKeyInfo kSettingKeys[] = {
    // clang-format off
    // key                           name               multiple expands packagedOnly utf8
    {SettingKey::kMainClass,       "mainclass",       false,   false,  true,        false},
    {SettingKey::kClassPath,       "classpath",       true,    true,   false,       false},
    {SettingKey::kLibs,            "libs",            true,    true,   false,       false},
    {SettingKey::kOption,          "option",          true,    true,   false,       false},
    {SettingKey::kProperty,        "property",        true,    true,   false,       true},
    {SettingKey::kExport,          "export",          true,    true,   false,       false},
    {SettingKey::kArgv,            "argv",            true,    true,   false,       false},
    {SettingKey::kMinJre,          "minjre",          false,   false,  false,       false},
    {SettingKey::kMaxJre,          "maxjre",          false,   false,  false,       false},
    {SettingKey::kJreOrder,        "jre_order",       false,   false,  false,       false},
    {SettingKey::kJvmDll,          "jvmdll",          false,   true,   false,       false},
    {SettingKey::kJre,             "jre",             false,   true,   false,       false},
    {SettingKey::kVm,              "vm",              false,   true,   false,       false},
    {SettingKey::kMessage,         "message",         true,    true,   false,       false},
    {SettingKey::kForceCwd,        "forcecwd",        false,   true,   false,       false},
    {SettingKey::kStdout,          "stdout",          false,   true,   false,       false},
    {SettingKey::kStderr,          "stderr",          false,   true,   false,       false},
    {SettingKey::kSingleInstance,  "singleinstance",  false,   false,  false,       false},
    {SettingKey::kDisableExternal, "disableexternal", false,   false,  true,        false},
    {SettingKey::kCds,             "cds",             false,   false,  false,       false},
    // clang-format on
};

inline constexpr int kSettingKeyCount = static_cast<int>(SettingKey::kCount);

constexpr const SettingKeyInfo& KeyInfo(SettingKey key) {
  return kSettingKeys[static_cast<int>(key)];
}

// Each entry sits at the index of its key, so KeyInfo needs no search.
constexpr bool SettingKeysInOrder() {
  for (int i = 0; i < kSettingKeyCount; ++i) {
    if (static_cast<int>(kSettingKeys[i].key) != i) return false;
  }
  return true;
}
static_assert(sizeof(kSettingKeys) / sizeof(kSettingKeys[0]) == kSettingKeyCount,
              "one entry per key");
static_assert(SettingKeysInOrder(), "entries in SettingKey order");

#endif  // LAUNCHER_SETTINGS_SETTING_KEYS_H_
