// Finding the JVM library inside runtime directories of every layout, and choosing a runtime
// by the jre_order strategies c (jvmdll), b (bundled jre) and e (environment).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime_fixture.h"
#include "test_files.h"

namespace {

using launcher_test::CrLf;
using launcher_test::kArch;
using launcher_test::kJreTypes;
using launcher_test::kJvmLibrary;
using launcher_test::kTypes;
using launcher_test::RuntimeTest;
using launcher_test::ScopedCwd;
using launcher_test::ScopedEnv;
using launcher_test::TempDir;
using test_support::kWindows;

TEST_F(RuntimeTest, ProbeFindsEveryLayout) {
  const std::string a = kArch + "/";
  struct Layout {
    std::string library;  // directory of the library below the runtime root
    std::string probed;   // directory handed to the probe
    std::string result;   // directory of the library found, relative to the runtime root
  };
  const std::vector<Layout> linuxLayouts = {
      {"", "", ""},
      {a + "server/", "", a + "server/"},
      {"lib/" + a, "", "lib/" + a},
      {"lib/" + a + "server/", "", "lib/" + a + "server/"},
      {"jre/lib/" + a + "client/", "", "jre/lib/" + a + "client/"},
      {"lib/" + a + "server/", "bin", "bin/../lib/" + a + "server/"},
      {"jre/lib/" + a + "server/", "bin/", "bin/../jre/lib/" + a + "server/"},
      {"lib/server/", "", "lib/server/"},
      {"lib/server/", "bin", "bin/../lib/server/"},
  };
  const std::vector<Layout> windowsLayouts = {
      {"", "", ""},
      {"server/", "", "server/"},
      {"bin/server/", "", "bin\\server/"},
      {"jre/bin/client/", "", "jre\\bin\\client/"},
      {"jre/bin/server/", "bin", "bin/..\\jre\\bin\\server/"},
  };
  for (const Layout& c : kWindows ? windowsLayouts : linuxLayouts) {
    TempDir rt;
    rt.Dir("bin");
    Library(rt, c.library);
    std::string probed = c.probed.empty() ? rt.path() : rt / c.probed;
    EXPECT_EQ(Probe(probed), rt / (c.result + kJvmLibrary)) << c.library << " from " << c.probed;
  }
}

// Each library made is found before the ones made earlier.
TEST_F(RuntimeTest, ProbeTakesTheFirstCandidateInOrder) {
  const std::string a = kArch + "/";
  const std::vector<std::string> linuxOrder = {"lib/server/", "jre/lib/" + a + "server/",
                                               "lib/" + a + "server/", a + "client/", ""};
  const std::vector<std::string> windowsOrder = {"jre\\bin\\server/", "bin\\server/", "server/",
                                                 ""};
  for (const std::string& directory : kWindows ? windowsOrder : linuxOrder) {
    Library(rt_, directory);
    EXPECT_EQ(Probe(rt_.path()), rt_ / (directory + kJvmLibrary));
  }
  EXPECT_EQ(Probe(rt_.Slash()), rt_ / kJvmLibrary);  // with or without the trailing '/'
}

TEST_F(RuntimeTest, ProbeWithoutLibrary) {
  rt_.File(kTypes + "server/" + kJvmLibrary + ".bak");
  rt_.File(kTypes + "server/nested/" + kJvmLibrary);  // two levels down: not listed
  EXPECT_EQ(Probe(rt_.path()), "");
  EXPECT_EQ(Probe(rt_ / "missing"), "");
}

TEST_F(RuntimeTest, ProbeHonoursTheVmType) {
  const std::string client = Library(rt_, kTypes + "client/");
  const std::string server = Library(rt_, kTypes + "server/");
  Settings(CrLf({"vm client"}));
  EXPECT_EQ(Probe(rt_.path()), client);

  EXPECT_EQ(ProbeWith("vm server", rt_.path()), server);
  // A type directory that does not exist falls back to the listing.
  std::string fallback = ProbeWith("vm minimal", rt_.path());
  EXPECT_TRUE(fallback == server || fallback == client) << fallback;
}

TEST_F(RuntimeTest, OrderFallsBackToDefault) {
  const std::string custom = home_.File("custom/libjvm.so");
  for (const char* order : {"", "xyz", "123"}) {
    EXPECT_EQ(FindWith(CrLf({std::string("jre_order ") + order, "jvmdll custom/libjvm.so"})),
              custom)
        << "order '" << order << "'";
  }
  EXPECT_EQ(FindWith("jvmdll custom/libjvm.so"), custom);
}

TEST_F(RuntimeTest, OrderRunsOnlyTheNamedStrategies) {
  home_.File("custom/libjvm.so");
  const std::string env = Library(rt_, kTypes + "server/");
  ScopedEnv javaHome("JAVA_HOME", rt_.path().c_str());
  Settings(CrLf({"jre_order E", "jvmdll custom/libjvm.so"}));
  EXPECT_EQ(Find(), env);

  // Unknown letters are kept and skipped; 'i' finds no runtime here.
  EXPECT_EQ(FindWith(CrLf({"jre_order xe", "jvmdll custom/libjvm.so"})), env);
  EXPECT_EQ(FindWith(CrLf({"jre_order i", "jvmdll custom/libjvm.so"})), "");
}

TEST_F(RuntimeTest, CustomLibrary) {
  const std::string onlyWork = work_.File("w/libjvm.so");
  const std::string inHome = home_.File("both/libjvm.so");
  work_.File("both/libjvm.so");
  const std::string directory = home_.Dir("dir");
  ScopedEnv sub("SUB", "both");
  const struct {
    const char* value;
    std::string expected;
  } cases[] = {
      {"w/libjvm.so", onlyWork},  {"both/libjvm.so", inHome},
      {"$SUB/libjvm.so", inHome}, {"%APPLICATION_HOME%both/libjvm.so", inHome},
      {"dir", directory},  // any readable path is taken as the library
      {"missing/libjvm.so", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindWith(CrLf({"jre_order c", std::string("jvmdll ") + c.value})), c.expected)
        << c.value;
  }
}

TEST_F(RuntimeTest, BundledRuntimeBesideTheExecutable) {
  Library(home_, "jre/" + kTypes + "server/");
  ScopedCwd cwd(work_.path());
  Settings(CrLf({"jre_order b"}));
  EXPECT_EQ(Find(), home_ / ("./jre/" + kTypes + "server/" + kJvmLibrary));

  const std::string inApps = Library(home_, "apps/runtime/" + kTypes + "server/");
  EXPECT_EQ(FindWith(CrLf({"jre_order b", "jre apps/runtime"})), inApps);
  EXPECT_EQ(FindWith(CrLf({"jre_order b", "jre " + rt_.path()})), "");
  const std::string absolute = Library(rt_, "");
  EXPECT_EQ(FindWith(CrLf({"jre_order b", "jre " + rt_.path()})), absolute);
}

TEST_F(RuntimeTest, EnvironmentVariables) {
  TempDir jre, jdk, empty;
  const std::string fromJre = Library(jre, kTypes + "server/");
  const std::string fromJdk = Library(jdk, kJreTypes + "server/");
  const struct {
    const char* jreHome;  // null leaves the variable unset
    const char* javaHome;
    std::string expected;
  } cases[] = {
      {"", jdk.path().c_str(), fromJdk},
      {empty.path().c_str(), jdk.path().c_str(), fromJdk},
      {jre.path().c_str(), jdk.path().c_str(), fromJre},
      {nullptr, jdk.path().c_str(), fromJdk},
      {jre.path().c_str(), nullptr, fromJre},
      {empty.path().c_str(), "", ""},
  };
  for (const auto& c : cases) {
    ScopedEnv jreHome("JRE_HOME", c.jreHome);
    ScopedEnv javaHome("JAVA_HOME", c.javaHome);
    EXPECT_EQ(FindWith("jre_order e"), c.expected)
        << (c.jreHome ? c.jreHome : "(unset)") << " / " << (c.javaHome ? c.javaHome : "(unset)");
  }
}

TEST_F(RuntimeTest, ResultIsKeptForTheProcess) {
  Settings(CrLf({"jre_order e"}));
  EXPECT_EQ(Find(), "");
  const std::string first = Library(rt_, "");
  ScopedEnv javaHome("JAVA_HOME", rt_.path().c_str());
  EXPECT_EQ(Find(), "");  // a failed search stays failed

  ResetJavaRuntimeSearchForTesting();
  EXPECT_EQ(Find(), first);
  TempDir other;
  Library(other, "");
  ScopedEnv jreHome("JRE_HOME", other.path().c_str());
  EXPECT_EQ(Find(), first);
}

}  // namespace
