#include "export/whole_file.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/win_handle.h"
#include "export/file_test_support.h"
#include "support/handle_count.h"

namespace qv {
namespace {

using test::Contents;
using test::Names;
using test::PutFile;
using test::RemoveTree;

// Every byte value, with CR, LF, CR LF, Ctrl-Z and NUL among them: a
// text-mode write would change some of them.
std::string AllByteValues() {
  std::string bytes = "line\r\nbare\nlone\r";
  for (int value = 0; value < 256; ++value) bytes.push_back(static_cast<char>(value));
  return bytes;
}

// Bytes whose second half lies on a page that cannot be read, so WriteFile
// fails after the temporary file exists, as it would on a full disk.
class HalfReadableBytes {
 public:
  HalfReadableBytes() {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    page_ = system.dwPageSize;
    base_ = static_cast<char*>(VirtualAlloc(nullptr, 2 * page_, MEM_RESERVE, PAGE_NOACCESS));
    if (base_ && VirtualAlloc(base_, page_, MEM_COMMIT, PAGE_READWRITE)) std::fill_n(base_, page_, 'n');
  }
  HalfReadableBytes(const HalfReadableBytes&) = delete;
  HalfReadableBytes& operator=(const HalfReadableBytes&) = delete;
  ~HalfReadableBytes() {
    if (base_) VirtualFree(base_, 0, MEM_RELEASE);
  }
  std::string_view View() const { return {base_, 2 * page_}; }

 private:
  char* base_ = nullptr;
  std::size_t page_ = 0;
};

class WriteWholeFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH] = {};
    ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
    folder_ = std::string(temp) + "qv_whole_file_" + std::to_string(GetCurrentProcessId()) + "_" +
              std::to_string(GetTickCount64());
    ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr)) << folder_;
  }
  void TearDown() override { RemoveTree(folder_); }

  std::string In(const std::string& name) const { return folder_ + "\\" + name; }

  std::string folder_;
};

using Listing = std::vector<std::string>;

TEST_F(WriteWholeFileTest, CreatesANewFileWithExactlyTheBytes) {
  const std::string bytes = AllByteValues();
  EXPECT_TRUE(WriteWholeFile(In("out.txt"), bytes));
  EXPECT_EQ(Contents(In("out.txt")), bytes);
  EXPECT_EQ(Names(folder_), Listing{"out.txt"});

  EXPECT_TRUE(WriteWholeFile(In("empty.txt"), ""));
  EXPECT_EQ(Contents(In("empty.txt")), "");
}

TEST_F(WriteWholeFileTest, ReplacesALongerFileLeavingNoOldBytes) {
  PutFile(In("out.txt"), std::string(5000, 'o'));
  EXPECT_TRUE(WriteWholeFile(In("out.txt"), "new\r\n"));
  EXPECT_EQ(Contents(In("out.txt")), "new\r\n");
  EXPECT_EQ(Names(folder_), Listing{"out.txt"});
}

// Wine's ReplaceFile renames the new file over the old one and carries none
// of its attributes over (measured under Wine 8: a hidden file comes back
// with the archive attribute only), and Wine keeps no alternate streams.
bool ReplaceFileKeepsAttributes() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr;
}

