// End-to-end runs against the test JVM library, which records what the launcher hands it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "e2e_util.h"

namespace e2e {
namespace {

class SessionTest : public ::testing::Test {
 protected:
  // Packs an application that loads the test JVM through jvmdll, with settings appended.
  std::string PackApp(std::vector<std::string> settings, const std::string& name = "app",
                      const std::string& library = TESTJVM_LIB) {
    settings.insert(settings.begin(), "jvmdll " + library);
    settings.insert(settings.begin(), "mainclass test.Main");
    return Pack(tmp_ / name, settings, PROBE_JAR);
  }

  RunResult Start(const std::string& exe, const std::vector<std::string>& args = {},
                  EnvChanges env = {}) {
    env.emplace("TESTJVM_LOG", log_.c_str());
    RunOptions options;
    options.env = env;
    options.cwd = tmp_.path();
    std::vector<std::string> argv = {exe};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, options);
  }

  std::vector<std::string> LogLines(const std::string& prefix = "") {
    std::vector<std::string> selected;
    for (const auto& line : Lines(ReadFile(log_))) {
      if (line.rfind(prefix, 0) == 0) selected.push_back(line);
    }
    return selected;
  }

  TempDir tmp_;
  std::string log_ = tmp_ / "jvm.log";
};

TEST_F(SessionTest, OptionsComeFirstThenClassPathLauncherPathAndHome) {
  std::string exe = PackApp({"option -Xmx64m", "option -Dtwo=a b", "option -Djava.class.path=x",
                             "classpath lib/a.jar::$PROBE_DIR/b.jar", "libs jars"});
  MakeDirs(tmp_ / "jars/sub");
  WriteFile(tmp_ / "jars/sub/c.JAR", "");
  WriteFile(tmp_ / "jars/readme.txt", "");
  WriteFile(exe + ".cfg", "option -Dexternal=1\n");
  RunResult r = Start(exe, {}, {{"PROBE_DIR", "/opt/probe"}, {"CLASSPATH", ""}});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string home = tmp_.path() + "/";
  std::vector<std::string> expected = {"option -Dexternal=1",
                                       "option -Xmx64m",
                                       "option -Dtwo=a b",
                                       "option -Djava.class.path=x",
                                       "option -Djava.class.path=" + exe + ":" + home +
                                           "lib/a.jar:/opt/probe/b.jar:" + home + "jars/sub/c.JAR",
                                       "option -Dksl.app.path=" + exe,
                                       "option -Dapplication.home=" + home};
  EXPECT_EQ(LogLines("option "), expected);
  EXPECT_EQ(LogLines("create "),
            std::vector<std::string>{"create version=0x00010002 nOptions=7 ignoreUnrecognized=1"});
}

TEST_F(SessionTest, PropertiesAreSetAfterCreationInOrder) {
  std::string exe = PackApp({"property a.b=1", "property c=x=y", "property bare"});
  ASSERT_EQ(Start(exe).status, 0);
  std::vector<std::string> log = LogLines();
  auto created = std::find_if(log.begin(), log.end(),
                              [](const std::string& l) { return l.rfind("create", 0) == 0; });
  auto firstSet = std::find_if(log.begin(), log.end(),
                               [](const std::string& l) { return l.rfind("setProperty", 0) == 0; });
  EXPECT_LT(created - log.begin(), firstSet - log.begin());
  EXPECT_EQ(
      LogLines("setProperty "),
      (std::vector<std::string>{"setProperty a.b=1", "setProperty c=x=y", "setProperty bare="}));
}

TEST_F(SessionTest, MainReceivesArgvWordsThenCommandLineAsUtf16) {
  std::string exe = PackApp({"argv -v \"two words\"", "argv \"\""});
  RunResult r = Start(exe, {"a b", "\xC3\xA9"}, {{"LC_ALL", "C.UTF-8"}});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> expected = {
      "main argc=5", "arg[0] 002d 0076",      "arg[1] 0074 0077 006f 0020 0077 006f 0072 0064 0073",
      "arg[2]",      "arg[3] 0061 0020 0062", "arg[4] 00e9"};
  std::vector<std::string> got = LogLines("main ");
  std::vector<std::string> args = LogLines("arg[");
  got.insert(got.end(), args.begin(), args.end());
  EXPECT_EQ(got, expected);
  // The JVM is torn down on the JVM thread after main: detach, then destroy.
  std::vector<std::string> log = LogLines();
  ASSERT_GE(log.size(), 2u);
  EXPECT_TRUE(Contains(ReadFile(log_), "detach\ndestroy\n"));
}

TEST_F(SessionTest, CreationFailureGivesMessageFour) {
  RunResult r = Start(PackApp({}), {}, {{"TESTJVM_FAIL_CREATE", "1"}});
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.err, "Java Virtual Machine starts failed.\n");
}

