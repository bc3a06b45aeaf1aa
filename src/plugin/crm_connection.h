// The connection of one Session to the CRM database, as the Session and the
// subsystems beside crmdb (lookup, automation) see it. crmdb implements it
// (crmdb::SessionConnection) and holds everything of the database side: the
// settings, the workspace, the database or SQL connection, the contact
// recordset and the contact table's name.
#pragma once

#include "platform/database.h"
#include "platform/text.h"

namespace pellory {

// What start-up reads from the settings record; CheckRunning reads the
// database path, user and password anew.
struct CrmSettings {
  bool use_sql = false;
  // Which of the four telephone fields a number search looks at.
  bool search_phone[4] = {false, false, false, false};
  // The "Timeout" setting in whole seconds, 0 for none (see plugin/deadline.h).
  int timeout = 0;
  // The address book's folder (SQL mode: the connection record until
  // CheckRunning rewrites it), and the login to it.
  Text db_path;
  Text db_user;
  Text db_password;
};

class CrmConnection {
 public:
  virtual ~CrmConnection() = default;

  // The working methods behind the Session's InitializeReal (start-up:
  // settings, and in file mode the instance data source and workspace),
  // LoadReal (the reply the host gets) and UnloadReal (the contact
  // recordset, then the database, are let go).
  virtual void Initialize() = 0;
  virtual Text Load() = 0;
  virtual void Release() = 0;
  // Whether the last Load the host asked for failed: a search does not
  // connect again after one.
  virtual void RememberLoad(bool failed) = 0;
  // CheckRunning's part: the database path, user and password read anew
  // from the per-user record, else from the CRM application's registry
  // values.
  virtual void ReadUserSettings() = 0;

  virtual const CrmSettings& settings() const = 0;
  // The contact table, as the last load found it.
  virtual const Text& table_name() const = 0;
  // The DAO database (file mode) or RDO connection (SQL mode); null while
  // none is open.
  virtual DatabaseRef database() const = 0;

  // Loads again, as the host's LoadReal does, when the handle a search
  // needs is gone (the connection in SQL mode, the contact recordset in
  // file mode), unless the last load failed.
  virtual void EnsureOpen() = 0;
  // Opens a search's statement asynchronously on the database and holds it
  // as the contact recordset. Throws Failure as the driver does, and 91
  // without a database. A statement that runs out of time while the
  // connection still waits for an earlier one drops the connection, so the
  // next search connects anew.
  virtual ResultSetRef OpenContacts(TextView statement, double time_limit) = 0;
  virtual void CloseContacts() = 0;
  // A search's statement the driver would not let go of keeps its
  // connection busy until it ends: `contacts` and the database `db` it was
  // opened on are dropped (those that are still held), so the next search
  // connects anew instead of waiting.
  virtual void Abandon(const DatabaseRef& db, const ResultSetRef& contacts) = 0;
};

}  // namespace pellory
