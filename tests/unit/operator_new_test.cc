// The launcher image's own allocation functions (src/core/operator_new.cc), linked into this
// test program in place of the C++ runtime's.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

TEST(OperatorNewTest, ZeroBytesGiveDistinctPointers) {
  void* first = operator new(0);
  void* second = operator new(0);
  EXPECT_NE(first, nullptr);
  EXPECT_NE(second, nullptr);
  EXPECT_NE(first, second);
  operator delete(first);
  operator delete(second);
}

TEST(OperatorNewTest, ArraysAreUsableAndFreed) {
  char* text = new char[4096];
  memset(text, 'x', 4096);
  EXPECT_EQ(text[4095], 'x');
  delete[] text;
}

// Sizes that no allocator can satisfy, hidden from the compiler's own size warnings, and a
// place for the result, so that the compiler cannot drop an allocation nobody uses.
volatile size_t g_hugeSize = SIZE_MAX - 4096;
char* volatile g_kept = nullptr;

TEST(OperatorNewDeathTest, FailedAllocationEndsWithTheOutOfMemoryMessage) {
  EXPECT_EXIT(
      {
        void* memory = operator new(g_hugeSize);
        operator delete(memory);
      },
      testing::ExitedWithCode(255), "out of memory");
  EXPECT_EXIT(
      {
        g_kept = new char[g_hugeSize];
        delete[] g_kept;
      },
      testing::ExitedWithCode(255), "out of memory");
}

}  // namespace
