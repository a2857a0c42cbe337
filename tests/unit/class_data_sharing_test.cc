// Automatic class-data sharing: the runtime's release file, the archive names, the options that
// leave sharing to the user, the cache directory and private directories.
#include "jvm/class_data_sharing.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/runtime_release.h"
#include "runtime/user_cache.h"
#include "test_files.h"

namespace {

using launcher_test::Str;

TEST(RuntimeRelease, FeatureVersionOfEveryNumbering) {
  for (const auto& [text, feature] : {std::pair<const char*, int>{"21-ea", 21},
                                      {"", -1},
                                      {"v17", -1},
                                      {"99999999999999999999", -1}}) {
    EXPECT_EQ(JavaFeatureVersion(text), feature) << text;
  }
}

ArchiveIdentity Sample() {
  ArchiveIdentity id;
  id.executable = "/opt/my app/tool";
  id.executableStamp = id.libraryStamp = FileStamp{};
  id.executableStamp.size = 1000;
  id.library = "/usr/lib/jvm/java-17/lib/server/libjvm.so";
  id.javaVersion = "17.0.15";
  id.feature = 17;
  id.classPath = "/opt/my app/tool";
  return id;
}

TEST(ArchiveNames, AnyChangeOfExecutableOrRuntimeGivesAnotherName) {
  const std::string name = ArchiveName(Sample()).CStr();
  const std::string prefix = ArchivePrefix("/opt/my app/tool").CStr();
  EXPECT_EQ(prefix.size(), std::string("tool--").size() + 16);
  EXPECT_EQ(name.rfind(prefix + "java17-", 0), 0u) << name;
  EXPECT_EQ(name.substr(name.size() - 4), ".jsa");
  // The same executable packed again or on another runtime: same prefix, another name.
  void (*changes[])(ArchiveIdentity&) = {
      [](ArchiveIdentity& id) { id.executableStamp.size = 1001; },
      [](ArchiveIdentity& id) { id.executableStamp.modifiedNanoseconds = 1; },
      [](ArchiveIdentity& id) { id.executableStamp.inode = 7; },
      [](ArchiveIdentity& id) { id.library = "/usr/lib/jvm/other/lib/server/libjvm.so"; },
      [](ArchiveIdentity& id) { id.libraryStamp.modifiedSeconds = 5; },
      [](ArchiveIdentity& id) { id.runtimeVersion = "17.0.15+7"; },
      [](ArchiveIdentity& id) { id.classPath.AppendStr(":/opt/lib.jar"); }};
  for (auto change : changes) {
    ArchiveIdentity id = Sample();
    change(id);
    const std::string other = ArchiveName(id).CStr();
    EXPECT_NE(other, name);
    EXPECT_EQ(other.rfind(prefix, 0), 0u) << other;
  }
  EXPECT_EQ(std::string(ArchiveName(Sample()).CStr()), name);
  EXPECT_NE(std::string(ArchivePrefix("/opt/b/tool").CStr()), prefix);
  EXPECT_EQ(std::string(ArchivePrefix("/x/a b\xC3\xA9:1").CStr()).substr(0, 8), "a_b___1-");
}

// Which JVM options decide about sharing is a list; the edges of matching them are tested here.
TEST(ArchiveOptions, SharingOptionsOfTheUserAreRecognised) {
  for (const char* option : {"-Xshare:on", "-XX:SharedArchiveFile=a", "-XX:AOTCache=a.aot"}) {
    EXPECT_TRUE(TakesOverClassDataSharing(option)) << option;
  }
  for (const char* option : {"-Xshare:auto", "-Xlog:cds", "-Dx=-Xshare:off"}) {
    EXPECT_FALSE(TakesOverClassDataSharing(option)) << option;
  }
  MyCStringArray words = SplitEnvironmentOptions("  -Xmx1g\t'-Dp=a b' \"-Xshare:off\"x \n");
  EXPECT_EQ(launcher_test::Elements(words),
            (std::vector<std::string>{"-Xmx1g", "-Dp=a b", "-Xshare:offx"}));
}

TEST(UserCache, FirstAbsoluteSourceGivesTheDirectory) {
  EXPECT_EQ(Str(ChooseUserCacheDirectory("/x/c/", "/h", "/a", "/t", 7)), "/x/c/launcher");
  EXPECT_EQ(Str(ChooseUserCacheDirectory("rel", "/h", "/a", "/t", 7)), "/h/.cache/launcher");
  EXPECT_EQ(Str(ChooseUserCacheDirectory(nullptr, "", "/a", "/t", 7)), "/a/.cache/launcher");
  EXPECT_EQ(Str(ChooseUserCacheDirectory("", nullptr, "", "/t/", 1000)), "/t/launcher-1000");
  // Windows: a drive letter makes a path absolute, and '\' separates.
  EXPECT_EQ(Str(ChooseUserCacheDirectory("C:\\c\\", "/h", "/a", "/t", 7)),
            test_support::kWindows ? "C:\\c/launcher" : "/h/.cache/launcher");
}

}  // namespace
