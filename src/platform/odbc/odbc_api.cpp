#include "platform/odbc/odbc_api.h"

#include <chrono>
#include <cmath>
#include <exception>

#include "platform/database.h"
#include "platform/odbc/background_call.h"
#include "platform/odbc/connect_string.h"
#include "platform/odbc/fault_injection.h"
#include "platform/odbc/odbc_errors.h"

namespace pellory::odbc {

std::vector<SQLWCHAR> Wide(TextView text) {
  std::vector<SQLWCHAR> w(text.size() + 1);
  for (size_t i = 0; i < text.size(); ++i) w[i] = static_cast<SQLWCHAR>(text[i]);
  w[text.size()] = 0;
  return w;
}

Text FromWide(const SQLWCHAR* p, size_t n) {
  Text t(n, u'\0');
  for (size_t i = 0; i < n; ++i) t[i] = static_cast<char16_t>(p[i]);
  return t;
}

Text FromWideZ(const SQLWCHAR* p, size_t max) {
  size_t n = 0;
  while (n < max && p[n] != 0) ++n;
  return FromWide(p, n);
}

Text DiagnosticText(SQLSMALLINT type, SQLHANDLE handle, TextView secret, Text* first_state) {
  Text out, injected_state;
  if (FaultInjection::TakeDiagnostic(&out, &injected_state)) {
    if (first_state) *first_state = injected_state;
    return out;
  }
  for (SQLSMALLINT rec = 1; rec <= 8; ++rec) {
    SQLWCHAR state[6] = {0};
    SQLINTEGER native = 0;
    SQLWCHAR message[1024];
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRecW(type, handle, rec, state, &native, message,
                                  static_cast<SQLSMALLINT>(std::size(message)), &length);
    if (!Ok(rc)) break;
    Text st = FromWideZ(state, 5);
    if (rec == 1 && first_state) *first_state = st;
    Text msg = FromWideZ(message, std::size(message) - 1);
    for (char16_t& c : msg) {
      if (c < 32) c = u' ';
    }
    msg = Trim(msg);
    if (!out.empty()) out += u' ';
    out += st;
    out += u": ";
    out += msg;
  }
  return MaskPasswords(out, secret);
}

void ThrowDiagnostics(SQLSMALLINT type, SQLHANDLE handle, TextView fallback, TextView secret,
                      bool map_not_found) {
  Text state;
  Text text = handle ? DiagnosticText(type, handle, secret, &state) : Text();
  if (text.empty()) text = MaskPasswords(fallback, secret);
  long number = map_not_found && state == u"IM002" ? kRdoDataSourceNotFound : kOdbcCallFailed;
  throw Failure(std::move(text), number);
}

Environment::Environment() {
  // Not through Checked(): the failure tests make the calls on a connection
  // fail, and an engine makes its environment before any connection.
  if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_))) {
    env_ = SQL_NULL_HENV;
    throw Failure(u"The ODBC driver manager could not create an environment", kOdbcCallFailed);
  }
  // Ignored: a driver manager that refused ODBC 3 would refuse the first
  // connection's handle (HY010), whose failure is reported with these
  // diagnostics.
  (void)SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
}

