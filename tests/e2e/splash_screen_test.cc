// The packaged splash image on a real (virtual) screen through the JDK's own splash library.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <thread>

#include "e2e_util.h"

namespace e2e {
namespace {

uint32_t Be32(const std::string& s, size_t at) {
  return (uint32_t(uint8_t(s[at])) << 24) | (uint32_t(uint8_t(s[at + 1])) << 16) |
         (uint32_t(uint8_t(s[at + 2])) << 8) | uint32_t(uint8_t(s[at + 3]));
}

// A 24- or 32-bit TrueColor screen dump in the X window dump format.
struct Screenshot {
  uint32_t width = 0, height = 0;
  std::vector<uint32_t> rgb;  // 0xRRGGBB per pixel
  bool Parse(const std::string& dump) {
    if (dump.size() < 100) return false;
    uint32_t header = Be32(dump, 0), bitsPerPixel = Be32(dump, 44), bytesPerLine = Be32(dump, 48);
    uint32_t colours = Be32(dump, 76), byteOrder = Be32(dump, 28);
    width = Be32(dump, 16);
    height = Be32(dump, 20);
    size_t offset = header + colours * 12;
    if (bitsPerPixel != 32 || dump.size() < offset + size_t(bytesPerLine) * height) return false;
    for (uint32_t y = 0; y < height; ++y) {
      for (uint32_t x = 0; x < width; ++x) {
        const char* p = dump.data() + offset + y * bytesPerLine + x * 4;
        uint32_t v = byteOrder == 0 ? uint32_t(uint8_t(p[0])) | uint32_t(uint8_t(p[1])) << 8 |
                                          uint32_t(uint8_t(p[2])) << 16
                                    : uint32_t(uint8_t(p[3])) | uint32_t(uint8_t(p[2])) << 8 |
                                          uint32_t(uint8_t(p[1])) << 16;
        rgb.push_back(v);
      }
    }
    return true;
  }
  uint32_t At(uint32_t x, uint32_t y) const { return rgb[y * width + x]; }
};

uint32_t Crc32(const std::string& data) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : data) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void PutBe32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(char((v >> shift) & 0xFF));
}

// Writes the screenshot as an uncompressed PNG so that a person can look at it.
void SavePng(const Screenshot& shot, const std::string& path) {
  std::string raw;
  for (uint32_t y = 0; y < shot.height; ++y) {
    raw.push_back('\0');
    for (uint32_t x = 0; x < shot.width; ++x) {
      uint32_t v = shot.At(x, y);
      raw += {char(v >> 16), char(v >> 8), char(v)};
    }
  }
  std::string deflate = "\x78\x01";
  uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  for (size_t at = 0; at < raw.size(); at += 65535) {
    size_t n = std::min<size_t>(65535, raw.size() - at);
    deflate.push_back(at + n == raw.size() ? 1 : 0);
    deflate += {char(n & 0xFF), char(n >> 8), char(~n & 0xFF), char((~n >> 8) & 0xFF)};
    deflate.append(raw, at, n);
  }
  PutBe32(deflate, (b << 16) | a);
  auto chunk = [](const std::string& type, const std::string& data) {
    std::string out;
    PutBe32(out, uint32_t(data.size()));
    out += type + data;
    PutBe32(out, Crc32(type + data));
    return out;
  };
  std::string ihdr;
  PutBe32(ihdr, shot.width);
  PutBe32(ihdr, shot.height);
  ihdr += std::string("\x08\x02\x00\x00\x00", 5);
  WriteFile(path, std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) +
                      chunk("IDAT", deflate) + chunk("IEND", ""));
}

TEST(JdkSplashScreenTest, PackagedImageAppearsBeforeMainRuns) {
  if (!Exists("/usr/bin/Xvfb") || !Exists("/usr/bin/xwd")) GTEST_SKIP() << "Xvfb or xwd missing";
  if (!BuildJdkLoadable()) GTEST_SKIP() << "the build's JDK has another word size";
  std::string display = ":" + std::to_string(100 + getpid() % 100);
  Process server({"/usr/bin/Xvfb", display, "-screen", "0", "640x480x24", "-nolisten", "tcp"});
  std::string socket = "/tmp/.X11-unix/X" + display.substr(1);
  for (int i = 0; i < 100 && !Exists(socket); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(Exists(socket));

  TempDir tmp;
  std::string exe = Pack(tmp / "app", {"mainclass e2e.Probe", "jre_order e"}, PROBE_JAR,
                         {"--splash", SPLASH_PNG});
  RunOptions options;
  options.env = {{"DISPLAY", display}, {"JAVA_HOME", LAUNCHER_JDK_HOME}, {"PROBE_MODE", "wait"}};
  Process app({exe}, options);
  ASSERT_TRUE(app.WaitForLine("ready"));
  RunResult dump = RunProgram({"/usr/bin/xwd", "-root", "-silent", "-display", display});
  app.Signal(SIGKILL);
  server.Signal(SIGTERM);
  ASSERT_EQ(dump.status, 0) << dump.err;

  Screenshot shot;
  ASSERT_TRUE(shot.Parse(dump.out));
  MakeDirs(ARTIFACT_DIR);
  SavePng(shot, std::string(ARTIFACT_DIR) + "/splash-screenshot.png");
  // The 240x120 image is centred: a red field with a blue band across its middle.
  uint32_t cx = shot.width / 2, cy = shot.height / 2;
  EXPECT_EQ(shot.At(cx, cy), 0x2040E0u);
  EXPECT_EQ(shot.At(cx, cy - 40), 0xE02020u);
  EXPECT_EQ(shot.At(cx - 110, cy + 50), 0xE02020u);
  EXPECT_EQ(shot.At(5, 5), 0x000000u);
}

}  // namespace
}  // namespace e2e
