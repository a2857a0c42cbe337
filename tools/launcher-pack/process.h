// Running the JDK's tools (jlink, jdeps, java) and the binutils, and finding commands on PATH.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace launcher_pack {

struct ProcessResult {
  bool started = false;  // false when the program could not be executed at all
  int status = -1;       // exit status, or 128 + signal number when a signal ended it
  std::string out, err;  // everything it wrote to standard output and standard error
};

// Runs argv[0] (a path, not looked up on PATH) with the given arguments, standard input empty,
// and waits for it. *reason says why it could not be started when started is false.
ProcessResult RunProcess(const std::vector<std::string>& argv, std::string* reason);

// The first executable regular file called name in the directories of search_path (a
// PATH-style list, in which an empty entry is the working directory), or nullopt; an empty
// search_path holds no directory.
std::optional<std::string> FindOnPath(const std::string& name, const std::string& search_path);

}  // namespace launcher_pack
