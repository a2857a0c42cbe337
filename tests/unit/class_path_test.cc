// The class path handed to the JVM: the executable, `classpath` elements, the archives below
// `libs` directories and the class path environment variables.
#include "jvm/class_path.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "settings/settings_loader.h"
#include "test_files.h"

namespace {

using launcher_test::CrLf;
using launcher_test::ScopedEnv;
using launcher_test::ScopedExePath;
using launcher_test::ScopedPldr;
using launcher_test::Str;
using launcher_test::TempDir;
using Values = std::vector<std::string>;

Values Split(const std::string& path) {
  Values out;
  size_t start = 0;
  for (;;) {
    size_t colon = path.find(':', start);
    out.push_back(path.substr(start, colon - start));
    if (colon == std::string::npos) return out;
    start = colon + 1;
  }
}

Values Sorted(Values v) {
  std::sort(v.begin(), v.end());
  return v;
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

TEST_F(ClassPathTest, ExecutableAloneWithoutSettings) {
  EXPECT_EQ(Build(""), exe_);
}

TEST_F(ClassPathTest, ClasspathElementsInOrder) {
  dir_.File("work/w.jar");
  ScopedEnv empty("EMPTY", "");
  const std::string path = Build(CrLf({"classpath a.jar::b.jar", "classpath :", "classpath w.jar",
                                       "classpath /abs/c.jar:$EMPTY", "classpath"}));
  EXPECT_EQ(Split(path), (Values{exe_, home_ + "a.jar", home_ + "b.jar", dir_ / "work/w.jar",
                                 "/abs/c.jar", home_}));
}

TEST_F(ClassPathTest, ArchivesBelowLibsDirectories) {
  dir_.File("app/libs/A.JAR");
  dir_.File("app/libs/b.zip");
  dir_.File("app/libs/readme.txt");
  dir_.File("app/libs/x.jar.bak");
  dir_.File("app/libs/sub/c.jar");
  dir_.File("app/libs/d.jar/e.jar");  // a directory named like an archive is entered
  dir_.File("app/libs/sub/deeper/f.Zip");
  const std::string path = Build(CrLf({"libs libs", "libs missing"}));
  Values elements = Split(path);
  ASSERT_FALSE(elements.empty());
  EXPECT_EQ(elements.front(), exe_);
  elements.erase(elements.begin());
  const std::string libs = home_ + "libs/";
  EXPECT_EQ(Sorted(elements), Sorted({libs + "A.JAR", libs + "b.zip", libs + "sub/c.jar",
                                      libs + "d.jar/e.jar", libs + "sub/deeper/f.Zip"}));
}

TEST_F(ClassPathTest, LibsDirectoryFormsAndLinks) {
  const std::string outside = dir_.File("outside/g.jar");
  dir_.Dir("app/lib2");
  ASSERT_EQ(symlink((dir_ / "outside").c_str(), (dir_ / "app/lib2/linked").c_str()), 0);
  ASSERT_EQ(symlink(outside.c_str(), (dir_ / "app/lib2/l.jar").c_str()), 0);
  ScopedEnv where("WHERE", "lib2");
  const std::string path = Build(CrLf({"libs $WHERE/", "libs " + dir_ / "outside"}));
  // A linked directory is not entered; a link named like an archive is an archive.
  EXPECT_EQ(Split(path), (Values{exe_, home_ + "lib2/l.jar", outside}));
}

TEST_F(ClassPathTest, EnvironmentVariablesLast) {
  dir_.File("app/libs/k.jar");
  {
    ScopedEnv cp("CLASSPATH", "x:y");
    ScopedEnv cp2("CLASS_PATH", "rel/z");
    EXPECT_EQ(Build(CrLf({"libs libs", "classpath a.jar"})),
              exe_ + ":" + home_ + "a.jar:" + home_ + "libs/k.jar:x:y:rel/z");
  }
  // A set but empty variable adds no element: the JVM would read one as the working directory.
  ScopedEnv cp("CLASSPATH", "");
  EXPECT_EQ(Str(BuildClassPath(&loader_)), exe_ + ":" + home_ + "a.jar:" + home_ + "libs/k.jar");
}

TEST_F(ClassPathTest, DuplicatesAreKept) {
  dir_.File("app/libs/k.jar");
  EXPECT_EQ(Build(CrLf({"libs libs", "classpath libs/k.jar", "classpath libs/k.jar"})),
            exe_ + ":" + home_ + "libs/k.jar:" + home_ + "libs/k.jar:" + home_ + "libs/k.jar");
}

TEST_F(ClassPathTest, ScanAppendsSeparatorAndFullPath) {
  dir_.File("scan/one.jar");
  for (const std::string& directory : {dir_ / "scan", dir_ / "scan/"}) {
    CBufferT<char> out;
    ScanArchiveDirectory(CStringRefT<char>(directory.c_str()), out);
    EXPECT_EQ(Str(out), ":" + dir_ / "scan/one.jar") << directory;
  }
  CBufferT<char> none;
  ScanArchiveDirectory(CStringRefT<char>((dir_ / "nothing").c_str()), none);
  EXPECT_EQ(none.GetLength(), 0);
}

}  // namespace
