// The fixture of the runtime search tests: an application home, a working directory and a
// runtime directory, a loader published for them, and the runtime variables unset.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "runtime/library_probe.h"
#include "runtime/runtime_search.h"
#include "settings/settings_loader.h"
#include "test_files.h"

namespace launcher_test {

const std::string kArch = TEST_ARCH_DIR;
const std::string kJvmLibrary = test_support::kWindows ? "jvm.dll" : "libjvm.so";
// The directories that hold one directory per VM type, as the probe spells them below a
// runtime directory: the architecture directory of a Java 8 runtime or JRE on Linux, "bin\"
// of a runtime or JRE on Windows.
const std::string kTypes = test_support::kWindows ? "bin\\" : "lib/" + kArch + "/";
const std::string kJreTypes = test_support::kWindows ? "jre\\bin\\" : "jre/lib/" + kArch + "/";

class RuntimeTest : public ::testing::Test {
 protected:
  RuntimeTest() : loader_(false), published_(&loader_) {
    ResetJavaRuntimeSearchForTesting();
    loader_.appHome = home_.Slash().c_str();
    loader_.workDir = work_.Slash().c_str();
    loader_.exePath = (home_ / "tool").c_str();
  }
  ~RuntimeTest() override { ResetJavaRuntimeSearchForTesting(); }

  void Settings(const std::string& lines) {
    loader_.DecodeSettingsText(lines.data(), static_cast<int>(lines.size()));
  }
  // Creates an empty library file below root and returns its path.
  static std::string Library(const TempDir& root, const std::string& directory) {
    return root.File(directory + kJvmLibrary);
  }
  std::string Probe(const std::string& directory) {
    return Str(ProbeRuntimeDirectory(&loader_, CStringRefT<char>(directory.c_str())));
  }
  std::string Find() { return Str(FindJavaRuntime(&loader_)); }
  // Another loader with the same directories and its own settings text.
  std::unique_ptr<CSettingsLoader> NewLoader(const std::string& text) {
    auto loader = std::make_unique<CSettingsLoader>(false);
    loader->appHome = home_.Slash().c_str();
    loader->workDir = work_.Slash().c_str();
    loader->DecodeSettingsText(text.data(), static_cast<int>(text.size()));
    return loader;
  }
  std::string ProbeWith(const std::string& text, const std::string& directory) {
    return Str(ProbeRuntimeDirectory(NewLoader(text).get(), CStringRefT<char>(directory.c_str())));
  }
  std::string FindWith(const std::string& text) {
    ResetJavaRuntimeSearchForTesting();
    return Str(FindJavaRuntime(NewLoader(text).get()));
  }

  TempDir home_, work_, rt_;
  ScopedEnv jreHome_{"JRE_HOME", nullptr};
  ScopedEnv javaHome_{"JAVA_HOME", nullptr};
  CSettingsLoader loader_;
  ScopedPldr published_;
};

}  // namespace launcher_test
