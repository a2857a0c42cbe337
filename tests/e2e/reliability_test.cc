// Reliability of the launcher binary against damaged executables, hostile settings and
// surroundings, simultaneous starts and interrupts: every run ends on its own, never by a
// crash, and either starts the application or ends with a launcher message and its status.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <thread>

#include "e2e_util.h"

namespace e2e {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// The message a launcher status stands for (status 11 reports message 13).
const std::map<int, std::string> kMessages = {
    {1, "Java Runtime Environment not found."},
    {2, "Java Runtime Environment not valid."},
    {4, "Java Virtual Machine starts failed."},
    {5, "Can not get the virtual machine version."},
    {6, "Java virtual machine version "},
    {7, "The main startup class could not be found."},
    {8, "The main startup class is not valid, main method missing."},
    {11, "There is already an instance of this program running."},
    {12, "Java virtual machine version "},
};

// Empty when the run started the application or ended with a launcher message as its last
// line of standard error and the matching status; else what went wrong.
std::string Misbehaviour(const RunResult& r) {
  if (r.timedOut) return "did not end";
  if (r.signal != 0) return "ended by signal " + std::to_string(r.signal);
  if (r.status == 0) return "";
  auto message = kMessages.find(r.status);
  if (message == kMessages.end()) return "status " + std::to_string(r.status);
  std::vector<std::string> lines = Lines(r.err);
  if (lines.empty() || lines.back().rfind(message->second, 0) != 0) {
    return "status " + std::to_string(r.status) + " without its message: " + r.err;
  }
  return "";
}

class ReliabilityTest : public ::testing::Test {
 protected:
  // An application on the test JVM library.
  std::string PackApp(std::vector<std::string> settings, const std::string& name = "app",
                      const std::vector<std::string>& extra = {}) {
    settings.insert(settings.begin(), "jvmdll " + jvm_);
    settings.insert(settings.begin(), "mainclass test.Main");
    return Pack(tmp_ / name, settings, jar_, extra);
  }

  RunOptions Options(EnvChanges env = {}, int timeoutMs = 60000) {
    env.emplace("TESTJVM_LOG", log_);
    RunOptions options;
    options.env = env;
    options.cwd = tmp_.path();
    options.timeoutMs = timeoutMs;
    return options;
  }

  RunResult Start(const std::string& exe, EnvChanges env = {}) {
    return RunProgram({exe}, Options(std::move(env)));
  }

  std::vector<std::string> LogLines(const std::string& prefix) {
    std::vector<std::string> selected;
    for (const auto& line : Lines(ReadFile(log_))) {
      if (line.rfind(prefix, 0) == 0) selected.push_back(line);
    }
    return selected;
  }

  bool Logged(const std::string& line) {
    for (const auto& l : Lines(ReadFile(log_))) {
      if (l == line) return true;
    }
    return false;
  }

  void SetUp() override {
    // The smallest archive: an end record alone, so the payload is all settings and image.
    WriteFile(jar_, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  }

  TempDir tmp_;
  std::string jvm_ = TESTJVM_LIB;
  std::string jar_ = tmp_ / "app.jar";
  std::string log_ = tmp_ / "jvm.log";
};

// ---- Damaged executables ------------------------------------------------------------------

// Splash bytes that hold no zip end record signature.
std::string SplashBytes(size_t size) {
  std::string bytes;
  for (size_t i = 0; i < size; ++i) bytes.push_back(static_cast<char>('a' + i % 23));
  return bytes;
}

TEST_F(ReliabilityTest, TruncatedAtEveryByteOfTheLastFourKibibytes) {
  // A payload longer than 4 KiB, so that every cut lands inside it. The runtime comes from
  // the external file, which no cut touches: a start that loses the payload fails with
  // message 7 (no main class) instead of searching the machine for a runtime.
  WriteFile(tmp_ / "splash.png", SplashBytes(4200));
  const std::string exe = PackApp({"option -Dpayload=1"}, "app", {"--splash", tmp_ / "splash.png"});
  const std::string config = "jre_order c\r\njvmdll " + jvm_ + "\r\n";
  WriteFile(exe + ".cfg", config);
  ASSERT_EQ(Start(exe).status, 0);

  const int kCuts = 4096;
  const int kWorkers = 2;
  // Forking the sanitized test program is slow enough to take every second cut only there.
  const int stride = kSanitized ? 2 : 1;
  // The leak check at the end of a sanitized run costs far more than the run; leaks are the
  // other tests' business, so these thousands of runs go without it.
  const RunOptions options = Options({{"ASAN_OPTIONS", "detect_leaks=0"}}, 20000);
  const off_t size = static_cast<off_t>(ReadFile(exe).size());
  std::vector<RunResult> results(kCuts + 1);
  // Each worker shortens a copy of its own, from the longest to the shortest. The copies are
  // written before any start, so that no started process inherits a descriptor open for
  // writing on an executable that another worker is about to start.
  std::vector<std::string> copies;
  for (int w = 0; w < kWorkers; ++w) {
    copies.push_back(tmp_ / ("cut" + std::to_string(w)));
    CopyFile(exe, copies.back());
    WriteFile(copies.back() + ".cfg", config);
  }
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&, w] {
      const std::string& copy = copies[static_cast<size_t>(w)];
      for (int cut = 1 + w * stride; cut <= kCuts; cut += kWorkers * stride) {
        if (truncate(copy.c_str(), size - cut) != 0) continue;
        results[static_cast<size_t>(cut)] = RunProgram({copy}, options);
      }
    });
  }
  for (auto& worker : workers) worker.join();

  int runs = 0, failures = 0;
  for (int cut = 1; cut <= kCuts; cut += stride) {
    const RunResult& r = results[static_cast<size_t>(cut)];
    ++runs;
    std::string wrong = Misbehaviour(r);
    if (wrong.empty() && r.status != 7) wrong = "status " + std::to_string(r.status);
    if (!wrong.empty() && ++failures <= 5) ADD_FAILURE() << "cut " << cut << ": " << wrong;
  }
  EXPECT_EQ(failures, 0) << "of " << runs << " truncated starts";
}

