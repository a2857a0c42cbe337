// Expansion of %NAME%, %{NAME}%, $NAME, ${NAME}, %% and $$ in setting values.
#ifndef LAUNCHER_SETTINGS_EXPAND_H_
#define LAUNCHER_SETTINGS_EXPAND_H_

#include "core/buffer.h"

// Replaces references with environment values, else with the launcher variables of pldr.
// utf8Mode converts substituted non-ASCII environment text from the locale to UTF-8.
MyCString ExpandValue(const CBufferRefT<char>& value, bool utf8Mode);

// GetSetting callback for path lists: splits at the path separator, expands and resolves each
// element and appends it, preceded by the separator, to a CBufferT<char> context.
void AppendPathList(void* buffer, const char* value);

#endif  // LAUNCHER_SETTINGS_EXPAND_H_
