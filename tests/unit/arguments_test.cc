// Splitting `argv` values into words, and joining a base directory with a path.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/driver.h"
#include "jvm/main_invoke.h"

namespace {

using Words = std::vector<std::string>;

Words Split(const std::string& value, int* count = nullptr) {
  std::vector<char> text(value.begin(), value.end());
  text.push_back('\0');
  CBufferT<char*> list;
  int n = SplitArguments(list, text.data());
  if (count) *count = n;
  Words words;
  for (int i = 0; i < list.GetLength(); ++i) {
    char* word = list.GetData()[i];
    EXPECT_TRUE(word >= text.data() && word < text.data() + text.size()) << "word outside text";
    words.push_back(word);
  }
  return words;
}

TEST(ArgumentsSplit, WordsQuotesAndEscapes) {
  const struct {
    const char* value;
    Words words;
  } cases[] = {
      {"-v \"two words\" three", {"-v", "two words", "three"}},
      {"\"\"", {""}},
      {"   ", {}},
      {"", {}},
      {" lead  trail ", {"lead", "trail"}},
      {"a\tb \t c", {"a", "b", "c"}},
      {"a  \"\" b", {"a", "", "b"}},
      {"a\"\"b", {"ab"}},
      {"ab\"c d\"ef", {"abc def"}},
      {"\"unclosed word", {"unclosed word"}},
      {"a\\\"b", {"a\"b"}},  // outside quotes: \" gives "
      {"a\\\\b", {"a\\b"}},  // outside quotes: \\ gives one backslash
      {"x\\ y", {"x y"}},    // outside quotes: an escaped blank stays in the word
      {"\\q", {"q"}},
      {"trail\\", {"trail\\"}},  // a final backslash is kept
      {"\"a\\tb\"", {"a\\tb"}},  // inside quotes: \t keeps both characters
      {"\"a\\\"b\"", {"a\"b"}},  // inside quotes: \" gives "
      {"\"a\\\\b\"", {"a\\b"}},  // inside quotes: \\ gives one backslash
      {"\"\\", {"\\"}},          // inside quotes at the end: the backslash is kept
      {"\"tab\tinside\"", {"tab\tinside"}},
  };
  for (const auto& c : cases) {
    int count = -1;
    EXPECT_EQ(Split(c.value, &count), c.words) << c.value;
    EXPECT_EQ(count, static_cast<int>(c.words.size())) << c.value;
  }
}

TEST(ArgumentsSplit, ValuesAddToOneListAndQuotesResetPerValue) {
  char first[] = "a \"open";
  char second[] = "x y";
  CBufferT<char*> list;
  EXPECT_EQ(SplitArguments(list, first), 2);
  EXPECT_EQ(SplitArguments(list, second), 4);
  Words words;
  for (int i = 0; i < list.GetLength(); ++i) words.push_back(list.GetData()[i]);
  EXPECT_EQ(words, (Words{"a", "open", "x", "y"}));
}

TEST(JoinPathTest, JoinsTheLauncherWay) {
  const struct {
    const char* base;
    const char* path;
    const char* joined;
  } cases[] = {
      {"/opt/app/", "data", "/opt/app/data"},
      {"/opt/app", "data", "/opt/app/data"},
      {"C:\\app\\", "data", "C:\\app\\data"},
      {"/opt/app/", ".", "/opt/app/."},
      {"/opt/app/", "../x", "/opt/app/../x"},
      {"/opt/app/", "", "/opt/app/"},
      {"/opt/app", "", "/opt/app/"},
      {"/opt/app/", "/tmp", "/tmp"},
      {"/opt/app/", "D:x", "D:x"},
      {"C:\\app\\", "\\dir", "C:\\dir"},
      {"/opt/app/", "\\dir", "\\dir"},
      {"ab:c", "\\dir", "\\dir"},
      {"C:", "\\dir", "C:\\dir"},
  };
  for (const auto& c : cases) {
    char out[64];
    memset(out, '#', sizeof out);
    int length = JoinPath(c.base, c.path, out, sizeof out);
    EXPECT_EQ(length, static_cast<int>(strlen(c.joined))) << c.base << " + " << c.path;
    EXPECT_STREQ(out, c.joined) << c.base << " + " << c.path;
  }
}

TEST(JoinPathTest, ReportsFullLengthWhenTheBufferIsShort) {
  const struct {
    int size;
    std::string written;  // bytes expected at the start of the buffer
  } cases[] = {
      {5, "/opt/"},
      {13, "/opt/app/data"},  // exactly the length: no terminator
      {14, std::string("/opt/app/data\0", 14)},
      {0, ""},
  };
  for (const auto& c : cases) {
    char out[32];
    memset(out, '#', sizeof out);
    EXPECT_EQ(JoinPath("/opt/app", "data", out, c.size), 13) << c.size;
    EXPECT_EQ(std::string(out, c.written.size()), c.written) << c.size;
    EXPECT_EQ(out[c.written.size()], '#') << "wrote past " << c.size << " bytes";
  }
}

}  // namespace
