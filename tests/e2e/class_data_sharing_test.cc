// Automatic class-data sharing end to end: on the machine's real JDKs the application's output
// and status never change, whatever happens to the archive; on the test JVM the archive's
// naming protocol and the runtime checks run in every build, the sanitizer builds included.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "e2e_util.h"

namespace e2e {
namespace {

// The files of a cache directory's launcher folder, sorted.
std::vector<std::string> CacheFiles(const std::string& cache) {
  std::vector<std::string> names;
  DIR* dir = opendir((cache + "/launcher").c_str());
  if (!dir) return names;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class JdkClassDataSharingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!BuildJdkLoadable()) GTEST_SKIP() << "the build's JDK has another word size";
  }

  // The probe packed with launcher-pack's default settings (cds auto), or without them.
  std::string PackProbe(const std::string& name, bool cds = true,
                        std::vector<std::string> settings = {}) {
    settings.insert(settings.begin(), {"mainclass e2e.Probe", "jre_order e"});
    std::vector<std::string> extra;
    if (!cds) extra.push_back("--no-cds");
    return Pack(tmp_ / name, settings, PROBE_JAR, extra);
  }

  RunResult Start(const std::string& exe, EnvChanges env = {},
                  const std::string& jdk = LAUNCHER_JDK_HOME) {
    env.emplace("JAVA_HOME", jdk);
    env.emplace("XDG_CACHE_HOME", cache_);
    RunOptions options;
    options.env = env;
    return RunProgram({exe, "one", "two words"}, options);
  }

  // A traced start; the trace lines that are about class-data sharing.
  std::string TracedCds(const std::string& exe, EnvChanges env = {},
                        const std::string& jdk = LAUNCHER_JDK_HOME) {
    env.emplace("LAUNCHER_TRACE", "1");
    RunResult r = Start(exe, env, jdk);
    EXPECT_EQ(r.status, 0) << r.err;
    std::string lines;
    for (const std::string& line : Lines(r.err)) {
      if (line.rfind("[launcher] cds: ", 0) == 0) lines += line.substr(16) + "\n";
    }
    return lines;
  }

  // Output and status of the packed application with and without archives are the same.
  void ExpectSameAsPlain(const RunResult& cds, const RunResult& plain) {
    EXPECT_EQ(cds.status, plain.status);
    EXPECT_EQ(cds.out, plain.out);
    EXPECT_EQ(cds.err, plain.err);
  }

  TempDir tmp_;
  std::string cache_ = tmp_ / "cache";
};

TEST_F(JdkClassDataSharingTest, OutputIsTheSameOnTheFirstAndLaterStartsOfEveryJdk) {
  std::vector<std::string> jdks = InstalledJdks();
  for (const std::string& jdk : jdks) {
    SCOPED_TRACE(jdk);
    std::filesystem::remove_all(cache_);
    std::string plain = PackProbe("plain", false);
    std::string app = PackProbe("app");
    std::string quits = PackProbe("quits");
    for (int start = 1; start <= 2; ++start) {
      SCOPED_TRACE(start);
      ExpectSameAsPlain(Start(app, {}, jdk), Start(plain, {}, jdk));
      // System.exit never returns to the launcher: the JVM's exit hook names the archive.
      EnvChanges exits = {{"PROBE_MODE", "exit:3"}};
      RunResult exited = Start(quits, exits, jdk);
      EXPECT_EQ(exited.status, 3);
      ExpectSameAsPlain(exited, Start(plain, exits, jdk));
      EnvChanges throws = {{"PROBE_MODE", "throw"}};
      ExpectSameAsPlain(Start(app, throws, jdk), Start(plain, throws, jdk));
    }
    std::vector<std::string> files = CacheFiles(cache_);
    ASSERT_EQ(files.size(), 2u) << ::testing::PrintToString(files);
    for (const std::string& file : files) EXPECT_TRUE(EndsWith(file, ".jsa")) << file;
    std::string used = TracedCds(app, {}, jdk);
    EXPECT_TRUE(Contains(used, "/launcher/" + files[0] + " used\n")) << used;
    EXPECT_TRUE(Contains(TracedCds(quits, {}, jdk), files[1] + " used\n"));
    EXPECT_EQ(TracedCds(plain, {}, jdk), "");
  }
  if (jdks.empty()) GTEST_SKIP() << "no runtime of this word size is installed";
}

