// Variable references in setting values, the launcher variables, and the value-collecting
// callbacks built on the expansion.
#include "settings/expand.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "settings/settings_loader.h"
#include "test_files.h"

namespace {

using launcher_test::AllValues;
using launcher_test::CrLf;
using launcher_test::ScopedEnv;
using launcher_test::ScopedLocale;
using launcher_test::ScopedPldr;
using launcher_test::Str;
using launcher_test::TempDir;
using test_support::kE9FromCLocale;
using test_support::kListSeparator;
using test_support::kUtf8Locale;
using Values = std::vector<std::string>;

class ExpandTest : public ::testing::Test {
 protected:
  ExpandTest() : loader_(false), published_(&loader_) {
    loader_.appHome = "/opt/app/";
    loader_.workDir = "/work/dir/";
    loader_.exePath = "/opt/app/tool";
  }
  std::string Expand(const std::string& value, bool utf8Mode = false) {
    return Str(
        ExpandValue(CBufferRefT<char>(value.data(), static_cast<int>(value.size())), utf8Mode));
  }

  ScopedEnv a_{"A", "x"};
  ScopedEnv a1_{"A_1", nullptr};
  ScopedEnv b_{"B", nullptr};
  ScopedEnv q_{"Q", nullptr};
  ScopedEnv z_{"Z", nullptr};
  ScopedEnv empty_{"EMPTY", ""};
  ScopedEnv again_{"AGAIN", "$A%A%"};
  ScopedEnv appHomeEnv_{"APPLICATION_HOME", nullptr};
  ScopedEnv appPathEnv_{"KSL_APP_PATH", nullptr};
  CSettingsLoader loader_;
  ScopedPldr published_;
};

TEST_F(ExpandTest, ReferenceForms) {
  const struct {
    const char* value;
    const char* expected;
  } cases[] = {
      {"%A%/bin", "x/bin"},
      {"$A/bin", "x/bin"},
      {"${A}/bin", "x/bin"},
      {"%B%", "%B%"},
      {"$B", "$B"},
      {"${B}", "${B}"},
      {"100%%", "100%"},
      {"$$A", "$A"},
      {"%A", "%A"},
      {"50% off", "50% off"},
      {"${A", "x"},
      {"%{A}%", "x"},
      {"%{A}", "%{A}"},
      {"$A.jar", "x.jar"},
      {"$A_1", "$A_1"},
      {"%B%A%", "%B%A%"},
      {"[$EMPTY]", test_support::kEmptyVariablesExist ? "[]" : "[$EMPTY]"},
      {"$A$A%A%${A}", "xxxx"},
      {"$", "$"},
      {"%", "%"},
      {"$ A", "$ A"},
      {"a$", "a$"},
      {"${Q} $A", "${Q} x"},
      {"$AGAIN", "$A%A%"},  // replacement text is not scanned again
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Expand(c.value), c.expected) << c.value;

  ScopedEnv a1("A_1", "one");
  EXPECT_EQ(Expand("$A_1"), "one");
}

TEST_F(ExpandTest, LauncherVariables) {
  ScopedEnv pwd("PWD", nullptr);
  const struct {
    const char* value;
    const char* expected;
  } cases[] = {
      {"%APPLICATION_HOME%lib", "/opt/app/lib"},
      {"%application_home%lib", "/opt/app/lib"},
      {"${Ksl_App_Path}.log", "/opt/app/tool.log"},
      {"$PWD", "/work/dir/"},
      {"$NOT_A_LAUNCHER_VARIABLE", "$NOT_A_LAUNCHER_VARIABLE"},
  };
  for (const auto& c : cases) EXPECT_EQ(Expand(c.value), c.expected) << c.value;

  // The environment wins over a launcher variable of the same name, in Windows' way of
  // spelling names too.
  ScopedEnv envPwd("PWD", "/from/env");
  EXPECT_EQ(Expand("$PWD"), "/from/env");
  ScopedEnv envHome("APPLICATION_HOME", "/env/home/");
  EXPECT_EQ(Expand("%APPLICATION_HOME%"), "/env/home/");
  EXPECT_EQ(Expand("%application_home%"),
            test_support::kEnvironmentIgnoresCase ? "/env/home/" : "/opt/app/");
}

// The HOME value, once found, is kept for the process; the checks therefore run in a child
// process so that the test can be repeated.
TEST_F(ExpandTest, HomeFromDriveAndPathIsKept) {
  auto checks = [this]() {
    int failures = 0;
    auto check = [&](const char* value, const char* expected) {
      std::string got = Expand(value);
      if (got != expected) {
        fprintf(stderr, "%s gave '%s', expected '%s'\n", value, got.c_str(), expected);
        ++failures;
      }
    };
    ScopedEnv home("HOME", nullptr);
    {
      ScopedEnv drive("HOMEDRIVE", nullptr);
      ScopedEnv path("HOMEPATH", nullptr);
      check("$HOME/x", "/x");
      ScopedEnv onlyDrive("HOMEDRIVE", "C:");
      check("[$HOME]", "[]");
    }
    {
      ScopedEnv drive("HOMEDRIVE", "C:");
      ScopedEnv path("HOMEPATH", "\\Users\\me");
      check("$HOME\\x", "C:\\Users\\me\\x");
    }
    check("%home%", "C:\\Users\\me");  // kept after the variables are gone
    return failures;
  };
  EXPECT_EXIT(exit(checks()), ::testing::ExitedWithCode(0), "");
}

TEST_F(ExpandTest, Utf8ModeConvertsSubstitutedText) {
  ScopedEnv latin("LATIN",
                  "a\xE9"
                  "b");
  EXPECT_EQ(Expand("$LATIN"),
            "a\xE9"
            "b");
  EXPECT_EQ(Expand("$LATIN", true), std::string("a") + kE9FromCLocale + "b");
  EXPECT_EQ(Expand("\xC3\xA9$A", true), "\xC3\xA9x");  // the value's own text is untouched
}

TEST_F(ExpandTest, Utf8ModeInAUtf8Locale) {
  if (!kUtf8Locale) GTEST_SKIP() << "the C runtime has no UTF-8 locale";
  ScopedLocale utf8(kUtf8Locale);
  ScopedEnv latin("LATIN",
                  "a\xE9"
                  "b");
  ScopedEnv text("TEXT", "\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(Expand("$TEXT", true), "\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(Expand("$LATIN", true), "a?b");
}

TEST_F(ExpandTest, PathListSplitsBeforeExpanding) {
  TempDir home, work;
  home.File("lib/a.jar");
  work.File("w.jar");
  loader_.appHome = home.Slash().c_str();
  loader_.workDir = work.Slash().c_str();
  // The values are written with ':', which stands for the system's separator.
  const auto list = [](std::string text) {
    for (char& c : text) c = c == ':' ? kListSeparator : c;
    return text;
  };
  const std::string s(1, kListSeparator), h = home.Slash();
  ScopedEnv variable("LIST", list("pp:qq").c_str());
  const struct {
    const char* value;
    std::string expected;
  } cases[] = {
      {"lib/a.jar::$A/b.jar", s + h + "lib/a.jar" + s + h + "x/b.jar"},
      {"a:b", s + h + "a" + s + h + "b"},
      {":a", s + h + "a"},
      {"a:", s + h + "a"},
      {":", ""},
      {"$LIST", s + h + list("pp:qq")},
      {"w.jar:/abs/c.jar", s + work.Slash() + "w.jar" + s + "/abs/c.jar"},
  };
  for (const auto& c : cases) {
    CBufferT<char> out;
    AppendPathList(&out, list(c.value).c_str());
    EXPECT_EQ(Str(out), c.expected) << c.value;
  }
}

TEST_F(ExpandTest, CollectingCallbacksExpandEachValue) {
  const std::string text =
      "\xEF\xBB\xBF" + CrLf({"message 7=$A", "message 8=%A%%%"}) + "property p=\xC3\xA9$A";
  loader_.DecodeSettingsText(text.data(), static_cast<int>(text.size()));
  EXPECT_EQ(AllValues(loader_, "message"), (Values{"7=x", "8=x%"}));
  MyCStringArray properties;
  loader_.GetSetting("property", CSettingsLoader::EnumCommonCallbackUtf8, &properties, false,
                     false);
  EXPECT_EQ(launcher_test::Elements(properties), (Values{"p=\xC3\xA9x"}));
}

// Lookups by key read each key the launcher's way: the first line or every line, expanded or
// not, packaged-only keys from the packaged part, property values expanded into UTF-8.
TEST_F(ExpandTest, KeyLookupsReadEachKeyByItsNature) {
  ScopedEnv latin("LATIN", "\xE9");
  const std::string external =
      CrLf({"mainclass ext.Main", "jvmdll ext/$A.so", "option -Dext=$A", "disableexternal ext"});
  loader_.DecodeSettingsText(external.data(), static_cast<int>(external.size()));
  loader_.Append("\r\n", 2);
  loader_.externalLength = loader_.GetLength();
  const std::string packaged =
      "\xEF\xBB\xBF" +
      CrLf({"mainclass pkg.$A", "jvmdll pkg.so", "minjre $A", "minjre 2", "option -Dpkg=%A%",
            "property p=$LATIN", "option -Dlatin=$LATIN", "disableexternal $A"});
  loader_.DecodeSettingsText(packaged.data(), static_cast<int>(packaged.size()));

  EXPECT_EQ(Str(loader_.GetValue(SettingKey::kMainClass)), "pkg.$A");
  EXPECT_EQ(Str(loader_.GetValue(SettingKey::kDisableExternal)), "$A");
  EXPECT_EQ(Str(loader_.GetValue(SettingKey::kJvmDll)), "ext/x.so");
  EXPECT_EQ(Str(loader_.GetValue(SettingKey::kMinJre)), "$A");
  MyCStringArray options = loader_.GetValues(SettingKey::kOption);
  EXPECT_EQ(launcher_test::Elements(options), (Values{"-Dext=x", "-Dpkg=x", "-Dlatin=\xE9"}));
  MyCStringArray properties = loader_.GetValues(SettingKey::kProperty);
  EXPECT_EQ(launcher_test::Elements(properties),
            (Values{std::string("p=") + kE9FromCLocale}));  // \xE9 read in the C locale
}

TEST_F(ExpandTest, VmNameIsReadOnce) {
  EXPECT_EQ(Str(loader_.GetVmName()), "-");
  std::string more = CrLf({"vm server"});
  loader_.DecodeSettingsText(more.data(), static_cast<int>(more.size()));
  EXPECT_EQ(Str(loader_.GetVmName()), "-");

  CSettingsLoader expanded(false);
  std::string text = CrLf({"vm ${A}_vm", "vm other"});
  expanded.DecodeSettingsText(text.data(), static_cast<int>(text.size()));
  EXPECT_EQ(Str(expanded.GetVmName()), "x_vm");

  CSettingsLoader empty(false);
  std::string blank = CrLf({"vm   "});
  empty.DecodeSettingsText(blank.data(), static_cast<int>(blank.size()));
  EXPECT_EQ(Str(empty.GetVmName()), "-");
}

}  // namespace
