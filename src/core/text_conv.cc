#include "core/text_conv.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// Conversions reserve a few output elements per input element at once; a text too long for
// that ends the process like any other failed allocation.
int Reserve(int n, int perElement) {
  if (n > 0x7FFFFFF0 / perElement - 1) FatalOutOfMemory(static_cast<size_t>(n) * perElement);
  return n * perElement;
}

template <typename T>
int LengthUpTo(const T* s, int count) {
  if (!s) return 0;
  int n = 0;
  while ((count < 0 || n < count) && s[n] != T()) ++n;
  return n;
}

// Appends the UTF-8 form of one character; characters beyond Unicode become '?'.
int EncodeUtf8(unsigned long c, char* out) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  if (c < 0x110000) {
    out[0] = static_cast<char>(0xF0 | (c >> 18));
    out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
  }
  out[0] = '?';
  return 1;
}

bool IsContinuation(unsigned char b) {
  return (b & 0xC0) == 0x80;
}

bool IsHighSurrogate(unsigned long c) {
  return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(unsigned long c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

unsigned long CombineSurrogates(unsigned long high, unsigned long low) {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// Wide characters of 16 bits hold a character above U+FFFF as a surrogate pair.
int StoreWide(unsigned long c, wchar_t* out) {
  if (sizeof(wchar_t) == 2 && c > 0xFFFF) {
    c -= 0x10000;
    out[0] = static_cast<wchar_t>(0xD800 | (c >> 10));
    out[1] = static_cast<wchar_t>(0xDC00 | (c & 0x3FF));
    return 2;
  }
  out[0] = static_cast<wchar_t>(c);
  return 1;
}

// The number of continuation bytes that follow b[0], at most want; b holds n bytes.
int Continuations(const unsigned char* b, int n, int want) {
  int k = 0;
  while (k < want && k + 1 < n && IsContinuation(b[k + 1])) ++k;
  return k;
}

}  // namespace

Utf8String::Utf8String(const wchar_t* wide, int count) {
  int n = LengthUpTo(wide, count);
  SetLength(Reserve(n, 4));
  char* out = data_;
  int used = 0;
  for (int i = 0; i < n; ++i) {
    unsigned long c = static_cast<unsigned long>(wide[i]);
    // A surrogate pair (16-bit wide characters) is one character of four bytes.
    if (IsHighSurrogate(c) && i + 1 < n &&
        IsLowSurrogate(static_cast<unsigned long>(wide[i + 1]))) {
      c = CombineSurrogates(c, static_cast<unsigned long>(wide[++i]));
    }
    used += EncodeUtf8(c, out + used);
  }
  SetLength(used);
}

UnicodeString::UnicodeString(const char* multibyte, int count) {
  int n = LengthUpTo(multibyte, count);
  MyCString terminated(multibyte, n);
  SetLength(n);
  size_t converted = mbstowcs(data_, terminated.CStr(), static_cast<size_t>(n) + 1);
  if (converted != static_cast<size_t>(-1)) {
    SetLength(static_cast<int>(converted));
    return;
  }
  // Slow path for text that is not valid in the locale's encoding.
  mbstate_t state{};
  int pos = 0;
  int out = 0;
  const char* s = terminated.CStr();
  while (pos < n) {
    wchar_t wc = 0;
    size_t used = mbrtowc(&wc, s + pos, static_cast<size_t>(n - pos), &state);
    if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2)) {
      wc = L'?';
      used = 1;
      state = mbstate_t{};
    } else if (used == 0) {
      break;
    }
    data_[out++] = wc;
    pos += static_cast<int>(used);
  }
  SetLength(out);
}

UnicodeString::UnicodeString(const unsigned short* units, int count) {
  int n = LengthUpTo(units, count);
  SetLength(n);
  int out = 0;
  for (int i = 0; i < n; ++i) {
    unsigned long c = units[i];
    // 32-bit wide characters hold a surrogate pair as the one character it stands for.
    if (sizeof(wchar_t) == 4 && IsHighSurrogate(c) && i + 1 < n && IsLowSurrogate(units[i + 1])) {
      c = CombineSurrogates(c, units[++i]);
    }
    data_[out++] = static_cast<wchar_t>(c);
  }
  SetLength(out);
}

