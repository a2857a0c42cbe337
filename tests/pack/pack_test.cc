#include "pack.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "manifest.h"
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
  // Its splash image is a resource of the executable, never part of the payload; an image
  // that only starts like an executable has no resources to add it to.
  Bytes ignored;
  PackError error;
  EXPECT_FALSE(BuildPackedImage({image, jar, {}, Bytes(10, 1)}, &ignored, &error));
  EXPECT_EQ(error.input, PackError::Input::kImage);
  EXPECT_NE(error.what.find("not a PE image"), std::string::npos) << error.what;
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

TEST(PackManifest, MainSectionIsReadAsJavaReadsIt) {
  // CR LF, LF and CR end lines; a continuation drops its first space; the main section ends at
  // the first empty line, so the Main-Class of the entry section below is not taken.
  const MainSection main = ParseMainSection(
      "Manifest-Version: 1.0\r\nmain-class: com.example.Lo\r\n ngName\nAdd-Opens: a/b\r\r\n"
      "Name: x\r\nMain-Class: other\r\n");
  ASSERT_EQ(main.attributes.size(), 3u);
  EXPECT_EQ(main.attributes[1].value, "com.example.LongName");
  EXPECT_EQ(main.attributes[2].value, "a/b");
  EXPECT_EQ(main.warnings, std::vector<std::string>{});

  // A last line without its line end is left out.
  const MainSection cut = ParseMainSection("Main-Class: a.B\nClass-Path: x.jar");
  ASSERT_EQ(cut.attributes.size(), 1u);
  EXPECT_EQ(cut.warnings, std::vector<std::string>{
                              "jar manifest line 2: 'Class-Path: x.jar' has no line end; java "
                              "does not read it"});
  // Anything but "Name: value" headers makes java refuse the whole manifest.
  for (const std::string& bad : std::vector<std::string>{
           "Main-Class: a.B\nMain-Class:x\n", " a.B\n", std::string(71, 'N') + ": v\n"}) {
    const MainSection refused = ParseMainSection(bad);
    EXPECT_TRUE(refused.attributes.empty()) << bad;
    ASSERT_EQ(refused.warnings.size(), 1u) << bad;
    EXPECT_NE(refused.warnings[0].find("java refuses the manifest"), std::string::npos);
  }
}

TEST(PackManifest, AttributesBecomeSettingsLines) {
  const ManifestSettings m =
      SettingsFromManifest({{"Main-Class", " app.Main "},
                            {"Add-Opens", "java.base/java.lang  java.base/java.util"},
                            {"ADD-EXPORTS", "jdk.x/y.z bad"},
                            {"Enable-Native-Access", "ALL-UNNAMED"},
                            {"Class-Path", "lib/a.jar /opt/b.jar file:/c.jar"}},
                           {"option=--add-opens=java.base/java.util=ALL-UNNAMED"});
  EXPECT_EQ(m.lines, (std::vector<std::string>{"mainclass app.Main",
                                               "option --add-opens=java.base/java.lang=ALL-UNNAMED",
                                               "option --add-exports=jdk.x/y.z=ALL-UNNAMED",
                                               "option --enable-native-access=ALL-UNNAMED"}));
  ASSERT_EQ(m.notes.size(), 5u);
  EXPECT_EQ(m.notes[4],
            "jar manifest Class-Path (relative entries are found beside the packed executable): "
            "lib/a.jar /opt/b.jar file:/c.jar");
  ASSERT_EQ(m.warnings.size(), 3u);
  EXPECT_EQ(m.warnings[0],
            "jar manifest Add-Exports: 'bad' is not module/package; no option "
            "added for it");
  EXPECT_NE(m.warnings[1].find("'/opt/b.jar' is absolute"), std::string::npos);
  EXPECT_NE(m.warnings[2].find("'file:/c.jar' is absolute"), std::string::npos);

  // A mainclass line of the settings, in any letter case, wins over the manifest's.
  EXPECT_EQ(SettingsFromManifest({{"Main-Class", "app.Main"}}, {"  MainClass = other.Main"}).lines,
            std::vector<std::string>{});
}

class PackFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteBytes(dir_ / "launcher", MakeImage());
    WriteBytes(dir_ / "app.jar", MakeZip({{"Main.class", "code"}}));
    options_.launcher_path = dir_ / "launcher";
    options_.jar_path = dir_ / "app.jar";
    options_.output_path = dir_ / "app";
    // The tests below look at other settings; DefaultSettingsTurnOnClassDataSharing at this one.
    options_.default_cds = false;
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
  options_.settings_path = dir_ / "s";
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
    options_.settings_path = dir_ / "s";
    EXPECT_EQ(PackedSettings(), expected);
  }
}

TEST_F(PackFilesTest, DefaultSettingsTurnOnClassDataSharing) {
  options_.default_cds = true;
  auto packed = [&](const std::string& line) {
    options_.set_lines = {line};
    const Bytes bytes = PackedSettings();
    return std::string(bytes.begin() + 3, bytes.end() - 1);  // without mark and NUL
  };
  EXPECT_EQ(packed("mainclass Main"), "mainclass Main\r\ncds auto\r\n");
  EXPECT_EQ(packed("CDS = off"), "CDS = off\r\n");  // any cds line is kept as the only one
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
  options_.splash_path = dir_ / "missing.png";
  std::string error;
  EXPECT_FALSE(PackFiles(options_, &error));
  EXPECT_EQ(error,
            "cannot read splash image '" + *options_.splash_path + "': No such file or directory");
  EXPECT_EQ(testing::ReadText(options_.output_path), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 3);
}

const std::string kManifest =
    "Manifest-Version: 1.0\r\nMain-Class: app.Main\r\nAdd-Exports: java.base/sun.nio.ch\r\n\r\n";

TEST_F(PackFilesTest, StoredOrDeflatedManifestAddsSettings) {
  const std::string expected =
      "\xEF\xBB\xBFmainclass app.Main\r\noption --add-exports=java.base/sun.nio.ch=ALL-UNNAMED\r\n";
  Bytes expected_bytes(expected.begin(), expected.end());
  expected_bytes.push_back(0);
  // java also takes the manifest's name in another letter case.
  for (const bool deflated : {false, true}) {
    const std::string name = deflated ? "META-INF/MANIFEST.MF" : "meta-inf/Manifest.mf";
    WriteBytes(options_.jar_path,
               MakeZip({{name, kManifest}, {"app/Main.class", "x"}}, "", deflated));
    std::string error;
    std::vector<std::string> warnings, notes;
    ASSERT_TRUE(PackFiles(options_, &error, &warnings, &notes)) << error;
    EXPECT_EQ(warnings, std::vector<std::string>{});
    EXPECT_EQ(notes.size(), 2u);
    EXPECT_EQ(PackedSettings(), expected_bytes);
  }

  // A damaged manifest, stored or deflated, adds nothing and draws a warning.
  for (const bool deflated : {false, true}) {
    Bytes jar = MakeZip({{"META-INF/MANIFEST.MF", kManifest}}, "", deflated);
    jar[30 + 20 + 4] ^= 0x55;  // inside the data, after the local header and the name
    WriteBytes(options_.jar_path, jar);
    std::string error;
    std::vector<std::string> warnings, notes;
    ASSERT_TRUE(PackFiles(options_, &error, &warnings, &notes)) << error;
    EXPECT_EQ(notes, std::vector<std::string>{});
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[1], deflated ? "jar manifest META-INF/MANIFEST.MF: deflated data is corrupt"
                                    : "jar manifest META-INF/MANIFEST.MF: CRC mismatch");
  }
}

TEST_F(PackFilesTest, PackingTwiceGivesTheSameBytes) {
  WriteBytes(options_.jar_path,
             MakeZip({{"META-INF/MANIFEST.MF", kManifest}, {"app/Main.class", "x"}}, "c", true));
  WriteBytes(dir_ / "splash.png", Bytes(300, 7));
  options_.splash_path = dir_ / "splash.png";
  options_.set_lines = {"option -Xmx64m", "argv a"};
  std::string error;
  ASSERT_TRUE(PackFiles(options_, &error)) << error;
  const Bytes first = ReadBytes(options_.output_path);
  options_.output_path = dir_ / "again";
  ASSERT_TRUE(PackFiles(options_, &error)) << error;
  EXPECT_EQ(ReadBytes(options_.output_path), first);
}

}  // namespace
}  // namespace launcher_pack
