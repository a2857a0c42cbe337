// The Java runtime an application ships with: one made for it with a JDK's jlink, or a runtime
// image the user made. Whatever ships it (beside the executable, in an archive) starts here.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace launcher_pack {

// Modules only reached through ServiceLoader or by name at run time, which jdeps cannot see in
// the application's classes; added to every made runtime when the JDK has them.
extern const char* const kDefaultRuntimeModules[4];

struct JlinkOptions {
  std::optional<std::string> jdk;         // --jdk; else JAVA_HOME, else java on PATH
  std::vector<std::string> add_modules;   // --add-modules, on top of jdeps' and the defaults
  bool drop_nocoops_archive = false;      // remove lib/server/classes_nocoops.jsa
  std::optional<std::string> output_dir;  // --runtime-out; else a temporary directory
};

struct RuntimeRequest {
  std::optional<std::string> take;    // --runtime DIR: a runtime image made elsewhere
  std::optional<JlinkOptions> jlink;  // --jlink: make one for the jar
};

// A runtime directory; one made in a temporary directory is removed with the object.
class RuntimeImage {
 public:
  RuntimeImage() = default;
  ~RuntimeImage();
  RuntimeImage(const RuntimeImage&) = delete;
  RuntimeImage& operator=(const RuntimeImage&) = delete;

  const std::filesystem::path& dir() const { return dir_; }

 private:
  friend bool ObtainRuntime(const RuntimeRequest&, const std::string&, RuntimeImage*, std::string*,
                            std::vector<std::string>*);
  std::filesystem::path dir_;
  std::filesystem::path temporary_;  // removed on destruction when not empty
};

// Makes the runtime for the application jar at jar_path with jlink, or checks the one to take.
// On failure *error is one line saying what went wrong and what to do. What was done (the JDK,
// the modules, the stripping) is described in *notes.
bool ObtainRuntime(const RuntimeRequest& request, const std::string& jar_path,
                   RuntimeImage* runtime, std::string* error, std::vector<std::string>* notes);

// The JDK whose jlink makes the runtime: jdk when given, else java_home when set and not empty,
// else the home of the java command found on search_path (symbolic links resolved, bin/..).
// nullopt with *error set when there is none.
std::optional<std::filesystem::path> FindJdk(const std::optional<std::string>& jdk,
                                             const char* java_home, const char* search_path,
                                             std::string* error);

// The feature release of a Java version string: 17 for "17.0.21.1", 8 for "1.8.0_402", 25 for
// "25-ea"; 0 when the text starts with no number.
int JavaFeatureVersion(const std::string& version);

// The jlink --compress option that a jlink of the given feature release takes.
std::string JlinkCompressOption(int feature);

// Checks that dir holds a runtime image: a release file and a JVM library
// (lib/server/libjvm.so or bin/server/jvm.dll). false with *reason set when not.
bool IsRuntimeImage(const std::filesystem::path& dir, std::string* reason);

}  // namespace launcher_pack
