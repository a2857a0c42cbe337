// The launcher image itself: the archive size field that launcher-pack patches.
#include <gtest/gtest.h>

#include <cstring>

#include "e2e_util.h"

namespace e2e {
namespace {

const char kMarker[] = "@@ZIP-SIZE-FIELD";

size_t CountMarkers(const std::string& image, size_t* at) {
  size_t count = 0;
  for (size_t pos = image.find(kMarker); pos != std::string::npos;
       pos = image.find(kMarker, pos + 1)) {
    *at = pos;
    ++count;
  }
  return count;
}

TEST(ImageTest, MarkerOccursExactlyOnceInTheLauncherImage) {
  size_t at = 0;
  EXPECT_EQ(CountMarkers(ReadFile(LAUNCHER_BIN), &at), 1u);
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
