// Shipping a runtime without a real JDK: fake JDK tools that record how they are called, fake
// runtime images with the headers of real ones, and the archive read back by tar.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "app_folder.h"
#include "checks.h"
#include "platform_of.h"
#include "runtime_image.h"
#include "tar_gz.h"
#include "test_support.h"

namespace launcher_pack {
namespace {

namespace fs = std::filesystem;
using testing::MakeImage;
using testing::MakeZip;
using testing::ReadBytes;
using testing::ReadText;
using testing::RunTool;
using testing::TempDir;
using testing::WriteBytes;

// The first bytes of an x86-64 and of an i386 ELF file, up to e_machine.
const std::string kElf64X86_64(
    "\x7f"
    "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x03\0\x3e\0",
    20);
const std::string kElf32I386(
    "\x7f"
    "ELF\x01\x01\x01\0\0\0\0\0\0\0\0\0\x02\0\x03\0",
    20);

void WriteScript(const fs::path& path, const std::string& body) {
  fs::create_directories(path.parent_path());
  WriteBytes(path, "#!/bin/sh\n" + body);
  fs::permissions(path, fs::perms(0755));
}

// A runtime image as jlink lays it out, its JVM library an x86-64 ELF header.
void MakeFakeRuntime(const fs::path& dir) {
  fs::create_directories(dir / "lib/server");
  fs::create_directories(dir / "legal/java.base");
  fs::create_directories(dir / "legal/jdk.zipfs");
  WriteBytes(dir / "release", std::string("OS_NAME=\"Linux\"\nOS_ARCH=\"x86_64\"\n"));
  WriteBytes(dir / "lib/server/libjvm.so", kElf64X86_64);
  WriteBytes(dir / "legal/java.base/LICENSE", std::string("license"));
  fs::create_symlink("../java.base/LICENSE", dir / "legal/jdk.zipfs/LICENSE");
  WriteScript(dir / "bin/java", "exit 0\n");
}

// A JDK whose jlink records its arguments in bin/jlink.args and then runs jlink_body with $out
// set to its --output directory; its java lists three modules and its jdeps answers jdeps_body.
fs::path MakeFakeJdk(const TempDir& dir, const std::string& jlink_body,
                     const std::string& jdeps_body = "echo java.logging\n") {
  const fs::path jdk = dir / "jdk";
  WriteScript(jdk / "bin/java",
              "printf 'java.base@17.0.9\\njdk.localedata@17.0.9\\n"
              "jdk.zipfs@17.0.9\\njava.logging@17.0.9\\n'\n");
  WriteScript(jdk / "bin/jdeps", jdeps_body);
  WriteScript(jdk / "bin/jlink",
              "[ \"$1\" = --version ] && { echo 17.0.9; exit 0; }\n"
              "echo \"$@\" >> \"$(dirname \"$0\")/jlink.args\"\n"
              "out=; prev=\n"
              "for a; do [ \"$prev\" = --output ] && out=$a; prev=$a; done\n" +
                  jlink_body);
  return jdk;
}

// A jlink body that writes a small runtime with both class data archives.
const char kJlinkMakesRuntime[] =
    "mkdir -p \"$out/lib/server\" \"$out/bin\"\n"
    "printf 'OS_NAME=\"Linux\"\\nOS_ARCH=\"x86_64\"\\n' > \"$out/release\"\n"
    "printf '\\177ELF\\002\\001\\001\\000\\000\\000\\000\\000\\000\\000\\000\\000\\003\\000>\\000'"
    " > \"$out/lib/server/libjvm.so\"\n"
    "touch \"$out/lib/server/classes.jsa\" \"$out/lib/server/classes_nocoops.jsa\"\n";

class PackRuntimeCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteBytes(dir_ / "launcher", MakeImage());
    WriteBytes(dir_ / "app.jar", MakeZip({{"hello/Hello.class", "code"}}));
  }
  std::vector<std::string> Args(std::vector<std::string> more) const {
    std::vector<std::string> args = {"--launcher",     dir_ / "launcher", "--jar",
                                     dir_ / "app.jar", "--set",           "mainclass hello.Hello"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
  TempDir dir_;
};

TEST_F(PackRuntimeCliTest, JlinkGetsJdepsModulesDefaultsAndAddedOnesAndShipsTheResult) {
  const fs::path jdk = MakeFakeJdk(dir_, kJlinkMakesRuntime);
  const auto run =
      RunTool(Args({"--jlink", "--jdk", jdk, "--add-modules", "jdk.jfr,java.sql",
                    "--drop-nocoops-archive", "--runtime-beside", "-o", dir_ / "app/hello"}));
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string args = ReadText(jdk / "bin/jlink.args");
  // The defaults the JDK lacks (jdk.crypto.ec, jdk.charsets) are left out.
  EXPECT_NE(args.find("--add-modules java.logging,jdk.localedata,jdk.zipfs,jdk.jfr,java.sql "),
            std::string::npos)
      << args;
  for (const char* option : {"--strip-debug", "--no-header-files", "--no-man-pages", "--compress=2",
                             "--generate-cds-archive"}) {
    EXPECT_NE(args.find(option), std::string::npos) << option;
  }
  EXPECT_TRUE(fs::exists(dir_ / "app/hello"));
  EXPECT_TRUE(fs::exists(dir_ / "app/jre/lib/server/classes.jsa"));
  EXPECT_FALSE(fs::exists(dir_ / "app/jre/lib/server/classes_nocoops.jsa"));
  EXPECT_NE(run.err.find("modules java.logging,jdk.localedata"), std::string::npos) << run.err;
}

TEST_F(PackRuntimeCliTest, AJlinkWithoutTheStripPluginIsRunAgainWithoutIt) {
  const fs::path jdk = MakeFakeJdk(
      dir_,
      std::string("case \"$*\" in *--strip-native-debug-symbols*)\n"
                  "  echo 'Error: unknown option: --strip-native-debug-symbols' >&2; exit 1;;\n"
                  "esac\n") +
          kJlinkMakesRuntime);
  const auto run = RunTool(
      Args({"--jlink", "--jdk", jdk, "--runtime-out", dir_ / "kept", "-o", dir_ / "hello"}));
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string args = ReadText(jdk / "bin/jlink.args");
  EXPECT_NE(args.find("--strip-native-debug-symbols=objcopy="), std::string::npos) << args;
  EXPECT_EQ(args.substr(args.find('\n') + 1).find("--strip-native"), std::string::npos) << args;
  EXPECT_NE(run.err.find("/strip from 0 of 1 shared libraries"), std::string::npos) << run.err;
  EXPECT_TRUE(fs::exists(dir_ / "kept/lib/server/classes_nocoops.jsa"));
  EXPECT_FALSE(fs::exists(dir_ / "jre"));

  // A made runtime can also go into the executable; the temporary one is then removed.
  const auto embedded =
      RunTool(Args({"--jlink", "--jdk", jdk, "--embed-runtime", "-o", dir_ / "one-file"}));
  ASSERT_EQ(embedded.status, 0) << embedded.err;
  const std::string shown = RunTool({"--inspect", dir_ / "one-file"}).out;
  EXPECT_NE(shown.find("runtime: 4 files"), std::string::npos) << shown;
}

TEST_F(PackRuntimeCliTest, FailingJavaToolsGiveOneClearLine) {
  const fs::path jdk = MakeFakeJdk(dir_, "echo 'Error: Module java.base not found' >&2\nexit 1\n");
  const auto no_jmods =
      RunTool(Args({"--jlink", "--jdk", jdk, "--runtime-out", dir_ / "rt", "-o", dir_ / "out"}));
  EXPECT_EQ(no_jmods.status, 1);
  EXPECT_NE(no_jmods.err.find("jlink of JDK '" + jdk.string() +
                              "' failed (status 1): Error: Module java.base not found ("),
            std::string::npos)
      << no_jmods.err;
  EXPECT_NE(no_jmods.err.find("openjdk-17-jmods"), std::string::npos) << no_jmods.err;
  EXPECT_FALSE(fs::exists(dir_ / "out"));
  EXPECT_FALSE(fs::exists(dir_ / "rt"));

  fs::remove(jdk / "bin/jlink");
  const auto no_jlink =
      RunTool(Args({"--jlink", "--jdk", jdk, "--runtime-beside", "-o", dir_ / "out"}));
  EXPECT_EQ(no_jlink.status, 1);
  EXPECT_NE(no_jlink.err.find("cannot run jlink '" + (jdk / "bin/jlink").string() +
                              "': No such file or directory (making a runtime needs a JDK"),
            std::string::npos)
      << no_jlink.err;

  TempDir other;
  const fs::path bad_jdeps = MakeFakeJdk(other, kJlinkMakesRuntime,
                                         "echo 'Error: app.jar is not a valid jar' >&2\nexit 2\n");
  const auto jdeps =
      RunTool(Args({"--jlink", "--jdk", bad_jdeps, "--runtime-beside", "-o", dir_ / "out"}));
  EXPECT_EQ(jdeps.status, 1);
  EXPECT_NE(jdeps.err.find("failed (status 2): Error: app.jar is not a valid jar"),
            std::string::npos)
      << jdeps.err;
  EXPECT_FALSE(fs::exists(bad_jdeps / "bin/jlink.args"));
}

TEST_F(PackRuntimeCliTest, RuntimeOptionsThatCannotWorkAreUsageErrors) {
  MakeFakeRuntime(dir_ / "rt");
  const std::vector<std::vector<std::string>> wrong = {
      {"--jdk", dir_ / "jdk", "--runtime-beside"},  // --jdk without --jlink
      {"--runtime-beside"},                         // no runtime to ship
      {"--jlink"},                                  // a runtime nobody keeps
      {"--runtime", dir_ / "rt"},                   // likewise
      {"--jlink", "--runtime", dir_ / "rt", "--runtime-beside"}};
  for (const auto& options : wrong) {
    std::vector<std::string> args = options;
    args.insert(args.end(), {"-o", dir_ / "out"});
    EXPECT_EQ(RunTool(Args(args)).status, 2) << options.front();
  }
  const auto not_runtime =
      RunTool(Args({"--runtime", dir_.path(), "--runtime-beside", "-o", dir_ / "out"}));
  EXPECT_EQ(not_runtime.status, 1);
  EXPECT_NE(not_runtime.err.find("no release file"), std::string::npos) << not_runtime.err;
}

TEST_F(PackRuntimeCliTest, WarnsAboutAForeignRuntimeAndSettingsThatBypassIt) {
  MakeFakeRuntime(dir_ / "rt");
  Bytes i386_image(kElf32I386.begin(), kElf32I386.end());
  const Bytes filler = MakeImage();
  i386_image.insert(i386_image.end(), filler.begin(), filler.end());
  WriteBytes(dir_ / "launcher", i386_image);
  const auto run = RunTool(Args({"--runtime", dir_ / "rt", "--runtime-beside", "--set",
                                 "jre_order se", "-o", dir_ / "app/out"}));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("is for linux-x86_64 (lib/server/libjvm.so) but launcher image '" +
                         dir_ / "launcher" + "' is for linux-i386"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("jre_order 'se' has no b"), std::string::npos) << run.err;

  // The release file tells when there is no JVM library to read; a Windows image is told from
  // its PE header.
  fs::remove(dir_ / "rt/lib/server/libjvm.so");
  WriteBytes(dir_ / "rt/bin/server/jvm.dll", std::string("not a PE file"));
  EXPECT_EQ(PlatformOfRuntime(dir_ / "rt")->source, "release OS_NAME and OS_ARCH");
  Bytes pe(0x80, 0);
  pe[0] = 'M', pe[1] = 'Z', pe[0x3c] = 0x40;
  pe[0x40] = 'P', pe[0x41] = 'E', pe[0x44] = 0x64, pe[0x45] = 0x86;
  EXPECT_EQ(BinaryPlatform(pe).value_or(""), "windows-x86_64");
  EXPECT_NE(PlatformMismatchWarning(dir_ / "rt", pe, "w.exe").find("is for linux-x86_64"),
            std::string::npos);
  EXPECT_EQ(PlatformMismatchWarning(dir_ / "rt", MakeImage(), "unknown"), "");
}

TEST(PackShippedRuntimeSettings, WarnOnlyWhenTheRuntimeBesideWouldBePassedOver) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, ""},
      {{"jre ./jre", "jre_order bse"}, ""},
      {{"jre_order bc", "jvmdll /opt/x/libjvm.so"}, ""},
      {{"jre runtime/java17"}, "jre 'runtime/java17' makes the launcher look there"},
      {{"JRE_ORDER = SB"}, "jre_order 'SB' tries s before b"},
      {{"jvmdll /opt/x/libjvm.so"}, "settings line 1: jvmdll '/opt/x/libjvm.so' is tried before"},
  };
  for (const auto& [lines, expected] : cases) {
    const std::vector<std::string> warnings = CheckShippedRuntime(lines);
    if (expected.empty()) {
      EXPECT_TRUE(warnings.empty()) << warnings.front();
    } else {
      ASSERT_EQ(warnings.size(), 1u) << expected;
      EXPECT_NE(warnings[0].find(expected), std::string::npos) << warnings[0];
    }
  }
}

