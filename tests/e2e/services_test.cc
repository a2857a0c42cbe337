// Stream redirection, the single instance guard and the splash screen, end to end.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ipc.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "e2e_util.h"

namespace e2e {
namespace {

class ServicesTest : public ::testing::Test {
 protected:
  // The probe application on the build's JDK, found through JAVA_HOME.
  std::string PackProbe(std::vector<std::string> settings, const std::string& name = "app") {
    settings.insert(settings.begin(), "jre_order e");
    settings.insert(settings.begin(), "mainclass e2e.Probe");
    return Pack(tmp_ / name, settings, PROBE_JAR);
  }

  // An application on the test JVM library.
  std::string PackTestJvm(std::vector<std::string> settings, const std::string& name = "app",
                          const std::vector<std::string>& extra = {}) {
    settings.insert(settings.begin(), "jvmdll " + jvm_);
    settings.insert(settings.begin(), "mainclass test.Main");
    return Pack(tmp_ / name, settings, PROBE_JAR, extra);
  }

  RunResult Start(const std::string& exe, EnvChanges env = {}) {
    env.emplace("JAVA_HOME", LAUNCHER_JDK_HOME);
    env.emplace("TESTJVM_LOG", (tmp_ / "jvm.log").c_str());
    RunOptions options;
    options.env = env;
    options.cwd = tmp_.path();
    return RunProgram({exe}, options);
  }

  TempDir tmp_;
  std::string jvm_ = TESTJVM_LIB;
};

// Runs on the machine's real JDK (kept out of the sanitizer build, which a real JVM does not
// tolerate).
class JdkServicesTest : public ServicesTest {
 protected:
  void SetUp() override {
    if (!BuildJdkLoadable()) GTEST_SKIP() << "the build's JDK has another word size";
  }
};

// Waits for a file that a command target writes after the launcher has gone.
std::string ReadWhenComplete(const std::string& path, size_t size) {
  for (int i = 0; i < 200 && ReadFile(path).size() < size; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return ReadFile(path);
}

TEST_F(ServicesTest, FileTargetsAreAppendedAndSharedWhenTheTextsAreEqual) {
  WriteFile(tmp_ / "out.txt", "old\n");
  RunResult r = Start(PackTestJvm({"stdout out.txt"}), {{"TESTJVM_PRINT", "hello"}});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "hello\n");
  EXPECT_EQ(ReadFile(tmp_ / "out.txt"), "old\nhello\n");

  RunResult both = Start(PackTestJvm({"stdout both.txt", "stderr both.txt"}, "both"),
                         {{"TESTJVM_PRINT", "twice"}});
  EXPECT_EQ(both.out + both.err, "");
  EXPECT_EQ(ReadFile(tmp_ / "both.txt"), "twice\ntwice\n");

  // Messages of the launcher follow the redirection too.
  RunResult message =
      Start(PackTestJvm({"stderr err.txt"}, "failing"), {{"TESTJVM_FAIL_CREATE", "1"}});
  EXPECT_EQ(message.status, 4);
  EXPECT_EQ(message.err, "");
  EXPECT_EQ(ReadFile(tmp_ / "err.txt"), "Java Virtual Machine starts failed.\n");
}

TEST_F(ServicesTest, UnopenableTargetLeavesTheStreamAlone) {
  RunResult r = Start(PackTestJvm({"stdout missing/dir/out.txt", "stderr " + tmp_.path()}),
                      {{"TESTJVM_PRINT", "still here"}});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "still here\n");
  EXPECT_EQ(r.err, "still here\n");
}

TEST_F(ServicesTest, RelativeTargetLandsInTheForcedDirectory) {
  MakeDirs(tmp_ / "data");
  RunResult r =
      Start(PackTestJvm({"forcecwd data", "stdout out.txt"}), {{"TESTJVM_PRINT", "forced"}});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadFile(tmp_ / "data/out.txt"), "forced\n");
}

TEST_F(ServicesTest, CommandTargetsReceiveEverythingFromBothStreams) {
  std::string sink = tmp_ / "sink.txt";
  std::string target = "|cat > '" + sink + "'";
  RunResult r =
      Start(PackTestJvm({"stdout " + target, "stderr " + target}), {{"TESTJVM_PRINT", "piped"}});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(ReadWhenComplete(sink, 12), "piped\npiped\n");
}

