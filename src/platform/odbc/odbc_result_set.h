// A result set over one ODBC statement: forward-only cursor, values read as
// UTF-16 into buffers that live as long as the result set.
#pragma once

#include <memory>
#include <vector>

#include "platform/database.h"
#include "platform/odbc/odbc_api.h"

namespace pellory::odbc {

class OdbcResultSet : public ResultSet {
 public:
  // Executes `sql` on the connection. With `async` the statement runs
  // asynchronously where the driver allows it; a driver that refuses runs
  // it at once. Throws Failure when the statement fails.
  OdbcResultSet(std::shared_ptr<ConnectionHandle> connection, TextView sql, bool async);
  // The connection's tables and views (SQLTables), run at once.
  struct Tables {};
  OdbcResultSet(std::shared_ptr<ConnectionHandle> connection, Tables);
  ~OdbcResultSet() override;

  bool StillExecuting() override;
  bool Eof() override;
  void MoveNext() override;
  void MoveFirst() override;
  long RecordCount() override;
  int ColumnIndex(TextView name) override;
  const Text& Value(int column) override;

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
  struct Statement {
    SQLHSTMT handle = SQL_NULL_HSTMT;
    ~Statement();
  };

  void Allocate();
  SQLRETURN Execute();
  [[noreturn]] void Fail(TextView fallback);
  // Repeats a call that an asynchronous statement may answer with "still
  // executing" until it has finished.
  template <typename Call>
  SQLRETURN Wait(Call call);
  void Finish(SQLRETURN rc);
  void FinishExecution();
  void Describe();
  void Fetch();
  // Reads a column with SQLGetData into `buffer`, growing it for long
  // values; false for a null.
  bool ReadColumn(SQLUSMALLINT number, std::vector<SQLWCHAR>& buffer, size_t& length);

  std::shared_ptr<ConnectionHandle> connection_;
  Statement statement_;
  std::vector<SQLWCHAR> sql_;
  std::vector<Column> columns_;
  std::vector<SQLWCHAR> scratch_;
  bool tables_ = false;
  bool executing_ = false;
  bool described_ = false;
  bool eof_ = true;
  bool bind_ = false;
  long row_ = -1;
  long count_ = -1;
  bool count_known_ = false;
};

}  // namespace pellory::odbc
