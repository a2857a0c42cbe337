// A runtime packed into the executable: unpacked once into the user's cache, under concurrent
// first starts, after damage, and refused or reported when the cache cannot be used.
#include <dirent.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "e2e_util.h"

namespace e2e {
namespace {

using Args = std::vector<std::string>;

// The cache entries of the runtimes unpacked below cache.
std::vector<std::string> Runtimes(const std::string& cache) {
  std::vector<std::string> names;
  DIR* dir = opendir((cache + "/launcher").c_str());
  if (!dir) return names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name.rfind("runtime-", 0) == 0 && name.size() > 5 &&
        name.substr(name.size() - 5) != "-lock")
      names.push_back(name);
  }
  closedir(dir);
  return names;
}

class EmbeddedRuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A runtime image with the test JVM library standing in for the real one.
    MakeDirs(tmp_ / "rt/lib/server");
    CopyFile(TESTJVM_LIB, tmp_ / "rt/lib/server/libjvm.so");
    WriteFile(tmp_ / "rt/lib/modules", std::string(5000, 'm'));
    WriteFile(tmp_ / "rt/release", "JAVA_VERSION=\"17.0.9\"\n");
    exe_ = PackWith("1");
  }

  std::string PackWith(const std::string& version) {
    WriteFile(tmp_ / "rt/version.txt", version);
    return Pack(tmp_ / "app", {"mainclass test.Main"}, PROBE_JAR,
                {"--no-cds", "--runtime", tmp_ / "rt", "--embed-runtime"});
  }

  RunResult Start(EnvChanges env = {}) {
    env.emplace("XDG_CACHE_HOME", cache_);
    env.emplace("TESTJVM_LOG", tmp_ / "jvm.log");
    env.emplace("PATH", "/nonexistent");
    RunOptions options;
    options.env = env;
    return RunProgram({exe_}, options);
  }

  std::string Unpacked() {
    std::vector<std::string> names = Runtimes(cache_);
    return names.size() == 1 ? cache_ + "/launcher/" + names[0] : "";
  }

  TempDir tmp_;
  std::string cache_ = tmp_ / "cache";
  std::string exe_;
};

TEST_F(EmbeddedRuntimeTest, ConcurrentFirstStartsUnpackOneCopyAndLaterStartsReuseIt) {
  std::vector<std::unique_ptr<Process>> starts;
  RunOptions options;
  options.env = {{"XDG_CACHE_HOME", cache_}, {"PATH", "/nonexistent"}};
  for (int i = 0; i < 20; ++i) starts.push_back(std::make_unique<Process>(Args{exe_}, options));
  for (auto& start : starts) {
    RunResult r = start->Wait();
    EXPECT_EQ(r.status, 0) << r.err;
  }
  const std::string dir = Unpacked();
  ASSERT_FALSE(dir.empty()) << ::testing::PrintToString(Runtimes(cache_));
  EXPECT_TRUE(Exists(dir + "/.complete"));
  EXPECT_EQ(ReadFile(dir + "/version.txt"), "1");
  // A later start only checks the unpacked files: its trace shows no unpacking.
  RunResult again = Start({{"LAUNCHER_TRACE", "1"}});
  EXPECT_EQ(again.status, 0);
  EXPECT_TRUE(Contains(again.err, "shipped runtime unpacked in " + dir)) << again.err;
  EXPECT_TRUE(Contains(again.err, "runtime found: " + dir + "/lib/server/libjvm.so"));

  // A repacked application replaces its older runtime.
  exe_ = PackWith("2");
  EXPECT_EQ(Start().status, 0);
  ASSERT_NE(Unpacked(), dir);
  EXPECT_EQ(ReadFile(Unpacked() + "/version.txt"), "2");
}

TEST_F(EmbeddedRuntimeTest, DamagedCacheIsUnpackedAgain) {
  ASSERT_EQ(Start().status, 0);
  const std::string dir = Unpacked();
  ASSERT_EQ(truncate((dir + "/lib/server/libjvm.so").c_str(), 100), 0);
  RunResult r = Start({{"LAUNCHER_TRACE", "1"}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.err, "does not match the completion marker"));
  ASSERT_EQ(unlink((dir + "/.complete").c_str()), 0);
  ASSERT_EQ(unlink((dir + "/lib/modules").c_str()), 0);
  EXPECT_EQ(Start().status, 0);
  EXPECT_EQ(ReadFile(dir + "/lib/modules"), std::string(5000, 'm'));
  // An unfinished copy of a start that was killed is cleared away.
  MakeDirs(dir + ".tmp99999/lib");
  ASSERT_EQ(unlink((dir + "/.complete").c_str()), 0);
  EXPECT_EQ(Start().status, 0);
  EXPECT_FALSE(Exists(dir + ".tmp99999"));
}

