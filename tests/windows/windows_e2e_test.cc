// launcher-console.exe driven as a child process under the same Windows (or wine), with the
// test JVM library as its "jvm.dll".
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string WindowsPath(const std::string& path) {
  if (path.size() > 1 && path[1] == ':') return path;
  std::string converted = "Z:" + path;
  for (char& c : converted) {
    if (c == '/') c = '\\';
  }
  return converted;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string Le32(unsigned v) {
  return std::string{char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF),
                     char((v >> 24) & 0xFF)};
}

// A Windows executable: the image, the archive size written after the marker, then the
// settings text, its length, the 16-byte field and an empty zip archive.
void Pack(const std::string& image, const std::string& output,
          const std::vector<std::string>& settings) {
  std::string bytes = ReadAll(WindowsPath(image));
  size_t marker = bytes.find("@@ZIP-SIZE-FIELD");
  ASSERT_NE(marker, std::string::npos);
  std::string zip = "PK\x05\x06" + std::string(18, '\0');
  bytes.replace(marker + 16, 8, Le32(static_cast<unsigned>(zip.size())) + std::string(4, '\0'));
  std::string text = "\xEF\xBB\xBF";
  for (const auto& line : settings) text += line + "\r\n";
  text.push_back('\0');
  bytes += text + Le32(static_cast<unsigned>(text.size())) + std::string(16, '\0') + zip;
  WriteAll(output, bytes);
}

std::string WithoutCarriageReturns(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

struct Result {
  DWORD status = 0;
  std::string out, err;
};

using Env = std::vector<std::pair<std::string, std::string>>;

class Child {
 public:
  // Without handles the child gets no standard handles at all, as a program Explorer starts.
  Child(const std::string& commandLine, const Env& env, const std::string& cwd,
        bool handles = true) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE outRead, outWrite, errRead, errWrite;
    CreatePipe(&outRead, &outWrite, &inherit, 0);
    CreatePipe(&errRead, &errWrite, &inherit, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    for (const auto& e : env) SetEnvironmentVariableA(e.first.c_str(), e.second.c_str());
    STARTUPINFOA start = {};
    start.cb = sizeof(start);
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = handles ? GetStdHandle(STD_INPUT_HANDLE) : nullptr;
    start.hStdOutput = handles ? outWrite : nullptr;
    start.hStdError = handles ? errWrite : nullptr;
    std::string line = commandLine;
    started_ = CreateProcessA(nullptr, &line[0], nullptr, nullptr, handles, 0, nullptr,
                              cwd.empty() ? nullptr : cwd.c_str(), &start, &info_);
    for (const auto& e : env) SetEnvironmentVariableA(e.first.c_str(), nullptr);
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    outReader_ = std::thread(Drain, outRead, &out_);
    errReader_ = std::thread(Drain, errRead, &err_);
  }
  ~Child() {
    if (started_) {
      TerminateProcess(info_.hProcess, 255);
      Wait();
    }
  }
  // A child still running after timeoutMs is ended and has the status STILL_ACTIVE (259).
  Result Wait(DWORD timeoutMs = 120000) {
    Result r;
    if (started_) {
      if (WaitForSingleObject(info_.hProcess, timeoutMs) == WAIT_TIMEOUT) {
        TerminateProcess(info_.hProcess, 255);
        WaitForSingleObject(info_.hProcess, INFINITE);
        r.status = STILL_ACTIVE;
      } else {
        GetExitCodeProcess(info_.hProcess, &r.status);
      }
      CloseHandle(info_.hProcess);
      CloseHandle(info_.hThread);
      started_ = false;
    }
    if (outReader_.joinable()) outReader_.join();
    if (errReader_.joinable()) errReader_.join();
    // The C runtime writes text-mode line ends; compare texts with plain line feeds.
    r.out = WithoutCarriageReturns(out_);
    r.err = WithoutCarriageReturns(err_);
    return r;
  }
  void Kill() { TerminateProcess(info_.hProcess, 255); }
  DWORD Pid() const { return info_.dwProcessId; }
  bool Running() const {
    return started_ && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
  }

 private:
  static void Drain(HANDLE pipe, std::string* into) {
    char buffer[4096];
    DWORD n;
    while (ReadFile(pipe, buffer, sizeof(buffer), &n, nullptr) && n > 0) into->append(buffer, n);
    CloseHandle(pipe);
  }

  PROCESS_INFORMATION info_ = {};
  BOOL started_ = FALSE;
  std::string out_, err_;
  std::thread outReader_, errReader_;
};

class WindowsLauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    dir_ = std::string(base) + "launcher-e2e-" + std::to_string(GetTickCount64()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    CreateDirectoryA(dir_.c_str(), nullptr);
    CreateDirectoryA((dir_ + "\\app").c_str(), nullptr);
    CopyFileA(WindowsPath(TESTJVM_DLL).c_str(), (dir_ + "\\app\\jvm.dll").c_str(), FALSE);
    log_ = dir_ + "\\jvm.log";
  }

  std::string PackApp(std::vector<std::string> settings, const std::string& name = "app.exe",
                      const std::string& image = LAUNCHER_EXE) {
    settings.insert(settings.begin(), "mainclass test.Main");
    bool hasLibrary = false;
    for (const auto& s : settings)
      hasLibrary |= s.rfind("jvmdll", 0) == 0 || s.rfind("jre_order", 0) == 0;
    if (!hasLibrary) settings.push_back("jvmdll jvm.dll");
    std::string exe = dir_ + "\\app\\" + name;
    Pack(image, exe, settings);
    return exe;
  }

  Result Start(const std::string& exe, const std::string& args = "", Env env = {},
               DWORD timeoutMs = 120000) {
    env.push_back({"TESTJVM_LOG", log_});
    Child child("\"" + exe + "\"" + (args.empty() ? "" : " " + args), env, dir_);
    return child.Wait(timeoutMs);
  }

  std::vector<std::string> LogLines(const std::string& prefix) {
    std::vector<std::string> lines;
    std::istringstream in(ReadAll(log_));
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    }
    return lines;
  }

  std::string dir_;
  std::string log_;
};

