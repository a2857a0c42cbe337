// The Windows platform layer in-process: string-table messages, registry references, the
// runtime search through the registry, signals, redirection, listings and the instance name.
#include <gtest/gtest.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <csignal>
#include <fstream>
#include <string>
#include <thread>

#include "app/messages.h"
#include "jvm/class_path.h"
#include "platform/platform.h"
#include "platform/windows/windows_internal.h"
#include "runtime/runtime_search.h"
#include "services/std_redir.h"
#include "settings/expand.h"
#include "settings/settings_loader.h"

namespace {

const char kTestKey[] = "Software\\LauncherTests";

std::string Expand(const std::string& value) {
  MyCString out = ExpandValue(CStringRefT<char>(value.c_str()), false);
  return std::string(out.CStr(), out.GetLength());
}

void SetValue(HKEY root, const char* key, const char* name, DWORD type, const void* data,
              DWORD size) {
  HKEY k;
  ASSERT_EQ(RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(k, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
  RegCloseKey(k);
}

void SetText(HKEY root, const char* key, const char* name, const std::string& text,
             DWORD type = REG_SZ) {
  SetValue(root, key, name, type, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

std::string TempDir(const char* name) {
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  std::string dir = std::string(base) + name + std::to_string(GetTickCount64());
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

void MakeDirs(const std::string& path) {
  for (size_t i = 3; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
  }
}

std::string WindowsPath(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

void InstallJvm(const std::string& dir) {
  MakeDirs(dir);
  ASSERT_TRUE(CopyFileA(WindowsPath(TESTJVM_DLL).c_str(), (dir + "\\jvm.dll").c_str(), FALSE));
}

void Touch(const std::string& path) {
  CloseHandle(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
}

TEST(WindowsMessagesTest, StringTableHoldsTheBuiltInTextsAndNothingElse) {
  for (int i = 0; msgTable[i].number != 0; ++i) {
    EXPECT_STREQ(BuiltInMessageText(msgTable[i].number).CStr(), msgTable[i].text);
  }
  EXPECT_STREQ(BuiltInMessageText(9).CStr(), "");
  EXPECT_STREQ(BuiltInMessageText(14).CStr(), "");
  EXPECT_STREQ(BuiltInMessageText(4000).CStr(), "");
}

TEST(WindowsRegistryReferenceTest, EveryTypeAndPrefixRule) {
  RegDeleteTreeA(HKEY_CURRENT_USER, kTestKey);
  SetText(HKEY_CURRENT_USER, kTestKey, "Sz", "text");
  SetText(HKEY_CURRENT_USER, kTestKey, nullptr, "the default");
  SetText(HKEY_CURRENT_USER, kTestKey, "Expand", "%LT_VAR%\\sub", REG_EXPAND_SZ);
  SetText(HKEY_CURRENT_USER, kTestKey, "Nested", "[${HKCU\\Software\\LauncherTests\\Sz}]",
          REG_EXPAND_SZ);
  SetText(HKEY_CURRENT_USER, kTestKey, "Loop", "x${HKCU\\Software\\LauncherTests\\Loop}",
          REG_EXPAND_SZ);
  DWORD all = 0xFFFFFFFFu;
  SetValue(HKEY_CURRENT_USER, kTestKey, "Dword", REG_DWORD, &all, 4);
  const unsigned char bigEndian[4] = {0, 0, 1, 0};
  SetValue(HKEY_CURRENT_USER, kTestKey, "Big", REG_DWORD_BIG_ENDIAN, bigEndian, 4);
  SetValue(HKEY_CURRENT_USER, kTestKey, "Multi", REG_MULTI_SZ, "a\0b\0", 5);
  SetValue(HKEY_CURRENT_USER, kTestKey, "Binary", REG_BINARY, "\x01\x02", 2);
  SetEnvironmentVariableA("LT_VAR", nullptr);
  _putenv("LT_VAR=x");

  EXPECT_EQ(Expand("${HKCU\\Software\\LauncherTests\\Sz}"), "text");
  EXPECT_EQ(Expand("%{HKEY_CURRENT_USER\\Software\\LauncherTests\\Sz}%!"), "text!");
  EXPECT_EQ(Expand("${HKCU\\Software\\LauncherTests\\}"), "the default");
  EXPECT_EQ(Expand("${HKCU\\Software\\LauncherTests\\Expand}"), "x\\sub");
  EXPECT_EQ(Expand("${HKCU\\Software\\LauncherTests\\Nested}"), "[text]");
  EXPECT_EQ(Expand("${HKCU\\Software\\LauncherTests\\Dword}"), "-1");
  EXPECT_EQ(Expand("${HKCU\\Software\\LauncherTests\\Big}"), "256");
  // Unsupported types yield the empty text, and their default is not used.
  EXPECT_EQ(Expand("<${HKCU\\Software\\LauncherTests\\Multi|d}>"), "<>");
  EXPECT_EQ(Expand("<${HKCU\\Software\\LauncherTests\\Binary}>"), "<>");
  // Missing values, wrong letter case and names without a root.
  EXPECT_EQ(Expand("${HKCU\\Software\\LauncherTests\\Missing}"),
            "${HKCU\\Software\\LauncherTests\\Missing}");
  EXPECT_EQ(Expand("${HKCU\\Software\\LauncherTests\\Missing|none}"), "none");
  EXPECT_EQ(Expand("${hkcu\\Software\\LauncherTests\\Sz}"), "${hkcu\\Software\\LauncherTests\\Sz}");
  EXPECT_EQ(Expand("${FOO|bar}"), "bar");
  // A value that refers to itself keeps that reference unexpanded.
  EXPECT_EQ(Expand("${HKCU\\Software\\LauncherTests\\Loop}"),
            "x${HKCU\\Software\\LauncherTests\\Loop}");
  RegDeleteTreeA(HKEY_CURRENT_USER, kTestKey);
}

TEST(WindowsRegistryReferenceTest, ReferencesToAValueBeingExpandedStayUnexpanded) {
  RegDeleteTreeA(HKEY_CURRENT_USER, kTestKey);
  // Through another value, and with the name spelled in other letter cases.
  SetText(HKEY_CURRENT_USER, kTestKey, "Ping",
          "a${HKEY_CURRENT_USER\\software\\launchertests\\PONG}", REG_EXPAND_SZ);
  SetText(HKEY_CURRENT_USER, kTestKey, "Pong", "b${HKCU\\Software\\LauncherTests\\Ping}",
          REG_EXPAND_SZ);
  ASSERT_EQ(Expand("${HKCU\\Software\\LauncherTests\\Ping}"),
            "ab${HKCU\\Software\\LauncherTests\\Ping}");
  // Twelve references to itself, which took 12^8 readings within the depth limit alone.
  std::string self = "${HKCU\\Software\\LauncherTests\\Many}", many;
  for (int i = 0; i < 12; ++i) many += "<" + self + ">";
  SetText(HKEY_CURRENT_USER, kTestKey, "Many", many, REG_EXPAND_SZ);
  EXPECT_EQ(Expand(self), many);
  RegDeleteTreeA(HKEY_CURRENT_USER, kTestKey);
}

class WindowsRuntimeSearchTest : public ::testing::Test {
 protected:
  // Searches with the given settings lines as the only settings.
  std::string Search(const std::string& settings) {
    ResetJavaRuntimeSearchForTesting();
    CSettingsLoader loader(false);
    std::string text = "\xEF\xBB\xBF" + settings;
    loader.DecodeSettingsText(text.c_str(), static_cast<int>(text.size()));
    loader.appHome = (dir_ + "\\").c_str();
    loader.workDir = (dir_ + "\\").c_str();
    pldr = &loader;
    MyCString found = FindJavaRuntime(&loader);
    pldr = nullptr;
    return found.CStr();
  }
  void Register(const char* base, const char* lib, const char* home) {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, base);
    SetText(HKEY_LOCAL_MACHINE, base, "CurrentVersion", "1.8");
    std::string version = std::string(base) + "\\1.8";
    if (lib) SetText(HKEY_LOCAL_MACHINE, version.c_str(), "RuntimeLib", lib);
    if (home) SetText(HKEY_LOCAL_MACHINE, version.c_str(), "JavaHome", home);
  }
  void TearDown() override {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kJavaSoft);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kIbm);
  }

  const char* kJavaSoft = "SOFTWARE\\JavaSoft\\Java Runtime Environment";
  const char* kIbm = "SOFTWARE\\IBM\\Java2 Runtime Environment";
  std::string dir_ = TempDir("launcher-runtime-");
};

TEST_F(WindowsRuntimeSearchTest, RuntimeLibIsUsedAsStoredUnlessVmAsksForAnotherType) {
  std::string bin = dir_ + "\\jre\\bin";
  InstallJvm(bin + "\\client");
  InstallJvm(bin + "\\server");
  Register(kJavaSoft, (bin + "\\client\\jvm.dll").c_str(), nullptr);
  EXPECT_EQ(Search("jre_order s\r\n"), bin + "\\client\\jvm.dll");
  EXPECT_EQ(Search("jre_order s\r\nvm server\r\n"), bin + "/server/jvm.dll");
  EXPECT_EQ(Search("jre_order si\r\n").empty(), false);
  EXPECT_EQ(Search("jre_order i\r\n"), "");
}

TEST_F(WindowsRuntimeSearchTest, MissingRuntimeLibFallsBackTwoLevelsUpThenJavaHome) {
  std::string home = dir_ + "\\home";
  InstallJvm(home + "\\jre\\bin\\server");
  // A removed runtime whose entries remain: the probe two levels up finds nothing.
  Register(kIbm, (dir_ + "\\gone\\bin\\client\\jvm.dll").c_str(), home.c_str());
  EXPECT_EQ(Search("jre_order i\r\n"), "");
  // Without RuntimeLib the home is probed, here through "jre\bin\" and the listing.
  Register(kIbm, nullptr, home.c_str());
  EXPECT_EQ(Search("jre_order i\r\n"), home + "/jre\\bin\\server/jvm.dll");
  // A JDK 9 or later keeps bin\server\jvm.dll, which "bin\" and the listing reach.
  std::string jdk = dir_ + "\\jdk";
  InstallJvm(jdk + "\\bin\\server");
  Register(kJavaSoft, nullptr, jdk.c_str());
  EXPECT_EQ(Search("jre_order s\r\n"), jdk + "/bin\\server/jvm.dll");
}

// The C runtime runs a handler on the thread that raises the signal, as it runs a console
// interrupt's handler on a thread of its own.
TEST(WindowsSignalTest, StopWaitsForARunningHandlerWhichCannotUndoIt) {
  static HANDLE entered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  static std::atomic<int> calls(0);
  StartSignalForwarding([](int) {
    ++calls;
    SetEvent(entered);
    Sleep(1000);
  });
  void (*handler)(int) = signal(SIGINT, SIG_DFL);
  signal(SIGINT, handler);
  std::thread raiser([] { raise(SIGINT); });
  ASSERT_EQ(WaitForSingleObject(entered, 10000), WAIT_OBJECT_0);
  ULONGLONG stopping = GetTickCount64();
  StopSignalForwarding();
  EXPECT_GE(GetTickCount64() - stopping, 500u) << "the stop did not wait for the handler";
  raiser.join();
  handler(SIGINT);  // delivered before the stop, run after it
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(signal(SIGINT, SIG_DFL), SIG_DFL);
}

// Once the redirector is gone, the standard handle and the C stream are back, and the command
// has seen the end of its input, so it ends with all of it.
TEST(WindowsRedirectionTest, CommandSeesEndOfInputAndTheStreamsComeBack) {
  auto same = reinterpret_cast<BOOL(WINAPI*)(HANDLE, HANDLE)>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernelbase.dll"), "CompareObjectHandles")));
  ASSERT_TRUE(same);
  HANDLE original;
  DuplicateHandle(GetCurrentProcess(), GetStdHandle(STD_OUTPUT_HANDLE), GetCurrentProcess(),
                  &original, 0, FALSE, DUPLICATE_SAME_ACCESS);
  std::string sink = TempDir("launcher-redirect-") + "\\sink.txt";
  {
    CStdRedir redirector;
    redirector.RedirectStdout(("|more > " + sink).c_str());
    printf("by the C stream\n");
    DWORD n;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "by the handle\r\n", 15, &n, nullptr);
  }
  EXPECT_TRUE(same(original, GetStdHandle(STD_OUTPUT_HANDLE)));
  EXPECT_TRUE(same(original, reinterpret_cast<HANDLE>(_get_osfhandle(1))));
  // The command has ended once nobody holds its output file open.
  HANDLE ended = INVALID_HANDLE_VALUE;
  for (int i = 0; i < 150 && ended == INVALID_HANDLE_VALUE; ++i, Sleep(100)) {
    ended = CreateFileA(sink.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  ASSERT_NE(ended, INVALID_HANDLE_VALUE) << "the command did not see the end of its input";
  CloseHandle(ended);
  std::ifstream output(sink, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(output), {}),
            "by the C stream\r\nby the handle\r\n");
}

// Wine's CreateSymbolicLinkA makes nothing, but a Unix symbolic link, which wine's ln makes as
// any program would, is listed as a reparse point with the directory attribute.
TEST(WindowsDirectoryScanTest, LinksToDirectoriesAreNotFollowed) {
  std::string lib = TempDir("launcher-libs-"), link = lib + "\\up", command = "/bin/ln -s . up";
  Touch(lib + "\\one.jar");
  STARTUPINFOA start = {};
  start.cb = sizeof(start);
  PROCESS_INFORMATION process;
  if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, lib.c_str(), &start,
                     &process)) {
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  } else {
    CreateSymbolicLinkA(link.c_str(), ".", SYMBOLIC_LINK_FLAG_DIRECTORY);
  }
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  for (int i = 0; i < 50 && attributes == INVALID_FILE_ATTRIBUTES; ++i, Sleep(100)) {
    attributes = GetFileAttributesA(link.c_str());
  }
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    GTEST_SKIP() << "neither ln nor CreateSymbolicLinkA made a directory link";
  }
  CBufferT<char> found;
  ScanArchiveDirectory(CStringRefT<char>(lib.c_str()), found);
  EXPECT_EQ(std::string(found.GetData(), found.GetLength()), ";" + lib + "/one.jar");
}

std::wstring MutexName(const std::string& path) {
  CStringBufT<wchar_t> name = InstanceMutexName(path.c_str());
  return std::wstring(name.CStr(), name.GetLength());
}

TEST(WindowsInstanceNameTest, OneNamePerFileWithinTheObjectNameLimit) {
  std::string exe = TempDir("launcher-name-") + "\\App.exe";
  Touch(exe);
  char shortPath[MAX_PATH];
  ASSERT_NE(GetShortPathNameA(exe.c_str(), shortPath, MAX_PATH), 0u);
  std::wstring name = MutexName(exe);
  EXPECT_EQ(MutexName(shortPath), name);
  EXPECT_EQ(MutexName(exe.substr(0, exe.size() - 7) + ".\\APP.EXE"), name);
  EXPECT_EQ(name.substr(name.size() - 12), L".APP.EXE.ksl");
  // Too long a name keeps the path's start and end around a digest that tells paths apart.
  std::string a = "C:\\" + std::string(300, 'a') + "\\app.exe", b = a;
  b[150] = 'b';
  std::wstring longName = MutexName(a);
  EXPECT_EQ(longName.size(), MAX_PATH - 1u);
  EXPECT_EQ(longName.substr(0, 6) + longName.substr(longName.size() - 16),
            L"C..AAAAAAA.APP.EXE.ksl");
  EXPECT_NE(MutexName(b), longName);
}

}  // namespace
