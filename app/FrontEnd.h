// What the dialog asks of a front end (console or GUI).
#pragma once
#include <string>

class CPatchClientDlg;

class IFrontEnd {
 public:
  virtual ~IFrontEnd() = default;
  // Shows a message box and returns when it is dismissed (IDOK). May be called from any thread;
  // the caller blocks until it returns.
  virtual int MessageBox(const std::string& text, const std::string& caption, unsigned flags) = 0;
  // The dialog is about to run its loop / has ended it. Front ends attach to the view model here.
  virtual void Attach(CPatchClientDlg& dlg) { (void)dlg; }
  virtual void Detach() {}
};
