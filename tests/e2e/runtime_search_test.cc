// The runtime search order and the library layouts it reaches, on directory trees made here
// with the test JVM library standing in for a runtime's.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "e2e_util.h"

namespace e2e {
namespace {

// The architecture directory of this build ("amd64" or "i386").
#define ARCH LAUNCHER_ARCH_DIR

class RuntimeSearchTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeDirs(appDir_); }

  std::string PackApp(std::vector<std::string> settings) {
    settings.insert(settings.begin(), "mainclass test.Main");
    return Pack(appDir_ + "/app", settings, PROBE_JAR);
  }

  // Puts the test JVM library at dir/libjvm.so.
  void Install(const std::string& dir) {
    MakeDirs(dir);
    CopyFile(TESTJVM_LIB, dir + "/libjvm.so");
  }
  // A readable file that is no library: choosing it ends with message 2.
  void InstallDecoy(const std::string& dir) {
    MakeDirs(dir);
    WriteFile(dir + "/libjvm.so", "decoy");
  }

  RunResult Start(const std::string& exe, EnvChanges env = {}, const std::string& cwd = "/") {
    env.emplace("TESTJVM_LOG", (tmp_ / "jvm.log").c_str());
    env.emplace("PATH", "/nonexistent");
    RunOptions options;
    options.env = env;
    options.cwd = cwd;
    return RunProgram({exe}, options);
  }

  TempDir tmp_;
  std::string appDir_ = tmp_ / "app";
};

TEST_F(RuntimeSearchTest, CustomLibraryResolvesAgainstTheExecutableThenTheWorkingDirectory) {
  std::string exe = PackApp({"jre_order c", "jvmdll rt/libjvm.so"});
  Install(tmp_ / "cwd/rt");
  EXPECT_EQ(Start(exe, {}, tmp_ / "cwd").status, 0);
  // Below both directories, the one below the executable wins.
  InstallDecoy(appDir_ + "/rt");
  EXPECT_EQ(Start(exe, {}, tmp_ / "cwd").status, 2);
  // A readable directory is accepted as the library and fails to load.
  std::string dirExe = PackApp({"jre_order c", "jvmdll " + tmp_.path()});
  EXPECT_EQ(Start(dirExe).status, 2);
}

TEST_F(RuntimeSearchTest, ApplicationRuntimeBesideTheExecutable) {
  struct Layout {
    const char* jreSetting;
    const char* libraryDir;
  } layouts[] = {
      {nullptr, "jre/lib/" ARCH "/server"},    // a runtime home, default "./jre/"
      {nullptr, "jre/lib/server"},             // a JDK 9 or later runtime home
      {"kit", "kit/jre/lib/" ARCH "/client"},  // a development kit home
      {"rt/bin", "rt/lib/" ARCH "/server"},    // the bin directory of a runtime
      {"home", "home/lib/" ARCH "/server"},    // a runtime home without jre/
      {"lib", "lib/libjvm-dir"},               // a directory of type directories
      {"%APPLICATION_HOME%/direct", "direct"},
  };
  for (const Layout& layout : layouts) {
    SCOPED_TRACE(layout.libraryDir);
    TempDir clean;
    appDir_ = clean / "app";
    MakeDirs(appDir_);
    std::vector<std::string> settings = {"jre_order b"};
    if (layout.jreSetting) settings.push_back(std::string("jre ") + layout.jreSetting);
    std::string exe = PackApp(settings);
    Install(appDir_ + "/" + layout.libraryDir);
    MakeDirs(appDir_ + "/rt/bin");
    RunResult r = Start(exe);
    EXPECT_EQ(r.status, 0) << r.err;
  }
}

TEST_F(RuntimeSearchTest, VmSettingChoosesTheTypeDirectory) {
  Install(appDir_ + "/jre/lib/" ARCH "/client");
  InstallDecoy(appDir_ + "/jre/lib/" ARCH "/server");
  EXPECT_EQ(Start(PackApp({"jre_order b", "vm client"})).status, 0);
  EXPECT_EQ(Start(PackApp({"jre_order b", "vm server"})).status, 2);
  // A type directory reached through a symbolic link is used only when vm names it.
  TempDir linked;
  appDir_ = linked / "app";
  Install(linked / "real/server");
  MakeDirs(appDir_ + "/jre/lib/" ARCH);
  ASSERT_EQ(
      symlink((linked / "real/server").c_str(), (appDir_ + "/jre/lib/" ARCH "/server").c_str()), 0);
  EXPECT_EQ(Start(PackApp({"jre_order b"})).status, 1);
  EXPECT_EQ(Start(PackApp({"jre_order b", "vm server"})).status, 0);
}

TEST_F(RuntimeSearchTest, EnvironmentPrefersJreHomeOverJavaHome) {
  std::string exe = PackApp({"jre_order e"});
  Install(tmp_ / "good/lib/server");
  InstallDecoy(tmp_ / "decoy/lib/server");
  MakeDirs(tmp_ / "empty");
  std::string good = tmp_ / "good", decoy = tmp_ / "decoy", empty = tmp_ / "empty";
  EXPECT_EQ(Start(exe, {{"JRE_HOME", ""}, {"JAVA_HOME", good.c_str()}}).status, 0);
  EXPECT_EQ(Start(exe, {{"JRE_HOME", empty.c_str()}, {"JAVA_HOME", good.c_str()}}).status, 0);
  EXPECT_EQ(Start(exe, {{"JRE_HOME", good.c_str()}, {"JAVA_HOME", decoy.c_str()}}).status, 0);
  EXPECT_EQ(Start(exe, {{"JRE_HOME", decoy.c_str()}, {"JAVA_HOME", good.c_str()}}).status, 2);
}