TEST_F(WindowsLauncherTest, OptionsClassPathAndArgumentsReachTheJvm) {
  std::string exe = PackApp({"option -Dx=1", "classpath a.jar;;b.jar", "argv -v \"two words\""});
  Result r = Start(exe, "c \"d e\"", {{"CLASSPATH", "env.jar"}});
  ASSERT_EQ(r.status, 0u) << r.err;
  std::string app = dir_ + "\\app\\";
  std::vector<std::string> expected = {
      "option -Dx=1",
      "option -Djava.class.path=" + exe + ";" + app + "a.jar;" + app + "b.jar;env.jar",
      "option -Dksl.app.path=" + exe, "option -Dapplication.home=" + app};
  EXPECT_EQ(LogLines("option "), expected);
  std::vector<std::string> args = {"main argc=4", "arg[0] 002d 0076",
                                   "arg[1] 0074 0077 006f 0020 0077 006f 0072 0064 0073",
                                   "arg[2] 0063", "arg[3] 0064 0020 0065"};
  std::vector<std::string> got = LogLines("main ");
  for (const auto& line : LogLines("arg[")) got.push_back(line);
  EXPECT_EQ(got, args);
}

TEST_F(WindowsLauncherTest, ExitStatusesAndEntryPoints) {
  EXPECT_EQ(Start(PackApp({}), "", {{"TESTJVM_EXIT", "7"}}).status, 7u);
  EXPECT_EQ(Start(PackApp({}), "", {{"TESTJVM_FAIL_CREATE", "1"}}).status, 4u);
  CopyFileA(WindowsPath(TESTJVM_IMPL_DLL).c_str(), (dir_ + "\\app\\impl.dll").c_str(), FALSE);
  EXPECT_EQ(Start(PackApp({"jvmdll impl.dll"}, "impl.exe")).status, 0u);
}

TEST_F(WindowsLauncherTest, MessagesComeFromTheStringTableOrTheOverrides) {
  Result none = Start(PackApp({"jre_order i"}));
  EXPECT_EQ(none.status, 1u);
  EXPECT_EQ(none.err, "Java Runtime Environment not found.\n");
  Result traced = Start(PackApp({"jre_order i"}, "t.exe"), "", {{"LAUNCHER_TRACE", "1"}});
  EXPECT_TRUE(Contains(traced.err, "[launcher] runtime: no strategy found a JVM library\n"))
      << traced.err;
  Result custom =
      Start(PackApp({"jre_order i", "message 1=No Java here,\\ninstall one."}, "c.exe"));
  EXPECT_EQ(custom.status, 1u);
  EXPECT_EQ(custom.err, "No Java here,\ninstall one.\n");
}

