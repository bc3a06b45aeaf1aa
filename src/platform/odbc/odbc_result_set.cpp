#include "platform/odbc/odbc_result_set.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <thread>
#include <utility>

#include "platform/odbc/fault_injection.h"
#include "platform/odbc/odbc_errors.h"

namespace pellory::odbc {
namespace {

// Bound buffers are sized from the column's declared size up to this many
// characters; longer or unsized columns start at kStartChars and grow.
constexpr SQLULEN kMaxBoundChars = 4000;
constexpr SQLULEN kStartChars = 255;

// How long a cancel may take before the statement is left to end on its
// own. A driver that honours SQLCancel ends the statement well within it
// (psqlODBC over loopback in about 10 ms).
constexpr double kCancelGrace = 0.1;

using Seconds = std::chrono::duration<double>;

// The asynchronous mode of a handle on which setting it failed or was not
// taken: set again at the next execution.
constexpr SQLULEN kUnknownMode = ~SQLULEN{0};

// The statement without what its quoted literals hold: statements that
// differ only in their literals give the same columns. Quoted identifiers
// stay.
Text StatementShape(TextView sql) {
  Text shape;
  shape.reserve(sql.size());
  char16_t quote = 0;
  for (char16_t c : sql) {
    if (quote == 0 && (c == u'\'' || c == u'"')) {
      quote = c;
    } else if (c == quote) {
      quote = 0;  // a doubled quote closes and opens again
    } else if (quote == u'\'') {
      continue;
    }
    shape += c;
  }
  return shape;
}

uint32_t NameHash(TextView name) {
  uint32_t h = 2166136261u;
  for (char16_t c : name) {
    h ^= UpperChar(c);
    h *= 16777619u;
  }
  return h;
}

// Copies a value into a text that keeps its capacity from row to row: no
// allocation once the text has held a value as long.
void AssignWide(Text& text, const SQLWCHAR* data, size_t length) {
  text.resize(length);
  if (length) std::memcpy(text.data(), data, length * sizeof(char16_t));
}

}  // namespace

OdbcResultSet::Statement::~Statement() {
  if (handle && !left_running && connection->Busy()) {
    // Freeing a statement may wait for the one the driver still runs on the
    // connection: a thread of its own does that.
    try {
      BackgroundCall::Start(
          [h = handle, c = connection] { (void)SQLFreeHandle(SQL_HANDLE_STMT, h); });
      handle = SQL_NULL_HSTMT;
    } catch (const Failure&) {
    }
  }
  // A handle the driver will not free cannot be helped: ignored.
  if (handle) (void)SQLFreeHandle(SQL_HANDLE_STMT, handle);
  if (left_running) connection->StatementEnded();
}

OdbcResultSet::Kept::~Kept() {
  if (handle) (void)SQLFreeHandle(SQL_HANDLE_STMT, handle);
}

OdbcResultSet::OdbcResultSet(std::shared_ptr<ConnectionHandle> connection, TextView sql, bool async,
                             double time_limit)
    : connection_(std::move(connection)), time_limit_(time_limit) {
  if (sql.size() > static_cast<size_t>(std::numeric_limits<SQLINTEGER>::max())) {
    throw Failure(u"The statement is too long", kInvalidArgument);
  }
  shape_ = StatementShape(sql);
  Allocate(true);
  statement_->sql = Wide(sql);
  if (time_limit_ > 0) {
    SetTimeout(static_cast<SQLULEN>(std::ceil(time_limit_)));
    Begin();
    if (!async && !AwaitExecution(time_limit_)) {
      Cancel();
      throw Failure(u"HYT00: Timeout expired", kTimeoutExpired);
    }
    return;
  }
  SetTimeout(0);
  SetAsync(async);
  SQLRETURN rc = Execute();
  if (rc == SQL_STILL_EXECUTING) {
    executing_ = true;
    return;
  }
  Finish(rc);
}

OdbcResultSet::OdbcResultSet(std::shared_ptr<ConnectionHandle> connection, Tables)
    : connection_(std::move(connection)), tables_(true) {
  Allocate(false);
  Finish(Execute());
}

void OdbcResultSet::Allocate(bool reuse) {
  // A statement left running on the connection is waited for, within the
  // time limit: the driver would wait for it in any call on the connection.
  const auto start = std::chrono::steady_clock::now();
  if (!connection_->WaitUntilFree(time_limit_)) {
    throw Failure(u"HYT00: The connection still waits for a statement that ran out of time",
                  kTimeoutExpired);
  }
  if (time_limit_ > 0) {
    time_limit_ =
        std::max(time_limit_ - Seconds(std::chrono::steady_clock::now() - start).count(), 0.001);
  }
  statement_ = std::make_shared<Statement>();
  statement_->connection = connection_;
  if (reuse) {
    if (std::unique_ptr<SpareStatement> spare = connection_->TakeSpare()) {
      auto& kept = static_cast<Kept&>(*spare);
      // Another shape: its columns are let go of (and freed with the spare)
      // and described anew. A handle that keeps them is not used.
      if (kept.shape == shape_ || Ok(SQLFreeStmt(kept.handle, SQL_UNBIND))) {
        statement_->handle = std::exchange(kept.handle, SQLHSTMT{SQL_NULL_HSTMT});
        async_mode_ = kept.async_mode;
        timeout_ = kept.timeout;
        if (kept.shape == shape_) {
          columns_ = std::move(kept.columns);
          bind_ = kept.bind;
          described_ = true;
          reused_ = true;
        }
        return;
      }
    }
  }
  if (!Ok(Checked(SQLAllocHandle, SQL_HANDLE_STMT, connection_->handle(), &statement_->handle))) {
    statement_->handle = SQL_NULL_HSTMT;
    ThrowDiagnostics(SQL_HANDLE_DBC, connection_->handle(), u"Could not open a statement",
                     connection_->secret());
  }
}

SQLRETURN OdbcResultSet::Execute() {
  if (tables_) {
    std::vector<SQLWCHAR> types = Wide(u"TABLE,VIEW");
    return Checked(SQLTablesW, statement_->handle, nullptr, 0, nullptr, 0, nullptr, 0, types.data(),
                   SQL_NTS);
  }
  return statement_->ExecDirect();
}

void OdbcResultSet::Begin() {
  // A driver that executes asynchronously is polled. One that cannot (it
  // refuses the attribute, or takes it and still executes synchronously,
  // as psqlODBC does) executes on a thread of its own, so that no caller
  // waits on the driver longer than it wants to.
  SQLHSTMT h = statement_->handle;
  if (async_mode_ != SQL_ASYNC_ENABLE_ON) {
    SQLULEN mode = SQL_ASYNC_ENABLE_OFF;
    const bool on = Ok(SQLSetStmtAttrW(h, SQL_ATTR_ASYNC_ENABLE,
                                       reinterpret_cast<SQLPOINTER>(SQL_ASYNC_ENABLE_ON), 0)) &&
                    Ok(SQLGetStmtAttrW(h, SQL_ATTR_ASYNC_ENABLE, &mode, 0, nullptr)) &&
                    mode == SQL_ASYNC_ENABLE_ON;
    async_mode_ = on ? SQL_ASYNC_ENABLE_ON : kUnknownMode;
  }
  if (async_mode_ == SQL_ASYNC_ENABLE_ON) {
    SQLRETURN rc = Execute();
    if (rc == SQL_STILL_EXECUTING) {
      executing_ = true;
      return;
    }
    Finish(rc);
    return;
  }
  auto statement = statement_;
  worker_ = BackgroundCall::Start([statement] { statement->rc = statement->ExecDirect(); });
  executing_ = true;
}

void OdbcResultSet::SetTimeout(SQLULEN seconds) {
  if (timeout_ == seconds) return;
  // Ignored when refused: the limit is kept by waiting no longer and
  // cancelling (Begin, AwaitExecution, Cancel) whatever the driver does.
  (void)SQLSetStmtAttrW(statement_->handle, SQL_ATTR_QUERY_TIMEOUT,
                        reinterpret_cast<SQLPOINTER>(seconds), 0);
  timeout_ = seconds;
}

void OdbcResultSet::SetAsync(bool on) {
  const SQLULEN mode = on ? SQL_ASYNC_ENABLE_ON : SQL_ASYNC_ENABLE_OFF;
  if (async_mode_ == mode) return;
  // A driver without asynchronous support refuses the attribute (or
  // ignores it) and the statement simply runs to its end.
  const bool set =
      Ok(SQLSetStmtAttrW(statement_->handle, SQL_ATTR_ASYNC_ENABLE,
                         reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(mode)), 0));
  async_mode_ = set ? mode : kUnknownMode;
}

