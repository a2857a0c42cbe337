// Runs the built launcher-pack binary the way a build script would.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "targets.h"
#include "test_support.h"

namespace launcher_pack {
namespace {

using testing::MakeImage;
using testing::MakeZip;
using testing::RunTool;
using testing::TempDir;
using testing::WriteBytes;

class PackCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteBytes(dir_ / "launcher", MakeImage());
    WriteBytes(dir_ / "app.jar", MakeZip({{"hello/Hello.class", "code"}}, "remark"));
    WriteBytes(dir_ / "app.settings", std::string("mainclass hello.Hello\n"));
  }
  std::string P(const std::string& name) const { return dir_ / name; }
  std::vector<std::string> PackArgs() const {
    return {"--launcher", P("launcher"), "--jar", P("app.jar"), "-o", P("out")};
  }

  TempDir dir_;
};

TEST_F(PackCliTest, PacksAndInspectsRoundTrip) {
  std::vector<std::string> args = PackArgs();
  args.insert(args.end(),
              {"--settings", P("app.settings"), "--set", "argv x", "--splash", P("app.settings")});
  const auto packed = RunTool(args);
  ASSERT_EQ(packed.status, 0) << packed.err;
  EXPECT_EQ(packed.err, "");

  const auto shown = RunTool({"--inspect", P("out")});
  EXPECT_EQ(shown.status, 0) << shown.out;
  EXPECT_NE(shown.out.find("R: 6\n"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("D: 22\n"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("settings: 3 lines\n  mainclass hello.Hello\n  argv x\n  cds auto\n"),
            std::string::npos)
      << shown.out;
  args.push_back("--no-cds");
  ASSERT_EQ(RunTool(args).status, 0);
  EXPECT_NE(RunTool({"--inspect", P("out")}).out.find("settings: 2 lines\n"), std::string::npos);

  const auto help = RunTool({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: launcher-pack", 0), 0u) << help.out;
}

TEST_F(PackCliTest, SettingsMistakesWarnAndStrictRefuses) {
  std::vector<std::string> args = PackArgs();
  args.insert(args.end(),
              {"--set", "mainclas hello.Hello", "--set", "minjre any", "--set", "# a comment",
               "--set", "maxjre 1.8", "--set", "cds on", "--set", "cds OFF"});
  const auto warned = RunTool(args);
  EXPECT_EQ(warned.status, 0);
  EXPECT_EQ(warned.err,
            "launcher-pack: warning: settings line 1: 'mainclas' is not a setting key\n"
            "launcher-pack: warning: settings line 2: minjre 'any' does not start with a number "
            "and sets no bound\n"
            "launcher-pack: warning: settings line 5: cds 'on' is neither auto nor off; the "
            "launcher leaves class-data sharing off\n"
            "launcher-pack: warning: no mainclass setting: the application cannot start\n");
  std::filesystem::remove(dir_ / "out");
  args.push_back("--strict");
  const auto strict = RunTool(args);
  EXPECT_EQ(strict.status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out"));

  std::vector<std::string> absent = PackArgs();
  absent.insert(absent.end(), {"--set", "MainClass = hello.Missing"});
  const auto missing = RunTool(absent);
  EXPECT_EQ(missing.status, 0);
  EXPECT_EQ(missing.err,
            "launcher-pack: warning: mainclass 'hello.Missing' is not in the jar (no "
            "hello/Missing.class)\n");
}

TEST_F(PackCliTest, ErrorsExitNonZeroWithOneLineAndNoOutput) {
  WriteBytes(dir_ / "nozip.jar", std::string(64, 'x'));
  WriteBytes(dir_ / "plain", std::string(64, 'x'));
  WriteBytes(dir_ / "bad.settings", std::string("a\xFF\n"));
  Bytes twice = MakeImage();
  testing::Append(twice, MakeImage());
  WriteBytes(dir_ / "twice", twice);
  std::filesystem::create_directory(dir_ / "outdir");  // renaming a file over it fails
  ASSERT_EQ(::mkfifo(P("fifo").c_str(), 0600), 0);     // opening it must not wait for a writer
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = PackArgs();
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
  };
  const std::vector<Case> cases = {
      {with({"--jar=" + P("none.jar")}), 2, "--jar given more than once"},
      {{"--launcher", P("launcher"), "--jar", P("none.jar"), "-o", P("out")},
       1,
       "cannot read jar '" + P("none.jar") + "': No such file or directory"},
      {{"--launcher", P("none"), "--jar", P("app.jar"), "-o", P("out")},
       1,
       "cannot read launcher image '" + P("none") + "'"},
      {with({"--settings", P("none")}), 1, "cannot read settings file '" + P("none") + "'"},
      {with({"--settings", P("bad.settings")}), 1, "not valid UTF-8 at byte 1"},
      {with({"--splash", P("none")}), 1, "cannot read splash image '" + P("none") + "'"},
      {{"--launcher", P("launcher"), "--jar", P("nozip.jar"), "-o", P("out")},
       1,
       "jar '" + P("nozip.jar") + "': no zip end-of-central-directory record"},
      {{"--launcher", P("plain"), "--jar", P("app.jar"), "-o", P("out")},
       1,
       "launcher image '" + P("plain") + "': marker @@ZIP-SIZE-FIELD not found"},
      {{"--launcher", P("twice"), "--jar", P("app.jar"), "-o", P("out")}, 1, "more than once"},
      {{"--launcher", P("launcher"), "--jar", P("app.jar"), "-o", P("no/dir/out")},
       1,
       "cannot write output '" + P("no/dir/out") + "'"},
      {{"--launcher", P("launcher"), "--jar", P("app.jar"), "-o", P("outdir")},
       1,
       "cannot write output '" + P("outdir") + "': Is a directory"},
      {{"--launcher", P("launcher"), "-o", P("out")}, 2, "missing required option --jar"},
      {{"--launcher", P("launcher"), "--jar", P("app.jar")}, 2, "missing required option -o"},
      {with({"--verbose"}), 2, "unknown option '--verbose'"},
      {with({"stray"}), 2, "unexpected argument 'stray'"},
      {with({"--splash"}), 2, "--splash needs a value"},
      {with({"--set", "a\nb"}), 2, "single line"},
      {with({"--target", "macos"}), 2, "unknown target 'macos'"},
      {{"--version", "--jar", P("app.jar")}, 2, "--version cannot be combined"},
      {with({"--inspect", P("launcher")}), 2, "cannot be combined"},
      {{}, 2, "nothing to do"},
      {{"--inspect", P("none")}, 1, "cannot read file '" + P("none") + "'"},
      {{"--launcher", "/dev/zero", "--jar", P("app.jar"), "-o", P("out")},
       1,
       "cannot read launcher image '/dev/zero': a character device, not a regular file"},
      {{"--launcher", P("launcher"), "--jar", "/dev/urandom", "-o", P("out")},
       1,
       "cannot read jar '/dev/urandom': a character device, not a regular file"},
      {with({"--settings", P("fifo")}), 1, "'" + P("fifo") + "': a pipe, not a regular file"},
      {with({"--splash", P("outdir")}), 1, "'" + P("outdir") + "': a directory, not a regular"},
      {{"--inspect", "/dev/zero"}, 1, "'/dev/zero': a character device, not a regular file"},
      {with({"--set", "argv ok", "--set", "argv \xC3("}), 1,
       "--set value 2: not valid UTF-8 at byte 5"},
  };
  for (const Case& c : cases) {
    const auto r = RunTool(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.err.rfind("launcher-pack: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.message << " / " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(name != "out" && name.find("tmp") == std::string::npos) << name;
    }
  }
}

TEST_F(PackCliTest, OptionsTheJvmWouldNotTakeAndASecondMainclassWarn) {
  std::vector<std::string> args = PackArgs();
  args.insert(args.end(), {"--settings", P("app.settings"), "--set", "mainclass other.Main",
                           "--set", "option --add-opens java.base/java.lang=ALL-UNNAMED", "--set",
                           "option --module-path", "--set", "option -Xmx1g # heap", "--set",
                           "option --add-opens=java.base/java.io=ALL-UNNAMED", "--set",
                           "option=--add-modules=x", "--set", "option --add-modulesx y"});
  const auto warned = RunTool(args);
  EXPECT_EQ(warned.status, 0);
  EXPECT_EQ(warned.err,
            "launcher-pack: warning: settings line 2: a second mainclass line; the launcher uses "
            "the first, 'hello.Hello'\n"
            "launcher-pack: warning: settings line 3: option '--add-opens "
            "java.base/java.lang=ALL-UNNAMED' is ignored by the JVM; write "
            "'--add-opens=java.base/java.lang=ALL-UNNAMED'\n"
            "launcher-pack: warning: settings line 4: option '--module-path' has no value; write "
            "--module-path=VALUE in one line\n"
            "launcher-pack: warning: settings line 5: option '-Xmx1g # heap' contains '#', but "
            "settings have no comments: the JVM receives the '#' and all after it\n");
}

TEST_F(PackCliTest, ByteOrderMarksInsideTheSettingsWarn) {
  // Two settings files joined, each with its own byte order mark.
  WriteBytes(dir_ / "joined", std::string("\xEF\xBB\xBFmainclass hello.Hello\n\xEF\xBB\xBF"
                                          "argv a\n"));
  std::vector<std::string> args = PackArgs();
  args.insert(args.end(), {"--settings", P("joined"), "--set", "argv b\xEF\xBB\xBF"});
  const auto warned = RunTool(args);
  EXPECT_EQ(warned.status, 0);
  EXPECT_EQ(warned.err,
            "launcher-pack: warning: settings line 2: starts with a byte order mark (U+FEFF), so "
            "the launcher ignores the line\n"
            "launcher-pack: warning: settings line 3: contains a byte order mark (U+FEFF), which "
            "the launcher reads as part of the line\n");
}

// Sparse files stand in for large ones: their size costs no disk.
TEST_F(PackCliTest, FilesOverTheLauncherSizeLimitAreRefused) {
  ASSERT_EQ(RunTool(PackArgs()).status, 0);
  const auto head =
      std::filesystem::file_size(dir_ / "out") - std::filesystem::file_size(dir_ / "app.jar");
  std::filesystem::remove(dir_ / "out");
  testing::WriteSparseJar(dir_ / "big.jar", kMaxPackedSize + 1 - head);
  const auto packed = RunTool({"--launcher", P("launcher"), "--jar", P("big.jar"), "-o", P("out")});
  EXPECT_EQ(packed.status, 1);
  EXPECT_EQ(packed.err, "launcher-pack: output '" + P("out") +
                            "': would be 2147483648 bytes; a launcher reads files of at most "
                            "2147483647 bytes\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 4);

  std::filesystem::resize_file(dir_ / "big.jar", kMaxPackedSize + 1);
  const auto shown = RunTool({"--inspect", P("big.jar")});
  EXPECT_EQ(shown.status, 1);
  EXPECT_EQ(shown.out,
            "S: 2147483648 (a launcher reads files of at most 2147483647 bytes and finds no "
            "payload in this one)\n");
}

TEST_F(PackCliTest, SignalDuringPackRemovesTheTemporaryFile) {
  testing::WriteSparseJar(dir_ / "big.jar", 1u << 30);  // copying it takes a while
  const std::filesystem::path out_dir = dir_ / "o";
  std::filesystem::create_directory(out_dir);
  for (const int sig : {SIGINT, SIGTERM}) {
    const pid_t pid = testing::StartTool(
        {"--launcher", P("launcher"), "--jar", P("big.jar"), "-o", (out_dir / "app").string()},
        "/dev/null", "/dev/null");
    for (int i = 0; i < 10000 && std::filesystem::is_empty(out_dir); ++i) ::usleep(1000);
    ASSERT_FALSE(std::filesystem::is_empty(out_dir));  // the temporary file is being written
    ::kill(pid, sig);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    EXPECT_TRUE(std::filesystem::is_empty(out_dir));
  }
}

TEST_F(PackCliTest, InspectOfCorruptFileFailsWithoutCrashing) {
  ASSERT_EQ(RunTool(PackArgs()).status, 0);
  Bytes data = testing::ReadBytes(P("out"));
  data.resize(data.size() - 30);  // drops the archive's end record
  WriteBytes(dir_ / "cut", data);
  const auto r = RunTool({"--inspect", P("cut")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("does not fit the file"), std::string::npos) << r.out;
}

TEST(PackTargets, ImagesAreFoundInInstalledAndBuildTreeLayouts) {
  EXPECT_STREQ(DefaultTarget().name, sizeof(void*) == 4 ? "linux-i386" : "linux-x86_64");
  const Target& x64 = *FindTarget("linux-x86_64");
  const Target& i386 = *FindTarget("linux-i386");
  const Target& win = *FindTarget("windows-x86_64");
  TempDir dir;
  const std::filesystem::path root = dir.path();
  auto put = [](const std::filesystem::path& path) {
    std::filesystem::create_directories(path.parent_path());
    WriteBytes(path, std::string("image"));
  };
  // A build tree's own image serves only the target of that build; the trees of the other
  // presets beside it serve theirs.
  const auto tool = root / "build/default/tools/launcher-pack";
  put(root / "build/default/src/launcher");
  EXPECT_EQ(FindImage(x64, tool, x64).found, root / "build/default/src/launcher");
  const ImageSearch none = FindImage(i386, tool, x64);
  EXPECT_FALSE(none.found);
  EXPECT_EQ(none.looked_at, (std::vector<std::filesystem::path>{
                                root / "build/default/tools/lib/launcher/linux-i386/launcher",
                                root / "build/default/images/linux-i386/src/launcher",
                                root / "build/i386/src/launcher"}));
  put(root / "build/i386/src/launcher");
  EXPECT_EQ(FindImage(i386, tool, x64).found, root / "build/i386/src/launcher");
  // A release tree's sub-build; a directory in an earlier place is no image.
  put(root / "build/windows/src/launcher-console.exe");
  put(root / "build/default/images/windows-x86_64/src/launcher-console.exe");
  std::filesystem::create_directories(tool / "../lib/launcher/windows-x86_64/launcher-console.exe");
  EXPECT_EQ(FindImage(win, tool, x64).found,
            root / "build/default/images/windows-x86_64/src/launcher-console.exe");
  // The windowed image shares the console image's directories and the windows preset's tree.
  const Target& gui = *FindTarget("windows-x86_64-gui");
  EXPECT_EQ(FindImage(gui, tool, x64).looked_at,
            (std::vector<std::filesystem::path>{
                root / "build/default/tools/lib/launcher/windows-x86_64/launcher.exe",
                root / "build/default/images/windows-x86_64/src/launcher.exe",
                root / "build/windows/src/launcher.exe"}));
  put(root / "build/windows/src/launcher.exe");
  EXPECT_EQ(FindImage(gui, tool, x64).found, root / "build/windows/src/launcher.exe");
}

// A copy of launcher-pack in an installed tree, deep enough that every place it looks at lies
// inside the test's directory, started through a symbolic link from elsewhere.
TEST_F(PackCliTest, InstalledCopyFindsItsImageThroughASymbolicLink) {
  const std::filesystem::path bin = dir_ / "a/b/prefix/bin";
  std::filesystem::create_directories(bin);
  std::filesystem::copy_file(LAUNCHER_PACK_BINARY, bin / "launcher-pack");
  const std::filesystem::path prefix = std::filesystem::canonical(bin / "..");
  const Target& own = DefaultTarget();
  const std::filesystem::path image = prefix / "lib/launcher" / own.name / own.image;
  std::filesystem::create_directories(image.parent_path());
  WriteBytes(image, testing::MakeVersionedImage("4.5.6"));
  std::filesystem::create_symlink(bin / "launcher-pack", dir_ / "launcher-pack");
  const std::string tool = P("launcher-pack");

  std::vector<std::string> args = {"--jar",           P("app.jar"), "--settings",
                                   P("app.settings"), "-o",         P("out")};
  const auto packed = RunTool(args, tool);
  ASSERT_EQ(packed.status, 0) << packed.err;
  EXPECT_NE(RunTool({"--inspect", P("out")}, tool).out.find("\nlauncher version: 4.5.6\n"),
            std::string::npos);
  EXPECT_EQ(RunTool({"--version"}, tool).out, std::string("launcher-pack ") + PackVersion() + "\n" +
                                                  own.name + ": launcher 4.5.6 (" + image.string() +
                                                  ")\n");
  EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(PackVersion()[0]))) << PackVersion();
  const auto listed = RunTool({"--list-targets"}, tool).out;
  EXPECT_NE(listed.find(std::string(own.name) + " (default): " + image.string() + "\n"),
            std::string::npos)
      << listed;

  args.insert(args.begin(), {"--target", "windows-x86_64"});
  const auto missing = RunTool(args, tool);
  EXPECT_EQ(missing.status, 1);
  const std::filesystem::path b = prefix.parent_path();
  EXPECT_EQ(missing.err,
            "launcher-pack: no launcher image for windows-x86_64; looked at " +
                (prefix / "lib/launcher/windows-x86_64/launcher-console.exe").string() + ", " +
                (b / "images/windows-x86_64/src/launcher-console.exe").string() + ", " +
                (b / "../windows/src/launcher-console.exe").lexically_normal().string() +
                " (give one with --launcher)\n");
  args.insert(args.end(), {"--launcher", P("launcher")});
  EXPECT_EQ(RunTool(args, tool).status, 0);  // --launcher overrides the search
}

}  // namespace
}  // namespace launcher_pack
