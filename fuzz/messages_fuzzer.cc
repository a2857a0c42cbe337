// `message` overrides read from a settings text, the unescaping of their texts and the filling
// of the version messages.
//
// Input: a settings text (UTF-8, taken as it is); its first three lines also serve as the
// version, lower bound and upper bound handed to the version message formatter.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "app/messages.h"
#include "fuzz_support.h"

namespace {

std::vector<std::string> FirstLines(const std::string& text, size_t count) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (lines.size() < count) {
    size_t end = text.find_first_of("\r\n", start);
    lines.push_back(text.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  while (lines.size() < count) lines.emplace_back();
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setlocale(LC_ALL, "C.UTF-8");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CSettingsLoader loader(false);
  fuzz::SetLauncherPaths(loader);
  loader.Append(text.data(), static_cast<int>(text.size()));
  pldr = &loader;
  ReloadMessageOverridesForTesting();

  MyCStringArray overrides;
  loader.GetSetting("message", CSettingsLoader::EnumCommonCallback, &overrides);
  const bool overridden = overrides.GetCount() > 0;
  for (unsigned long number = 0; number <= 16; ++number) {
    MyCString message = GetMessageText(number);
    if (!overridden) {
      const char* builtIn = LookUpBuiltInMessage(number);
      FUZZ_CHECK(fuzz::Str(message) == (builtIn ? builtIn : std::to_string(number)));
    }
  }

  // Unescaping only ever drops characters; a text without backslashes comes back unchanged.
  const std::string cText = text.substr(0, text.find('\0'));
  MyCString unescaped = UnescapeMessageText(cText.c_str());
  FUZZ_CHECK(unescaped.GetLength() <= static_cast<int>(cText.size()));
  if (cText.find('\\') == std::string::npos) FUZZ_CHECK(fuzz::Str(unescaped) == cText);

  const std::vector<std::string> lines = FirstLines(cText, 3);
  MyCString formatted =
      FormatVersionMessage(unescaped, lines[0].c_str(), lines[1].c_str(), lines[2].c_str());
  const size_t longest = std::max({lines[0].size(), lines[1].size(), lines[2].size()});
  FUZZ_CHECK(static_cast<size_t>(formatted.GetLength()) <= unescaped.GetLength() + 5 * longest);
  if (!strchr(unescaped.CStr(), '%')) FUZZ_CHECK(fuzz::Str(formatted) == fuzz::Str(unescaped));

  pldr = nullptr;
  ReloadMessageOverridesForTesting();  // nothing of this input outlives it
  return 0;
}
