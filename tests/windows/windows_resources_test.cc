// Reads back, through the Windows resource and version calls, the resources launcher-pack wrote
// into a packed executable: the icon group and its images, the version information, the splash
// image, the manifest and the message strings of the launcher image.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string WindowsPath(const std::string& path) {
  std::string converted = path.size() > 1 && path[1] == ':' ? path : "Z:" + path;
  for (char& c : converted) {
    if (c == '/') c = '\\';
  }
  return converted;
}

class PackedResources : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GetFileAttributesA(path_.c_str()) == INVALID_FILE_ATTRIBUTES) {
      GTEST_SKIP() << path_ << " was not packed (no launcher-pack of the default build)";
    }
    module_ = LoadLibraryExA(path_.c_str(), nullptr,
                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr) << GetLastError();
  }
  void TearDown() override {
    if (module_) FreeLibrary(module_);
  }

  std::string Resource(LPCSTR type, LPCSTR name) {
    HRSRC found = FindResourceA(module_, name, type);
    if (!found) return {};
    const void* bytes = LockResource(LoadResource(module_, found));
    return std::string(static_cast<const char*>(bytes), SizeofResource(module_, found));
  }

  std::string path_ = WindowsPath(PACKED_RESOURCES_EXE);
  HMODULE module_ = nullptr;
};

TEST_F(PackedResources, IconGroupListsEveryImageOfTheIconFile) {
  const std::string group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEA(1));
  ASSERT_EQ(group.size(), 6u + 2 * 14);
  EXPECT_EQ(group[4], 2);
  const int sides[] = {16, 32};
  for (int i = 0; i < 2; ++i) {
    const char* entry = group.data() + 6 + 14 * i;
    EXPECT_EQ(static_cast<unsigned char>(entry[0]), sides[i]);
    const WORD id = *reinterpret_cast<const WORD*>(entry + 12);
    const DWORD size = *reinterpret_cast<const DWORD*>(entry + 8);
    std::string image = Resource(RT_ICON, MAKEINTRESOURCEA(id));
    ASSERT_EQ(image.size(), size) << "icon " << id;
    // The system picks the image for a size from the group and makes an icon of it.
    EXPECT_EQ(LookupIconIdFromDirectoryEx(reinterpret_cast<BYTE*>(const_cast<char*>(group.data())),
                                          TRUE, sides[i], sides[i], LR_DEFAULTCOLOR),
              id);
    HICON icon = CreateIconFromResourceEx(reinterpret_cast<BYTE*>(&image[0]), size, TRUE,
                                          0x00030000, sides[i], sides[i], LR_DEFAULTCOLOR);
    EXPECT_NE(icon, nullptr) << "icon " << id;
    if (icon) DestroyIcon(icon);
  }
}

TEST_F(PackedResources, VersionInformationGivesTheFieldsAndTheDefaults) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path_.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::string info(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoA(path_.c_str(), 0, size, &info[0]));
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", &value, &length));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00020001u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000007u);
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(static_cast<const WORD*>(value)[0], 0x0409);
  EXPECT_EQ(static_cast<const WORD*>(value)[1], 1200);
  auto text = [&](const char* name) -> std::string {
    const std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(info.data(), key.c_str(), &value, &length)) return "(missing)";
    return static_cast<const char*>(value);
  };
  EXPECT_EQ(text("ProductName"), "Resource Test");
  EXPECT_EQ(text("CompanyName"), "Example Company");
  EXPECT_EQ(text("ProductVersion"), "2.1.0.7");
  EXPECT_EQ(text("OriginalFilename"), "resources.exe");
  EXPECT_EQ(text("LegalCopyright"), "(missing)");
}

TEST_F(PackedResources, SplashManifestAndMessagesAreThere) {
  std::ifstream in(WindowsPath(SPLASH_BIN), std::ios::binary);
  std::stringstream splash;
  splash << in.rdbuf();
  EXPECT_EQ(Resource(RT_RCDATA, MAKEINTRESOURCEA(100)), splash.str());

  const std::string manifest = Resource(RT_MANIFEST, MAKEINTRESOURCEA(1));
  EXPECT_NE(manifest.find("<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/"
                          "WindowsSettings\">PerMonitorV2, PerMonitor</dpiAwareness>"),
            std::string::npos)
      << manifest;
  EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);
  EXPECT_EQ(manifest.find("longPathAware"), std::string::npos);
  EXPECT_EQ(manifest.find("activeCodePage"), std::string::npos);

  // The launcher image's string table came along unchanged.
  char message[256];
  ASSERT_GT(LoadStringA(module_, 1, message, sizeof message), 0);
  EXPECT_STREQ(message, "Java Runtime Environment not found.");
  ASSERT_GT(LoadStringA(module_, 13, message, sizeof message), 0);
  EXPECT_STREQ(message, "There is already an instance of this program running.");
}

}  // namespace
