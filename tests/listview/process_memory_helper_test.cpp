// ProcessMemoryHelper in both variants: virtual memory in another process,
// and the paging-file sections of the older family, run here on purpose.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <vector>

#include "list_view_test_support.h"
#include "listview/process_memory_helper.h"
#include "support/handle_count.h"

namespace qv {
namespace {

using test::ListHost;
using test::LocalList;

TEST(ProcessMemoryHelper, ThisSystemIsOfTheNtFamily) {
  EXPECT_EQ(CurrentPlatformKind(), kPlatformNt);
  EXPECT_EQ(ProcessMemoryHelper().PlatformKind(), kPlatformNt);
  EXPECT_EQ(ProcessMemoryHelper(kPlatformWindows).PlatformKind(), kPlatformWindows);
}

TEST(ProcessMemoryHelper, OpenWindowProcessNeedsAWindow) {
  ProcessMemoryHelper memory;
  EXPECT_EQ(memory.OpenWindowProcess(nullptr), nullptr);
  EXPECT_EQ(memory.OpenWindowProcess(reinterpret_cast<HWND>(0x7FFF0)), nullptr);

  LocalList list;
  const long before = test::ProcessHandleCount();
  HANDLE process = memory.OpenWindowProcess(list.list());
  ASSERT_NE(process, nullptr);
  EXPECT_EQ(::GetProcessId(process), ::GetCurrentProcessId());
  memory.CloseProcess(process);
  EXPECT_EQ(test::ProcessHandleCount(), before);
}

TEST(ProcessMemoryHelper, VirtualBlocksInAnotherProcess) {
  ListHost host;
  ASSERT_TRUE(host.Ready());
  ProcessMemoryHelper memory(kPlatformNt);
  // The first message to another process sets up what Wine keeps for it.
  const HWND list = host.NewList();
  const long before = test::ProcessHandleCount();
  HANDLE process = memory.OpenWindowProcess(list);
  ASSERT_NE(process, nullptr);
  EXPECT_EQ(::GetProcessId(process), ::GetProcessId(host.process()));

  const RemoteAddress block = memory.AllocateMemory(process, 40);
  ASSERT_NE(block, 0u);
  const char text[] = "\xC4\xE3\xBA\xC3 host";  // GBK bytes travel unchanged
  EXPECT_TRUE(memory.WriteMemory(process, block, text, sizeof text));
  const std::vector<std::uint8_t> back = memory.ReadMemory(process, block, sizeof text);
  ASSERT_EQ(back.size(), sizeof text);
  EXPECT_EQ(std::memcmp(back.data(), text, sizeof text), 0);

  EXPECT_TRUE(memory.FreeMemory(process, block));
  EXPECT_FALSE(memory.FreeMemory(process, block)) << "freed twice";
  EXPECT_FALSE(memory.FreeMemory(process, block + 8)) << "never allocated";
  EXPECT_EQ(memory.AllocateMemory(process, 0), 0u);

  // Unreadable (the first page is never mapped): all zeros, of the length
  // asked for.
  const std::vector<std::uint8_t> gone = memory.ReadMemory(process, 16, 260);
  EXPECT_EQ(gone, std::vector<std::uint8_t>(260, 0));
  EXPECT_FALSE(memory.WriteMemory(process, 16, text, sizeof text));

  memory.CloseProcess(process);
  memory.CloseProcess(nullptr);
  EXPECT_EQ(test::ProcessHandleCount(), before);
}

TEST(ProcessMemoryHelper, SectionBlocksAreRecordedUntilFreed) {
  LocalList list;
  const long before = test::ProcessHandleCount();
  ProcessMemoryHelper memory(kPlatformWindows);
  HANDLE process = memory.OpenWindowProcess(list.list());
  ASSERT_NE(process, nullptr);

  const RemoteAddress first = memory.AllocateMemory(process, 40);
  const RemoteAddress second = memory.AllocateMemory(process, 260);
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  ASSERT_EQ(memory.Mappings().size(), 2u);

  const char text[] = "section";
  EXPECT_TRUE(memory.WriteMemory(process, second, text, sizeof text));
  EXPECT_STREQ(reinterpret_cast<const char*>(second), text) << "the view is this process's memory";
  EXPECT_EQ(memory.ReadMemory(process, second, 3), (std::vector<std::uint8_t>{'s', 'e', 'c'}));

  EXPECT_TRUE(memory.FreeMemory(process, first));
  ASSERT_EQ(memory.Mappings().size(), 1u);
  EXPECT_EQ(reinterpret_cast<RemoteAddress>(memory.Mappings()[0].view.get()), second);
  EXPECT_FALSE(memory.FreeMemory(process, first));
  EXPECT_FALSE(memory.FreeMemory(process, 0x1234));
  EXPECT_EQ(memory.Mappings().size(), 1u);

  memory.CloseProcess(nullptr);
  EXPECT_EQ(memory.Mappings().size(), 1u) << "no process: nothing changes";
  memory.CloseProcess(process);
  EXPECT_TRUE(memory.Mappings().empty());
  EXPECT_EQ(test::ProcessHandleCount(), before) << "sections of blocks left at close are released";
  EXPECT_EQ(memory.AllocateMemory(nullptr, 0), 0u) << "an empty section cannot be made";
}

TEST(ProcessMemoryHelper, DestructionReleasesSectionsAndCloneOwnsNone) {
  const long before = test::ProcessHandleCount();
  {
    ProcessMemoryHelper memory(kPlatformWindows);
    ASSERT_NE(memory.AllocateMemory(nullptr, 100), 0u);
    ASSERT_NE(memory.AllocateMemory(nullptr, 100), 0u);
    const std::unique_ptr<ProcessMemoryHelper> copy = memory.Clone();
    EXPECT_EQ(copy->PlatformKind(), kPlatformWindows);
    EXPECT_TRUE(copy->Mappings().empty());
    EXPECT_GT(test::ProcessHandleCount(), before);
  }
  EXPECT_EQ(test::ProcessHandleCount(), before);
}

}  // namespace
}  // namespace qv
