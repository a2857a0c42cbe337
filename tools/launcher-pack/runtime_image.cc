#include "runtime_image.h"

#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <system_error>

#include "process.h"

namespace launcher_pack {

const char* const kDefaultRuntimeModules[4] = {
    "jdk.crypto.ec",   // elliptic-curve TLS and signatures (a module of its own up to Java 21)
    "jdk.localedata",  // dates, numbers and texts for locales other than English
    "jdk.zipfs",       // the zip file system provider (FileSystems.newFileSystem on a jar)
    "jdk.charsets",    // the character sets beyond the standard ones (e.g. Shift_JIS, GB18030)
};

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxShownLines = 6;

std::string Trim(const std::string& text) {
  const std::size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(" \t\r\n") + 1 - begin);
}

// A tool's output on one line: its first lines joined with "; ".
std::string OneLine(const std::string& text) {
  std::istringstream in(text);
  std::string joined;
  std::size_t shown = 0, skipped = 0;
  for (std::string line; std::getline(in, line);) {
    line = Trim(line);
    if (line.empty()) continue;
    if (shown == kMaxShownLines) {
      ++skipped;
      continue;
    }
    joined += (shown++ ? "; " : "") + line;
  }
  if (skipped) joined += "; ... (" + std::to_string(skipped) + " more lines)";
  return joined.empty() ? "no message" : joined;
}

std::string JoinModules(const std::vector<std::string>& modules) {
  std::string joined;
  for (const std::string& module : modules) joined += (joined.empty() ? "" : ",") + module;
  return joined;
}

void AddModules(const std::string& list, std::vector<std::string>* modules) {
  std::istringstream in(list);
  for (std::string module; std::getline(in, module, ',');) {
    module = Trim(module);
    if (!module.empty() && std::find(modules->begin(), modules->end(), module) == modules->end()) {
      modules->push_back(module);
    }
  }
}

// Runs a JDK tool; false with *error set when it cannot start or fails.
bool RunTool(const std::vector<std::string>& argv, const std::string& what, ProcessResult* result,
             std::string* error) {
  std::string reason;
  *result = RunProcess(argv, &reason);
  if (!result->started) {
    *error = "cannot run " + what + " '" + argv[0] + "': " + reason;
    return false;
  }
  if (result->status != 0) {
    *error = what + " failed (status " + std::to_string(result->status) +
             "): " + OneLine(result->err.empty() ? result->out : result->err);
    return false;
  }
  return true;
}

// The modules the application's classes need, as jdeps reports them.
bool JdepsModules(const fs::path& jdk, int feature, const std::string& jar_path,
                  std::vector<std::string>* modules, std::string* error) {
  ProcessResult result;
  if (!RunTool({(jdk / "bin/jdeps").string(), "--print-module-deps", "--ignore-missing-deps",
                "--multi-release", std::to_string(feature), jar_path},
               "jdeps on jar '" + jar_path + "'", &result, error)) {
    return false;
  }
  // The list is the last line; anything before it is a notice.
  std::istringstream in(result.out);
  std::string last;
  for (std::string line; std::getline(in, line);) {
    if (!Trim(line).empty()) last = Trim(line);
  }
  AddModules(last, modules);
  if (modules->empty()) modules->push_back("java.base");
  return true;
}

// The names of the modules the JDK holds, as its java --list-modules prints them (name@version).
bool JdkModules(const fs::path& jdk, std::set<std::string>* modules, std::string* error) {
  ProcessResult result;
  if (!RunTool({(jdk / "bin/java").string(), "--list-modules"}, "java --list-modules", &result,
               error)) {
    return false;
  }
  std::istringstream in(result.out);
  for (std::string line; std::getline(in, line);) {
    line = Trim(line);
    if (!line.empty()) modules->insert(line.substr(0, line.find('@')));
  }
  return true;
}

// What to do when jlink cannot find java.base: its packaged modules (jmods) are missing and the
// JDK cannot link from its own image.
std::string JlinkHint(const fs::path& jdk, int feature, const std::string& message) {
  if (message.find("java.base") == std::string::npos &&
      message.find("packaged modules") == std::string::npos &&
      message.find("jmods") == std::string::npos) {
    return "";
  }
  std::error_code ec;
  const bool have_jmods = fs::is_directory(jdk / "jmods", ec);
  return std::string(" (") + (have_jmods ? "" : "the JDK has no jmods directory and ") +
         "jlink found no packaged java.base module; install the JDK's packaged modules (on "
         "Debian: openjdk-" +
         std::to_string(feature) + "-jmods) or give another JDK with --jdk)";
}

