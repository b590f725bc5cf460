#include "export/whole_file.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "base/gbk_wide.h"
#include "base/win_handle.h"
#include "base/wine_platform.h"
#include "export/file_test_support.h"
#include "support/handle_count.h"

namespace qv {
namespace {

using test::AttributesOf;
using test::Contents;
using test::MakeFolder;
using test::Names;
using test::PutFile;
using test::SetAttributes;

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
  void SetUp() override { ASSERT_TRUE(scratch_.Created()); }

  std::wstring In(const std::wstring& name) const { return scratch_.In(name); }

  test::ScratchFolder scratch_{L"qv_whole_file_"};
  const std::wstring& folder_ = scratch_.Path();
};

using Listing = std::vector<std::wstring>;

TEST_F(WriteWholeFileTest, CreatesANewFileWithExactlyTheBytes) {
  const std::string bytes = AllByteValues();
  EXPECT_TRUE(WriteWholeFile(In(L"out.txt"), bytes));
  EXPECT_EQ(Contents(In(L"out.txt")), bytes);
  EXPECT_EQ(Names(folder_), Listing{L"out.txt"});

  EXPECT_TRUE(WriteWholeFile(In(L"empty.txt"), ""));
  EXPECT_EQ(Contents(In(L"empty.txt")), "");
}

TEST_F(WriteWholeFileTest, ReplacesALongerFileLeavingNoOldBytes) {
  PutFile(In(L"out.txt"), std::string(5000, 'o'));
  EXPECT_TRUE(WriteWholeFile(In(L"out.txt"), "new\r\n"));
  EXPECT_EQ(Contents(In(L"out.txt")), "new\r\n");
  EXPECT_EQ(Names(folder_), Listing{L"out.txt"});
}

// Wine's ReplaceFile renames the new file over the old one and carries none
// of its attributes over (measured under Wine 8: a hidden file comes back
// with the archive attribute only), and Wine keeps no alternate streams.
bool ReplaceFileKeepsAttributes() { return !RunsOnWine(); }

TEST_F(WriteWholeFileTest, ReplacingAFileKeepsItsAttributesAndStreams) {
  if (!ReplaceFileKeepsAttributes()) GTEST_SKIP() << "Wine's ReplaceFile keeps neither attributes nor streams";
  PutFile(In(L"old.txt"), "old");
  PutFile(In(L"old.txt:note"), "kept");
  ASSERT_TRUE(SetAttributes(In(L"old.txt"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_TRUE(WriteWholeFile(In(L"old.txt"), "new"));
  EXPECT_EQ(Contents(In(L"old.txt")), "new");
  EXPECT_TRUE(AttributesOf(In(L"old.txt")) & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(Contents(In(L"old.txt:note")), "kept");
  EXPECT_EQ(Names(folder_), Listing{L"old.txt"});
}

TEST_F(WriteWholeFileTest, RejectsPathsThatNameNoWritableFile) {
  EXPECT_FALSE(WriteWholeFile(L"", "x"));
  // Cut at the NUL, the path would name a.txt.
  EXPECT_FALSE(WriteWholeFile(In(L"a.txt") + std::wstring(1, L'\0') + L".log", "x"));
  EXPECT_FALSE(WriteWholeFile(folder_ + L"\\", "x"));
  EXPECT_FALSE(WriteWholeFile(In(L"no such folder\\out.txt"), "x"));
  EXPECT_EQ(Names(folder_), Listing{});
}

TEST_F(WriteWholeFileTest, LeavesAReadOnlyFileUntouched) {
  PutFile(In(L"old.txt"), "old");
  ASSERT_TRUE(SetAttributes(In(L"old.txt"), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(WriteWholeFile(In(L"old.txt"), "new"));
  EXPECT_EQ(Contents(In(L"old.txt")), "old");
  EXPECT_TRUE(AttributesOf(In(L"old.txt")) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(Names(folder_), Listing{L"old.txt"});
}

TEST_F(WriteWholeFileTest, LeavesAFileOpenWithoutSharingUntouched) {
  PutFile(In(L"old.txt"), "old");
  {
    UniqueFile holder(CreateFileW(In(L"old.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_FALSE(WriteWholeFile(In(L"old.txt"), "new"));
  }
  EXPECT_EQ(Contents(In(L"old.txt")), "old");
  EXPECT_EQ(Names(folder_), Listing{L"old.txt"});
  // Once the other handle is gone the same call succeeds.
  EXPECT_TRUE(WriteWholeFile(In(L"old.txt"), "new"));
  EXPECT_EQ(Contents(In(L"old.txt")), "new");
}

// These fail after the new text is complete in the temporary file, or while
// writing it: the old file must survive whole.
TEST_F(WriteWholeFileTest, KeepsTheOldFileWhenTheReplacementFails) {
  PutFile(In(L"old.txt"), "old");
  {
    SCOPED_TRACE("the target is open elsewhere, with full sharing");
    UniqueFile holder(CreateFileW(In(L"old.txt").c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
    ASSERT_TRUE(holder);
    EXPECT_FALSE(WriteWholeFile(In(L"old.txt"), "new"));
  }
  {
    SCOPED_TRACE("the write fails part-way");
    const HalfReadableBytes bytes;
    EXPECT_FALSE(WriteWholeFile(In(L"old.txt"), bytes.View()));
  }
  EXPECT_EQ(Contents(In(L"old.txt")), "old");

  ASSERT_TRUE(MakeFolder(In(L"folder.txt")));
  PutFile(In(L"folder.txt\\inner"), "inner");
  EXPECT_FALSE(WriteWholeFile(In(L"folder.txt"), "new")) << "a folder is not replaced";
  EXPECT_EQ(Contents(In(L"folder.txt\\inner")), "inner");

  EXPECT_EQ(Names(folder_), (Listing{L"folder.txt", L"old.txt"}));
}

// Another program (a virus scanner, the search indexer) opens the new file
// as soon as it is closed and holds it, without sharing its deletion, for a
// while: a moment is waited out, a long hold fails the write with the old
// file whole, in both ways of taking the name (replace and rename). A file
// held past the wait cannot be removed either; only such files may remain.
TEST_F(WriteWholeFileTest, WaitsOutAShortHoldOfTheNewFileButNotALongOne) {
  const auto holdFor = [](DWORD holdMs) {
    auto holder = std::make_shared<std::thread>();
    WholeFileHooks hooks;
    hooks.beforePlacing = [holder, holdMs](const std::wstring& newFile) {
      HANDLE file = CreateFileW(newFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(file, INVALID_HANDLE_VALUE);
      *holder = std::thread([file, holdMs] {
        Sleep(holdMs);
        CloseHandle(file);
      });
    };
    return std::make_pair(hooks, holder);
  };
  for (const bool existing : {true, false}) {
    SCOPED_TRACE(existing ? "replacing an old file" : "a new name");
    const std::wstring path = In(existing ? L"held.txt" : L"fresh.txt");
    if (existing) PutFile(path, "old");
    {
      auto [hooks, holder] = holdFor(500);
      EXPECT_TRUE(WriteWholeFile(path, "new", hooks));
      holder->join();
      EXPECT_EQ(Contents(path), "new");
    }
    PutFile(path, "old");
    {
      auto [hooks, holder] = holdFor(5000);
      EXPECT_FALSE(WriteWholeFile(path, "newer", hooks));
      holder->join();
      EXPECT_EQ(Contents(path), "old") << "the old file stays whole";
    }
  }
  Listing names = Names(folder_);
  names.erase(std::remove_if(names.begin(), names.end(),
                             [](const std::wstring& name) { return name.rfind(L"~qv", 0) == 0; }),
              names.end());
  EXPECT_EQ(names, (Listing{L"fresh.txt", L"held.txt"}));
}

TEST_F(WriteWholeFileTest, KeepsSpacesDotsAndGbkInNames) {
  // 0x81 0x5C is a GBK character whose trail byte equals '\'.
  const std::string trailBackslash = "\x81\x5C";
  const std::wstring folder = In(WideFromGbk("扫描 结果.v2 " + trailBackslash));
  ASSERT_TRUE(MakeFolder(folder));
  const std::vector<std::string> names = {"scan results v1.2.log", trailBackslash + " 数.txt",
                                          "局域网扫描记录.txt"};
  Listing expected;
  for (const std::string& name : names) {
    const std::wstring path = folder + L"\\" + WideFromGbk(name);
    EXPECT_TRUE(WriteWholeFile(path, name)) << path;
    EXPECT_EQ(Contents(path), name);
    expected.push_back(WideFromGbk(name));
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Names(folder), expected);
}

// The operator may name a file with characters that neither GBK nor the
// system's ANSI code page holds; a trip through either would write it under
// another name, or not at all.
TEST_F(WriteWholeFileTest, KeepsNamesThatGbkCannotHold) {
  const std::wstring folderName = L"扫描结果 — Ωμέγα";
  const std::wstring folder = In(folderName);
  ASSERT_TRUE(MakeFolder(folder));
  const std::wstring snowman = L"résumé ☃.txt";
  // Beyond the basic plane each character is two UTF-16 units.
  const std::wstring beyondThePlane = L"记录 \U00020000\U0001F4C4.txt";
  const std::string bytes = AllByteValues();
  for (const std::wstring& name : {snowman, beyondThePlane}) {
    EXPECT_TRUE(WriteWholeFile(folder + L"\\" + name, bytes)) << name;
    EXPECT_EQ(Contents(folder + L"\\" + name), bytes) << name;
  }
  // Replaced under the same name, not beside it.
  EXPECT_TRUE(WriteWholeFile(folder + L"\\" + snowman, "new\r\n"));
  EXPECT_EQ(Contents(folder + L"\\" + snowman), "new\r\n");

  EXPECT_EQ(Names(folder), (Listing{snowman, beyondThePlane}));
  EXPECT_EQ(Names(folder_), Listing{folderName});
}

// The dialog gives a deep folder in the plain form, which Windows refuses
// past MAX_PATH (Wine takes any length, so there only the outcome shows).
TEST_F(WriteWholeFileTest, WritesIntoFoldersDeeperThanMaxPath) {
  const std::wstring deep = test::MakeDeepFolder(folder_, 300);
  ASSERT_FALSE(deep.empty());
  const std::wstring path = deep + L"\\scan.txt";
  {
    SCOPED_TRACE("a new file");
    EXPECT_TRUE(WriteWholeFile(path, AllByteValues()));
    EXPECT_EQ(Contents(path), AllByteValues());
  }
  {
    SCOPED_TRACE("a longer file replaced");
    PutFile(path, std::string(5000, 'o'));
    EXPECT_TRUE(WriteWholeFile(path, "new\r\n"));
    EXPECT_EQ(Contents(path), "new\r\n");
  }
  {
    SCOPED_TRACE("the path already in the extended form");
    EXPECT_TRUE(WriteWholeFile(L"\\\\?\\" + path, "again"));
    EXPECT_EQ(Contents(path), "again");
  }
  EXPECT_EQ(Names(deep), Listing{L"scan.txt"});

  // A short name in a folder just short of the limit fits the plain form,
  // though the names made beside it for writing are longer than it.
  const std::wstring edge = In(std::wstring(MAX_PATH - 20 - folder_.size() - 1, L'e'));
  ASSERT_TRUE(MakeFolder(edge));
  const std::wstring shortName = edge + L"\\a.txt";
  ASSERT_EQ(shortName.size(), static_cast<std::size_t>(MAX_PATH - 14));
  for (const char* bytes : {"first", "second"}) {
    SCOPED_TRACE(bytes);
    EXPECT_TRUE(WriteWholeFile(shortName, bytes));
    EXPECT_EQ(Contents(shortName), bytes);
  }
  EXPECT_EQ(Names(edge), Listing{L"a.txt"});
}

TEST_F(WriteWholeFileTest, ResolvesARelativePathAgainstTheCurrentFolder) {
  wchar_t previous[MAX_PATH] = {};
  ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, previous), 0u);
  ASSERT_TRUE(SetCurrentDirectoryW(folder_.c_str()));
  const bool written = WriteWholeFile(L"relative.txt", "text");
  SetCurrentDirectoryW(previous);
  EXPECT_TRUE(written);
  EXPECT_EQ(Contents(In(L"relative.txt")), "text");
  EXPECT_EQ(Names(folder_), Listing{L"relative.txt"});
}

TEST_F(WriteWholeFileTest, ReleasesEveryHandle) {
  PutFile(In(L"old.txt"), "old");
  ASSERT_TRUE(SetAttributes(In(L"old.txt"), FILE_ATTRIBUTE_READONLY));
  const long before = test::ProcessHandleCount();
  ASSERT_GT(before, 0);
  EXPECT_TRUE(WriteWholeFile(In(L"new.txt"), "new"));
  EXPECT_FALSE(WriteWholeFile(In(L"old.txt"), "new"));
  {
    const HalfReadableBytes bytes;
    EXPECT_FALSE(WriteWholeFile(In(L"new.txt"), bytes.View()));
  }
  EXPECT_EQ(test::ProcessHandleCount(), before);
}

}  // namespace
}  // namespace qv
