// The stream redirector's targets, shared by every build; what redirection does to the
// process's streams is tested per system (posix_only_test.cc, tests/windows).
#include "services/std_redir.h"

#include <gtest/gtest.h>

#include <string>

#include "test_files.h"

namespace {

using launcher_test::TempDir;

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
