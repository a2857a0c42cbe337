// The fixture of the class path tests: a launcher at app/tool below a temporary directory,
// published as the process's loader, with the class path variables unset.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jvm/class_path.h"
#include "settings/settings_loader.h"
#include "test_files.h"

namespace launcher_test {

using Values = std::vector<std::string>;

inline Values SplitList(const std::string& path) {
  Values out;
  size_t start = 0;
  for (;;) {
    size_t separator = path.find(test_support::kListSeparator, start);
    out.push_back(path.substr(start, separator - start));
    if (separator == std::string::npos) return out;
    start = separator + 1;
  }
}

inline std::string JoinList(const Values& elements) {
  std::string out;
  for (const std::string& element : elements) {
    if (!out.empty()) out += test_support::kListSeparator;
    out += element;
  }
  return out;
}

class ClassPathTest : public ::testing::Test {
 protected:
  ClassPathTest()
      : exe_(dir_.File("app/tool", "image")),
        home_(dir_ / "app/"),
        own_(exe_),
        loader_(false),
        published_(&loader_) {
    loader_.exePath = exe_.c_str();
    loader_.appHome = home_.c_str();
    loader_.workDir = (dir_ / "work/").c_str();
    dir_.Dir("work");
  }
  std::string Build(const std::string& lines) {
    loader_.DecodeSettingsText(lines.data(), static_cast<int>(lines.size()));
    return Str(BuildClassPath(&loader_));
  }

  TempDir dir_;
  std::string exe_;
  std::string home_;
  ScopedExePath own_;
  ScopedEnv classpath_{"CLASSPATH", nullptr};
  ScopedEnv classPath_{"CLASS_PATH", nullptr};
  CSettingsLoader loader_;
  ScopedPldr published_;
};

}  // namespace launcher_test
