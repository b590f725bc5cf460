#pragma once
// Writing a file in one piece (Win32 only).

#include <functional>
#include <string>
#include <string_view>

namespace qv {

// Makes the file at path (full or relative, of any length and with any
// characters) hold exactly the given bytes, binary. The bytes go to a
// temporary file beside the target and are flushed; the temporary file then takes the target's name in one
// step: ReplaceFile where a file is there already (so it keeps that file's
// attributes, security and streams), a rename where none is. An existing
// file is either fully replaced or left exactly as it was, and never
// truncated by a failed write.
// False for an empty path, a path with a NUL character or without a file name, a
// missing folder, a target that is read-only, a folder or open anywhere, and
// any failure to create, write, flush, close, replace or rename; the
// temporary file is removed on every failure. A sharing or lock violation
// while the new file takes the name (another program holding it for a
// moment) is tried again for up to 2 s.
// Hooks let a test act between the new file's completion and its taking the
// target's name; the program passes none.
struct WholeFileHooks {
  std::function<void(const std::wstring& newFile)> beforePlacing;
};
bool WriteWholeFile(std::wstring_view path, std::string_view bytes, const WholeFileHooks& hooks = {});

}  // namespace qv
