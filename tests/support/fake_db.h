// An in-memory contact table behind the Database and ResultSet ports. The
// fake records every statement it is asked to open; which rows a statement
// returns is up to the test (all rows unless `select` says otherwise).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "platform/database.h"

namespace pellory::testing {

// The contact-table columns in the order the address book keeps them.
const std::vector<Text>& ContactColumns();

struct FakeTable {
  std::vector<Text> columns = ContactColumns();
  std::vector<std::vector<std::optional<Text>>> rows;  // nullopt: a database null

  // Appends a row; unnamed columns are empty, reversed phone columns are
  // filled from the phones unless given.
  FakeTable& Add(const std::map<Text, Text>& values);
  // Removes a column from the table and from every row.
  void DropColumn(TextView name);
};

class FakeResultSet : public ResultSet {
 public:
  FakeResultSet(std::shared_ptr<const FakeTable> table, std::vector<size_t> rows, int polls);
  ~FakeResultSet() override { --live; }

  bool StillExecuting() override;
  bool Cancel() override;
  bool Eof() override { return pos_ >= rows_.size(); }
  void MoveNext() override;
  void MoveFirst() override;
  long RecordCount() override { return static_cast<long>(rows_.size()); }
  int ColumnIndex(TextView name) override;
  const Text& Value(int column) override;

  size_t position() const { return pos_; }
  int column_lookups = 0;  // ColumnIndex calls
  int cancels = 0;
  bool stops_on_cancel = true;    // what Cancel answers
  bool driver_times_out = false;  // the last poll fails as a driver's query timeout
  static int live;                // result sets not yet destroyed

 private:
  std::shared_ptr<const FakeTable> table_;
  std::vector<size_t> rows_;
  size_t pos_ = 0;
  int polls_;
};

class FakeDatabase : public Connection {
 public:
  explicit FakeDatabase(std::shared_ptr<FakeTable> t = std::make_shared<FakeTable>())
      : table(std::move(t)) {}

  ResultSetRef OpenResultSet(TextView sql, bool async, double time_limit) override;
  int TableCount() override { return 1; }
  Text TableName(int) override { return u"Client"; }
  Text DataSourceName() override { return u"Fake"; }
  Text ConnectString() override { return u"DSN=Fake"; }

  std::shared_ptr<FakeTable> table;
  // Rows a statement returns, as indices into the table; all rows when unset.
  std::function<std::vector<size_t>(TextView sql, const FakeTable&)> select;
  int polls = 0;                  // StillExecuting answers true this often after an async open
  bool fail_open = false;         // every open fails as a bad statement does
  bool open_times_out = false;    // every open fails as one that ran out of its time limit
  bool cancel_stops = true;       // the result sets' answer to Cancel
  bool driver_times_out = false;  // see FakeResultSet
  std::vector<Text> statements;
  std::vector<bool> async;
  std::vector<double> time_limits;
  std::weak_ptr<FakeResultSet> last;  // the result set of the last open
};

}  // namespace pellory::testing
