// The whole program on the virtual LAN (testbed.sh): the real executable,
// started inside the scanner namespace, scans the bed's range and exports
// its list, driven from this process as an operator would drive it.
// run_lan_test.sh names the truth file (QV_LAN_TRUTH), the program
// (QV_LAN_PROGRAM) and a file name for the export that does not exist yet
// (QV_LAN_EXPORT).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lan/lan_rows.h"
#include "lan/lan_truth.h"
#include "support/program_driver.h"
#include "support/window_driver.h"

namespace qv::test {
namespace {

constexpr DWORD kWindowLimitMs = 60000;
// Workers end at most every 10 ms while the dispatcher walks; a second of
// idleness is the end of the scan, not a gap between two dispatches.
constexpr DWORD kIdleHoldMs = 1000;
constexpr DWORD kScanLimitMs = 120000;
constexpr DWORD kDialogLimitMs = 20000;
constexpr int kTimeoutMs = 100;

std::string FileBytes(const char* path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

class LanProgram : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    truth_ = ReadTruth(std::getenv("QV_LAN_TRUTH"));
    const char* program = std::getenv("QV_LAN_PROGRAM");
    if (truth_.empty() || program == nullptr) return;
    program_ = std::make_unique<LaunchedProgram>(std::string("\"") + program + "\"");
    if (program_->started()) driver_ = ProgramDriver::Attach(program_->id(), kWindowLimitMs);
  }
  static void TearDownTestSuite() {
    driver_.reset();
    program_.reset();  // closes the window; ends the process if it lingers
  }

  void SetUp() override {
    ASSERT_GE(truth_.size(), 4u) << "truth file missing or malformed; run through tests/lan/run_lan_test.sh";
    ASSERT_TRUE(program_ && program_->started()) << "could not start " << std::getenv("QV_LAN_PROGRAM");
    ASSERT_TRUE(driver_) << "the main window with all its components did not appear";
  }

  static const TruthRow& Scanner() { return truth_.front(); }

  static inline std::vector<TruthRow> truth_;
  static inline std::unique_ptr<LaunchedProgram> program_;
  static inline std::optional<ProgramDriver> driver_;
  static inline std::vector<ListRow> scanned_;
};

// Also the guard of every later test: nothing is started unless the range
// is the bed's own, so no probe can leave the virtual LAN.
TEST_F(LanProgram, StartsWithTheRangeOfItsOwnAddress) {
  const std::string prefix = Prefix(Scanner().address);
  EXPECT_EQ(driver_->ReadAddress(Component::IP编辑框_开始), prefix + "1");
  EXPECT_EQ(driver_->ReadAddress(Component::IP编辑框_结束), prefix + "255");
  EXPECT_EQ(driver_->ReadText(Component::编辑框_线程数), "100");
  EXPECT_EQ(driver_->ReadText(Component::编辑框_延时), "100");
  EXPECT_EQ(driver_->StatusPart(0), "准备就绪");
  EXPECT_EQ(driver_->StatusPart(1), "");
  EXPECT_TRUE(driver_->ReadRows().empty());
}

TEST_F(LanProgram, ScanListsEveryHostThatAnswersAndNoOther) {
  const std::string prefix = Prefix(Scanner().address);
  ASSERT_EQ(driver_->ReadAddress(Component::IP编辑框_开始), prefix + "1") << "not the bed's range: not scanning";
  ASSERT_EQ(driver_->ReadAddress(Component::IP编辑框_结束), prefix + "255") << "not the bed's range: not scanning";
  ASSERT_EQ(driver_->ReadText(Component::编辑框_延时), std::to_string(kTimeoutMs));

  ASSERT_TRUE(driver_->Click(Component::按钮_开始扫描));
  ASSERT_TRUE(driver_->WaitForScanEnd(kIdleHoldMs, kScanLimitMs))
      << "still scanning: status bar shows '" << driver_->StatusPart(0) << "' and '" << driver_->StatusPart(1) << "'";
  scanned_ = driver_->ReadRows();
  ASSERT_NO_FATAL_FAILURE(ExpectRowsMatchTruth(scanned_, truth_, kTimeoutMs));
  EXPECT_EQ(driver_->StatusPart(2), "存活主机数：" + std::to_string(scanned_.size()));
}

TEST_F(LanProgram, ExportWritesTheListAsShownThroughTheSaveDialog) {
  ASSERT_FALSE(scanned_.empty()) << "needs the scan of the previous test";
  const char* path = std::getenv("QV_LAN_EXPORT");
  ASSERT_NE(path, nullptr);

  const ExportOutcome outcome = driver_->Export(path, kDialogLimitMs);
  ASSERT_TRUE(outcome.dialogAnswered) << "the save dialog did not appear or did not take the name";
  EXPECT_EQ(outcome.initialName, "局域网扫描记录");
  ASSERT_TRUE(outcome.messageSeen) << "no message box after the save dialog";
  EXPECT_EQ(outcome.messageText, "导出成功！");
  EXPECT_EQ(outcome.messageCaption, WindowText(driver_->Window()));
  EXPECT_EQ(outcome.messageCaption, kWindowCaption);

  // Built from the truth; only the reply times come from the list.
  std::string expected = "IP地址" + std::string(15, ' ') + "主机名称" + std::string(15, ' ') + "MAC地址" +
                         std::string(12, ' ') + "延迟\r\n";
  const std::vector<TruthRow> hosts = ExpectedRows(truth_);
  ASSERT_EQ(hosts.size(), scanned_.size());
  const std::string gap(10, ' ');
  for (std::size_t i = 0; i < hosts.size(); ++i)
    expected += Padded(hosts[i].address) + gap + hosts[i].name + gap + hosts[i].mac + gap + scanned_[i].subTexts[2] +
                "\r\n";
  EXPECT_EQ(FileBytes(path), expected);
}

}  // namespace
}  // namespace qv::test