TEST_F(WindowsLauncherTest, UnloadableLibraryPrintsTheSystemTextThenMessageTwo) {
  WriteAll(dir_ + "\\app\\bad.dll", "not a library");
  Result r = Start(PackApp({"jvmdll bad.dll"}));
  EXPECT_EQ(r.status, 2u);
  EXPECT_TRUE(Contains(r.err, dir_ + "\\app\\bad.dll")) << r.err;
  EXPECT_TRUE(Contains(r.err, "\nJava Runtime Environment not valid.\n")) << r.err;
  Result traced = Start(PackApp({"jvmdll bad.dll"}, "t.exe"), "", {{"LAUNCHER_TRACE", "1"}});
  EXPECT_TRUE(
      Contains(traced.err, "[launcher] JVM library " + dir_ + "\\app\\bad.dll not loaded: "))
      << traced.err;
}

TEST_F(WindowsLauncherTest, InstanceMutexRefusesASecondStartOfTheSameFile) {
  std::string exe = PackApp({"singleinstance True"});
  Child first("\"" + exe + "\"", {{"TESTJVM_MAIN_SLEEP_MS", "20000"}, {"TESTJVM_PRINT", "ready"}},
              dir_);
  Sleep(3000);
  Result second = Start(exe);
  EXPECT_EQ(second.status, 11u);
  EXPECT_EQ(second.err, "There is already an instance of this program running.\n");
  // A copy at another path has a mutex of its own.
  std::string copy = dir_ + "\\copy.exe";
  CopyFileA(exe.c_str(), copy.c_str(), FALSE);
  CopyFileA((dir_ + "\\app\\jvm.dll").c_str(), (dir_ + "\\jvm.dll").c_str(), FALSE);
  EXPECT_EQ(Start(copy).status, 0u);
  first.Kill();
}

TEST_F(WindowsLauncherTest, RedirectionAppendsSharesTargetsAndFeedsCommands) {
  WriteAll(dir_ + "\\out.txt", "old\n");
  Result r = Start(PackApp({"stdout out.txt", "stderr out.txt"}), "", {{"TESTJVM_PRINT", "new"}});
  EXPECT_EQ(r.status, 0u);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(ReadAll(dir_ + "\\out.txt"), "old\nnew\r\nnew\r\n");

  Result piped = Start(PackApp({"stdout |more > sink.txt"}, "piped.exe"), "",
                       {{"TESTJVM_PRINT", "through a command"}});
  EXPECT_EQ(piped.status, 0u);
  std::string sink;
  for (int i = 0; i < 100 && sink.empty(); ++i, Sleep(100)) sink = ReadAll(dir_ + "\\sink.txt");
  EXPECT_TRUE(Contains(sink, "through a command")) << sink;
}

TEST_F(WindowsLauncherTest, ForcedDirectoryResolvesAgainstTheExecutableDirectory) {
  CreateDirectoryA((dir_ + "\\data").c_str(), nullptr);
  Result r =
      Start(PackApp({"forcecwd ..\\data", "stdout forced.txt"}), "", {{"TESTJVM_PRINT", "here"}});
  EXPECT_EQ(r.status, 0u);
  EXPECT_EQ(ReadAll(dir_ + "\\data\\forced.txt"), "here\r\n");
}

TEST_F(WindowsLauncherTest, SplashImageComesFromTheExecutablesResource) {
  std::string bin = dir_ + "\\rt\\bin";
  CreateDirectoryA((dir_ + "\\rt").c_str(), nullptr);
  CreateDirectoryA(bin.c_str(), nullptr);
  CreateDirectoryA((bin + "\\server").c_str(), nullptr);
  CopyFileA(WindowsPath(TESTJVM_DLL).c_str(), (bin + "\\server\\jvm.dll").c_str(), FALSE);
  CopyFileA(WindowsPath(TESTSPLASH_DLL).c_str(), (bin + "\\splashscreen.dll").c_str(), FALSE);
  std::string jvm = "jvmdll " + bin + "\\server\\jvm.dll";
  std::string dump = dir_ + "\\dump.bin";
  Result shown =
      Start(PackApp({jvm}, "splash.exe", LAUNCHER_SPLASH_EXE), "", {{"TESTSPLASH_DUMP", dump}});
  EXPECT_EQ(shown.status, 0u) << shown.err;
  EXPECT_EQ(ReadAll(dump), ReadAll(WindowsPath(SPLASH_BIN)));
  EXPECT_EQ(LogLines("splash init").size(), 1u);
  DeleteFileA(log_.c_str());
  Result plain = Start(PackApp({jvm}, "plain.exe"));
  EXPECT_EQ(plain.status, 0u);
  EXPECT_TRUE(LogLines("splash").empty());
}

