#pragma once
// Labels that draw their own text: one line, left-aligned, centred
// vertically, unclipped, black on the button-face background.

#include <windows.h>

namespace qv {

inline constexpr char kLabelClassName[] = "QuorvaneLabel";

// Registers the class once per process; true when it is available.
bool RegisterLabelClass(HINSTANCE instance);

}  // namespace qv
