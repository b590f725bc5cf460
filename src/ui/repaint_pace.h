#pragma once
// Paints the window's busiest components at a steady pace while a scan
// streams into them. Under Wine each paint of the list, the status bar or
// the progress bar costs a millisecond or more (a row added to a painting
// list redraws both its scroll bars), more than the change itself; a scan
// changes them hundreds of times a second.
//
// A held component keeps its content current; only its painting waits. The
// bars and any list rows that show on the page are painted within one
// interval. Rows added below the page change nothing on screen but the
// list's scroll bars, whose redraw is the dearest part of a flush (30 to
// 60 ms under Wine during a large scan): they wait for the longer interval.

#include <windows.h>

#include <climits>

namespace qv {

class RepaintPace {
 public:
  // Often enough for a scan to look live.
  static constexpr UINT_PTR kTimerId = 1;
  static constexpr UINT kIntervalMs = 200;
  static constexpr ULONGLONG kScrollBarIntervalMs = 1000;

  void Attach(HWND window, HWND list, HWND statusBar, HWND progressBar);

  // The list stops redrawing until the flush. Called before every change:
  // a bulk insert since the last one may have switched redrawing back on.
  void HoldList();
  // The bars' paints are swallowed until the flush, which makes up for them.
  void HoldBars();
  // Paints whatever is held now.
  void Flush();
  // The window's timer: paints what is due.
  void OnTimer();

  // Called by the list's and the bars' procedures with every message; true
  // when the control must not see it.
  bool Intercept(HWND control, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  bool Arm();
  void FlushList();
  void FlushBars();
  bool ListPageChanged() const;
  void NoteListMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void RepaintChangedRows(int firstChanged);

  HWND window_ = nullptr;
  HWND list_ = nullptr;
  HWND statusBar_ = nullptr;
  HWND progressBar_ = nullptr;
  bool listHeld_ = false;
  ULONGLONG listHeldSince_ = 0;
  bool barsHeld_ = false;
  // The first list row whose painting may have changed while held: INT_MAX
  // for none, 0 for the whole list.
  int firstChangedRow_ = INT_MAX;
};

}  // namespace qv
