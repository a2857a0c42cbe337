// launcher-pack --jlink with the build's real JDK: one runtime is made for examples/hello (jlink
// takes a while), shipped beside the executable and in an archive, and the results are checked.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>

#include "test_support.h"

namespace launcher_pack {
namespace {

namespace fs = std::filesystem;
using testing::ReadText;
using testing::RunTool;
using testing::TempDir;

// Standard output of a shell command.
std::string Capture(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  char buffer[4096];
  for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) {
    out.append(buffer, n);
  }
  return out;
}

class JlinkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    packed_ = new testing::ToolResult(
        RunTool({"--jar", HELLO_JAR, "--jlink", "--jdk", LAUNCHER_JDK_HOME, "--runtime-out",
                 *dir_ / "runtime", "--runtime-beside", "--archive", *dir_ / "hello.tar.gz", "-o",
                 *dir_ / "app/hello"}));
  }
  static void TearDownTestSuite() {
    delete packed_;
    delete dir_;
  }
  void SetUp() override { ASSERT_EQ(packed_->status, 0) << packed_->err; }

  static TempDir* dir_;
  static testing::ToolResult* packed_;
};
TempDir* JlinkTest::dir_ = nullptr;
testing::ToolResult* JlinkTest::packed_ = nullptr;

TEST_F(JlinkTest, RuntimeHoldsTheModulesAndClassDataButNoHeadersOrManPages) {
  const fs::path runtime = *dir_ / "runtime";
  // The release file names the image's modules: MODULES="java.base jdk.charsets ...".
  const std::string release = ReadText(runtime / "release");
  const std::size_t start = release.find("MODULES=\"");
  ASSERT_NE(start, std::string::npos) << release;
  std::istringstream words(release.substr(start + 9, release.find('"', start + 9) - start - 9));
  const std::set<std::string> modules{std::istream_iterator<std::string>(words), {}};
  for (const char* module :
       {"java.base", "jdk.crypto.ec", "jdk.localedata", "jdk.zipfs", "jdk.charsets"}) {
    EXPECT_EQ(modules.count(module), 1u) << module << " in " << release;
  }
  EXPECT_EQ(modules.count("java.desktop"), 0u);
  EXPECT_TRUE(fs::is_regular_file(runtime / "lib/server/classes.jsa"));
  EXPECT_FALSE(fs::exists(runtime / "include"));
  EXPECT_FALSE(fs::exists(runtime / "man"));
  EXPECT_TRUE(fs::is_regular_file(*dir_ / "app/jre/lib/server/classes.jsa"));
}

TEST_F(JlinkTest, FolderRunsOnItsOwnRuntimeWithNoJavaOnTheMachine) {
  const std::string out = Capture("cd / && env -i PATH=/nonexistent LAUNCHER_TRACE=1 '" +
                                  *dir_ / "app/hello" + "' one 2>&1");
  EXPECT_NE(out.find("Hello from a packaged Java application.\narg[0]=one\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find("runtime found: " + dir_->path() + "/app/./jre/lib/server/libjvm.so"),
            std::string::npos)
      << out;
}

TEST_F(JlinkTest, ArchiveHoldsTheExecutableAndTheRuntimeWithTheirModes) {
  const std::string listing = Capture("tar -tvzf '" + *dir_ / "hello.tar.gz" + "'");
  // The mode column of the entry called name.
  auto mode_of = [&](const std::string& name) {
    const std::size_t at = listing.find(" " + name + "\n");
    return at == std::string::npos ? "missing" : listing.substr(listing.rfind('\n', at) + 1, 10);
  };
  EXPECT_EQ(mode_of("hello/hello"), "-rwxr-xr-x") << listing;
  EXPECT_EQ(mode_of("hello/jre/bin/java"), "-rwxr-xr-x");
  EXPECT_EQ(mode_of("hello/jre/release"), "-rw-r--r--");
  // Unpacked elsewhere, the folder runs as shipped.
  fs::create_directory(*dir_ / "unpacked");
  const std::string out =
      Capture("tar -xzf '" + *dir_ / "hello.tar.gz" + "' -C '" +
              *dir_ / "unpacked' && env -i PATH=/nonexistent '" + *dir_ / "unpacked/hello/hello'");
  EXPECT_EQ(out.rfind("Hello from a packaged Java application.\n", 0), 0u) << out;
}

}  // namespace
}  // namespace launcher_pack
