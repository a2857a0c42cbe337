// Command-line front end of launcher-pack.
#pragma once

#include <ostream>

namespace launcher_pack {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // bad input or an I/O error
inline constexpr int kExitUsage = 2;    // bad command line

// Runs launcher-pack with the given arguments (argv[0] is the program name) and returns the
// process exit status. Results go to out, diagnostics to err as single lines.
int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace launcher_pack
