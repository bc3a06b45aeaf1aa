// The stand-in Maximizer ODBC driver: handles and their shared helpers.
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#define MAXODBC_EXPORT extern "C" __attribute__((visibility("default")))

namespace maxodbc {

inline constexpr std::string_view kMessagePrefix = "[Pellory][Maximizer ODBC Driver]";
inline constexpr std::string_view kDriverName = "Maximizer ODBC Driver";
// Column size reported for every result column (all of them are text).
inline constexpr SQLULEN kColumnSize = 255;

enum class Kind : std::uint32_t {
  kEnv = 0x4D58454E,
  kDbc = 0x4D584443,
  kStmt = 0x4D585354,
  kDesc = 0x4D584453,
  kFreed = 0xDEADBEEF,
};

struct DiagRecord {
  std::string state;
  SQLINTEGER native = 0;
  std::string message;  // with kMessagePrefix
};

struct Handle {
  explicit Handle(Kind k) : kind(k) {}
  ~Handle() { kind = Kind::kFreed; }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  Kind kind;
  std::vector<DiagRecord> diag;
  SQLRETURN last_return = SQL_SUCCESS;

  void ClearDiag() { diag.clear(); }
  // Records a diagnostic and returns SQL_ERROR.
  SQLRETURN Error(std::string_view state, std::string_view message, SQLINTEGER native = 0);
  // Records a diagnostic and returns SQL_SUCCESS_WITH_INFO.
  SQLRETURN Warning(std::string_view state, std::string_view message);
};

struct Dbc;
struct Stmt;

struct Env : Handle {
  Env() : Handle(Kind::kEnv) {}
  SQLINTEGER odbc_version = SQL_OV_ODBC3;
};

// Implicit descriptors: their handles exist so that the driver manager can hand them out; the
// driver keeps no fields in them.
struct Desc : Handle {
  explicit Desc(Stmt* s) : Handle(Kind::kDesc), stmt(s) {}
  Stmt* stmt;
};

// The thread that runs the asynchronous executions of a connection's statements, one after the
// other. Started by the first asynchronous execution, stopped when the connection is freed.
struct ExecutionWorker {
  std::mutex mutex;
  std::condition_variable wake;      // a statement was queued, or stop was set
  std::condition_variable finished;  // `current` has finished its run
  std::deque<Stmt*> queue;
  Stmt* current = nullptr;
  bool stop = false;
  std::thread thread;
};

struct Dbc : Handle {
  explicit Dbc(Env* e) : Handle(Kind::kDbc), env(e) {}
  ~Dbc();
  Env* env;
  sqlite3* db = nullptr;
  std::string dsn;
  std::string user;
  std::string data_directory;
  std::optional<unsigned> exec_delay_ms;  // from the data source or the connect string
  SQLULEN async_enable = SQL_ASYNC_ENABLE_OFF;
  SQLUINTEGER login_timeout = 0;
  SQLUINTEGER autocommit = SQL_AUTOCOMMIT_ON;
  std::mutex stmts_mutex;
  std::vector<Stmt*> stmts;
  ExecutionWorker worker;
};

struct ColumnRead {
  std::uint64_t row = 0;  // the fetched row this state belongs to
  SQLSMALLINT c_type = 0;
  bool finished = false;
  bool total_known = false;
  std::size_t total = 0;      // length of the value in units of c_type
  std::size_t delivered = 0;  // units already returned
  std::size_t pos = 0;        // UTF-8 position reached (wide reads)
  std::size_t unit = 0;       // UTF-16 unit at pos (wide reads)
};

struct Binding {
  SQLSMALLINT c_type = 0;
  SQLPOINTER data = nullptr;
  SQLLEN capacity = 0;
  SQLLEN* indicator = nullptr;
};

// The outcome of running a statement up to its first row, made on the connection's worker thread
// for an asynchronous execution and applied by the polling call.
struct RunOutcome {
  bool ok = true;
  std::string state;
  std::string message;
  int sqlite_code = SQLITE_OK;
};

struct Stmt : Handle {
  explicit Stmt(Dbc* d);
  ~Stmt();

  Dbc* dbc;
  Desc ard{this}, apd{this}, ird{this}, ipd{this};

  // Attributes.
  SQLULEN async_enable = SQL_ASYNC_ENABLE_OFF;
  SQLULEN max_rows = 0;
  SQLULEN query_timeout = 0;
  SQLULEN* rows_fetched = nullptr;
  SQLUSMALLINT* row_status = nullptr;

  // The statement.
  std::string sql;  // the text SQLite runs
  sqlite3_stmt* st = nullptr;
  bool prepared = false;  // through SQLPrepare: SQLExecute may run it
  bool executed = false;  // run at least once since it was compiled
  bool cursor_open = false;
  bool row_pending = false;  // the first row was stepped to by the execution, not yet fetched
  bool at_end = false;
  bool on_row = false;
  std::uint64_t row_number = 0;
  std::optional<SQLLEN> row_count;
  std::vector<std::string> column_names;
  std::vector<ColumnRead> reads;
  std::vector<Binding> bindings;

  // Asynchronous execution (on the connection's worker) and cancelling.
  std::optional<unsigned> run_delay_ms;  // the delay of the queued execution
  std::atomic<bool> worker_done{false};
  bool executing = false;  // an asynchronous execution was started and not yet polled to its end
  RunOutcome outcome;
  std::atomic<bool> running{false};  // an execution is between its start and its outcome
  std::atomic<bool> cancel{false};
  std::mutex delay_mutex;
  std::condition_variable delay_cv;
};

// Handle checks: the object behind a handle, or nullptr when it is not one of this kind.
Env* AsEnv(SQLHANDLE h);
Dbc* AsDbc(SQLHANDLE h);
Stmt* AsStmt(SQLHANDLE h);

// Copies UTF-8 text to a wide output buffer whose size is given in bytes (or in characters when
// `chars` is true), writing the full length in the same unit. Returns SQL_SUCCESS or, recording
// 01004 on `h`, SQL_SUCCESS_WITH_INFO.
SQLRETURN WriteWide(Handle* h, std::string_view utf8, SQLPOINTER out, SQLLEN capacity, bool chars,
                    SQLLEN* length);
SQLRETURN WriteWide(Handle* h, std::string_view utf8, SQLPOINTER out, SQLLEN capacity, bool chars,
                    SQLSMALLINT* length);
SQLRETURN WriteWide(Handle* h, std::string_view utf8, SQLPOINTER out, SQLLEN capacity, bool chars,
                    SQLINTEGER* length);

// Statement support used by the connection code.
void CloseCursor(Stmt* s);
void StopWorker(Stmt* s);
// Ends the connection's worker thread; no statement of the connection may be executing.
void StopConnectionWorker(Dbc* d);
void ReleaseStatement(Stmt* s);
SQLRETURN FreeStatementHandle(Stmt* s);

// Lets SQLCancel interrupt a running SQLite call on this connection.
void InstallCancelHandler(sqlite3* db);

// Appends the statement text to the file named by PELLORY_MAXODBC_LOG, if set.
void LogStatement(std::string_view text);

// False while PELLORY_MAXODBC_NO_ASYNC is set (and not "0"): the driver then executes every
// statement synchronously, reports SQL_AM_NONE and takes SQL_ATTR_ASYNC_ENABLE without turning it
// on, as some drivers do.
bool AsyncExecutionOffered();

// Registers the SQL functions ucase and lcase on a connection.
bool RegisterFunctions(sqlite3* db);

// The SQLSTATE for an SQLite failure message at compile or run time.
std::string StateForSqliteError(int code, std::string_view message);

}  // namespace maxodbc
