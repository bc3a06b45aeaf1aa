// frmConfig: the configuration dialog. It edits the settings record held in
// the thread's configuration record: the data directory or the SQL server
// connection, the telephone fields to search, the database user and password.
#pragma once

#include "dialogs/form.h"

namespace pellory {

class FrmConfig : public Form {
 public:
  // Edits `config_rd` (the thread's configuration record) on OK.
  FrmConfig(Env& env, Text& config_rd);

  void Form_Load();
  void Form_Activate(WindowHandle window);
  void bIni_Click();
  void OSel_Click();
  void OK_Click();
  void Cancel_Click();

  // The hidden data of the text box OConn: the connection record.
  const Text& OConnTag() const { return oconn_tag_; }

 protected:
  void OnActivate(WindowHandle window) override { Form_Activate(window); }
  void OnClick(const Control& control) override;

 private:
  // Whether OK may store the settings shown: SQL mode needs a connection,
  // and a data directory without an address book is stored only when the
  // person confirms it.
  bool ConfirmStore();

  Text& config_rd_;
  Text oconn_tag_;
};

// The short description of a data directory that OK stores as "Caption".
Text DataDirectoryCaption(TextView db_file);

}  // namespace pellory
