#pragma once
// The program's only way to speak to the operator besides the status bar.

#include <string_view>

namespace qv {

// A modal message box with an OK button and no owner, task-modal unless the
// flags ask for system-modal.
void ShowMessage(std::string_view text, unsigned flags, std::string_view caption);

}  // namespace qv