TEST_F(ReliabilityTest, CorruptedLengthFields) {
  WriteFile(tmp_ / "splash.png", SplashBytes(300));
  const std::string exe = PackApp({"option -Dpayload=1"}, "app", {"--splash", tmp_ / "splash.png"});
  WriteFile(exe + ".cfg", "jre_order c\r\njvmdll " + jvm_ + "\r\n");
  RunResult report = RunProgram({LAUNCHER_PACK_BIN, "--inspect", exe});
  ASSERT_EQ(report.status, 0) << report.out;
  std::map<std::string, int64_t> field;
  for (const auto& line : Lines(report.out)) {
    size_t colon = line.find(": ");
    if (colon != std::string::npos && isdigit(static_cast<unsigned char>(line[colon + 2]))) {
      field[line.substr(0, colon)] = std::stoll(line.substr(colon + 2));
    }
  }
  const int64_t trailerEnd = field["trailerEnd"], l = field["L"], c = field["C"];
  // Position and width of each length field, and the value packed into it.
  const struct {
    const char* name;
    int64_t position;
    int width;
    int64_t packed;
    bool settingsSurvive;  // the settings block does not depend on it
  } fields[] = {
      {"archive size", field["size field offset"], 8, field["Z"], false},
      {"L", trailerEnd - 4, 4, l, false},
      {"C", trailerEnd - 4 - l - 4, 4, c, true},
      {"D", trailerEnd - 4 - l - 4 - c - 4, 4, field["D"], true},
  };
  const std::string original = ReadFile(exe);
  for (const auto& f : fields) {
    for (int64_t value :
         {int64_t{-1}, int64_t{0}, int64_t{0x7FFFFFFF}, f.packed + 1, f.packed - 1}) {
      std::string bytes = original;
      for (int i = 0; i < f.width; ++i) {
        bytes[static_cast<size_t>(f.position + i)] =
            static_cast<char>((static_cast<uint64_t>(value) >> (8 * i)) & 0xFF);
      }
      WriteFile(exe, bytes);
      RunResult r = Start(exe);
      EXPECT_EQ(Misbehaviour(r), "") << f.name << " = " << value;
      if (f.settingsSurvive) {
        EXPECT_EQ(r.status, 0) << f.name << " = " << value << ": " << r.err;
      }
    }
  }
}

// ---- Hostile settings ---------------------------------------------------------------------

