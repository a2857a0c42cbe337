// End-to-end runs of packaged applications on the real JDKs of this machine.
#include <gtest/gtest.h>
#include <signal.h>

#include "e2e_util.h"

namespace e2e {
namespace {

class JdkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!BuildJdkLoadable()) GTEST_SKIP() << "the build's JDK has another word size";
  }

  // Packs the probe application with the given settings after the main class line.
  std::string PackProbe(std::vector<std::string> settings, const std::string& name = "app") {
    settings.insert(settings.begin(), "mainclass e2e.Probe");
    return Pack(tmp_ / name, settings, PROBE_JAR);
  }

  // Runs exe with the runtime taken from JAVA_HOME only, unless the settings say otherwise.
  RunResult Start(const std::string& exe, const std::vector<std::string>& args = {},
                  EnvChanges env = {}, const std::string& jdk = LAUNCHER_JDK_HOME) {
    env.emplace("JAVA_HOME", jdk.c_str());
    RunOptions options;
    options.env = env;
    std::vector<std::string> argv = {exe};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, options);
  }

  std::string JavaVersion(const std::string& jdk = LAUNCHER_JDK_HOME) {
    std::string exe = PackProbe({"jre_order e"}, "version-probe");
    RunResult r = Start(exe, {}, {{"PROBE_PROPS", "java.version"}}, jdk);
    for (const auto& line : Lines(r.out)) {
      if (line.rfind("prop:java.version=", 0) == 0) return line.substr(18);
    }
    ADD_FAILURE() << "no java.version in: " << r.out << r.err;
    return "";
  }

  TempDir tmp_;
};

TEST_F(JdkTest, ArgvWordsComeBeforeUnsplitCommandLineArguments) {
  std::string exe = PackProbe({"jre_order e", "argv -v \"two words\" three", "argv \"\""});
  RunResult r = Start(exe, {"a b", "", "c"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> expected = {"argc=7",  "arg[0]=-v",  "arg[1]=two words", "arg[2]=three",
                                       "arg[3]=", "arg[4]=a b", "arg[5]=",          "arg[6]=c"};
  std::vector<std::string> args;
  for (const auto& line : Lines(r.out)) {
    if (line.rfind("arg", 0) == 0) args.push_back(line);
  }
  EXPECT_EQ(args, expected);
}

TEST_F(JdkTest, NonAsciiArgumentsArriveAsUtf16UnderUtf8Locale) {
  std::string exe = PackProbe({"jre_order e"});
  RunResult r = Start(exe,
                      {"\xC3\xA9\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                       "a\xFF"
                       "b"},
                      {{"LC_ALL", "C.UTF-8"}});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "units[0]=00e9 20ac\n")) << r.out;
  // A character outside the Basic Multilingual Plane becomes a surrogate pair.
  EXPECT_TRUE(Contains(r.out, "units[1]=d83d de00\n")) << r.out;
  // A byte that is invalid in the locale becomes '?' and the rest of the argument survives.
  EXPECT_TRUE(Contains(r.out, "units[2]=0061 003f 0062\n")) << r.out;
}

TEST_F(JdkTest, GeneratedPropertiesExportsAndPropertySettings) {
  std::string exe = PackProbe({"jre_order e", "export PROBE_GREETING=   hello there",
                               "export PROBE_FROM_HOME=%APPLICATION_HOME%x", "property probe.one=1",
                               "property probe.empty", "property probe.utf=\xC3\xA9"});
  RunResult r = Start(exe, {},
                      {{"PROBE_PROPS",
                        "java.class.path,ksl.app.path,application.home,probe.one,"
                        "probe.empty,probe.utf"},
                       {"PROBE_ENV", "PROBE_GREETING,PROBE_FROM_HOME"},
                       {"LC_ALL", "C.UTF-8"}});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "prop:java.class.path=" + exe + "\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "prop:ksl.app.path=" + exe + "\n"));
  EXPECT_TRUE(Contains(r.out, "prop:application.home=" + tmp_.path() + "/\n"));
  EXPECT_TRUE(Contains(r.out, "prop:probe.one=1\n"));
  EXPECT_TRUE(Contains(r.out, "prop:probe.empty=\n"));
  EXPECT_TRUE(Contains(r.out, "prop:probe.utf=\xC3\xA9\n"));
  EXPECT_TRUE(Contains(r.out, "env:PROBE_GREETING=hello there\n"));
  EXPECT_TRUE(Contains(r.out, "env:PROBE_FROM_HOME=" + tmp_.path() + "/x\n"));
}