// launcher-pack's icon, version information, manifest and splash resource change nothing of how
// the application runs: the same status, output and arguments as a plain image, and the splash
// image read from the new resource.
TEST_F(WindowsLauncherTest, ExecutableWithPackedResourcesRunsAsBefore) {
  const std::string packed = WindowsPath(PACKED_RESOURCES_EXE);
  if (GetFileAttributesA(packed.c_str()) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << packed << " was not packed (no launcher-pack of the default build)";
  }
  const std::string app = dir_ + "\\app\\";
  CreateDirectoryA((app + "rt").c_str(), nullptr);
  CreateDirectoryA((app + "rt\\bin").c_str(), nullptr);
  CreateDirectoryA((app + "rt\\bin\\server").c_str(), nullptr);
  CopyFileA(WindowsPath(TESTJVM_DLL).c_str(), (app + "rt\\bin\\server\\jvm.dll").c_str(), FALSE);
  CopyFileA(WindowsPath(TESTSPLASH_DLL).c_str(), (app + "rt\\bin\\splashscreen.dll").c_str(),
            FALSE);
  ASSERT_TRUE(CopyFileA(packed.c_str(), (app + "resources.exe").c_str(), FALSE));
  const std::string plain = PackApp({"jvmdll rt\\bin\\server\\jvm.dll"}, "plain.exe");
  const std::string dump = dir_ + "\\dump.bin";
  const Env env = {
      {"TESTJVM_PRINT", "from main"}, {"TESTJVM_EXIT", "5"}, {"TESTSPLASH_DUMP", dump}};

  const Result expected = Start(plain, "one \"two words\"", env);
  const std::vector<std::string> expected_args = LogLines("arg[");
  EXPECT_TRUE(LogLines("splash").empty());
  DeleteFileA(log_.c_str());
  const Result r = Start(app + "resources.exe", "one \"two words\"", env);
  EXPECT_EQ(r.status, 5u) << r.err;
  EXPECT_EQ(r.status, expected.status);
  EXPECT_EQ(r.out, expected.out);
  EXPECT_EQ(r.err, expected.err);
  EXPECT_EQ(LogLines("arg["), expected_args);
  EXPECT_EQ(expected_args.size(), 2u);
  EXPECT_EQ(LogLines("splash init").size(), 1u);
  EXPECT_EQ(ReadAll(dump), ReadAll(WindowsPath(SPLASH_BIN)));
}

// The windowed image launcher.exe. A message box blocks its process, so the test finds the box
// among the child's windows, reads it and presses OK itself; the image has no hook for tests.
struct SeenBox {
  bool found = false;
  std::string title, text;
};

// Waits while child runs for a visible dialog window of its process, reads the title and the
// message (the static control 0xFFFF) and posts the OK button's command.
SeenBox CloseMessageBoxOf(const Child& child) {
  std::pair<DWORD, HWND> search = {child.Pid(), nullptr};
  for (int i = 0; i < 300 && !search.second && child.Running(); ++i, Sleep(100)) {
    EnumWindows(
        [](HWND window, LPARAM raw) -> BOOL {
          auto* s = reinterpret_cast<std::pair<DWORD, HWND>*>(raw);
          DWORD owner = 0;
          char name[16] = {};
          GetWindowThreadProcessId(window, &owner);
          GetClassNameA(window, name, sizeof(name));
          bool box = owner == s->first && std::string(name) == "#32770" && IsWindowVisible(window);
          if (box) s->second = window;
          return !box;
        },
        reinterpret_cast<LPARAM>(&search));
  }
  SeenBox seen;
  char buffer[4096] = {};
  if (!search.second) return seen;
  seen.found = true;
  GetWindowTextA(search.second, buffer, sizeof(buffer));
  seen.title = buffer;
  GetDlgItemTextA(search.second, 0xFFFF, buffer, sizeof(buffer));
  seen.text = buffer;
  PostMessageA(search.second, WM_COMMAND, IDOK, 0);
  return seen;
}

class WindowedLauncherTest : public WindowsLauncherTest {
 protected:
  struct Run {
    SeenBox box;
    DWORD status;
  };
  // Packs the windowed image as name, starts it without standard handles, closes the message
  // box it shows, if any, and waits for its end; a second box would keep it running.
  Run StartWithoutHandles(const std::vector<std::string>& settings, const std::string& name,
                          Env env = {}) {
    env.push_back({"TESTJVM_LOG", log_});
    Child child("\"" + PackApp(settings, name, LAUNCHER_GUI_EXE) + "\"", env, dir_, false);
    Run run;
    run.box = CloseMessageBoxOf(child);
    run.status = child.Wait(30000).status;
    return run;
  }
};

