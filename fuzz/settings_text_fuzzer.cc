// Settings texts decoded by their byte order mark (UTF-8, UTF-16 LE/BE, none), merged the way
// LoadSettings merges an external file in front of the packaged text, then every lookup.
//
// Input: one control byte, then the text. Control bits 0-1 choose a mark put in front (none,
// EF BB BF, FF FE, FE FF), bit 2 the locale (C or C.UTF-8), bit 3 splits the text at its
// middle into an external part and a packaged part.
#include <cstdint>

#include "fuzz_support.h"

namespace {

const char* const kMarks[] = {"", "\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"};

// Decodes one raw text into the loader and checks what the decoder may produce.
void Decode(CSettingsLoader& loader, const std::string& raw) {
  const int before = loader.GetLength();
  loader.DecodeSettingsText(raw.data(), static_cast<int>(raw.size()));
  const std::string added = fuzz::Str(loader).substr(static_cast<size_t>(before));
  if (raw.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    FUZZ_CHECK(added == raw.substr(3));  // UTF-8 is taken byte for byte
  } else {
    // Converted texts stop at the first zero character, so they hold no NUL.
    FUZZ_CHECK(added.find('\0') == std::string::npos);
    if (raw.size() >= 2 &&
        (raw.compare(0, 2, "\xFF\xFE") == 0 || raw.compare(0, 2, "\xFE\xFF") == 0)) {
      FUZZ_CHECK(added.size() <= 3 * ((raw.size() - 2) / 2));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t control = data[0];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  setlocale(LC_ALL, (control & 4) ? "C.UTF-8" : "C");

  CSettingsLoader loader(false);
  fuzz::SetLauncherPaths(loader);
  const std::string mark = kMarks[control & 3];
  if (control & 8) {
    const size_t half = text.size() / 2;
    Decode(loader, mark + text.substr(0, half));
    if (loader.GetLength() > 0) loader.Append("\r\n", 2);
    loader.externalLength = loader.GetLength();
    Decode(loader, mark + text.substr(half));
  } else {
    Decode(loader, mark + text);
  }

  pldr = &loader;
  fuzz::LookUpEveryKey(loader);
  pldr = nullptr;
  return 0;
}
