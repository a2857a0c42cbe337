#include "inspect.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "pack.h"
#include "test_support.h"

namespace launcher_pack {
namespace {

using testing::MakeImage;
using testing::MakeZip;

struct Report {
  int status;
  std::string text;
  bool Has(const std::string& line) const { return text.find(line + "\n") != std::string::npos; }
};

Report Inspect(const Bytes& file) {
  std::ostringstream out;
  const int status = InspectPackedFile(file, out);
  return {status, out.str()};
}

Bytes Packed(const std::string& comment = "", const Bytes& splash = {}) {
  Bytes out;
  PackError error;
  EXPECT_TRUE(BuildPackedImage({MakeImage(),
                                MakeZip({{"a", "1"}, {"b", "22"}}, comment),
                                {"mainclass hello.Hello", "argv \"from settings\""},
                                splash},
                               &out, &error));
  return out;
}

TEST(PackInspect, ReadsBackWhatWasPacked) {
  const Bytes file = Packed("a remark", Bytes(50, 1));
  const std::int64_t jar_size =
      static_cast<std::int64_t>(MakeZip({{"a", "1"}, {"b", "22"}}).size());
  const std::int64_t trailer_end = static_cast<std::int64_t>(file.size()) - jar_size - 8 - 16;
  const Report r = Inspect(file);
  EXPECT_EQ(r.status, 0) << r.text;
  EXPECT_TRUE(r.Has("Z: " + std::to_string(jar_size))) << r.text;
  EXPECT_TRUE(r.Has("R: 8")) << r.text;
  EXPECT_TRUE(r.Has("trailerEnd: " + std::to_string(trailer_end))) << r.text;
  EXPECT_TRUE(r.Has("L: 49")) << r.text;
  EXPECT_TRUE(r.Has("C: 0")) << r.text;
  EXPECT_TRUE(r.Has("D: 50")) << r.text;
  EXPECT_TRUE(r.Has("splash image: offset " + std::to_string(MakeImage().size()) + ", 50 bytes"));
  EXPECT_TRUE(r.Has("settings: 2 lines\n  mainclass hello.Hello\n  argv \"from settings\""));
  EXPECT_TRUE(r.Has("jar entries: 2")) << r.text;
}

TEST(PackInspect, ReportsValuesThatDoNotFit) {
  const Bytes good = Packed();
  const std::size_t trailer_end = good.size() - MakeZip({{"a", "1"}, {"b", "22"}}).size() - 16;
  const std::size_t l_pos = trailer_end - 4;
  const std::size_t c_pos = l_pos - ReadLe32(good.data() + l_pos) - 4;
  const std::size_t d_pos = c_pos - 4;
  const std::size_t field = 40 + kSizeFieldMarkerLength;
  struct Case {
    std::size_t pos;
    std::int32_t value;
    std::string expected;
  };
  for (const Case& c : std::vector<Case>{
           {l_pos, 999999, "L: 999999 (does not fit the file)"},
           {l_pos, -1, "L: -1 (does not fit the file)"},
           {c_pos, 1 << 30, "C: 1073741824 (does not fit the file)"},
           {d_pos, static_cast<std::int32_t>(d_pos) + 1,
            "D: " + std::to_string(d_pos + 1) + " (does not fit the file)"},
           {d_pos, -7, "D: -7 (does not fit the file)"},
           {field, static_cast<std::int32_t>(good.size()) + 1,
            "Z: " + std::to_string(good.size() + 1) + " (does not fit the file)"},
           {field, -22, "Z: -22 (does not fit the file)"},
           {field, static_cast<std::int32_t>(good.size()) - 17,
            "trailerEnd: 1 (does not fit the file)"},
       }) {
    Bytes bad = good;
    for (int i = 0; i < 4; ++i) bad[c.pos + i] = static_cast<std::uint8_t>(c.value >> 8 * i);
    const Report r = Inspect(bad);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.Has(c.expected)) << c.expected << "\n---\n" << r.text;
  }
}

TEST(PackInspect, ReportsMissingOrRepeatedMarker) {
  EXPECT_TRUE(Inspect(Bytes{}).Has("size field: marker @@ZIP-SIZE-FIELD not found"));
  Bytes twice = Packed();
  testing::Append(twice, kSizeFieldMarker);
  const Report r = Inspect(twice);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.Has("size field: marker @@ZIP-SIZE-FIELD occurs more than once")) << r.text;
}

// The version comes from the image alone, never from the payload behind it.
TEST(PackInspect, ShowsTheVersionRecordedInTheImage) {
  const std::string record = std::string(kVersionMarker) + "9.9.9" + '\0';
  const Bytes jar = MakeZip({{"a", record}});
  for (const bool windows : {false, true}) {
    for (const bool versioned : {false, true}) {
      Bytes image = versioned ? testing::MakeVersionedImage("1.2.3") : MakeImage();
      if (windows) image[0] = 'M', image[1] = 'Z';
      Bytes file;
      PackError error;
      const Bytes splash = windows ? Bytes{} : Bytes(record.begin(), record.end());
      ASSERT_TRUE(BuildPackedImage({image, jar, {}, splash}, &file, &error)) << error.what;
      const Report r = Inspect(file);
      EXPECT_EQ(r.status, 0) << r.text;
      EXPECT_TRUE(r.Has(versioned ? "launcher version: 1.2.3" : "launcher version: unknown"))
          << r.text;
    }
  }
}

// Every truncation and many corruptions must be reported, never read out of bounds (the
// sanitizer build turns any stray read here into a failure).
TEST(PackInspect, SurvivesTruncatedAndCorruptFiles) {
  const Bytes good = Packed("", Bytes(5, 9));
  ASSERT_EQ(Inspect(good).status, 0);
  for (std::size_t n = 0; n < good.size(); ++n) {
    const Report r = Inspect(Bytes(good.begin(), good.begin() + n));
    EXPECT_EQ(r.status, 1) << "truncated to " << n << " bytes:\n" << r.text;
  }
  std::mt19937 rng(1234);
  for (int round = 0; round < 3000; ++round) {
    Bytes bad = good;
    const int flips = 1 + round % 4;
    for (int i = 0; i < flips; ++i) bad[rng() % bad.size()] = static_cast<std::uint8_t>(rng());
    const Report r = Inspect(bad);
    EXPECT_TRUE(r.status == 0 || r.status == 1);
    if (r.text.find("does not fit") != std::string::npos) {
      EXPECT_EQ(r.status, 1) << r.text;
    }
  }
}

}  // namespace
}  // namespace launcher_pack
