// Conversions between UTF-8, wide characters, 16-bit units and the locale's encoding.
#include "core/text_conv.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_files.h"

namespace {

using launcher_test::ScopedLocale;
using launcher_test::Str;
using test_support::kCLocaleIsLatin1;
using test_support::kUtf8Locale;

std::wstring Wide(const CStringBufT<wchar_t>& s) {
  return std::wstring(s.CStr(), static_cast<size_t>(s.GetLength()));
}

std::vector<unsigned> Units(const UcsString& s) {
  std::vector<unsigned> out;
  for (int i = 0; i < s.GetLength(); ++i) out.push_back(s.GetData()[i]);
  return out;
}

struct DecodeCase {
  std::string bytes;
  std::wstring expected;
};

TEST(TextConvUtf8Decode, DecodesAndReplacesMalformedSequences) {
  const DecodeCase cases[] = {
      {"plain", L"plain"},
      {"\xC3\xA9", L"\u00E9"},
      {"\xE2\x82\xAC", L"\u20AC"},
      {"\xC3"
       "A",
       L"?A"},
      {"\x80", L"?"},
      {"a\xE2\x82", L"a"},  // too short for a three-byte form: decoding ends
      {"x\xC3", L"x"},      // too short for a two-byte form
      {"\xE2"
       "AB",
       L"?AB"},  // lead byte without continuation: one byte consumed
      {"\xE2\x82"
       "AB",
       L"?AB"},  // one continuation only: two bytes consumed
      {"\xF0\x9F\x98\x80", L"\U0001F600"},
      {"\xF0\x9F\x98"
       "A",
       L"?A"},                     // three of four bytes: one '?' for them
      {"a\xF0\x9F\x98", L"a"},     // cut short by the end: decoding ends
      {"\xF4\x90\x80\x80", L"?"},  // beyond Unicode
      {"\xC1\x81", L"A"},          // overlong forms are accepted
      {"\xFF"
       "z",
       L"?z"},
      {std::string("a\0b", 3), L"a"},  // the result ends at the first zero character
  };
  for (const DecodeCase& c : cases) {
    UnicodeStringFromUtf8 decoded(c.bytes.data(), static_cast<int>(c.bytes.size()));
    EXPECT_EQ(Wide(decoded), c.expected) << "input of " << c.bytes.size() << " bytes";
  }
  UnicodeStringFromUtf8 surrogate("\xED\xA0\xBD", 3);
  ASSERT_EQ(surrogate.GetLength(), 1);
  EXPECT_EQ(static_cast<unsigned>(surrogate.CStr()[0]), 0xD83Du);
}

// Characters above U+FFFF are surrogate pairs where wide characters have 16 bits (Windows).
TEST(TextConvUtf8Encode, EncodesEveryRange) {
  const struct {
    const wchar_t* wide;
    std::string bytes;
  } cases[] = {
      {L"A", "A"},
      {L"\x7F", "\x7F"},
      {L"\x80", "\xC2\x80"},
      {L"\xE9", "\xC3\xA9"},
      {L"\x7FF", "\xDF\xBF"},
      {L"\x800", "\xE0\xA0\x80"},
      {L"\x20AC", "\xE2\x82\xAC"},
      {L"\xD83D", "\xED\xA0\xBD"},  // a lone surrogate from 16-bit input
      {L"\xFFFF", "\xEF\xBF\xBF"},
      {L"\U00010000", "\xF0\x90\x80\x80"},
      {L"\U0001F600", "\xF0\x9F\x98\x80"},
      {L"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Str(Utf8String(c.wide)), c.bytes) << c.bytes.size() << " bytes";
  }
  EXPECT_EQ(Str(Utf8String(L"ab\0cd", 5)), "ab");
  EXPECT_EQ(Str(Utf8String(L"abcd", 2)), "ab");
  EXPECT_EQ(Str(Utf8String(L"\u00E9t\u00E9 \u20AC")), "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC");
}

TEST(TextConvUnits, WideToUnitsMakesSurrogatePairs) {
  UcsString ucs(L"a\U0001F600\u20ACb");
  EXPECT_EQ(Units(ucs), (std::vector<unsigned>{0x61, 0xD83D, 0xDE00, 0x20AC, 0x62}));
  EXPECT_EQ(ucs.CStr()[ucs.GetLength()], 0);
  EXPECT_EQ(Units(UcsString(L"\U0010FFFF")), (std::vector<unsigned>{0xDBFF, 0xDFFF}));
  EXPECT_EQ(Units(UcsString(L"xy\0z", 4)), (std::vector<unsigned>{0x78, 0x79}));
}

TEST(TextConvUnits, UnitsWidenAndPairsCombine) {
  const unsigned short units[] = {0x41, 0xD83D, 0xDE00, 0xFFFF, 0, 0x42};
  // Stops at the zero unit; 0xFFFF is zero-extended.
  EXPECT_EQ(Wide(UnicodeString(units, 6)), L"A\U0001F600\xFFFF");
  // A lone surrogate stays what it is.
  EXPECT_EQ(UnicodeString(units, 2).GetLength(), 2);
  EXPECT_EQ(static_cast<unsigned>(UnicodeString(units, 2).CStr()[1]), 0xD83Du);
  EXPECT_EQ(Str(Utf8String(UnicodeString(units, 3).CStr())), "A\xF0\x9F\x98\x80");

  UcsString ucs(units, 6);
  EXPECT_EQ(Units(ucs), (std::vector<unsigned>{0x41, 0xD83D, 0xDE00, 0xFFFF}));
  EXPECT_EQ(UcsString(units, 1).GetLength(), 1);
}

TEST(TextConvLocale, MultibyteToWideInCLocale) {
  EXPECT_EQ(Wide(UnicodeString("abc", 3)), L"abc");
  EXPECT_EQ(Wide(UnicodeString("abcdef", 3)), L"abc");
  EXPECT_EQ(Wide(UnicodeString("ab\0cd", 5)), L"ab");
  EXPECT_EQ(Wide(UnicodeString("", 0)), L"");
  // A byte that is no character of the locale is replaced and the rest still converted; the
  // Windows C locale reads it as Latin-1.
  EXPECT_EQ(Wide(UnicodeString("a\xE9"
                               "bc",
                               4)),
            std::wstring(L"a") + (kCLocaleIsLatin1 ? L'\xE9' : L'?') + L"bc");
}

TEST(TextConvLocale, BothWaysInUtf8Locale) {
  if (!kUtf8Locale) GTEST_SKIP() << "the C runtime has no UTF-8 locale";
  ScopedLocale utf8(kUtf8Locale);
  EXPECT_EQ(Str(WideToLocale(L"a\u00E9\U0001F600")), "a\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(Wide(UnicodeString("\xC3\xA9x\xE2\x82\xAC", 6)), L"\u00E9x\u20AC");
  EXPECT_EQ(Wide(UnicodeString("\xF0\x9F\x98\x80", 4)), L"\U0001F600");
  EXPECT_EQ(Wide(UnicodeString("a\xFF"
                               "b",
                               3)),
            L"a?b");
  EXPECT_EQ(Wide(UnicodeString("a\xC3", 2)), L"a?");  // cut-off character at the end
  EXPECT_EQ(Wide(UnicodeString("\x80\x80\xC3\xA9", 4)), L"??\u00E9");
}

TEST(TextConvLocale, WideToMultibyte) {
  EXPECT_EQ(Str(WideToLocale(L"plain")), "plain");
  EXPECT_EQ(Str(WideToLocale(L"a\u00E9b\u20AC")), kCLocaleIsLatin1 ? "a\xE9"
                                                                     "b?"
                                                                   : "a?b?");
  EXPECT_EQ(Str(WideToLocale(L"abcd", 2)), "ab");
}

}  // namespace
