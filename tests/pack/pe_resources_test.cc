// Resources written into Windows images: a small image laid out as a linker would, and the
// Windows launcher image of the windows preset when it has been built.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "test_support.h"
#include "windows_resources.h"

namespace launcher_pack {
namespace {

using testing::Append;
using testing::AppendLe;

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t Get32(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(ReadLe32(b.data() + at));
}

// A resource tree at address rva: a named type "CUSTOM" first, then RT_STRING 1 and
// RT_MANIFEST 2, one language each; directories, data entries, the name, then the data.
Bytes LinkerTree(std::uint32_t rva) {
  const std::string data[] = {"custom data", "message strings", "<old manifest/>"};
  Bytes t;
  auto directory = [&](int named, int ids) {
    AppendLe(t, 0, 4), AppendLe(t, 0, 4), AppendLe(t, 0, 4);
    AppendLe(t, named, 2), AppendLe(t, ids, 2);
  };
  directory(1, 2);
  const std::uint32_t types[] = {0x80000000u | 232, kRtString, kRtManifest};
  for (int i = 0; i < 3; ++i) AppendLe(t, types[i], 4), AppendLe(t, 0x80000000u | (40 + 24 * i), 4);
  for (int i = 0; i < 3; ++i)
    directory(0, 1), AppendLe(t, i == 2 ? 2 : 1, 4), AppendLe(t, 0x80000000u | (112 + 24 * i), 4);
  for (int i = 0; i < 3; ++i) directory(0, 1), AppendLe(t, 0x409, 4), AppendLe(t, 184 + 16 * i, 4);
  std::uint32_t at = 248;
  for (const std::string& d : data) {
    AppendLe(t, rva + at, 4), AppendLe(t, static_cast<std::uint32_t>(d.size()), 4);
    AppendLe(t, 0, 4), AppendLe(t, 0, 4);  // code page, reserved
    at += 16;                              // each datum gets 16 bytes below
  }
  AppendLe(t, 6, 2);
  for (char c : std::string("CUSTOM")) AppendLe(t, static_cast<std::uint8_t>(c), 2);
  t.resize(248, 0);
  for (const std::string& d : data) Append(t, d), t.resize(t.size() + 16 - d.size(), 0);
  return t;
}

// A PE32+ image as mingw lays one out: .rdata with the size field marker, .rsrc, then .reloc,
// then a COFF symbol table; optionally a certificate table at the end. Its headers have room
// for two more section headers.
Bytes MakePe(bool certificate = false) {
  Bytes pe(0xC00, 0);
  pe[0] = 'M', pe[1] = 'Z';
  Put32(pe, 0x3C, 0x40);
  std::copy_n("PE\0\0", 4, pe.begin() + 0x40);
  const std::size_t coff = 0x44, opt = 0x58, table = opt + 240;
  Put32(pe, coff, 0x8664 | (3u << 16));  // machine, 3 sections
  Put32(pe, coff + 8, 0xA00);            // symbol table
  Put32(pe, coff + 16, 240 | (0x22u << 16));
  Put32(pe, opt, 0x20B);
  Put32(pe, opt + 8, 0x600);  // initialized data
  Put32(pe, opt + 32, 0x1000), Put32(pe, opt + 36, 0x200);
  Put32(pe, opt + 56, 0x4000), Put32(pe, opt + 60, 0x400), Put32(pe, opt + 64, 0x1234);
  Put32(pe, opt + 108, 16);
  const Bytes tree = LinkerTree(0x2000);
  Put32(pe, opt + 112 + 8 * 2, 0x2000), Put32(pe, opt + 112 + 8 * 2 + 4, 0x150);
  Put32(pe, opt + 112 + 8 * 5, 0x3000), Put32(pe, opt + 112 + 8 * 5 + 4, 0x10);
  const char* names[] = {".rdata", ".rsrc", ".reloc"};
  for (std::uint32_t i = 0; i < 3; ++i) {
    const std::size_t h = table + 40 * i;
    std::copy_n(names[i], std::strlen(names[i]), pe.begin() + h);
    Put32(pe, h + 8, i == 1 ? static_cast<std::uint32_t>(tree.size()) : 0x100);
    Put32(pe, h + 12, 0x1000 * (i + 1)), Put32(pe, h + 16, 0x200),
        Put32(pe, h + 20, 0x400 + 0x200 * i);
    Put32(pe, h + 36, 0x40000040);
  }
  const std::string rdata =
      std::string(kSizeFieldMarker) + std::string(8, '\xAA') + "@@LAUNCHER-VERSION 7.7.7";
  std::copy(rdata.begin(), rdata.end(), pe.begin() + 0x400);
  std::copy(tree.begin(), tree.end(), pe.begin() + 0x600);
  std::copy_n("SYMBOLS", 7, pe.begin() + 0xA00);
  if (certificate) {
    Put32(pe, opt + 112 + 8 * 4, static_cast<std::uint32_t>(pe.size()));
    Put32(pe, opt + 112 + 8 * 4 + 4, 0x40);
    pe.resize(pe.size() + 0x40, 0xCE);
  }
  return pe;
}

// An .ico file of a 16-pixel bitmap and a 32-pixel PNG image.
Bytes MakeIco() {
  Bytes bitmap(40 + 16 * 16 * 4 + 64, 0x11), png(300, 0x22);
  Put32(bitmap, 0, 40);
  std::copy_n("\x89PNG\r\n\x1A\n", 8, png.begin());
  Bytes ico;
  AppendLe(ico, 0, 2), AppendLe(ico, 1, 2), AppendLe(ico, 2, 2);
  std::uint32_t offset = 6 + 2 * 16;
  for (const Bytes* image : {&bitmap, &png}) {
    const std::uint8_t side = image == &bitmap ? 16 : 32;
    ico.insert(ico.end(), {side, side, 0, 0}), AppendLe(ico, 1, 2), AppendLe(ico, 32, 2);
    AppendLe(ico, static_cast<std::uint32_t>(image->size()), 4), AppendLe(ico, offset, 4);
    offset += static_cast<std::uint32_t>(image->size());
  }
  Append(ico, bitmap), Append(ico, png);
  return ico;
}

TEST(PackResources, NewSectionHoldsTheMergedTreeAndTheHeadersFollow) {
  const Bytes image = MakePe();
  std::vector<Resource> added;
  std::string error;
  ASSERT_TRUE(PackedResources({MakeIco(), {}, "demo.exe"}, Bytes{'S', 'P'}, &added, &error));
  Bytes out;
  std::vector<std::string> warnings;
  ASSERT_TRUE(ReplaceResources(image, added, &out, &warnings, &error)) << error;
  EXPECT_TRUE(warnings.empty());
  PeImage pe;
  ASSERT_TRUE(ParsePeImage(out.data(), out.size(), &pe, &error)) << error;
  ASSERT_EQ(pe.sections.size(), 4u);
  // After .reloc in memory; in the file right after the sections' data, the symbols behind it.
  const PeSection& section = pe.sections[3];
  EXPECT_EQ(section.virtual_address, 0x4000u);
  EXPECT_EQ(section.raw_offset, 0xA00u);
  EXPECT_EQ(section.raw_size % 0x200, 0u);
  const std::uint32_t symbols = Get32(out, 0x44 + 8);
  EXPECT_EQ(symbols, 0xA00 + section.raw_size);
  EXPECT_EQ(std::string(out.begin() + symbols, out.begin() + symbols + 7), "SYMBOLS");
  EXPECT_EQ(Get32(out, 0x58 + 56), 0x4000 + ((section.virtual_size + 0xFFF) & ~0xFFFu));
  EXPECT_EQ(Get32(out, 0x58 + 8), 0x600 + section.raw_size);  // initialized data
  EXPECT_EQ(Get32(out, 0x58 + 64), 0u);                       // checksum
  EXPECT_EQ(ReadDataDirectory(out.data(), pe, kResourceDirectory).address, 0x4000u);
  // The old sections' bytes, the size field among them, stay where they were.
  EXPECT_TRUE(std::equal(image.begin() + 0x400, image.begin() + 0xA00, out.begin() + 0x400));

  // In directory order (names first); the old manifest, number 2, gave way to the new one.
  std::vector<Resource> all;
  ASSERT_TRUE(ListResources(out.data(), out.size(), &all, &error)) << error;
  std::vector<std::string> listed;
  for (const Resource& r : all) {
    listed.push_back(DescribeResourceType(r.type) + " " + DescribeResourceName(r.name));
  }
  EXPECT_EQ(listed, (std::vector<std::string>{"\"CUSTOM\" 1", "RT_ICON 1", "RT_ICON 2",
                                              "RT_STRING 1", "RT_RCDATA 100", "RT_GROUP_ICON 1",
                                              "RT_VERSION 1", "RT_MANIFEST 1"}));
  ASSERT_EQ(all.size(), 8u);
  EXPECT_EQ(all[3].data, Bytes(image.begin() + 0x600 + 264, image.begin() + 0x600 + 279));
  EXPECT_EQ(all[4].data, (Bytes{'S', 'P'}));
  // Packed again with one icon image and no splash image: the icon's second image goes, the
  // splash image stays, nothing is doubled.
  Bytes one = MakeIco();
  one[4] = 1;
  ASSERT_TRUE(PackedResources({one, {}, "demo.exe"}, {}, &added, &error));
  Bytes twice;
  ASSERT_TRUE(ReplaceResources(out, added, &twice, &warnings, &error)) << error;
  ASSERT_TRUE(ListResources(twice.data(), twice.size(), &all, &error)) << error;
  EXPECT_EQ(all.size(), 7u);
}

TEST(PackResources, IconGroupNumbersEachImageAndBadIconsAreRefused) {
  const Bytes ico = MakeIco();
  std::vector<Resource> icons;
  std::string error;
  ASSERT_TRUE(IconResources(ico, &icons, &error)) << error;
  ASSERT_EQ(icons.size(), 3u);
  const Bytes& group = icons[2].data;
  ASSERT_EQ(group.size(), 6u + 2 * 14);
  for (int i = 0; i < 2; ++i) {
    const std::uint8_t* entry = group.data() + 6 + 14 * i;
    EXPECT_EQ(entry[0], i == 0 ? 16 : 32);
    EXPECT_EQ(static_cast<std::size_t>(ReadLe32(entry + 8)), icons[i].data.size());
    EXPECT_EQ(ReadLe16(entry + 12), i + 1);  // a 2-byte resource number, not a file offset
  }
  Bytes cursor = ico, outside = ico, text = ico;
  cursor[2] = 2;
  Put32(outside, 6 + 16 + 12, static_cast<std::uint32_t>(ico.size()) - 10);
  Put32(text, 6 + 2 * 16, 0x74786574);  // "text" where a bitmap header's size belongs
  for (const auto& [bad, message] : std::vector<std::pair<Bytes, std::string>>{
           {cursor, "not an icon file"},
           {Bytes(ico.begin(), ico.begin() + 20), "does not fit"},
           {outside, "icon image 2 lies outside"},
           {text, "icon image 1 is neither"}}) {
    EXPECT_FALSE(IconResources(bad, &icons, &error));
    EXPECT_NE(error.find(message), std::string::npos) << error;
  }
}

bool HasUtf16(const Bytes& data, const std::u16string& text) {
  Bytes encoded;
  for (char16_t c : text) AppendLe(encoded, c, 2);
  return std::search(data.begin(), data.end(), encoded.begin(), encoded.end()) != data.end();
}

TEST(PackResources, VersionInfoFieldsAndDefaults) {
  VersionInfo info;
  std::string error;
  ASSERT_TRUE(AddVersionInfoField("file-version=1.2.3", &info, &error)) << error;
  ASSERT_TRUE(AddVersionInfoField("company=Caf\xC3\xA9 \xF0\x9F\x98\x80", &info, &error));
  for (const auto& [bad, message] : std::vector<std::pair<std::string, std::string>>{
           {"file-version=2", "more than once"},
           {"colour=red", "KEY=VALUE"},
           {"product-name", "KEY=VALUE"},
           {"product-version=1.2.3.4.5", "not 1 to 4 numbers"},
           {"product-version=65536", "not 1 to 4"},
           {"product-version=1..2", "not 1 to 4"},
           {"description=\xFF", "not valid UTF-8"},
           {"copyright=" + std::string(1025, 'c'), "longer than 1024"}}) {
    EXPECT_FALSE(AddVersionInfoField(bad, &info, &error)) << bad;
    EXPECT_NE(error.find(message), std::string::npos) << error;
  }
  const Bytes v = VersionResource(info, "Tool.EXE").data;
  EXPECT_EQ(ReadLe16(v.data()), v.size());
  const std::size_t fixed = 40;  // after the header and "VS_VERSION_INFO", 4-byte aligned
  EXPECT_EQ(Get32(v, fixed), 0xFEEF04BDu);
  EXPECT_EQ(Get32(v, fixed + 8), 0x00010002u);   // file version 1.2
  EXPECT_EQ(Get32(v, fixed + 12), 0x00030000u);  // .3.0
  EXPECT_EQ(Get32(v, fixed + 16), 0x00010002u);  // the product version follows it
  for (const char16_t* text : {u"Caf\u00E9 \U0001F600", u"1.2.3", u"Tool.EXE", u"Tool"}) {
    EXPECT_TRUE(HasUtf16(v, text));
  }
  EXPECT_FALSE(HasUtf16(v, u"LegalCopyright"));
}

TEST(PackResources, CertificateIsDroppedAndBrokenImagesAreRefused) {
  const Bytes signed_image = MakePe(true);
  std::vector<Resource> added = {ManifestResource()};
  Bytes out;
  std::vector<std::string> warnings;
  std::string error;
  ASSERT_TRUE(ReplaceResources(signed_image, added, &out, &warnings, &error)) << error;
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("certificate table"), std::string::npos);
  EXPECT_EQ(Get32(out, 0x58 + 112 + 8 * 4), 0u);
  EXPECT_EQ(std::count(out.begin(), out.end(), 0xCE), 0);  // its bytes are cut off

