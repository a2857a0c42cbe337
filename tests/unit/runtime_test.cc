// Finding the JVM library inside runtime directories of every layout, and choosing a runtime
// by the jre_order strategies c (jvmdll), b (bundled jre) and e (environment).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "runtime/library_probe.h"
#include "runtime/runtime_search.h"
#include "settings/settings_loader.h"
#include "test_files.h"

namespace {

using launcher_test::CrLf;
using launcher_test::ScopedCwd;
using launcher_test::ScopedEnv;
using launcher_test::ScopedPldr;
using launcher_test::Str;
using launcher_test::TempDir;

const std::string kArch = TEST_ARCH_DIR;

class RuntimeTest : public ::testing::Test {
 protected:
  RuntimeTest() : loader_(false), published_(&loader_) {
    ResetJavaRuntimeSearchForTesting();
    loader_.appHome = home_.Slash().c_str();
    loader_.workDir = work_.Slash().c_str();
    loader_.exePath = (home_ / "tool").c_str();
  }
  ~RuntimeTest() override { ResetJavaRuntimeSearchForTesting(); }

  void Settings(const std::string& lines) {
    loader_.DecodeSettingsText(lines.data(), static_cast<int>(lines.size()));
  }
  // Creates an empty library file below root and returns its path.
  static std::string Library(const TempDir& root, const std::string& directory) {
    return root.File(directory + "libjvm.so");
  }
  std::string Probe(const std::string& directory) {
    return Str(ProbeRuntimeDirectory(&loader_, CStringRefT<char>(directory.c_str())));
  }
  std::string Find() { return Str(FindJavaRuntime(&loader_)); }
  // Another loader with the same directories and its own settings text.
  std::unique_ptr<CSettingsLoader> NewLoader(const std::string& text) {
    auto loader = std::make_unique<CSettingsLoader>(false);
    loader->appHome = home_.Slash().c_str();
    loader->workDir = work_.Slash().c_str();
    loader->DecodeSettingsText(text.data(), static_cast<int>(text.size()));
    return loader;
  }
  std::string ProbeWith(const std::string& text, const std::string& directory) {
    return Str(ProbeRuntimeDirectory(NewLoader(text).get(), CStringRefT<char>(directory.c_str())));
  }
  std::string FindWith(const std::string& text) {
    ResetJavaRuntimeSearchForTesting();
    return Str(FindJavaRuntime(NewLoader(text).get()));
  }

