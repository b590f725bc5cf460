// The built program file as Windows shows it in its properties: product,
// description, version and copyright, and the icon beside them; and what
// Windows reads from it before the program runs: the manifest and the
// header's flags.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstddef>
#include <fstream>
#include <iterator>
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

// The manifest's text as Windows finds it: resource type 24, id 1.
std::string ManifestOf(const std::string& path) {
  const HMODULE program = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!program) return "";
  std::string text;
  if (HRSRC found = FindResourceA(program, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24))) {
    const HGLOBAL loaded = LoadResource(program, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (bytes) text.assign(static_cast<const char*>(bytes), SizeofResource(program, found));
  }
  FreeLibrary(program);
  return text;
}

// The value of every attribute `name` of every <element ...> (with or
// without a namespace prefix), in document order.
std::vector<std::string> AttributeValues(const std::string& xml, const std::string& element, const std::string& name) {
  std::vector<std::string> values;
  for (std::size_t at = 0; (at = xml.find(element, at)) != std::string::npos; at += element.size()) {
    const bool opens = at > 0 && (xml[at - 1] == '<' || xml[at - 1] == ':');
    const std::size_t end = xml.find('>', at);
    if (!opens || end == std::string::npos) continue;
    const std::string tag = xml.substr(at, end - at);
    const std::size_t attribute = tag.find(" " + name + "=\"");
    if (attribute == std::string::npos) continue;
    const std::size_t first = attribute + name.size() + 3;
    values.push_back(tag.substr(first, tag.find('"', first) - first));
  }
  return values;
}

// The text inside the first <element ...>...</element>, and its start tag.
std::string ElementText(const std::string& xml, const std::string& element, std::string* startTag = nullptr) {
  const std::size_t at = xml.find("<" + element);
  if (at == std::string::npos) return "<missing>";
  const std::size_t open = xml.find('>', at);
  const std::size_t close = xml.find("</" + element, open);
  if (open == std::string::npos || close == std::string::npos) return "<missing>";
  if (startTag) *startTag = xml.substr(at, open - at);
  return xml.substr(open + 1, close - open - 1);
}

class ProgramManifest : public ::testing::Test {
 protected:
  std::string path_ = ProgramFile();
  std::string manifest_ = ManifestOf(path_);
};

TEST_F(ProgramManifest, RunsAsTheCallerWithoutVirtualization) {
  ASSERT_FALSE(manifest_.empty()) << path_ << " carries no manifest";
  EXPECT_EQ(AttributeValues(manifest_, "requestedExecutionLevel", "level"), std::vector<std::string>{"asInvoker"});
  EXPECT_EQ(AttributeValues(manifest_, "requestedExecutionLevel", "uiAccess"), std::vector<std::string>{"false"});
  EXPECT_NE(manifest_.find("urn:schemas-microsoft-com:asm.v3"), std::string::npos) << "the trustInfo namespace";
}

TEST_F(ProgramManifest, DeclaresWindows7To11) {
  ASSERT_FALSE(manifest_.empty());
  const std::vector<std::string> expected{
      "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // 7
      "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
      "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
      "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // 10 and 11
  };
  EXPECT_EQ(AttributeValues(manifest_, "supportedOS", "Id"), expected);
  EXPECT_NE(manifest_.find("urn:schemas-microsoft-com:compatibility.v1"), std::string::npos);
}

// System aware only: per-monitor awareness would oblige the window to lay
// itself out again on WM_DPICHANGED, which it does not do.
TEST_F(ProgramManifest, IsSystemDpiAwareWithTheClassicControls) {
  ASSERT_FALSE(manifest_.empty());
  std::string tag;
  EXPECT_EQ(ElementText(manifest_, "dpiAware", &tag), "true");
  EXPECT_NE(tag.find("xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\""), std::string::npos) << tag;
  EXPECT_EQ(manifest_.find("dpiAwareness"), std::string::npos);
  EXPECT_EQ(manifest_.find("Microsoft.Windows.Common-Controls"), std::string::npos)
      << "common controls 6 would change the look";
}

TEST_F(ProgramManifest, HeaderSaysTerminalServerAware) {
  std::ifstream file(path_, std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  ASSERT_GT(bytes.size(), sizeof(IMAGE_DOS_HEADER));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
  ASSERT_EQ(dos->e_magic, IMAGE_DOS_SIGNATURE);
  ASSERT_LE(static_cast<std::size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS), bytes.size());
  // The test is built for the program's machine, so the header has this
  // build's layout.
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(bytes.data() + dos->e_lfanew);
  ASSERT_EQ(nt->Signature, IMAGE_NT_SIGNATURE);
  ASSERT_EQ(nt->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR_MAGIC);
  EXPECT_TRUE(nt->OptionalHeader.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE);
}

}  // namespace