TEST_F(WindowedLauncherTest, WithHandlesOrRedirectionTextGoesWhereTheConsoleImagePutsIt) {
  const Env print = {{"TESTJVM_PRINT", "hello"}, {"TESTJVM_EXIT", "5"}};
  Result hello = Start(PackApp({}, "hello.exe", LAUNCHER_GUI_EXE), "", print);
  EXPECT_EQ(hello.status, 5u);
  EXPECT_EQ(hello.out + hello.err, "hello\nhello\n");
  Result none = Start(PackApp({"jre_order i"}, "none.exe", LAUNCHER_GUI_EXE), "", {}, 30000);
  EXPECT_EQ(none.status, 1u);
  EXPECT_EQ(none.err, "Java Runtime Environment not found.\n");

  // Without handles the stdout and stderr settings give output and messages their place.
  Run printed = StartWithoutHandles({"stdout out.txt"}, "printed.exe", print);
  EXPECT_EQ(printed.status, 5u);
  EXPECT_EQ(ReadAll(dir_ + "\\out.txt"), "hello\r\n");
  Run failed = StartWithoutHandles({"jre_order i", "stderr err.txt"}, "failed.exe");
  EXPECT_EQ(failed.status, 1u);
  EXPECT_FALSE(printed.box.found || failed.box.found);
  EXPECT_EQ(ReadAll(dir_ + "\\err.txt"), "Java Runtime Environment not found.\r\n");
}

TEST_F(WindowedLauncherTest, WithoutHandlesTheTextsOfARunAppearInOneMessageBox) {
  HWND probe = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  if (!probe) GTEST_SKIP() << "wine has no display for windows (run under xvfb-run)";
  DestroyWindow(probe);
  Run none = StartWithoutHandles({"jre_order i"}, "norun.exe");
  EXPECT_TRUE(none.box.found);
  EXPECT_EQ(none.box.title, "norun.exe");
  EXPECT_EQ(none.box.text, "Java Runtime Environment not found.");
  EXPECT_EQ(none.status, 1u);
  Run custom = StartWithoutHandles({"jre_order i", "message 1=No Java here."}, "c.exe");
  EXPECT_EQ(custom.box.text, "No Java here.");
  EXPECT_EQ(custom.status, 1u);

  // The loader's reason and message 2, or an exception's first line (its toString(), as the
  // JVM's own description has no standard error to go to) and message 7, share one box.
  WriteAll(dir_ + "\\app\\bad.dll", "not a library");
  Run bad = StartWithoutHandles({"jvmdll bad.dll"}, "bad.exe");
  EXPECT_EQ(bad.status, 2u);
  EXPECT_TRUE(Contains(bad.box.text, dir_ + "\\app\\bad.dll")) << bad.box.text;
  EXPECT_TRUE(Contains(bad.box.text, "\nJava Runtime Environment not valid.")) << bad.box.text;
  Run missing = StartWithoutHandles({}, "missing.exe", {{"TESTJVM_NO_MAIN_CLASS", "1"}});
  EXPECT_EQ(missing.status, 7u);
  EXPECT_EQ(missing.box.text,
            "Exception in thread \"main\" java.lang.NoClassDefFoundError: test/Main\n"
            "The main startup class could not be found.");
  Run threw = StartWithoutHandles({}, "threw.exe", {{"TESTJVM_THROW", "1"}});
  EXPECT_EQ(threw.status, 1u);
  EXPECT_TRUE(Contains(threw.box.text, "RuntimeException: thrown by the test main class"));
  EXPECT_TRUE(LogLines("describe").empty());
}

TEST_F(WindowedLauncherTest, CommandTargetGetsAllOutputAndTheEndOfItsInput) {
  // "end" is written once more has read its input to the end.
  const std::string sink = "|more > sink.txt & echo end>> sink.txt";
  Run r = StartWithoutHandles({"stdout " + sink, "stderr " + sink}, "piped.exe",
                              {{"TESTJVM_PRINT", "through a command"}, {"TESTJVM_EXIT", "3"}});
  EXPECT_EQ(r.status, 3u);
  EXPECT_FALSE(r.box.found);
  std::string text;
  for (int i = 0; i < 200 && !Contains(text, "end"); ++i, Sleep(100)) {
    text = WithoutCarriageReturns(ReadAll(dir_ + "\\sink.txt"));
  }
  EXPECT_EQ(text, "through a command\nthrough a command\nend\n");
}

}  // namespace
