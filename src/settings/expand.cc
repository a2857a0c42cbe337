#include "settings/expand.h"

#include <cstdlib>

#include "core/text_conv.h"
#include "platform/platform.h"
#include "settings/settings_loader.h"

namespace {

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool HasHighByte(const char* s) {
  for (; *s; ++s) {
    if (static_cast<unsigned char>(*s) >= 0x80) return true;
  }
  return false;
}

const char* LookUp(const MyCString& name) {
  const char* found = getenv(name.CStr());
  if (!found && pldr) found = pldr->GetLauncherVariable(name.CStr());
  if (!found) found = ResolvePlatformReference(name.CStr());
  return found;
}

}  // namespace

MyCString ExpandValue(const CBufferRefT<char>& value, bool utf8Mode) {
  const char* s = value.GetData();
  int n = value.GetLength();
  MyCString result;
  int copied = 0;
  int p = 0;
  while (p < n) {
    char c = s[p];
    if (c != '%' && c != '$') {
      ++p;
      continue;
    }
    int start = p;
    int nameStart, nameEnd, after;
    if (start + 1 < n && s[start + 1] == '{') {
      nameStart = start + 2;
      nameEnd = nameStart;
      while (nameEnd < n && s[nameEnd] != '}') ++nameEnd;
      after = nameEnd < n ? nameEnd + 1 : n;
    } else {
      nameStart = start + 1;
      nameEnd = nameStart;
      while (nameEnd < n && IsNameChar(s[nameEnd])) ++nameEnd;
      after = nameEnd;
    }
    MyCString replacement;
    int formEnd;
    if (nameEnd == nameStart) {
      // An empty name is only a doubled sign ("%%" or "$$").
      if (after >= n || s[after] != c) {
        p = after > start ? after : start + 1;
        continue;
      }
      replacement.AppendOne(c);
      formEnd = after + 1;
    } else {
      if (c == '%') {
        if (after >= n || s[after] != '%') {
          p = after;
          continue;
        }
        formEnd = after + 1;
      } else {
        formEnd = after;
      }
      MyCString name(s + nameStart, nameEnd - nameStart);
      const char* found = LookUp(name);
      if (!found) {
        p = formEnd;
        continue;
      }
      if (utf8Mode && HasHighByte(found)) {
        UnicodeString wide(found, -1);
        Utf8String utf8(wide.CStr(), wide.GetLength());
        replacement.Append(utf8);
      } else {
        replacement.AppendStr(found);
      }
    }
    result.Append(s + copied, start - copied);
    result.Append(replacement);
    copied = formEnd;
    p = formEnd;
  }
  result.Append(s + copied, n - copied);
  return result;
}

void AppendPathList(void* buffer, const char* value) {
  CBufferT<char>* out = static_cast<CBufferT<char>*>(buffer);
  const char* element = value;
  for (;;) {
    const char* end = element;
    while (*end && *end != kPathListSeparator) ++end;
    if (end > element) {
      out->AppendOne(kPathListSeparator);
      MyCString expanded =
          ExpandValue(CBufferRefT<char>(element, static_cast<int>(end - element)), false);
      MyCString resolved = pldr ? pldr->ResolvePath(expanded) : expanded;
      out->Append(resolved);
    }
    if (!*end) return;
    element = end + 1;
  }
}
