// A whole Session over the in-memory contact table: the DAO and RDO engines
// open the test's table as every database and connection, and count how
// often the Session connects.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "assembly.h"
#include "crmdb/crmdb.h"
#include "crmdb/session_connection.h"
#include "lookup/lookup.h"
#include "plugin/records.h"
#include "support/fake_db.h"
#include "support/fake_env.h"

namespace pellory::testing {

// "{name(S<length>)=value}", the entry AddVar writes for a text.
inline Text S(TextView name, TextView value) {
  return u"{" + Text(name) + u"(S" + IntegerText(static_cast<int64_t>(value.size())) + u")=" +
         Text(value) + u"}";
}
// The entry of a number.
inline Text N(TextView name, TextView digits) {
  return u"{" + Text(name) + u"(N" + IntegerText(static_cast<int64_t>(digits.size())) + u")=" +
         Text(digits) + u"}";
}

// The table as a database whose one table bears `table_name`.
class TableDatabase : public FakeDatabase {
 public:
  Text TableName(int) override { return table_name; }
  Text table_name = u"Client";
};

// Where every connection leads: `target` (none when null).
struct Connects {
  std::shared_ptr<TableDatabase> target;
  int count = 0;
  std::function<void()> hook;  // runs as each connection opens
  std::shared_ptr<TableDatabase> Next() {
    ++count;
    if (hook) hook();
    return target;
  }
};

// The DAO engine, its workspaces and the RDO engine in one: each opens the
// table as its database or connection.
class TableEngine : public DaoEngine, public RdoEngine, public Workspace {
 public:
  explicit TableEngine(Connects& c) : c_(c) {}
  WorkspaceRef CreateWorkspace(TextView, TextView, TextView, int) override {
    return std::make_shared<TableEngine>(c_);
  }
  void AppendWorkspace(const WorkspaceRef&) override {}
  void RegisterDatabase(TextView, TextView, bool, TextView) override {}
  DatabaseRef OpenDatabase(TextView, bool, TextView, double) override { return c_.Next(); }
  ConnectionRef OpenConnection(TextView, PromptMode, bool, TextView, double) override {
    return c_.Next();
  }

 private:
  Connects& c_;
};

class LookupTest : public ::testing::Test {
 protected:
  LookupTest() {
    ReleaseThreadEngines();
    auto& engines = static_cast<FakeDatabases&>(*env.database_engines);
    engines.dao = [this] { return std::make_shared<TableEngine>(connects); };
    engines.rdo = [this] { return std::make_shared<TableEngine>(connects); };
    connects.target = db;
    session_ = std::make_unique<Session>(env, WireSubsystems);
  }
  ~LookupTest() override {
    session_.reset();
    ReleaseThreadEngines();
  }

  // Starts and loads the session in file mode with the given search
  // switches and the fixture's `timeout`; the count of connections and the
  // table's record of statements start afresh.
  void FileMode(bool p1 = true, bool p2 = false, bool p3 = false, bool p4 = false) {
    Start(false, {p1, p2, p3, p4});
  }
  // The same in SQL mode, on a table named "dbo.Client".
  void SqlMode(bool p1 = true, bool p2 = false, bool p3 = false, bool p4 = false) {
    db->table_name = u"dbo.Client";
    Start(true, {p1, p2, p3, p4});
  }

  Session& session() { return *session_; }
  crmdb::SessionConnection& crm() {
    return dynamic_cast<crmdb::SessionConnection&>(*session_->crm());
  }
  FakeTable& table() { return *db->table; }

  FakeEnv env;
  std::shared_ptr<TableDatabase> db = std::make_shared<TableDatabase>();
  Connects connects;
  int timeout = 0;  // the Timeout setting of the next start
  std::unique_ptr<Session> session_;

 private:
  void Start(bool sql, std::initializer_list<bool> switches) {
    Text rd, user, vars;
    AddVar(env, rd, u"UseSQL", Variant(int16_t{sql}));
    AddVar(env, rd, u"Connection", Variant(u"{ConnName=Table}{Connect=DSN=Table}"));
    AddVar(env, rd, u"Timeout", Variant(int16_t(timeout)));
    int n = 0;
    for (bool on : switches) AddVar(env, rd, u"Phone" + IntegerText(++n), Variant(int16_t{on}));
    ObjectRef callback;
    session().Initialize(rd, user, callback);
    ASSERT_EQ(session().Load(vars), u"{Result=Success}");
    connects.count = 0;
    db->statements.clear();
    db->async.clear();
    db->time_limits.clear();
  }
};

}  // namespace pellory::testing
