// The export as the operator uses it: the button, the real save dialog
// answered from a second thread, the program's message box, and the bytes
// of the file, with the rows put into the list by a scripted scan or
// straight through the UI thread.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/gbk_wide.h"
#include "base/win_handle.h"
#include "export/file_test_support.h"
#include "program_fixture.h"
#include "support/save_dialog_answerer.h"

namespace qv::test {
namespace {

using C = Component;
using Cells = std::array<std::string, 4>;

std::string Spaces(std::size_t count) { return std::string(count, ' '); }

// Spelled in bytes, so the expectation does not depend on how literals are
// compiled.
const std::string kHeader = "IP\xB5\xD8\xD6\xB7" + Spaces(15) + "\xD6\xF7\xBB\xFA\xC3\xFB\xB3\xC6" + Spaces(15) +
                            "MAC\xB5\xD8\xD6\xB7" + Spaces(12) + "\xD1\xD3\xB3\xD9\r\n";

std::string ExpectedFile(const std::vector<Cells>& rows) {
  std::string text = kHeader;
  for (const Cells& row : rows) text += row[0] + Spaces(10) + row[1] + Spaces(10) + row[2] + Spaces(10) + row[3] + "\r\n";
  return text;
}

// The row the scripted probe makes of a live address with its reply time.
Cells ScriptedRow(const std::string& display, const std::string& address, int replyMs) {
  const std::string mac = MacText({2, 0, 0, 0, 0, static_cast<std::uint8_t>(LastOctetValue(address))});
  return {display, address.back() == '3' ? "" : "pc-" + address, mac, std::to_string(replyMs)};
}

// A box seen while the export ran.
struct SeenBox : SeenMessageBox {
  bool fromDialog = false;  // shown while the save dialog was open: the dialog's own
};

// The operator's part in one export.
struct Answers {
  std::wstring name;      // typed into the dialog's file-name field
  bool confirm = true;    // false: cancel the dialog
  int filter = 0;         // the filter entry chosen before typing, 0-based
  int overwrite = IDYES;  // the answer to the dialog's overwrite question
  // Run on the operator's thread once the dialog is open, before typing,
  // and when the dialog asks a question, before the answer.
  std::function<void()> whileOpen;
  std::function<void()> beforeAnswering;
};

struct Outcome {
  bool sawDialog = false;
  bool gaveUp = false;
  std::vector<SeenBox> boxes;

  std::vector<SeenBox> Questions() const { return Only(true); }
  std::vector<SeenBox> Messages() const { return Only(false); }

 private:
  std::vector<SeenBox> Only(bool fromDialog) const {
    std::vector<SeenBox> some;
    for (const SeenBox& box : boxes)
      if (box.fromDialog == fromDialog) some.push_back(box);
    return some;
  }
};

// Every box, for failure messages.
std::string Describe(const Outcome& outcome) {
  std::string text = "boxes seen:";
  for (const SeenBox& box : outcome.boxes)
    text += std::string("\n  ") + (box.fromDialog ? "dialog's " : "program's ") + (box.question ? "question" : "box") +
            " [" + box.caption + "] " + box.text;
  return text;
}

// Answers the save dialog and every box of this process from a thread of
// its own while the test thread is inside the click. Past its time limit it
// cancels whatever is open, so the click always returns. The limit guards
// against a hang only: in the emulated 32-bit machine, where it stretches to
// several minutes, the largest case here (5,000 rows, then the unusual
// cells) took 20 s on a quiet host.
class ExportOperator {
 public:
  explicit ExportOperator(Answers answers, DWORD limitMs = 60000)
      : answers_(std::move(answers)), limitMs_(limitMs), thread_([this] { Run(); }) {}
  ExportOperator(const ExportOperator&) = delete;
  ExportOperator& operator=(const ExportOperator&) = delete;
  ~ExportOperator() { Stop(); }

  Outcome Finish() {
    Stop();
    return outcome_;
  }

