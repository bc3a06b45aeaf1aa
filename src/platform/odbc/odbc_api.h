// Shared pieces of the ODBC adapter: the driver manager's headers, text
// conversion to and from SQLWCHAR, diagnostics turned into failures, and
// owners of the environment and connection handles.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "platform/failure.h"
#include "platform/text.h"

namespace pellory::odbc {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "SQLWCHAR must be a 16-bit unit");

inline bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// NUL-terminated wide copy of `text`.
std::vector<SQLWCHAR> Wide(TextView text);
inline SQLWCHAR* WidePtr(std::vector<SQLWCHAR>& w) { return w.data(); }
Text FromWide(const SQLWCHAR* p, size_t n);
// `p` read up to its NUL, at most `max` units.
Text FromWideZ(const SQLWCHAR* p, size_t max);

// What a failing call left on its handle, as one line: "STATE: message"
// for each record, line breaks folded, passwords masked.
Text DiagnosticText(SQLSMALLINT type, SQLHANDLE handle, TextView secret, Text* first_state);

// Throws Failure with the handle's diagnostics (or `fallback` when there
// are none). The data-source-not-found state IM002 gives
// kRdoDataSourceNotFound when `map_not_found` is set; everything else
// gives kOdbcCallFailed.
[[noreturn]] void ThrowDiagnostics(SQLSMALLINT type, SQLHANDLE handle, TextView fallback,
                                   TextView secret, bool map_not_found = false);

// The driver manager's configuration is process-wide: the configuration
// mode that narrows data-source look-ups to the user or the system file, and
// the cache of what it read from those files. A connect reads the
// configuration (the driver manager for the driver, the driver for its
// attributes), so it holds this lock shared; whatever changes the mode or
// clears the cache holds it exclusively. Without it, one thread reading the
// system file's list could make another thread's driver miss a user data
// source in the middle of its connect.
std::shared_mutex& ConfigurationLock();

// An ODBC 3 environment handle.
class Environment {
 public:
  Environment();
  ~Environment();
  Environment(const Environment&) = delete;
  Environment& operator=(const Environment&) = delete;
  SQLHENV handle() const { return env_; }

 private:
  SQLHENV env_ = SQL_NULL_HENV;
};

// How a connection is made.
struct ConnectOptions {
  bool read_only = false;
  // A source the driver manager does not know (IM002) fails with
  // kRdoDataSourceNotFound rather than kOdbcCallFailed.
  bool map_not_found = false;
  // Above 0: handed to the driver, rounded up to whole seconds; Connect
  // waits no longer than that.
  double login_timeout = 0;
  // Every value is read with SQLGetData and no column is bound, as for a
  // driver that cannot mix the two.
  bool getdata_only = false;
};

// A statement handle that a result set leaves to its connection, with what
// it had bound to it, for the next statement of the same shape. Freeing it
// frees the handle.
class SpareStatement {
 public:
  virtual ~SpareStatement() = default;
};

// An open connection. Result sets hold a reference so that the connection
// closes only after the last of them is released.
class ConnectionHandle {
 public:
  // Connects without prompting. The password in the connect string is kept
  // only to mask it in later diagnostics.
  ConnectionHandle(std::shared_ptr<Environment> env, TextView connect,
                   const ConnectOptions& options);
  ~ConnectionHandle();
  ConnectionHandle(const ConnectionHandle&) = delete;
  ConnectionHandle& operator=(const ConnectionHandle&) = delete;

  SQLHDBC handle() const { return dbc_; }
  const Text& secret() const { return secret_; }
  const Text& completed() const { return completed_; }
  // The DSN the connect string named, if any.
  const Text& requested_dsn() const { return requested_dsn_; }
  // Whether SQLGetData may be used on bound columns, in any order (never
  // with ConnectOptions::getdata_only).
  bool GetDataOnBound();
  // Statements that ran out of time and were left running in the driver.
  // Until they end the driver may hold the connection, so that any other
  // call on it (even freeing another statement) would wait for them: the
  // connection is busy.
  void StatementLeftRunning();
  void StatementEnded();
  bool Busy();
  // Waits until the connection is not busy, at most `seconds` (0: as long
  // as it takes); true when it is not.
  bool WaitUntilFree(double seconds);
  // One spare statement handle: a result set that ended cleanly keeps its
  // handle here (freeing the spare it replaces) and the next result set
  // takes it. The spare is freed before the connection closes.
  void KeepSpare(std::unique_ptr<SpareStatement> spare);
  std::unique_ptr<SpareStatement> TakeSpare();

 private:
  std::shared_ptr<Environment> env_;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
  Text secret_;
  Text completed_;
  Text requested_dsn_;
  int getdata_bound_ = -1;
  std::mutex busy_mutex_;
  std::condition_variable busy_changed_;
  int left_running_ = 0;
  std::unique_ptr<SpareStatement> spare_;  // under busy_mutex_
};

// A connection as ConnectionHandle makes it. With a login timeout the
// connection is made on a thread of its own and the caller waits no longer
// than that: then Failure(kTimeoutExpired), and a connection that comes
// later is closed on that thread. Drivers do not all keep to their login
// timeout (libpq waits at least 2 seconds, say).
std::shared_ptr<ConnectionHandle> Connect(std::shared_ptr<Environment> env, TextView connect,
                                          const ConnectOptions& options);

}  // namespace pellory::odbc
