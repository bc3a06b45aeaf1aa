// Statement handles: compiling and running the read-only SELECTs the plug-in sends, asynchronous
// execution with polling, fetching every column as text, SQLRowCount and SQLTablesW.

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#include "driver.h"
#include "text.h"

namespace maxodbc {

namespace {

// The cancel flag of the statement whose SQLite call runs on this thread; the connection's
// progress handler interrupts that call when the flag is set.
thread_local const std::atomic<bool>* tl_cancel = nullptr;

class CancelScope {
 public:
  explicit CancelScope(const std::atomic<bool>* flag) : previous_(tl_cancel) { tl_cancel = flag; }
  ~CancelScope() { tl_cancel = previous_; }
  CancelScope(const CancelScope&) = delete;
  CancelScope& operator=(const CancelScope&) = delete;

 private:
  const std::atomic<bool>* previous_;
};

int ProgressHandler(void*) { return tl_cancel != nullptr && tl_cancel->load() ? 1 : 0; }

// Holds the connection's mutex so that an SQLite call and the reading of its error message are
// not separated by another thread's call.
class DbLock {
 public:
  explicit DbLock(sqlite3* db) : mutex_(sqlite3_db_mutex(db)) { sqlite3_mutex_enter(mutex_); }
  ~DbLock() { sqlite3_mutex_leave(mutex_); }
  DbLock(const DbLock&) = delete;
  DbLock& operator=(const DbLock&) = delete;

