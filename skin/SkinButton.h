// The four-frame skinned button. Other subsystems only lock and unlock it; front ends draw it
// from the view model.
#pragma once
#include "app/ViewModel.h"

class CSkinButton {
 public:
  void Bind(CViewModel* view, int id) {
    m_pView = view;
    m_nId = id;
  }
  void EnableButton() { SetLocked(false); }
  void DisableButton() { SetLocked(true); }
  bool IsLocked() const { return m_pView ? !m_pView->IsStartEnabled() : true; }

 private:
  void SetLocked(bool locked) {
    // Only the Start button can be locked; Cancel is always usable.
    if (m_pView && m_nId == 1014) m_pView->SetStartEnabled(!locked);
  }
  CViewModel* m_pView = nullptr;
  int m_nId = 0;
};