TEST_F(JdkClassDataSharingTest, ConcurrentFirstStartsLeaveOneCompleteArchive) {
  std::string app = PackProbe("app");
  std::string expected = Start(PackProbe("plain", false)).out;
  RunOptions options;
  options.env = {{"JAVA_HOME", LAUNCHER_JDK_HOME}, {"XDG_CACHE_HOME", cache_}};
  std::vector<std::unique_ptr<Process>> starts;
  for (int i = 0; i < 4; ++i) {
    starts.push_back(
        std::make_unique<Process>(std::vector<std::string>{app, "one", "two words"}, options));
  }
  for (auto& start : starts) {
    RunResult r = start->Wait();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "");
  }
  std::vector<std::string> files = CacheFiles(cache_);
  ASSERT_EQ(files.size(), 1u) << ::testing::PrintToString(files);
  EXPECT_TRUE(Contains(TracedCds(app), files[0] + " used\n"));
}

TEST_F(JdkClassDataSharingTest, RepackedExecutableWritesANewArchiveAndDropsTheOld) {
  std::string app = PackProbe("app");
  ASSERT_EQ(Start(app).status, 0);
  std::vector<std::string> before = CacheFiles(cache_);
  ASSERT_EQ(before.size(), 1u);
  PackProbe("app", true, {"argv again"});
  std::string trace = TracedCds(app);
  EXPECT_TRUE(Contains(trace, "removed " + cache_ + "/launcher/" + before[0] + "\n")) << trace;
  EXPECT_TRUE(Contains(trace, " missing: the JVM writes it to ")) << trace;
  std::vector<std::string> after = CacheFiles(cache_);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_NE(after[0], before[0]);
  EXPECT_TRUE(Contains(TracedCds(app), after[0] + " used\n"));
}

TEST_F(JdkClassDataSharingTest, UnsafeSituationsStartWithoutAnArchiveAndSayWhy) {
  MakeDirs(tmp_ / "cwd");
  WriteFile(tmp_ / "cwd/file", "x");
  MakeDirs(tmp_ / "home/.cache");
  WriteFile(tmp_ / "home/.cache/launcher", "not a directory");
  const std::string plugins = PLUGIN_CLASSES;
  struct Case {
    std::vector<std::string> settings;
    EnvChanges env;
    std::string reason;
  } cases[] = {
      {{"option -Xshare:off"}, {}, "not used: -Xshare:off among the options"},
      {{},
       {{"JAVA_TOOL_OPTIONS", "-Xmx64m -XX:SharedArchiveFile=" + tmp_ / "mine.jsa"}},
       "not used: -XX:SharedArchiveFile=" + tmp_ / "mine.jsa in JAVA_TOOL_OPTIONS"},
      // Dumping a class loaded from a directory ends the process with status 1.
      {{"classpath " + plugins},
       {{"PROBE_MODE", "load:e2eplugin.Plugin"}},
       "not used: class path element '" + plugins + "' is not a regular file"},
      {{}, {{"CLASSPATH", "."}}, "not used: class path element '.' is not a regular file"},
      {{}, {{"XDG_CACHE_HOME", "/proc/none"}}, "not used: cache directory /proc/none/launcher"},
      {{},
       {{"XDG_CACHE_HOME", ""}, {"HOME", tmp_ / "home"}},
       "not used: cache directory " + tmp_ / "home/.cache/launcher is not a directory"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.reason);
    std::string app = PackProbe("app", true, c.settings);
    std::string plain = PackProbe("plain", false, c.settings);
    RunOptions options;
    options.cwd = tmp_ / "cwd";  // not empty, like most working directories
    options.env = c.env;
    options.env.emplace("JAVA_HOME", LAUNCHER_JDK_HOME);
    options.env.emplace("XDG_CACHE_HOME", cache_);
    RunResult cds = RunProgram({app, "x"}, options);
    EXPECT_EQ(cds.status, 0) << cds.err;
    ExpectSameAsPlain(cds, RunProgram({plain, "x"}, options));
    options.env["LAUNCHER_TRACE"] = "1";
    RunResult traced = RunProgram({app, "x"}, options);
    EXPECT_TRUE(Contains(traced.err, "[launcher] cds: " + c.reason)) << traced.err;
    EXPECT_EQ(CacheFiles(cache_), std::vector<std::string>{});
  }
}

