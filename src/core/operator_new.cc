// The global allocation functions of the launcher image. The launcher is built without
// exceptions and without the C++ runtime library, so an allocation that fails ends the process
// the way every other allocation of the launcher does: through FatalOutOfMemory.
#include <cstddef>
#include <cstdlib>

#include "core/buffer.h"

void* operator new(std::size_t size) {
  // A zero-byte request still yields a distinct pointer.
  void* memory = malloc(size != 0 ? size : 1);
  if (!memory) FatalOutOfMemory(size);
  return memory;
}

void* operator new[](std::size_t size) {
  return operator new(size);
}

void operator delete(void* memory) noexcept {
  free(memory);
}

void operator delete[](void* memory) noexcept {
  free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
  free(memory);
}

void operator delete[](void* memory, std::size_t) noexcept {
  free(memory);
}