TEST_F(JdkTest, CharactersAboveTheBasicPlaneSurviveEverySetting) {
  const std::string face = "\xF0\x9F\x98\x80";
  std::string exe =
      PackProbe({"jre_order e", "argv " + face, "option -Dprobe.opt=a" + face + "b",
                 "property probe.prop=a" + face +
                     "b\xE2\x82\xAC"
                     "c",
                 "export PROBE_FACE=x" + face, "stdout %APPLICATION_HOME%log-" + face + ".txt"});
  RunResult r = Start(exe, {},
                      {{"PROBE_PROPS", "probe.opt,probe.prop"},
                       {"PROBE_ENV", "PROBE_FACE"},
                       {"LC_ALL", "C.UTF-8"}});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string out = ReadFile(tmp_ / ("log-" + face + ".txt"));
  EXPECT_TRUE(Contains(out, "units[0]=d83d de00\n")) << out;
  EXPECT_TRUE(Contains(out, "prop:probe.opt=a" + face + "b\n")) << out;
  EXPECT_TRUE(Contains(out, "prop:probe.prop=a" + face +
                                "b\xE2\x82\xAC"
                                "c\n"))
      << out;
  EXPECT_TRUE(Contains(out, "env:PROBE_FACE=x" + face + "\n")) << out;

  // A UTF-16 external file and a message text.
  std::string missing = Pack(tmp_ / "missing", {"mainclass e2e.Absent", "jre_order e"}, PROBE_JAR);
  std::u16string text = u"message 7=gone \U0001F600\r\n";
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text)
    bytes += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  WriteFile(missing + ".cfg", bytes);
  RunResult gone = Start(missing, {}, {{"LC_ALL", "C.UTF-8"}});
  EXPECT_EQ(gone.status, 7);
  EXPECT_TRUE(Contains(gone.err, "gone " + face + "\n")) << gone.err;
}

TEST_F(JdkTest, MainRunsOnAThreadWithTheStackSizeOfXss) {
  EnvChanges deep = {{"PROBE_MODE", "recurse:200000"}};
  RunResult small = Start(PackProbe({"jre_order e", "option -Xss512k"}, "small"), {}, deep);
  EXPECT_NE(small.status, 0);
  EXPECT_TRUE(Contains(small.err, "StackOverflowError")) << small.err;
  RunResult large =
      Start(PackProbe({"jre_order e", "option -Xss512k", "option -Xss256m"}), {}, deep);
  EXPECT_EQ(large.status, 0) << large.err;
  EXPECT_EQ(large.out, "depth=200000\n");
}

TEST_F(JdkTest, ExitStatusFollowsTheApplication) {
  std::string exe = PackProbe({"jre_order e"});
  EXPECT_EQ(Start(exe, {}, {{"PROBE_MODE", "exit:42"}}).status, 42);

  RunResult thrown = Start(exe, {}, {{"PROBE_MODE", "throw"}});
  EXPECT_EQ(thrown.status, 1);
  EXPECT_TRUE(Contains(thrown.err, "java.lang.IllegalStateException: probe failure")) << thrown.err;

  // The JVM is destroyed only after the application's last non-daemon thread.
  RunResult threaded = Start(exe, {}, {{"PROBE_MODE", "thread"}});
  EXPECT_EQ(threaded.status, 0);
  EXPECT_EQ(threaded.out, "main done\nthread done\n");
}

