// Locating the payload in a packed executable: the zip remark, trailerEnd, the packaged
// settings and the splash block, and what happens when the file does not hold a sound payload.
#include "settings/payload.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "settings/settings_loader.h"
#include "test_files.h"

namespace {

using launcher_test::CrLf;
using launcher_test::EndRecord;
using launcher_test::Le32;
using launcher_test::PackagedText;
using launcher_test::PackedImage;
using launcher_test::ScopedExePath;
using launcher_test::Str;
using launcher_test::TempDir;

const std::string kLines = CrLf({"mainclass com.x.Main", "option -Xmx1g"});

class PayloadTest : public ::testing::Test {
 protected:
  // Writes bytes as the own file and loads settings from it with archive size z.
  std::unique_ptr<CSettingsLoader> Load(const std::string& bytes, long long z) {
    path_ = dir_.File("packed.bin", bytes);
    ScopedExePath own(path_, z);
    return std::make_unique<CSettingsLoader>(true);
  }
  std::unique_ptr<CSettingsLoader> Load(const PackedImage& image) {
    return Load(image.Build(), image.ArchiveSize());
  }
  TempDir dir_;
  std::string path_;
};

PackedImage WithSettings() {
  PackedImage image;
  image.settings = PackagedText(kLines);
  return image;
}

TEST_F(PayloadTest, TrailerEndWithoutRemark) {
  for (size_t imageSize : {23u, 200000u}) {  // the second is longer than the search window
    PackedImage image = WithSettings();
    image.image.resize(imageSize, 'i');
    const std::string bytes = image.Build();
    auto loader = Load(image);
    EXPECT_EQ(loader->trailerEnd, static_cast<int>(bytes.size()) - 22 - 16) << imageSize;
    EXPECT_EQ(loader->trailerEnd, image.TrailerEnd()) << imageSize;
    EXPECT_EQ(Str(loader->GetSetting("mainclass", nullptr, nullptr, true)), "com.x.Main");
    EXPECT_EQ(Str(*loader), kLines + std::string(1, '\0'));
  }
}

TEST_F(PayloadTest, RemarkAfterPackagingIsSubtracted) {
  PackedImage image = WithSettings();
  image.remark = "a remark added later, PK but no signature";
  auto loader = Load(image);
  EXPECT_EQ(loader->trailerEnd, image.TrailerEnd());
  EXPECT_EQ(Str(loader->GetSetting("option")), "-Xmx1g");
}

TEST_F(PayloadTest, SignatureInsideRemarkShiftsTrailerEnd) {
  PackedImage image = WithSettings();
  image.remark = "ab" + EndRecord() + "tail";
  const int inner = 4;  // bytes after the inner record: all the scan counts as remark
  auto loader = Load(image);
  EXPECT_EQ(loader->trailerEnd, image.TrailerEnd() + static_cast<int>(image.remark.size()) - inner);
  // The shifted position reads a length of 0 from the zeros behind the real one.
  EXPECT_EQ(Str(loader->GetSetting("mainclass", nullptr, nullptr, true)), "");
}

TEST_F(PayloadTest, SettingsEndAtTheirFirstNul) {
  PackedImage image;
  image.settings = PackagedText(CrLf({"mainclass A"}) + std::string(1, '\0') + CrLf({"option x"}));
  auto loader = Load(image);
  EXPECT_EQ(Str(loader->GetSetting("mainclass")), "A");
  EXPECT_EQ(Str(loader->GetSetting("option")), "");
}

TEST_F(PayloadTest, SplashAndReservedBlocks) {
  PackedImage image = WithSettings();
  image.splash = std::string("\x89PNG fake image bytes", 21);
  image.reserved = "reserved!";
  auto loader = Load(image);
  ASSERT_EQ(loader->trailerEnd, image.TrailerEnd());
  EXPECT_EQ(Str(loader->GetSetting("mainclass")), "com.x.Main");

  PayloadView view(path_.c_str());
  int offset = -1, length = -1;
  ASSERT_TRUE(view.SplashBlock(loader->trailerEnd, &offset, &length));
  EXPECT_EQ(offset, static_cast<int>(image.image.size()));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(view.Bytes()) + offset, length),
            image.splash);
  ASSERT_TRUE(view.SettingsBlock(loader->trailerEnd, &offset, &length));
  EXPECT_EQ(length, static_cast<int>(image.settings.size()));
  EXPECT_EQ(offset, loader->trailerEnd - 4 - length);
}

