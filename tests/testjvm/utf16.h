// Conversions between the UTF-8 text that crosses the JNI boundary and the UTF-16 strings the
// test JVM stores, plus the hexadecimal form used to log string contents unambiguously.
#ifndef TESTJVM_UTF16_H_
#define TESTJVM_UTF16_H_

#include <cstdint>
#include <cstdio>
#include <string>

namespace testjvm {

// Decodes standard UTF-8, including four-byte forms, and the modified UTF-8 a JVM produces
// (two-byte NUL, surrogates encoded one by one). Each malformed byte becomes U+FFFD.
inline std::u16string DecodeUtf8(const char* text) {
  static const uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  std::u16string out;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (*p != 0) {
    const unsigned lead = *p;
    if (lead < 0x80) {
      out += static_cast<char16_t>(lead);
      ++p;
      continue;
    }
    int extra = 0;
    uint32_t code = 0;
    if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3;
      code = lead & 0x07;
    }
    int i = 1;
    // A NUL terminator fails the continuation test, so this never reads past the end.
    for (; extra > 0 && i <= extra && (p[i] & 0xC0) == 0x80; ++i)
      code = (code << 6) | (p[i] & 0x3F);
    const bool overlong = code < kSmallest[extra] && !(extra == 1 && code == 0);
    if (extra == 0 || i <= extra || overlong || code > 0x10FFFF) {
      out += u'\uFFFD';
      ++p;
      continue;
    }
    p += extra + 1;
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (code >> 10));
      out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
  }
  return out;
}

inline void AppendUtf8Sequence(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Encodes as a JVM does for GetStringUTFChars: NUL as two bytes and every UTF-16 unit on its
// own, so a supplementary character takes six bytes.
inline std::string EncodeModifiedUtf8(const std::u16string& text) {
  std::string out;
  for (char16_t unit : text) {
    if (unit == 0) {
      out += "\xC0\x80";
    } else {
      AppendUtf8Sequence(out, unit);
    }
  }
  return out;
}

// Encodes as standard UTF-8 for the log; a lone surrogate keeps its three-byte form.
inline std::string EncodeUtf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t code = text[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8Sequence(out, code);
  }
  return out;
}

// Formats each UTF-16 unit as four lower-case hex digits, separated by blanks.
inline std::string HexUnits(const std::u16string& text) {
  std::string out;
  for (char16_t unit : text) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04x", static_cast<unsigned>(unit));
    if (!out.empty()) out += ' ';
    out += digits;
  }
  return out;
}

}  // namespace testjvm

#endif  // TESTJVM_UTF16_H_