 private:
  sqlite3_mutex* mutex_;
};

template <typename F>
SQLRETURN Guarded(Handle* h, F&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return h->Error("HY001", "Memory allocation error");
  } catch (const std::exception& e) {
    return h->Error("HY000", e.what());
  }
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// The first word of the statement, skipping blanks and opening parentheses.
std::string_view FirstWord(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (IsSpace(text[i]) || text[i] == '(')) ++i;
  std::size_t j = i;
  while (j < text.size() &&
         ((text[j] >= 'a' && text[j] <= 'z') || (text[j] >= 'A' && text[j] <= 'Z'))) {
    ++j;
  }
  return text.substr(i, j - i);
}

std::optional<unsigned> ExecDelay(const Stmt* s) {
  const char* match = std::getenv("PELLORY_MAXODBC_DELAY_MATCH");
  if (match != nullptr && *match != '\0' && s->sql.find(match) == std::string::npos) {
    return std::nullopt;
  }
  if (s->dbc->exec_delay_ms) return s->dbc->exec_delay_ms;
  const char* env = std::getenv("PELLORY_MAXODBC_DELAY_MS");
  if (env == nullptr || *env == '\0') return std::nullopt;
  unsigned value = 0;
  const std::string_view text(env);
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

// SQLite's parser takes a NUL character for the end of the statement. One
// inside a quoted literal is part of the value: it is spelled as a
// concatenation with char(0) so that the literal keeps it.
std::string SpellNuls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  char quote = 0;  // the quote of the literal or identifier the text is in
  for (char c : text) {
    if (quote == 0 && (c == '\'' || c == '"')) {
      quote = c;
    } else if (c == quote) {
      quote = 0;  // a doubled quote closes and opens again
    } else if (c == '\0' && quote == '\'') {
      out += "'||char(0)||'";
      continue;
    }
    out += c;
  }
  return out;
}

// Compiles one read-only statement, replacing the statement's earlier one.
SQLRETURN Compile(Stmt* s, std::string_view given, bool check_select) {
  const std::string spelled =
      given.find('\0') == std::string_view::npos ? std::string() : SpellNuls(given);
  const std::string_view text = spelled.empty() ? given : std::string_view(spelled);
  ReleaseStatement(s);
  if (check_select && !EqualsNoCase(FirstWord(text), "select")) {
    return s->Error("42000", "Only SELECT statements can be run: the address book is read-only");
  }
  sqlite3* db = s->dbc->db;
  sqlite3_stmt* st = nullptr;
  const char* tail = nullptr;
  {
    DbLock lock(db);
    const int rc = sqlite3_prepare_v2(db, text.data(), static_cast<int>(text.size()), &st, &tail);
    if (rc != SQLITE_OK) {
      const std::string message = sqlite3_errmsg(db);
      sqlite3_finalize(st);
      return s->Error(StateForSqliteError(rc, message), message, rc);
    }
  }
  if (st == nullptr) return s->Error("42000", "The statement text is empty");
  const std::string_view rest(tail, static_cast<std::size_t>(text.data() + text.size() - tail));
  if (!std::all_of(rest.begin(), rest.end(), [](char c) { return IsSpace(c) || c == ';'; })) {
    sqlite3_finalize(st);
    return s->Error("42000", "Only one statement can be run at a time");
  }
  if (!sqlite3_stmt_readonly(st)) {
    sqlite3_finalize(st);
    return s->Error("42000", "Only SELECT statements can be run: the address book is read-only");
  }
  std::string_view sql = text.substr(0, static_cast<std::size_t>(tail - text.data()));
  while (!sql.empty() && (IsSpace(sql.back()) || sql.back() == ';')) sql.remove_suffix(1);
  s->sql = std::string(sql);
  s->st = st;
  const int columns = sqlite3_column_count(st);
  s->column_names.clear();
  for (int i = 0; i < columns; ++i) {
    const char* name = sqlite3_column_name(st, i);
    s->column_names.emplace_back(name != nullptr ? name : "");
  }
  s->reads.assign(static_cast<std::size_t>(columns), ColumnRead{});
  return SQL_SUCCESS;
}

// Runs the statement up to its first row; on a worker thread when asynchronous.
RunOutcome FirstStep(Stmt* s, std::optional<unsigned> delay_ms) {
  CancelScope scope(&s->cancel);
  if (delay_ms && *delay_ms > 0) {
    std::unique_lock<std::mutex> lock(s->delay_mutex);
    s->delay_cv.wait_for(lock, std::chrono::milliseconds(*delay_ms),
                         [s] { return s->cancel.load(); });
  }
  if (s->cancel.load()) return {false, "HY008", "Operation canceled", SQLITE_INTERRUPT};
  sqlite3* db = s->dbc->db;
  DbLock lock(db);
  const int rc = sqlite3_step(s->st);
  if (rc == SQLITE_ROW) {
    s->row_pending = true;
    return {};
  }
  if (rc == SQLITE_DONE) {
    s->at_end = true;
    return {};
  }
  if (rc == SQLITE_INTERRUPT) return {false, "HY008", "Operation canceled", rc};
  const std::string message = sqlite3_errmsg(db);
  return {false, StateForSqliteError(rc, message), message, rc};
}

SQLRETURN Finish(Stmt* s) {
  s->executing = false;
  s->running = false;
  if (s->outcome.ok) {
    s->cursor_open = true;
    s->executed = true;
    return SQL_SUCCESS;
  }
  sqlite3_reset(s->st);
  s->row_pending = false;
  s->at_end = false;
  return s->Error(s->outcome.state, s->outcome.message, s->outcome.sqlite_code);
}

// The connection's worker: runs the queued statements up to their first row, one at a time.
void WorkerLoop(ExecutionWorker* w) {
  std::unique_lock<std::mutex> lock(w->mutex);
  for (;;) {
    w->wake.wait(lock, [w] { return w->stop || !w->queue.empty(); });
    if (w->queue.empty()) return;  // stopping
    Stmt* s = w->queue.front();
    w->queue.pop_front();
    w->current = s;
    lock.unlock();
    s->outcome = FirstStep(s, s->run_delay_ms);
    s->worker_done.store(true, std::memory_order_release);
    lock.lock();
    w->current = nullptr;
    w->finished.notify_all();
  }
}

// Queues an asynchronous execution on the connection's worker, starting the worker on first need.
// Throws std::system_error when the thread cannot be started.
void Enqueue(Stmt* s) {
  ExecutionWorker& w = s->dbc->worker;
  std::lock_guard<std::mutex> lock(w.mutex);
  if (!w.thread.joinable()) w.thread = std::thread(WorkerLoop, &w);
  w.queue.push_back(s);
  w.wake.notify_one();
}

SQLRETURN Run(Stmt* s, bool apply_delay) {
  CloseCursor(s);
  sqlite3_reset(s->st);
  s->row_count.reset();
  s->row_number = 0;
  s->cancel = false;
  s->running = true;
  const auto delay = apply_delay ? ExecDelay(s) : std::nullopt;
  if (s->async_enable == SQL_ASYNC_ENABLE_ON) {
    s->worker_done = false;
    s->executing = true;
    s->run_delay_ms = delay;
    try {
      Enqueue(s);
    } catch (const std::system_error& e) {
      s->executing = false;
      s->running = false;
      return s->Error("HY000", std::string("Cannot start the execution: ") + e.what());
    }
    return SQL_STILL_EXECUTING;
  }
  s->outcome = FirstStep(s, delay);
  return Finish(s);
}

SQLRETURN Poll(Stmt* s) {
  if (!s->worker_done.load(std::memory_order_acquire)) return SQL_STILL_EXECUTING;
  return Finish(s);
}

// Moves to the next row: SQL_SUCCESS, SQL_NO_DATA or SQL_ERROR.
SQLRETURN NextRow(Stmt* s) {
  s->on_row = false;
  if (s->max_rows > 0 && s->row_number >= s->max_rows) {
    s->at_end = true;
    s->row_pending = false;
    return SQL_NO_DATA;
  }
  if (s->row_pending) {
    s->row_pending = false;
  } else if (s->at_end) {
    return SQL_NO_DATA;
  } else {
    CancelScope scope(&s->cancel);
    sqlite3* db = s->dbc->db;
    DbLock lock(db);
    const int rc = sqlite3_step(s->st);
    if (rc == SQLITE_DONE) {
      s->at_end = true;
      return SQL_NO_DATA;
    }
    if (rc != SQLITE_ROW) {
      s->at_end = true;
      const std::string message = sqlite3_errmsg(db);
      return s->Error(StateForSqliteError(rc, message), message, rc);
    }
  }
  ++s->row_number;
  s->on_row = true;
  return SQL_SUCCESS;
}

// The value of a column of the current row as UTF-8 text; nothing for NULL.
std::optional<std::string_view> ColumnValue(sqlite3_stmt* st, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, column));
  if (text == nullptr) {
    if (sqlite3_column_type(st, column) == SQLITE_NULL) return std::nullopt;
    throw std::bad_alloc();
  }
  return std::string_view(text, static_cast<std::size_t>(sqlite3_column_bytes(st, column)));
}

// Converts `value` into a wide buffer of `units` characters (with the terminator) from its
// start; returns the number of units written and sets `total` to the value's full length.
std::size_t WriteWideValue(std::string_view value, SQLWCHAR* out, std::size_t units,
                           std::size_t& total) {
  std::size_t pos = 0;
  std::size_t unit = 0;
  const std::size_t n = ConvertToUtf16(value, pos, unit, 0, out, units - 1);
  out[n] = 0;
  total = unit + (pos < value.size() ? Utf16Length(value.substr(pos)) : 0);
  return n;
}

