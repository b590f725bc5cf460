#pragma once
// The application's handlers of the main window's events, as one table.

#include "ui/events.h"

namespace qv {

EventBindings MainWindowEventBindings();

}  // namespace qv
