// The settings store: line syntax, lookups, decoding by byte order mark, path resolution, and
// the loading sequence with the external configuration file beside the executable.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/text_conv.h"
#include "settings/settings_loader.h"
#include "test_files.h"

namespace {

using launcher_test::AllValues;
using launcher_test::CrLf;
using launcher_test::PackagedText;
using launcher_test::PackedImage;
using launcher_test::ScopedCwd;
using launcher_test::ScopedExePath;
using launcher_test::ScopedLocale;
using launcher_test::Str;
using launcher_test::TempDir;
using test_support::kE9FromCLocale;
using test_support::kUtf8Locale;
using Values = std::vector<std::string>;

void Feed(CSettingsLoader& loader, const std::string& raw) {
  loader.DecodeSettingsText(raw.data(), static_cast<int>(raw.size()));
}

std::string Value(const std::string& text, const char* key, bool toLocale = true) {
  CSettingsLoader loader(false);
  Feed(loader, text);
  return Str(loader.GetSetting(key, nullptr, nullptr, false, toLocale));
}

// UTF-16 bytes with their byte order mark.
std::string Utf16(const std::u16string& text, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t unit : text) {
    char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    out += bigEndian ? std::string{high, low} : std::string{low, high};
  }
  return out;
}

TEST(SettingsSyntax, KeyAndValueForms) {
  const struct {
    std::string line;
    const char* key;
    std::string value;
  } cases[] = {
      {"mainclass=com.x.Main", "mainclass", "com.x.Main"},
      {"mainclass com.x.Main", "mainclass", "com.x.Main"},
      {"mainclass = com.x.Main", "mainclass", "com.x.Main"},
      {"  MAINCLASS   com.x.Main", "mainclass", "com.x.Main"},
      {"mainclass\tcom.x.Main", "mainclass", "\tcom.x.Main"},
      {"\tmainclass com.x.Main", "mainclass", ""},
      {"option==x", "option", "=x"},
      {"option = = x", "option", "= x"},
      {"mainclass com.x.Main  ", "mainclass", "com.x.Main  "},
      {"options -Xmx1g", "option", ""},
      {"option_x y", "option", ""},
      {"option2 y", "option", ""},
      {"option.x y", "option", ".x y"},
      {"vm:server", "vm", ":server"},
      {"#option -Xmx1g", "option", ""},
      {"opt", "option", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Value(c.line + "\r\n", c.key), c.value) << "line '" << c.line << "'";
  }
}

TEST(SettingsSyntax, FirstLineForSingleLookupAllLinesForCallback) {
  CSettingsLoader loader(false);
  Feed(loader, CrLf({"stdout first", "option a", "", "Option b", "stdout second", "OPTION c"}));
  EXPECT_EQ(Str(loader.GetSetting("stdout")), "first");
  MyCStringArray list;
  MyCString result =
      loader.GetSetting("option", CSettingsLoader::EnumCommonCallback, &list, false, true);
  EXPECT_TRUE(result.IsEmpty());
  EXPECT_EQ(launcher_test::Elements(list), (Values{"a", "b", "c"}));
  EXPECT_EQ(Str(loader.GetSetting("absent")), "");
}

TEST(SettingsSyntax, AllLineEndingsSplitTheSameWay) {
  const std::string text = "option 1\noption 2\roption 3\n\roption 4\r\n\r\n\noption 5";
  CSettingsLoader loader(false);
  Feed(loader, text);
  EXPECT_EQ(AllValues(loader, "option"), (Values{"1", "2", "3", "4", "5"}));
}

TEST(SettingsLineReader, SplitsAtEveryTerminator) {
  const struct {
    std::string text;
    Values lines;
  } cases[] = {
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"a\n\r\nb\r", {"a", "", "b"}},
      {"a\r\rb", {"a", "", "b"}},
      {"\n", {""}},
      {"", {}},
      {std::string("x\r\n\0y", 5), {"x"}},
  };
  for (const auto& c : cases) {
    CLineReader reader(c.text.c_str());
    MyCString line;
    Values lines;
    while (reader.ReadLine(line)) lines.push_back(Str(line));
    EXPECT_EQ(lines, c.lines) << "text of " << c.text.size() << " bytes";
  }
}

