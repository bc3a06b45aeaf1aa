// Shows the plug-in's modal dialogs. The form logic lives in the dialogs
// subsystem; a host adapter draws its controls and turns a person's input
// into the form's events.
#pragma once

namespace pellory {

class ModalForm {
 public:
  virtual ~ModalForm() = default;
};

class DialogHost {
 public:
  virtual ~DialogHost() = default;
  // Runs the form modally; returns when the form has been closed.
  virtual void ShowModal(ModalForm& form) = 0;
};

}  // namespace pellory