 private:
  enum class Step { kAnswer, kWaitForQuestion, kCancel, kDone };

  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  void Run() {
    const ULONGLONG deadline = GetTickCount64() + TimeLimit(limitMs_);
    while (!stop_) {
      if (GetTickCount64() > deadline) outcome_.gaveUp = true;
      HWND saveDialog = nullptr;
      std::vector<HWND> boxes;
      // Only the save dialog and message boxes are the operator's: in the
      // emulated machine a dialog with neither a text nor a caption showed
      // for a moment as the save dialog closed, and was taken for one more
      // box of the program.
      for (HWND window : DialogsOf::ThisProcess().Visible()) {
        if (SaveDialogAnswerer::Is(window))
          saveDialog = window;
        else if (IsMessageBox(window))
          boxes.push_back(window);
      }
      for (HWND box : boxes) AnswerBox(box, saveDialog != nullptr);
      if (boxes.empty() && saveDialog && IsWindowEnabled(saveDialog)) AnswerDialog(SaveDialogAnswerer(saveDialog));
      Sleep(5);
    }
  }

  void AnswerDialog(const SaveDialogAnswerer& dialog) {
    outcome_.sawDialog = true;
    if (outcome_.gaveUp || step_ == Step::kCancel) {
      dialog.PressCancel();
      step_ = Step::kDone;
    } else if (step_ == Step::kAnswer) {
      if (answers_.whileOpen) answers_.whileOpen();
      if (answers_.confirm) {
        dialog.ChooseFilter(answers_.filter);
        dialog.TypeName(answers_.name);
        dialog.PressSave();
        step_ = Step::kWaitForQuestion;
      } else {
        dialog.PressCancel();
        step_ = Step::kDone;
      }
    } else {
      return;
    }
    // The dialog takes the answer in its own time; act again only once it
    // has gone or has shown a box of its own.
    dialog.WaitUntilTaken(3000);
  }

  void AnswerBox(HWND box, bool fromDialog) {
    const SeenBox seen{ReadMessageBox(box), fromDialog};
    // Not yet (or no longer) saying anything: looked at again next round.
    if (seen.text.empty()) return;
    outcome_.boxes.push_back(seen);
    int button = IDOK;
    if (seen.question) {
      if (answers_.beforeAnswering) answers_.beforeAnswering();
      button = outcome_.gaveUp ? IDNO : answers_.overwrite;
    }
    // After "no", or any complaint of the dialog, the operator gives up on
    // this export.
    if (fromDialog) step_ = button == IDYES ? Step::kDone : Step::kCancel;
    AnswerMessageBox(box, button, 3000);
  }

  Answers answers_;
  DWORD limitMs_;
  std::atomic<bool> stop_{false};
  Step step_ = Step::kAnswer;
  Outcome outcome_;
  std::thread thread_;
};

class ExportTest : public ProgramFixture {
 protected:
  void SetUp() override {
    ProgramFixture::SetUp();
    ASSERT_TRUE(folder_.Created());
    ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, previousFolder_), 0u);
    caption_ = WindowText(window_);
  }
  // The dialog makes the chosen folder the current one, which would keep
  // the scratch folder from being removed.
  void TearDown() override {
    SetCurrentDirectoryW(previousFolder_);
    ProgramFixture::TearDown();
  }

  // Clicks 导出 while the operator answers; returns once the handler has.
  Outcome Export(Answers answers) {
    ExportOperator person(std::move(answers));
    Click(C::按钮_导出);
    Outcome outcome = person.Finish();
    EXPECT_FALSE(outcome.gaveUp) << "the export did not run its course in time";
    EXPECT_TRUE(outcome.sawDialog);
    return outcome;
  }
  Outcome ExportTo(const std::wstring& path) {
    Answers answers;
    answers.name = path;
    return Export(std::move(answers));
  }

  void ExpectOnlyMessage(const Outcome& outcome, const char* text, LPCSTR icon) {
    const auto messages = outcome.Messages();
    ASSERT_EQ(messages.size(), 1u) << Describe(outcome);
    EXPECT_EQ(messages[0].text, text);
    EXPECT_EQ(messages[0].caption, caption_);
    EXPECT_EQ(messages[0].icon, LoadIconA(nullptr, icon));
  }
  void ExpectSuccess(const Outcome& outcome) { ExpectOnlyMessage(outcome, "导出成功！", IDI_INFORMATION); }
  void ExpectFailure(const Outcome& outcome) { ExpectOnlyMessage(outcome, "导出失败！", IDI_HAND); }

  bool ScanAndWait(const std::string& first, const std::string& last) {
    SetRange(first, last);
    Click(C::按钮_开始扫描);
    return WaitForScanEnd() && WaitUntil([&] { return Idle(); });
  }