TEST_F(EmbeddedRuntimeTest, UnusableCacheGivesOneLineAndMessageOne) {
  // A cache that is a file cannot be created; no installed runtime stands in for the own one.
  WriteFile(cache_, "");
  RunResult r = Start({{"JAVA_HOME", LAUNCHER_JDK_HOME}});
  EXPECT_EQ(r.status, 1);
  std::vector<std::string> lines = Lines(r.err);
  ASSERT_GE(lines.size(), 2u) << r.err;
  EXPECT_EQ(lines[0], "launcher: cannot unpack the Java runtime into " + cache_ +
                          "/launcher: cannot be created");
  EXPECT_TRUE(Contains(r.err, "Java Runtime Environment"));  // message 1

  // Writable by others, or another user's: never used.
  ASSERT_EQ(unlink(cache_.c_str()), 0);
  MakeDirs(cache_ + "/launcher");
  ASSERT_EQ(chmod((cache_ + "/launcher").c_str(), 0777), 0);
  EXPECT_TRUE(Contains(Start().err, "launcher: is writable by other users"));
  if (geteuid() == 0) {
    ASSERT_EQ(chmod((cache_ + "/launcher").c_str(), 0700), 0);
    ASSERT_EQ(chown((cache_ + "/launcher").c_str(), 65534, 65534), 0);
    EXPECT_TRUE(Contains(Start().err, "launcher: belongs to another user"));
  }
}

TEST_F(EmbeddedRuntimeTest, FullDiskLeavesNothingHalfWritten) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  // The runtime does not fit a 64 KiB file system mounted as the cache.
  WriteFile(tmp_ / "rt/lib/modules", std::string(200000, 'm'));
  exe_ = PackWith("big");
  const std::string script =
      "mkdir -p \"$1\" && mount -t tmpfs -o size=64k tmpfs \"$1\" || exit 77\n"
      "XDG_CACHE_HOME=\"$1\" PATH=/nonexistent \"$2\"; echo status=$?\n"
      "ls -A \"$1/launcher\"\n";
  RunResult r = RunProgram({"/usr/bin/unshare", "-m", "/bin/sh", "-c", script, "sh", cache_, exe_});
  if (r.status == 77) GTEST_SKIP() << "no tmpfs mount here: " << r.err;
  EXPECT_TRUE(Contains(r.err, "launcher: cannot unpack the Java runtime into " + cache_ +
                                  "/launcher: " + cache_ + "/launcher/runtime-app-"))
      << r.err;
  EXPECT_TRUE(Contains(r.err, ": No space left on device\n"));
  // Only the lock file is left.
  std::vector<std::string> out = Lines(r.out);
  ASSERT_EQ(out.size(), 2u) << r.out;
  EXPECT_EQ(out[0], "status=1");
  EXPECT_NE(out[1].find("-lock"), std::string::npos);
}

}  // namespace
}  // namespace e2e

namespace e2e {
namespace {

// A runtime made by jlink from the build's JDK, inside the executable, on a machine that shows
// no Java at all: no PATH entry, no JAVA_HOME and no HOME (the account's home holds the cache).
TEST(EmbeddedRuntimeJdk, JlinkedRuntimeRunsWithAnEmptyEnvironment) {
  const std::string jlink = std::string(LAUNCHER_JDK_HOME) + "/bin/jlink";
  if (!BuildJdkLoadable() || access(jlink.c_str(), X_OK) != 0) {
    GTEST_SKIP() << "no jlink of this build's word size";
  }
  TempDir tmp;
  RunResult made =
      RunProgram({jlink, "--add-modules", "java.base", "--strip-debug", "--no-header-files",
                  "--no-man-pages", "--generate-cds-archive", "--output", tmp / "rt"});
  if (made.status != 0) GTEST_SKIP() << "jlink cannot link here: " << made.err;
  const std::string exe = tmp / "probe-in-one-file";
  Pack(exe, {"mainclass e2e.Probe", "export PROBE_PROPS=java.home"}, PROBE_JAR,
       {"--runtime", tmp / "rt", "--embed-runtime", "--compression-level", "3"});
  const std::string home = getpwuid(geteuid())->pw_dir;
  for (int start = 0; start < 2; ++start) {
    RunResult r = RunProgram({"/usr/bin/env", "-i", "PATH=/nonexistent", exe, "x"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "arg[0]=x\n"));
    EXPECT_TRUE(
        Contains(r.out, "prop:java.home=" + home + "/.cache/launcher/runtime-probe-in-one-file-"))
        << r.out;
  }
  // The account's cache keeps nothing of this test.
  RunProgram({"/bin/sh", "-c", "rm -rf \"$1\"/.cache/launcher/*probe-in-one-file-*", "sh", home});
}

}  // namespace
}  // namespace e2e
