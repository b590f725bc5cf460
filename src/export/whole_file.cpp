#include "export/whole_file.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iterator>
#include <optional>
#include <string>

#include "base/win_handle.h"

namespace qv {
namespace {

struct FullPath {
  std::wstring text;
  std::size_t nameOffset = 0;

  std::wstring Folder() const { return text.substr(0, nameOffset); }
};

// The longest name made beside the target: prefix, process, moment, count
// and ".tmp" (see CandidateName).
constexpr std::size_t kLongestNameMadeBeside = 3 + 8 + 16 + 8 + 4;

// A program without long-path support reaches no path of MAX_PATH
// characters or more in the plain form: where the target or a name made
// beside it would be that long, every path takes the extended form
// ("\\?\"). Shorter paths keep the form the operator chose.
bool NeedsExtendedForm(std::size_t fullLength, std::size_t nameOffset) {
  return std::max(fullLength, nameOffset + kLongestNameMadeBeside) >= MAX_PATH;
}

// The extended form names exactly the given full path, with no further
// interpretation; a network path becomes "\\?\UNC\server\share\...".
std::wstring ExtendedForm(const std::wstring& full) {
  if (full.rfind(L"\\\\?\\", 0) == 0 || full.rfind(L"\\\\.\\", 0) == 0) return full;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// The platform finds where the file name starts. No file name (a path
// ending in a separator) gives nothing.
std::optional<FullPath> ResolveFullPath(const std::wstring& path) {
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return std::nullopt;
  std::wstring text(needed, L'\0');
  wchar_t* name = nullptr;
  const DWORD length = GetFullPathNameW(path.c_str(), needed, text.data(), &name);
  if (length == 0 || length >= needed || name == nullptr) return std::nullopt;
  std::size_t nameOffset = static_cast<std::size_t>(name - text.data());
  text.resize(length);
  if (nameOffset >= text.size()) return std::nullopt;
  if (NeedsExtendedForm(text.size(), nameOffset)) {
    const std::wstring extended = ExtendedForm(text);
    nameOffset += extended.size() - text.size();
    text = extended;
  }
  return FullPath{text, nameOffset};
}

// WriteFile takes a 32-bit length, so a larger text goes in pieces; any text
// the list can hold is written by one call.
bool WriteAll(HANDLE file, std::string_view bytes) {
  constexpr std::size_t kLargestPiece = 1u << 30;
  while (!bytes.empty()) {
    const auto piece = static_cast<DWORD>(std::min(bytes.size(), kLargestPiece));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), piece, &written, nullptr) || written != piece) return false;
    bytes.remove_prefix(piece);
  }
  return true;
}

// Flushed before the rename: otherwise a power loss soon after could leave
// the target's name on a file whose data never reached the disk.
bool WriteAndFlush(HANDLE file, std::string_view bytes) {
  return WriteAll(file, bytes) && FlushFileBuffers(file);
}

// What is at the target's name before anything is written.
enum class Place { Free, ExistingFile, Refused };

// A read-only file, a folder and a file that anyone holds open are refused.
// Windows refuses to rename over a read-only file, but Wine 8 renames over
// it (and, run as root, even opens it for writing), so the attribute is
// checked here. An open without sharing fails while any other handle is
// open, shared or not; Wine's ReplaceFile would replace such a file.
Place ExaminePlace(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Place::Free;
  if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) return Place::Refused;
  const UniqueFile alone(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  return alone ? Place::ExistingFile : Place::Refused;
}

// A name no file in the folder has: the prefix, then the process, the
// moment and a count, each in hexadecimal. GetTempFileName would limit the
// folder to MAX_PATH less 14 characters and to the ANSI code page.
std::wstring CandidateName(const std::wstring& folder, const wchar_t* prefix, unsigned attempt) {
  static std::atomic<unsigned> sequence{0};
  wchar_t name[64];
  std::swprintf(name, std::size(name), L"%ls%lx%llx%x.tmp", prefix, static_cast<unsigned long>(GetCurrentProcessId()),
                static_cast<unsigned long long>(GetTickCount64()), sequence.fetch_add(1) + attempt);
  return folder + name;
}