  // Scans 10.1.1.1 - 10.1.1.25 with four live hosts; their rows in address
  // order.
  std::vector<Cells> ScanFourHosts() {
    probe.SetLive({{"10.1.1.20", 7}, {"10.1.1.3", 0}, {"10.1.1.9", 12}, {"10.1.1.13", 250}});
    WriteField(C::编辑框_线程数, "8");
    EXPECT_TRUE(ScanAndWait("10.1.1.1", "10.1.1.25"));
    return {ScriptedRow("10.1.1.003", "10.1.1.3", 0), ScriptedRow("10.1.1.009", "10.1.1.9", 12),
            ScriptedRow("10.1.1.013", "10.1.1.13", 250), ScriptedRow("10.1.1.020", "10.1.1.20", 7)};
  }

  // Puts the rows into the list as they are, straight through the UI
  // thread: quicker than a scan of thousands of hosts, and the export reads
  // only the list.
  void ShowRows(const std::vector<Cells>& rows) {
    std::vector<ListRow> listRows(rows.size());
    for (std::size_t k = 0; k < rows.size(); ++k) {
      listRows[k].text = rows[k][0];
      listRows[k].subTexts = {rows[k][1], rows[k][2], rows[k][3]};
    }
    OnUi([&] {
      program_->State().ResultListView.DeleteAllItems();
      program_->State().ResultListView.InsertRows(std::nullopt, listRows, 0);
      return 0;
    });
  }

  std::vector<Cells> ListedRows() {
    return OnUi([&] {
      std::vector<Cells> rows(static_cast<std::size_t>(program_->Window().ItemCount()));
      for (std::size_t k = 0; k < rows.size(); ++k)
        for (int column = 0; column < 4; ++column) rows[k][column] = program_->Window().ItemText(static_cast<int>(k), column);
      return rows;
    });
  }

  std::wstring ChosenPath() { return OnUi([&] { return program_->Window().SaveDialog().FileName(); }); }

  ScratchFolder folder_{L"qv_export_"};
  wchar_t previousFolder_[MAX_PATH] = {};
  std::string caption_;
};

TEST_F(ExportTest, AnEmptyListGivesTheHeaderLineAlone) {
  const std::wstring path = folder_.In(L"empty.txt");
  ExpectSuccess(ExportTo(path));
  EXPECT_EQ(Contents(path), kHeader);
  EXPECT_EQ(Contents(path).size(), 69u);
}

TEST_F(ExportTest, ANewFileHoldsTheScannedRowsAndSuccessIsConfirmed) {
  const std::vector<Cells> rows = ScanFourHosts();
  ASSERT_EQ(ListedRows(), rows);
  // Spaces and dots in the folder and the name; the file does not exist yet.
  const std::wstring folder = folder_.In(L"扫描 结果.v2");
  ASSERT_TRUE(MakeFolder(folder));
  const std::wstring path = folder + L"\\lan scan 1.2.txt";
  const Outcome outcome = ExportTo(path);
  ExpectSuccess(outcome);
  EXPECT_TRUE(outcome.Questions().empty()) << "nothing to overwrite";
  EXPECT_EQ(ChosenPath(), path);
  EXPECT_EQ(Contents(path), ExpectedFile(rows));
  EXPECT_NE(Contents(path).find("10.1.1.003" + Spaces(20) + "02-00-00-00-00-03"), std::string::npos)
      << "an empty host name leaves twenty spaces";
  EXPECT_EQ(Names(folder), std::vector<std::wstring>{L"lan scan 1.2.txt"}) << "no temporary file is left";
}

TEST_F(ExportTest, CancellingWritesNothingAndSaysNothing) {
  ScanFourHosts();
  Answers answers;
  answers.confirm = false;
  const Outcome outcome = Export(std::move(answers));
  EXPECT_TRUE(outcome.boxes.empty());
  EXPECT_EQ(Names(folder_.Path()), std::vector<std::wstring>{});
  EXPECT_EQ(ChosenPath(), L"局域网扫描记录");
}

TEST_F(ExportTest, AnExistingFileIsReplacedWholeOnlyWhenTheOperatorAgrees) {
  const std::vector<Cells> rows = ScanFourHosts();
  const std::wstring path = folder_.In(L"old.txt");
  const std::string old = std::string(20000, 'o') + "\r\n";
  PutFile(path, old);

  Answers no;
  no.name = path;
  no.overwrite = IDNO;
  const Outcome kept = Export(std::move(no));
  ASSERT_EQ(kept.Questions().size(), 1u) << "the dialog asks before overwriting";
  EXPECT_TRUE(kept.Messages().empty()) << "declining is a cancel: no message";
  EXPECT_EQ(Contents(path), old);

  const Outcome replaced = ExportTo(path);
  ASSERT_EQ(replaced.Questions().size(), 1u);
  ExpectSuccess(replaced);
  EXPECT_EQ(Contents(path), ExpectedFile(rows)) << "only the new text, nothing of the longer old file";
  EXPECT_EQ(Names(folder_.Path()), std::vector<std::wstring>{L"old.txt"});
}