  Bytes full = MakePe(), in_use = MakePe();
  Put32(full, 0x58 + 60, 0x1D0);  // the headers end before a fourth section header fits
  in_use[0x148 + 3 * 40 + 4] = 1;
  Bytes outside = MakePe();
  Put32(outside, 0x600 + 184, 0x2F00);  // the first datum past the end of .rsrc's data
  Bytes too_long = MakePe();
  Put32(too_long, 0x600 + 184 + 4, 0x1000);  // the first datum runs past .rsrc's data
  Bytes loop = MakePe();
  Put32(loop, 0x600 + 40 + 12, 0xFFFF);  // a directory claims 65535 entries
  for (const auto& [bad, message] :
       std::vector<std::pair<Bytes, std::string>>{{Bytes(100, 'x'), "not a PE image"},
                                                  {full, "no room for another section header"},
                                                  {in_use, "in use"},
                                                  {outside, "outside the sections' data"},
                                                  {too_long, "outside the sections' data"},
                                                  {loop, "outside it"}}) {
    EXPECT_FALSE(ReplaceResources(bad, added, &out, &warnings, &error));
    EXPECT_NE(error.find(message), std::string::npos) << message << ": " << error;
  }
  // No truncation or corruption makes it read outside the image (the sanitizer build checks).
  const Bytes good = MakePe();
  for (std::size_t n = 0; n < good.size(); n += 7) {
    ReplaceResources(Bytes(good.begin(), good.begin() + n), added, &out, &warnings, &error);
  }
  std::mt19937 rng(99);
  for (int round = 0; round < 4000; ++round) {
    Bytes bad = good;
    for (int i = 0; i < 1 + round % 5; ++i) bad[rng() % 0x800] = static_cast<std::uint8_t>(rng());
    if (ReplaceResources(bad, added, &out, &warnings, &error)) {
      PeImage pe;
      EXPECT_TRUE(ParsePeImage(out.data(), out.size(), &pe, &error)) << error;
    }
  }
}

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    ::pclose(p);
  }
  return out;
}

