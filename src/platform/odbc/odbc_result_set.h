// A result set over one ODBC statement: forward-only cursor, values read as
// UTF-16 into buffers that live as long as the result set. A result set
// that ends cleanly leaves its statement handle, closed but still bound, to
// its connection; the next statement of the same shape (the same text but
// for its quoted literals) executes on it without describing and binding
// its columns again.
#pragma once

#include <memory>
#include <vector>

#include "platform/database.h"
#include "platform/odbc/background_call.h"
#include "platform/odbc/fault_injection.h"
#include "platform/odbc/odbc_api.h"

namespace pellory::odbc {

class OdbcResultSet : public ResultSet {
 public:
  // Executes `sql` on the connection. With `async` the statement runs
  // asynchronously where the driver allows it; a driver that refuses runs
  // it at once. Throws Failure when the statement fails. `time_limit` above
  // 0 as Database::OpenResultSet describes: the statement then runs
  // asynchronously in the driver, or, for a driver that cannot, on a thread
  // of this result set's own.
  OdbcResultSet(std::shared_ptr<ConnectionHandle> connection, TextView sql, bool async,
                double time_limit = 0);
  // The connection's tables and views (SQLTables), run at once.
  struct Tables {};
  OdbcResultSet(std::shared_ptr<ConnectionHandle> connection, Tables);
  ~OdbcResultSet() override;

  bool StillExecuting() override;
  bool Cancel() override;
  bool Eof() override;
  void MoveNext() override;
  void MoveFirst() override;
  long RecordCount() override;
  int ColumnIndex(TextView name) override;
  const Text& Value(int column) override;
  TextView View(int column) override;

 private:
  struct Column {
    Text name;
    uint32_t hash = 0;
    // Bound columns: the driver writes each row here. Other columns: the
    // row's value read with SQLGetData.
    std::vector<SQLWCHAR> buffer;
    SQLLEN indicator = 0;
    size_t length = 0;
    bool bound = false;
    bool ready = false;  // `value` holds the current row's value
    Text value;
  };
  // The statement handle and what an execution needs, shared with a thread
  // that executes it or waits for the driver to let go of it: the handle is
  // freed (and the connection released) by whichever lets go last.
  struct Statement {
    std::shared_ptr<ConnectionHandle> connection;
    SQLHSTMT handle = SQL_NULL_HSTMT;
    std::vector<SQLWCHAR> sql;
    SQLRETURN rc = SQL_SUCCESS;  // of an execution on another thread
    bool left_running = false;   // counted as busy on the connection until freed
    ~Statement();
    // Passed with its length: a search value may hold U+0000, which must
    // not end the statement there.
    SQLRETURN ExecDirect() {
      return Checked(SQLExecDirectW, handle, sql.data(), static_cast<SQLINTEGER>(sql.size() - 1));
    }
  };

  // A statement handle left to the connection, with its bound columns and
  // the attributes set on it.
  struct Kept : SpareStatement {
    SQLHSTMT handle = SQL_NULL_HSTMT;
    Text shape;
    std::vector<Column> columns;
    bool bind = false;
    SQLULEN async_mode = SQL_ASYNC_ENABLE_OFF;
    SQLULEN timeout = 0;
    ~Kept() override;
  };

  // Waits for the connection and opens the statement handle: the
  // connection's spare when `reuse`, else a new one.
  void Allocate(bool reuse);
  void SetTimeout(SQLULEN seconds);
  void SetAsync(bool on);
  // Leaves the statement handle to the connection when it ended cleanly.
  void Keep() noexcept;
  SQLRETURN Execute();
  // Starts the execution of a statement with a time limit without waiting
  // for it.
  void Begin();
  // True when the execution has ended, with its outcome in `rc`.
  bool Ended(SQLRETURN& rc);
  // Waits for the execution at most `seconds`; true when it has ended.
  bool AwaitExecution(double seconds);
  bool StopAsync();
  bool StopWorker();
  [[noreturn]] void Fail(TextView fallback);
  // Repeats a call that an asynchronous statement may answer with "still
  // executing" until it has finished.
  template <typename Call>
  SQLRETURN Wait(Call call);
  void Finish(SQLRETURN rc);
  void FinishExecution();
  void Describe();
  // A reused handle's columns: described anew when their number changed.
  void CheckShape();
  void Fetch();
  // Reads a column with SQLGetData into `buffer`, growing it for long
  // values; false for a null.
  bool ReadColumn(SQLUSMALLINT number, std::vector<SQLWCHAR>& buffer, size_t& length);

  std::shared_ptr<ConnectionHandle> connection_;
  std::shared_ptr<Statement> statement_;    // none after Cancel
  std::shared_ptr<BackgroundCall> worker_;  // the execution, on a thread of its own
  double time_limit_ = 0;
  std::vector<Column> columns_;
  std::vector<SQLWCHAR> scratch_;
  Text shape_;
  // The attributes as last set on the handle (kUnknownMode: to be set).
  SQLULEN async_mode_ = SQL_ASYNC_ENABLE_OFF;
  SQLULEN timeout_ = 0;
  bool tables_ = false;
  bool failed_ = false;  // the statement failed or ran out of time
  bool reused_ = false;  // the handle came bound from an earlier statement
  bool executing_ = false;
  bool described_ = false;
  bool eof_ = true;
  bool bind_ = false;
  long row_ = -1;
  long count_ = -1;
  bool count_known_ = false;
};

}  // namespace pellory::odbc
