#pragma once
// Files and folders as the export tests see them: read back byte for byte,
// listed, planted and removed again (Win32). Paths are wide, so that a name
// may hold any character and a folder may lie deeper than MAX_PATH.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/win_handle.h"

namespace qv::test {

// The form the file functions accept for the path: a plain path stops
// working for folders a little short of MAX_PATH, so a longer one is given
// in the extended form. Shorter paths stay as they are, so that the helpers
// see them exactly as the code under test does.
inline std::wstring Reachable(const std::wstring& path) {
  constexpr std::size_t kLongestPlainPath = MAX_PATH - 14;
  if (path.size() <= kLongestPlainPath || path.rfind(L"\\\\?\\", 0) == 0) return path;
  if (path.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + path.substr(2);
  return L"\\\\?\\" + path;
}

inline bool MakeFolder(const std::wstring& path) { return CreateDirectoryW(Reachable(path).c_str(), nullptr) != FALSE; }

inline DWORD AttributesOf(const std::wstring& path) { return GetFileAttributesW(Reachable(path).c_str()); }

inline bool SetAttributes(const std::wstring& path, DWORD attributes) {
  return SetFileAttributesW(Reachable(path).c_str(), attributes) != FALSE;
}

// The entries of a folder but "." and "..", with whether each is a folder.
inline std::vector<std::pair<std::wstring, bool>> Entries(const std::wstring& folder) {
  std::vector<std::pair<std::wstring, bool>> entries;
  WIN32_FIND_DATAW entry;
  const HANDLE search = FindFirstFileW(Reachable(folder + L"\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return entries;
  do {
    const std::wstring name = entry.cFileName;
    const bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (name != L"." && name != L"..") entries.emplace_back(name, isFolder);
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  return entries;
}

inline void RemoveTree(const std::wstring& folder) {
  for (const auto& [name, isFolder] : Entries(folder)) {
    const std::wstring path = folder + L"\\" + name;
    if (isFolder) {
      RemoveTree(path);
    } else {
      SetAttributes(path, FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(Reachable(path).c_str());
    }
  }
  RemoveDirectoryW(Reachable(folder).c_str());
}

// The names in a folder, sorted: shows both the written file and any
// temporary file left behind, under the names the file system holds.
inline std::vector<std::wstring> Names(const std::wstring& folder) {
  std::vector<std::wstring> names;
  for (const auto& entry : Entries(folder)) names.push_back(entry.first);
  std::sort(names.begin(), names.end());
  return names;
}

inline void PutFile(const std::wstring& path, std::string_view bytes) {
  UniqueFile file(
      CreateFileW(Reachable(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file) << path;
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  ASSERT_EQ(written, bytes.size());
}

// The file's bytes, or "<missing>" when it cannot be opened.
inline std::string Contents(const std::wstring& path) {
  UniqueFile file(CreateFileW(Reachable(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                              nullptr));
  if (!file) return "<missing>";
  std::string bytes(GetFileSize(file.get(), nullptr), '\0');
  DWORD read = 0;
  if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) return "<unreadable>";
  bytes.resize(read);
  return bytes;
}

// A folder nested under the given one until its path is longer than the
// given length, made of components of 60 characters; empty when a level
// cannot be made.
inline std::wstring MakeDeepFolder(const std::wstring& under, std::size_t longerThan) {
  std::wstring path = under;
  for (wchar_t level = L'a'; path.size() <= longerThan; ++level) {
    path += L"\\" + std::wstring(1, level) + std::wstring(59, L'd');
    if (!MakeFolder(path)) return {};
  }
  return path;
}

// A fresh folder under the temporary folder, removed with everything in it.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::wstring& prefix) {
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) return;
    const std::wstring path = std::wstring(temp) + prefix + std::to_wstring(GetCurrentProcessId()) + L"_" +
                              std::to_wstring(GetTickCount64());
    if (MakeFolder(path)) path_ = path;
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() {
    if (!path_.empty()) RemoveTree(path_);
  }

  bool Created() const { return !path_.empty(); }
  const std::wstring& Path() const { return path_; }
  std::wstring In(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

}  // namespace qv::test