TEST(SettingsSyntax, NulEndsTheText) {
  CSettingsLoader loader(false);
  Feed(loader, PackagedText(CrLf({"option a"})) + CrLf({"option b"}));
  EXPECT_EQ(AllValues(loader, "option"), (Values{"a"}));
}

TEST(SettingsSyntax, PackagedOnlyLookupSkipsTheExternalPart) {
  CSettingsLoader loader(false);
  Feed(loader, CrLf({"mainclass ext.Main", "stdout ext"}));
  loader.Append("\r\n", 2);
  loader.externalLength = loader.GetLength();
  Feed(loader, PackagedText(CrLf({"stdout pkg", "mainclass pkg.Main"})));
  EXPECT_EQ(Str(loader.GetSetting("mainclass", nullptr, nullptr, true)), "pkg.Main");
  EXPECT_EQ(Str(loader.GetSetting("mainclass")), "ext.Main");
  EXPECT_EQ(Str(loader.GetSetting("stdout", nullptr, nullptr, true)), "pkg");
}

// Every line of text from `from` that matches key, walked the plain way: one line after
// another up to the first NUL, leading blanks, the key in any case, then blanks, '=', blanks.
Values ReferenceLookup(const std::string& text, size_t from, const std::string& key) {
  Values values;
  size_t pos = from;
  const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
  const auto nameChar = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
  };
  while (pos < text.size() && text[pos] != '\0') {
    size_t end = text.find_first_of(std::string("\r\n\0", 3), pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    if (end < text.size() && text[end] != '\0') {
      char first = text[end++];
      if (end < text.size() && text[end] == (first == '\r' ? '\n' : '\r')) ++end;
    }
    pos = end;
    size_t i = line.find_first_not_of(' ');
    if (i == std::string::npos) i = line.size();
    if (line.size() - i < key.size()) continue;
    bool same = true;
    for (size_t j = 0; j < key.size(); ++j) same = same && lower(line[i + j]) == lower(key[j]);
    if (!same) continue;
    i += key.size();
    if (i < line.size() && nameChar(line[i])) continue;
    while (i < line.size() && line[i] == ' ') ++i;
    if (i < line.size() && line[i] == '=') ++i;
    while (i < line.size() && line[i] == ' ') ++i;
    values.push_back(line.substr(i));
  }
  return values;
}

Values Lookup(const CSettingsLoader& loader, const char* key, bool packagedOnly) {
  Values values;
  loader.GetSetting(
      key, [](void* out, const char* v) { static_cast<Values*>(out)->push_back(v); }, &values,
      packagedOnly, false);
  return values;
}

// Lookups skip lines that cannot hold a key through a cache of line starts; whatever the text,
// the external offset and the key, they must find exactly what a plain walk finds.
TEST(SettingsLookup, AgreesWithAPlainWalkOnRandomTexts) {
  const std::vector<std::string> pieces = {"option", "OPTION",    "options", "option.x",
                                           "opt",    "mainclass", "  ",      " ",
                                           "=",      "==",        "\t",      "#",
                                           "x",      "_",         "9",       "\r",
                                           "\n",     "\r\n",      "\n\r",    std::string(1, '\0')};
  const std::vector<std::string> keys = {"option", "mainclass", "opt", "x", "_",
                                         "9",      "#",         "",    "=", "\t"};
  std::mt19937 random(20261208);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const int count = static_cast<int>(random() % 24);
    for (int i = 0; i < count; ++i) text += pieces[random() % pieces.size()];
    CSettingsLoader loader(false);
    loader.Append(text.data(), static_cast<int>(text.size()));
    loader.externalLength = text.empty() ? 0 : static_cast<int>(random() % (text.size() + 2));
    const size_t from = std::min(static_cast<size_t>(loader.externalLength), text.size());
    for (const std::string& key : keys) {
      SCOPED_TRACE(::testing::Message() << "round " << round << " key '" << key << "'");
      EXPECT_EQ(Lookup(loader, key.c_str(), false), ReferenceLookup(text, 0, key));
      EXPECT_EQ(Lookup(loader, key.c_str(), true), ReferenceLookup(text, from, key));
      const Values first = ReferenceLookup(text, 0, key);
      EXPECT_EQ(Str(loader.GetSetting(key.c_str(), nullptr, nullptr, false, false)),
                first.empty() ? "" : first[0]);
    }
    if (HasFailure()) break;
  }
}

