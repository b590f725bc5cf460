#pragma once
// Writing a file in one piece (Win32 only).

#include <string_view>

namespace qv {

// Makes the file at path (ANSI/GBK text, full or relative) hold exactly the
// given bytes, binary. The bytes go to a temporary file beside the target,
// are flushed, and the temporary file then takes the target's name in one
// rename, so an existing file is either fully replaced or left exactly as
// it was, and never truncated by a failed write.
// False for an empty path, a path with a NUL byte or without a file name, a
// missing folder, a target that is read-only, a folder or open anywhere, and
// any failure to create, write, flush, close or rename; the temporary file
// is removed on every failure.
bool WriteWholeFile(std::string_view path, std::string_view bytes);

}  // namespace qv