TEST(PackLinkingJavaHome, TakesTheOptionThenJavaHomeThenTheRealJavaOnPath) {
  TempDir dir;
  WriteScript(dir / "jdk/bin/java", "exit 0\n");
  fs::create_directories(dir / "links");
  fs::create_symlink("../jdk/bin/java", dir / "links/java");
  std::string error;
  EXPECT_EQ(FindJdk(std::string(dir / "jdk"), "/home", "", &error), fs::path(dir / "jdk"));
  EXPECT_EQ(FindJdk(std::nullopt, "/home", "", &error), fs::path("/home"));
  const std::string path = "/nonexistent:" + dir / "links";
  EXPECT_EQ(FindJdk(std::nullopt, "", path.c_str(), &error), fs::canonical(dir / "jdk"));
  EXPECT_FALSE(FindJdk(std::nullopt, nullptr, "/nonexistent", &error));
  EXPECT_NE(error.find("give --jdk DIR"), std::string::npos) << error;
  EXPECT_FALSE(FindJdk(dir / "jdk/bin/java", nullptr, "", &error));
}

TEST(PackJavaVersions, FeatureReleaseAndCompressSyntax) {
  EXPECT_EQ(JavaFeatureVersion("17.0.21.1"), 17);
  EXPECT_EQ(JavaFeatureVersion("1.8.0_402"), 8);
  EXPECT_EQ(JavaFeatureVersion("25-ea"), 25);
  EXPECT_EQ(JavaFeatureVersion("jlink"), 0);
  EXPECT_EQ(JlinkCompressOption(17), "--compress=2");
  EXPECT_EQ(JlinkCompressOption(21), "--compress=zip-6");
}

