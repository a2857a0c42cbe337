// Automatic class-data sharing: reading a runtime's release file, naming the archives, the
// options that leave the archive to the user, the cache directory and private directories.
#include "jvm/class_data_sharing.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"
#include "runtime/runtime_release.h"
#include "services/user_cache.h"
#include "test_files.h"

namespace {

using launcher_test::Str;
using launcher_test::TempDir;

std::string Value(const std::string& text, const char* key) {
  MyCString value("<absent>");
  ReleaseValue(CStringRefT<char>(text.c_str()), key, value);
  return value.CStr();
}

TEST(RuntimeRelease, ValuesAndFeatureReleases) {
  const std::string text =
      "IMPLEMENTOR=\"Debian\"\r\nJAVA_RUNTIME_VERSION=\"17.0.21.1+2-1-deb12u1\"\r\n"
      "XJAVA_VERSION=\"1\"\nJAVA_VERSION_DATE=\"2026-11-17\"\nJAVA_VERSION=\"17.0.21.1\"\n"
      "PLAIN=25\nHALF=\"x\nEMPTY=\"\"";
  EXPECT_EQ(Value(text, "JAVA_VERSION"), "17.0.21.1");  // not XJAVA_VERSION or _DATE
  EXPECT_EQ(Value(text, "JAVA_RUNTIME_VERSION"), "17.0.21.1+2-1-deb12u1");
  EXPECT_EQ(Value(text, "PLAIN"), "25");
  EXPECT_EQ(Value(text, "HALF"), "\"x");
  EXPECT_EQ(Value(text, "EMPTY"), "");
  EXPECT_EQ(Value(text, "MODULES"), "<absent>");
  EXPECT_EQ(Value("JAVA_VERSION", "JAVA_VERSION"), "<absent>");

  EXPECT_EQ(JavaFeatureVersion("17.0.21.1"), 17);
  EXPECT_EQ(JavaFeatureVersion("1.8.0_202"), 8);
  EXPECT_EQ(JavaFeatureVersion("25"), 25);
  EXPECT_EQ(JavaFeatureVersion("21-ea"), 21);
  EXPECT_EQ(JavaFeatureVersion("1"), 1);
  EXPECT_EQ(JavaFeatureVersion(""), -1);
  EXPECT_EQ(JavaFeatureVersion("v17"), -1);
  EXPECT_EQ(JavaFeatureVersion("99999999999999999999"), -1);
}

TEST(RuntimeRelease, FoundTwoOrThreeLevelsAboveTheLibrary) {
  TempDir dir;
  EXPECT_EQ(Str(ParentPath(CStringRefT<char>("/a/b/c"))), "/a/b");
  EXPECT_EQ(Str(ParentPath(CStringRefT<char>("/a//b/"))), "/a");
  EXPECT_EQ(Str(ParentPath(CStringRefT<char>("/a"))), "/");
  EXPECT_EQ(Str(ParentPath(CStringRefT<char>("a"))), "");

  const std::string modern = dir.File("jdk/lib/server/libjvm.so");
  dir.File("jdk/release", "JAVA_VERSION=\"17.0.15\"\nJAVA_RUNTIME_VERSION=\"17.0.15+6\"\n");
  RuntimeRelease release;
  MyCString why;
  ASSERT_TRUE(ReadRuntimeRelease(modern.c_str(), &release, why)) << why.CStr();
  EXPECT_EQ(Str(release.home), dir / "jdk");
  EXPECT_EQ(Str(release.javaVersion), "17.0.15");
  EXPECT_EQ(Str(release.runtimeVersion), "17.0.15+6");
  EXPECT_EQ(release.feature, 17);

  // An architecture directory between lib and the type directory, reached through a link.
  const std::string legacy = dir.File("jre8/lib/amd64/server/libjvm.so");
  dir.File("jre8/release", "JAVA_VERSION=\"1.8.0_202\"\n");
  ASSERT_EQ(symlink(legacy.c_str(), (dir / "link.so").c_str()), 0);
  ASSERT_TRUE(ReadRuntimeRelease((dir / "link.so").c_str(), &release, why)) << why.CStr();
  EXPECT_EQ(Str(release.library), legacy);
  EXPECT_EQ(release.feature, 8);
  EXPECT_EQ(Str(release.runtimeVersion), "");

  // A release file without JAVA_VERSION counts as none; the reason names both places.
  const std::string bare = dir.File("bare/lib/server/libjvm.so");
  dir.File("bare/release", "IMPLEMENTOR=\"x\"\n");
  EXPECT_FALSE(ReadRuntimeRelease(bare.c_str(), &release, why));
  EXPECT_EQ(Str(why),
            "no release file at " + dir.path() + "/bare/release or " + dir.path() + "/release");
}

ArchiveIdentity SampleIdentity() {
  ArchiveIdentity id;
  id.executable = "/opt/my app/tool";
  memset(&id.executableStamp, 0, sizeof(id.executableStamp));
  id.executableStamp.size = 1000;
  id.executableStamp.modifiedSeconds = 1700000000;
  id.library = "/usr/lib/jvm/java-17/lib/server/libjvm.so";
  memset(&id.libraryStamp, 0, sizeof(id.libraryStamp));
  id.javaVersion = "17.0.15";
  id.feature = 17;
  id.classPath = "/opt/my app/tool";
  return id;
}

TEST(ArchiveNames, EveryChangeOfExecutableOrRuntimeGivesAnotherName) {
  const ArchiveIdentity base = SampleIdentity();
  const std::string name = ArchiveName(base).CStr();
  const std::string prefix = ArchivePrefix(base.executable.CStr()).CStr();
  EXPECT_EQ(prefix.rfind("tool-", 0), 0u) << prefix;
  EXPECT_EQ(prefix.size(), 5u + 16 + 1);
  EXPECT_EQ(name.rfind(prefix + "java17-", 0), 0u) << name;
  EXPECT_EQ(name.substr(name.size() - 4), ".jsa");
  EXPECT_EQ(ArchiveName(SampleIdentity()).CStr(), name);  // stable

  auto changed = [](void (*change)(ArchiveIdentity&)) {
    ArchiveIdentity id = SampleIdentity();
    change(id);
    return std::string(ArchiveName(id).CStr());
  };
  // The same executable packed again, or run on another runtime: same prefix, new name.
  void (*sameExecutable[])(ArchiveIdentity&) = {
      [](ArchiveIdentity& id) { id.executableStamp.size = 1001; },
      [](ArchiveIdentity& id) { id.executableStamp.modifiedNanoseconds = 1; },
      [](ArchiveIdentity& id) { id.executableStamp.inode = 7; },
      [](ArchiveIdentity& id) { id.library = "/usr/lib/jvm/other/lib/server/libjvm.so"; },
      [](ArchiveIdentity& id) { id.libraryStamp.modifiedSeconds = 5; },
      [](ArchiveIdentity& id) { id.javaVersion = "17.0.16"; },
      [](ArchiveIdentity& id) { id.runtimeVersion = "17.0.15+7"; },
      [](ArchiveIdentity& id) { id.classPath.AppendStr(":/opt/lib.jar"); }};
  for (auto change : sameExecutable) {
    const std::string other = changed(change);
    EXPECT_NE(other, name);
    EXPECT_EQ(other.rfind(prefix, 0), 0u) << other;
  }
  // Another executable path: another prefix, so its archives are never taken for stale ones.
  const std::string moved = changed([](ArchiveIdentity& id) { id.executable = "/opt/b/tool"; });
  EXPECT_NE(moved.rfind(prefix, 0), 0u) << moved;

  EXPECT_EQ(std::string(ArchivePrefix("/x/a b\xC3\xA9:1").CStr()).substr(0, 8), "a_b___1-");
  EXPECT_EQ(std::string(ArchivePrefix("/x/").CStr()).substr(0, 4), "app-");
  EXPECT_EQ(std::string(ArchivePrefix(("/" + std::string(300, 'n')).c_str()).CStr()).size(),
            40u + 18);
}

TEST(ArchiveOptions, UsersOwnSharingOptionsWinAndLoggingFitsTheRelease) {
  for (const char* option :
       {"-Xshare:off", "-Xshare:on", "-Xshare:dump", "-XX:SharedArchiveFile=a.jsa",
        "-XX:ArchiveClassesAtExit=a.jsa", "-XX:+AutoCreateSharedArchive", "-XX:AOTCache=a.aot",
        "-XX:AOTCacheOutput=a.aot", "-XX:-UseSharedSpaces", "-XX:VMOptionsFile=f",
        "--patch-module=java.base=x", "--limit-modules=java.base"}) {
    EXPECT_TRUE(TakesOverClassDataSharing(option)) << option;
  }
  for (const char* option : {"-Xshare:auto", "-Xshare", "-Xmx512m", "-XX:+UseSerialGC", "-Xlog:cds",
                             "--add-modules=java.sql", "-Dx=-Xshare:off"}) {
    EXPECT_FALSE(TakesOverClassDataSharing(option)) << option;
  }

  MyCStringArray words = SplitEnvironmentOptions("  -Xmx1g\t'-Dp=a b' \"-Xshare:off\"x \n");
  EXPECT_EQ(launcher_test::Elements(words),
            (std::vector<std::string>{"-Xmx1g", "-Dp=a b", "-Xshare:offx"}));
  EXPECT_EQ(SplitEnvironmentOptions(nullptr).GetCount(), 0);

  // Java 17 refuses to start with the "aot" tag, which Java 25 needs.
  MyCString quiet, toFile;
  ArchiveLogOptions(17, "/c/a.log", quiet, toFile);
  EXPECT_EQ(Str(quiet), "-Xlog:cds*=off");
  EXPECT_EQ(Str(toFile), "-Xlog:cds*=warning:file=/c/a.log:none:filecount=0");
  ArchiveLogOptions(25, "", quiet, toFile);
  EXPECT_EQ(Str(quiet), "-Xlog:cds*=off,aot*=off");
  EXPECT_EQ(Str(toFile), "");
}

TEST(UserCache, DirectoryComesFromTheFirstAbsoluteSource) {
  EXPECT_EQ(Str(ChooseUserCacheDirectory("/x/cache/", "/home/u", "/acct", "/tmp", 7)),
            "/x/cache/launcher");
  EXPECT_EQ(Str(ChooseUserCacheDirectory("relative", "/home/u", "/acct", "/tmp", 7)),
            "/home/u/.cache/launcher");
  EXPECT_EQ(Str(ChooseUserCacheDirectory(nullptr, "", "/acct", "/tmp", 7)),
            "/acct/.cache/launcher");
  EXPECT_EQ(Str(ChooseUserCacheDirectory("", nullptr, "", "/var/tmp/", 1000)),
            "/var/tmp/launcher-1000");
  EXPECT_EQ(Str(ChooseUserCacheDirectory(nullptr, nullptr, nullptr, nullptr, 0)),
            "/tmp/launcher-0");
}

TEST(PrivateDirectory, MadeClosedAndNeverALinkOrAFile) {
  TempDir dir;
  const char* why = "";
  const std::string nested = dir / "a/b/c";
  ASSERT_TRUE(MakePrivateDirectory(nested.c_str(), &why)) << why;
  struct stat st;
  ASSERT_EQ(stat(nested.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(stat((dir / "a").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // A directory of the user's that others may enter is closed to them.
  ASSERT_EQ(chmod(nested.c_str(), 0755), 0);
  ASSERT_TRUE(MakePrivateDirectory(nested.c_str(), &why)) << why;
  ASSERT_EQ(stat(nested.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  ASSERT_EQ(symlink(nested.c_str(), (dir / "link").c_str()), 0);
  EXPECT_FALSE(MakePrivateDirectory((dir / "link").c_str(), &why));
  EXPECT_STREQ(why, "is a symbolic link");
  dir.File("file", "x");
  EXPECT_FALSE(MakePrivateDirectory((dir / "file").c_str(), &why));
  EXPECT_STREQ(why, "is not a directory");
  EXPECT_FALSE(MakePrivateDirectory((dir / "file/sub").c_str(), &why));
  EXPECT_FALSE(MakePrivateDirectory("relative/dir", &why));

  FileStamp stamp;
  ASSERT_TRUE(QueryFileStamp((dir / "link").c_str(), false, &stamp));
  EXPECT_TRUE(stamp.symbolicLink);
  ASSERT_TRUE(QueryFileStamp((dir / "link").c_str(), true, &stamp));
  EXPECT_TRUE(stamp.directory && stamp.ownedByUser && !stamp.writableByOthers);

  const std::string fresh = dir / "fresh";
  EXPECT_TRUE(CreateNewPrivateFile(fresh.c_str()));
  EXPECT_FALSE(CreateNewPrivateFile(fresh.c_str()));
  ASSERT_EQ(stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_TRUE(ProcessMayExist(CurrentProcessId()));
}

}  // namespace
