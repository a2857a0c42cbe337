// The trace mode: LAUNCHER_TRACE=1 shows why each failure happened; any other value changes
// nothing.
#include <gtest/gtest.h>
#include <signal.h>

#include "e2e_util.h"

namespace e2e {
namespace {

class TraceTest : public ::testing::Test {
 protected:
  std::string PackApp(std::vector<std::string> settings, const std::string& name) {
    settings.insert(settings.begin(), "mainclass test.Main");
    return Pack(tmp_ / name, settings, PROBE_JAR);
  }
  RunResult Start(const std::string& exe, EnvChanges env) {
    RunOptions options;
    options.env = env;
    options.cwd = tmp_.path();
    return RunProgram({exe}, options);
  }
  TempDir tmp_;
};

TEST_F(TraceTest, EveryMessageHasATellingTraceLine) {
  WriteFile(tmp_ / "bad.so", "text");
  std::string jvm = std::string("jvmdll ") + TESTJVM_LIB;
  struct Case {
    std::vector<std::string> settings;
    EnvChanges env;
    int status;
    std::string line;
  } cases[] = {
      {{"jre_order i"}, {}, 1, "[launcher] runtime: no strategy found a JVM library"},
      {{"jvmdll bad.so"}, {}, 2, "[launcher] loading JVM library " + tmp_.path() + "/bad.so"},
      {{jvm}, {{"TESTJVM_FAIL_CREATE", "1"}}, 4, "[launcher] JVM creation returned -1"},
      {{jvm, "minjre 1"},
       {{"TESTJVM_NO_GET_PROPERTY", "1"}},
       5,
       "[launcher] java.version could not be read"},
      {{jvm, "minjre 99"}, {}, 6, "[launcher] java.version 17.0.99, minjre '99', maxjre ''"},
      {{jvm},
       {{"TESTJVM_NO_MAIN_CLASS", "1"}},
       7,
       "[launcher] main class 'test.Main', 0 argv values, 0 command-line arguments"},
      {{jvm}, {{"TESTJVM_NO_MAIN_METHOD", "1"}}, 8, "[launcher] session result 8"},
      {{jvm, "maxjre 1"}, {}, 12, "[launcher] java.version 17.0.99, minjre '', maxjre '1'"},
  };
  int n = 0;
  for (Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::string exe = PackApp(c.settings, "app" + std::to_string(n++));
    c.env["LAUNCHER_TRACE"] = "1";
    RunResult r = Start(exe, c.env);
    EXPECT_EQ(r.status, c.status);
    EXPECT_TRUE(Contains(r.err, c.line + "\n")) << r.err;
    EXPECT_TRUE(Contains(r.err, "[launcher] exit status " + std::to_string(c.status) + "\n"));
  }

  std::string guarded = PackApp({jvm, "singleinstance true"}, "guarded");
  RunOptions waiting;
  waiting.env = {{"TESTJVM_MAIN_SLEEP_MS", "20000"}, {"TESTJVM_PRINT", "ready"}};
  Process first({guarded}, waiting);
  ASSERT_TRUE(first.WaitForLine("ready"));
  RunResult refused = Start(guarded, {{"LAUNCHER_TRACE", "1"}});
  EXPECT_EQ(refused.status, 11);
  EXPECT_TRUE(Contains(refused.err, "[launcher] single instance: another instance runs"));
  first.Signal(SIGKILL);
}

TEST_F(TraceTest, AnyOtherValueLeavesOutputUnchanged) {
  std::string exe = PackApp({std::string("jvmdll ") + TESTJVM_LIB, "minjre 99"}, "app");
  RunResult plain = Start(exe, {});
  for (const char* value : {"0", "yes", "true", ""}) {
    SCOPED_TRACE(value);
    RunResult r = Start(exe, {{"LAUNCHER_TRACE", value}});
    EXPECT_EQ(r.status, plain.status);
    EXPECT_EQ(r.out, plain.out);
    EXPECT_EQ(r.err, plain.err);
  }
  RunResult traced = Start(exe, {{"LAUNCHER_TRACE", "1"}});
  EXPECT_EQ(traced.status, plain.status);
  EXPECT_TRUE(Contains(traced.err, "[launcher] own path: " + exe + "\n")) << traced.err;
  EXPECT_TRUE(Contains(traced.err, "[launcher] JVM option 1: -Djava.class.path=" + exe + "\n"));
}

}  // namespace
}  // namespace e2e