// Writes a bound column of the current row. Returns SQL_SUCCESS, SQL_SUCCESS_WITH_INFO on
// truncation, or SQL_ERROR for a NULL without an indicator.
SQLRETURN WriteBound(Stmt* s, int column, const Binding& b) {
  const auto value = ColumnValue(s->st, column);
  if (!value) {
    if (b.indicator == nullptr) {
      return s->Error("22002", "Indicator variable required but not supplied");
    }
    *b.indicator = SQL_NULL_DATA;
    return SQL_SUCCESS;
  }
  bool truncated = false;
  if (b.c_type == SQL_C_WCHAR) {
    const std::size_t units = static_cast<std::size_t>(b.capacity) / sizeof(SQLWCHAR);
    std::size_t total = 0;
    if (b.data != nullptr && units > 0) {
      const std::size_t n = WriteWideValue(*value, static_cast<SQLWCHAR*>(b.data), units, total);
      truncated = n < total;
    } else {
      total = Utf16Length(*value);
      truncated = b.data != nullptr && total > 0;
    }
    if (b.indicator != nullptr) *b.indicator = static_cast<SQLLEN>(total * sizeof(SQLWCHAR));
  } else {
    const std::size_t capacity = static_cast<std::size_t>(b.capacity);
    if (b.data != nullptr && capacity > 0) {
      const std::size_t n = std::min(value->size(), capacity - 1);
      auto* out = static_cast<char*>(b.data);
      std::memcpy(out, value->data(), n);
      out[n] = '\0';
      truncated = n < value->size();
    } else {
      truncated = b.data != nullptr && !value->empty();
    }
    if (b.indicator != nullptr) *b.indicator = static_cast<SQLLEN>(value->size());
  }
  return truncated ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

SQLRETURN Fetch(Stmt* s) {
  if (s->executing) return s->Error("HY010", "Function sequence error");
  if (!s->cursor_open) return s->Error("24000", "Invalid cursor state");
  const SQLRETURN step = NextRow(s);
  if (step != SQL_SUCCESS) {
    if (s->rows_fetched != nullptr) *s->rows_fetched = 0;
    return step;
  }
  SQLRETURN result = SQL_SUCCESS;
  const int columns = static_cast<int>(s->column_names.size());
  for (int c = 0; c < columns && c < static_cast<int>(s->bindings.size()); ++c) {
    const Binding& b = s->bindings[static_cast<std::size_t>(c)];
    if (b.data == nullptr && b.indicator == nullptr) continue;
    const SQLRETURN rc = WriteBound(s, c, b);
    if (rc == SQL_ERROR) {
      result = SQL_ERROR;
    } else if (rc == SQL_SUCCESS_WITH_INFO && result == SQL_SUCCESS) {
      result = SQL_SUCCESS_WITH_INFO;
    }
  }
  if (result == SQL_SUCCESS_WITH_INFO) s->Warning("01004", "String data, right truncated");
  if (s->rows_fetched != nullptr) *s->rows_fetched = 1;
  if (s->row_status != nullptr) {
    s->row_status[0] = result == SQL_SUCCESS ? SQL_ROW_SUCCESS
                       : result == SQL_ERROR ? SQL_ROW_ERROR
                                             : SQL_ROW_SUCCESS_WITH_INFO;
  }
  return result;
}

SQLRETURN GetData(Stmt* s, SQLUSMALLINT column, SQLSMALLINT c_type, SQLPOINTER out, SQLLEN capacity,
                  SQLLEN* indicator) {
  if (s->executing) return s->Error("HY010", "Function sequence error");
  if (!s->cursor_open || !s->on_row) return s->Error("24000", "Invalid cursor state");
  if (column == 0 || column > s->column_names.size()) {
    return s->Error("07009", "Invalid descriptor index");
  }
  if (c_type == SQL_C_DEFAULT) c_type = SQL_C_WCHAR;
  if (c_type != SQL_C_WCHAR && c_type != SQL_C_CHAR) {
    return s->Error("07006", "Restricted data type attribute violation: columns read as text");
  }
  if (capacity < 0) return s->Error("HY090", "Invalid string or buffer length");

  const int c = column - 1;
  ColumnRead& read = s->reads[static_cast<std::size_t>(c)];
  const auto value = ColumnValue(s->st, c);
  const bool wide = c_type == SQL_C_WCHAR;
  if (read.row != s->row_number || read.c_type != c_type) {
    read = ColumnRead{};
    read.row = s->row_number;
    read.c_type = c_type;
    if (value && !wide) {
      read.total = value->size();
      read.total_known = true;
    }
  }
  if (read.finished) return SQL_NO_DATA;

  if (!value) {
    if (indicator == nullptr) {
      return s->Error("22002", "Indicator variable required but not supplied");
    }
    *indicator = SQL_NULL_DATA;
    read.finished = true;
    return SQL_SUCCESS;
  }

  const std::size_t unit_size = wide ? sizeof(SQLWCHAR) : 1;
  const std::size_t room = static_cast<std::size_t>(capacity) / unit_size;
  const std::size_t before = read.delivered;
  if (out != nullptr && room > 0) {
    if (wide) {
      auto* buffer = static_cast<SQLWCHAR*>(out);
      const std::size_t written =
          ConvertToUtf16(*value, read.pos, read.unit, read.delivered, buffer, room - 1);
      buffer[written] = 0;
      if (!read.total_known) {
        // Counted in the same pass: what was converted plus what is left.
        read.total = read.unit + Utf16Length(value->substr(read.pos));
        read.total_known = true;
      }
      read.delivered += written;
    } else {
      auto* buffer = static_cast<char*>(out);
      const std::size_t written = std::min(read.total - read.delivered, room - 1);
      std::memcpy(buffer, value->data() + read.delivered, written);
      buffer[written] = '\0';
      read.delivered += written;
    }
  } else if (!read.total_known) {
    read.total = Utf16Length(*value);
    read.total_known = true;
  }
  // The length reported is what was left before this call.
  if (indicator != nullptr) *indicator = static_cast<SQLLEN>((read.total - before) * unit_size);
  if (read.delivered < read.total) return s->Warning("01004", "String data, right truncated");
  read.finished = true;
  return SQL_SUCCESS;
}

SQLRETURN RowCount(Stmt* s, SQLLEN* count) {
  if (s->executing) return s->Error("HY010", "Function sequence error");
  if (!s->executed) return s->Error("HY010", "Function sequence error");
  if (!s->row_count) {
    // Counted on demand by the database, without buffering the rows.
    const std::string sql = "select count(*) from (" + s->sql + ")";
    sqlite3* db = s->dbc->db;
    CancelScope scope(&s->cancel);
    DbLock lock(db);
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_step(st);
    if (rc != SQLITE_ROW) {
      const std::string message = sqlite3_errmsg(db);
      sqlite3_finalize(st);
      return s->Error("HY000", "Cannot count the rows: " + message, rc);
    }
    SQLLEN rows = static_cast<SQLLEN>(sqlite3_column_int64(st, 0));
    sqlite3_finalize(st);
    if (s->max_rows > 0) rows = std::min(rows, static_cast<SQLLEN>(s->max_rows));
    s->row_count = rows;
  }
  if (count != nullptr) *count = *s->row_count;
  return SQL_SUCCESS;
}

std::string Quote(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  out += '\'';
  return out;
}

std::optional<std::string> OptionalWide(SQLWCHAR* text, SQLSMALLINT length) {
  if (text == nullptr) return std::nullopt;
  return FromWide(text, length);
}

std::string TablesQuery(const std::optional<std::string>& catalog,
                        const std::optional<std::string>& schema,
                        const std::optional<std::string>& table,
                        const std::optional<std::string>& types) {
  static constexpr const char* kColumns =
      "select NULL as TABLE_CAT, NULL as TABLE_SCHEM, name as TABLE_NAME, 'TABLE' as TABLE_TYPE, "
      "NULL as REMARKS from sqlite_master where type = 'table' and name not like 'sqlite\\_%' "
      "escape '\\'";
  const auto empty = [](const std::optional<std::string>& v) { return v && v->empty(); };
  // The special enumerations: catalogs and schemas (there are none), and table types.
  if ((catalog == "%" && empty(schema) && empty(table)) ||
      (schema == "%" && empty(catalog) && empty(table))) {
    return std::string(kColumns) + " and 0";
  }
  if (types == "%" && empty(catalog) && empty(schema) && empty(table)) {
    return "select NULL as TABLE_CAT, NULL as TABLE_SCHEM, NULL as TABLE_NAME, "
           "'TABLE' as TABLE_TYPE, NULL as REMARKS";
  }
  std::string sql = kColumns;
  if (table && !table->empty() && *table != "%") {
    sql += " and upper(name) like upper(" + Quote(*table) + ") escape '\\'";
  }
  if (types && !types->empty() && *types != "%") {
    bool wants_tables = false;
    std::string_view rest = *types;
    while (!rest.empty()) {
      const std::size_t comma = rest.find(',');
      std::string_view type = rest.substr(0, comma);
      while (!type.empty() && (type.front() == ' ' || type.front() == '\'')) type.remove_prefix(1);
      while (!type.empty() && (type.back() == ' ' || type.back() == '\'')) type.remove_suffix(1);
      if (EqualsNoCase(type, "TABLE")) wants_tables = true;
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
    if (!wants_tables) sql += " and 0";
  }
  sql += " order by rowid";
  return sql;
}

SQLRETURN SetRowArraySize(Stmt* s, SQLULEN value) {
  if (value != 1) return s->Warning("01S02", "Option value changed: one row per fetch");
  return SQL_SUCCESS;
}

}  // namespace

Stmt::Stmt(Dbc* d) : Handle(Kind::kStmt), dbc(d), async_enable(d->async_enable) {}

Stmt::~Stmt() { ReleaseStatement(this); }

Dbc::~Dbc() { StopConnectionWorker(this); }

void InstallCancelHandler(sqlite3* db) {
  sqlite3_progress_handler(db, 1000, ProgressHandler, nullptr);
}

void StopWorker(Stmt* s) {
  if (s->executing) {
    {
      std::lock_guard<std::mutex> lock(s->delay_mutex);
      s->cancel = true;
    }
    s->delay_cv.notify_all();
    ExecutionWorker& w = s->dbc->worker;
    std::unique_lock<std::mutex> lock(w.mutex);
    auto queued = std::find(w.queue.begin(), w.queue.end(), s);
    if (queued != w.queue.end()) {
      w.queue.erase(queued);  // not started: nothing of the statement was touched
    } else {
      w.finished.wait(lock, [&] { return w.current != s; });
    }
  }
  s->executing = false;
  s->running = false;
}

void StopConnectionWorker(Dbc* d) {
  ExecutionWorker& w = d->worker;
  {
    std::lock_guard<std::mutex> lock(w.mutex);
    w.stop = true;
  }
  w.wake.notify_all();
  if (w.thread.joinable()) w.thread.join();
}

void CloseCursor(Stmt* s) {
  StopWorker(s);
  if (s->st != nullptr) sqlite3_reset(s->st);
  s->cursor_open = false;
  s->row_pending = false;
  s->at_end = false;
  s->on_row = false;
}

void ReleaseStatement(Stmt* s) {
  CloseCursor(s);
  if (s->st != nullptr) {
    sqlite3_finalize(s->st);
    s->st = nullptr;
  }
  s->prepared = false;
  s->executed = false;
  s->row_count.reset();
  s->column_names.clear();
  s->reads.clear();
}

SQLRETURN FreeStatementHandle(Stmt* s) {
  Dbc* d = s->dbc;
  {
    std::lock_guard<std::mutex> lock(d->stmts_mutex);
    auto it = std::find(d->stmts.begin(), d->stmts.end(), s);
    if (it != d->stmts.end()) d->stmts.erase(it);
  }
  delete s;
  return SQL_SUCCESS;
}

}  // namespace maxodbc

