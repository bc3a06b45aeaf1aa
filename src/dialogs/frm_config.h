// frmConfig: the configuration dialog. It edits the settings record held in
// the thread's configuration record: the data directory or the SQL server
// connection, the telephone fields to search, how numbers are matched and the
// home country they are read in, the database user and password.
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
  // The server's filter is a setting of SQL mode: usable while it is chosen.
  void EnableSqlFilter();
  // The entry of the home-country list for a region code or name; -1 when
  // it names no region of the list.
  int RegionIndex(TextView code_or_name) const;
  // The region code of an entry of the home-country list; empty for -1.
  Text RegionCode(int list_index) const;

  Text& config_rd_;
  Text oconn_tag_;
  // What the record held when the dialog opened: OK writes a setting the
  // record never had only when the person has left its default.
  bool had_number_match_ = false;
  bool had_sql_filter_ = false;
  Variant region_stored_;  // "Region" as stored; empty when absent
  bool region_known_ = false;
  int region_loaded_ = -1;   // the entry selected at load
  int region_default_ = -1;  // the entry of the locale's territory
  // "Timeout" as stored (empty when absent): a setting the dialog does not
  // show, which OK keeps.
  Variant timeout_stored_;
};

// The short description of a data directory that OK stores as "Caption".
Text DataDirectoryCaption(TextView db_file);

}  // namespace pellory
