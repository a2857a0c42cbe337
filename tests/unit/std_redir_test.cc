// The stream redirector at the level of the process's descriptors 1 and 2.
#include "services/std_redir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "test_files.h"

namespace {

using launcher_test::TempDir;

bool SameFile(int fd, const struct stat& before) {
  struct stat now;
  return fstat(fd, &now) == 0 && now.st_dev == before.st_dev && now.st_ino == before.st_ino;
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(StdRedirTest, RedirectionHoldsUntilDestructionThenRestoresBothDescriptors) {
  TempDir dir;
  std::string file = dir.path() + "/both.txt";
  struct stat out, err;
  ASSERT_EQ(fstat(1, &out), 0);
  ASSERT_EQ(fstat(2, &err), 0);
  {
    CStdRedir redirector;
    redirector.RedirectStderr(file.c_str());
    redirector.RedirectStdout(file.c_str());
    // A second redirection of a stream does not replace the first.
    redirector.RedirectStdout((dir.path() + "/other.txt").c_str());
    EXPECT_FALSE(SameFile(1, out));
    ASSERT_EQ(write(1, "one\n", 4), 4);
    ASSERT_EQ(write(2, "two\n", 4), 4);
    // Buffered C output written before exit still reaches the redirected file.
    fputs("three\n", stdout);
  }
  EXPECT_TRUE(SameFile(1, out));
  EXPECT_TRUE(SameFile(2, err));
  EXPECT_EQ(Contents(file), "one\ntwo\nthree\n");
  EXPECT_EQ(Contents(dir.path() + "/other.txt"), "");
}

TEST(StdRedirTest, TargetsAreSharedOnlyForIdenticalTexts) {
  TempDir dir;
  CStdRedir redirector;
  std::string a = dir.path() + "/a.txt";
  CStdRedir::CStdRedirTarget* first = redirector.GetTarget(a.c_str());
  EXPECT_EQ(redirector.GetTarget(a.c_str()), first);
  EXPECT_NE(redirector.GetTarget((dir.path() + "//a.txt").c_str()), first);
  // A target that cannot be opened keeps failing without being retried.
  CStdRedir::CStdRedirTarget* missing = redirector.GetTarget("/nonexistent/dir/x");
  EXPECT_EQ(missing->descriptor, -1);
  EXPECT_EQ(redirector.GetTarget("/nonexistent/dir/x"), missing);
}

}  // namespace
