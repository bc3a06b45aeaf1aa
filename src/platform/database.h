// The database engine port. It plays the two roles the plug-in uses: the
// DAO role (workspace, data-source registration, read-only database,
// recordsets) for file mode and the RDO role (environment, connection,
// table list, result sets) for SQL mode. Objects are shared references: an
// object is released when its last reference is dropped.
#pragma once

#include <memory>

#include "platform/object.h"
#include "platform/text.h"

namespace pellory {

// The failure number of a statement or a connection that ran out of its
// time limit ("ODBC--remote query timeout expired.").
constexpr long kTimeoutExpired = 3234;

class ResultSet : public Object {
 public:
  // Polls an asynchronous open once; true while the statement still runs.
  // Throws Failure when the statement failed (kTimeoutExpired when the
  // driver gave up at the time limit of the open).
  virtual bool StillExecuting() = 0;
  // Stops a statement that still runs, waiting for the driver no more than
  // a moment; the result set holds no rows afterwards. True when the
  // statement has stopped. False when it was left to end on its own: its
  // connection stays busy until then, and whoever holds the connection
  // should drop it rather than wait on it.
  virtual bool Cancel() = 0;
  // True when no current row is left (also for an empty result).
  virtual bool Eof() = 0;
  virtual void MoveNext() = 0;
  virtual void MoveFirst() = 0;
  virtual long RecordCount() = 0;
  // Column position by name, without regard to case; -1 when absent.
  virtual int ColumnIndex(TextView name) = 0;
  // Value of the current row's column as text; a null reads as empty. The
  // reference stays valid until the next move. Throws Failure when there is
  // no current row.
  virtual const Text& Value(int column) = 0;
  // The same value as a view, valid until the next move: a result set may
  // hand out the row as the driver wrote it, without copying it into a
  // text first.
  virtual TextView View(int column) { return Value(column); }

  // Value by column name; throws Failure ("Item not found in this
  // collection.", 3265) for a column the result set does not have.
  const Text& Field(TextView name);
};
using ResultSetRef = std::shared_ptr<ResultSet>;

// A DAO database or an RDO connection: both open result sets.
class Database : public Object {
 public:
  // Opens a statement; `async` asks for asynchronous execution, polled
  // through ResultSet::StillExecuting. Throws Failure when the open fails.
  // `time_limit` above 0 gives the statement that many seconds: the driver
  // gets it as its query timeout; an asynchronous open returns without
  // waiting for the driver even when the driver can only execute
  // synchronously; a synchronous open waits no longer than the limit, then
  // cancels the statement and throws Failure(kTimeoutExpired). 0: no limit.
  // While a statement that ran out of time is left running on the
  // connection (see ResultSet::Cancel) an open waits for it within its
  // limit, then fails with Failure(kTimeoutExpired).
  virtual ResultSetRef OpenResultSet(TextView sql, bool async, double time_limit) = 0;
  // The database product as the driver names it ("SQLite", "PostgreSQL",
  // "MariaDB", ...); empty when it does not say.
  virtual Text ProductName() { return Text(); }
};
using DatabaseRef = std::shared_ptr<Database>;

// RDO connection.
class Connection : public Database {
 public:
  virtual int TableCount() = 0;
  virtual Text TableName(int index) = 0;
  // The data-source name and completed connect string the connection reports.
  virtual Text DataSourceName() = 0;
  virtual Text ConnectString() = 0;
};
using ConnectionRef = std::shared_ptr<Connection>;

// DAO workspace.
class Workspace : public Object {
 public:
  // `login_timeout` above 0: the driver's login timeout (whole seconds,
  // rounded up), and the caller waits no longer than that many seconds for
  // the connection before Failure(kTimeoutExpired). 0: no limit.
  virtual DatabaseRef OpenDatabase(TextView name, bool read_only, TextView connect,
                                   double login_timeout) = 0;
};
using WorkspaceRef = std::shared_ptr<Workspace>;

constexpr int kDbUseOdbc = 1;

class DaoEngine : public Object {
 public:
  virtual WorkspaceRef CreateWorkspace(TextView name, TextView user, TextView password,
                                       int type) = 0;
  virtual void AppendWorkspace(const WorkspaceRef& workspace) = 0;
  // Makes a data source usable by name at once. `attributes` are
  // "key=value" pairs separated by carriage returns.
  virtual void RegisterDatabase(TextView dsn, TextView driver, bool silent,
                                TextView attributes) = 0;
};

// The RDO failure number that stands for "data source not found".
constexpr long kRdoDataSourceNotFound = 40002;

enum class PromptMode { kPrompt = 0, kNoPrompt = 1, kComplete = 2, kCompleteRequired = 3 };

class RdoEngine : public Object {
 public:
  // Opens a connection in the engine's first environment. Throws Failure
  // with kRdoDataSourceNotFound when the data source does not exist.
  // `login_timeout` as for Workspace::OpenDatabase.
  virtual ConnectionRef OpenConnection(TextView dsn, PromptMode prompt, bool read_only,
                                       TextView connect, double login_timeout) = 0;
};

class DatabaseEngines {
 public:
  virtual ~DatabaseEngines() = default;
  virtual std::shared_ptr<DaoEngine> CreateDaoEngine() = 0;
  virtual std::shared_ptr<RdoEngine> CreateRdoEngine() = 0;
};

}  // namespace pellory
