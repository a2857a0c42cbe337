// The trace mode: with LAUNCHER_TRACE=1 in the environment the launcher writes one line per
// step to standard error, each beginning with "[launcher] ". Off, it costs one cached test.
#ifndef LAUNCHER_CORE_TRACE_H_
#define LAUNCHER_CORE_TRACE_H_

bool TraceEnabled();
void TraceLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

#define TRACE(...)                              \
  do {                                          \
    if (TraceEnabled()) TraceLine(__VA_ARGS__); \
  } while (0)

#endif  // LAUNCHER_CORE_TRACE_H_
