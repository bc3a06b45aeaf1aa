// Scripted DAO and RDO engines for the crmdb tests: they record what the
// plug-in asks of them and answer as each test sets up.
#pragma once

#include <functional>
#include <vector>

#include "platform/database.h"
#include "platform/failure.h"
#include "support/fake_env.h"

namespace pellory::testing {

class ScriptedResultSet : public ResultSet {
 public:
  bool StillExecuting() override { return false; }
  bool Cancel() override { return true; }
  bool Eof() override { return true; }
  void MoveNext() override {}
  void MoveFirst() override {}
  long RecordCount() override { return 0; }
  int ColumnIndex(TextView) override { return -1; }
  const Text& Value(int) override { throw Failure(u"No current record.", 3021); }
};

// A database or connection: statements on tables in `answering` succeed.
class ScriptedConnection : public Connection {
 public:
  ResultSetRef OpenResultSet(TextView sql, bool, double time_limit) override {
    statements.emplace_back(sql);
    time_limits.push_back(time_limit);
    for (const Text& t : answering) {
      if (sql.size() >= t.size() && sql.substr(sql.size() - t.size()) == t) {
        return std::make_shared<ScriptedResultSet>();
      }
    }
    throw Failure(u"Table not found: " + Text(sql), 3146);
  }
  int TableCount() override { return static_cast<int>(tables.size()); }
  Text TableName(int i) override { return tables.at(static_cast<size_t>(i)); }
  Text DataSourceName() override { return u"x"; }
  Text ConnectString() override { return u"DSN=x"; }

  std::vector<Text> tables;
  std::vector<Text> answering;
  std::vector<Text> statements;
  std::vector<double> time_limits;
};

struct DaoLog {
  std::vector<Text> workspaces;  // "name|user|password|type"
  std::vector<Text> appended;
  std::vector<Text> registered;        // "dsn|driver|silent|attributes"
  std::vector<Text> opened;            // connect strings
  std::vector<double> login_timeouts;  // of each OpenDatabase
};

class ScriptedWorkspace : public Workspace {
 public:
  ScriptedWorkspace(DaoLog& log, Text name) : log(log), name(std::move(name)) {}
  DatabaseRef OpenDatabase(TextView, bool read_only, TextView connect,
                           double login_timeout) override {
    log.opened.emplace_back(connect);
    log.login_timeouts.push_back(login_timeout);
    if (!read_only) throw Failure(u"expected a read-only open", 1);
    if (open) return open(connect);
    auto db = std::make_shared<ScriptedConnection>();
    db->answering = {u"Client"};
    return db;
  }
  DaoLog& log;
  Text name;
  std::function<DatabaseRef(TextView)> open;
};

class ScriptedDao : public DaoEngine {
 public:
  explicit ScriptedDao(DaoLog& log) : log(log) {}
  WorkspaceRef CreateWorkspace(TextView name, TextView user, TextView password, int type) override {
    log.workspaces.push_back(Text(name) + u"|" + Text(user) + u"|" + Text(password) + u"|" +
                             IntegerText(type));
    if (fail_workspaces) throw Failure(u"Workspace refused", 3001);
    auto ws = std::make_shared<ScriptedWorkspace>(log, Text(name));
    ws->open = open;
    return ws;
  }
  void AppendWorkspace(const WorkspaceRef& ws) override {
    auto s = std::dynamic_pointer_cast<ScriptedWorkspace>(ws);
    log.appended.push_back(s ? s->name : u"?");
  }
  void RegisterDatabase(TextView dsn, TextView driver, bool silent, TextView attrs) override {
    log.registered.push_back(Text(dsn) + u"|" + Text(driver) + u"|" + (silent ? u"1" : u"0") +
                             u"|" + Text(attrs));
    if (fail_register) throw Failure(u"Driver not installed", 3146);
  }
  DaoLog& log;
  bool fail_workspaces = false;
  bool fail_register = false;
  std::function<DatabaseRef(TextView)> open;
};

class ScriptedRdo : public RdoEngine {
 public:
  ConnectionRef OpenConnection(TextView dsn, PromptMode prompt, bool read_only, TextView connect,
                               double login_timeout) override {
    login_timeouts.push_back(login_timeout);
    attempts.push_back(Text(dsn) + u"|" + IntegerText(static_cast<int>(prompt)) + u"|" +
                       (read_only ? u"ro" : u"rw") + u"|" + Text(connect));
    return connection;
  }
  std::vector<Text> attempts;
  std::vector<double> login_timeouts;
  std::shared_ptr<ScriptedConnection> connection = std::make_shared<ScriptedConnection>();
};

}  // namespace pellory::testing