UnicodeStringFromUtf8::UnicodeStringFromUtf8(const char* utf8, int count) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(utf8);
  int n = b ? (count < 0 ? static_cast<int>(strlen(utf8)) : count) : 0;
  SetLength(n);
  int out = 0;
  int j = 0;
  while (j < n) {
    unsigned char c = b[j];
    int extra = c < 0x80             ? 0
                : (c & 0xE0) == 0xC0 ? 1
                : (c & 0xF0) == 0xE0 ? 2
                : (c & 0xF8) == 0xF0 ? 3
                                     : -1;
    if (extra < 0) {
      data_[out++] = L'?';
      j += 1;
      continue;
    }
    // A form cut short by the end of the text ends decoding.
    if (j + extra + 1 > n) break;
    int found = Continuations(b + j, n - j, extra);
    if (found < extra) {
      // The lead byte and the continuation bytes seen so far stand for one '?'.
      data_[out++] = L'?';
      j += found + 1;
      continue;
    }
    unsigned long wc = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) wc = (wc << 6) | (b[j + k] & 0x3F);
    j += extra + 1;
    if (wc > 0x10FFFF) wc = '?';
    out += StoreWide(wc, data_ + out);
  }
  SetLength(out);
  TrimAtZero();
}

UcsString::UcsString(const unsigned short* units, int count) {
  int n = LengthUpTo(units, count);
  Append(units, n);
  SetLength(n);
}

UcsString::UcsString(const wchar_t* wide, int count) {
  int n = LengthUpTo(wide, count);
  SetLength(Reserve(n, 2));
  int out = 0;
  for (int i = 0; i < n; ++i) {
    unsigned long c = static_cast<unsigned long>(wide[i]);
    if (c > 0xFFFF && c < 0x110000) {
      c -= 0x10000;
      data_[out++] = static_cast<unsigned short>(0xD800 | (c >> 10));
      data_[out++] = static_cast<unsigned short>(0xDC00 | (c & 0x3FF));
    } else {
      data_[out++] = static_cast<unsigned short>(c & 0xFFFF);
    }
  }
  SetLength(out);
}

MyCString WideToLocale(const wchar_t* wide, int count, bool* exact) {
  if (exact) *exact = true;
  int n = LengthUpTo(wide, count);
  CStringBufT<wchar_t> terminated(wide, n);
  MyCString result;
  size_t needed = wcstombs(nullptr, terminated.CStr(), 0);
  if (needed != static_cast<size_t>(-1) && needed < 0x7FFFFFF0u) {
    result.SetLength(static_cast<int>(needed));
    // The Windows C runtime counts without checking that every character converts; only the
    // conversion itself fails on one that does not.
    if (wcstombs(result.GetBuffer(), terminated.CStr(), needed + 1) == needed) return result;
    result.SetLength(0);
  }
  // Slow path for characters the locale cannot represent.
  mbstate_t state{};
  char bytes[MB_LEN_MAX];
  for (int i = 0; i < n; ++i) {
    size_t used = wcrtomb(bytes, terminated.CStr()[i], &state);
    if (used == static_cast<size_t>(-1)) {
      result.AppendOne('?');
      if (exact) *exact = false;
      state = mbstate_t{};
    } else {
      result.Append(bytes, static_cast<int>(used));
    }
  }
  return result;
}

bool LocaleKeepsAscii() {
  char ascii[128];
  for (int i = 1; i < 128; ++i) ascii[i - 1] = static_cast<char>(i);
  ascii[127] = '\0';
  wchar_t wide[128];
  if (mbstowcs(wide, ascii, 128) != 127) return false;
  for (int i = 0; i < 127; ++i) {
    if (wide[i] != static_cast<wchar_t>(i + 1)) return false;
  }
  return true;
}