TEST(SettingsLookup, SeesEveryChangeOfTheText) {
  CSettingsLoader loader(false);
  Feed(loader, CrLf({"# a comment", "option a"}));
  EXPECT_EQ(AllValues(loader, "option"), (Values{"a"}));
  Feed(loader, CrLf({"", "option b"}));
  EXPECT_EQ(AllValues(loader, "option"), (Values{"a", "b"}));
  // The same length and the same storage, with the lines moved.
  const std::string swapped = CrLf({"option a", "# a comment", "", "option b"});
  ASSERT_EQ(swapped.size(), static_cast<size_t>(loader.GetLength()));
  memcpy(loader.GetBuffer(), swapped.data(), swapped.size());
  EXPECT_EQ(Str(loader.GetSetting("option")), "a");
  loader.SetLength(0);
  EXPECT_EQ(AllValues(loader, "option"), Values{});
  loader.AppendStr("option c");
  EXPECT_EQ(AllValues(loader, "option"), (Values{"c"}));
  // Moving the external boundary changes what a packaged-only lookup walks.
  loader.AppendStr("\r\nmainclass m");
  loader.externalLength = 10;
  EXPECT_EQ(Str(loader.GetSetting("mainclass", nullptr, nullptr, true)), "m");
  loader.externalLength = loader.GetLength();
  EXPECT_EQ(Str(loader.GetSetting("mainclass", nullptr, nullptr, true)), "");
}

const std::string kHighBytesText =
    "\xEF\xBB\xBF" + CrLf({"a caf\xC3\xA9 \xE2\x82\xAC", "b plain", "c x\x80y", "d caf\xC3\xA9"});

