#include "support/fake_db.h"

#include "addressbook.h"
#include "platform/failure.h"

namespace pellory::testing {

int FakeResultSet::live = 0;

const std::vector<Text>& ContactColumns() {
  static const std::vector<Text> columns = [] {
    std::vector<Text> names;
    for (std::string_view column : standins::kClientColumns) names.push_back(FromUtf8(column));
    return names;
  }();
  return columns;
}

FakeTable& FakeTable::Add(const std::map<Text, Text>& values) {
  std::vector<std::optional<Text>> row(columns.size(), Text());
  for (const auto& [name, value] : values) {
    bool found = false;
    for (size_t i = 0; i < columns.size(); ++i) {
      if (EqualsNoCase(columns[i], name)) {
        row[i] = value;
        found = true;
      }
    }
    if (!found) throw Failure(u"FakeTable: no column " + name);
  }
  for (int n = 1; n <= 4; ++n) {
    Text suffix = IntegerText(n);
    Text reverse_name = u"Reverse_Phone_" + suffix;
    bool given = false;
    for (const auto& entry : values) given = given || EqualsNoCase(entry.first, reverse_name);
    if (given) continue;
    size_t phone = 0, reverse = 0;
    for (size_t i = 0; i < columns.size(); ++i) {
      if (columns[i] == u"PHONE_" + suffix) phone = i;
      if (columns[i] == reverse_name) reverse = i;
    }
    Text digits;
    for (char16_t c : *row[phone]) {
      if ((c >= u'0' && c <= u'9') || c == u'*' || c == u'#') digits.insert(digits.begin(), c);
    }
    row[reverse] = digits;
  }
  rows.push_back(std::move(row));
  return *this;
}

void FakeTable::DropColumn(TextView name) {
  for (size_t i = 0; i < columns.size(); ++i) {
    if (!EqualsNoCase(columns[i], name)) continue;
    columns.erase(columns.begin() + static_cast<long>(i));
    for (auto& row : rows) row.erase(row.begin() + static_cast<long>(i));
    return;
  }
}

FakeResultSet::FakeResultSet(std::shared_ptr<const FakeTable> table, std::vector<size_t> rows,
                             int polls)
    : table_(std::move(table)), rows_(std::move(rows)), polls_(polls) {
  ++live;
}

bool FakeResultSet::StillExecuting() {
  if (polls_ <= 0) return false;
  if (--polls_ == 0 && driver_times_out) {
    rows_.clear();
    throw Failure(u"HYT00: [Fake] Timeout expired", kTimeoutExpired);
  }
  return true;
}

bool FakeResultSet::Cancel() {
  ++cancels;
  polls_ = 0;
  rows_.clear();
  pos_ = 0;
  return stops_on_cancel;
}

void FakeResultSet::MoveNext() {
  if (Eof()) throw Failure(u"No current record.", 3021);
  ++pos_;
}

void FakeResultSet::MoveFirst() {
  if (rows_.empty()) throw Failure(u"No current record.", 3021);
  pos_ = 0;
}

int FakeResultSet::ColumnIndex(TextView name) {
  ++column_lookups;
  for (size_t i = 0; i < table_->columns.size(); ++i) {
    if (EqualsNoCase(table_->columns[i], name)) return static_cast<int>(i);
  }
  return -1;
}

const Text& FakeResultSet::Value(int column) {
  static const Text empty;
  if (Eof()) throw Failure(u"No current record.", 3021);
  if (column < 0 || static_cast<size_t>(column) >= table_->columns.size()) {
    throw Failure(u"Item not found in this collection.", 3265);
  }
  const std::optional<Text>& cell = table_->rows[rows_[pos_]][column];
  return cell ? *cell : empty;
}

ResultSetRef FakeDatabase::OpenResultSet(TextView sql, bool is_async, double time_limit) {
  statements.emplace_back(sql);
  async.push_back(is_async);
  time_limits.push_back(time_limit);
  if (fail_open) throw Failure(u"[Fake] syntax error", 3146);
  if (open_times_out) throw Failure(u"HYT00: [Fake] Timeout expired", kTimeoutExpired);
  std::vector<size_t> rows;
  if (select) {
    rows = select(sql, *table);
  } else {
    for (size_t i = 0; i < table->rows.size(); ++i) rows.push_back(i);
  }
  auto rs = std::make_shared<FakeResultSet>(table, std::move(rows), is_async ? polls : 0);
  rs->stops_on_cancel = cancel_stops;
  rs->driver_times_out = driver_times_out;
  last = rs;
  return rs;
}

}  // namespace pellory::testing
