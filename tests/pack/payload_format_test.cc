#include "payload_format.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace launcher_pack {
namespace {

using testing::Append;
using testing::MakeZip;

Bytes Filler(std::size_t n) {
  return Bytes(n, 'x');
}

TEST(PackFormat, EocdSearchTakesLastSignatureWithRoomForTheRecord) {
  const Bytes zip = MakeZip({{"a", "1"}});
  EXPECT_EQ(FindEocd(zip.data(), zip.size()), zip.size() - kEocdLength);

  // A comment moves the record away from the end; a signature inside the last 21 bytes is
  // too close to the end to be a record and is skipped.
  const Bytes with_comment = MakeZip({{"a", "1"}}, std::string("PK\x05\x06 tail", 9));
  EXPECT_EQ(FindEocd(with_comment.data(), with_comment.size()), zip.size() - kEocdLength);

  const Bytes none = Filler(100);
  EXPECT_FALSE(FindEocd(none.data(), none.size()));
  EXPECT_FALSE(FindEocd(zip.data(), kEocdLength - 1));
}

TEST(PackFormat, EocdSearchIsLimitedToTheWindow) {
  for (const std::size_t from_end : {kEocdSearchWindow, kEocdSearchWindow + 1}) {
    Bytes data = Filler(kEocdSearchWindow + 100);
    const std::size_t at = data.size() - from_end;
    data[at] = 'P', data[at + 1] = 'K', data[at + 2] = 5, data[at + 3] = 6;
    const auto found = FindEocd(data.data(), data.size());
    if (from_end == kEocdSearchWindow) {
      EXPECT_EQ(found, at);
    } else {
      EXPECT_FALSE(found);
    }
  }
}

Bytes Utf16(const std::vector<std::uint16_t>& units, bool big_endian) {
  Bytes out;
  std::vector<std::uint16_t> all{0xFEFF};
  all.insert(all.end(), units.begin(), units.end());
  for (const std::uint16_t u : all) {
    const std::uint8_t hi = u >> 8, lo = u & 0xFF;
    out.push_back(big_endian ? hi : lo);
    out.push_back(big_endian ? lo : hi);
  }
  return out;
}

TEST(PackFormat, DecodesUtf8WithAndWithoutByteOrderMark) {
  std::string text, error;
  const std::string expected = "k \xC3\xA9\xF0\x9F\x98\x80\n";  // "k é😀\n"
  Bytes utf8(std::begin(kUtf8Bom), std::end(kUtf8Bom));
  Append(utf8, expected);
  ASSERT_TRUE(DecodeSettingsText(utf8, &text, &error)) << error;
  EXPECT_EQ(text, expected);
  ASSERT_TRUE(DecodeSettingsText(Bytes(utf8.begin() + 3, utf8.end()), &text, &error)) << error;
  EXPECT_EQ(text, expected);
}

TEST(PackFormat, RejectsMalformedSettings) {
  const std::vector<std::pair<Bytes, std::string>> cases = {
      {Utf16({'a', 0xD83D}, false), "unpaired"},              // high surrogate at the end
      {Utf16({0xDE00, 'a'}, true), "unpaired"},               // lone low surrogate
      {Utf16({0xD83D, 'a'}, false), "unpaired"},              // high surrogate not followed by low
      {Bytes{0xFF, 0xFE, 'a'}, "odd number"},                 // truncated UTF-16
      {Bytes{'a', 0xC0, 0x80}, "not valid UTF-8 at byte 1"},  // overlong NUL
      {Bytes{'a', 'b', 0xE2, 0x82}, "not valid UTF-8"},       // truncated sequence
      {Bytes{0xED, 0xA0, 0x80}, "not valid UTF-8"},           // encoded surrogate
      {Bytes{'a', 0, 'b'}, "NUL"},
  };
  for (const auto& [raw, message] : cases) {
    std::string text, error;
    EXPECT_FALSE(DecodeSettingsText(raw, &text, &error));
    EXPECT_NE(error.find(message), std::string::npos) << error;
  }
}

TEST(PackFormat, SplitsOnEveryKindOfLineEnd) {
  using Lines = std::vector<std::string>;
  EXPECT_EQ(SplitLines(""), Lines{});
  EXPECT_EQ(SplitLines("a\r\nb\nc\rd\n\re"), (Lines{"a", "b", "c", "d", "e"}));
  EXPECT_EQ(SplitLines("a\n"), Lines{"a"});
  EXPECT_EQ(SplitLines("a\n\nb\r\r\n"), (Lines{"a", "", "b", ""}));
  EXPECT_EQ(SplitLines("\r\n\n\r"), (Lines{"", ""}));
}

std::optional<std::string> VersionIn(const std::string& text) {
  return FindLauncherVersion(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

TEST(PackFormat, FindsTheFirstWellFormedVersionRecord) {
  using namespace std::string_literals;
  EXPECT_EQ(VersionIn("\x7F"
                      "ELF..@@LAUNCHER-VERSION 1.0.0\0tail"s),
            "1.0.0");
  // The bare marker text, an unprinted byte or a record without its NUL are passed over.
  EXPECT_EQ(VersionIn("@@LAUNCHER-VERSION \0@@LAUNCHER-VERSION 1\n\0"
                      "@@LAUNCHER-VERSION 2.1-rc1 b7\0"s),
            "2.1-rc1 b7");
  EXPECT_EQ(VersionIn("@@LAUNCHER-VERSION " + std::string(kMaxVersionLength, '9') + '\0'),
            std::string(kMaxVersionLength, '9'));
  EXPECT_FALSE(VersionIn("@@LAUNCHER-VERSION " + std::string(kMaxVersionLength + 1, '9') + '\0'));
  EXPECT_FALSE(VersionIn("@@LAUNCHER-VERSION 1.0.0"));  // cut off before its NUL
  EXPECT_FALSE(VersionIn("@@LAUNCHER-VERSIO"));
}

}  // namespace
}  // namespace launcher_pack