  TempDir home_, work_, rt_;
  ScopedEnv jreHome_{"JRE_HOME", nullptr};
  ScopedEnv javaHome_{"JAVA_HOME", nullptr};
  CSettingsLoader loader_;
  ScopedPldr published_;
};

TEST_F(RuntimeTest, ProbeFindsEveryLayout) {
  const std::string a = kArch + "/";
  const struct {
    std::string library;  // directory of the library below the runtime root
    std::string probed;   // directory handed to the probe
    std::string result;   // expected path, relative to the runtime root
  } cases[] = {
      {"", "", "libjvm.so"},
      {a + "server/", "", a + "server/libjvm.so"},
      {"lib/" + a, "", "lib/" + a + "libjvm.so"},
      {"lib/" + a + "server/", "", "lib/" + a + "server/libjvm.so"},
      {"jre/lib/" + a + "client/", "", "jre/lib/" + a + "client/libjvm.so"},
      {"lib/" + a + "server/", "bin", "bin/../lib/" + a + "server/libjvm.so"},
      {"jre/lib/" + a + "server/", "bin/", "bin/../jre/lib/" + a + "server/libjvm.so"},
      {"lib/server/", "", "lib/server/libjvm.so"},
      {"lib/server/", "bin", "bin/../lib/server/libjvm.so"},
  };
  for (const auto& c : cases) {
    TempDir rt;
    rt.Dir("bin");
    Library(rt, c.library);
    std::string probed = c.probed.empty() ? rt.path() : rt / c.probed;
    EXPECT_EQ(Probe(probed), rt / c.result) << c.library << " from " << c.probed;
  }
}

TEST_F(RuntimeTest, ProbeTakesTheFirstCandidateInOrder) {
  const std::string a = kArch + "/";
  Library(rt_, "lib/server/");
  EXPECT_EQ(Probe(rt_.path()), rt_ / "lib/server/libjvm.so");
  Library(rt_, "jre/lib/" + a + "server/");
  EXPECT_EQ(Probe(rt_.path()), rt_ / ("jre/lib/" + a + "server/libjvm.so"));
  Library(rt_, "lib/" + a + "server/");
  EXPECT_EQ(Probe(rt_.path()), rt_ / ("lib/" + a + "server/libjvm.so"));
  Library(rt_, a + "client/");
  EXPECT_EQ(Probe(rt_.path()), rt_ / (a + "client/libjvm.so"));
  Library(rt_, "");
  EXPECT_EQ(Probe(rt_.path()), rt_ / "libjvm.so");
  EXPECT_EQ(Probe(rt_.Slash()), rt_ / "libjvm.so");  // with or without the trailing '/'
}

TEST_F(RuntimeTest, ProbeWithoutLibrary) {
  rt_.File("lib/" + kArch + "/server/libjvm.so.bak");
  rt_.File("lib/" + kArch + "/server/nested/libjvm.so");  // two levels down: not listed
  EXPECT_EQ(Probe(rt_.path()), "");
  EXPECT_EQ(Probe(rt_ / "missing"), "");
}

TEST_F(RuntimeTest, ProbeHonoursTheVmType) {
  const std::string lib = "lib/" + kArch + "/";
  Library(rt_, lib + "client/");
  Library(rt_, lib + "server/");
  Settings(CrLf({"vm client"}));
  EXPECT_EQ(Probe(rt_.path()), rt_ / (lib + "client/libjvm.so"));

  EXPECT_EQ(ProbeWith("vm server", rt_.path()), rt_ / (lib + "server/libjvm.so"));
  // A type directory that does not exist falls back to the listing.
  std::string fallback = ProbeWith("vm minimal", rt_.path());
  EXPECT_TRUE(fallback == rt_ / (lib + "server/libjvm.so") ||
              fallback == rt_ / (lib + "client/libjvm.so"))
      << fallback;
}

TEST_F(RuntimeTest, ProbeListingSkipsLinkedTypeDirectories) {
  TempDir target;
  Library(target, "");
  const std::string lib = rt_.Dir("lib/" + kArch) + "/";
  ASSERT_EQ(symlink(target.path().c_str(), (lib + "s").c_str()), 0);
  ASSERT_EQ(symlink(target.path().c_str(), (lib + "sv").c_str()), 0);
  EXPECT_EQ(Probe(rt_.path()), "");  // links carry no directory attribute in the listing

  EXPECT_EQ(ProbeWith("vm s", rt_.path()), "");  // a one-character type is ignored
  EXPECT_EQ(ProbeWith("vm sv", rt_.path()), lib + "sv/libjvm.so");
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
  const std::string env = Library(rt_, "lib/server/");
  ScopedEnv javaHome("JAVA_HOME", rt_.path().c_str());
  Settings(CrLf({"jre_order E", "jvmdll custom/libjvm.so"}));
  EXPECT_EQ(Find(), env);

  // Unknown letters are kept and skipped; 'i' searches nothing on this platform.
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

TEST_F(RuntimeTest, CustomLibraryThatCannotBeReadIsSkipped) {
  if (geteuid() == 0) GTEST_SKIP() << "access checks always pass for root";
  const std::string locked = home_.File("locked/libjvm.so");
  ASSERT_EQ(chmod(locked.c_str(), 0), 0);
  const std::string env = Library(rt_, "");
  ScopedEnv javaHome("JAVA_HOME", rt_.path().c_str());
  Settings(CrLf({"jre_order ce", "jvmdll " + locked}));
  EXPECT_EQ(Find(), env);
}

TEST_F(RuntimeTest, BundledRuntimeBesideTheExecutable) {
  Library(home_, "jre/lib/" + kArch + "/server/");
  ScopedCwd cwd(work_.path());
  Settings(CrLf({"jre_order b"}));
  EXPECT_EQ(Find(), home_ / ("./jre/lib/" + kArch + "/server/libjvm.so"));

  Library(home_, "apps/runtime/lib/server/");
  EXPECT_EQ(FindWith(CrLf({"jre_order b", "jre apps/runtime"})),
            home_ / "apps/runtime/lib/server/libjvm.so");
  EXPECT_EQ(FindWith(CrLf({"jre_order b", "jre " + rt_.path()})), "");
  const std::string absolute = Library(rt_, "");
  EXPECT_EQ(FindWith(CrLf({"jre_order b", "jre " + rt_.path()})), absolute);
}

TEST_F(RuntimeTest, EnvironmentVariables) {
  TempDir jre, jdk, empty;
  const std::string fromJre = Library(jre, "lib/server/");
  const std::string fromJdk = Library(jdk, "jre/lib/" + kArch + "/server/");
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
