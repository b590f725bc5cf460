#include "ui/show_message.h"

#include <windows.h>

#include <string>

namespace qv {

void ShowMessage(std::string_view text, unsigned flags, std::string_view caption) {
  if ((flags & MB_SYSTEMMODAL) == 0) flags |= MB_TASKMODAL;
  MessageBoxA(nullptr, std::string(text).c_str(), std::string(caption).c_str(), flags | MB_OK);
}

}  // namespace qv