using namespace maxodbc;

MAXODBC_EXPORT SQLRETURN SQL_API SQLExecDirectW(SQLHSTMT handle, SQLWCHAR* text,
                                                SQLINTEGER length) {
  Stmt* s = AsStmt(handle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  if (s->executing) return Poll(s);  // the same call again: polling the asynchronous execution
  s->ClearDiag();
  return Guarded(s, [&]() -> SQLRETURN {
    if (text == nullptr) return s->Error("HY009", "Invalid use of null pointer");
    const std::string sql = FromWide(text, length);
    LogStatement(sql);
    const SQLRETURN rc = Compile(s, sql, true);
    if (rc != SQL_SUCCESS) return rc;
    return Run(s, true);
  });
}

MAXODBC_EXPORT SQLRETURN SQL_API SQLPrepareW(SQLHSTMT handle, SQLWCHAR* text, SQLINTEGER length) {
  Stmt* s = AsStmt(handle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->ClearDiag();
  if (s->executing) return s->Error("HY010", "Function sequence error");
  return Guarded(s, [&]() -> SQLRETURN {
    if (text == nullptr) return s->Error("HY009", "Invalid use of null pointer");
    const std::string sql = FromWide(text, length);
    LogStatement(sql);
    const SQLRETURN rc = Compile(s, sql, true);
    if (rc == SQL_SUCCESS) s->prepared = true;
    return rc;
  });
}

MAXODBC_EXPORT SQLRETURN SQL_API SQLExecute(SQLHSTMT handle) {
  Stmt* s = AsStmt(handle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  if (s->executing) return Poll(s);
  s->ClearDiag();
  if (!s->prepared || s->st == nullptr) return s->Error("HY010", "Function sequence error");
  return Guarded(s, [&] { return Run(s, true); });
}

MAXODBC_EXPORT SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT handle, SQLSMALLINT* count) {
  Stmt* s = AsStmt(handle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->ClearDiag();
  if (s->executing || s->st == nullptr) return s->Error("HY010", "Function sequence error");
  if (count != nullptr) *count = static_cast<SQLSMALLINT>(s->column_names.size());
  return SQL_SUCCESS;
}

MAXODBC_EXPORT SQLRETURN SQL_API SQLDescribeColW(SQLHSTMT handle, SQLUSMALLINT column,
                                                 SQLWCHAR* name, SQLSMALLINT capacity,
                                                 SQLSMALLINT* name_length, SQLSMALLINT* type,
                                                 SQLULEN* size, SQLSMALLINT* digits,
                                                 SQLSMALLINT* nullable) {
  Stmt* s = AsStmt(handle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->ClearDiag();
  if (s->executing || s->st == nullptr) return s->Error("HY010", "Function sequence error");
  if (column == 0 || column > s->column_names.size()) {
    return s->Error("07009", "Invalid descriptor index");
  }
  return Guarded(s, [&] {
    if (type != nullptr) *type = SQL_WVARCHAR;
    if (size != nullptr) *size = kColumnSize;
    if (digits != nullptr) *digits = 0;
    if (nullable != nullptr) *nullable = SQL_NULLABLE;
    return WriteWide(s, s->column_names[column - 1], name, capacity, true, name_length);
  });
}

MAXODBC_EXPORT SQLRETURN SQL_API SQLColAttributeW(SQLHSTMT handle, SQLUSMALLINT column,
                                                  SQLUSMALLINT field, SQLPOINTER text,
                                                  SQLSMALLINT capacity, SQLSMALLINT* length,
                                                  SQLLEN* number) {
  Stmt* s = AsStmt(handle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->ClearDiag();
  if (s->executing || s->st == nullptr) return s->Error("HY010", "Function sequence error");
  const auto set = [&](SQLLEN value) {
    if (number != nullptr) *number = value;
    return SQL_SUCCESS;
  };
  if (field == SQL_DESC_COUNT || field == SQL_COLUMN_COUNT) {
    return set(static_cast<SQLLEN>(s->column_names.size()));
  }
  if (column == 0 || column > s->column_names.size()) {
    return s->Error("07009", "Invalid descriptor index");
  }
  return Guarded(s, [&]() -> SQLRETURN {
    const std::string& name = s->column_names[column - 1];
    switch (field) {
      case SQL_DESC_NAME:
      case SQL_DESC_LABEL:
      case SQL_COLUMN_NAME:
      case SQL_DESC_BASE_COLUMN_NAME:
        return WriteWide(s, name, text, capacity, false, length);
      case SQL_DESC_TABLE_NAME:
      case SQL_DESC_BASE_TABLE_NAME:
      case SQL_DESC_SCHEMA_NAME:
      case SQL_DESC_CATALOG_NAME:
      case SQL_DESC_LOCAL_TYPE_NAME:
        return WriteWide(s, "", text, capacity, false, length);
      case SQL_DESC_LITERAL_PREFIX:
      case SQL_DESC_LITERAL_SUFFIX:
        return WriteWide(s, "'", text, capacity, false, length);
      case SQL_DESC_TYPE_NAME:
        return WriteWide(s, "WVARCHAR", text, capacity, false, length);
      case SQL_DESC_TYPE:
      case SQL_DESC_CONCISE_TYPE:
        return set(SQL_WVARCHAR);
      case SQL_DESC_LENGTH:
      case SQL_COLUMN_LENGTH:
      case SQL_DESC_DISPLAY_SIZE:
      case SQL_COLUMN_PRECISION:
        return set(static_cast<SQLLEN>(kColumnSize));
      case SQL_DESC_OCTET_LENGTH:
        return set(static_cast<SQLLEN>(kColumnSize * sizeof(SQLWCHAR)));
      case SQL_DESC_PRECISION:
      case SQL_DESC_SCALE:
      case SQL_COLUMN_SCALE:
      case SQL_DESC_NUM_PREC_RADIX:
        return set(0);
      case SQL_DESC_NULLABLE:
      case SQL_COLUMN_NULLABLE:
        return set(SQL_NULLABLE);
      case SQL_DESC_UNSIGNED:
      case SQL_DESC_CASE_SENSITIVE:
        return set(SQL_TRUE);
      case SQL_DESC_FIXED_PREC_SCALE:
      case SQL_DESC_AUTO_UNIQUE_VALUE:
        return set(SQL_FALSE);
      case SQL_DESC_SEARCHABLE:
        return set(SQL_PRED_SEARCHABLE);
      case SQL_DESC_UPDATABLE:
        return set(SQL_ATTR_READONLY);
      case SQL_DESC_UNNAMED:
        return set(SQL_NAMED);
      default:
        return s->Error("HY091", "Invalid descriptor field identifier");
    }
  });
}

MAXODBC_EXPORT SQLRETURN SQL_API SQLBindCol(SQLHSTMT handle, SQLUSMALLINT column,
                                            SQLSMALLINT c_type, SQLPOINTER data, SQLLEN capacity,
                                            SQLLEN* indicator) {
  Stmt* s = AsStmt(handle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->ClearDiag();
  if (column == 0) return s->Error("07009", "Invalid descriptor index: bookmarks are not used");
  if (capacity < 0) return s->Error("HY090", "Invalid string or buffer length");
  if (c_type == SQL_C_DEFAULT) c_type = SQL_C_WCHAR;
  if (c_type != SQL_C_WCHAR && c_type != SQL_C_CHAR) {
    return s->Error("HY003", "Invalid application buffer type: columns are read as text");
  }
  if (s->st != nullptr && column > s->column_names.size()) {
    return s->Error("07009", "Invalid descriptor index");
  }
  if (column > 4096) return s->Error("07009", "Invalid descriptor index");
  return Guarded(s, [&] {
    if (s->bindings.size() < column) s->bindings.resize(column);
    Binding& b = s->bindings[column - 1];
    if (data == nullptr && indicator == nullptr) {
      b = Binding{};
    } else {
      b = Binding{c_type, data, capacity, indicator};
    }
    return SQL_SUCCESS;
  });
}

MAXODBC_EXPORT SQLRETURN SQL_API SQLFetch(SQLHSTMT handle) {
  Stmt* s = AsStmt(handle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->ClearDiag();
  return Guarded(s, [&] { return Fetch(s); });
}

MAXODBC_EXPORT SQLRETURN SQL_API SQLFetchScroll(SQLHSTMT handle, SQLSMALLINT orientation,
                                                SQLLEN /*offset*/) {
  Stmt* s = AsStmt(handle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->ClearDiag();
  if (orientation != SQL_FETCH_NEXT) {
    return s->Error("HY106", "Fetch type out of range: the cursor is forward-only");
  }
  return Guarded(s, [&] { return Fetch(s); });
}

MAXODBC_EXPORT SQLRETURN SQL_API SQLGetData(SQLHSTMT handle, SQLUSMALLINT column,
                                            SQLSMALLINT c_type, SQLPOINTER out, SQLLEN capacity,
                                            SQLLEN* indicator) {
  Stmt* s = AsStmt(handle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->ClearDiag();
  return Guarded(s, [&] { return GetData(s, column, c_type, out, capacity, indicator); });
}

MAXODBC_EXPORT SQLRETURN SQL_API SQLRowCount(SQLHSTMT handle, SQLLEN* count) {
  Stmt* s = AsStmt(handle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->ClearDiag();
  return Guarded(s, [&] { return RowCount(s, count); });
}

MAXODBC_EXPORT SQLRETURN SQL_API SQLMoreResults(SQLHSTMT handle) {
  Stmt* s = AsStmt(handle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->ClearDiag();
  if (s->executing) return s->Error("HY010", "Function sequence error");
  CloseCursor(s);
  return SQL_NO_DATA;
}

MAXODBC_EXPORT SQLRETURN SQL_API SQLCloseCursor(SQLHSTMT handle) {
  Stmt* s = AsStmt(handle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->ClearDiag();
  if (s->executing) return s->Error("HY010", "Function sequence error");
  if (!s->cursor_open) return s->Error("24000", "Invalid cursor state");
  CloseCursor(s);
  return SQL_SUCCESS;
}

MAXODBC_EXPORT SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT handle, SQLUSMALLINT option) {
  Stmt* s = AsStmt(handle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->ClearDiag();
  switch (option) {
    case SQL_CLOSE:
      CloseCursor(s);
      return SQL_SUCCESS;
    case SQL_UNBIND:
      s->bindings.clear();
      return SQL_SUCCESS;
    case SQL_RESET_PARAMS:
      return SQL_SUCCESS;
    case SQL_DROP:
      return FreeStatementHandle(s);
    default:
      return s->Error("HY092", "Invalid attribute/option identifier");
  }
}

MAXODBC_EXPORT SQLRETURN SQL_API SQLCancel(SQLHSTMT handle) {
  Stmt* s = AsStmt(handle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  // May come from another thread while an execution runs: only the flags are touched here.
  if (s->running.load()) {
    {
      std::lock_guard<std::mutex> lock(s->delay_mutex);
      s->cancel = true;
    }
    s->delay_cv.notify_all();
    // Still waiting behind another statement of the connection: it ends here, as if it had run.
    ExecutionWorker& w = s->dbc->worker;
    std::lock_guard<std::mutex> lock(w.mutex);
    auto queued = std::find(w.queue.begin(), w.queue.end(), s);
    if (queued != w.queue.end()) {
      w.queue.erase(queued);
      s->outcome = {false, "HY008", "Operation canceled", SQLITE_INTERRUPT};
      s->worker_done.store(true, std::memory_order_release);
    }
  }
  return SQL_SUCCESS;
}

MAXODBC_EXPORT SQLRETURN SQL_API SQLSetStmtAttrW(SQLHSTMT handle, SQLINTEGER attribute,
                                                 SQLPOINTER value, SQLINTEGER /*length*/) {
  Stmt* s = AsStmt(handle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->ClearDiag();
  const auto number = static_cast<SQLULEN>(reinterpret_cast<SQLLEN>(value));
  switch (attribute) {
    case SQL_ATTR_ASYNC_ENABLE:
      if (number != SQL_ASYNC_ENABLE_ON && number != SQL_ASYNC_ENABLE_OFF) {
        return s->Error("HY024", "Invalid attribute value");
      }
      s->async_enable = AsyncExecutionOffered() ? number : SQL_ASYNC_ENABLE_OFF;
      return SQL_SUCCESS;
    case SQL_ATTR_MAX_ROWS:
      s->max_rows = number;
      return SQL_SUCCESS;
    case SQL_ATTR_QUERY_TIMEOUT:
      s->query_timeout = number;
      return SQL_SUCCESS;
    case SQL_ATTR_ROW_ARRAY_SIZE:
    case SQL_ROWSET_SIZE:
      return SetRowArraySize(s, number);
    case SQL_ATTR_ROWS_FETCHED_PTR:
      s->rows_fetched = static_cast<SQLULEN*>(value);
      return SQL_SUCCESS;
    case SQL_ATTR_ROW_STATUS_PTR:
      s->row_status = static_cast<SQLUSMALLINT*>(value);
      return SQL_SUCCESS;
    case SQL_ATTR_CURSOR_TYPE:
      if (number != SQL_CURSOR_FORWARD_ONLY) {
        return s->Warning("01S02", "Option value changed: the cursor is forward-only");
      }
      return SQL_SUCCESS;
    case SQL_ATTR_CONCURRENCY:
      if (number != SQL_CONCUR_READ_ONLY) {
        return s->Warning("01S02", "Option value changed: the cursor is read-only");
      }
      return SQL_SUCCESS;
    case SQL_ATTR_CURSOR_SCROLLABLE:
      if (number != SQL_NONSCROLLABLE) return s->Error("HYC00", "Optional feature not implemented");
      return SQL_SUCCESS;
    case SQL_ATTR_CURSOR_SENSITIVITY:
      if (number == SQL_SENSITIVE) return s->Error("HYC00", "Optional feature not implemented");
      return SQL_SUCCESS;
    case SQL_ATTR_ROW_BIND_TYPE:
      if (number != SQL_BIND_BY_COLUMN) {
        return s->Error("HYC00", "Optional feature not implemented: row-wise binding");
      }
      return SQL_SUCCESS;
    case SQL_ATTR_USE_BOOKMARKS:
      if (number != SQL_UB_OFF) return s->Error("HYC00", "Optional feature not implemented");
      return SQL_SUCCESS;
    case SQL_ATTR_ROW_BIND_OFFSET_PTR:
      if (value != nullptr) return s->Error("HYC00", "Optional feature not implemented");
      return SQL_SUCCESS;
    case SQL_ATTR_NOSCAN:
    case SQL_ATTR_RETRIEVE_DATA:
    case SQL_ATTR_MAX_LENGTH:
    case SQL_ATTR_METADATA_ID:
    case SQL_ATTR_PARAM_BIND_TYPE:
    case SQL_ATTR_PARAM_BIND_OFFSET_PTR:
    case SQL_ATTR_PARAM_OPERATION_PTR:
    case SQL_ATTR_PARAM_STATUS_PTR:
    case SQL_ATTR_PARAMS_PROCESSED_PTR:
    case SQL_ATTR_PARAMSET_SIZE:
    case SQL_ATTR_ENABLE_AUTO_IPD:
      return SQL_SUCCESS;
    case SQL_ATTR_APP_ROW_DESC:
    case SQL_ATTR_APP_PARAM_DESC:
      if (value == nullptr || value == &s->ard || value == &s->apd) return SQL_SUCCESS;
      return s->Error("HYC00", "Optional feature not implemented: explicit descriptors");
    default:
      return s->Error("HY092", "Invalid attribute/option identifier");
  }
}

MAXODBC_EXPORT SQLRETURN SQL_API SQLGetStmtAttrW(SQLHSTMT handle, SQLINTEGER attribute,
                                                 SQLPOINTER value, SQLINTEGER /*capacity*/,
                                                 SQLINTEGER* length) {
  Stmt* s = AsStmt(handle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->ClearDiag();
  const auto pointer = [&](void* p) {
    if (value != nullptr) *static_cast<SQLPOINTER*>(value) = p;
    if (length != nullptr) *length = sizeof(SQLPOINTER);
    return SQL_SUCCESS;
  };
  SQLULEN result = 0;
  switch (attribute) {
    case SQL_ATTR_APP_ROW_DESC:
      return pointer(&s->ard);
    case SQL_ATTR_APP_PARAM_DESC:
      return pointer(&s->apd);
    case SQL_ATTR_IMP_ROW_DESC:
      return pointer(&s->ird);
    case SQL_ATTR_IMP_PARAM_DESC:
      return pointer(&s->ipd);
    case SQL_ATTR_ROWS_FETCHED_PTR:
      return pointer(s->rows_fetched);
    case SQL_ATTR_ROW_STATUS_PTR:
      return pointer(s->row_status);
    case SQL_ATTR_ROW_BIND_OFFSET_PTR:
    case SQL_ATTR_PARAM_BIND_OFFSET_PTR:
    case SQL_ATTR_PARAM_OPERATION_PTR:
    case SQL_ATTR_PARAM_STATUS_PTR:
    case SQL_ATTR_PARAMS_PROCESSED_PTR:
      return pointer(nullptr);
    case SQL_ATTR_ASYNC_ENABLE:
      result = s->async_enable;
      break;
    case SQL_ATTR_MAX_ROWS:
      result = s->max_rows;
      break;
    case SQL_ATTR_QUERY_TIMEOUT:
      result = s->query_timeout;
      break;
    case SQL_ATTR_ROW_ARRAY_SIZE:
    case SQL_ROWSET_SIZE:
    case SQL_ATTR_PARAMSET_SIZE:
      result = 1;
      break;
    case SQL_ATTR_CURSOR_TYPE:
      result = SQL_CURSOR_FORWARD_ONLY;
      break;
    case SQL_ATTR_CONCURRENCY:
      result = SQL_CONCUR_READ_ONLY;
      break;
    case SQL_ATTR_CURSOR_SCROLLABLE:
      result = SQL_NONSCROLLABLE;
      break;
    case SQL_ATTR_CURSOR_SENSITIVITY:
      result = SQL_UNSPECIFIED;
      break;
    case SQL_ATTR_ROW_BIND_TYPE:
    case SQL_ATTR_PARAM_BIND_TYPE:
      result = SQL_BIND_BY_COLUMN;
      break;
    case SQL_ATTR_USE_BOOKMARKS:
      result = SQL_UB_OFF;
      break;
    case SQL_ATTR_NOSCAN:
      result = SQL_NOSCAN_OFF;
      break;
    case SQL_ATTR_RETRIEVE_DATA:
      result = SQL_RD_ON;
      break;
    case SQL_ATTR_MAX_LENGTH:
    case SQL_ATTR_METADATA_ID:
    case SQL_ATTR_ENABLE_AUTO_IPD:
      result = 0;
      break;
    case SQL_ATTR_ROW_NUMBER:
      result = s->on_row ? s->row_number : 0;
      break;
    default:
      return s->Error("HY092", "Invalid attribute/option identifier");
  }
  if (value != nullptr) *static_cast<SQLULEN*>(value) = result;
  if (length != nullptr) *length = sizeof(SQLULEN);
  return SQL_SUCCESS;
}

MAXODBC_EXPORT SQLRETURN SQL_API SQLTablesW(SQLHSTMT handle, SQLWCHAR* catalog,
                                            SQLSMALLINT catalog_length, SQLWCHAR* schema,
                                            SQLSMALLINT schema_length, SQLWCHAR* table,
                                            SQLSMALLINT table_length, SQLWCHAR* types,
                                            SQLSMALLINT types_length) {
  Stmt* s = AsStmt(handle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->ClearDiag();
  if (s->executing) return s->Error("HY010", "Function sequence error");
  return Guarded(s, [&]() -> SQLRETURN {
    const std::string sql =
        TablesQuery(OptionalWide(catalog, catalog_length), OptionalWide(schema, schema_length),
                    OptionalWide(table, table_length), OptionalWide(types, types_length));
    const SQLRETURN rc = Compile(s, sql, false);
    if (rc != SQL_SUCCESS) return rc;
    // A catalog function completes at once, also when asynchronous execution is on.
    const SQLULEN async = s->async_enable;
    s->async_enable = SQL_ASYNC_ENABLE_OFF;
    const SQLRETURN result = Run(s, false);
    s->async_enable = async;
    return result;
  });
}