TEST_F(WriteWholeFileTest, ReplacingAFileKeepsItsAttributesAndStreams) {
  if (!ReplaceFileKeepsAttributes()) GTEST_SKIP() << "Wine's ReplaceFile keeps neither attributes nor streams";
  PutFile(In("old.txt"), "old");
  PutFile(In("old.txt:note"), "kept");
  ASSERT_TRUE(SetFileAttributesA(In("old.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_TRUE(WriteWholeFile(In("old.txt"), "new"));
  EXPECT_EQ(Contents(In("old.txt")), "new");
  EXPECT_TRUE(GetFileAttributesA(In("old.txt").c_str()) & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(Contents(In("old.txt:note")), "kept");
  EXPECT_EQ(Names(folder_), Listing{"old.txt"});
}

TEST_F(WriteWholeFileTest, RejectsPathsThatNameNoWritableFile) {
  EXPECT_FALSE(WriteWholeFile("", "x"));
  // Cut at the NUL, the path would name a.txt.
  EXPECT_FALSE(WriteWholeFile(In("a.txt") + std::string(1, '\0') + ".log", "x"));
  EXPECT_FALSE(WriteWholeFile(folder_ + "\\", "x"));
  EXPECT_FALSE(WriteWholeFile(In("no such folder\\out.txt"), "x"));
  EXPECT_EQ(Names(folder_), Listing{});
}

TEST_F(WriteWholeFileTest, LeavesAReadOnlyFileUntouched) {
  PutFile(In("old.txt"), "old");
  ASSERT_TRUE(SetFileAttributesA(In("old.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(WriteWholeFile(In("old.txt"), "new"));
  EXPECT_EQ(Contents(In("old.txt")), "old");
  EXPECT_TRUE(GetFileAttributesA(In("old.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(Names(folder_), Listing{"old.txt"});
}

TEST_F(WriteWholeFileTest, LeavesAFileOpenWithoutSharingUntouched) {
  PutFile(In("old.txt"), "old");
  {
    UniqueFile holder(CreateFileA(In("old.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_FALSE(WriteWholeFile(In("old.txt"), "new"));
  }
  EXPECT_EQ(Contents(In("old.txt")), "old");
  EXPECT_EQ(Names(folder_), Listing{"old.txt"});
  // Once the other handle is gone the same call succeeds.
  EXPECT_TRUE(WriteWholeFile(In("old.txt"), "new"));
  EXPECT_EQ(Contents(In("old.txt")), "new");
}

// These fail after the new text is complete in the temporary file, or while
// writing it: the old file must survive whole.
TEST_F(WriteWholeFileTest, KeepsTheOldFileWhenTheReplacementFails) {
  PutFile(In("old.txt"), "old");
  {
    SCOPED_TRACE("the target is open elsewhere, with full sharing");
    UniqueFile holder(CreateFileA(In("old.txt").c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
    ASSERT_TRUE(holder);
    EXPECT_FALSE(WriteWholeFile(In("old.txt"), "new"));
  }
  {
    SCOPED_TRACE("the write fails part-way");
    const HalfReadableBytes bytes;
    EXPECT_FALSE(WriteWholeFile(In("old.txt"), bytes.View()));
  }
  EXPECT_EQ(Contents(In("old.txt")), "old");

  ASSERT_TRUE(CreateDirectoryA(In("folder.txt").c_str(), nullptr));
  PutFile(In("folder.txt\\inner"), "inner");
  EXPECT_FALSE(WriteWholeFile(In("folder.txt"), "new")) << "a folder is not replaced";
  EXPECT_EQ(Contents(In("folder.txt\\inner")), "inner");

  EXPECT_EQ(Names(folder_), (Listing{"folder.txt", "old.txt"}));
}

TEST_F(WriteWholeFileTest, KeepsSpacesDotsAndGbkInNames) {
  // 0x81 0x5C is a GBK character whose trail byte equals '\'.
  const std::string trailBackslash = "\x81\x5C";
  const std::string folder = In("扫描 结果.v2 " + trailBackslash);
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  const Listing names = {"scan results v1.2.log", trailBackslash + " 数.txt", "局域网扫描记录.txt"};
  for (const std::string& name : names) {
    EXPECT_TRUE(WriteWholeFile(folder + "\\" + name, name)) << name;
    EXPECT_EQ(Contents(folder + "\\" + name), name);
  }
  Listing sorted = names;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(Names(folder), sorted);
}

TEST_F(WriteWholeFileTest, ResolvesARelativePathAgainstTheCurrentFolder) {
  char previous[MAX_PATH] = {};
  ASSERT_NE(GetCurrentDirectoryA(MAX_PATH, previous), 0u);
  ASSERT_TRUE(SetCurrentDirectoryA(folder_.c_str()));
  const bool written = WriteWholeFile("relative.txt", "text");
  SetCurrentDirectoryA(previous);
  EXPECT_TRUE(written);
  EXPECT_EQ(Contents(In("relative.txt")), "text");
  EXPECT_EQ(Names(folder_), Listing{"relative.txt"});
}

TEST_F(WriteWholeFileTest, ReleasesEveryHandle) {
  PutFile(In("old.txt"), "old");
  ASSERT_TRUE(SetFileAttributesA(In("old.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  const long before = test::ProcessHandleCount();
  ASSERT_GT(before, 0);
  EXPECT_TRUE(WriteWholeFile(In("new.txt"), "new"));
  EXPECT_FALSE(WriteWholeFile(In("old.txt"), "new"));
  {
    const HalfReadableBytes bytes;
    EXPECT_FALSE(WriteWholeFile(In("new.txt"), bytes.View()));
  }
  EXPECT_EQ(test::ProcessHandleCount(), before);
}

}  // namespace
}  // namespace qv
