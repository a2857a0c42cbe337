// The Windows build's own path rules in the shared code: drive letters and backslashes in
// class paths, runtime directories, the runtime's release file, the own path and forcecwd.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/driver.h"
#include "class_path_fixture.h"
#include "runtime/runtime_release.h"
#include "runtime_fixture.h"
#include "test_files.h"

namespace {

using launcher_test::ClassPathTest;
using launcher_test::CrLf;
using launcher_test::PackagedText;
using launcher_test::PackedImage;
using launcher_test::RuntimeTest;
using launcher_test::ScopedCwd;
using launcher_test::ScopedExePath;
using launcher_test::ScopedPldr;
using launcher_test::SplitList;
using launcher_test::Str;
using launcher_test::TempDir;
using launcher_test::Values;

// A drive letter is no list separator, and backslashes name directories like slashes.
TEST_F(ClassPathTest, DriveLettersAndBackslashes) {
  dir_.File("app\\lib\\sub\\one.jar");
  const std::string path =
      Build(CrLf({"classpath C:\\abs\\a.jar;rel\\b.jar;D:c.jar", "libs lib\\sub\\"}));
  EXPECT_EQ(SplitList(path), (Values{exe_, "C:\\abs\\a.jar", home_ + "rel\\b.jar", "D:c.jar",
                                     home_ + "lib\\sub\\one.jar"}));
}

TEST_F(RuntimeTest, RuntimeDirectoryEndedByABackslash) {
  Library(rt_, "bin\\server\\");
  EXPECT_EQ(Probe(rt_.path() + "\\"), rt_.path() + "\\bin\\server/jvm.dll");
}

// The release file lies two levels above bin\server\jvm.dll, three above the JRE inside a
// JDK 8; the library's real path has backslashes.
TEST(WindowsRuntimeReleaseTest, ReleaseFileAboveTheLibrary) {
  TempDir dir;
  RuntimeRelease release;
  MyCString why;
  const std::string modern = dir.File("jdk\\bin\\server\\jvm.dll");
  dir.File("jdk\\release", "JAVA_VERSION=\"21.0.2\"\n");
  ASSERT_TRUE(ReadRuntimeRelease(modern.c_str(), &release, why)) << why.CStr();
  EXPECT_EQ(Str(release.home), dir.path() + "\\jdk");
  EXPECT_EQ(release.feature, 21);
  const std::string legacy = dir.File("jdk8\\jre\\bin\\server\\jvm.dll");
  dir.File("jdk8\\release", "JAVA_VERSION=\"1.8.0_402\"\n");
  ASSERT_TRUE(ReadRuntimeRelease(legacy.c_str(), &release, why)) << why.CStr();
  EXPECT_EQ(Str(release.home), dir.path() + "\\jdk8");
  EXPECT_EQ(release.feature, 8);
}

// The executable's directory ends at its last backslash, and "tool.cfg" beside "tool.exe" is
// its external file.
TEST(WindowsOwnPathTest, HomeAndExternalFileBesideTheExe) {
  TempDir dir;
  PackedImage image;
  image.settings = PackagedText(CrLf({"stdout packaged"}));
  const std::string exe = dir.File("app\\tool.exe", image.Build());
  dir.File("app\\tool.cfg", "stdout external");
  ScopedExePath own(exe, image.ArchiveSize());
  CSettingsLoader loader(true);
  EXPECT_EQ(Str(loader.appHome), dir / "app\\");
  EXPECT_EQ(Str(loader.GetSetting("stdout")), "external");
  EXPECT_EQ(Str(loader.GetSetting("stdout", nullptr, nullptr, true)), "packaged");
}

// forcecwd is joined with the home directory; a path starting with '\' keeps the home's drive.
TEST(WindowsWorkingDirectoryTest, ForcecwdFromTheHomeDirectory) {
  TempDir dir;
  dir.Dir("sub");
  CSettingsLoader loader(false);
  loader.appHome = dir.Slash().c_str();
  ScopedPldr published(&loader);
  ScopedCwd restore(dir.path());
  ForceWorkingDirectory("sub\\..\\sub");
  EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), dir / "sub"));
  ForceWorkingDirectory("\\");
  EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(dir.path()).root_path());
}

}  // namespace
