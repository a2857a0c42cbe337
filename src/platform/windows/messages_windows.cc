// Built-in message texts of the Windows build come from the executable's string table.
#include <windows.h>

#include "core/text_conv.h"
#include "platform/platform.h"

const bool kMessagesAreResources = true;

MyCString MessageResourceText(unsigned long number) {
  HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(number / 16 + 1), MAKEINTRESOURCEA(6));
  HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
  const WCHAR* block = loaded ? static_cast<const WCHAR*>(LockResource(loaded)) : nullptr;
  if (!block) return MyCString();
  DWORD size = SizeofResource(nullptr, found) / sizeof(WCHAR);
  const WCHAR* end = block + size;
  // The block holds 16 counted strings; an absent one has the length 0.
  for (unsigned long i = 0; i < number % 16 && block < end; ++i) block += 1 + *block;
  if (block >= end || *block == 0 || block + 1 + *block > end) return MyCString();
  UnicodeString wide(reinterpret_cast<const unsigned short*>(block + 1), *block);
  return WideToLocale(wide.CStr(), wide.GetLength());
}
