// frmAction: the action configuration dialog. It edits the action record
// held in the thread's configuration record: the action and its parameters.
#pragma once

#include "dialogs/form.h"

namespace pellory {

class FrmAction : public Form {
 public:
  // Edits `config_rd` (the thread's configuration record) on OK.
  FrmAction(Env& env, Text& config_rd);

  void Form_Load();
  void Form_Activate(WindowHandle window);
  void Action_Click();
  void OK_Click();
  void Cancel_Click();

 protected:
  void OnActivate(WindowHandle window) override { Form_Activate(window); }
  void OnClick(const Control& control) override;
  void OnSelect(const Control& control) override;

 private:
  // Selects the entry of `combo` that matches the record's value of `key`
  // (its first entry when the key is absent).
  void SelectStored(TextView combo, TextView key);

  Text& config_rd_;
};

}  // namespace pellory
