#include "core/buffer.h"

#include <cstdarg>
#include <cstdio>

void FatalOutOfMemory(size_t bytes) {
  fprintf(stderr, "launcher: out of memory (%zu bytes requested)\n", bytes);
  fflush(stderr);
  _Exit(255);
}

void* CheckedRealloc(void* data, size_t count, size_t elementSize) {
  if (elementSize != 0 && count > static_cast<size_t>(-1) / elementSize) {
    FatalOutOfMemory(static_cast<size_t>(-1));
  }
  void* grown = realloc(data, count * elementSize);
  if (!grown) FatalOutOfMemory(count * elementSize);
  return grown;
}

template <>
void CStringBufT<char>::Format(const char* format, ...) {
  Grow(1024);
  for (;;) {
    va_list args;
    va_start(args, format);
    int room = GetCapacity();
    int written = vsnprintf(data_, static_cast<size_t>(room), format, args);
    va_end(args);
    if (written < 0) written = 0;
    if (written < room) {
      SetLength(written);
      return;
    }
    Grow(written + 1);
  }
}

MyCStringArray::~MyCStringArray() {
  chars_.Release();
}

void MyCStringArray::Add(const char* s) {
  Add(s, s ? CStringBufT<char>::Measure(s) : 0);
}

void MyCStringArray::Add(const char* s, int length) {
  AppendOne(chars_.GetLength());
  chars_.Append(s, length);
  chars_.AppendOne('\0');
}

char* MyCStringArray::GetAt(int index) {
  if (index < 0 || index >= GetCount()) return nullptr;
  return chars_.GetBuffer() + GetData()[index];
}