Environment::~Environment() {
  // Ignored, here and for every handle freed: nothing can be done about a
  // handle the driver manager will not free.
  if (env_) (void)SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

std::shared_mutex& ConfigurationLock() {
  static std::shared_mutex lock;
  return lock;
}

ConnectionHandle::ConnectionHandle(std::shared_ptr<Environment> env, TextView connect,
                                   const ConnectOptions& options)
    : env_(std::move(env)), getdata_bound_(options.getdata_only ? 0 : -1) {
  FindConnectAttribute(connect, u"PWD", &secret_) ||
      FindConnectAttribute(connect, u"PASSWORD", &secret_);
  FindConnectAttribute(connect, u"DSN", &requested_dsn_);
  if (!Ok(Checked(SQLAllocHandle, SQL_HANDLE_DBC, env_->handle(), &dbc_))) {
    dbc_ = SQL_NULL_HDBC;
    ThrowDiagnostics(SQL_HANDLE_ENV, env_->handle(), u"Could not create a connection", secret_);
  }
  // Both attributes are requests: a driver that refuses read-only access
  // opens the source as it can (the adapter only reads), and one that
  // refuses a login timeout keeps its own (Connect waits no longer anyway).
  if (options.read_only) {
    (void)SQLSetConnectAttrW(dbc_, SQL_ATTR_ACCESS_MODE,
                             reinterpret_cast<SQLPOINTER>(SQL_MODE_READ_ONLY), 0);
  }
  if (options.login_timeout > 0) {
    const auto seconds = static_cast<SQLULEN>(std::ceil(options.login_timeout));
    (void)SQLSetConnectAttrW(dbc_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(seconds),
                             0);
  }
  std::vector<SQLWCHAR> in = Wide(connect);
  std::vector<SQLWCHAR> out(2048);
  SQLSMALLINT out_len = 0;
  SQLRETURN rc;
  {
    std::shared_lock<std::shared_mutex> configuration(ConfigurationLock());
    rc = Checked(SQLDriverConnectW, dbc_, nullptr, in.data(), SQL_NTS, out.data(),
                 static_cast<SQLSMALLINT>(out.size()), &out_len, SQL_DRIVER_NOPROMPT);
  }
  if (!Ok(rc)) {
    // Collect the diagnostics before the handle goes.
    try {
      ThrowDiagnostics(SQL_HANDLE_DBC, dbc_, u"Could not connect", secret_, options.map_not_found);
    } catch (...) {
      (void)SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
      dbc_ = SQL_NULL_HDBC;
      throw;
    }
  }
  connected_ = true;
  completed_ = FromWideZ(out.data(), out.size() - 1);
}

ConnectionHandle::~ConnectionHandle() {
  spare_.reset();
  if (!dbc_) return;
  // Ignored: the adapter only reads, in autocommit, so there is no work a
  // refused disconnect would lose, and a destructor has no one to tell.
  if (connected_) (void)SQLDisconnect(dbc_);
  (void)SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
}

void ConnectionHandle::StatementLeftRunning() {
  std::lock_guard<std::mutex> lock(busy_mutex_);
  ++left_running_;
}

void ConnectionHandle::StatementEnded() {
  {
    std::lock_guard<std::mutex> lock(busy_mutex_);
    --left_running_;
  }
  busy_changed_.notify_all();
}

bool ConnectionHandle::Busy() {
  std::lock_guard<std::mutex> lock(busy_mutex_);
  return left_running_ > 0;
}

void ConnectionHandle::KeepSpare(std::unique_ptr<SpareStatement> spare) {
  {
    std::lock_guard<std::mutex> lock(busy_mutex_);
    spare_.swap(spare);
  }
  // The one it replaces is freed outside the lock.
}

std::unique_ptr<SpareStatement> ConnectionHandle::TakeSpare() {
  std::lock_guard<std::mutex> lock(busy_mutex_);
  return std::move(spare_);
}

bool ConnectionHandle::WaitUntilFree(double seconds) {
  std::unique_lock<std::mutex> lock(busy_mutex_);
  auto free = [this] { return left_running_ == 0; };
  if (seconds <= 0) {
    busy_changed_.wait(lock, free);
    return true;
  }
  return busy_changed_.wait_for(lock, std::chrono::duration<double>(seconds), free);
}

std::shared_ptr<ConnectionHandle> Connect(std::shared_ptr<Environment> env, TextView connect,
                                          const ConnectOptions& options) {
  if (options.login_timeout <= 0) {
    return std::make_shared<ConnectionHandle>(std::move(env), connect, options);
  }
  struct Outcome {
    std::shared_ptr<ConnectionHandle> handle;
    std::exception_ptr failure;
  };
  auto outcome = std::make_shared<Outcome>();
  auto call = BackgroundCall::Start([outcome, env = std::move(env), text = Text(connect), options] {
    try {
      outcome->handle = std::make_shared<ConnectionHandle>(env, text, options);
    } catch (...) {
      outcome->failure = std::current_exception();
    }
  });
  if (!call->WaitFor(options.login_timeout)) {
    throw Failure(u"HYT00: Login timeout expired", kTimeoutExpired);
  }
  if (outcome->failure) std::rethrow_exception(outcome->failure);
  return outcome->handle;
}

bool ConnectionHandle::GetDataOnBound() {
  if (getdata_bound_ < 0) {
    SQLUINTEGER ext = 0;
    // A driver that cannot say is taken to allow none of it.
    SQLRETURN rc = SQLGetInfoW(dbc_, SQL_GETDATA_EXTENSIONS, &ext, sizeof ext, nullptr);
    const SQLUINTEGER need = SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND;
    getdata_bound_ = Ok(rc) && (ext & need) == need ? 1 : 0;
  }
  return getdata_bound_ == 1;
}

}  // namespace pellory::odbc
