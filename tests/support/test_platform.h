// What the tests need to know about the system they run on, and the environment calls whose
// spelling differs between POSIX and the Windows C runtime. The only place in the tests that
// asks which system it is.
#pragma once

#include <cstdlib>
#include <string>

namespace test_support {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// The separator of class path lists.
constexpr char kListSeparator = kWindows ? ';' : ':';
// The longest path the launcher keeps as its own path or working directory: Windows' buffers
// hold 260 bytes with the NUL.
constexpr int kMaxPath = kWindows ? 259 : 4095;
// Environment names ignore letter case on Windows, whose C runtime also cannot hold an empty
// value: setting one removes the variable.
constexpr bool kEnvironmentIgnoresCase = kWindows;
constexpr bool kEmptyVariablesExist = !kWindows;
// The Windows C runtime's "C" locale reads every byte as the character of the same number
// (Latin-1); glibc's knows ASCII only and has a UTF-8 sibling, which the Windows one lacks.
constexpr bool kCLocaleIsLatin1 = kWindows;
constexpr const char* kUtf8Locale = kWindows ? nullptr : "C.UTF-8";
// The byte 0xE9 of text in the C locale once decoded, in UTF-8.
constexpr const char* kE9FromCLocale = kCLocaleIsLatin1 ? "\xC3\xA9" : "?";

// Sets an environment variable, or removes it when value is null.
inline void SetEnv(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value ? value : "");
#else
  if (value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
#endif
}

}  // namespace test_support
