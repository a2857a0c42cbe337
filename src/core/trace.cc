#include "core/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

bool TraceEnabled() {
  static const bool enabled = [] {
    const char* value = getenv("LAUNCHER_TRACE");
    return value && strcmp(value, "1") == 0;
  }();
  return enabled;
}

void TraceLine(const char* format, ...) {
  va_list args;
  va_start(args, format);
  fputs("[launcher] ", stderr);
  vfprintf(stderr, format, args);
  fputc('\n', stderr);
  va_end(args);
  fflush(stderr);
}
