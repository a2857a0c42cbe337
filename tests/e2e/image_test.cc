// The launcher image itself: the archive size field that launcher-pack patches and the version
// record it reads.
#include <gtest/gtest.h>

#include <cstring>

#include "e2e_util.h"

namespace e2e {
namespace {

const char kMarker[] = "@@ZIP-SIZE-FIELD";
const char kVersionMarker[] = "@@LAUNCHER-VERSION ";

size_t CountMarkers(const std::string& image, size_t* at, const char* marker = kMarker) {
  size_t count = 0;
  for (size_t pos = image.find(marker); pos != std::string::npos;
       pos = image.find(marker, pos + 1)) {
    *at = pos;
    ++count;
  }
  return count;
}

TEST(ImageTest, MarkerOccursExactlyOnceInTheLauncherImage) {
  size_t at = 0;
  EXPECT_EQ(CountMarkers(ReadFile(LAUNCHER_BIN), &at), 1u);
}

// The one version record names the version launcher-pack was built with, as --version reports it.
TEST(ImageTest, VersionRecordOccursOnceWithTheProjectVersion) {
  const std::string image = ReadFile(LAUNCHER_BIN);
  size_t at = 0;
  ASSERT_EQ(CountMarkers(image, &at, kVersionMarker), 1u);
  const size_t start = at + strlen(kVersionMarker);
  const std::string version = image.substr(start, image.find('\0', start) - start);
  RunResult pack = RunProgram({LAUNCHER_PACK_BIN, "--version"});
  ASSERT_EQ(pack.status, 0) << pack.err;
  EXPECT_EQ(pack.out.substr(0, pack.out.find('\n')), "launcher-pack " + version);
}

TEST(ImageTest, ArchiveSizeFieldIsReadAtRunTime) {
  TempDir tmp;
  std::string exe = Pack(tmp / "app", {"jre_order i", "message 1=settings were found"}, PROBE_JAR);
  RunOptions options;
  options.env = {{"PATH", "/nonexistent"}};
  RunResult packed = RunProgram({exe}, options);
  EXPECT_EQ(packed.status, 1);
  EXPECT_EQ(packed.err, "settings were found\n");

  // Patching the field after the build changes what the running launcher reads: with a wrong
  // archive size the payload is not found and the default order finds nothing here.
  std::string bytes = ReadFile(exe);
  size_t at = 0;
  ASSERT_EQ(CountMarkers(bytes, &at), 1u);
  bytes[at + strlen(kMarker)] = static_cast<char>(bytes[at + strlen(kMarker)] + 3);
  WriteFile(exe, bytes);
  RunResult patched = RunProgram({exe}, options);
  EXPECT_EQ(patched.status, 1);
  EXPECT_EQ(patched.err, "Java Runtime Environment not found.\n");
}

}  // namespace
}  // namespace e2e
