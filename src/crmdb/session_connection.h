// The connection of one Session to the CRM database: the settings start-up
// reads, the file-mode data source and workspace, the database or SQL
// connection, the contact recordset and the contact table.
#pragma once

#include "plugin/crm_connection.h"
#include "plugin/session.h"

namespace pellory::crmdb {

class SessionConnection final : public CrmConnection {
 public:
  explicit SessionConnection(Session& session) : session_(session), env_(session.env()) {}

  void Initialize() override;  // settings.cpp
  Text Load() override;
  void Release() override;
  void RememberLoad(bool failed) override { load_failed_ = failed; }
  void ReadUserSettings() override;  // settings.cpp

  const CrmSettings& settings() const override { return settings_; }
  const Text& table_name() const override { return table_name_; }
  DatabaseRef database() const override { return database_; }

  void EnsureOpen() override;
  ResultSetRef OpenContacts(TextView statement, double time_limit) override;
  void CloseContacts() override { contacts_.reset(); }
  void Abandon(const DatabaseRef& db, const ResultSetRef& contacts) override;

  bool load_failed() const { return load_failed_; }
  const WorkspaceRef& workspace() const { return workspace_; }
  const ResultSetRef& contacts() const { return contacts_; }
  // SQL mode: the connection record, kept apart from the database path so
  // that a reload after an action (which rewrites the path) still finds it.
  const Text& connection_rd() const { return connection_rd_; }

 private:
  void RegisterDataSource();  // settings.cpp
  Text LoadFile();
  Text LoadSql();
  Text ConnectSql(const Text& connect);
  bool FindContactTable(const Text& connect);

  Session& session_;
  Env& env_;
  CrmSettings settings_;
  Text connection_rd_;
  // File mode: why start-up could not register the instance data source
  // (empty when it did). Load then fails instead of opening whatever an
  // earlier registration of that name points at.
  Text data_source_failure_;
  bool load_failed_ = false;
  Text table_name_;
  WorkspaceRef workspace_;
  DatabaseRef database_;  // DAO database (file mode) or RDO connection (SQL mode)
  ResultSetRef contacts_;
};

}  // namespace pellory::crmdb