TEST_F(ReliabilityTest, MegabyteValuesAndAHundredThousandLines) {
  const std::string exe = PackApp({});
  const std::string big(1 << 20, 'x');
  WriteFile(exe + ".cfg", "option -Dbig=" + big + "\nmessage 7=" + big + "\nstdout " + big +
                              "\nforcecwd " + big + "\nproperty p=" + big + "\n");
  RunResult r = Start(exe, {{"TESTJVM_NO_MAIN_CLASS", "1"}});
  EXPECT_EQ(r.status, 7);
  ASSERT_FALSE(r.err.empty());
  EXPECT_EQ(Lines(r.err).back(), big);
  EXPECT_TRUE(Logged("option -Dbig=" + big));
  EXPECT_TRUE(Logged("setProperty p=" + big));

  std::string lines;
  for (int i = 0; i < 100000; ++i) lines += "option -Dn" + std::to_string(i) + "\n";
  WriteFile(exe + ".cfg", lines);
  WriteFile(log_, "");
  r = Start(exe);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(LogLines("create ").at(0),
            "create version=0x00010002 nOptions=100003 ignoreUnrecognized=1");
  EXPECT_TRUE(Logged("option -Dn99999"));
}

TEST_F(ReliabilityTest, InvalidUtf8AndNulBytesInTheExternalFile) {
  const std::string exe = PackApp({"option -Dpackaged=1"});
  const std::string runtime = "jre_order c\r\njvmdll " + jvm_ + "\r\n";
  const std::string invalid = "option -Da=\xff\r\noption -Db=\xc3(\r\noption -Dc=\xe2\x82";
  for (const char* mark : {"\xEF\xBB\xBF", ""}) {
    SCOPED_TRACE(*mark ? "UTF-8 mark" : "no mark");
    WriteFile(exe + ".cfg", mark + runtime + invalid);
    WriteFile(log_, "");
    RunResult r = Start(exe, {{"LC_ALL", "C.UTF-8"}});
    EXPECT_EQ(r.status, 0) << r.err;
    // A byte that starts no character becomes '?', and the text goes on after it.
    EXPECT_TRUE(Logged("option -Da=?"));
    EXPECT_TRUE(Logged("option -Db=?("));
    EXPECT_EQ(LogLines("option -Dc=").size(), 1u);
    EXPECT_TRUE(Logged("option -Dpackaged=1"));
  }

  // A NUL ends a UTF-8 external file's text for every lookup that starts at the beginning,
  // packaged lines included; a converted text only loses the rest of the file.
  const std::string withNul =
      runtime + "option -Dbefore=1\r\n" + std::string(1, '\0') + "option -Dafter=1\r\n";
  for (bool utf8 : {true, false}) {
    SCOPED_TRACE(utf8 ? "UTF-8 mark" : "no mark");
    WriteFile(exe + ".cfg", (utf8 ? "\xEF\xBB\xBF" : "") + withNul);
    WriteFile(log_, "");
    RunResult r = Start(exe);
    EXPECT_EQ(r.status, 0) << r.err;  // the main class is read from the packaged part alone
    EXPECT_TRUE(Logged("option -Dbefore=1"));
    EXPECT_FALSE(Logged("option -Dafter=1"));
    EXPECT_EQ(Logged("option -Dpackaged=1"), !utf8);
  }
}

std::string Utf16(const std::string& ascii, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : ascii) {
    out += bigEndian ? std::string(1, '\0') + c : std::string(1, c) + '\0';
  }
  return out;
}

TEST_F(ReliabilityTest, Utf16ExternalFileWithAnOddByteCount) {
  const std::string exe = PackApp({});
  for (bool bigEndian : {false, true}) {
    SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
    std::string text = Utf16("jre_order c\r\njvmdll " + jvm_ + "\r\noption -Dodd=1\r\n", bigEndian);
    WriteFile(exe + ".cfg", text + "o");  // the half unit at the end is dropped
    WriteFile(log_, "");
    RunResult r = Start(exe);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Logged("option -Dodd=1"));
  }
}

// ---- Hostile surroundings -----------------------------------------------------------------

TEST_F(ReliabilityTest, RuntimeDirectoryWithTenThousandSubdirectories) {
  const std::string jre = tmp_ / "jre";
  for (int i = 0; i < 10000; ++i) MakeDirs(jre + "/d" + std::to_string(i));
  CopyFile(jvm_, jre + "/d9999/libjvm.so");
  const std::string exe = Pack(tmp_ / "app", {"mainclass test.Main", "jre_order b"}, jar_);
  RunResult r = Start(exe);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(LogLines("create ").size(), 1u);
  rename((jre + "/d9999/libjvm.so").c_str(), (jre + "/d9999/other.so").c_str());
  r = Start(exe);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Misbehaviour(r), "");
}

