// Behaviour whose expectations rest on POSIX: symbolic links, permission bits, private
// directories and descriptors told apart by their inode. The Windows build leaves this file out;
// its own counterparts are in tests/windows.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "class_path_fixture.h"
#include "runtime/runtime_release.h"
#include "runtime/user_cache.h"
#include "runtime_fixture.h"
#include "services/std_redir.h"
#include "test_files.h"

namespace {

using launcher_test::ClassPathTest;
using launcher_test::CrLf;
using launcher_test::kArch;
using launcher_test::RuntimeTest;
using launcher_test::ScopedEnv;
using launcher_test::SplitList;
using launcher_test::Str;
using launcher_test::TempDir;
using launcher_test::Values;

TEST_F(ClassPathTest, LibsDirectoryFormsAndLinks) {
  const std::string outside = dir_.File("outside/g.jar");
  dir_.Dir("app/lib2");
  ASSERT_EQ(symlink((dir_ / "outside").c_str(), (dir_ / "app/lib2/linked").c_str()), 0);
  ASSERT_EQ(symlink(outside.c_str(), (dir_ / "app/lib2/l.jar").c_str()), 0);
  ScopedEnv where("WHERE", "lib2");
  const std::string path = Build(CrLf({"libs $WHERE/", "libs " + dir_ / "outside"}));
  // A linked directory is not entered; a link named like an archive is an archive.
  EXPECT_EQ(SplitList(path), (Values{exe_, home_ + "lib2/l.jar", outside}));
}

TEST_F(RuntimeTest, ProbeListingSkipsLinkedTypeDirectories) {
  TempDir target;
  Library(target, "");
  const std::string lib = rt_.Dir("lib/" + kArch) + "/";
  ASSERT_EQ(symlink(target.path().c_str(), (lib + "s").c_str()), 0);
  ASSERT_EQ(symlink(target.path().c_str(), (lib + "sv").c_str()), 0);
  EXPECT_EQ(Probe(rt_.path()), "");  // links carry no directory attribute in the listing

  EXPECT_EQ(ProbeWith("vm s", rt_.path()), "");  // a one-character type is ignored
  EXPECT_EQ(ProbeWith("vm sv", rt_.path()), lib + "sv/libjvm.so");
}

TEST_F(RuntimeTest, CustomLibraryThatCannotBeReadIsSkipped) {
  if (geteuid() == 0) GTEST_SKIP() << "access checks always pass for root";
  const std::string locked = home_.File("locked/libjvm.so");
  ASSERT_EQ(chmod(locked.c_str(), 0), 0);
  const std::string env = Library(rt_, "");
  ScopedEnv javaHome("JAVA_HOME", rt_.path().c_str());
  Settings(CrLf({"jre_order ce", "jvmdll " + locked}));
  EXPECT_EQ(Find(), env);
}

TEST(RuntimeRelease, VersionComesFromTheReleaseFileAboveTheLibrary) {
  TempDir dir;
  const std::string modern = dir.File("jdk/lib/server/libjvm.so");
  dir.File(
      "jdk/release",
      "JAVA_VERSION_DATE=\"2026-11-17\"\r\nXJAVA_VERSION=\"1\"\r\nJAVA_VERSION=\"17.0.21.1\"\r\n"
      "JAVA_RUNTIME_VERSION=\"17.0.21.1+2\"");
  RuntimeRelease release;
  MyCString why;
  ASSERT_TRUE(ReadRuntimeRelease(modern.c_str(), &release, why)) << why.CStr();
  EXPECT_EQ(Str(release.home), dir / "jdk");
  EXPECT_EQ(Str(release.javaVersion), "17.0.21.1");
  EXPECT_EQ(Str(release.runtimeVersion), "17.0.21.1+2");
  EXPECT_EQ(release.feature, 17);

  // lib/<arch>/server, reached through a link; unquoted values.
  const std::string legacy = dir.File("jre8/lib/amd64/server/libjvm.so");
  dir.File("jre8/release", "JAVA_VERSION=1.8.0_202\n");
  ASSERT_EQ(symlink(legacy.c_str(), (dir / "link.so").c_str()), 0);
  ASSERT_TRUE(ReadRuntimeRelease((dir / "link.so").c_str(), &release, why)) << why.CStr();
  EXPECT_EQ(Str(release.library), legacy);
  EXPECT_EQ(release.feature, 8);
  EXPECT_EQ(Str(release.runtimeVersion), "");

  // A file without JAVA_VERSION counts as none, and the reason names both places.
  const std::string bare = dir.File("bare/lib/server/libjvm.so");
  dir.File("bare/release", "JAVA_VERSION\nJAVA_VERSIONS=\"1\"\n");
  EXPECT_FALSE(ReadRuntimeRelease(bare.c_str(), &release, why));
  EXPECT_EQ(Str(why), "no release file at " + dir / "bare/release or " + dir / "release");
}

TEST(UserCache, PrivateDirectoriesAreMadeOrClosed) {
  TempDir dir;
  const char* why = "";
  const std::string nested = dir / "a/b";
  ASSERT_TRUE(MakePrivateDirectory(nested.c_str(), &why)) << why;
  ASSERT_EQ(chmod(nested.c_str(), 0755), 0);  // closed to others again
  ASSERT_TRUE(MakePrivateDirectory(nested.c_str(), &why)) << why;
  for (const std::string& path : {dir / "a", nested}) {
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << path;
  }
  ASSERT_EQ(symlink(nested.c_str(), (dir / "link").c_str()), 0);
  EXPECT_FALSE(MakePrivateDirectory((dir / "link").c_str(), &why));
  EXPECT_STREQ(why, "is a symbolic link");
  ASSERT_EQ(chmod(nested.c_str(), 0777), 0);  // another user may have written into it
  EXPECT_FALSE(MakePrivateDirectory(nested.c_str(), &why));
  EXPECT_STREQ(why, "is writable by other users");
  dir.File("file", "x");
  EXPECT_FALSE(MakePrivateDirectory((dir / "file").c_str(), &why));
  EXPECT_STREQ(why, "is not a directory");
}

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

}  // namespace
