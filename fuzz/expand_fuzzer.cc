// Value expansion against an environment the input chooses, in both modes, and the path list
// callback built on it.
//
// Input: one control byte (bit 0 utf8Mode, bit 1 the C.UTF-8 locale instead of C), then up to
// four "NAME=value" lines, a NUL byte, and the value to expand.
#include <cstdint>
#include <vector>

#include "fuzz_support.h"

namespace {

const int kSlots = 4;
const size_t kSlotSize = 256;
// putenv keeps these buffers in the environment, so no allocation outlives the input.
char g_slots[kSlots][kSlotSize];

bool ValidName(const std::string& name) {
  return !name.empty() && name.find('=') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t control = data[0];
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  const size_t split = input.find('\0');
  if (split == std::string::npos) return 0;
  const std::string value = input.substr(split + 1);
  setlocale(LC_ALL, (control & 2) ? "C.UTF-8" : "C");

  std::vector<std::string> names;
  size_t start = 0;
  while (start < split && names.size() < kSlots) {
    size_t end = input.find('\n', start);
    if (end == std::string::npos || end > split) end = split;
    const std::string line = input.substr(start, end - start);
    start = end + 1;
    const size_t equals = line.find('=');
    if (equals == std::string::npos || line.size() >= kSlotSize) continue;
    const std::string name = line.substr(0, equals);
    if (!ValidName(name) || getenv(name.c_str())) continue;  // the fuzzer's own stay untouched
    char* slot = g_slots[names.size()];
    memcpy(slot, line.c_str(), line.size() + 1);
    putenv(slot);
    names.push_back(name);
  }

  CSettingsLoader loader(false);
  fuzz::SetLauncherPaths(loader);
  pldr = &loader;
  const CBufferRefT<char> view(value.data(), static_cast<int>(value.size()));
  MyCString expanded = ExpandValue(view, control & 1);
  if (value.find('%') == std::string::npos && value.find('$') == std::string::npos) {
    FUZZ_CHECK(fuzz::Str(expanded) == value);
  }
  // Every sign doubled is the escaped form of the value: expansion gives the value back.
  std::string escaped;
  for (char c : value) {
    escaped += c;
    if (c == '%' || c == '$') escaped += c;
  }
  MyCString unescaped =
      ExpandValue(CBufferRefT<char>(escaped.data(), static_cast<int>(escaped.size())), control & 1);
  FUZZ_CHECK(fuzz::Str(unescaped) == value);

  CBufferT<char> paths;
  AppendPathList(&paths, value.c_str());
  FUZZ_CHECK(paths.IsEmpty() || paths.GetData()[0] == ':');
  pldr = nullptr;

  for (const std::string& name : names) unsetenv(name.c_str());
  return 0;
}
