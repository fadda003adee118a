#pragma once
// A modal dialog object bound to its HWND: the shared dialog procedure finds the object
// through the pointer stored at WM_INITDIALOG and calls its typed handlers. DoDataExchange
// moves values between the object's fields and the controls, in either direction. The object
// belongs to whoever runs DoModal, whether the dialog could be created or not: the framework
// only unbinds it when the dialog is destroyed.
#include <windows.h>

#include <string>

namespace quorvel::framework {

class Dialog;

// One pass of field exchange: shows fields in their controls, or reads and checks them back.
// A failed check stops the pass; every later call of the pass then does nothing.
class FieldExchange {
 public:
  FieldExchange(Dialog& dialog, bool save) : dialog_(dialog), save_(save) {}
  bool Saving() const { return save_; }
  bool Failed() const { return failed_; }

  void Text(int controlId, std::string& value);
  // 1 checked, 0 clear; shows 2 as the third state and resets other values to 0.
  void Check(int controlId, int& value);
  // An unsigned decimal within [minimum, maximum]; on failure tells the user why and puts the
  // focus on the control.
  void Unsigned(int controlId, unsigned& value, unsigned minimum, unsigned maximum);

 private:
  HWND Control(int controlId) const;
  void Fail(int controlId, const std::string& message);

  Dialog& dialog_;
  bool save_;
  bool failed_ = false;
};

class Dialog {
 public:
  explicit Dialog(int templateId) : templateId_(templateId) {}
  virtual ~Dialog();
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Runs the dialog until EndDialog; gives its result, or -1 when it could not be created.
  // Without a parent the thread's active window owns the dialog.
  INT_PTR DoModal(HWND parent = nullptr);
  void EndDialog(INT_PTR result);
  // Moves every field into its control (save false) or checks and reads them back (save
  // true); false when a field failed its check.
  bool UpdateData(bool save);
  HWND Handle() const { return hwnd_; }
  HWND Item(int controlId) const { return GetDlgItem(hwnd_, controlId); }
  // Caption of the field exchange's message boxes: the program file's name without extension.
  static std::string ProgramTitle();
  // While the dialog is minimised, paints `icon` centred on the platform's icon background
  // and gives true; otherwise paints nothing and gives false (default painting applies).
  bool PaintIconWhenMinimised(HICON icon);

 protected:
  // Default: shows the fields; true lets the dialog manager focus the first tab stop.
  virtual bool OnInitDialog();
  // Default: IDOK to OnOK, IDCANCEL to OnCancel. True when handled.
  virtual bool OnCommand(WORD id, WORD notification, HWND control);
  // Default: reads the fields back and ends with IDOK when they pass.
  virtual void OnOK();
  // Default: ends with IDCANCEL.
  virtual void OnCancel();
  virtual void DoDataExchange(FieldExchange&) {}
  // Every other message; the result goes back to the dialog manager (FALSE: not handled).
  virtual INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  static INT_PTR CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

  int templateId_;
  HWND hwnd_ = nullptr;
};

}  // namespace quorvel::framework
