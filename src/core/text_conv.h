// Conversions between the locale's multibyte encoding, UTF-8, wide characters and 16-bit units.
#ifndef LAUNCHER_CORE_TEXT_CONV_H_
#define LAUNCHER_CORE_TEXT_CONV_H_

#include <cwchar>

#include "core/buffer.h"

// UTF-8 encoded from a wide string (count -1: up to the first zero character).
class Utf8String : public CStringBufT<char> {
 public:
  Utf8String(const wchar_t* wide, int count = -1);
};

// Wide text from locale multibyte text or from 16-bit units.
class UnicodeString : public CStringBufT<wchar_t> {
 public:
  UnicodeString() {}
  // Multibyte text in the locale's encoding, up to count bytes or the first NUL. A byte that
  // does not start a valid character becomes '?' and conversion goes on after it, so one bad
  // byte never costs the rest of the text.
  UnicodeString(const char* multibyte, int count);
  // 16-bit units zero-extended one by one, up to count units or the first zero unit.
  UnicodeString(const unsigned short* units, int count);
};

// Wide text decoded from UTF-8; malformed sequences become '?'.
class UnicodeStringFromUtf8 : public UnicodeString {
 public:
  UnicodeStringFromUtf8(const char* utf8, int count);
};

// 16-bit text: UTF-16 input files and the strings handed to Java.
class UcsString : public CStringBufT<unsigned short> {
 public:
  UcsString(const unsigned short* units, int count);
  // Each wide character becomes one unit; a character above U+FFFF becomes a surrogate pair.
  UcsString(const wchar_t* wide, int count = -1);
};

// Wide text converted to the locale's multibyte encoding; a character that the locale cannot
// represent becomes '?', and exact (when given) then turns false.
MyCString WideToLocale(const wchar_t* wide, int count = -1, bool* exact = nullptr);

// True when the locale's multibyte encoding reads every ASCII character as itself, as UTF-8,
// the ISO 8859 family and the C locale do; checked anew on every call.
bool LocaleKeepsAscii();

#endif  // LAUNCHER_CORE_TEXT_CONV_H_