TEST_F(JdkTest, ForcedWorkingDirectoryIsTakenFromTheExecutableDirectory) {
  MakeDirs(tmp_ / "data");
  struct Case {
    const char* forcecwd;
    std::string expected;
  } cases[] = {{".", tmp_.path() + "/."},
               {"data", tmp_.path() + "/data"},
               {"/tmp", "/tmp"},
               {"%PROBE_EMPTY%", "/"},
               {"missing", "/"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.forcecwd);
    std::string exe = PackProbe({"jre_order e", std::string("forcecwd ") + c.forcecwd});
    RunOptions options;
    options.env = {
        {"JAVA_HOME", LAUNCHER_JDK_HOME}, {"PROBE_PROPS", "user.dir"}, {"PROBE_EMPTY", ""}};
    options.cwd = "/";
    RunResult r = RunProgram({exe}, options);
    ASSERT_EQ(r.status, 0) << r.err;
    // The JVM reports the directory it started in, normalised.
    std::string expected = c.expected == tmp_.path() + "/." ? tmp_.path() : c.expected;
    EXPECT_TRUE(Contains(r.out, "prop:user.dir=" + expected + "\n")) << r.out;
  }
}

TEST_F(JdkTest, NoRuntimeGivesMessageOne) {
  std::string exe = PackProbe({"jre_order i"});
  RunResult r = Start(exe);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Java Runtime Environment not found.\n");
}

TEST_F(JdkTest, UnloadableLibraryPrintsLoaderLineThenMessageTwo) {
  WriteFile(tmp_ / "libjvm.so", "not a library");
  std::string exe = PackProbe({"jvmdll libjvm.so"});
  RunResult r = Start(exe);
  EXPECT_EQ(r.status, 2);
  std::vector<std::string> lines = Lines(r.err);
  ASSERT_EQ(lines.size(), 2u) << r.err;
  EXPECT_TRUE(Contains(lines[0], tmp_ / "libjvm.so")) << lines[0];
  EXPECT_EQ(lines[1], "Java Runtime Environment not valid.");
}

TEST_F(JdkTest, VersionBoundsGiveMessagesSixAndTwelve) {
  std::string version = JavaVersion();
  ASSERT_FALSE(version.empty());

  RunResult low = Start(PackProbe({"jre_order e", "minjre 99.1"}, "low"));
  EXPECT_EQ(low.status, 6);
  EXPECT_EQ(low.err,
            "Java virtual machine version " + version + " is too low, require 99.1 or higher.\n");

  RunResult high = Start(PackProbe({"jre_order e", "maxjre 1.6"}, "high"));
  EXPECT_EQ(high.status, 12);
  EXPECT_EQ(high.err, "Java virtual machine version " + version +
                          " is too high, version between  and 1.6 is required.\n");

  RunResult custom = Start(
      PackProbe({"jre_order e", "minjre 1.2", "maxjre 1.6", "message 12=%s / %s / %s"}, "custom"));
  EXPECT_EQ(custom.status, 12);
  EXPECT_EQ(custom.err, version + " / 1.2 / 1.6\n");

  // An override with a conversion the launcher cannot fill is printed as it stands.
  RunResult unsafe =
      Start(PackProbe({"jre_order e", "minjre 99", "message 6=%s needs %d %n"}, "unsafe"));
  EXPECT_EQ(unsafe.status, 6);
  EXPECT_EQ(unsafe.err, "%s needs %d %n\n");

  RunResult accepted = Start(PackProbe({"jre_order e", "minjre 1.6", "maxjre 999"}, "ok"));
  EXPECT_EQ(accepted.status, 0) << accepted.err;
}

TEST_F(JdkTest, MissingMainClassAndMethodGiveMessagesSevenAndEight) {
  RunResult missing =
      Start(Pack(tmp_ / "missing", {"mainclass e2e.Absent", "jre_order e"}, PROBE_JAR));
  EXPECT_EQ(missing.status, 7);
  EXPECT_TRUE(Contains(missing.err, "e2e/Absent")) << missing.err;
  EXPECT_TRUE(Contains(missing.err, "\nThe main startup class could not be found.\n"));

  RunResult noMain =
      Start(Pack(tmp_ / "nomain", {"mainclass e2e/NoMain", "jre_order e"}, PROBE_JAR));
  EXPECT_EQ(noMain.status, 8);
  EXPECT_TRUE(Contains(noMain.err, "NoSuchMethodError")) << noMain.err;
  EXPECT_TRUE(
      Contains(noMain.err, "\nThe main startup class is not valid, main method missing.\n"));
}