TEST_F(JdkClassDataSharingTest, ArchiveOthersCouldHaveWrittenIsNotUsed) {
  std::string app = PackProbe("app");
  std::string plain = PackProbe("plain", false);
  ASSERT_EQ(Start(app).status, 0);
  std::vector<std::string> files = CacheFiles(cache_);
  ASSERT_EQ(files.size(), 1u);
  std::string archive = cache_ + "/launcher/" + files[0];
  ASSERT_EQ(chmod(archive.c_str(), 0666), 0);
  ExpectSameAsPlain(Start(app), Start(plain));
  EXPECT_TRUE(Contains(TracedCds(app), "refused: it is writable by other users"));
  ASSERT_EQ(chmod(archive.c_str(), 0444), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(chown(archive.c_str(), 65534, 65534), 0);
    ExpectSameAsPlain(Start(app), Start(plain));
    EXPECT_TRUE(Contains(TracedCds(app), "refused: it belongs to another user"));
    struct stat st;
    ASSERT_EQ(stat(archive.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);  // left alone, not replaced
  }
  EXPECT_EQ(CacheFiles(cache_), files);
}

TEST_F(JdkClassDataSharingTest, ArchiveTheJvmRefusesIsReplacedByTheNextStart) {
  std::string first = PackProbe("first");
  std::string second = PackProbe("second");
  ASSERT_EQ(Start(first).status, 0);
  std::vector<std::string> firsts = CacheFiles(cache_);
  ASSERT_EQ(Start(second).status, 0);
  std::vector<std::string> both = CacheFiles(cache_);
  ASSERT_EQ(both.size(), 2u);
  std::string secondArchive = both[0] == firsts[0] ? both[1] : both[0];
  // The first executable's archive under the second's name: the JVM checks the class path.
  std::remove((cache_ + "/launcher/" + secondArchive).c_str());
  CopyFile(cache_ + "/launcher/" + firsts[0], cache_ + "/launcher/" + secondArchive);
  std::string trace = TracedCds(second);
  EXPECT_TRUE(Contains(trace, secondArchive + " refused by the JVM: ")) << trace;
  EXPECT_EQ(CacheFiles(cache_), firsts);
  ExpectSameAsPlain(Start(second), Start(PackProbe("plain", false)));
  EXPECT_TRUE(Contains(TracedCds(second), secondArchive + " used\n"));
}

TEST_F(JdkClassDataSharingTest, KilledFirstStartLeavesNothingALaterStartUses) {
  std::string app = PackProbe("app");
  RunOptions options;
  options.env = {
      {"JAVA_HOME", LAUNCHER_JDK_HOME}, {"XDG_CACHE_HOME", cache_}, {"PROBE_MODE", "wait"}};
  Process waiting({app}, options);
  ASSERT_TRUE(waiting.WaitForLine("ready"));
  waiting.Signal(SIGKILL);
  EXPECT_EQ(waiting.Wait().signal, SIGKILL);
  std::vector<std::string> left = CacheFiles(cache_);
  ASSERT_EQ(left.size(), 2u) << ::testing::PrintToString(left);  // its .log and .tmp
  for (const std::string& file : left) EXPECT_FALSE(EndsWith(file, ".jsa")) << file;

  std::string trace = TracedCds(app);
  EXPECT_TRUE(Contains(trace, "removed " + cache_ + "/launcher/" + left[0])) << trace;
  EXPECT_TRUE(Contains(trace, "removed " + cache_ + "/launcher/" + left[1])) << trace;
  EXPECT_TRUE(Contains(trace, ".jsa created\n")) << trace;
  std::vector<std::string> after = CacheFiles(cache_);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_TRUE(EndsWith(after[0], ".jsa"));
}

TEST_F(JdkClassDataSharingTest, ReadOnlyCacheDirectoryStartsWithoutAnArchive) {
  std::string app = PackProbe("app");
  std::string plain = PackProbe("plain", false);
  std::string readOnly = tmp_ / "ro";
  MakeDirs(readOnly + "/launcher");
  // Root writes anywhere; the starts run as the unprivileged user that owns the directory.
  std::vector<std::string> as;
  if (geteuid() == 0) {
    as = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    ASSERT_EQ(chmod(tmp_.path().c_str(), 0755), 0);
    ASSERT_EQ(chown(readOnly.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chown((readOnly + "/launcher").c_str(), 65534, 65534), 0);
    if (access(as[0].c_str(), X_OK) != 0) GTEST_SKIP() << "no setpriv to drop root";
  }
  ASSERT_EQ(chmod((readOnly + "/launcher").c_str(), 0500), 0);
  RunOptions options;
  options.env = {{"JAVA_HOME", LAUNCHER_JDK_HOME}, {"XDG_CACHE_HOME", readOnly}};
  auto run = [&](const std::string& exe) {
    std::vector<std::string> argv = as;
    argv.push_back(exe);
    return RunProgram(argv, options);
  };
  RunResult cds = run(app);
  EXPECT_EQ(cds.status, 0) << cds.err;
  ExpectSameAsPlain(cds, run(plain));
  options.env["LAUNCHER_TRACE"] = "1";
  EXPECT_TRUE(Contains(run(app).err, "[launcher] cds: not used: cannot create " + readOnly));
  EXPECT_EQ(CacheFiles(readOnly), std::vector<std::string>{});
}

// The test JVM writes the archive it is asked for when it ends, as a real one does.
class ClassDataSharingTest : public ::testing::Test {
 protected:
  // A runtime directory around the test JVM library, with a release file of that version.
  std::string Runtime(const std::string& name, const std::string& version, bool base = true) {
    std::string server = tmp_ / (name + "/lib/server");
    MakeDirs(server);
    CopyFile(TESTJVM_LIB, server + "/libjvm.so");
    if (base) WriteFile(server + "/classes.jsa", "base");
    WriteFile(tmp_ / (name + "/release"), "JAVA_VERSION=\"" + version + "\"\n");
    return server + "/libjvm.so";
  }

  RunResult Start(const std::string& exe, EnvChanges env = {}) {
    env.emplace("XDG_CACHE_HOME", tmp_ / "cache");
    env.emplace("TESTJVM_LOG", log_);
    env.emplace("LAUNCHER_TRACE", "1");
    RunOptions options;
    options.env = env;
    std::remove(log_.c_str());
    return RunProgram({exe}, options);
  }

  TempDir tmp_;
  std::string log_ = tmp_ / "jvm.log";
};

TEST_F(ClassDataSharingTest, ArchiveGetsItsNameWhenTheJvmReturnsAndWhenItExits) {
  std::string library = Runtime("rt", "17.0.99");
  for (const char* exit : {"", "5"}) {
    SCOPED_TRACE(exit);
    std::filesystem::remove_all(tmp_ / "cache");
    std::string exe = Pack(tmp_ / "app", {"mainclass test.Main", "jvmdll " + library}, PROBE_JAR);
    EnvChanges env;
    if (*exit) env["TESTJVM_EXIT"] = exit;
    RunResult first = Start(exe, env);
    EXPECT_EQ(first.status, *exit ? 5 : 0) << first.err;
    std::vector<std::string> files = CacheFiles(tmp_ / "cache");
    ASSERT_EQ(files.size(), 1u) << first.err;
    std::string archive = tmp_ / "cache/launcher/" + files[0];
    EXPECT_TRUE(Contains(first.err, "[launcher] cds: dynamic archive " + archive + " created\n"));
    std::string log = ReadFile(log_);
    EXPECT_TRUE(Contains(
        log, "option -XX:ArchiveClassesAtExit=" + archive.substr(0, archive.size() - 4) + "."))
        << log;
    EXPECT_TRUE(Contains(log, "option -Xlog:cds*=off\n"));
    EXPECT_TRUE(Contains(log, "\noption exit\n"));

    RunResult second = Start(exe, env);
    EXPECT_TRUE(Contains(ReadFile(log_), "option -XX:SharedArchiveFile=" + archive + "\n"));
    EXPECT_TRUE(Contains(second.err, "[launcher] cds: dynamic archive " + archive + " used\n"));
    EXPECT_FALSE(Contains(ReadFile(log_), "option exit"));
  }
}

TEST_F(ClassDataSharingTest, RuntimesThatCannotWriteAnArchiveGetNoOptions) {
  struct Case {
    std::string library;
    std::string reason;
  } cases[] = {
      {Runtime("old", "11.0.2"), "not used: Java 11 writes no dynamic archives"},
      {Runtime("nobase", "21.0.1", false),
       "not used: the runtime has no base archive " + tmp_ / "nobase/lib/server/classes.jsa"},
      {TESTJVM_LIB, "not used: no release file at "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    std::string exe = Pack(tmp_ / "app", {"mainclass test.Main", "jvmdll " + c.library}, PROBE_JAR);
    RunResult r = Start(exe);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "[launcher] cds: " + c.reason)) << r.err;
    EXPECT_FALSE(Contains(ReadFile(log_), "option -X")) << ReadFile(log_);
  }
  // A value other than auto is off, and says so.
  std::string off =
      Pack(tmp_ / "off", {"mainclass test.Main", "jvmdll " + cases[0].library, "cds Auto-please"},
           PROBE_JAR);
  EXPECT_TRUE(Contains(Start(off).err, "[launcher] cds: 'Auto-please' is not auto: off\n"));
}

}  // namespace
}  // namespace e2e
