// The class path handed to the JVM: the executable, `classpath` elements, the archives below
// `libs` directories and the class path environment variables.
#include "jvm/class_path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "class_path_fixture.h"
#include "settings/settings_loader.h"
#include "test_files.h"

namespace {

using launcher_test::ClassPathTest;
using launcher_test::CrLf;
using launcher_test::JoinList;
using launcher_test::ScopedEnv;
using launcher_test::ScopedExePath;
using launcher_test::SplitList;
using launcher_test::Str;
using launcher_test::Values;
using test_support::kEmptyVariablesExist;
using test_support::kListSeparator;
using test_support::kMaxPath;

Values Sorted(Values v) {
  std::sort(v.begin(), v.end());
  return v;
}

TEST_F(ClassPathTest, ExecutableAloneWithoutSettings) {
  EXPECT_EQ(Build(""), exe_);
  // An own path too long for the launcher's path buffer is left out.
  const std::string longest(kMaxPath, 'p'), tooLong(kMaxPath + 1, 'p');
  ScopedExePath fits(longest);
  EXPECT_EQ(Str(BuildClassPath(&loader_)), longest);
  ScopedExePath doesNotFit(tooLong);
  EXPECT_EQ(Str(BuildClassPath(&loader_)), "");
}

TEST_F(ClassPathTest, ClasspathElementsInOrder) {
  dir_.File("work/w.jar");
  ScopedEnv empty("EMPTY", "");
  const std::string sep(1, kListSeparator);
  const std::string path =
      Build(CrLf({"classpath a.jar" + sep + sep + "b.jar", "classpath " + sep, "classpath w.jar",
                  "classpath /abs/c.jar" + sep + "$EMPTY", "classpath"}));
  // A variable set to nothing leaves the home directory; Windows removes such a variable.
  EXPECT_EQ(SplitList(path),
            (Values{exe_, home_ + "a.jar", home_ + "b.jar", dir_ / "work/w.jar", "/abs/c.jar",
                    home_ + (kEmptyVariablesExist ? "" : "$EMPTY")}));
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
  Values elements = SplitList(path);
  ASSERT_FALSE(elements.empty());
  EXPECT_EQ(elements.front(), exe_);
  elements.erase(elements.begin());
  const std::string libs = home_ + "libs/";
  EXPECT_EQ(Sorted(elements), Sorted({libs + "A.JAR", libs + "b.zip", libs + "sub/c.jar",
                                      libs + "d.jar/e.jar", libs + "sub/deeper/f.Zip"}));
}

TEST_F(ClassPathTest, EnvironmentVariablesLast) {
  dir_.File("app/libs/k.jar");
  {
    ScopedEnv cp("CLASSPATH", JoinList({"x", "y"}).c_str());
    ScopedEnv cp2("CLASS_PATH", "rel/z");
    EXPECT_EQ(Build(CrLf({"libs libs", "classpath a.jar"})),
              JoinList({exe_, home_ + "a.jar", home_ + "libs/k.jar", "x", "y", "rel/z"}));
  }
  // A set but empty variable adds no element: the JVM would read one as the working directory.
  ScopedEnv cp("CLASSPATH", "");
  EXPECT_EQ(Str(BuildClassPath(&loader_)), JoinList({exe_, home_ + "a.jar", home_ + "libs/k.jar"}));
}

TEST_F(ClassPathTest, DuplicatesAreKept) {
  dir_.File("app/libs/k.jar");
  const std::string k = home_ + "libs/k.jar";
  EXPECT_EQ(Build(CrLf({"libs libs", "classpath libs/k.jar", "classpath libs/k.jar"})),
            JoinList({exe_, k, k, k}));
}

TEST_F(ClassPathTest, ScanAppendsSeparatorAndFullPath) {
  dir_.File("scan/one.jar");
  for (const std::string& directory : {dir_ / "scan", dir_ / "scan/"}) {
    CBufferT<char> out;
    ScanArchiveDirectory(CStringRefT<char>(directory.c_str()), out);
    EXPECT_EQ(Str(out), kListSeparator + dir_ / "scan/one.jar") << directory;
  }
  CBufferT<char> none;
  ScanArchiveDirectory(CStringRefT<char>((dir_ / "nothing").c_str()), none);
  EXPECT_EQ(none.GetLength(), 0);
}

}  // namespace
