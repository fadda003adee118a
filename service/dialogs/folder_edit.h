#pragma once
// The folder field: a dialog's edit control with a "..." button beside it that lets the
// operator pick a folder, and the folder browser behind the button.
#include <windows.h>

#include <string>

namespace quorvel {

class FolderBrowser {
 public:
  // Lets the operator choose a folder, starting at `path`. True when one was chosen; `path`
  // then names it. False when the operator cancelled or the choice has no file-system path.
  // `forceReduced` (or a platform older than the shell's folder dialog) selects a file-save
  // dialog cut down to its directory part instead.
  bool Browse(std::string& path, HWND owner, int forceReduced, const std::string& title);

 private:
  static bool BrowseShell(std::string& path, HWND owner, const std::string& title);
  static bool BrowseReduced(std::string& path, HWND owner, const std::string& title);
};

class FolderEdit;

// The "..." button. Its tooltip is created by the first input message that reaches it.
class FolderButton {
 public:
  FolderButton() = default;
  ~FolderButton();
  FolderButton(const FolderButton&) = delete;
  FolderButton& operator=(const FolderButton&) = delete;

  // Takes over a created button window and links it to its folder field.
  void Attach(HWND button, FolderEdit* edit);
  HWND Handle() const { return hwnd_; }
  void OnClicked();

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                    DWORD_PTR self);
  void CreateTip();
  void RelayToTip(UINT message, WPARAM wParam, LPARAM lParam);
  void Detach();

  HWND hwnd_ = nullptr;
  FolderEdit* edit_ = nullptr;
  HWND tooltip_ = nullptr;
  bool tipPending_ = true;
};

class FolderEdit {
 public:
  FolderEdit() = default;
  virtual ~FolderEdit();
  FolderEdit(const FolderEdit&) = delete;
  FolderEdit& operator=(const FolderEdit&) = delete;

  // The first call takes over the dialog's edit `controlId` and creates the button; later
  // calls only store `flags` (bit 0: always use the reduced browser) and the browse title.
  // False when the dialog has no such edit.
  bool Attach(HWND dialog, int controlId, int flags, const std::string& title);
  HWND Handle() const { return hwnd_; }
  // The dialog hands its commands here first; true when it was the button's click.
  bool HandleCommand(WORD id, WORD notification, HWND control);

  // Runs the folder browser on the field's text and takes the chosen folder.
  virtual void Browse();
  virtual std::string ButtonCaption() const;
  virtual std::string ButtonTip() const;
  // Places the button beside the edit, which gives up the room; the button's window or null.
  virtual HWND CreateButton();

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                    DWORD_PTR self);
  int ButtonWidth(HWND parent, const RECT& editRect) const;
  void Detach();

  HWND hwnd_ = nullptr;
  FolderButton button_;
  int flags_ = 0;
  std::string title_;
};

}  // namespace quorvel