TEST_F(ExportTest, TheFileFollowsTheOrderChosenByHeaderClicks) {
  const std::vector<Cells> rows = ScanFourHosts();
  for (const int column : {3, 0}) {
    SCOPED_TRACE(column);
    ClickHeader(column);  // the flag alternates: the second click of each pair descends
    ClickHeader(column);
    std::vector<Cells> descending = rows;
    std::sort(descending.begin(), descending.end(),
              [&](const Cells& a, const Cells& b) { return a[column] > b[column]; });
    ASSERT_EQ(ListedRows(), descending);
    const std::wstring path = folder_.In(L"sorted by " + std::to_wstring(column) + L".txt");
    ExpectSuccess(ExportTo(path));
    EXPECT_EQ(Contents(path), ExpectedFile(descending));
  }
}

TEST_F(ExportTest, NamesGetTheDefaultExtensionOnlyWhenTheyHaveNone) {
  const std::vector<Cells> rows = ScanFourHosts();
  const std::wstring bare = folder_.In(L"记录");
  ExpectSuccess(ExportTo(bare));
  EXPECT_EQ(ChosenPath(), bare + L".txt");
  EXPECT_EQ(Contents(bare + L".txt"), ExpectedFile(rows));

  Answers log;
  log.name = folder_.In(L"记录.log");
  log.filter = 1;
  ExpectSuccess(Export(std::move(log)));
  EXPECT_EQ(Contents(folder_.In(L"记录.log")), ExpectedFile(rows)) << "the same text under the log filter";
  EXPECT_EQ(Names(folder_.Path()), (std::vector<std::wstring>{L"记录.log", L"记录.txt"}));
}

// The dialog gives back what the operator typed, characters that neither
// GBK nor the ANSI code page holds among them; the file must take exactly
// that name. (Folders deeper than MAX_PATH are left to the file's own
// tests: Wine 8's save dialog copies the typed path into a MAX_PATH buffer,
// stays open and then crashes the process.)
TEST_F(ExportTest, ANameBeyondGbkIsWrittenUnderExactlyThatName) {
  const std::vector<Cells> rows = ScanFourHosts();
  const std::wstring folder = folder_.In(L"扫描结果 — Ωμέγα");
  ASSERT_TRUE(MakeFolder(folder));
  // Not spelled inside an assertion, whose text is kept in GBK.
  const std::wstring name = L"résumé ☃.txt";
  const std::wstring path = folder + L"\\" + name;
  ExpectSuccess(ExportTo(path));
  EXPECT_EQ(ChosenPath(), path);
  EXPECT_EQ(Contents(path), ExpectedFile(rows));
  EXPECT_EQ(Names(folder), std::vector<std::wstring>{name}) << "no temporary file is left";
}

