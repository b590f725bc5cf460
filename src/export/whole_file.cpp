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

// Windows refuses to rename over a read-only file, but Wine 8 renames over
// it (and, run as root, even opens it for writing), so the attribute is
// checked here. It is read just before the rename to keep the gap small; on
// Windows the rename itself refuses anyway.
bool IsReadOnlyFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// A uniquely named empty file in the target's folder (same volume, so the
// final rename is one step), deleted again unless it took the target's name.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& folder) {
    char name[MAX_PATH] = {};
    if (GetTempFileNameA(folder.c_str(), "~qv", 0, name) != 0) path_ = name;
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (!path_.empty()) DeleteFileA(path_.c_str());
  }

  bool Created() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }

  // Replaces the target, or creates it, in one rename. The rename fails
  // while any handle holds the target open, shared or not: Windows refuses
  // it, and the Wine server checks for open handles in the same request
  // that renames, so no check before it is needed and no gap is left.
  bool ReplaceTarget(const std::string& target) {
    if (!MoveFileExA(path_.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return false;
    }
    path_.clear();
    return true;
  }

 private:
  std::string path_;
};

}  // namespace

bool WriteWholeFile(std::string_view path, std::string_view bytes) {
  // A NUL inside the path would silently name another file.
  if (path.empty() || path.find('\0') != std::string_view::npos) return false;
  const std::optional<FullPath> target = ResolveFullPath(std::string(path));
  if (!target) return false;
  TemporaryFile temporary(target->Folder());
  if (!temporary.Created() || !WriteAndFlush(temporary.Path(), bytes)) return false;
  if (IsReadOnlyFile(target->text)) return false;
  return temporary.ReplaceTarget(target->text);
}

}  // namespace qv