TEST(SettingsToLocale, ConvertsOnlyValuesWithHighBytes) {
  EXPECT_EQ(Value(kHighBytesText, "a", false), "caf\xC3\xA9 \xE2\x82\xAC");
  // Not representable in the C locale: the value stays in UTF-8 rather than losing characters.
  EXPECT_EQ(Value(kHighBytesText, "a", true), "caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(Value(kHighBytesText, "b", true), "plain");
  // The Windows C locale holds Latin-1 characters.
  EXPECT_EQ(Value(kHighBytesText, "d", true),
            test_support::kCLocaleIsLatin1 ? "caf\xE9" : "caf\xC3\xA9");
}

TEST(SettingsToLocale, Utf8LocaleKeepsValidText) {
  if (!kUtf8Locale) GTEST_SKIP() << "the C runtime has no UTF-8 locale";
  ScopedLocale utf8(kUtf8Locale);
  EXPECT_EQ(Value(kHighBytesText, "a", true), "caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(Value(kHighBytesText, "c", true), "x?y");  // malformed UTF-8 becomes '?'
}

TEST(SettingsDecode, ByteOrderMarkSelectsEncoding) {
  const struct {
    std::string raw;
    std::string text;
    bool utf8Locale;
  } cases[] = {
      {"\xEF\xBB\xBFk \xC3\xA9", "k \xC3\xA9", false},
      {Utf16(u"k \u00E9\u20AC", false), "k \xC3\xA9\xE2\x82\xAC", false},
      {Utf16(u"k \u00E9\u20AC", true), "k \xC3\xA9\xE2\x82\xAC", false},
      {Utf16(u"a\U0001F600b", false),
       "a\xF0\x9F\x98\x80"
       "b",
       false},                                                // one character
      {Utf16(u"ab", false) + "c", "ab", false},               // odd byte dropped
      {Utf16(std::u16string(u"a\0b", 3), true), "a", false},  // zero unit ends it
      {"k \xC3\xA9", "k \xC3\xA9", true},
      {"k \xE9x", std::string("k ") + kE9FromCLocale + "x", false},
      {std::string("k v\0w", 5), "k v", false},
      {std::string("k v\0w", 5), "k v", true},
      {std::string("k v\0\xE9", 5), "k v", false},  // ASCII up to the NUL: copied as it is
      {std::string("k \xE9\0w", 5), std::string("k ") + kE9FromCLocale, false},  // ends at NUL
      {"\xFF", test_support::kCLocaleIsLatin1 ? "\xC3\xBF" : "?", false},  // too short for a mark
  };
  for (const auto& c : cases) {
    if (c.utf8Locale && !kUtf8Locale) continue;
    std::unique_ptr<ScopedLocale> locale;
    if (c.utf8Locale) locale = std::make_unique<ScopedLocale>(kUtf8Locale);
    CSettingsLoader loader(false);
    Feed(loader, c.raw);
    EXPECT_EQ(Str(loader), c.text) << "raw text of " << c.raw.size() << " bytes";
    // Plain ASCII skips the conversion only where the locale would leave it unchanged.
    EXPECT_TRUE(LocaleKeepsAscii());
  }
}

TEST(SettingsResolvePath, PrefersExecutableDirectoryThenWorkingDirectory) {
  TempDir home, work;
  home.File("both/a.jar");
  work.File("both/a.jar");
  work.File("lib/a.jar");
  CSettingsLoader loader(false);
  loader.appHome = home.Slash().c_str();
  loader.workDir = work.Slash().c_str();
  const struct {
    const char* path;
    std::string expected;
  } cases[] = {
      {"lib/a.jar", work / "lib/a.jar"},
      {"both/a.jar", home / "both/a.jar"},
      {"none/a.jar", home / "none/a.jar"},
      {"", home.Slash()},
      {"/opt/x", "/opt/x"},
      {"C:x", "C:x"},
      {"\\dir\\x", "\\dir\\x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Str(loader.ResolvePath(CStringRefT<char>(c.path))), c.expected) << c.path;
  }
}

TEST(SettingsWorkDir, RefreshAddsTrailingSlash) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  CSettingsLoader loader(false);
  loader.RefreshWorkDir();
  EXPECT_EQ(Str(loader.workDir), dir.Slash());
  // The platform reads it into a buffer only with room for its NUL.
  char buffer[4096];
  EXPECT_TRUE(GetWorkingDir(buffer, static_cast<int>(dir.path().size()) + 1));
  EXPECT_FALSE(GetWorkingDir(buffer, static_cast<int>(dir.path().size())));
  EXPECT_STREQ(buffer, "");
  // A root directory ends in its separator already.
  const std::string root = std::filesystem::path(dir.path()).root_path().string();
  ScopedCwd inRoot(root);
  loader.RefreshWorkDir();
  EXPECT_EQ(Str(loader.workDir), root);
}

// A packed executable in a temporary directory, loaded through the real loading sequence.
class SettingsExternal : public ::testing::Test {
 protected:
  std::string Pack(const std::string& exe, const std::string& packagedLines) {
    PackedImage image;
    image.settings = PackagedText(packagedLines);
    return dir_.File(exe, image.Build());
  }
  std::unique_ptr<CSettingsLoader> Load(const std::string& exePath) {
    ScopedExePath own(exePath, 22);
    return std::make_unique<CSettingsLoader>(true);
  }
  TempDir dir_;
};

TEST_F(SettingsExternal, CandidateNamesInOrder) {
  const char* names[] = {"tool.bin.cfg", "tool.bin.config", "tool.cfg", "tool.config"};
  for (int first = 0; first < 4; ++first) {
    TempDir dir;
    PackedImage image;
    image.settings = PackagedText(CrLf({"stdout packaged"}));
    std::string exe = dir.File("opt/app/tool.bin", image.Build());
    for (int i = first; i < 4; ++i)
      dir.File(std::string("opt/app/") + names[i], "stdout " + std::string(names[i]));
    auto loader = Load(exe);
    EXPECT_EQ(Str(loader->GetSetting("stdout")), names[first]);
    EXPECT_EQ(Str(loader->exePath), exe);
    EXPECT_EQ(Str(loader->appHome), dir / "opt/app/");
  }
}

TEST_F(SettingsExternal, NamesWithoutExtension) {
  std::string exe = Pack("bin/tool", CrLf({"stdout packaged"}));
  dir_.File("bin/tool.config", "stdout from-config");
  EXPECT_EQ(Str(Load(exe)->GetSetting("stdout")), "from-config");

  // The '.' of a directory name does not start an extension.
  std::string dotted = Pack("my.app/tool", CrLf({"stdout packaged"}));
  dir_.File("my.cfg", "stdout wrong-file");
  EXPECT_EQ(Str(Load(dotted)->GetSetting("stdout")), "packaged");
  dir_.File("my.app/tool.cfg", "stdout right-file");
  EXPECT_EQ(Str(Load(dotted)->GetSetting("stdout")), "right-file");
}

// On Windows '\' ends the directory part as '/' does; elsewhere it belongs to the file name.
TEST_F(SettingsExternal, BackslashInTheOwnPath) {
  std::string exe = Pack("my.app\\tool", CrLf({"stdout packaged"}));
  dir_.File("my.cfg", "stdout before the dot of my.app");
  EXPECT_EQ(Str(Load(exe)->GetSetting("stdout")),
            test_support::kWindows ? "packaged" : "before the dot of my.app");
}

// An own path longer than the launcher's path buffer leaves it without its file and home.
TEST_F(SettingsExternal, OwnPathUpToThePathBuffer) {
  std::string relative;
  for (size_t i = dir_.path().size() + 1; i < test_support::kMaxPath; ++i) {
    relative += i % 100 == 0 && i + 1 < test_support::kMaxPath ? '/' : 'x';
  }
  const std::string exe = Pack(relative, CrLf({"stdout packaged"}));
  ASSERT_EQ(exe.size(), static_cast<size_t>(test_support::kMaxPath));
  auto fits = Load(exe);
  EXPECT_EQ(Str(fits->exePath), exe);
  EXPECT_EQ(Str(fits->GetSetting("stdout")), "packaged");
  auto tooLong = Load(exe + "x");
  EXPECT_EQ(Str(tooLong->exePath), "");
  EXPECT_EQ(Str(tooLong->appHome), "");
  EXPECT_EQ(tooLong->trailerEnd, -1);
}

TEST_F(SettingsExternal, ExternalValuesComeFirst) {
  std::string exe = Pack("tool", CrLf({"stdout /var/log/x", "option -Xmx1g", "stderr err",
                                       "mainclass pkg.Main", "argv p"}));
  const std::string external = CrLf({"stdout /tmp/out.txt", "option -Xmx512m", "stderr",
                                     "mainclass ext.Main", "disableexternal true"}) +
                               "argv e";  // the last line has no line break
  dir_.File("tool.cfg", external);
  auto loader = Load(exe);
  EXPECT_EQ(loader->externalLength, static_cast<int>(external.size()) + 2);
  EXPECT_EQ(Str(loader->GetSetting("stdout")), "/tmp/out.txt");
  EXPECT_EQ(Str(loader->GetSetting("stderr")), "");  // an empty external value hides the other
  EXPECT_EQ(AllValues(*loader, "option"), (Values{"-Xmx512m", "-Xmx1g"}));
  EXPECT_EQ(AllValues(*loader, "argv"), (Values{"e", "p"}));
  EXPECT_EQ(Str(loader->GetSetting("mainclass", nullptr, nullptr, true)), "pkg.Main");
}

TEST_F(SettingsExternal, DisableExternalInPackagedSettings) {
  const struct {
    const char* value;
    bool discards;
  } cases[] = {{"true", true}, {"TRUE", true}, {"tRuE", true},  {"yes", false},
               {"1", false},   {"", false},    {"true ", false}};
  for (const auto& c : cases) {
    const std::string packaged =
        CrLf({"stdout pkg", std::string("disableexternal ") + c.value, "option p"});
    std::string exe = Pack("app", packaged);
    dir_.File("app.cfg", CrLf({"stdout ext", "option e"}));
    auto loader = Load(exe);
    if (c.discards) {
      EXPECT_EQ(loader->externalLength, 0) << c.value;
      EXPECT_EQ(Str(*loader), packaged + std::string(1, '\0')) << c.value;
      EXPECT_EQ(AllValues(*loader, "option"), (Values{"p"})) << c.value;
    } else {
      EXPECT_EQ(Str(loader->GetSetting("stdout")), "ext") << c.value;
      EXPECT_EQ(AllValues(*loader, "option"), (Values{"e", "p"})) << c.value;
    }
  }
}

TEST_F(SettingsExternal, FileEncodings) {
  const struct {
    std::string contents;
    bool utf8Locale;
    std::string value;
  } cases[] = {
      {"\xEF\xBB\xBFoption \xC3\xA9\xE2\x82\xAC\r\n", false, "\xC3\xA9\xE2\x82\xAC"},
      {Utf16(u"option \u00E9\u20AC\r\n", false), false, "\xC3\xA9\xE2\x82\xAC"},
      {Utf16(u"option \u00E9\u20AC", true), false, "\xC3\xA9\xE2\x82\xAC"},
      {"option \xC3\xA9\xE2\x82\xAC", true, "\xC3\xA9\xE2\x82\xAC"},
      {"option \xE9\r\n", false, kE9FromCLocale},
  };
  for (const auto& c : cases) {
    if (c.utf8Locale && !kUtf8Locale) continue;
    std::unique_ptr<ScopedLocale> locale;
    if (c.utf8Locale) locale = std::make_unique<ScopedLocale>(kUtf8Locale);
    std::string exe = Pack("enc", CrLf({"option packaged"}));
    dir_.File("enc.cfg", c.contents);
    auto loader = Load(exe);
    EXPECT_EQ(AllValues(*loader, "option", false, false), (Values{c.value, "packaged"}))
        << "file of " << c.contents.size() << " bytes";
  }
}

// ("nul" would name the null device on Windows.)
TEST_F(SettingsExternal, NulInsideTheFile) {
  std::string exe = Pack("zeros", CrLf({"mainclass pkg.Main", "option p"}));
  const std::string lines = CrLf({"option a"}) + std::string(1, '\0') + CrLf({"option b"});
  dir_.File("zeros.cfg", "\xEF\xBB\xBF" + lines);
  auto loader = Load(exe);
  EXPECT_EQ(AllValues(*loader, "option"), (Values{"a"}));
  EXPECT_EQ(Str(loader->GetSetting("mainclass", nullptr, nullptr, true)), "pkg.Main");
  EXPECT_EQ(AllValues(*loader, "option", true), (Values{"p"}));

  // In UTF-16 or without a mark the conversion stops at the NUL: only the rest of the file is
  // lost.
  dir_.File("zeros.cfg", Utf16(std::u16string(u"option a\r\n\0option b", 19), false));
  EXPECT_EQ(AllValues(*Load(exe), "option"), (Values{"a", "p"}));
  dir_.File("zeros.cfg", lines);
  EXPECT_EQ(AllValues(*Load(exe), "option"), (Values{"a", "p"}));
}

TEST_F(SettingsExternal, EmptyFileAddsNothing) {
  const std::string packaged = CrLf({"option p"});
  std::string exe = Pack("empty", packaged);
  dir_.File("empty.cfg", "");
  auto loader = Load(exe);
  EXPECT_EQ(loader->externalLength, 0);
  EXPECT_EQ(Str(*loader), packaged + std::string(1, '\0'));
  dir_.File("empty.cfg", "\xEF\xBB\xBF");
  EXPECT_EQ(Load(exe)->externalLength, 0);
}

}  // namespace
