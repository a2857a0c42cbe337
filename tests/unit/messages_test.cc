// Message texts: built-in table, `message` overrides (read once per process), unescaping,
// version message formatting and the line written to standard error.
#include "app/messages.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "settings/settings_loader.h"
#include "test_files.h"

namespace {

using launcher_test::CrLf;
using launcher_test::PackagedText;
using launcher_test::ScopedEnv;
using launcher_test::Str;
using test_support::kWindows;

// The override cache is built on the first lookup of the process, so every test of this
// program sees the same settings: an external part followed by the packaged text.
class MessagesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ScopedEnv variable("MSG_VAR", "expanded");
    CSettingsLoader loader(false);
    const std::string external = CrLf({"message 7=External seven", "message 21=$MSG_VAR"});
    loader.DecodeSettingsText(external.data(), static_cast<int>(external.size()));
    loader.Append("\r\n", 2);
    loader.externalLength = loader.GetLength();
    const std::string packaged = PackagedText(CrLf({
        "message 7=Class not found, reinstall the application.",
        "message 13=Already running\\nClose the other window first.",
        "message 0=zero",
        "message -5=negative",
        "message abc=letters",
        "message 9 without equals sign",
        "message 6=",
        "message 12=%s / %s / %s",
        "message 11=50% sure\\",
        "message 15=a\\tb\\\\c\\qd\\re",
        "message 20 = spaced",
        "message  +16x=signed",
        "message 4294967305=wraps onto nine in 32 bits",
    }));
    loader.DecodeSettingsText(packaged.data(), static_cast<int>(packaged.size()));
    pldr = &loader;
    GetMessageText(1);  // builds the cache from these settings
    pldr = nullptr;
  }
};

TEST_F(MessagesTest, OverridesReplaceTexts) {
  const struct {
    unsigned long number;
    const char* text;
  } cases[] = {
      {7, "External seven"},  // the first value in settings order wins
      {13, "Already running\nClose the other window first."},
      {6, ""},
      {12, "%s / %s / %s"},
      {11, "50% sure"},
      {15, "a\tb\\cqd\re"},
      {20, " spaced"},
      {16, "signed"},
      {21, "expanded"},
  };
  for (const auto& c : cases) EXPECT_EQ(Str(GetMessageText(c.number)), c.text) << c.number;
}

TEST_F(MessagesTest, BuiltInTextsAndNumbers) {
  const struct {
    unsigned long number;
    const char* text;
  } cases[] = {
      {1, "Java Runtime Environment not found."},
      {2, "Java Runtime Environment not valid."},
      {3, "Java Virtual Machine initialize failed."},
      {4, "Java Virtual Machine starts failed."},
      {5, "Can not get the virtual machine version."},
      {8, "The main startup class is not valid, main method missing."},
      {10, "Error"},
      {0, "0"},  // values with number 0, letters or no '=' are ignored
      {9, "9"},  // 4294967305 is no number of the pair list either
      {14, "14"},
      {4294967291ul, "4294967291"},  // -5 must not come back as a large number
      {4294967295ul, "4294967295"},
  };
  for (const auto& c : cases) {
    // A number without a built-in text reads as itself; on Windows, whose texts are a string
    // table, as the empty text of a missing entry.
    const bool listed = LookUpBuiltInMessage(c.number) != nullptr;
    EXPECT_EQ(Str(GetMessageText(c.number)), listed || !kWindows ? c.text : "") << c.number;
  }
  // Overridden here, but the built-in text stays in the table.
  EXPECT_STREQ(LookUpBuiltInMessage(13), "There is already an instance of this program running.");
}

TEST(MessagesFormat, VersionMessages) {
  // The built-in templates first, then override texts.
  const struct {
    const char* text;
    const char* expected;
  } cases[] = {
      {LookUpBuiltInMessage(6),
       "Java virtual machine version 1.8.0_292 is too low, require 11 or higher."},
      {LookUpBuiltInMessage(12),
       "Java virtual machine version 1.8.0_292 is too high, version between 11 and 17 is "
       "required."},
      {"%s / %s / %s", "1.8.0_292 / 11 / 17"},
      {"[%s|%s|%s|%s|%s]", "[1.8.0_292|11|17||]"},
      {"100%% %s", "100% 1.8.0_292"},
      {"%%s", "%s"},
      {"plain", "plain"},
      {"", ""},
      // Anything the five strings cannot fill is printed as it is.
      {"[%s|%s|%s|%s|%s|%s]", "[%s|%s|%s|%s|%s|%s]"},
      {"%d %s", "%d %s"},
      {"%s %x", "%s %x"},
      {"%-5s", "%-5s"},
      {"ends in %", "ends in %"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Str(FormatVersionMessage(MyCString(c.text), "1.8.0_292", "11", "17")), c.expected)
        << c.text;
  }
  EXPECT_EQ(Str(FormatVersionMessage(MyCString("%s / %s / %s"), "21", "", "17")), "21 /  / 17");
}

TEST(MessagesUnescape, EscapeSequences) {
  const struct {
    const char* text;
    const char* expected;
  } cases[] = {
      {"a\\nb", "a\nb"},  {"a\\rb", "a\rb"},    {"a\\tb", "a\tb"},
      {"a\\\\b", "a\\b"}, {"a\\xb", "axb"},     {"trail\\", "trail"},
      {"\\\\\\", "\\"},   {"%d 50%", "%d 50%"}, {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Str(UnescapeMessageText(c.text)), c.expected) << c.text;
}

// Runs ReportMessage with standard error sent to a temporary file and returns what it wrote.
std::string ReportedText(unsigned long number) {
  launcher_test::TempDir dir;
  const std::string path = dir / "stderr.txt";
  fflush(stderr);
  int saved = dup(2);
  FILE* file = fopen(path.c_str(), "w");
  dup2(fileno(file), 2);
  ReportMessage(number);
  fflush(stderr);
  dup2(saved, 2);
  close(saved);
  fclose(file);
  FILE* in = fopen(path.c_str(), "r");  // text mode: Windows' line ends read as '\n'
  std::string text;
  char buffer[256];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, in)) > 0) text.append(buffer, n);
  fclose(in);
  return text;
}

TEST_F(MessagesTest, ReportWritesOneLineToStandardError) {
  EXPECT_EQ(ReportedText(13), "Already running\nClose the other window first.\n");
  EXPECT_EQ(ReportedText(11), "50% sure\n");
  EXPECT_EQ(ReportedText(2), "Java Runtime Environment not valid.\n");
  EXPECT_EQ(ReportedText(6), "\n");
}

}  // namespace