// Removes the native debug symbols of the runtime's shared libraries with strip, when it exists.
std::string StripLibraries(const fs::path& runtime) {
  const char* path = std::getenv("PATH");
  const std::optional<std::string> strip = FindOnPath("strip", path ? path : "");
  if (!strip) return "native debug symbols kept: neither objcopy nor strip was found";
  std::error_code ec;
  std::size_t stripped = 0, failed = 0;
  for (fs::recursive_directory_iterator it(runtime / "lib", ec), end; !ec && it != end;
       it.increment(ec)) {
    const fs::path& file = it->path();
    if (it->is_symlink() || !it->is_regular_file() || file.extension() != ".so") continue;
    std::string reason;
    const ProcessResult result = RunProcess({*strip, "--strip-debug", file.string()}, &reason);
    ++(result.started && result.status == 0 ? stripped : failed);
  }
  return "native debug symbols stripped with " + *strip + " from " + std::to_string(stripped) +
         " of " + std::to_string(stripped + failed) + " shared libraries";
}

// Makes the runtime for the jar with the JDK's jlink into out (which must not exist yet).
bool Link(const JlinkOptions& options, const std::string& jar_path, const fs::path& out,
          std::string* error, std::vector<std::string>* notes) {
  const char* path = std::getenv("PATH");
  const std::optional<fs::path> jdk = FindJdk(options.jdk, std::getenv("JAVA_HOME"), path, error);
  if (!jdk) return false;
  const std::string jlink = (*jdk / "bin/jlink").string();
  ProcessResult result;
  if (!RunTool({jlink, "--version"}, "jlink", &result, error)) {
    *error += " (making a runtime needs a JDK with jlink; give one with --jdk)";
    return false;
  }
  const std::string version = Trim(result.out);
  const int feature = JavaFeatureVersion(version);
  // --generate-cds-archive came with Java 17.
  if (feature < 17) {
    *error = "jlink '" + jlink + "' reports version '" + version + "'; a JDK 17 or later is needed";
    return false;
  }
  std::vector<std::string> modules;
  std::set<std::string> available;
  if (!JdepsModules(*jdk, feature, jar_path, &modules, error) ||
      !JdkModules(*jdk, &available, error)) {
    return false;
  }
  const std::string needed = JoinModules(modules);
  for (const char* module : kDefaultRuntimeModules) {
    if (available.count(module)) AddModules(module, &modules);
  }
  for (const std::string& list : options.add_modules) AddModules(list, &modules);

  std::vector<std::string> argv = {jlink,
                                   "--add-modules",
                                   JoinModules(modules),
                                   "--output",
                                   out.string(),
                                   "--strip-debug",
                                   "--no-header-files",
                                   "--no-man-pages",
                                   JlinkCompressOption(feature),
                                   "--generate-cds-archive"};
  // jlink's own plugin strips the native libraries where the JDK has it (Linux builds) and
  // objcopy exists; otherwise strip does it afterwards.
  const std::optional<std::string> objcopy = FindOnPath("objcopy", path ? path : "");
  bool plugin = objcopy.has_value();
  if (plugin) argv.push_back("--strip-native-debug-symbols=objcopy=" + *objcopy);
  std::string reason;
  result = RunProcess(argv, &reason);
  if (result.started && result.status != 0 && plugin &&
      result.err.find("strip-native-debug-symbols") != std::string::npos) {
    std::error_code ec;
    fs::remove_all(out, ec);
    argv.pop_back();
    plugin = false;
    result = RunProcess(argv, &reason);
  }
  if (!result.started) {
    *error = "cannot run jlink '" + jlink + "': " + reason;
    return false;
  }
  if (result.status != 0) {
    const std::string message = result.err.empty() ? result.out : result.err;
    *error = "jlink of JDK '" + jdk->string() + "' failed (status " +
             std::to_string(result.status) + "): " + OneLine(message) +
             JlinkHint(*jdk, feature, message);
    return false;
  }
  const std::string stripping =
      plugin ? "native debug symbols stripped by jlink with " + *objcopy : StripLibraries(out);
  if (options.drop_nocoops_archive) {
    std::error_code ec;
    fs::remove(out / "lib/server/classes_nocoops.jsa", ec);
  }
  notes->push_back("runtime made by jlink " + version + " of " + jdk->string() +
                   (options.output_dir ? " in " + out.string() : "") + ": modules " +
                   JoinModules(modules) + " (jdeps: " + needed + "); " + stripping);
  return true;
}

}  // namespace

