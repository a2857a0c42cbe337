#include "process.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace launcher_pack {

namespace {

// Reads a whole temporary file from its start.
std::string ReadBack(std::FILE* file) {
  std::string text;
  std::rewind(file);
  char buffer[8192];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
  return text;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, std::string* reason) {
  ProcessResult result;
  // The output goes to unnamed temporary files, so neither stream can fill a pipe and stall.
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  const int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  // The pipe tells the parent whether exec failed: it closes on success, carries errno if not.
  int report[2] = {-1, -1};
  if (!out || !err || null_fd < 0 || ::pipe2(report, O_CLOEXEC) != 0) {
    *reason = std::strerror(errno);
  } else {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(null_fd, 0);
      ::dup2(::fileno(out), 1);
      ::dup2(::fileno(err), 2);
      ::execv(args[0], args.data());
      const int error = errno;
      ssize_t ignored = ::write(report[1], &error, sizeof error);
      (void)ignored;
      ::_exit(127);
    }
    ::close(report[1]);
    report[1] = -1;
    int exec_error = 0;
    ssize_t got;
    while ((got = ::read(report[0], &exec_error, sizeof exec_error)) < 0 && errno == EINTR) {
    }
    int wstatus = 0;
    if (pid < 0) {
      *reason = std::strerror(errno);
    } else {
      while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
      }
      if (got > 0) {
        *reason = std::strerror(exec_error);
      } else {
        result.started = true;
        result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
        result.out = ReadBack(out);
        result.err = ReadBack(err);
      }
    }
  }
  for (int fd : {report[0], report[1], null_fd}) {
    if (fd >= 0) ::close(fd);
  }
  if (out) std::fclose(out);
  if (err) std::fclose(err);
  return result;
}

std::optional<std::string> FindOnPath(const std::string& name, const std::string& search_path) {
  if (search_path.empty()) return std::nullopt;
  std::size_t start = 0;
  while (start <= search_path.size()) {
    std::size_t end = search_path.find(':', start);
    if (end == std::string::npos) end = search_path.size();
    // An empty entry is the working directory, as for a shell.
    const std::string dir = end == start ? "." : search_path.substr(start, end - start);
    const std::string candidate = dir + "/" + name;
    struct stat st;
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    start = end + 1;
  }
  return std::nullopt;
}

}  // namespace launcher_pack