// A uniquely named, empty file in the target's folder, deleted when it goes
// unless it was handed on. The file is created here (never opened if it was
// there before), so no other file can be taken for it.
class NameBeside {
 public:
  NameBeside(const std::wstring& folder, const wchar_t* prefix) {
    constexpr unsigned kAttempts = 100;
    for (unsigned attempt = 0; attempt < kAttempts && path_.empty(); ++attempt) {
      std::wstring candidate = CandidateName(folder, prefix, attempt);
      UniqueFile file(CreateFileW(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
      if (file) {
        path_ = std::move(candidate);
        file_ = std::move(file);
      } else if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
        break;
      }
    }
  }
  NameBeside(const NameBeside&) = delete;
  NameBeside& operator=(const NameBeside&) = delete;
  ~NameBeside() {
    file_.reset();
    if (!path_.empty()) DeleteFileW(path_.c_str());
  }

  bool Created() const { return !path_.empty(); }
  const std::wstring& Path() const { return path_; }
  // The handle the file was created with, open for writing until Close.
  HANDLE File() const { return file_.get(); }
  bool Close() { return CloseHandle(file_.release()) != FALSE; }
  void HandOn() { path_.clear(); }

 private:
  std::wstring path_;
  UniqueFile file_;
};

// Failures of ReplaceFile that leave the old file where and as it was and
// that a plain rename may not share: a file system without what ReplaceFile
// needs, a target that went away, or a replacement that could not take the
// name while the old file kept it (the backup name is given, so the old file
// is back under its name).
bool RenameMayStillWork(DWORD error) {
  switch (error) {
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_CALL_NOT_IMPLEMENTED:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT:
      return true;
    default:
      return false;
  }
}

// A virus scanner or the search indexer may hold the new file for a moment
// after it is closed. These failures leave both files where and as they
// were, so the step is tried again for a while before the export fails.
bool IsPassingHold(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

// Runs step until it succeeds, fails otherwise than by a passing hold, or
// the patience is spent; the last error is the step's own.
template <class Step>
bool RetryWhileHeld(Step step) {
  constexpr ULONGLONG kPatienceMs = 2000;
  constexpr DWORD kPauseMs = 50;
  const ULONGLONG end = GetTickCount64() + kPatienceMs;
  for (;;) {
    if (step()) return true;
    const DWORD error = GetLastError();
    if (!IsPassingHold(error) || GetTickCount64() >= end) {
      SetLastError(error);
      return false;
    }
    Sleep(kPauseMs);
  }
}

// The new text, complete and flushed in a file beside the target, takes the
// target's name in one step.
class Replacement {
 public:
  explicit Replacement(const std::wstring& folder) : folder_(folder), file_(folder, L"~qv") {}

  bool Created() const { return file_.Created(); }

  // The new text is complete and on the disk before the file takes any name
  // but its own.
  bool Fill(std::string_view bytes) { return WriteAndFlush(file_.File(), bytes) && file_.Close(); }
  const std::wstring& Path() const { return file_.Path(); }

  // The rename fails while any handle holds the target open, shared or not:
  // Windows refuses it, and the Wine server checks for open handles in the
  // same request that renames.
  bool RenameOver(const std::wstring& target) {
    const auto rename = [&] {
      return MoveFileExW(file_.Path().c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    };
    if (!RetryWhileHeld(rename)) return false;
    file_.HandOn();
    return true;
  }

  // ReplaceFile keeps the old file's attributes, security and streams, and
  // treats a symbolic link as the platform does; a plain rename would give
  // the new file the folder's defaults. The old file waits under a backup
  // name until the new one has the target's name.
  bool Replace(const std::wstring& target) {
    NameBeside backup(folder_, L"~qb");
    if (!backup.Created() || !backup.Close()) return false;
    const auto replace = [&] {
      return ReplaceFileW(target.c_str(), file_.Path().c_str(), backup.Path().c_str(),
                          REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr, nullptr) != FALSE;
    };
    if (RetryWhileHeld(replace)) {
      file_.HandOn();
      return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
      // The old file is under the backup name and the target's name is free.
      if (!MoveFileExW(backup.Path().c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) backup.HandOn();
      return false;
    }
    return RenameMayStillWork(error) && RenameOver(target);
  }

 private:
  std::wstring folder_;
  NameBeside file_;
};

}  // namespace

bool WriteWholeFile(std::wstring_view path, std::string_view bytes, const WholeFileHooks& hooks) {
  // A NUL inside the path would silently name another file.
  if (path.empty() || path.find(L'\0') != std::wstring_view::npos) return false;
  const std::optional<FullPath> target = ResolveFullPath(std::wstring(path));
  if (!target) return false;
  const Place place = ExaminePlace(target->text);
  if (place == Place::Refused) return false;
  Replacement replacement(target->Folder());
  if (!replacement.Created() || !replacement.Fill(bytes)) return false;
  if (hooks.beforePlacing) hooks.beforePlacing(replacement.Path());
  return place == Place::ExistingFile ? replacement.Replace(target->text) : replacement.RenameOver(target->text);
}

}  // namespace qv
