// The built program file as Windows shows it in its properties: product,
// description, version and copyright, and the icon beside them.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

// The program is built beside the tests: the path is relative to this test.
std::string ProgramFile() {
  char own[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, own, MAX_PATH);
  std::string folder(own, length);
  folder.resize(folder.find_last_of('\\') + 1);
  std::string relative = QV_PROGRAM_FROM_TESTS;
  for (char& c : relative)
    if (c == '/') c = '\\';
  return folder + relative;
}

class VersionResource : public ::testing::Test {
 protected:
  void SetUp() override {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path_.c_str(), &ignored);
    ASSERT_GT(size, 0u) << path_ << " has no version resource (error " << GetLastError() << ")";
    block_.resize(size);
    ASSERT_TRUE(GetFileVersionInfoA(path_.c_str(), 0, size, block_.data()));
  }

  // A string of the Chinese (code page 936) table, as GBK bytes.
  std::string Text(const char* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::string key = std::string("\\StringFileInfo\\080403A8\\") + name;
    if (!VerQueryValueA(block_.data(), key.c_str(), &value, &length) || length == 0) return "<missing>";
    return static_cast<const char*>(value);
  }

  std::string path_ = ProgramFile();
  std::vector<char> block_;
};

TEST_F(VersionResource, NamesTheProductItsVersionAndCopyright) {
  EXPECT_EQ(Text("ProductName"), "Quorvane");
  EXPECT_EQ(Text("FileDescription"), "Quorvane 局域网扫描器");
  EXPECT_EQ(Text("FileVersion"), "2.2.0.0");
  EXPECT_EQ(Text("ProductVersion"), "2.2");
  EXPECT_EQ(Text("LegalCopyright"), "Copyright (C) 2026 Quorvane");
  EXPECT_EQ(Text("OriginalFilename"), "quorvane.exe");

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block_.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(2, 2));
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(2, 2));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueA(block_.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                             &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(translation[0], 0x0804);
  EXPECT_EQ(translation[1], 936);
}

TEST_F(VersionResource, TheProgramIconStays) {
  const HMODULE program = LoadLibraryExA(path_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(program, nullptr);
  EXPECT_NE(FindResourceA(program, MAKEINTRESOURCEA(1), RT_GROUP_ICON), nullptr);
  FreeLibrary(program);
}

}  // namespace