TEST_F(PayloadTest, NoSplashWhenItsSizeIsZero) {
  PackedImage image = WithSettings();
  auto loader = Load(image);
  PayloadView view(path_.c_str());
  int offset, length;
  EXPECT_FALSE(view.SplashBlock(loader->trailerEnd, &offset, &length));
  // D = 0 and C = 0: the settings text begins 8 bytes after the image.
  ASSERT_TRUE(view.SettingsBlock(loader->trailerEnd, &offset, &length));
  EXPECT_EQ(offset, static_cast<int>(image.image.size()) + 8);
}

TEST_F(PayloadTest, UnsoundFilesHaveNoPayload) {
  const std::string good = WithSettings().Build();
  const long long size = static_cast<long long>(good.size());
  std::string noSignature = good;
  noSignature.replace(noSignature.size() - 22, 4, "PK\x05\x07");
  const struct {
    const char* name;
    std::string bytes;
    long long z;
  } cases[] = {
      {"no signature", noSignature, 22},
      {"shorter than a record", "PK\x05\x06 tiny", 22},
      {"empty file", "", 22},
      {"truncated to its image", good.substr(0, 30), 22},
      {"archive larger than the file", good, size + 10},
      {"trailer before the start", good, size - 16 - 2},
      {"only the record", EndRecord(), 22},
  };
  for (const auto& c : cases) {
    auto loader = Load(c.bytes, c.z);
    EXPECT_EQ(loader->trailerEnd, -1) << c.name;
    EXPECT_EQ(loader->GetLength(), 0) << c.name;
  }
}

TEST_F(PayloadTest, MissingOwnFileHasNoPayload) {
  ScopedExePath own(dir_ / "does-not-exist", 22);
  CSettingsLoader loader(true);
  EXPECT_EQ(loader.trailerEnd, -1);
  EXPECT_EQ(loader.GetLength(), 0);
}

TEST_F(PayloadTest, LengthsOutsideTheFileAreRejected) {
  const PackedImage image = WithSettings();
  const int imageSize = static_cast<int>(image.image.size());
  const struct {
    const char* name;
    int l;  // settings length field; 0 writes the real length
    int c;  // reserved length field (no reserved bytes are written)
    int d;  // splash length field (no splash bytes are written)
    bool splash;
  } cases[] = {
      {"negative L", -1, 0, 0, false},
      {"L beyond the start", 100000, 0, 0, false},
      {"negative C", 0, -1, 7, false},
      {"C beyond the start", 0, 100000, 7, false},
      {"negative D", 0, 0, -5, false},
      {"D beyond the start", 0, 0, imageSize + 1, false},
      {"D covering the whole image", 0, 0, imageSize, true},
  };
  for (const auto& c : cases) {
    const int l = c.l ? c.l : static_cast<int>(image.settings.size());
    const std::string bytes = image.image + Le32(c.d) + Le32(c.c) + image.settings + Le32(l) +
                              std::string(16, '\0') + image.zip;
    auto loader = Load(bytes, 22);
    const int end = static_cast<int>(bytes.size()) - 22 - 16;
    PayloadView view(path_.c_str());
    int offset = -1, length = -1;
    EXPECT_EQ(view.SplashBlock(end, &offset, &length), c.splash) << c.name;
    if (c.splash) {
      EXPECT_EQ(offset, 0) << c.name;
    }
    EXPECT_EQ(view.SettingsBlock(end, &offset, &length), c.l == 0) << c.name;
    EXPECT_EQ(Str(loader->GetSetting("mainclass")), c.l == 0 ? "com.x.Main" : "") << c.name;
  }
}

TEST_F(PayloadTest, RemarkSearchWindow) {
  const std::string record = EndRecord();
  const struct {
    const char* name;
    std::string bytes;
    bool found;
    std::string remark;
  } cases[] = {
      {"record at the first byte", record + "tail", true, "tail"},
      {"record with nothing after it", "xx" + record, true, ""},
      {"signature too close to the end",
       "x" + record +
           std::string("PK\x05\x06"
                       "1234",
                       8),
       true,
       std::string("PK\x05\x06"
                   "1234",
                   8)},
      {"shorter than a record", "PK\x05\x06", false, ""},
      {"first byte of the window", record + std::string(51200, 'r'), true, std::string(51200, 'r')},
      {"one byte before the window", record + std::string(51201, 'r'), false, ""},
  };
  for (const auto& c : cases) {
    std::string path = dir_.File("remark.bin", c.bytes);
    ScopedExePath own(path);
    CZipRemark remark;
    EXPECT_EQ(remark.found, c.found) << c.name;
    EXPECT_EQ(Str(remark), c.remark) << c.name;
  }
}

}  // namespace
