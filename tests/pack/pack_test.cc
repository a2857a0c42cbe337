#include "pack.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "test_support.h"

namespace launcher_pack {
namespace {

using testing::Append;
using testing::MakeImage;
using testing::MakeZip;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// Where the 8-byte size field of MakeImage(before, ...) sits.
constexpr std::size_t FieldOffset(std::size_t before) {
  return before + kSizeFieldMarkerLength;
}

Bytes Pack(const PackInput& input) {
  Bytes out;
  PackError error;
  EXPECT_TRUE(BuildPackedImage(input, &out, &error)) << error.what;
  return out;
}

TEST(PackBuild, WritesImageSizeFieldAndPayloadByteForByte) {
  const Bytes image = MakeImage(37, 11);
  const Bytes jar = MakeZip({{"a.txt", "hello"}}, "note");
  const Bytes out = Pack({image, jar, {"mainclass x.Y", "", "argv a"}, {}});

  Bytes expected = image;
  const std::uint64_t z = jar.size() - 4;  // the archive without its 4-byte comment
  for (int i = 0; i < 8; ++i) expected[FieldOffset(37) + i] = static_cast<std::uint8_t>(z >> 8 * i);
  Append(expected, Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0xEF, 0xBB, 0xBF});
  Append(expected, std::string("mainclass x.Y\r\n\r\nargv a\r\n"));
  Append(expected, Bytes{0, 29, 0, 0, 0});  // NUL, then L = 3 + 25 + 1
  Append(expected, Bytes(16, 0));
  Append(expected, jar);
  EXPECT_EQ(out, expected);
}

TEST(PackBuild, EmptyPayloadAndSplashBlock) {
  const Bytes image = MakeImage();
  const Bytes jar = MakeZip({});
  const Bytes plain = Pack({image, jar, {}, {}});
  const Bytes payload(plain.begin() + image.size(), plain.end() - jar.size());
  Bytes expected{0, 0, 0, 0, 0, 0, 0, 0, 0xEF, 0xBB, 0xBF, 0, 4, 0, 0, 0};
  expected.resize(expected.size() + 16, 0);
  EXPECT_EQ(payload, expected);
  EXPECT_EQ(ReadLe64(plain.data() + FieldOffset(40)), 22u);  // an empty zip is its end record

  const Bytes splash(300, 0x5A);
  const Bytes with_splash = Pack({image, jar, {}, splash});
  ASSERT_EQ(with_splash.size(), plain.size() + 300);
  EXPECT_TRUE(std::equal(splash.begin(), splash.end(), with_splash.begin() + image.size()));
  EXPECT_EQ(ReadLe32(with_splash.data() + image.size() + 300), 300);
  EXPECT_EQ(ReadLe32(with_splash.data() + image.size() + 304), 0);
}

TEST(PackBuild, WindowsImagePayloadStartsAtTheSettingsText) {
  Bytes image = MakeImage();
  image[0] = 'M';
  image[1] = 'Z';
  const Bytes jar = MakeZip({});
  const Bytes out = Pack({image, jar, {"mainclass x.Y"}, {}});
  const Bytes payload(out.begin() + image.size(), out.end() - jar.size());
  Bytes expected{0xEF, 0xBB, 0xBF};
  Append(expected, std::string("mainclass x.Y\r\n"));
  Append(expected, Bytes{0, 19, 0, 0, 0});
  expected.resize(expected.size() + 16, 0);
  EXPECT_EQ(payload, expected);
  // Its splash image is a resource of the executable, never part of the payload.
  Bytes ignored;
  PackError error;
  EXPECT_FALSE(BuildPackedImage({image, jar, {}, Bytes(10, 1)}, &ignored, &error));
  EXPECT_EQ(error.input, PackError::Input::kSplash);
}

TEST(PackBuild, RejectsBadImagesAndJars) {
  const Bytes jar = MakeZip({{"a", "b"}});
  Bytes two_markers = MakeImage();
  Append(two_markers, MakeImage());
  Bytes cut_field = MakeImage(10, 0);
  cut_field.resize(cut_field.size() - 1);
  const std::vector<std::tuple<Bytes, Bytes, PackError::Input, std::string>> cases = {
      {Bytes(100, 'x'), jar, PackError::Input::kImage, "not found"},
      {two_markers, jar, PackError::Input::kImage, "more than once"},
      {cut_field, jar, PackError::Input::kImage, "8-byte"},
      {MakeImage(), Bytes(100, 'P'), PackError::Input::kJar, "end-of-central-directory"},
  };
  for (const auto& [image, bad_jar, input, message] : cases) {
    Bytes out;
    PackError error;
    EXPECT_FALSE(BuildPackedImage({image, bad_jar, {}, {}}, &out, &error));
    EXPECT_EQ(error.input, input);
    EXPECT_NE(error.what.find(message), std::string::npos) << error.what;
  }
}

TEST(PackBuild, RefusesOutputsOverTheLauncherLimit) {
  const PackInput input{MakeImage(), {}, {"mainclass x.Y"}, Bytes(10, 1)};
  Bytes head;
  PackError error;
  ASSERT_TRUE(BuildPackedHead(input, {22, 22, {}}, &head, &error)) << error.what;
  const std::int64_t room = kMaxPackedSize - static_cast<std::int64_t>(head.size());
  EXPECT_TRUE(BuildPackedHead(input, {room, 22, {}}, &head, &error)) << error.what;
  EXPECT_FALSE(BuildPackedHead(input, {room + 1, 22, {}}, &head, &error));
  EXPECT_EQ(error.input, PackError::Input::kOutput);
  EXPECT_EQ(error.what,
            "would be 2147483648 bytes; a launcher reads files of at most 2147483647 bytes");
}

class PackFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteBytes(dir_ / "launcher", MakeImage());
    WriteBytes(dir_ / "app.jar", MakeZip({{"Main.class", "code"}}));
    options_.launcher_path = (dir_ / "launcher").string();
    options_.jar_path = (dir_ / "app.jar").string();
    options_.output_path = (dir_ / "app").string();
  }

  // The settings block of the packed output, from the byte order mark through the NUL.
  Bytes PackedSettings() {
    std::string error;
    EXPECT_TRUE(PackFiles(options_, &error)) << error;
    const Bytes out = ReadBytes(options_.output_path);
    const std::size_t trailer_end = out.size() - ReadBytes(options_.jar_path).size() - kGapLength;
    const std::int32_t l = ReadLe32(out.data() + trailer_end - 4);
    return Bytes(out.begin() + trailer_end - 4 - l, out.begin() + trailer_end - 4);
  }

  TempDir dir_;
  PackOptions options_;
};