TEST_F(JdkTest, MessageOverridesFromExternalFileWinOverPackagedOnes) {
  std::string exe = Pack(
      tmp_ / "app", {"mainclass e2e.Absent", "jre_order e", "message 7=packaged text"}, PROBE_JAR);
  RunResult packaged = Start(exe);
  EXPECT_EQ(packaged.status, 7);
  EXPECT_TRUE(Contains(packaged.err, "\npackaged text\n")) << packaged.err;

  WriteFile(exe + ".cfg", "message 7=Class not found,\\nreinstall the application.\n");
  RunResult external = Start(exe);
  EXPECT_EQ(external.status, 7);
  EXPECT_TRUE(Contains(external.err, "\nClass not found,\nreinstall the application.\n"))
      << external.err;
}

class JdkSignalTest : public JdkTest, public ::testing::WithParamInterface<int> {};

TEST_P(JdkSignalTest, SignalRunsShutdownHooksAndEndsWithZero) {
  std::string exe = PackProbe({"jre_order e"});
  std::string hook = tmp_ / "hook.txt";
  RunOptions options;
  options.env = {
      {"JAVA_HOME", LAUNCHER_JDK_HOME}, {"PROBE_MODE", "wait"}, {"PROBE_HOOK_FILE", hook.c_str()}};
  Process process({exe}, options);
  ASSERT_TRUE(process.WaitForLine("ready"));
  process.Signal(GetParam());
  RunResult r = process.Wait();
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(hook), "hook ran\n");
  EXPECT_FALSE(Contains(r.out, "not interrupted"));
}

INSTANTIATE_TEST_SUITE_P(InterruptAndTerminate, JdkSignalTest, ::testing::Values(SIGINT, SIGTERM));

TEST_F(JdkTest, DefaultOrderFindsJavaOnPathAndJavaHome) {
  std::string exe = Pack(tmp_ / "app", {"mainclass e2e.Probe"}, PROBE_JAR);
  // The Debian way: java on the search path, no JAVA_HOME, no jvmdll.
  std::string bin = tmp_ / "bin";
  MakeDirs(bin);
  ASSERT_EQ(
      symlink((std::string(LAUNCHER_JDK_HOME) + "/bin/java").c_str(), (bin + "/java").c_str()), 0);
  RunOptions onPath;
  onPath.env = {{"PATH", bin.c_str()}};
  RunResult viaPath = RunProgram({exe, "x"}, onPath);
  EXPECT_EQ(viaPath.status, 0) << viaPath.err;
  EXPECT_TRUE(Contains(viaPath.out, "arg[0]=x\n"));

  // JAVA_HOME alone, with no java anywhere on the search path.
  RunOptions viaHome;
  viaHome.env = {{"PATH", "/nonexistent"}, {"JAVA_HOME", LAUNCHER_JDK_HOME}};
  RunResult home = RunProgram({exe, "y"}, viaHome);
  EXPECT_EQ(home.status, 0) << home.err;
  EXPECT_TRUE(Contains(home.out, "arg[0]=y\n"));
}

// Runs in every build, the i386 one included, on the runtimes of the build's word size.
// Runs on every installed runtime of the build's word size, whatever the build's JDK is.
class InstalledRuntimesTest : public JdkTest {
 protected:
  void SetUp() override {}
};

TEST_F(InstalledRuntimesTest, EachRunsThePackagedApplication) {
  std::vector<std::string> jdks = InstalledJdks();
  if (jdks.empty()) GTEST_SKIP() << "no runtime of this word size is installed";
  std::string exe = PackProbe({"jre_order e", "argv first"});
  std::string strict = PackProbe({"jre_order e", "minjre 999"}, "strict");
  for (const std::string& jdk : jdks) {
    SCOPED_TRACE(jdk);
    RunResult r = Start(exe, {"second word"}, {}, jdk);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "arg[0]=first\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "arg[1]=second word\n")) << r.out;
    EXPECT_EQ(Start(exe, {}, {{"PROBE_MODE", "exit:3"}}, jdk).status, 3);
    RunResult low = Start(strict, {}, {}, jdk);
    EXPECT_EQ(low.status, 6);
    EXPECT_TRUE(Contains(low.err, "is too low, require 999 or higher.")) << low.err;
  }
}

}  // namespace
}  // namespace e2e
