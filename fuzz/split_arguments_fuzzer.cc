// Splitting `argv` values into words in place: several values (the input's NUL bytes separate
// them) are split into one word list, as RunMain does.
#include <cstdint>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "jvm/main_invoke.h"

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Plain blank-separated words, for a value without quotes and backslashes.
std::vector<std::string> BlankSeparated(const std::string& value) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  for (char c : value) {
    if (IsBlank(c)) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> values;
  const std::string input(reinterpret_cast<const char*>(data), size);
  for (size_t start = 0;;) {
    size_t end = input.find('\0', start);
    values.push_back(input.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }

  CBufferT<char*> words;
  std::vector<std::unique_ptr<char[]>> texts;
  for (const std::string& value : values) {
    // A heap block of exactly the value and its NUL: writes past it are reported.
    const size_t length = value.size() + 1;
    texts.emplace_back(new char[length]);
    char* text = texts.back().get();
    memcpy(text, value.c_str(), length);
    const int before = words.GetLength();
    const int count = SplitArguments(words, text);
    FUZZ_CHECK(count == words.GetLength() && count >= before);

    // Words lie inside the value, in order, each ended before the next begins.
    const char* limit = text + length;
    for (int i = before; i < count; ++i) {
      const char* word = words.GetData()[i];
      FUZZ_CHECK(word >= text && word < limit);
      const char* end = static_cast<const char*>(memchr(word, '\0', limit - word));
      FUZZ_CHECK(end != nullptr);
      if (i + 1 < count) FUZZ_CHECK(end < words.GetData()[i + 1]);
    }
    if (value.find_first_of("\"\\") == std::string::npos) {
      std::vector<std::string> expected = BlankSeparated(value);
      FUZZ_CHECK(static_cast<size_t>(count - before) == expected.size());
      for (int i = before; i < count; ++i) {
        FUZZ_CHECK(expected[static_cast<size_t>(i - before)] == words.GetData()[i]);
      }
    }
  }
  return 0;
}