TEST_F(RuntimeSearchTest, OrderLettersAreCaseInsensitiveAndUnknownOnesSkipped) {
  Install(tmp_ / "home/jre/lib/" ARCH "/server");
  std::string home = tmp_ / "home";
  EnvChanges env = {{"JAVA_HOME", home.c_str()}};
  EXPECT_EQ(Start(PackApp({"jre_order E"}), env).status, 0);
  EXPECT_EQ(Start(PackApp({"jre_order xe"}), env).status, 0);
  EXPECT_EQ(Start(PackApp({"jre_order xyz"}), env).status, 0);  // no known letter: "cbsie"
  RunResult onlyRegistry = Start(PackApp({"jre_order i"}), env);
  EXPECT_EQ(onlyRegistry.status, 1);
  EXPECT_EQ(onlyRegistry.err, "Java Runtime Environment not found.\n");
}

TEST_F(RuntimeSearchTest, JavaOnThePathThroughALinkChainAndABlankInTheName) {
  std::string runtime = tmp_ / "runtime";
  Install(runtime + "/lib/server");
  MakeDirs(runtime + "/bin");
  WriteFile(runtime + "/bin/java", "#!/bin/sh\n");
  chmod((runtime + "/bin/java").c_str(), 0755);
  // "my bin/java" -> "../alternatives/java" -> the runtime's bin/java
  MakeDirs(tmp_ / "my bin");
  MakeDirs(tmp_ / "alternatives");
  ASSERT_EQ(symlink((runtime + "/bin/java").c_str(), (tmp_ / "alternatives/java").c_str()), 0);
  ASSERT_EQ(symlink("../alternatives/java", (tmp_ / "my bin/java").c_str()), 0);
  std::string path = "/nonexistent::" + (tmp_ / "my bin");
  std::string exe = PackApp({"jre_order s"});
  EXPECT_EQ(Start(exe, {{"PATH", path.c_str()}}).status, 0);

  // A PATH entry that is itself a link to the runtime's bin directory.
  ASSERT_EQ(symlink((runtime + "/bin").c_str(), (tmp_ / "linked-bin").c_str()), 0);
  std::string linked = tmp_ / "linked-bin";
  EXPECT_EQ(Start(exe, {{"PATH", linked.c_str()}}).status, 0);

  // A loop of links is given up on, not followed for ever.
  MakeDirs(tmp_ / "loop");
  ASSERT_EQ(symlink("java2", (tmp_ / "loop/java").c_str()), 0);
  ASSERT_EQ(symlink("java", (tmp_ / "loop/java2").c_str()), 0);
  std::string loop = tmp_ / "loop";
  EXPECT_EQ(Start(exe, {{"PATH", loop.c_str()}}).status, 1);
}

TEST_F(RuntimeSearchTest, ListingsReachRuntimesAtLongPaths) {
  std::string home = tmp_.path();
  while (home.size() < 400) home += "/" + std::string(60, 'd');
  Install(home + "/lib/server");
  std::string exe = PackApp({"jre_order e"});
  EXPECT_EQ(Start(exe, {{"JAVA_HOME", home}}).status, 0);
}

TEST_F(RuntimeSearchTest, FileSystemsWithoutEntryTypesStillListDirectories) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a file system image needs root";
  std::string image = tmp_ / "notype.img";
  std::string exe = PackApp({"jre_order e", "libs /mnt/libs"});
  // ext2 without the filetype feature reports no entry types in its listings.
  std::string script =
      "truncate -s 4M \"$0\" && mkfs.ext2 -q -F -O ^filetype \"$0\" >/dev/null &&"
      " mount -o loop \"$0\" /mnt 2>/dev/null || exit 77;"
      " mkdir -p /mnt/rt/lib/server /mnt/libs/sub && cp \"$1\" /mnt/rt/lib/server/libjvm.so"
      " && : > /mnt/libs/sub/x.jar && PATH=/nonexistent exec \"$2\"";
  RunOptions options;
  options.env = {{"JAVA_HOME", "/mnt/rt"},
                 {"TESTJVM_LOG", tmp_ / "jvm.log"},
                 {"PATH", "/usr/sbin:/usr/bin:/sbin:/bin"}};
  RunResult r = RunProgram(
      {"/usr/bin/unshare", "-m", "/bin/sh", "-c", script, image, TESTJVM_LIB, exe}, options);
  if (r.status == 77) GTEST_SKIP() << "no loop mount here: " << r.err;
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(ReadFile(tmp_ / "jvm.log"), ":/mnt/libs/sub/x.jar\n"));
}

#if defined(__i386__)
TEST_F(RuntimeSearchTest, LibraryOfAnotherWordSizePrintsTheLoaderLineAndMessageTwo) {
  std::string library = std::string(LAUNCHER_JDK_HOME) + "/lib/server/libjvm.so";
  RunResult r = Start(PackApp({"jre_order c", "jvmdll " + library}));
  EXPECT_EQ(r.status, 2);
  std::vector<std::string> lines = Lines(r.err);
  ASSERT_EQ(lines.size(), 2u) << r.err;
  EXPECT_TRUE(Contains(lines[0], "wrong ELF class")) << lines[0];
  EXPECT_EQ(lines[1], "Java Runtime Environment not valid.");
}
#endif

}  // namespace
}  // namespace e2e