TEST_F(PackFilesTest, NormalisesLineEndsAndAppendsSetLines) {
  WriteBytes(dir_ / "s", std::string("a\r\nb\nc\rd\n\re"));
  options_.settings_path = (dir_ / "s").string();
  options_.set_lines = {"k v", "argv \"two words\""};
  const std::string expected =
      "\xEF\xBB\xBF"
      "a\r\nb\r\nc\r\nd\r\ne\r\nk v\r\nargv \"two words\"\r\n";
  Bytes expected_bytes(expected.begin(), expected.end());
  expected_bytes.push_back(0);
  EXPECT_EQ(PackedSettings(), expected_bytes);

  struct stat st;
  ASSERT_EQ(::stat(options_.output_path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
}

TEST_F(PackFilesTest, Utf16SettingsBecomeUtf8) {
  const std::string utf8 = "\xEF\xBB\xBFk \xC3\xA9\xF0\x9F\x98\x80\r\nx\r\n";
  Bytes expected(utf8.begin(), utf8.end());
  expected.push_back(0);
  // "k é😀\nx" with a byte order mark, little- then big-endian.
  const Bytes le{0xFF, 0xFE, 'k', 0, ' ', 0, 0xE9, 0, 0x3D, 0xD8, 0, 0xDE, '\n', 0, 'x', 0};
  const Bytes be{0xFE, 0xFF, 0, 'k', 0, ' ', 0, 0xE9, 0xD8, 0x3D, 0xDE, 0, 0, '\n', 0, 'x'};
  for (const Bytes& raw : {le, be}) {
    WriteBytes(dir_ / "s", raw);
    options_.settings_path = (dir_ / "s").string();
    EXPECT_EQ(PackedSettings(), expected);
  }
}

// A jar larger than the copy chunk, whose central directory spans several read windows.
TEST_F(PackFilesTest, LargeJarIsCopiedWholeAndAllItsEntriesAreSeen) {
  std::string data(3 << 20, 0);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i % 251);
  std::vector<std::pair<std::string, std::string>> entries = {{"data", data}};
  for (int i = 0; i < 5000; ++i)
    entries.push_back({"app/Class" + std::to_string(i) + ".class", ""});
  const Bytes jar = MakeZip(entries);
  WriteBytes(options_.jar_path, jar);
  options_.set_lines = {"mainclass app.Class4999"};
  std::string error;
  std::vector<std::string> warnings;
  ASSERT_TRUE(PackFiles(options_, &error, &warnings)) << error;
  EXPECT_EQ(warnings, std::vector<std::string>{});
  const Bytes out = ReadBytes(options_.output_path);
  ASSERT_GT(out.size(), jar.size());
  EXPECT_TRUE(
      std::equal(jar.begin(), jar.end(), out.end() - static_cast<std::ptrdiff_t>(jar.size())));
}

TEST_F(PackFilesTest, FailureLeavesExistingOutputUntouched) {
  WriteBytes(options_.output_path, std::string("old"));
  options_.splash_path = (dir_ / "missing.png").string();
  std::string error;
  EXPECT_FALSE(PackFiles(options_, &error));
  EXPECT_EQ(error,
            "cannot read splash image '" + *options_.splash_path + "': No such file or directory");
  EXPECT_EQ(testing::ReadText(options_.output_path), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 3);
}

}  // namespace
}  // namespace launcher_pack
