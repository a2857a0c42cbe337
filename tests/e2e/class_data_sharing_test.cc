// Automatic class-data sharing end to end: on the real JDKs the application's output and status
// never change, whatever happens to the archive; on the test JVM (every build, the sanitizer
// ones included) the archive's naming and the runtime checks.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "e2e_util.h"

namespace e2e {
namespace {

// The names in a cache directory's launcher folder, sorted.
std::vector<std::string> CacheFiles(const std::string& cache) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(cache + "/launcher", error)) {
    names.push_back(entry.path().filename());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class JdkClassDataSharingTest : public ::testing::Test {
 protected:
  using Args = std::vector<std::string>;
  static constexpr const char* kJdk = LAUNCHER_JDK_HOME;

  void SetUp() override {
    if (!BuildJdkLoadable()) GTEST_SKIP() << "the build's JDK has another word size";
  }

  // The probe with launcher-pack's default settings (cds auto), or packed with --no-cds.
  std::string PackProbe(const std::string& name, std::vector<std::string> settings = {},
                        bool cds = true) {
    settings.insert(settings.begin(), {"mainclass e2e.Probe", "jre_order e"});
    return Pack(tmp_ / name, settings, PROBE_JAR, cds ? Args{} : Args{"--no-cds"});
  }

  RunResult Run(const std::string& exe, EnvChanges env = {}, const std::string& jdk = kJdk,
                Args argv = {}) {
    env.emplace("JAVA_HOME", jdk);
    env.emplace("XDG_CACHE_HOME", cache_);
    RunOptions options;
    options.env = env;
    options.cwd = tmp_.path();
    argv.insert(argv.end(), {exe, "one", "two words"});
    return RunProgram(argv, options);
  }

  // The trace lines of one start that are about class-data sharing.
  std::string Cds(const std::string& exe, EnvChanges env = {}, const std::string& jdk = kJdk,
                  Args argv = {}) {
    env.emplace("LAUNCHER_TRACE", "1");
    std::string lines;
    for (const std::string& line : Lines(Run(exe, env, jdk, argv).err)) {
      if (line.rfind("[launcher] cds: ", 0) == 0) lines += line.substr(16) + "\n";
    }
    return lines;
  }

  // Runs exe and plain alike and expects the same output and status; returns the status.
  int Same(const std::string& exe, const std::string& plain, EnvChanges env = {},
           const std::string& jdk = kJdk, Args argv = {}) {
    RunResult a = Run(exe, env, jdk, argv), b = Run(plain, env, jdk, argv);
    EXPECT_EQ(a.status, b.status);
    EXPECT_EQ(a.out, b.out);
    EXPECT_EQ(a.err, b.err);
    return a.status;
  }

  TempDir tmp_;
  std::string cache_ = tmp_ / "cache";
};

// Runs on every installed runtime of the build's word size, whatever the build's JDK is.
class JdkClassDataSharingEveryRuntimeTest : public JdkClassDataSharingTest {
 protected:
  void SetUp() override {
    if (InstalledJdks().empty()) GTEST_SKIP() << "no runtime of this word size is installed";
  }
};

TEST_F(JdkClassDataSharingEveryRuntimeTest, OutputIsTheSameOnTheFirstAndLaterStarts) {
  for (const std::string& jdk : InstalledJdks()) {
    SCOPED_TRACE(jdk);
    std::filesystem::remove_all(cache_);
    std::string app = PackProbe("app"), quits = PackProbe("quits");
    std::string plain = PackProbe("plain", {}, false);
    for (int start = 1; start <= 2; ++start) {
      EXPECT_EQ(Same(app, plain, {}, jdk), 0);
      EXPECT_EQ(Same(app, plain, {{"PROBE_MODE", "throw"}}, jdk), 1);
      // System.exit never returns to the launcher: the JVM's exit hook names the archive.
      EXPECT_EQ(Same(quits, plain, {{"PROBE_MODE", "exit:3"}}, jdk), 3);
    }
    std::vector<std::string> files = CacheFiles(cache_);
    ASSERT_EQ(files.size(), 2u) << ::testing::PrintToString(files);
    EXPECT_TRUE(Contains(Cds(app, {}, jdk), files[0] + " used\n"));
    EXPECT_TRUE(Contains(Cds(quits, {}, jdk), files[1] + " used\n"));
    EXPECT_EQ(Cds(plain, {}, jdk), "");
  }
}

TEST_F(JdkClassDataSharingTest, ConcurrentFirstStartsLeaveOneArchive) {
  std::string app = PackProbe("app");
  std::string expected = Run(PackProbe("plain", {}, false)).out;
  RunOptions options;
  options.env = {{"JAVA_HOME", kJdk}, {"XDG_CACHE_HOME", cache_}};
  std::vector<std::unique_ptr<Process>> starts;
  for (int i = 0; i < 4; ++i) starts.emplace_back(new Process({app, "one", "two words"}, options));
  for (auto& start : starts) {
    RunResult r = start->Wait();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "");
  }
  std::vector<std::string> files = CacheFiles(cache_);
  ASSERT_EQ(files.size(), 1u) << ::testing::PrintToString(files);
  EXPECT_TRUE(Contains(Cds(app), files[0] + " used\n"));
}

TEST_F(JdkClassDataSharingTest, RepackedExecutableReplacesItsArchive) {
  std::string app = PackProbe("app");
  ASSERT_EQ(Run(app).status, 0);
  std::vector<std::string> before = CacheFiles(cache_);
  ASSERT_EQ(before.size(), 1u);
  PackProbe("app", {"argv again"});
  EXPECT_TRUE(Contains(Cds(app), "removed " + cache_ + "/launcher/" + before[0] + "\n"));
  std::vector<std::string> after = CacheFiles(cache_);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_NE(after, before);
  EXPECT_TRUE(Contains(Cds(app), after[0] + " used\n"));
}

TEST_F(JdkClassDataSharingTest, SharingDecidedElsewhereOrUnsafeClassPathGoesWithout) {
  const std::string plugins = PLUGIN_CLASSES;
  struct Case {
    Args settings;
    EnvChanges env;
    std::string reason;
  } cases[] = {
      {{"option -Xshare:off"}, {}, "-Xshare:off among the options"},
      {{},
       {{"JAVA_TOOL_OPTIONS", "-Xmx64m -XX:SharedArchiveFile=" + tmp_ / "my.jsa"}},
       "-XX:SharedArchiveFile=" + tmp_ / "my.jsa in JAVA_TOOL_OPTIONS"},
      // Writing an archive with a class from a directory ends the process with status 1.
      {{"classpath " + plugins},
       {{"PROBE_MODE", "load:e2eplugin.Plugin"}},
       "class path element '" + plugins + "' is not a regular file"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.reason);
    EXPECT_EQ(Same(PackProbe("app", c.settings), PackProbe("plain", c.settings, false), c.env), 0);
    EXPECT_TRUE(Contains(Cds(tmp_ / "app", c.env), "not used: " + c.reason + "\n"));
    EXPECT_EQ(CacheFiles(cache_), Args{});
  }
}

TEST_F(JdkClassDataSharingTest, ArchiveOpenToOthersIsNotUsedAndOneTheJvmRefusesIsReplaced) {
  std::string first = PackProbe("first"), second = PackProbe("second");
  std::string plain = PackProbe("plain", {}, false);
  ASSERT_EQ(Run(first).status, 0);
  std::vector<std::string> ofFirst = CacheFiles(cache_);
  ASSERT_EQ(Run(second).status, 0);
  std::string name = CacheFiles(cache_)[CacheFiles(cache_)[0] == ofFirst[0] ? 1 : 0];
  std::string archive = cache_ + "/launcher/" + name;
  ASSERT_EQ(chmod(archive.c_str(), 0666), 0);
  Same(second, plain);
  EXPECT_TRUE(Contains(Cds(second), "refused: it is writable by other users\n"));
  if (geteuid() == 0) {
    ASSERT_EQ(chmod(archive.c_str(), 0444) | chown(archive.c_str(), 65534, 65534), 0);
    Same(second, plain);
    EXPECT_TRUE(Contains(Cds(second), "refused: it belongs to another user\n"));
  }
  EXPECT_EQ(CacheFiles(cache_).size(), 2u);  // left alone, not replaced

  // The first executable's archive under the second's name: the JVM checks the class path.
  std::filesystem::remove(archive);
  CopyFile(cache_ + "/launcher/" + ofFirst[0], archive);
  EXPECT_TRUE(Contains(Cds(second), name + " refused by the JVM: "));
  EXPECT_EQ(CacheFiles(cache_), ofFirst);
  EXPECT_EQ(Same(second, plain), 0);
  EXPECT_TRUE(Contains(Cds(second), name + " used\n"));
}

TEST_F(JdkClassDataSharingTest, KilledFirstStartLeavesNothingThatIsUsed) {
  std::string app = PackProbe("app");
  RunOptions options;
  options.env = {{"JAVA_HOME", kJdk}, {"XDG_CACHE_HOME", cache_}, {"PROBE_MODE", "wait"}};
  Process waiting({app}, options);
  ASSERT_TRUE(waiting.WaitForLine("ready"));
  waiting.Signal(SIGKILL);
  EXPECT_EQ(waiting.Wait().signal, SIGKILL);
  EXPECT_EQ(CacheFiles(cache_).size(), 2u);  // its log and temporary file, no archive
  EXPECT_TRUE(Contains(Cds(app), ".jsa created\n"));
  std::vector<std::string> after = CacheFiles(cache_);  // the leftovers removed
  ASSERT_EQ(after.size(), 1u) << ::testing::PrintToString(after);
  EXPECT_TRUE(Contains(Cds(app), after[0] + " used\n"));
}

TEST_F(JdkClassDataSharingTest, ReadOnlyCacheDirectoryGoesWithout) {
  std::string app = PackProbe("app"), plain = PackProbe("plain", {}, false);
  cache_ = tmp_ / "ro";
  MakeDirs(cache_ + "/launcher");
  // Root may write anywhere, so the starts run as the user that owns the directory.
  Args as;
  if (geteuid() == 0) {
    as = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    if (access(as[0].c_str(), X_OK) != 0) GTEST_SKIP() << "no setpriv to drop root";
    ASSERT_EQ(chmod(tmp_.path().c_str(), 0755) | chown(cache_.c_str(), 65534, 65534) |
                  chown((cache_ + "/launcher").c_str(), 65534, 65534),
              0);
  }
  ASSERT_EQ(chmod((cache_ + "/launcher").c_str(), 0500), 0);
  EXPECT_EQ(Same(app, plain, {}, kJdk, as), 0);
  EXPECT_TRUE(Contains(Cds(app, {}, kJdk, as), "not used: cannot create " + cache_));
  EXPECT_EQ(CacheFiles(cache_), Args{});
}

// The test JVM writes the archive of -XX:ArchiveClassesAtExit when it ends, as a real one does.
TEST(ClassDataSharingTest, ArchiveIsNamedAtExitAndOnlyCapableRuntimesWriteOne) {
  TempDir tmp;
  auto start = [&](const std::string& version, bool base = true) {
    std::string server = tmp / ("rt" + version + "/lib/server");
    MakeDirs(server);
    CopyFile(TESTJVM_LIB, server + "/libjvm.so");
    if (base) WriteFile(server + "/classes.jsa", "base");
    WriteFile(tmp / ("rt" + version + "/release"), "JAVA_VERSION=\"" + version + "\"\n");
    std::string exe =
        Pack(tmp / "app", {"mainclass test.Main", "jvmdll " + server + "/libjvm.so"}, PROBE_JAR);
    RunOptions options;
    options.env = {{"XDG_CACHE_HOME", tmp / "cache"},
                   {"TESTJVM_LOG", tmp / "log"},
                   {"LAUNCHER_TRACE", "1"},
                   {"TESTJVM_EXIT", "5"}};
    std::filesystem::remove(tmp / "log");
    RunResult r = RunProgram({exe}, options);
    EXPECT_EQ(r.status, 5);  // System.exit: the exit hook gives the archive its name
    return r.err + ReadFile(tmp / "log");
  };
  std::string first = start("17.0.99");
  std::vector<std::string> files = CacheFiles(tmp / "cache");
  ASSERT_EQ(files.size(), 1u) << first;
  std::string archive = tmp / "cache/launcher/" + files[0];
  EXPECT_TRUE(Contains(first, "cds: dynamic archive " + archive + " created\n")) << first;
  EXPECT_TRUE(Contains(first, "option -XX:ArchiveClassesAtExit=" +
                                  archive.substr(0, archive.size() - 4) + ".") &&
              Contains(first, "\noption exit\n"));
  EXPECT_TRUE(Contains(start("11.0.2"), "cds: not used: Java 11 writes no dynamic archives"));
  std::string nobase = start("21.0.1", false);
  EXPECT_TRUE(Contains(nobase, "cds: not used: the runtime has no base archive")) << nobase;
  EXPECT_FALSE(Contains(nobase, "option -X"));
}

}  // namespace
}  // namespace e2e