// The real launcher image through the tool, read back by --inspect and by icoutils' wrestool,
// which rebuilds the .ico file from the group on its own.
TEST(PackWindowsImage, InspectAndWrestoolReadTheResources) {
  if (!std::filesystem::exists(LAUNCHER_WINDOWS_IMAGE)) {
    GTEST_SKIP() << "no Windows image at " << LAUNCHER_WINDOWS_IMAGE << " (build windows)";
  }
  testing::TempDir dir;
  const std::string exe = dir / "demo.exe", ico = dir / "app.ico";
  testing::WriteBytes(dir / "app.jar", testing::MakeZip({{"a/B.class", "x"}}));
  testing::WriteBytes(ico, MakeIco());
  testing::WriteBytes(dir / "splash.png", std::string("splash image bytes"));
  const std::vector<std::string> args = {"--jar", dir / "app.jar", "--icon", ico, "-o", exe};
  auto with = [&](std::vector<std::string> front) {
    front.insert(front.end(), args.begin(), args.end());
    return testing::RunTool(front);
  };
  const auto packed =
      with({"--launcher", LAUNCHER_WINDOWS_IMAGE, "--set", "mainclass a.B", "--splash",
            dir / "splash.png", "--version-info", "product-name=Demo App"});
  ASSERT_EQ(packed.status, 0) << packed.err;
  const auto shown = testing::RunTool({"--inspect", exe});
  EXPECT_EQ(shown.status, 0) << shown.out;
  for (const char* line : {"resources: 7\n", "  RT_STRING 1 language 1033: ",
                           "  RT_RCDATA 100 language 1033: 18 bytes\n",
                           "  RT_ICON 2 language 1033: 300 bytes\n", "jar entries: 1\n"}) {
    EXPECT_NE(shown.out.find(line), std::string::npos) << line << "\n" << shown.out;
  }
  // The Windows launcher keeps no class-data archives, so its settings get no cds line.
  EXPECT_EQ(shown.out.find("cds auto"), std::string::npos) << shown.out;
  testing::WriteBytes(dir / "linux", testing::MakeImage());  // only Windows images take an icon
  EXPECT_NE(with({"--launcher", dir / "linux"}).err.find("not a Windows image"), std::string::npos);
  const auto embedded =
      with({"--launcher", LAUNCHER_WINDOWS_IMAGE, "--runtime", dir.path(), "--embed-runtime"});
  EXPECT_NE(embedded.err.find("not supported yet"), std::string::npos) << embedded.err;

  if (Output("command -v wrestool").empty()) GTEST_SKIP() << "no wrestool (package icoutils)";
  const std::string listing = Output("wrestool -l " + exe);
  for (const char* item : {"--type=3 --name=1 ", "--type=3 --name=2 ",
                           "--type=6 --name=1 --language=1033", "--type=10 --name=100 ",
                           "--type=14 --name=1 ", "--type=16 --name=1 ", "--type=24 --name=1 "}) {
    EXPECT_NE(listing.find(item), std::string::npos) << item << "\n" << listing;
  }
  EXPECT_EQ(Output("wrestool -x --raw -t10 -n100 " + exe), "splash image bytes");
  const Bytes icon = MakeIco();
  const std::string rebuilt = Output("wrestool -x -t14 " + exe);
  ASSERT_GE(rebuilt.size(), icon.size());  // wrestool may pad the end with zeros
  EXPECT_EQ(rebuilt.substr(0, icon.size()), std::string(icon.begin(), icon.end()));
  const std::string version = Output("wrestool -x --raw -t16 " + exe);
  EXPECT_NE(version.find(std::string("D\0e\0m\0o\0 \0A\0p\0p\0", 16)), std::string::npos);
}

}  // namespace
}  // namespace launcher_pack
