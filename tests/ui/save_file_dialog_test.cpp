// The save-file dialog component: its filter list, and the real dialog
// answered from another thread the way an operator would.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>

#include "support/save_dialog_answerer.h"
#include "ui/save_file_dialog.h"
#include "window_test_support.h"

namespace qv::test {
namespace {

using namespace std::string_literals;

TEST(FilterToDialogList, SplitsAtBarsButNeverInsideADoubleByteCharacter) {
  EXPECT_EQ(FilterToDialogList("文本文件（*.txt)|*.txt|日志文件（*.log)|*.log"),
            "文本文件（*.txt)\0*.txt\0日志文件（*.log)\0*.log\0\0"s);
  // 0x81 0x7C is one GBK character whose second byte is '|'.
  EXPECT_EQ(FilterToDialogList("a\x81\x7C|*.a"), "a\x81\x7C\0*.a\0\0"s);
  EXPECT_EQ(FilterToDialogList(""), "\0\0"s);
  EXPECT_EQ(FilterToDialogList("x\x81"), "x\x81\0\0"s) << "a lone lead byte at the end";
}

struct DialogSeen {
  std::string name;
  int filterCount = -1;
  int filterSelected = -1;
  std::string title;
};

// Waits for the dialog on the UI thread, notes what it shows, then types the
// name (when given) and confirms, or cancels.
class Operator {
 public:
  Operator(DWORD uiThread, std::wstring typed, bool confirm)
      : worker_([this, uiThread, typed = std::move(typed), confirm] { Run(uiThread, typed, confirm); }) {}
  ~Operator() { worker_.join(); }
  bool sawDialog() const { return sawDialog_; }
  const DialogSeen& seen() const { return seen_; }

 private:
  void Run(DWORD uiThread, const std::wstring& typed, bool confirm) {
    const std::optional<SaveDialogAnswerer> dialog = SaveDialogAnswerer::WaitFor(DialogsOf::Thread(uiThread), 10000);
    if (!dialog) return;
    seen_.name = dialog->Name();
    seen_.title = dialog->Title();
    seen_.filterCount = dialog->FilterCount();
    seen_.filterSelected = dialog->ChosenFilter();
    sawDialog_ = true;
    if (confirm) {
      dialog->TypeName(typed);
      dialog->PressSave();
    } else {
      dialog->PressCancel();
    }
  }

  DialogSeen seen_;
  std::atomic<bool> sawDialog_{false};
  std::thread worker_;
};

using SaveFileDialogTest = MainWindowTest;

TEST_F(SaveFileDialogTest, CancelKeepsTheFileName) {
  SaveFileDialog& dialog = window_->SaveDialog();
  bool confirmed = true;
  {
    Operator person(GetCurrentThreadId(), L"", false);
    confirmed = dialog.Open(window_->Handle());
    EXPECT_TRUE(person.sawDialog());
    EXPECT_EQ(person.seen().name, "局域网扫描记录");
    EXPECT_EQ(person.seen().filterCount, 2);
    EXPECT_EQ(person.seen().filterSelected, 0);
    EXPECT_FALSE(person.seen().title.empty()) << "the platform's own title";
  }
  EXPECT_FALSE(confirmed);
  EXPECT_EQ(dialog.FileName(), WideFromGbk("局域网扫描记录"));
}

std::wstring TempFolder() {
  wchar_t folder[MAX_PATH] = {};
  return GetTempPathW(MAX_PATH, folder) ? folder : L"";
}

// The name comes back exactly as typed, whatever it holds: GBK characters,
// and characters that neither GBK nor the system's ANSI code page can hold.
TEST_F(SaveFileDialogTest, ANewFileCanBeNamedAndGetsTheDefaultExtension) {
  const std::wstring stamp = std::to_wstring(GetTickCount64());
  for (const std::wstring& name : {WideFromGbk("扫描记录_") + stamp, L"r\u00E9sum\u00E9 \u2603 \u03A9_" + stamp}) {
    const std::wstring base = TempFolder() + name;
    ASSERT_EQ(GetFileAttributesW((base + L".txt").c_str()), INVALID_FILE_ATTRIBUTES);

    SaveFileDialog& dialog = window_->SaveDialog();
    bool confirmed = false;
    {
      Operator person(GetCurrentThreadId(), base, true);
      confirmed = dialog.Open(window_->Handle());
      EXPECT_TRUE(person.sawDialog());
    }
    ASSERT_TRUE(confirmed) << "a file that does not exist yet must be accepted";
    EXPECT_EQ(dialog.FileName(), base + L".txt");
    EXPECT_EQ(GetFileAttributesW(dialog.FileName().c_str()), INVALID_FILE_ATTRIBUTES) << "the dialog only names it";

    // A later cancel leaves the confirmed path.
    {
      Operator person(GetCurrentThreadId(), L"", false);
      EXPECT_FALSE(dialog.Open(window_->Handle()));
    }
    EXPECT_EQ(dialog.FileName(), base + L".txt");
  }
}

}  // namespace
}  // namespace qv::test
