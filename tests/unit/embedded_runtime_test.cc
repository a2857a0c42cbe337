// Unpacking the entry stream of a shipped runtime: what it writes, the completion check and the
// entries it refuses, which must leave nothing outside the target directory.
#include "runtime/embedded_runtime.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "settings/payload_layout.h"
#include "test_files.h"

namespace {

using launcher_test::Str;
using launcher_test::TempDir;

void Put(std::string& out, unsigned long long value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

std::string Entry(char type, const std::string& path, const std::string& body = "",
                  int mode = 0644) {
  std::string e(1, type);
  Put(e, static_cast<unsigned>(mode), 2);
  Put(e, path.size(), 2);
  e += path;
  if (type == 'f') Put(e, body.size(), 8);
  if (type == 'l') Put(e, body.size(), 2);
  return e + body;
}

bool Unpack(const std::string& stream, const std::string& dir, MyCString& marker, MyCString& why) {
  mkdir(dir.c_str(), 0700);
  return UnpackEntries(reinterpret_cast<const unsigned char*>(stream.data()),
                       static_cast<long long>(stream.size()), dir.c_str(), marker, why);
}

TEST(EmbeddedRuntime, UnpacksEntriesAndChecksTheStartFilesAgainstTheMarker) {
  TempDir tmp;
  const std::string rt = tmp / "rt";
  const std::string stream = Entry('d', "lib") + Entry('d', "lib/server") +
                             Entry('f', "lib/server/libjvm.so", "ELF-bytes", 0755) +
                             Entry('f', "lib/modules", "mods") + Entry('d', "bin") +
                             Entry('l', "bin/lib", "../lib") + std::string(1, '\0');
  MyCString marker, why;
  ASSERT_TRUE(Unpack(stream, rt, marker, why)) << why.CStr();
  EXPECT_EQ(Str(marker), "9 lib/server/libjvm.so\n4 lib/modules\n");
  struct stat st;
  ASSERT_EQ(stat((rt + "/bin/lib/server/libjvm.so").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);

  EXPECT_FALSE(IsCompleteRuntime(rt.c_str()));  // no marker yet
  tmp.File("rt/.complete", Str(marker));
  EXPECT_TRUE(IsCompleteRuntime(rt.c_str()));
  ASSERT_EQ(truncate((rt + "/lib/modules").c_str(), 2), 0);
  EXPECT_FALSE(IsCompleteRuntime(rt.c_str()));
  tmp.File("rt/.complete", "4 lib/modules\n");  // a marker must list the JVM library
  EXPECT_FALSE(IsCompleteRuntime(tmp.path().c_str()));
}

TEST(EmbeddedRuntime, RefusesEntriesThatLeaveTheDirectoryAndDamagedStreams) {
  EXPECT_TRUE(IsSafeLinkTarget("a/b/link", "../../x"));
  EXPECT_FALSE(IsSafeLinkTarget("a/link", "../../x"));
  EXPECT_FALSE(IsSafeLinkTarget("a/link", "b/../../x"));
  EXPECT_FALSE(IsSafeLinkTarget("link", "/etc"));
  EXPECT_FALSE(IsSafeEntryPath("a//b"));
  EXPECT_FALSE(IsSafeEntryPath("a\\..\\b"));

  const std::string end(1, '\0');
  const struct {
    std::string stream;
    const char* why;
  } cases[] = {
      {Entry('f', "../escaped", "x") + end, "unsafe path '../escaped'"},
      {Entry('f', "/tmp/escaped", "x") + end, "unsafe path"},
      {Entry('d', "a/./b") + end, "unsafe path"},
      {Entry('l', "up", "../escaped") + end, "link leaving the runtime"},
      {Entry('l', "here", ".") + end, "link leaving the runtime"},
      {Entry('l', "sub", "x") + Entry('f', "sub/escaped", "x") + end, "path through a link"},
      {Entry('f', "big", "x").substr(0, 12), "damaged"},
      {Entry('f', "a", "x"), "damaged"},  // no end entry
      {Entry('f', "a", "x") + end + "trailing", "damaged"},
      {Entry('q', "a") + end, "damaged"},
  };
  for (const auto& c : cases) {
    TempDir tmp;
    MyCString marker, why;
    EXPECT_FALSE(Unpack(c.stream, tmp / "rt", marker, why));
    EXPECT_NE(Str(why).find(c.why), std::string::npos) << Str(why);
    EXPECT_NE(access((tmp / "escaped").c_str(), F_OK), 0);
  }
}

TEST(EmbeddedRuntime, HeaderFieldsMustFitTheBlock) {
  std::string block = payload_layout::kRuntimeMagic;
  Put(block, 1, 4), Put(block, 3, 4), Put(block, 10, 8), Put(block, 100, 8);
  block += std::string(32, 'a') + std::string(10, 'z');
  RuntimeBlockHeader header;
  auto parse = [&](const std::string& b) {
    return ParseRuntimeBlockHeader(reinterpret_cast<const unsigned char*>(b.data()),
                                   static_cast<long long>(b.size()), &header);
  };
  ASSERT_TRUE(parse(block));
  EXPECT_EQ(header.fileCount, 3);
  EXPECT_EQ(header.compressedSize, 10);
  EXPECT_EQ(std::string(header.digest), std::string(32, 'a'));
  EXPECT_FALSE(parse(block.substr(0, block.size() - 1)));  // compressed data cut short
  std::string badDigest = block;
  badDigest[40] = 'G';
  EXPECT_FALSE(parse(badDigest));
  std::string huge = block;
  huge[31] = '\x7f';  // unpacked size far beyond the limit
  EXPECT_FALSE(parse(huge));
  EXPECT_FALSE(parse("JRTBLK02" + block.substr(8)));
}

}  // namespace
