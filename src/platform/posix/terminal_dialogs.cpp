#include "platform/posix/terminal_dialogs.h"

#include <filesystem>

namespace pellory {

TerminalDialogHost::TerminalDialogHost(Opener open) : open_(std::move(open)) {}

void TerminalDialogHost::ShowModal(ModalForm& form) {
  try {
    TerminalLease lease(open_);
    TerminalIo* io = lease.get();
    if (!io) {
      form.CloseRequested();
      return;
    }
    FormView view(form);
    bool activated = false;
    while (!form.Closed()) {
      Screen s = NewScreen(*io);
      view.Draw(s);
      io->Show(s);
      if (!activated) {
        activated = true;
        form.Activated(0);
        continue;
      }
      view.HandleKey(io->ReadKey());
    }
  } catch (...) {
    // A terminal that fails mid-dialog ends it as Cancel.
    form.CloseRequested();
  }
}

Text TerminalDialogHost::ShowOpen(const FileOpenRequest& request) {
  try {
    TerminalLease lease(open_);
    if (!lease.get()) return Text();
    return RunFileOpenPrompt(*lease.get(), request);
  } catch (...) {
    return Text();
  }
}

void TerminalDialogHost::Tell(TextView caption, TextView message) {
  try {
    TerminalLease lease(open_);
    if (lease.get()) RunMessagePrompt(*lease.get(), caption, message, false);
  } catch (...) {
  }
}

bool TerminalDialogHost::AskYesNo(TextView caption, TextView question) {
  try {
    TerminalLease lease(open_);
    return lease.get() && RunMessagePrompt(*lease.get(), caption, question, true);
  } catch (...) {
    return false;
  }
}

PathKind TerminalDialogHost::KindOfPath(TextView path) {
  std::error_code ec;
  std::filesystem::file_status status = std::filesystem::status(ToUtf8(path), ec);
  if (ec || !std::filesystem::exists(status)) return PathKind::kNothing;
  return std::filesystem::is_directory(status) ? PathKind::kFolder : PathKind::kFile;
}

}  // namespace pellory