TEST_F(ExportTest, AFailedWriteSaysSoAndLeavesTheOldFile) {
  ScanFourHosts();
  {
    SCOPED_TRACE("a read-only file");
    const std::wstring path = folder_.In(L"read only.txt");
    PutFile(path, "old");
    ASSERT_TRUE(SetAttributes(path, FILE_ATTRIBUTE_READONLY));
    ExpectFailure(ExportTo(path));
    EXPECT_EQ(Contents(path), "old");
  }
  {
    SCOPED_TRACE("a file another program holds open");
    const std::wstring path = folder_.In(L"held.txt");
    PutFile(path, "old");
    UniqueFile holder(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    ExpectFailure(ExportTo(path));
    holder.reset();
    EXPECT_EQ(Contents(path), "old");
  }
  EXPECT_EQ(Names(folder_.Path()), (std::vector<std::wstring>{L"held.txt", L"read only.txt"}));
  {
    // The dialog has checked the folder and asks about the file in it; the
    // folder is gone before the answer, as a removed drive would be.
    SCOPED_TRACE("a folder that is gone when the file is written");
    const std::wstring folder = folder_.In(L"vanishing");
    ASSERT_TRUE(MakeFolder(folder));
    PutFile(folder + L"\\scan.txt", "old");
    Answers answers;
    answers.name = folder + L"\\scan.txt";
    answers.beforeAnswering = [&] { RemoveTree(folder); };
    const Outcome outcome = Export(std::move(answers));
    EXPECT_EQ(outcome.Questions().size(), 1u);
    ExpectFailure(outcome);
    EXPECT_EQ(AttributesOf(folder), INVALID_FILE_ATTRIBUTES);
  }
}

// Whatever the list holds, the file holds exactly its rows, or the operator
// is told that the export failed; never success over an incomplete file.
TEST_F(ExportTest, LargeAndUnusualListsAreWrittenWhole) {
  std::vector<Cells> many;
  for (int k = 0; k < 5000; ++k) {
    char address[32];
    std::snprintf(address, sizeof address, "10.%d.%d.%03d", k / 65536, k / 256 % 256, k % 256);
    many.push_back({address, k % 3 ? "主机" + std::to_string(k) : "", "02-00-00-00-00-01", std::to_string(k % 997)});
  }
  // 0x81 0x5C and 0x81 0x7C: GBK characters whose second byte is '\' or '|'.
  const std::string gbk = "局域网\x81\x5C扫描\x81\x7C主机";
  std::string longMixed;
  while (longMixed.size() < 100000) longMixed += "long 长文本 ";
  const std::vector<Cells> unusual = {
      {"10.0.0.001", gbk, "", "1"},
      {"10.0.0.002", longMixed, std::string(70000, 'm'), std::string(5000, '9')},
      {"", "", "", ""},
      {"10.0.0.003", std::string(259, 'a'), std::string(258, 'b') + "长", std::string(257, 'c') + "长"},
  };
  const std::pair<const char*, const std::vector<Cells>*> cases[] = {{"5000 rows", &many}, {"unusual cells", &unusual}};
  for (const auto& [name, rows] : cases) {
    SCOPED_TRACE(name);
    ShowRows(*rows);
    ASSERT_EQ(ListedRows().size(), rows->size());
    const std::wstring path = folder_.In(L"big . " + WideFromGbk(name) + L".txt");
    const Outcome outcome = ExportTo(path);
    ExpectSuccess(outcome);
    const std::string written = Contents(path);
    EXPECT_EQ(written.size(), ExpectedFile(*rows).size());
    EXPECT_TRUE(written == ExpectedFile(*rows)) << "the file differs from the rows";
  }
}

TEST_F(ExportTest, DuringAScanTheFileHoldsTheRowsShownAtTheClick) {
  std::map<std::string, std::int32_t> live;
  for (int last = 1; last <= 60; ++last) live["10.2.2." + std::to_string(last)] = last;
  probe.SetLive(live);
  probe.delayMs = 20;
  WriteField(C::编辑框_线程数, "1");
  SetRange("10.2.2.1", "10.2.2.60");
  Click(C::按钮_开始扫描);
  ASSERT_TRUE(WaitUntil([&] { return ListedRows().size() >= 4; })) << "the scan shows its first hosts";

  const HWND list = Handle(C::超级列表框1);
  std::size_t shownWhileOpen = 0;
  Answers answers;
  answers.name = folder_.In(L"during.txt");
  // The dialog does not hold the scan up: hosts keep arriving while it is open.
  answers.whileOpen = [&] {
    const auto count = [&] { return static_cast<std::size_t>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); };
    const std::size_t atOpen = count();
    WaitUntil([&] { return count() >= atOpen + 3; });
    shownWhileOpen = count();
  };
  const Outcome outcome = Export(std::move(answers));
  ExpectSuccess(outcome);
  Click(C::按钮2);

  const std::vector<Cells> shown = ListedRows();
  const std::string written = Contents(folder_.In(L"during.txt"));
  ASSERT_GE(shown.size(), shownWhileOpen);
  // The file is complete and holds the first rows of the final list, fewer
  // than the list held while the dialog was open.
  const auto rowsInFile = static_cast<std::size_t>(std::count(written.begin(), written.end(), '\n')) - 1;
  ASSERT_LE(rowsInFile, shown.size());
  EXPECT_EQ(written, ExpectedFile({shown.begin(), shown.begin() + static_cast<std::ptrdiff_t>(rowsInFile)}));
  EXPECT_GE(rowsInFile, 4u);
  EXPECT_LT(rowsInFile, shownWhileOpen);
}

}  // namespace
}  // namespace qv::test
