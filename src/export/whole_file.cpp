#include "export/whole_file.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>

#include "base/win_handle.h"

namespace qv {
namespace {

struct FullPath {
  std::string text;
  std::size_t nameOffset = 0;

  std::string Folder() const { return text.substr(0, nameOffset); }
};

// The platform finds where the file name starts: a GBK trail byte may equal
// '\', so a byte-wise search for the last separator could cut a character
// in two. No file name (a path ending in a separator) gives nothing.
std::optional<FullPath> ResolveFullPath(const std::string& path) {
  const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return std::nullopt;
  FullPath full;
  full.text.resize(needed);
  char* name = nullptr;
  const DWORD length = GetFullPathNameA(path.c_str(), needed, full.text.data(), &name);
  if (length == 0 || length >= needed || name == nullptr) return std::nullopt;
  full.nameOffset = static_cast<std::size_t>(name - full.text.data());
  full.text.resize(length);
  if (full.nameOffset >= full.text.size()) return std::nullopt;
  return full;
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
bool WriteAndFlush(const std::string& path, std::string_view bytes) {
  UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  if (!WriteAll(file.get(), bytes) || !FlushFileBuffers(file.get())) return false;
  return CloseHandle(file.release()) != FALSE;
}

// What is at the target's name before anything is written.
enum class Place { Free, ExistingFile, Refused };

// A read-only file, a folder and a file that anyone holds open are refused.
// Windows refuses to rename over a read-only file, but Wine 8 renames over
// it (and, run as root, even opens it for writing), so the attribute is
// checked here. An open without sharing fails while any other handle is
// open, shared or not; Wine's ReplaceFile would replace such a file.
Place ExaminePlace(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Place::Free;
  if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) return Place::Refused;
  const UniqueFile alone(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  return alone ? Place::ExistingFile : Place::Refused;
}

// A uniquely named file in the target's folder, deleted when it goes unless
// it was handed on.
class NameBeside {
 public:
  NameBeside(const std::string& folder, const char* prefix) {
    char name[MAX_PATH] = {};
    if (GetTempFileNameA(folder.c_str(), prefix, 0, name) != 0) path_ = name;
  }
  NameBeside(const NameBeside&) = delete;
  NameBeside& operator=(const NameBeside&) = delete;
  ~NameBeside() {
    if (!path_.empty()) DeleteFileA(path_.c_str());
  }

  bool Created() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }
  void HandOn() { path_.clear(); }

 private:
  std::string path_;
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

// The new text, complete and flushed in a file beside the target, takes the
// target's name in one step.
class Replacement {
 public:
  explicit Replacement(const std::string& folder) : folder_(folder), file_(folder, "~qv") {}

  bool Created() const { return file_.Created(); }
  const std::string& Path() const { return file_.Path(); }

  // The rename fails while any handle holds the target open, shared or not:
  // Windows refuses it, and the Wine server checks for open handles in the
  // same request that renames.
  bool RenameOver(const std::string& target) {
    if (!MoveFileExA(file_.Path().c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return false;
    }
    file_.HandOn();
    return true;
  }

  // ReplaceFile keeps the old file's attributes, security and streams, and
  // treats a symbolic link as the platform does; a plain rename would give
  // the new file the folder's defaults. The old file waits under a backup
  // name until the new one has the target's name.
  bool Replace(const std::string& target) {
    NameBeside backup(folder_, "~qb");
    if (!backup.Created()) return false;
    if (ReplaceFileA(target.c_str(), file_.Path().c_str(), backup.Path().c_str(),
                     REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr, nullptr)) {
      file_.HandOn();
      return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
      // The old file is under the backup name and the target's name is free.
      if (!MoveFileExA(backup.Path().c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) backup.HandOn();
      return false;
    }
    return RenameMayStillWork(error) && RenameOver(target);
  }

 private:
  std::string folder_;
  NameBeside file_;
};

}  // namespace

bool WriteWholeFile(std::string_view path, std::string_view bytes) {
  // A NUL inside the path would silently name another file.
  if (path.empty() || path.find('\0') != std::string_view::npos) return false;
  const std::optional<FullPath> target = ResolveFullPath(std::string(path));
  if (!target) return false;
  const Place place = ExaminePlace(target->text);
  if (place == Place::Refused) return false;
  Replacement replacement(target->Folder());
  if (!replacement.Created() || !WriteAndFlush(replacement.Path(), bytes)) return false;
  return place == Place::ExistingFile ? replacement.Replace(target->text) : replacement.RenameOver(target->text);
}

}  // namespace qv