TEST_F(SessionTest, UnreadableVersionGivesMessageFiveOnlyWhenABoundIsSet) {
  RunResult r = Start(PackApp({"minjre any"}), {}, {{"TESTJVM_NO_GET_PROPERTY", "1"}});
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.err, "Can not get the virtual machine version.\n");
  EXPECT_EQ(Start(PackApp({}, "unbounded"), {}, {{"TESTJVM_NO_GET_PROPERTY", "1"}}).status, 0);
}

TEST_F(SessionTest, LibraryWithOnlyTheImplEntryPointIsUsed) {
  RunResult r = Start(PackApp({}, "impl", TESTJVM_IMPL_LIB));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(LogLines("create ").size(), 1u);
}

TEST_F(SessionTest, LibraryWithoutEntryPointGivesMessageTwoAlone) {
  RunResult r = Start(PackApp({}, "noentry", TESTSPLASH_LIB));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "Java Runtime Environment not valid.\n");
}

TEST_F(SessionTest, VersionBoundsUseThePrefixComparison) {
  struct Case {
    const char* version;
    const char* minjre;
    const char* maxjre;
    int status;
  } cases[] = {{"1.6.0_45", "1.6", "", 0},  {"1.6.0_17", "1.6.0_20", "", 6},
               {"1.7.0_21", "", "1.6", 12}, {"1.6.0_45", "", "1.6", 0},
               {"11.0.2", "1.6", "", 0},    {"11.0.2", "", "1.8", 12},
               {"17.0.1", "any", "", 0},    {"", "1.6", "", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.version) + " min " + c.minjre + " max " + c.maxjre);
    std::vector<std::string> settings;
    if (*c.minjre) settings.push_back(std::string("minjre ") + c.minjre);
    if (*c.maxjre) settings.push_back(std::string("maxjre ") + c.maxjre);
    RunResult r = Start(PackApp(settings), {}, {{"TESTJVM_VERSION", c.version}});
    EXPECT_EQ(r.status, c.status) << r.err;
  }
  RunResult low = Start(PackApp({"minjre 1.6.0_20"}), {}, {{"TESTJVM_VERSION", "1.6.0_17"}});
  EXPECT_EQ(low.err,
            "Java virtual machine version 1.6.0_17 is too low, require 1.6.0_20 or "
            "higher.\n");
  // Without bounds the version is never asked for.
  unlink(log_.c_str());
  ASSERT_EQ(Start(PackApp({})).status, 0);
  EXPECT_TRUE(LogLines("getProperty").empty());
}

TEST_F(SessionTest, ExitStatusesOfMain) {
  std::string exe = PackApp({});
  EXPECT_EQ(Start(exe, {}, {{"TESTJVM_EXIT", "9"}}).status, 9);
  // An exception out of main is a failure: status 1, and no launcher message.
  RunResult thrown = Start(exe, {}, {{"TESTJVM_THROW", "1"}});
  EXPECT_EQ(thrown.status, 1);
  EXPECT_FALSE(Contains(thrown.err, "Java Runtime Environment not found")) << thrown.err;
  EXPECT_EQ(Start(exe, {}, {{"TESTJVM_NO_MAIN_CLASS", "1"}}).status, 7);
  EXPECT_EQ(Start(exe, {}, {{"TESTJVM_NO_MAIN_METHOD", "1"}}).status, 8);
}

TEST_F(SessionTest, SingleInstanceRefusesASecondStart) {
  std::string exe = PackApp({"singleinstance TRUE"});
  RunOptions options;
  options.env = {{"TESTJVM_MAIN_SLEEP_MS", "5000"}, {"TESTJVM_PRINT", "ready"}};
  Process first({exe}, options);
  ASSERT_TRUE(first.WaitForLine("ready"));
  RunResult second = Start(exe);
  EXPECT_EQ(second.status, 11);
  EXPECT_EQ(second.err, "There is already an instance of this program running.\n");
  first.Signal(SIGKILL);
  first.Wait();
  // A process killed without its exit handling does not keep the next start out.
  EXPECT_EQ(Start(exe).status, 0);
}

}  // namespace
}  // namespace e2e