RuntimeImage::~RuntimeImage() {
  if (temporary_.empty()) return;
  std::error_code ec;
  fs::remove_all(temporary_, ec);
}

std::optional<fs::path> FindJdk(const std::optional<std::string>& jdk, const char* java_home,
                                const char* search_path, std::string* error) {
  std::error_code ec;
  if (jdk) {
    if (fs::is_directory(*jdk, ec)) return fs::path(*jdk);
    *error = "JDK '" + *jdk + "' (--jdk) is not a directory";
    return std::nullopt;
  }
  if (java_home && *java_home) return fs::path(java_home);
  if (std::optional<std::string> java = FindOnPath("java", search_path ? search_path : "")) {
    const fs::path real = fs::canonical(*java, ec);
    if (!ec) return real.parent_path().parent_path();
  }
  *error =
      "no JDK to make a runtime with: give --jdk DIR, set JAVA_HOME or put a JDK's java on PATH";
  return std::nullopt;
}

int JavaFeatureVersion(const std::string& version) {
  int first = 0, second = 0;
  std::size_t i = 0;
  for (; i < version.size() && std::isdigit(static_cast<unsigned char>(version[i])); ++i) {
    first = first * 10 + (version[i] - '0');
    if (first > 9999) return 0;
  }
  if (first != 1 || i >= version.size() || version[i] != '.') return first;
  // The old scheme: 1.8.0_402 is release 8.
  for (++i; i < version.size() && std::isdigit(static_cast<unsigned char>(version[i])); ++i) {
    second = second * 10 + (version[i] - '0');
    if (second > 9999) return 0;
  }
  return second;
}

std::string JlinkCompressOption(int feature) {
  // Java 21 names the compression levels zip-0 to zip-9 and deprecates the numbers 0 to 2.
  return feature >= 21 ? "--compress=zip-6" : "--compress=2";
}

bool IsRuntimeImage(const fs::path& dir, std::string* reason) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    *reason = "not a directory";
    return false;
  }
  if (!fs::is_regular_file(dir / "release", ec)) {
    *reason = "no release file: not a runtime image (make one with jlink)";
    return false;
  }
  if (!fs::is_regular_file(dir / "lib/server/libjvm.so", ec) &&
      !fs::is_regular_file(dir / "bin/server/jvm.dll", ec)) {
    *reason = "no JVM library (lib/server/libjvm.so or bin/server/jvm.dll)";
    return false;
  }
  return true;
}

bool ObtainRuntime(const RuntimeRequest& request, const std::string& jar_path,
                   RuntimeImage* runtime, std::string* error, std::vector<std::string>* notes) {
  if (request.take) {
    std::string reason;
    if (!IsRuntimeImage(*request.take, &reason)) {
      *error = "runtime '" + *request.take + "': " + reason;
      return false;
    }
    runtime->dir_ = *request.take;
    return true;
  }
  const JlinkOptions& options = *request.jlink;
  std::error_code ec;
  fs::path out;
  if (options.output_dir) {
    out = *options.output_dir;
    if (fs::exists(fs::symlink_status(out, ec))) {
      *error = "runtime output '" + out.string() + "' already exists; jlink writes a new directory";
      return false;
    }
  } else {
    std::string pattern = (fs::temp_directory_path(ec) / "launcher-pack-runtime-XXXXXX").string();
    if (ec || !::mkdtemp(pattern.data())) {
      *error = "cannot make a temporary directory for the runtime: " +
               (ec ? ec.message() : std::string(std::strerror(errno)));
      return false;
    }
    runtime->temporary_ = pattern;
    out = runtime->temporary_ / "runtime";
  }
  if (!Link(options, jar_path, out, error, notes)) {
    // A failed jlink may leave a partial image behind.
    if (options.output_dir) fs::remove_all(out, ec);
    return false;
  }
  runtime->dir_ = out;
  return true;
}

}  // namespace launcher_pack