TEST_F(ReliabilityTest, SymbolicLinkLoopOnThePathOfJava) {
  const std::string bin = tmp_ / "bin";
  MakeDirs(bin);
  ASSERT_EQ(symlink((bin + "/java2").c_str(), (bin + "/java").c_str()), 0);
  ASSERT_EQ(symlink((bin + "/java").c_str(), (bin + "/java2").c_str()), 0);
  const std::string exe = Pack(tmp_ / "app", {"mainclass test.Main", "jre_order s"}, jar_);
  RunResult loop = Start(exe, {{"PATH", bin}});
  EXPECT_EQ(loop.status, 1) << loop.err;
  EXPECT_EQ(Misbehaviour(loop), "");

  // A chain too long for the system to resolve, and one short enough to reach a runtime.
  const std::string runtime = tmp_ / "runtime";
  MakeDirs(runtime + "/bin");
  MakeDirs(runtime + "/lib/server");
  CopyFile(jvm_, runtime + "/lib/server/libjvm.so");
  WriteFile(runtime + "/bin/java", "#!/bin/sh\n");
  chmod((runtime + "/bin/java").c_str(), 0755);
  for (int links : {60, 30}) {
    const std::string chain = tmp_ / ("chain" + std::to_string(links));
    MakeDirs(chain);
    std::string target = runtime + "/bin/java";
    for (int i = 0; i < links; ++i) {
      std::string link = chain + "/l" + std::to_string(i);
      ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
      target = link;
    }
    ASSERT_EQ(symlink(target.c_str(), (chain + "/java").c_str()), 0);
    RunResult r = Start(exe, {{"PATH", chain}});
    EXPECT_EQ(r.status, links > 40 ? 1 : 0) << links << " links: " << r.err;
    EXPECT_EQ(Misbehaviour(r), "") << links << " links";
  }
}

TEST_F(ReliabilityTest, UnreadableExternalFileIsPassedOver) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  const std::string exe = PackApp({}, "tool.bin");
  WriteFile(exe + ".cfg", "option -Dfirst=1\n");
  chmod((exe + ".cfg").c_str(), 0);
  WriteFile(tmp_ / "tool.cfg", "option -Dsecond=1\n");
  RunResult r = Start(exe);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(Logged("option -Dfirst=1"));
  EXPECT_TRUE(Logged("option -Dsecond=1"));
}

TEST_F(ReliabilityTest, LibsTreeWithADirectoryCycle) {
  const std::string libs = tmp_ / "libs";
  MakeDirs(libs + "/sub");
  WriteFile(libs + "/a.jar", "");
  WriteFile(libs + "/sub/b.zip", "");
  ASSERT_EQ(symlink("..", (libs + "/sub/up").c_str()), 0);
  ASSERT_EQ(symlink(libs.c_str(), (libs + "/sub/root").c_str()), 0);
  const std::string exe = PackApp({"libs libs"});
  RunResult r = Start(exe, {{"CLASSPATH", std::nullopt}});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> classPath = LogLines("option -Djava.class.path=");
  ASSERT_EQ(classPath.size(), 1u);
  const std::string prefix = "option -Djava.class.path=" + exe;
  EXPECT_TRUE(classPath[0] == prefix + ":" + libs + "/a.jar:" + libs + "/sub/b.zip" ||
              classPath[0] == prefix + ":" + libs + "/sub/b.zip:" + libs + "/a.jar")
      << classPath[0];
}

TEST_F(ReliabilityTest, StandardOutputTargetThatIsADirectory) {
  MakeDirs(tmp_ / "logs");
  RunResult r = Start(PackApp({"stdout logs", "stderr logs"}), {{"TESTJVM_PRINT", "kept"}});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "kept\n");
  EXPECT_EQ(r.err, "kept\n");
}

TEST_F(ReliabilityTest, RedirectionCommandThatExitsAtOnce) {
  // Writes into a pipe nobody reads any more fail; the launcher's status survives them.
  RunResult quiet = Start(PackApp({"stdout |true", "stderr |true"}, "quiet"));
  EXPECT_EQ(quiet.status, 0);
  RunResult printing = Start(PackApp({"stdout |exit 0", "stderr |exit 0"}, "printing"),
                             {{"TESTJVM_PRINT", std::string(100000, 'p')}});
  EXPECT_EQ(Misbehaviour(printing), "");
  RunResult message = Start(PackApp({"stderr |true"}, "message"), {{"TESTJVM_FAIL_CREATE", "1"}});
  EXPECT_EQ(message.status, 4);
  EXPECT_EQ(message.signal, 0);
  EXPECT_EQ(message.err, "");
}

// ---- Simultaneous starts and interrupts ---------------------------------------------------

