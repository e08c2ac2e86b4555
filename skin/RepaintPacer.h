// How a window follows the view model: which of its parts a change touches, and a pacer that turns
// any number of changes from any thread into at most one wake-up of the window's thread per repaint
// and at most about 30 repaints a second. Workers never wait for the window. Toolkit-free, so that
// the windows of both systems pace the same way.
#pragma once
#include <atomic>
#include <cstdint>

enum ViewPart : unsigned {
  kPartLabels = 1,   // the three status labels
  kPartBars = 2,     // the two progress bars
  kPartStart = 4,    // the Start button's lock
  kPartSkin = 8,     // the background or a button's strip, tooltip or cursor
  kPartNotice = 16,  // the notice page's address
  kPartCaption = 32,
  kPartAll = 63,
};

// The parts that a change of control `controlId` touches (0 for the window's caption); 0 for ids
// no window shows.
unsigned ViewPartsOf(int controlId);

class CRepaintPacer {
 public:
  static constexpr int kIntervalMs = 33;

  // Any thread: records the parts. True when the caller must wake the window's thread: only the
  // first change after a repaint does, however fast changes come.
  bool Note(unsigned parts);
  // The window's thread, on the wake-up: 0 to repaint now, else how many milliseconds to wait first.
  int Woken(uint64_t nowMs) const;
  // The window's thread, repainting: the parts changed since the last repaint. A change noted after
  // this call wakes the window again.
  unsigned Take(uint64_t nowMs);

 private:
  std::atomic<unsigned> m_changed{0};
  std::atomic<bool> m_bWakePending{false};  // a wake-up is queued or waits for the interval
  uint64_t m_lastApplyMs = 0;  // the window's thread only
  bool m_bApplied = false;
};
