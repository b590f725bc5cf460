#pragma once
// The export button: the list as displayed, written to a file the operator
// names.

namespace qv {

class MainWindow;

// UI thread. Cancelling the dialog writes nothing and shows nothing.
void OnExportClicked(MainWindow& window);

}  // namespace qv