TEST_F(ReliabilityTest, FiftyGuardedStartsAtOnceLetExactlyOneRun) {
  const std::string exe = PackApp({"singleinstance true"});
  // The running start outlasts the slowest refused one, which sanitized builds make slower.
  const int sleepMs = kSanitized ? 6000 : 1500;
  const int rounds = kSanitized ? 5 : 20;
  // A start killed without its exit handling leaves its count behind; the next starts must
  // neither all be refused nor let two run.
  {
    Process killed({exe}, Options({{"TESTJVM_MAIN_SLEEP_MS", "20000"}, {"TESTJVM_PRINT", "up"}}));
    ASSERT_TRUE(killed.WaitForLine("up"));
    killed.Signal(SIGKILL);
  }
  for (int round = 0; round < rounds; ++round) {
    std::vector<std::unique_ptr<Process>> starts;
    for (int i = 0; i < 50; ++i) {
      starts.emplace_back(
          new Process({exe}, Options({{"TESTJVM_MAIN_SLEEP_MS", std::to_string(sleepMs)}})));
    }
    int ran = 0, refused = 0;
    for (auto& p : starts) {
      RunResult r = p->Wait();
      EXPECT_EQ(Misbehaviour(r), "") << "round " << round;
      if (r.status == 0) ++ran;
      if (r.status == 11 && r.err == kMessages.at(11) + "\n") ++refused;
    }
    ASSERT_EQ(ran, 1) << "round " << round;
    ASSERT_EQ(refused, 49) << "round " << round;
  }
}

// Runs on the machine's real JDK (kept out of the sanitizer build).
class ReliabilityJdkTest : public ReliabilityTest {
 protected:
  void SetUp() override {
    if (!BuildJdkLoadable()) GTEST_SKIP() << "the build's JDK has another word size";
    ReliabilityTest::SetUp();
  }
};

// Starts the probe application, interrupts each start once after a random delay spread over
// calibrationMs and a quarter more, and expects every run to end without a crash signal.
void InterruptAtRandomMoments(const std::string& exe, const RunOptions& options, int calibrationMs,
                              int starts) {
  const unsigned seed = static_cast<unsigned>(time(nullptr));
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> delay(0, calibrationMs + calibrationMs / 4);
  std::map<std::string, int> outcomes;
  for (int i = 0; i < starts; ++i) {
    const int ms = i < 5 ? i : delay(random);  // the first ones before the JVM exists
    Process p({exe}, options);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    p.Signal(SIGINT);
    RunResult r = p.Wait(30000);
    EXPECT_FALSE(r.timedOut) << "after " << ms << " ms (seed " << seed << ")";
    // Before the handlers exist an interrupt may end the process; it must never crash it.
    EXPECT_TRUE(r.signal == 0 || r.signal == SIGINT)
        << "signal " << r.signal << " after " << ms << " ms (seed " << seed << ")";
    ++outcomes[r.signal ? "SIGINT" : "status " + std::to_string(r.status)];
  }
  std::string summary;
  for (const auto& o : outcomes) summary += o.first + " x" + std::to_string(o.second) + "; ";
  std::cout << "calibration " << calibrationMs << " ms; outcomes: " << summary << std::endl;
}

int MillisecondsSince(std::chrono::steady_clock::time_point begin) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - begin)
                              .count());
}

TEST_F(ReliabilityJdkTest, InterruptAtRandomMomentsOfStartUpAndMain) {
  const std::string exe = Pack(tmp_ / "probe", {"mainclass e2e.Probe", "jre_order e"}, PROBE_JAR);
  RunOptions options = Options({{"JAVA_HOME", LAUNCHER_JDK_HOME}, {"PROBE_MODE", "wait"}});
  auto begin = std::chrono::steady_clock::now();
  {
    Process probe({exe}, options);
    ASSERT_TRUE(probe.WaitForLine("ready"));
    probe.Signal(SIGKILL);
  }
  InterruptAtRandomMoments(exe, options, MillisecondsSince(begin), 30);
}

TEST_F(ReliabilityJdkTest, InterruptAtRandomMomentsOfARunThatEnds) {
  // main returns at once, so late interrupts meet the JVM's destruction and the tear-down.
  const std::string exe = Pack(tmp_ / "probe", {"mainclass e2e.Probe", "jre_order e"}, PROBE_JAR);
  RunOptions options = Options({{"JAVA_HOME", LAUNCHER_JDK_HOME}});
  auto begin = std::chrono::steady_clock::now();
  ASSERT_EQ(RunProgram({exe}, options).status, 0);
  InterruptAtRandomMoments(exe, options, MillisecondsSince(begin), 30);
}

}  // namespace
}  // namespace e2e
