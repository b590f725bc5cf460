#include "ui/show_message.h"

#include <windows.h>

#include "base/gbk_wide.h"

namespace qv {

void ShowMessage(std::string_view text, unsigned flags, std::string_view caption) {
  if ((flags & MB_SYSTEMMODAL) == 0) flags |= MB_TASKMODAL;
  MessageBoxW(nullptr, WideFromGbk(text).c_str(), WideFromGbk(caption).c_str(), flags | MB_OK);
}

}  // namespace qv
