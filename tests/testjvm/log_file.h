// Appends event lines to the file named by TESTJVM_LOG, shared by the test JVM and test splash
// libraries so that the tests of a launcher can read one ordered record of what it called.
#ifndef TESTJVM_LOG_FILE_H_
#define TESTJVM_LOG_FILE_H_

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace testjvm {

// Writes one line and closes the file again, so every line reaches the disk even when the
// process ends abruptly right afterwards. Does nothing while TESTJVM_LOG is unset.
inline void AppendLogLine(const std::string& line) {
  // Never destroyed: another thread may still log while exit() runs static destructors.
  static std::mutex* const mutex = new std::mutex;
  const char* path = std::getenv("TESTJVM_LOG");
  if (path == nullptr || *path == '\0') return;
  std::string text = line + "\n";
  std::lock_guard<std::mutex> lock(*mutex);
  std::FILE* file = std::fopen(path, "ab");
  if (file == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
}

}  // namespace testjvm

#endif  // TESTJVM_LOG_FILE_H_
