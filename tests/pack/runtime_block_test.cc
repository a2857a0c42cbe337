// The runtime block launcher-pack writes: its digest, its header, the same bytes for the same
// runtime, and the links it refuses.
#include "runtime_block.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "pack.h"
#include "test_support.h"

namespace launcher_pack {
namespace {

using testing::TempDir;
using testing::WriteBytes;

TEST(RuntimeBlock, Sha256MatchesTheStandardVectors) {
  EXPECT_EQ(Sha256Hex({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  const std::string abc = "abc";
  EXPECT_EQ(Sha256Hex(Bytes(abc.begin(), abc.end())),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  const std::string two_blocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  EXPECT_EQ(Sha256Hex(Bytes(two_blocks.begin(), two_blocks.end())),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(RuntimeBlock, HeaderDescribesTheStreamAndOutsideLinksAreRefused) {
  TempDir dir;
  namespace fs = std::filesystem;
  fs::create_directories(dir / "rt/lib/server");
  WriteBytes(dir / "rt/lib/server/libjvm.so", std::string(3000, 'j'));
  WriteBytes(dir / "rt/release", std::string("JAVA_VERSION=\"17\"\n"));
  fs::create_symlink("../lib", dir / "rt/lib/server/up");
  Bytes block, again;
  std::string error;
  ASSERT_TRUE(BuildRuntimeBlock(dir / "rt", 3, &block, &error)) << error;
  const auto info = ReadRuntimeBlockHeader(block.data(), static_cast<std::int64_t>(block.size()));
  ASSERT_TRUE(info);
  EXPECT_EQ(info->file_count, 2);
  EXPECT_EQ(info->compressed_size + 64, static_cast<std::int64_t>(block.size()));
  EXPECT_GT(info->unpacked_size, 3000);
  EXPECT_EQ(info->digest.size(), 32u);
  ASSERT_TRUE(BuildRuntimeBlock(dir / "rt", 3, &again, &error));
  EXPECT_EQ(block, again);

  fs::create_symlink("../../..", dir / "rt/lib/server/out");
  EXPECT_FALSE(BuildRuntimeBlock(dir / "rt", 3, &block, &error));
  EXPECT_NE(error.find("the link 'lib/server/out' leaves it"), std::string::npos) << error;
}

}  // namespace
}  // namespace launcher_pack
