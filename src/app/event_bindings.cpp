#include "app/event_bindings.h"

namespace qv {

// The window works without handlers; each one the program gains is listed here.
EventBindings MainWindowEventBindings() { return {}; }

}  // namespace qv
