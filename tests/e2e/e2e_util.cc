#include "e2e_util.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace e2e {
namespace {

std::vector<std::string> BuildEnvironment(const EnvChanges& changes) {
  static const std::set<std::string> kSteering = {"JAVA_HOME", "JRE_HOME", "CLASSPATH",
                                                  "CLASS_PATH", "LAUNCHER_TRACE"};
  std::map<std::string, std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry(*e);
    size_t eq = entry.find('=');
    if (eq == std::string::npos) continue;
    std::string name = entry.substr(0, eq);
    if (kSteering.count(name) || name.rfind("KEYSHM", 0) == 0) continue;
    env[name] = entry.substr(eq + 1);
  }
  // The class-data archives of packed applications go to a directory of this test program,
  // removed when it ends, instead of the home directory.
  static const TempDir cache;
  env["XDG_CACHE_HOME"] = cache.path();
  for (const auto& change : changes) {
    if (change.second) {
      env[change.first] = *change.second;
    } else {
      env.erase(change.first);
    }
  }
  std::vector<std::string> result;
  for (const auto& kv : env) result.push_back(kv.first + "=" + kv.second);
  return result;
}

pid_t Spawn(const std::vector<std::string>& argv, const RunOptions& options, int* outFd,
            int* errFd) {
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> env = BuildEnvironment(options.env);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(out[0]);
    close(err[0]);
    close(out[1]);
    close(err[1]);
    int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    setpgid(0, 0);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  *outFd = out[0];
  *errFd = err[0];
  return pid;
}

// Drains both pipes until they close or the deadline passes.
bool Drain(int outFd, int errFd, std::string* out, std::string* err, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  bool outOpen = outFd >= 0, errOpen = errFd >= 0;
  char buffer[65536];
  while (outOpen || errOpen) {
    int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    deadline - std::chrono::steady_clock::now())
                                    .count());
    if (left <= 0) return false;
    pollfd fds[2] = {{outOpen ? outFd : -1, POLLIN, 0}, {errOpen ? errFd : -1, POLLIN, 0}};
    if (poll(fds, 2, left) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof(buffer));
      if (n > 0) {
        (i == 0 ? out : err)->append(buffer, static_cast<size_t>(n));
      } else {
        (i == 0 ? outOpen : errOpen) = false;
      }
    }
  }
  return true;
}

RunResult Reap(pid_t pid, bool timedOut) {
  RunResult result;
  if (timedOut) {
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.timedOut = timedOut;
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

}  // namespace

RunResult RunProgram(const std::vector<std::string>& argv, const RunOptions& options) {
  int outFd, errFd;
  pid_t pid = Spawn(argv, options, &outFd, &errFd);
  std::string out, err;
  bool finished = Drain(outFd, errFd, &out, &err, options.timeoutMs);
  close(outFd);
  close(errFd);
  RunResult result = Reap(pid, !finished);
  result.out = out;
  result.err = err;
  return result;
}

Process::Process(const std::vector<std::string>& argv, const RunOptions& options) {
  pid_ = Spawn(argv, options, &outFd_, &errFd_);
}

Process::~Process() {
  if (!waited_) Wait(1000);
}

bool Process::WaitForLine(const std::string& text, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[4096];
  for (;;) {
    for (const auto& line : Lines(outSeen_)) {
      if (line == text) return true;
    }
    int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    deadline - std::chrono::steady_clock::now())
                                    .count());
    if (left <= 0) return false;
    pollfd fd = {outFd_, POLLIN, 0};
    if (poll(&fd, 1, left) <= 0) continue;
    ssize_t n = read(outFd_, buffer, sizeof(buffer));
    if (n <= 0) return false;
    outSeen_.append(buffer, static_cast<size_t>(n));
  }
}

void Process::Signal(int signalNumber) {
  kill(pid_, signalNumber);
}

RunResult Process::Wait(int timeoutMs) {
  std::string out, err;
  bool finished = Drain(outFd_, errFd_, &out, &err, timeoutMs);
  close(outFd_);
  close(errFd_);
  RunResult result = Reap(pid_, !finished);
  result.out = outSeen_ + out;
  result.err = err;
  waited_ = true;
  return result;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
}

void MakeDirs(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') mkdir(path.substr(0, i).c_str(), 0755);
  }
}

void CopyFile(const std::string& from, const std::string& to) {
  WriteFile(to, ReadFile(from));
  chmod(to.c_str(), 0755);
}

bool Exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

bool Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

std::string Pack(const std::string& output, const std::vector<std::string>& settings,
                 const std::string& jar, const std::vector<std::string>& extra) {
  std::vector<std::string> argv = {
      LAUNCHER_PACK_BIN, "--launcher", LAUNCHER_BIN, "--jar", jar, "-o", output};
  for (const auto& line : settings) {
    argv.push_back("--set");
    argv.push_back(line);
  }
  argv.insert(argv.end(), extra.begin(), extra.end());
  RunResult r = RunProgram(argv);
  EXPECT_EQ(r.status, 0) << r.err;
  return output;
}

namespace {
// True when the runtime at home has a JVM library of this build's word size.
bool MatchesWordSize(const std::string& home) {
  for (const char* sub :
       {"/lib/server/libjvm.so", "/jre/lib/" LAUNCHER_ARCH_DIR "/server/libjvm.so"}) {
    std::string header = ReadFile(home + sub).substr(0, 5);
    if (header.size() == 5) return header[4] == (sizeof(void*) == 8 ? 2 : 1);
  }
  return false;
}
}  // namespace

bool BuildJdkLoadable() {
  return MatchesWordSize(LAUNCHER_JDK_HOME);
}

std::vector<std::string> InstalledJdks() {
  std::vector<std::string> homes = InstalledJdkCandidates();
  homes.erase(std::remove_if(homes.begin(), homes.end(),
                             [](const std::string& h) { return !MatchesWordSize(h); }),
              homes.end());
  return homes;
}

std::vector<std::string> InstalledJdkCandidates() {
  std::vector<std::string> homes = {LAUNCHER_JDK_HOME};
  char resolved[4096];
  std::set<std::string> seen;
  if (realpath(LAUNCHER_JDK_HOME, resolved)) seen.insert(resolved);
  DIR* dir = opendir("/usr/lib/jvm");
  if (!dir) return homes;
  std::vector<std::string> others;
  while (dirent* entry = readdir(dir)) {
    std::string home = std::string("/usr/lib/jvm/") + entry->d_name;
    if (entry->d_name[0] == '.' || !Exists(home + "/bin/java")) continue;
    if (!realpath(home.c_str(), resolved) || !seen.insert(resolved).second) continue;
    others.push_back(home);
  }
  closedir(dir);
  std::sort(others.begin(), others.end());
  homes.insert(homes.end(), others.begin(), others.end());
  return homes;
}

}  // namespace e2e
