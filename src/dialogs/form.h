// The common part of the plug-in's forms: the controls, the behaviour that a
// control has by itself (a check box toggles, an option button clears the
// others of its group, a combo box shows the entry picked) and the dispatch
// of a view's events to the form's event procedures.
#pragma once

#include <vector>

#include "platform/dialog_host.h"
#include "platform/env.h"

namespace pellory {

class ControlForm : public ModalForm {
 public:
  const Text& Caption() const override { return caption_; }
  const std::vector<Control>& Controls() const override { return controls_; }
  bool Closed() const override { return closed_; }

  void Activated(WindowHandle window) override;
  void Clicked(const ControlId& id) override;
  void TextChanged(const ControlId& id, TextView text) override;
  void SelectionChanged(const ControlId& id, int list_index) override;
  void CloseRequested() override { closed_ = true; }

  // The control of that name (and array index); throws Failure when the form
  // has none, as a reference to a missing control fails.
  Control& Ctl(TextView name, int index = -1);
  const Control& Ctl(TextView name, int index = -1) const;

  // Selecting an option button clears the other option buttons that sit in
  // the same container on the same tab page.
  void SelectOption(Control& option);
  // Sets a combo box's selected entry and shows its text; -1 selects none.
  // Throws Failure ("Invalid property value", 380) for an index out of range.
  static void SetListIndex(Control& combo, int list_index);
  // Sets a check box state; anything but 0, 1 or 2 fails as above.
  static void SetCheckValue(Control& check, int value);

 protected:
  // The form's event procedures, called after the control has done its own
  // part (a check box has toggled, a combo box has changed its entry).
  virtual void OnActivate(WindowHandle window) = 0;
  virtual void OnClick(const Control& control) = 0;
  virtual void OnSelect(const Control& control) { (void)control; }

  Control& Add(Control control);
  // Unloads the form: the view's loop ends.
  void Close() { closed_ = true; }

  Text caption_;
  std::vector<Control> controls_;
  bool closed_ = false;

 private:
  // The control an event is meant for, when it is there to receive it.
  Control* Target(const ControlId& id);
};

// A form whose event procedures reach the platform.
class Form : public ControlForm {
 public:
  explicit Form(Env& env) : env_(env) {}

 protected:
  Env& env_;
};

}  // namespace pellory