TEST_F(JdkServicesTest, TwentyMegabytesPerStreamArriveComplete) {
  const size_t size = 20u * 1024 * 1024;
  std::string exe = PackProbe({"stdout out.bin", "stderr |cat > err.bin"});
  RunResult r = Start(exe, {{"PROBE_MODE", "flood:20"}});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string out = ReadFile(tmp_ / "out.bin");
  std::string err = ReadWhenComplete(tmp_ / "err.bin", size);
  ASSERT_EQ(out.size(), size);
  EXPECT_EQ(err, out);
  char line[65];
  snprintf(line, sizeof(line), "%063d\n", static_cast<int>(size / 64 - 1));
  EXPECT_EQ(out.substr(size - 64), line);
  EXPECT_EQ(out.substr(0, 64), std::string(63, '0') + "\n");
}

std::string AnchorName(const std::string& exe) {
  char name[32];
  snprintf(name, sizeof(name), "KEYSHM%08X", static_cast<unsigned>(ftok(exe.c_str(), 255)));
  return name;
}

TEST_F(ServicesTest, SingleInstanceValuesAndOrderOfStarts) {
  RunOptions waiting;
  waiting.env = {{"TESTJVM_MAIN_SLEEP_MS", "20000"}, {"TESTJVM_PRINT", "ready"}};
  for (const char* value : {"true", "True", "TRUE"}) {
    SCOPED_TRACE(value);
    std::string exe = PackTestJvm({std::string("singleinstance ") + value}, value);
    Process first({exe}, waiting);
    ASSERT_TRUE(first.WaitForLine("ready"));
    RunResult second = Start(exe);
    EXPECT_EQ(second.status, 11);
    EXPECT_EQ(second.err, "There is already an instance of this program running.\n");
    first.Signal(SIGKILL);
  }
  for (const char* value : {"yes", "1"}) {
    SCOPED_TRACE(value);
    std::string exe = PackTestJvm({std::string("singleinstance ") + value}, value);
    Process first({exe}, waiting);
    ASSERT_TRUE(first.WaitForLine("ready"));
    EXPECT_EQ(Start(exe).status, 0);
    first.Signal(SIGKILL);
  }
}

TEST_F(ServicesTest, AStartWithoutTheGuardDoesNotCount) {
  std::string exe = PackTestJvm({}, "app");
  WriteFile(tmp_ / "guarded.cfg", "singleinstance true\n");
  RunOptions waiting;
  waiting.env = {{"TESTJVM_MAIN_SLEEP_MS", "20000"}, {"TESTJVM_PRINT", "ready"}};
  Process unguarded({exe}, waiting);
  ASSERT_TRUE(unguarded.WaitForLine("ready"));
  // The external file beside a hard link of the same executable turns the guard on.
  ASSERT_EQ(link(exe.c_str(), (tmp_ / "guarded").c_str()), 0);
  Process guarded({tmp_ / "guarded"}, waiting);
  ASSERT_TRUE(guarded.WaitForLine("ready"));
  EXPECT_EQ(Start(tmp_ / "guarded").status, 11);
  // A copy at another path has a guard of its own.
  CopyFile(tmp_ / "guarded", tmp_ / "copy");
  WriteFile(tmp_ / "copy.cfg", "singleinstance true\n");
  EXPECT_EQ(Start(tmp_ / "copy").status, 0);
  unguarded.Signal(SIGKILL);
  guarded.Signal(SIGKILL);
}

TEST_F(ServicesTest, TwentyGuardedStartsAtOnceLetExactlyOneRun) {
  std::string exe = PackTestJvm({"singleinstance true"});
  RunOptions options;
  options.env = {{"TESTJVM_MAIN_SLEEP_MS", "6000"}};
  std::vector<std::unique_ptr<Process>> starts;
  for (int i = 0; i < 20; ++i) starts.emplace_back(new Process({exe}, options));
  int ran = 0, refused = 0;
  for (auto& p : starts) {
    RunResult r = p->Wait();
    if (r.status == 0) ++ran;
    if (r.status == 11) ++refused;
  }
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(refused, 19);
}

