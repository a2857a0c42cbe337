// Growth policy, insertion, comparison and ownership of the buffer and string templates.
#include "core/buffer.h"

#include <gtest/gtest.h>

#include <string>

#include "test_files.h"

namespace {

using launcher_test::Str;

struct GrowCase {
  int start;  // capacity reached first with Grow(start); 0 leaves the buffer untouched
  int request;
  int expected;
};

TEST(BufferGrow, FollowsDoublingAndJumpPolicy) {
  const GrowCase cases[] = {
      {0, 1, 8},   {0, 8, 8},   {0, 9, 16},  {0, 17, 24},  {0, 100, 104}, {9, 20, 32},  {9, 40, 48},
      {9, 16, 16}, {9, 32, 32}, {9, 33, 40}, {17, 25, 48}, {17, 49, 56},  {17, 10, 24},
  };
  for (const GrowCase& c : cases) {
    CBufferT<char> buffer;
    if (c.start > 0) buffer.Grow(c.start);
    buffer.Grow(c.request);
    EXPECT_EQ(buffer.GetCapacity(), c.expected) << "start " << c.start << " request " << c.request;
    EXPECT_EQ(buffer.GetLength(), 0);
  }
}

TEST(BufferGrow, ShorterLengthKeepsStorage) {
  CBufferT<int> buffer;
  buffer.SetLength(40);
  int capacity = buffer.GetCapacity();
  buffer.SetLength(3);
  EXPECT_EQ(buffer.GetCapacity(), capacity);
  EXPECT_EQ(buffer.GetLength(), 3);
}

TEST(BufferString, EmptySetLengthGivesValidCString) {
  CStringBufT<char> s;
  s.SetLength(0);
  ASSERT_NE(s.GetData(), nullptr);
  EXPECT_GE(s.GetCapacity(), 8);
  EXPECT_EQ(s.GetData()[0], '\0');
  EXPECT_STREQ(s.CStr(), "");

  CStringBufT<wchar_t> untouched;
  EXPECT_EQ(untouched.CStr()[0], L'\0');
  EXPECT_EQ(untouched.GetBuffer()[0], L'\0');
}

TEST(BufferString, InsertSpaceKeepsTerminatorAtNewEnd) {
  MyCString s("abcd");
  char* gap = s.InsertSpace(2, 3);
  ASSERT_EQ(gap, s.GetBuffer() + 2);
  memcpy(gap, "XYZ", 3);
  EXPECT_EQ(s.GetLength(), 7);
  EXPECT_STREQ(s.CStr(), "abXYZcd");
  EXPECT_EQ(s.GetData()[7], '\0');

  s.InsertSpace(7, 1)[0] = '!';
  EXPECT_STREQ(s.CStr(), "abXYZcd!");
  s.InsertSpace(0, 1)[0] = '>';
  EXPECT_STREQ(s.CStr(), ">abXYZcd!");
}

TEST(BufferString, ConstructionCountsAndCopies) {
  EXPECT_EQ(MyCString("ab\0cd", -1).GetLength(), 2);
  EXPECT_EQ(Str(MyCString("ab\0cd", 5)), std::string("ab\0cd", 5));
  EXPECT_EQ(MyCString(nullptr, -1).GetLength(), 0);
  EXPECT_EQ(MyCString("", -1).GetLength(), 0);
  EXPECT_EQ(CStringRefT<char>(nullptr).GetLength(), 0);
  EXPECT_EQ(CStringRefT<char>("abc").GetLength(), 3);

  MyCString original("shared?");
  MyCString copy(original);
  copy.GetBuffer()[6] = '!';
  EXPECT_STREQ(original.CStr(), "shared?");
  EXPECT_STREQ(copy.CStr(), "shared!");
  copy = original;
  EXPECT_TRUE(copy.Equals("shared?"));
}

struct CompareCase {
  const char* a;
  const char* b;
  int sign;  // expected sign of the result
  bool noCase;
};

TEST(BufferCompare, EqualityAndOrderOfFirstDifference) {
  const CompareCase cases[] = {
      {"abc", "abc", 0, false},    {"abc", "abcd", -1, false}, {"abcd", "abc", 1, false},
      {"abd", "abc", 1, false},    {"", "", 0, false},         {"", "a", -1, false},
      {"TRUE", "true", -1, false}, {"\xE9", "a", -1, false},  // elements compare as signed
      {"TRUE", "true", 0, true},   {"TrUe", "tRuE", 0, true},  {"true", "tru", 1, true},
      {"a[", "A{", -1, true},      {"x1", "X2", -1, true},
  };
  for (const CompareCase& c : cases) {
    MyCString a(c.a);
    CStringRefT<char> b(c.b);
    int result = c.noCase ? a.CompareNoCase(b) : a.Compare(b);
    int sign = (result > 0) - (result < 0);
    EXPECT_EQ(sign, c.sign) << c.a << " vs " << c.b << (c.noCase ? " (no case)" : "");
  }
}

TEST(BufferFormat, LongOutputIsNotTruncated) {
  std::string big(3000, 'q');
  MyCString s;
  s.Format("<%s|%d>", big.c_str(), 42);
  EXPECT_EQ(s.GetLength(), 3000 + 5);
  EXPECT_EQ(Str(s), "<" + big + "|42>");
  s.Format("%s", "short");
  EXPECT_STREQ(s.CStr(), "short");
  EXPECT_EQ(s.GetLength(), 5);
}

TEST(BufferStringArray, StoresElementsContiguously) {
  MyCStringArray list;
  list.Add("a");
  list.Add("bc");
  ASSERT_EQ(list.GetCount(), 2);
  EXPECT_EQ(list.GetData()[0], 0);
  EXPECT_EQ(list.GetData()[1], 2);
  EXPECT_EQ(Str(list.Characters()), std::string("a\0bc\0", 5));
  EXPECT_STREQ(list.GetAt(1), "bc");
  EXPECT_EQ(list.GetAt(2), nullptr);
  EXPECT_EQ(list.GetAt(-1), nullptr);
}

TEST(BufferStringArray, ElementsSurviveGrowth) {
  MyCStringArray list;
  list.Add("first");
  list.Add("");
  for (int i = 0; i < 500; ++i) list.Add(std::to_string(i).c_str());
  EXPECT_EQ(list.GetCount(), 502);
  EXPECT_STREQ(list.GetAt(0), "first");
  EXPECT_STREQ(list.GetAt(1), "");
  EXPECT_STREQ(list.GetAt(501), "499");
}

}  // namespace
