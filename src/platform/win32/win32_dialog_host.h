// The dialog host of the Windows build: each form of the model becomes a
// native modal dialog, owned by the thread's hidden owner window (or by the
// dialog already open on the thread), and the common file-open dialog.
#pragma once

#include <windows.h>

#include "platform/dialog_host.h"

namespace pellory {

class Win32DialogHost : public DialogHost {
 public:
  // Draws the form's controls natively, disables the owner and runs a modal
  // message loop until the form is closed. Every user action becomes the
  // form's event; after each event the native controls are brought in line
  // with the model again.
  void ShowModal(ModalForm& form) override;
  // GetOpenFileNameW owned by the active dialog; the full name chosen, or
  // the empty text when cancelled.
  Text ShowOpen(const FileOpenRequest& request) override;
  // MessageBoxW owned by the active dialog: OK with a warning sign, or Yes
  // and No with No as the default button.
  void Tell(TextView caption, TextView message) override;
  bool AskYesNo(TextView caption, TextView question) override;
  // GetFileAttributesW.
  PathKind KindOfPath(TextView path) override;
};

// The window that owns what opens next on this thread: the dialog shown
// last, else the thread's hidden owner window.
HWND ActiveDialogWindow();

// Control identifier of the form's control at `position` in its control
// list (the native child window's GetDlgCtrlID).
constexpr int kFirstControlId = 100;
inline int DialogControlId(size_t position) { return kFirstControlId + static_cast<int>(position); }

// "desc|pattern|desc|pattern" as GetOpenFileNameW wants it: each piece ended
// by a NUL and the whole ended by a second NUL.
std::wstring FileDialogFilter(TextView filter);

}  // namespace pellory
