// What the front ends draw: the status controls, the Start button's lock and the window texts.
//
// Worker threads write it directly (it is thread-safe); a front end is told of each change through
// its listener and repaints at its own pace. The dialog's logic never touches a GUI toolkit.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "app/DialogLayout.h"
#include "skin/SkinBitmap.h"

// What a skinned button shows, as the window set it up: its strip, key colour, tooltip, cursor
// and place. Set once while the window initialises; front ends draw from it.
struct CButtonSkin {
  std::shared_ptr<const CSkinBitmap> strip;
  unsigned bitmapId = 0;  // the strip's bitmap resource, for front ends that load it themselves
  COLORREF key = 0;
  std::string toolTip;
  int cursorId = 0;  // a cursor resource; 0 for the default arrow
  RECT rect;         // in client pixels
};

class CViewModel {
 public:
  // Called after every change, on the thread that made it, with the control id that changed.
  using Listener = std::function<void(int controlId)>;

  CViewModel();

  void SetLabel(int id, const std::string& text);     // 1001, 1004, 1005
  std::string GetLabel(int id) const;
  void SetBarPos(int id, int pos);                    // 1002, 1003; clamped to the range
  int GetBarPos(int id) const;
  void SetBarRange(int id, int low, int high);
  void SetStartEnabled(bool enabled);
  bool IsStartEnabled() const;
  void SetWindowText(int id, const std::string& text);  // 0 = the window's caption; buttons by id
  std::string GetWindowText(int id) const;
  // The notice page's address; the GUI shows it in its web view.
  void SetNoticeUrl(const std::string& url) { SetWindowText(kNoticeId, url); }
  std::string GetNoticeUrl() const { return GetWindowText(kNoticeId); }
  static constexpr int kNoticeId = 1000;
  // The skin: the buttons' pictures and the background, published for the front ends' threads.
  void SetButtonSkin(int id, const CButtonSkin& skin);
  CButtonSkin GetButtonSkin(int id) const;
  void SetBackground(std::shared_ptr<const CSkinBitmap> picture);
  std::shared_ptr<const CSkinBitmap> GetBackground() const;
  static constexpr int kBackgroundId = 141;
  // Raised each time anything changes; front ends compare it to skip idle repaints.
  uint64_t ChangeCount() const;

  void SetListener(Listener listener);

 private:
  void Changed(int id);
  mutable std::mutex m_mutex;
  std::map<int, std::string> m_labels;
  std::map<int, std::string> m_windowTexts;
  struct Bar {
    int low = 0, high = 100, pos = 0;
  };
  std::map<int, Bar> m_bars;
  std::map<int, CButtonSkin> m_buttonSkins;
  std::shared_ptr<const CSkinBitmap> m_background;
  bool m_startEnabled = false;
  uint64_t m_changes = 0;
  Listener m_listener;
};