TEST_F(JdkServicesTest, AnchorVariableIsVisibleToTheApplication) {
  std::string exe = PackProbe({});
  std::string name = AnchorName(exe);
  RunResult r = Start(exe, {{"PROBE_ENV", name.c_str()}, {name.c_str(), "1234"}});
  ASSERT_EQ(r.status, 0) << r.err;
  // An inherited value is replaced by this process's own block.
  EXPECT_TRUE(Contains(r.out, "env:" + name + "=")) << r.out;
  EXPECT_FALSE(Contains(r.out, "env:" + name + "=1234\n")) << r.out;
  EXPECT_FALSE(Contains(r.out, "env:" + name + "=null\n")) << r.out;
}

class SplashTest : public ServicesTest {
 protected:
  void SetUp() override {
    runtime_ = tmp_ / "runtime";
    MakeDirs(runtime_ + "/lib/server");
    CopyFile(TESTJVM_LIB, runtime_ + "/lib/server/libjvm.so");
    jvm_ = runtime_ + "/lib/server/libjvm.so";
    image_ = tmp_ / "splash.png";
    std::string bytes;
    for (int i = 0; i < 300; ++i) bytes.push_back(static_cast<char>(i * 7));
    WriteFile(image_, bytes);
  }
  void UseSplashLibrary(const std::string& library) {
    CopyFile(library, runtime_ + "/lib/libsplashscreen.so");
  }
  std::vector<std::string> SplashLog() {
    std::vector<std::string> lines;
    for (const auto& line : Lines(ReadFile(tmp_ / "jvm.log"))) {
      if (line.rfind("splash", 0) == 0) lines.push_back(line);
    }
    return lines;
  }

  std::string runtime_;
  std::string image_;
};

TEST_F(SplashTest, ImageBytesAreHandedToTheSplashLibraryBeforeTheJvmStarts) {
  UseSplashLibrary(TESTSPLASH_LIB);
  std::string exe = PackTestJvm({}, "app", {"--splash", image_});
  std::string dump = tmp_ / "dump.bin";
  RunResult r = Start(exe, {{"TESTSPLASH_DUMP", dump.c_str()}});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dump), ReadFile(image_));
  std::vector<std::string> log = Lines(ReadFile(tmp_ / "jvm.log"));
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0], "splash init");
  EXPECT_EQ(log[1].rfind("splash load 300 00070e151c", 0), 0u) << log[1];
  EXPECT_EQ(log[2].rfind("create ", 0), 0u);
}

TEST_F(SplashTest, ReservedBlockIsNeverPassedOn) {
  UseSplashLibrary(TESTSPLASH_LIB);
  std::string exe = PackTestJvm({}, "app", {"--splash", image_});
  // Put a reserved block between the image's length field and the reserved length field.
  std::string bytes = ReadFile(exe);
  size_t image = bytes.find(ReadFile(image_));
  ASSERT_NE(image, std::string::npos);
  size_t reservedAt = image + 300 + 4;
  ASSERT_EQ(bytes.substr(reservedAt, 4), std::string(4, '\0'));
  bytes.insert(reservedAt, "RESERVED");
  bytes[reservedAt + 8] = 8;
  WriteFile(exe, bytes);
  std::string dump = tmp_ / "dump.bin";
  ASSERT_EQ(Start(exe, {{"TESTSPLASH_DUMP", dump.c_str()}}).status, 0);
  EXPECT_EQ(ReadFile(dump), ReadFile(image_));
}

TEST_F(SplashTest, NoImageOrNoEntryPointShowsNothing) {
  UseSplashLibrary(TESTSPLASH_LIB);
  ASSERT_EQ(Start(PackTestJvm({}, "plain")).status, 0);
  EXPECT_TRUE(SplashLog().empty());
  UseSplashLibrary(TESTSPLASH_NOLOAD_LIB);
  RunResult r = Start(PackTestJvm({}, "noload", {"--splash", image_}));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(SplashLog().empty());
}

}  // namespace
}  // namespace e2e
