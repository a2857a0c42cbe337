// A program linked the way the launcher image is (see CMakeLists.txt): checks that its entry
// point runs the static constructors, that exit handlers and function-local statics work, that
// stat and fstat describe a file, and that dynamic loading, threads, allocation and 64-bit
// division work without the C library's static part and without the C++ runtime.
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace {

int g_failures = 0;

void Check(bool passed, const char* what) {
  if (passed) return;
  ++g_failures;
  fprintf(stdout, "floor probe: FAILED: %s\n", what);
}

// Zero unless its constructor ran before main.
struct ConstructedBeforeMain {
  ConstructedBeforeMain() : mark(0x5eed) {}
  int mark;
};
ConstructedBeforeMain g_constructed;

int g_constructions = 0;
struct SlowToConstruct {
  // Slow enough that the threads below arrive while the first one is still constructing.
  SlowToConstruct() {
    ++g_constructions;
    for (volatile int i = 0; i < 2000000; i = i + 1) {
    }
  }
};

SlowToConstruct* Shared() {
  static SlowToConstruct instance;
  return &instance;
}

void* FetchShared(void* out) {
  *static_cast<SlowToConstruct**>(out) = Shared();
  return nullptr;
}

// main returns 1, so a status of 0 shows that this handler, registered with atexit, ran.
void ReportAtExit() {
  if (g_failures == 0) {
    fprintf(stdout, "floor probe: all passed\n");
  } else {
    fprintf(stdout, "floor probe: %d failed\n", g_failures);
  }
  fflush(stdout);
  _Exit(g_failures == 0 ? 0 : 1);
}

long CountBytes(int fd) {
  char buffer[4096];
  long total = 0;
  for (ssize_t n; (n = read(fd, buffer, sizeof(buffer))) > 0;) total += n;
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  Check(argc >= 1 && argv[0] != nullptr, "main receives the arguments");
  Check(g_constructed.mark == 0x5eed, "static constructors run before main");
  Check(atexit(ReportAtExit) == 0, "atexit registers a handler");

  pthread_t threads[4];
  SlowToConstruct* seen[4] = {};
  for (int i = 0; i < 4; ++i) {
    Check(pthread_create(&threads[i], nullptr, FetchShared, &seen[i]) == 0, "threads start");
  }
  for (int i = 0; i < 4; ++i) pthread_join(threads[i], nullptr);
  bool same = true;
  for (int i = 0; i < 4; ++i) same = same && seen[i] == Shared();
  Check(same && g_constructions == 1, "a function-local static is constructed exactly once");

  struct stat byPath = {};
  struct stat byDescriptor = {};
  Check(stat(argv[0], &byPath) == 0 && S_ISREG(byPath.st_mode), "stat describes a file");
  int fd = open(argv[0], O_RDONLY);
  Check(fd >= 0 && fstat(fd, &byDescriptor) == 0, "fstat succeeds");
  Check(byDescriptor.st_ino == byPath.st_ino && byDescriptor.st_size == byPath.st_size,
        "fstat and stat agree");
  Check(fd >= 0 && CountBytes(fd) == byPath.st_size, "stat gives the size that reads find");
  if (fd >= 0) close(fd);

  void* math = LibLoad("libm.so.6");
  Check(math != nullptr && LibSymbol(math, "cos") != nullptr, "dlopen and dlsym find cos");
  LibClose(math);

  int* numbers = new int[1000];
  numbers[999] = 7;
  Check(numbers[999] == 7, "new[] gives usable memory");
  delete[] numbers;

  volatile uint64_t dividend = 0x123456789abcdefULL;
  volatile uint64_t divisor = 0x12345;
  Check(dividend / divisor == 0x100005b0020ULL && dividend % divisor == 0x654f, "64-bit division");
  return 1;
}
