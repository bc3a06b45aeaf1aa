// The dialog host of the POSIX build: a full-screen form on the terminal
// (raw mode, alternate screen), driven by the keyboard:
//   Tab / Down, Shift+Tab / Up   move between controls
//   Space                         tick a check box, select an option, press a button,
//                                 open a list (then Up / Down and Enter, or its number)
//   Left / Right                  pick the previous or next entry of a list, move in a text,
//                                 switch tabs on the tab strip (PageUp / PageDown anywhere)
//   Enter                         press the focused button, else press OK
//   Esc                           press Cancel (Ctrl+C closes the dialog the same way)
//   Alt+letter                    the control whose caption underlines that letter
//   1 to 9                        pick that entry of the focused list
// Without a terminal on standard input and output every dialog closes as
// Cancel at once, the file-open dialog and the data-source prompt as
// cancelled prompts, and a question is answered No.
#pragma once

#include <optional>
#include <vector>

#include "platform/data_source.h"
#include "platform/dialog_host.h"
#include "platform/posix/form_view.h"
#include "platform/posix/terminal.h"

namespace pellory {

// The data-source prompt: the selection form (dialogs/frm_data_source.h) on
// two pages. The first lists the data sources with their drivers and lets
// the person pick one (arrows or its number); the second asks for a user and
// a password (both may be left empty). Returns the connect string to
// complete, such as "DSN=Sales;UID=jane;PWD=secret", or nullopt when
// cancelled. With `check`, a login that fails keeps the login page open with
// the reason, so that the person can correct it or cancel.
std::optional<Text> RunDataSourcePrompt(TerminalIo& io, const std::vector<DataSourceInfo>& sources,
                                        const LoginCheck& check = nullptr);
// The same on the terminal of the dialog being shown, or on the process's
// terminal; nullopt without one. The prompt of OdbcEngines.
std::optional<Text> PromptForDataSource(const std::vector<DataSourceInfo>& sources,
                                        const LoginCheck& check = nullptr);

// A message page with an OK button (`yes_no` false, gives false), or a
// question with Yes and No, No focused first: true for Yes. Y and N answer
// at once; Esc is No.
bool RunMessagePrompt(TerminalIo& io, TextView caption, TextView message, bool yes_no);

// The file-open prompt: asks for a path, refuses a name that does not fit the
// request's filter or a file that does not exist, and returns the file's
// absolute path, or the empty text when cancelled.
Text RunFileOpenPrompt(TerminalIo& io, const FileOpenRequest& request);

class TerminalDialogHost : public DialogHost {
 public:
  using Opener = TerminalOpener;
  // `open` gives the terminal for a dialog; by default the process's own.
  explicit TerminalDialogHost(Opener open = nullptr);
  void ShowModal(ModalForm& form) override;
  Text ShowOpen(const FileOpenRequest& request) override;
  void Tell(TextView caption, TextView message) override;
  bool AskYesNo(TextView caption, TextView question) override;
  PathKind KindOfPath(TextView path) override;

 private:
  Opener open_;
};

}  // namespace pellory
