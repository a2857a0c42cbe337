// Runs the real launcher binary in a controlled environment for the end-to-end tests.
#ifndef LAUNCHER_TESTS_E2E_E2E_UTIL_H_
#define LAUNCHER_TESTS_E2E_E2E_UTIL_H_

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "../support/temp_dir.h"

namespace e2e {

struct RunResult {
  int status = -1;  // exit status, or -1 when the process ended by a signal
  int signal = 0;   // the ending signal, or 0
  bool timedOut = false;
  std::string out;
  std::string err;
};

// Environment changes on top of the test's own environment, from which the variables that
// steer the launcher (JAVA_HOME, JRE_HOME, CLASSPATH, CLASS_PATH) are removed. An empty
// optional removes a variable.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

struct RunOptions {
  EnvChanges env;
  std::string cwd;
  int timeoutMs = 60000;
};

RunResult RunProgram(const std::vector<std::string>& argv, const RunOptions& options = {});

// A started process whose output is collected when it is waited for.
class Process {
 public:
  Process(const std::vector<std::string>& argv, const RunOptions& options = {});
  ~Process();
  // Reads standard output until a line equal to text arrives; false on end or timeout.
  bool WaitForLine(const std::string& text, int timeoutMs = 30000);
  void Signal(int signalNumber);
  RunResult Wait(int timeoutMs = 60000);
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  std::string outSeen_;
  bool waited_ = false;
};

using TempDir = test_support::TempDir;

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& contents);
void MakeDirs(const std::string& path);
void CopyFile(const std::string& from, const std::string& to);
bool Exists(const std::string& path);
std::vector<std::string> Lines(const std::string& text);
bool Contains(const std::string& haystack, const std::string& needle);

// Packs jar with the given settings lines into output with launcher-pack; fails the test on
// a packing error.
std::string Pack(const std::string& output, const std::vector<std::string>& settings,
                 const std::string& jar, const std::vector<std::string>& extra = {});

// The JDK homes of this machine (the build's JDK first, then the others below /usr/lib/jvm).
std::vector<std::string> InstalledJdkCandidates();
// Those whose JVM library this build can load (same word size).
std::vector<std::string> InstalledJdks();
// Whether this build can load the JVM library of the JDK it was built with; the tests on that
// JDK skip themselves in a build of another word size.
bool BuildJdkLoadable();

}  // namespace e2e

#endif  // LAUNCHER_TESTS_E2E_E2E_UTIL_H_