// Entry lines of `tar -tvzf`: mode, owner, size, date, time and name (with "-> target").
std::string TarListing(const fs::path& archive) {
  const std::string listing = archive.string() + ".list";
  EXPECT_EQ(std::system(("tar -tvzf '" + archive.string() + "' > '" + listing + "'").c_str()), 0);
  return ReadText(listing);
}

TEST(PackAppArchive, TarReadsBackModesLinksAndLongNamesAndPackingTwiceGivesTheSameBytes) {
  TempDir dir;
  MakeFakeRuntime(dir / "rt");
  const std::string deep = "lib/" + std::string(90, 'd') + "/" + std::string(90, 'e');
  fs::create_directories(dir / ("rt/" + deep));
  WriteBytes(dir / ("rt/" + deep + "/" + std::string(120, 'f')), std::string(700, 'x'));
  fs::create_symlink(std::string(110, 'l'), dir / "rt/legal/dangling");
  WriteBytes(dir / "app", std::string("packed"));
  fs::permissions(dir / "app", fs::perms(0750));

  std::string error;
  ASSERT_TRUE(WriteAppArchive(dir / "app-1.0.tar.gz", dir / "app", dir / "rt", &error)) << error;
  const Bytes first = ReadBytes(dir / "app-1.0.tar.gz");
  ASSERT_TRUE(WriteAppArchive(dir / "app-1.0.tar.gz", dir / "app", dir / "rt", &error)) << error;
  EXPECT_EQ(ReadBytes(dir / "app-1.0.tar.gz"), first);

  const std::string listing = TarListing(dir / "app-1.0.tar.gz");
  for (const char* line : {"drwxr-xr-x 0/0               0 1970-01-01 00:00 app-1.0/\n",
                           "-rwxr-x--- 0/0               6 1970-01-01 00:00 app-1.0/app\n",
                           "-rwxr-xr-x 0/0              17 1970-01-01 00:00 app-1.0/jre/bin/java\n",
                           " app-1.0/jre/legal/jdk.zipfs/LICENSE -> ../java.base/LICENSE\n"}) {
    EXPECT_NE(listing.find(line), std::string::npos) << line << listing;
  }
  // Extracted, the tree is the one archived, long names and link targets included.
  fs::create_directory(dir / "x");
  ASSERT_EQ(std::system(("tar -xzf '" + dir / "app-1.0.tar.gz" + "' -C '" + dir / "x'").c_str()),
            0);
  std::vector<TreeEntry> original, extracted;
  std::string reason;
  ASSERT_TRUE(ListTree(dir / "rt", &original, &reason));
  ASSERT_TRUE(ListTree(dir / "x/app-1.0/jre", &extracted, &reason));
  ASSERT_EQ(extracted.size(), original.size());
  for (std::size_t i = 0; i < original.size(); ++i) {
    EXPECT_EQ(extracted[i].name, original[i].name);
    EXPECT_EQ(extracted[i].mode, original[i].mode) << original[i].name;
    EXPECT_EQ(extracted[i].link, original[i].link) << original[i].name;
    if (original[i].kind == TreeEntry::Kind::kFile) {
      EXPECT_EQ(ReadBytes(extracted[i].source), ReadBytes(original[i].source));
    }
  }
}

TEST(PackRuntimeBeside, ReplacesAnEarlierRuntimeButNoOtherJreDirectory) {
  TempDir dir;
  MakeFakeRuntime(dir / "rt");
  MakeFakeRuntime(dir / "app/jre");
  WriteBytes(dir / "app/jre/stale", std::string("old"));
  std::string error;
  ASSERT_TRUE(InstallRuntimeBeside(dir / "app/hello", dir / "rt", &error)) << error;
  EXPECT_FALSE(fs::exists(dir / "app/jre/stale"));
  EXPECT_TRUE(fs::is_symlink(dir / "app/jre/legal/jdk.zipfs/LICENSE"));
  EXPECT_EQ(fs::status(dir / "app/jre/bin/java").permissions(), fs::perms(0755));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "app"), fs::directory_iterator()), 1);

  fs::create_directories(dir / "other/jre");
  WriteBytes(dir / "other/jre/notes.txt", std::string("mine"));
  EXPECT_FALSE(InstallRuntimeBeside(dir / "other/hello", dir / "rt", &error));
  EXPECT_NE(error.find("is no runtime image"), std::string::npos) << error;
  EXPECT_TRUE(fs::exists(dir / "other/jre/notes.txt"));
}

}  // namespace
}  // namespace launcher_pack