bool OdbcResultSet::Ended(SQLRETURN& rc) {
  if (worker_) {
    if (!worker_->Done()) return false;
    worker_.reset();
    rc = statement_->rc;
    return true;
  }
  rc = Execute();
  return rc != SQL_STILL_EXECUTING;
}

bool OdbcResultSet::AwaitExecution(double seconds) {
  const auto end = std::chrono::steady_clock::now() + Seconds(seconds);
  while (StillExecuting()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return false;
    if (worker_) {
      worker_->WaitFor(Seconds(end - now).count());
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  return true;
}

bool OdbcResultSet::Cancel() {
  const bool running = executing_;
  executing_ = false;
  eof_ = true;
  for (Column& col : columns_) col.ready = false;
  if (!statement_) return true;
  const bool stopped = !running || (worker_ ? StopWorker() : StopAsync());
  if (!stopped) {
    statement_->left_running = true;
    connection_->StatementLeftRunning();
  }
  // Freed here, or by the thread that still waits for the driver.
  statement_.reset();
  return stopped;
}

bool OdbcResultSet::StopAsync() {
  // A driver that executes asynchronously takes SQLCancel at once, and the
  // next poll or two report the end. Whether it took the cancel shows in
  // those polls, so its own answer is ignored, here and below.
  (void)SQLCancel(statement_->handle);
  const auto end = std::chrono::steady_clock::now() + Seconds(kCancelGrace);
  while (Execute() == SQL_STILL_EXECUTING) {
    if (std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    // The rest of the wait goes to a thread of its own, which frees the
    // statement once the driver lets go of it. How the cancelled execution
    // ended matters to no one.
    auto statement = statement_;
    try {
      BackgroundCall::Start([statement] {
        while (statement->ExecDirect() == SQL_STILL_EXECUTING) {
          (void)SQLCancel(statement->handle);
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
      });
    } catch (const Failure&) {
      // Without a thread the statement is freed here, as late as that is.
    }
    return false;
  }
  return true;
}

bool OdbcResultSet::StopWorker() {
  // SQLCancel may itself wait for the server (psqlODBC's cancel request
  // waits for the server's answer, which a frozen server never gives), so
  // it is sent from a thread of its own; and sent again until the execution
  // ends, since a cancel that comes before the driver has started is lost.
  auto statement = statement_;
  auto worker = worker_;
  try {
    BackgroundCall::Start([statement, worker] {
      while (!worker->Done()) {
        (void)SQLCancel(statement->handle);  // the worker's end tells
        worker->WaitFor(0.1);
      }
    });
  } catch (const Failure&) {
    // Without a thread nothing is cancelled: the statement ends on its own.
  }
  const bool stopped = worker_->WaitFor(kCancelGrace);
  worker_.reset();
  return stopped;
}

OdbcResultSet::~OdbcResultSet() {
  if (!executing_) {
    Keep();
    return;
  }
  if (time_limit_ > 0) {
    Cancel();
  } else if (statement_->handle) {
    // Ignored: the statement is freed next, cancelled or not.
    (void)SQLCancel(statement_->handle);
  }
}

void OdbcResultSet::Keep() noexcept {
  // Only a statement that ran to its end, or stopped between rows, and
  // that nothing else holds. One that failed, ran out of time or was
  // cancelled is freed. A connection with a statement left running would
  // make the close wait for it.
  if (tables_ || failed_ || !statement_ || !statement_->handle || statement_->left_running ||
      worker_ || statement_.use_count() != 1) {
    return;
  }
  try {
    if (connection_->Busy()) return;
    auto kept = std::make_unique<Kept>();
    if (!Ok(SQLFreeStmt(statement_->handle, SQL_CLOSE))) return;
    kept->handle = std::exchange(statement_->handle, SQLHSTMT{SQL_NULL_HSTMT});
    kept->shape = std::move(shape_);
    kept->columns = std::move(columns_);
    kept->bind = bind_;
    kept->async_mode = async_mode_;
    kept->timeout = timeout_;
    connection_->KeepSpare(std::move(kept));
  } catch (...) {
    // Without memory (or a lock) for it the handle is freed as before.
  }
}

void OdbcResultSet::Fail(TextView fallback) {
  failed_ = true;
  ThrowDiagnostics(SQL_HANDLE_STMT, statement_->handle, fallback, connection_->secret());
}

template <typename Call>
SQLRETURN OdbcResultSet::Wait(Call call) {
  SQLRETURN rc;
  while ((rc = call()) == SQL_STILL_EXECUTING) std::this_thread::yield();
  return rc;
}

bool OdbcResultSet::StillExecuting() {
  if (!executing_) return false;
  SQLRETURN rc = SQL_ERROR;
  if (!Ended(rc)) return true;
  executing_ = false;
  Finish(rc);
  return false;
}

void OdbcResultSet::FinishExecution() {
  if (!executing_) return;
  SQLRETURN rc = SQL_ERROR;
  if (worker_) {
    worker_->Wait();
    Ended(rc);
  } else {
    rc = Wait([&] { return Execute(); });
  }
  executing_ = false;
  Finish(rc);
}

void OdbcResultSet::Finish(SQLRETURN rc) {
  if (rc != SQL_NO_DATA && !Ok(rc) && time_limit_ > 0) {
    // Given up at the query timeout, or cancelled at the limit.
    Text state;
    Text text = DiagnosticText(SQL_HANDLE_STMT, statement_->handle, connection_->secret(), &state);
    for (TextView timeout : {u"HYT00", u"HYT01", u"HY008", u"57014"}) {
      if (state == timeout) {
        failed_ = true;
        throw Failure(std::move(text), kTimeoutExpired);
      }
    }
  }
  if (rc != SQL_NO_DATA && !Ok(rc)) Fail(u"The statement failed");
  count_known_ = false;
  if (reused_) CheckShape();
  if (!described_) Describe();
  row_ = -1;
  Fetch();
}

void OdbcResultSet::CheckShape() {
  reused_ = false;
  SQLSMALLINT n = 0;
  if (!Ok(Wait([&] { return Checked(SQLNumResultCols, statement_->handle, &n); }))) {
    Fail(u"The statement has no columns");
  }
  if (static_cast<size_t>(std::max<SQLSMALLINT>(n, 0)) == columns_.size()) return;
  // The table changed under the statement: its columns are described anew.
  if (!Ok(SQLFreeStmt(statement_->handle, SQL_UNBIND))) {
    Fail(u"The statement's columns cannot be bound");
  }
  columns_.clear();
  described_ = false;
}

void OdbcResultSet::Describe() {
  SQLSMALLINT n = 0;
  if (!Ok(Wait([&] { return Checked(SQLNumResultCols, statement_->handle, &n); }))) {
    Fail(u"The statement has no columns");
  }
  bind_ = connection_->GetDataOnBound();
  columns_.resize(static_cast<size_t>(std::max<SQLSMALLINT>(n, 0)));
  for (SQLUSMALLINT i = 1; i <= columns_.size(); ++i) {
    Column& col = columns_[i - 1];
    std::vector<SQLWCHAR> name(256);
    SQLSMALLINT name_len = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    auto describe = [&] {
      return Wait([&] {
        return Checked(SQLDescribeColW, statement_->handle, i, name.data(),
                       static_cast<SQLSMALLINT>(name.size()), &name_len, &type, &size, &digits,
                       &nullable);
      });
    };
    if (!Ok(describe())) Fail(u"The statement's columns cannot be read");
    if (static_cast<size_t>(name_len) >= name.size()) {
      name.resize(static_cast<size_t>(name_len) + 1);
      if (!Ok(describe())) Fail(u"The statement's columns cannot be read");
    }
    col.name = FromWideZ(name.data(), name.size());
    col.hash = NameHash(col.name);
    if (!bind_) continue;
    SQLLEN display = 0;
    // Ignored when the driver has no display size: the declared size decides.
    Wait([&] {
      return SQLColAttributeW(statement_->handle, i, SQL_DESC_DISPLAY_SIZE, nullptr, 0, nullptr,
                              &display);
    });
    SQLULEN chars = std::max<SQLULEN>(size, display > 0 ? static_cast<SQLULEN>(display) : 0);
    if (chars == 0 || chars > kMaxBoundChars) chars = kStartChars;
    col.buffer.assign(chars + 1, 0);
    if (!Ok(Checked(SQLBindCol, statement_->handle, i, SQL_C_WCHAR, col.buffer.data(),
                    static_cast<SQLLEN>(col.buffer.size() * sizeof(SQLWCHAR)), &col.indicator))) {
      Fail(u"The statement's columns cannot be bound");
    }
    col.bound = true;
  }
  described_ = true;
}

void OdbcResultSet::Fetch() {
  SQLRETURN rc = Wait([&] { return Checked(SQLFetch, statement_->handle); });
  for (Column& col : columns_) col.ready = false;
  if (rc == SQL_NO_DATA) {
    eof_ = true;
    return;
  }
  if (!Ok(rc)) {
    eof_ = true;
    Fail(u"The next row cannot be read");
  }
  eof_ = false;
  ++row_;
  if (bind_) return;
  // Without SQLGetData on bound columns every column is read now, in
  // order, as the driver requires.
  for (SQLUSMALLINT i = 1; i <= columns_.size(); ++i) {
    Column& col = columns_[i - 1];
    if (col.buffer.empty()) col.buffer.assign(kStartChars + 1, 0);
    if (!ReadColumn(i, col.buffer, col.length)) col.length = 0;
  }
}

bool OdbcResultSet::ReadColumn(SQLUSMALLINT number, std::vector<SQLWCHAR>& buffer, size_t& length) {
  length = 0;
  for (;;) {
    SQLLEN indicator = 0;
    const size_t room = buffer.size() - length;  // units, terminator included
    SQLRETURN rc = Wait([&] {
      return Checked(SQLGetData, statement_->handle, number, SQL_C_WCHAR, buffer.data() + length,
                     static_cast<SQLLEN>(room * sizeof(SQLWCHAR)), &indicator);
    });
    if (rc == SQL_NO_DATA) return true;
    if (!Ok(rc)) Fail(u"A value cannot be read");
    if (indicator == SQL_NULL_DATA) return false;
    const size_t got = room - 1;
    const bool truncated =
        indicator == SQL_NO_TOTAL || static_cast<size_t>(indicator) / sizeof(SQLWCHAR) > got;
    if (!truncated) {
      length += static_cast<size_t>(indicator) / sizeof(SQLWCHAR);
      return true;
    }
    length += got;
    size_t rest = indicator == SQL_NO_TOTAL
                      ? buffer.size()
                      : static_cast<size_t>(indicator) / sizeof(SQLWCHAR) - got;
    buffer.resize(length + rest + 1);
  }
}

bool OdbcResultSet::Eof() {
  FinishExecution();
  return eof_;
}

void OdbcResultSet::MoveNext() {
  FinishExecution();
  if (eof_) throw Failure(u"No current record.", kNoCurrentRecord);
  Fetch();
}

void OdbcResultSet::MoveFirst() {
  FinishExecution();
  if (row_ == 0 && !eof_) return;
  if (!statement_) throw Failure(u"Operation cancelled", kOperationCancelled);
  // Ignored: a driver may have closed the cursor at the end of the rows
  // and then refuses to close it again (24000); a real failure shows in
  // the execution that follows.
  (void)SQLFreeStmt(statement_->handle, SQL_CLOSE);
  SQLRETURN rc = Wait([&] { return Execute(); });
  Finish(rc);
}

long OdbcResultSet::RecordCount() {
  FinishExecution();
  // Asked for only when wanted: a driver may have to count the rows first.
  if (!count_known_ && !statement_) return -1;
  if (!count_known_) {
    SQLLEN count = -1;
    // A driver that cannot count gives -1, as for a count it does not know.
    if (!Ok(Wait([&] { return SQLRowCount(statement_->handle, &count); }))) count = -1;
    count_ = count < 0 ? -1 : static_cast<long>(count);
    count_known_ = true;
  }
  return count_;
}

int OdbcResultSet::ColumnIndex(TextView name) {
  FinishExecution();
  const uint32_t h = NameHash(name);
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (columns_[i].hash == h && EqualsNoCase(columns_[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

TextView OdbcResultSet::View(int column) {
  // A bound column that holds the whole value is read where the driver
  // wrote it; anything else goes through Value.
  if (!executing_ && !eof_ && column >= 0 && static_cast<size_t>(column) < columns_.size()) {
    const Column& col = columns_[static_cast<size_t>(column)];
    // A value Value has read already (a long one, say, whose column has
    // been bound to a bigger buffer since) is that text.
    if (col.ready) return col.value;
    if (col.bound && col.indicator >= 0 &&
        static_cast<size_t>(col.indicator) < col.buffer.size() * sizeof(SQLWCHAR)) {
      return TextView(reinterpret_cast<const char16_t*>(col.buffer.data()),
                      static_cast<size_t>(col.indicator) / sizeof(SQLWCHAR));
    }
  }
  return Value(column);
}

const Text& OdbcResultSet::Value(int column) {
  FinishExecution();
  if (column < 0 || static_cast<size_t>(column) >= columns_.size()) {
    throw Failure(u"Item not found in this collection.", kItemNotFound);
  }
  if (eof_) throw Failure(u"No current record.", kNoCurrentRecord);
  Column& col = columns_[static_cast<size_t>(column)];
  if (col.ready) return col.value;
  if (!col.bound) {
    AssignWide(col.value, col.buffer.data(), col.length);
  } else if (col.indicator == SQL_NULL_DATA) {
    col.value.clear();
  } else if (col.indicator == SQL_NO_TOTAL ||
             static_cast<size_t>(col.indicator) >= col.buffer.size() * sizeof(SQLWCHAR)) {
    // Longer than the driver declared: read the whole value, and bind a
    // buffer big enough for it from the next row on.
    if (scratch_.size() < col.buffer.size() * 2) scratch_.resize(col.buffer.size() * 2);
    size_t length = 0;
    if (!ReadColumn(static_cast<SQLUSMALLINT>(column + 1), scratch_, length)) length = 0;
    AssignWide(col.value, scratch_.data(), length);
    col.buffer.assign(length + length / 2 + 1, 0);
    if (!Ok(Checked(SQLBindCol, statement_->handle, static_cast<SQLUSMALLINT>(column + 1),
                    SQL_C_WCHAR, col.buffer.data(),
                    static_cast<SQLLEN>(col.buffer.size() * sizeof(SQLWCHAR)), &col.indicator))) {
      Fail(u"The statement's columns cannot be bound");
    }
  } else {
    const size_t n = static_cast<size_t>(col.indicator) / sizeof(SQLWCHAR);
    AssignWide(col.value, col.buffer.data(), n);
  }
  col.ready = true;
  return col.value;
}

}  // namespace pellory::odbc
