// Environment and connection handles: allocation, attributes, connecting to an address book,
// SQLGetInfoW, SQLGetFunctions, and ConfigDSN for SQLConfigDataSource.
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>

#include "connstr.h"
#include "driver.h"
// odbcinst.h needs the ODBC types from driver.h first.
#include <odbcinst.h>
#include "text.h"

namespace maxodbc {

namespace {

constexpr const char* kDriverVersion = "02.00.0000";

std::string DsnAttribute(const std::string& dsn, const char* key) {
  if (dsn.empty()) return {};
  char buffer[4096] = {};
  SQLGetPrivateProfileString(dsn.c_str(), key, "", buffer, sizeof buffer, "odbc.ini");
  return buffer;
}

std::optional<unsigned> ParseDelay(std::string_view text) {
  unsigned value = 0;
  const auto* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
  return value;
}

struct ConnectRequest {
  std::string dsn;
  std::string user;
  std::string password;
  std::optional<std::string> data_directory;  // given in the connect string
  std::optional<std::string> exec_delay;      // given in the connect string
};

SQLRETURN OpenAddressBook(Dbc* d, const ConnectRequest& request) {
  if (d->db != nullptr) return d->Error("08002", "Connection name in use");

  std::string directory =
      request.data_directory.value_or(DsnAttribute(request.dsn, "DataDirectory"));
  if (directory.empty()) {
    return d->Error("08001", request.dsn.empty()
                                 ? "No data source and no DataDirectory given"
                                 : "Data source '" + request.dsn + "' names no DataDirectory");
  }
  std::string file = directory;
  if (file.back() != '/') file += '/';
  file += "mxza.max";

  struct stat info {};
  if (stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return d->Error(
        "08001", "No Maximizer address book in directory '" + directory + "' (mxza.max not found)");
  }

  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, nullptr) !=
      SQLITE_OK) {
    const std::string message = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close_v2(db);
    return d->Error("08001", "Cannot open the address book in '" + directory + "': " + message);
  }
  sqlite3_busy_timeout(db, 5000);
  sqlite3_exec(db, "pragma case_sensitive_like = on", nullptr, nullptr, nullptr);
  RegisterFunctions(db);
  InstallCancelHandler(db);

  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, "select Password from Users where User = ?1", -1, &st, nullptr) !=
      SQLITE_OK) {
    const std::string message = sqlite3_errmsg(db);
    sqlite3_close_v2(db);
    return d->Error("08001", "'" + file + "' is not a Maximizer address book: " + message);
  }
  sqlite3_bind_text(st, 1, request.user.data(), static_cast<int>(request.user.size()),
                    SQLITE_STATIC);
  const int rc = sqlite3_step(st);
  bool authorised = false;
  if (rc == SQLITE_ROW) {
    const auto* stored = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    const int length = sqlite3_column_bytes(st, 0);
    authorised = stored != nullptr &&
                 std::string_view(stored, static_cast<std::size_t>(length)) == request.password;
  } else if (rc != SQLITE_DONE) {
    const std::string message = sqlite3_errmsg(db);
    sqlite3_finalize(st);
    sqlite3_close_v2(db);
    return d->Error("08001", "Cannot read the address book in '" + directory + "': " + message);
  }
  sqlite3_finalize(st);
  if (!authorised) {
    sqlite3_close_v2(db);
    return d->Error("28000", "Invalid authorization: wrong user or password");
  }

  std::optional<unsigned> delay;
  const std::string delay_text =
      request.exec_delay.value_or(DsnAttribute(request.dsn, "ExecDelayMs"));
  if (!delay_text.empty()) {
    delay = ParseDelay(delay_text);
    if (!delay) {
      sqlite3_close_v2(db);
      return d->Error("HY024", "ExecDelayMs must be a whole number of milliseconds");
    }
  }

  d->db = db;
  d->dsn = request.dsn;
  d->user = request.user;
  d->data_directory = directory;
  d->exec_delay_ms = delay;
  return SQL_SUCCESS;
}

void Disconnect(Dbc* d) {
  std::vector<Stmt*> stmts;
  {
    std::lock_guard<std::mutex> lock(d->stmts_mutex);
    stmts.swap(d->stmts);
  }
  for (Stmt* s : stmts) delete s;
  if (d->db != nullptr) {
    sqlite3_close_v2(d->db);
    d->db = nullptr;
  }
}

// ---- SQLGetInfo ----

enum class InfoKind { kText, kSmall, kInteger };

struct InfoValue {
  InfoKind kind;
  std::string text;
  SQLUINTEGER number = 0;
};

std::optional<InfoValue> Info(Dbc* d, SQLUSMALLINT type) {
  auto text = [](std::string value) { return InfoValue{InfoKind::kText, std::move(value)}; };
  auto small = [](SQLUINTEGER value) { return InfoValue{InfoKind::kSmall, {}, value}; };
  auto integer = [](SQLUINTEGER value) { return InfoValue{InfoKind::kInteger, {}, value}; };
  switch (type) {
    // Texts.
    case SQL_ACCESSIBLE_PROCEDURES:
      return text("N");
    case SQL_ACCESSIBLE_TABLES:
      return text("Y");
    case SQL_CATALOG_NAME:
      return text("N");
    case SQL_CATALOG_NAME_SEPARATOR:
    case SQL_CATALOG_TERM:
    case SQL_COLLATION_SEQ:
    case SQL_KEYWORDS:
    case SQL_PROCEDURE_TERM:
    case SQL_SCHEMA_TERM:
    case SQL_SPECIAL_CHARACTERS:
      return text("");
    case SQL_COLUMN_ALIAS:
      return text("Y");
    case SQL_DATA_SOURCE_NAME:
      return text(d->dsn);
    case SQL_DATA_SOURCE_READ_ONLY:
      return text("Y");
    case SQL_DATABASE_NAME:
      return text(d->data_directory);
    case SQL_DBMS_NAME:
      return text("Maximizer");
    case SQL_DBMS_VER:
    case SQL_DRIVER_VER:
      return text(kDriverVersion);
    case SQL_DESCRIBE_PARAMETER:
      return text("N");
    case SQL_DRIVER_NAME:
      return text("libmaxodbc.so");
    case SQL_DRIVER_ODBC_VER:
      return text("03.51");
    case SQL_EXPRESSIONS_IN_ORDERBY:
      return text("Y");
    case SQL_IDENTIFIER_QUOTE_CHAR:
      return text("\"");
    case SQL_INTEGRITY:
      return text("N");
    case SQL_LIKE_ESCAPE_CLAUSE:
      return text("Y");
    case SQL_MAX_ROW_SIZE_INCLUDES_LONG:
      return text("Y");
    case SQL_MULT_RESULT_SETS:
      return text("N");
    case SQL_MULTIPLE_ACTIVE_TXN:
      return text("Y");
    case SQL_NEED_LONG_DATA_LEN:
      return text("N");
    case SQL_ORDER_BY_COLUMNS_IN_SELECT:
      return text("N");
    case SQL_PROCEDURES:
      return text("N");
    case SQL_ROW_UPDATES:
      return text("N");
    case SQL_SEARCH_PATTERN_ESCAPE:
      return text("\\");
    case SQL_SERVER_NAME:
      return text("Maximizer");
    case SQL_TABLE_TERM:
      return text("table");
    case SQL_USER_NAME:
      return text(d->user);
    case SQL_XOPEN_CLI_YEAR:
      return text("1995");

    // 16-bit numbers.
    case SQL_ACTIVE_ENVIRONMENTS:
    case SQL_CATALOG_LOCATION:
    case SQL_MAX_CATALOG_NAME_LEN:
    case SQL_MAX_COLUMNS_IN_GROUP_BY:
    case SQL_MAX_COLUMNS_IN_INDEX:
    case SQL_MAX_COLUMNS_IN_ORDER_BY:
    case SQL_MAX_COLUMNS_IN_SELECT:
    case SQL_MAX_COLUMNS_IN_TABLE:
    case SQL_MAX_CONCURRENT_ACTIVITIES:
    case SQL_MAX_CURSOR_NAME_LEN:
    case SQL_MAX_DRIVER_CONNECTIONS:
    case SQL_MAX_PROCEDURE_NAME_LEN:
    case SQL_MAX_SCHEMA_NAME_LEN:
    case SQL_MAX_TABLES_IN_SELECT:
    case SQL_MAX_USER_NAME_LEN:
      return small(0);
    case SQL_MAX_COLUMN_NAME_LEN:
    case SQL_MAX_IDENTIFIER_LEN:
    case SQL_MAX_TABLE_NAME_LEN:
      return small(128);
    case SQL_CONCAT_NULL_BEHAVIOR:
      return small(SQL_CB_NULL);
    case SQL_CORRELATION_NAME:
      return small(SQL_CN_ANY);
    case SQL_CURSOR_COMMIT_BEHAVIOR:
    case SQL_CURSOR_ROLLBACK_BEHAVIOR:
      return small(SQL_CB_PRESERVE);
    case SQL_FILE_USAGE:
      return small(SQL_FILE_NOT_SUPPORTED);
    case SQL_GROUP_BY:
      return small(SQL_GB_GROUP_BY_CONTAINS_SELECT);
    case SQL_IDENTIFIER_CASE:
      return small(SQL_IC_MIXED);
    case SQL_NON_NULLABLE_COLUMNS:
      return small(SQL_NNC_NON_NULL);
    case SQL_NULL_COLLATION:
      return small(SQL_NC_LOW);
    case SQL_QUOTED_IDENTIFIER_CASE:
      return small(SQL_IC_MIXED);
    case SQL_TXN_CAPABLE:
      return small(SQL_TC_NONE);
    case SQL_ODBC_API_CONFORMANCE:
      return small(SQL_OAC_LEVEL1);
    case SQL_ODBC_SQL_CONFORMANCE:
      return small(SQL_OSC_MINIMUM);

    // 32-bit numbers and bit masks.
    case SQL_ASYNC_MODE:
      return integer(AsyncExecutionOffered() ? SQL_AM_STATEMENT : SQL_AM_NONE);
    case SQL_MAX_ASYNC_CONCURRENT_STATEMENTS:
      return integer(0);
    case SQL_ASYNC_DBC_FUNCTIONS:
      return integer(SQL_ASYNC_DBC_NOT_CAPABLE);
    case SQL_AGGREGATE_FUNCTIONS:
      return integer(SQL_AF_ALL | SQL_AF_AVG | SQL_AF_COUNT | SQL_AF_DISTINCT | SQL_AF_MAX |
                     SQL_AF_MIN | SQL_AF_SUM);
    case SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1:
      return integer(SQL_CA1_NEXT);
    case SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES2:
      return integer(SQL_CA2_READ_ONLY_CONCURRENCY | SQL_CA2_MAX_ROWS_SELECT);
    case SQL_GETDATA_EXTENSIONS:
      return integer(SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND);
    case SQL_ODBC_INTERFACE_CONFORMANCE:
      return integer(SQL_OIC_CORE);
    case SQL_PARAM_ARRAY_ROW_COUNTS:
      return integer(SQL_PARC_NO_BATCH);
    case SQL_PARAM_ARRAY_SELECTS:
      return integer(SQL_PAS_NO_SELECT);
    case SQL_SCROLL_OPTIONS:
      return integer(SQL_SO_FORWARD_ONLY);
    case SQL_FETCH_DIRECTION:
      return integer(SQL_FD_FETCH_NEXT);
    case SQL_SCROLL_CONCURRENCY:
      return integer(SQL_SCCO_READ_ONLY);
    case SQL_SQL_CONFORMANCE:
      return integer(SQL_SC_SQL92_ENTRY);
    case SQL_SQL92_PREDICATES:
      return integer(SQL_SP_COMPARISON | SQL_SP_LIKE | SQL_SP_ISNULL | SQL_SP_ISNOTNULL |
                     SQL_SP_IN | SQL_SP_BETWEEN);
    case SQL_SQL92_STRING_FUNCTIONS:
      return integer(SQL_SSF_UPPER | SQL_SSF_LOWER);
    case SQL_STRING_FUNCTIONS:
      return integer(SQL_FN_STR_UCASE | SQL_FN_STR_LCASE);
    case SQL_UNION:
      return integer(SQL_U_UNION | SQL_U_UNION_ALL);
    case SQL_CURSOR_SENSITIVITY:
      return integer(SQL_UNSPECIFIED);
    case SQL_ALTER_TABLE:
    case SQL_BATCH_ROW_COUNT:
    case SQL_BATCH_SUPPORT:
    case SQL_BOOKMARK_PERSISTENCE:
    case SQL_CATALOG_USAGE:
    case SQL_CONVERT_FUNCTIONS:
    case SQL_CONVERT_CHAR:
    case SQL_CONVERT_VARCHAR:
    case SQL_CONVERT_WCHAR:
    case SQL_CONVERT_WVARCHAR:
    case SQL_CREATE_TABLE:
    case SQL_CREATE_VIEW:
    case SQL_DATETIME_LITERALS:
    case SQL_DEFAULT_TXN_ISOLATION:
    case SQL_DROP_TABLE:
    case SQL_DROP_VIEW:
    case SQL_DYNAMIC_CURSOR_ATTRIBUTES1:
    case SQL_DYNAMIC_CURSOR_ATTRIBUTES2:
    case SQL_INDEX_KEYWORDS:
    case SQL_INFO_SCHEMA_VIEWS:
    case SQL_INSERT_STATEMENT:
    case SQL_KEYSET_CURSOR_ATTRIBUTES1:
    case SQL_KEYSET_CURSOR_ATTRIBUTES2:
    case SQL_LOCK_TYPES:
    case SQL_MAX_BINARY_LITERAL_LEN:
    case SQL_MAX_CHAR_LITERAL_LEN:
    case SQL_MAX_INDEX_SIZE:
    case SQL_MAX_ROW_SIZE:
    case SQL_MAX_STATEMENT_LEN:
    case SQL_NUMERIC_FUNCTIONS:
    case SQL_OJ_CAPABILITIES:
    case SQL_POS_OPERATIONS:
    case SQL_POSITIONED_STATEMENTS:
    case SQL_SCHEMA_USAGE:
    case SQL_STANDARD_CLI_CONFORMANCE:
    case SQL_STATIC_CURSOR_ATTRIBUTES1:
    case SQL_STATIC_CURSOR_ATTRIBUTES2:
    case SQL_STATIC_SENSITIVITY:
    case SQL_SUBQUERIES:
    case SQL_SYSTEM_FUNCTIONS:
    case SQL_TIMEDATE_ADD_INTERVALS:
    case SQL_TIMEDATE_DIFF_INTERVALS:
    case SQL_TIMEDATE_FUNCTIONS:
    case SQL_TXN_ISOLATION_OPTION:
      return integer(0);
    default:
      return std::nullopt;
  }
}

// ---- SQLGetFunctions ----

constexpr SQLUSMALLINT kSupportedFunctions[] = {
    SQL_API_SQLALLOCHANDLE,  SQL_API_SQLBINDCOL,        SQL_API_SQLCANCEL,
    SQL_API_SQLCLOSECURSOR,  SQL_API_SQLCOLATTRIBUTE,   SQL_API_SQLCONNECT,
    SQL_API_SQLDESCRIBECOL,  SQL_API_SQLDISCONNECT,     SQL_API_SQLDRIVERCONNECT,
    SQL_API_SQLENDTRAN,      SQL_API_SQLEXECDIRECT,     SQL_API_SQLEXECUTE,
    SQL_API_SQLFETCH,        SQL_API_SQLFETCHSCROLL,    SQL_API_SQLFREEHANDLE,
    SQL_API_SQLFREESTMT,     SQL_API_SQLGETCONNECTATTR, SQL_API_SQLGETDATA,
    SQL_API_SQLGETDIAGFIELD, SQL_API_SQLGETDIAGREC,     SQL_API_SQLGETENVATTR,
    SQL_API_SQLGETFUNCTIONS, SQL_API_SQLGETINFO,        SQL_API_SQLGETSTMTATTR,
    SQL_API_SQLMORERESULTS,  SQL_API_SQLNUMRESULTCOLS,  SQL_API_SQLPREPARE,
    SQL_API_SQLROWCOUNT,     SQL_API_SQLSETCONNECTATTR, SQL_API_SQLSETENVATTR,
    SQL_API_SQLSETSTMTATTR,  SQL_API_SQLTABLES,
};

bool Supported(SQLUSMALLINT id) {
  return std::find(std::begin(kSupportedFunctions), std::end(kSupportedFunctions), id) !=
         std::end(kSupportedFunctions);
}

SQLRETURN SetAsyncEnable(Handle* h, SQLULEN value, SQLULEN& target) {
  if (value != SQL_ASYNC_ENABLE_ON && value != SQL_ASYNC_ENABLE_OFF) {
    return h->Error("HY024", "Invalid attribute value");
  }
  target = AsyncExecutionOffered() ? value : SQL_ASYNC_ENABLE_OFF;
  return SQL_SUCCESS;
}

}  // namespace

}  // namespace maxodbc

using namespace maxodbc;

// ---- handles ----

MAXODBC_EXPORT SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input,
                                                SQLHANDLE* output) {
  if (output == nullptr) return SQL_ERROR;
  switch (type) {
    case SQL_HANDLE_ENV:
      *output = new Env();
      return SQL_SUCCESS;
    case SQL_HANDLE_DBC: {
      Env* e = AsEnv(input);
      if (e == nullptr) return SQL_INVALID_HANDLE;
      e->ClearDiag();
      *output = new Dbc(e);
      return SQL_SUCCESS;
    }
    case SQL_HANDLE_STMT: {
      Dbc* d = AsDbc(input);
      if (d == nullptr) return SQL_INVALID_HANDLE;
      d->ClearDiag();
      if (d->db == nullptr) return d->Error("08003", "Connection does not exist");
      auto* s = new Stmt(d);
      {
        std::lock_guard<std::mutex> lock(d->stmts_mutex);
        d->stmts.push_back(s);
      }
      *output = s;
      return SQL_SUCCESS;
    }
    case SQL_HANDLE_DESC: {
      Dbc* d = AsDbc(input);
      if (d == nullptr) return SQL_INVALID_HANDLE;
      d->ClearDiag();
      return d->Error("HYC00", "Explicit descriptors are not supported");
    }
    default:
      return SQL_ERROR;
  }
}

MAXODBC_EXPORT SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle) {
  switch (type) {
    case SQL_HANDLE_ENV: {
      Env* e = AsEnv(handle);
      if (e == nullptr) return SQL_INVALID_HANDLE;
      delete e;
      return SQL_SUCCESS;
    }
    case SQL_HANDLE_DBC: {
      Dbc* d = AsDbc(handle);
      if (d == nullptr) return SQL_INVALID_HANDLE;
      Disconnect(d);
      delete d;
      return SQL_SUCCESS;
    }
    case SQL_HANDLE_STMT: {
      Stmt* s = AsStmt(handle);
      if (s == nullptr) return SQL_INVALID_HANDLE;
      return FreeStatementHandle(s);
    }
    case SQL_HANDLE_DESC: {
      auto* desc = static_cast<Desc*>(handle);
      if (desc == nullptr || desc->kind != Kind::kDesc) return SQL_INVALID_HANDLE;
      desc->ClearDiag();
      return desc->Error("HY017", "Invalid use of an automatically allocated descriptor handle");
    }
    default:
      return SQL_ERROR;
  }
}

MAXODBC_EXPORT SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV handle, SQLINTEGER attribute,
                                               SQLPOINTER value, SQLINTEGER /*length*/) {
  Env* e = AsEnv(handle);
  if (e == nullptr) return SQL_INVALID_HANDLE;
  e->ClearDiag();
  const auto number = static_cast<SQLINTEGER>(reinterpret_cast<SQLLEN>(value));
  switch (attribute) {
    case SQL_ATTR_ODBC_VERSION:
      e->odbc_version = number;
      return SQL_SUCCESS;
    case SQL_ATTR_OUTPUT_NTS:
      if (number != SQL_TRUE) return e->Error("HYC00", "Optional feature not implemented");
      return SQL_SUCCESS;
    case SQL_ATTR_CONNECTION_POOLING:
    case SQL_ATTR_CP_MATCH:
      return SQL_SUCCESS;
    default:
      return e->Error("HY092", "Invalid attribute/option identifier");
  }
}

MAXODBC_EXPORT SQLRETURN SQL_API SQLGetEnvAttr(SQLHENV handle, SQLINTEGER attribute,
                                               SQLPOINTER value, SQLINTEGER /*capacity*/,
                                               SQLINTEGER* length) {
  Env* e = AsEnv(handle);
  if (e == nullptr) return SQL_INVALID_HANDLE;
  e->ClearDiag();
  SQLUINTEGER result = 0;
  switch (attribute) {
    case SQL_ATTR_ODBC_VERSION:
      result = static_cast<SQLUINTEGER>(e->odbc_version);
      break;
    case SQL_ATTR_OUTPUT_NTS:
      result = SQL_TRUE;
      break;
    case SQL_ATTR_CONNECTION_POOLING:
      result = SQL_CP_OFF;
      break;
    case SQL_ATTR_CP_MATCH:
      result = SQL_CP_STRICT_MATCH;
      break;
    default:
      return e->Error("HY092", "Invalid attribute/option identifier");
  }
  if (value != nullptr) *static_cast<SQLUINTEGER*>(value) = result;
  if (length != nullptr) *length = sizeof(SQLUINTEGER);
  return SQL_SUCCESS;
}

// ---- connection attributes ----

MAXODBC_EXPORT SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC handle, SQLINTEGER attribute,
                                                    SQLPOINTER value, SQLINTEGER /*length*/) {
  Dbc* d = AsDbc(handle);
  if (d == nullptr) return SQL_INVALID_HANDLE;
  d->ClearDiag();
  const auto number = static_cast<SQLULEN>(reinterpret_cast<SQLLEN>(value));
  switch (attribute) {
    case SQL_ATTR_ASYNC_ENABLE: {
      const SQLRETURN rc = SetAsyncEnable(d, number, d->async_enable);
      if (rc == SQL_SUCCESS) {
        // The connection's setting applies to all of its statements.
        std::lock_guard<std::mutex> lock(d->stmts_mutex);
        for (Stmt* s : d->stmts) s->async_enable = d->async_enable;
      }
      return rc;
    }
    case SQL_ATTR_AUTOCOMMIT:
      d->autocommit = static_cast<SQLUINTEGER>(number);
      return SQL_SUCCESS;
    case SQL_ATTR_ACCESS_MODE:
      if (number != SQL_MODE_READ_ONLY) {
        return d->Warning("01S02", "Option value changed: the address book is read-only");
      }
      return SQL_SUCCESS;
    case SQL_ATTR_LOGIN_TIMEOUT:
      d->login_timeout = static_cast<SQLUINTEGER>(number);
      return SQL_SUCCESS;
    case SQL_ATTR_CONNECTION_TIMEOUT:
    case SQL_ATTR_TXN_ISOLATION:
    case SQL_ATTR_QUIET_MODE:
    case SQL_ATTR_PACKET_SIZE:
    case SQL_ATTR_METADATA_ID:
    case SQL_ATTR_ANSI_APP:
      return SQL_SUCCESS;
    case SQL_ATTR_CURRENT_CATALOG:
      return d->Error("HYC00", "Optional feature not implemented");
    default:
      return d->Error("HY092", "Invalid attribute/option identifier");
  }
}

MAXODBC_EXPORT SQLRETURN SQL_API SQLGetConnectAttrW(SQLHDBC handle, SQLINTEGER attribute,
                                                    SQLPOINTER value, SQLINTEGER capacity,
                                                    SQLINTEGER* length) {
  Dbc* d = AsDbc(handle);
  if (d == nullptr) return SQL_INVALID_HANDLE;
  d->ClearDiag();
  SQLUINTEGER result = 0;
  switch (attribute) {
    case SQL_ATTR_ASYNC_ENABLE:
      result = static_cast<SQLUINTEGER>(d->async_enable);
      break;
    case SQL_ATTR_AUTOCOMMIT:
      result = d->autocommit;
      break;
    case SQL_ATTR_ACCESS_MODE:
      result = SQL_MODE_READ_ONLY;
      break;
    case SQL_ATTR_LOGIN_TIMEOUT:
      result = d->login_timeout;
      break;
    case SQL_ATTR_CONNECTION_TIMEOUT:
    case SQL_ATTR_PACKET_SIZE:
    case SQL_ATTR_METADATA_ID:
      result = 0;
      break;
    case SQL_ATTR_TXN_ISOLATION:
      result = SQL_TXN_SERIALIZABLE;
      break;
    case SQL_ATTR_CONNECTION_DEAD:
      result = d->db != nullptr ? SQL_CD_FALSE : SQL_CD_TRUE;
      break;
    case SQL_ATTR_CURRENT_CATALOG:
      return WriteWide(d, "", value, capacity, false, length);
    default:
      return d->Error("HY092", "Invalid attribute/option identifier");
  }
  if (value != nullptr) *static_cast<SQLUINTEGER*>(value) = result;
  if (length != nullptr) *length = sizeof(SQLUINTEGER);
  return SQL_SUCCESS;
}

// ---- connecting ----

MAXODBC_EXPORT SQLRETURN SQL_API SQLConnectW(SQLHDBC handle, SQLWCHAR* dsn, SQLSMALLINT dsn_length,
                                             SQLWCHAR* user, SQLSMALLINT user_length,
                                             SQLWCHAR* password, SQLSMALLINT password_length) {
  Dbc* d = AsDbc(handle);
  if (d == nullptr) return SQL_INVALID_HANDLE;
  d->ClearDiag();
  ConnectRequest request;
  request.dsn = FromWide(dsn, dsn_length);
  request.user = FromWide(user, user_length);
  request.password = FromWide(password, password_length);
  return OpenAddressBook(d, request);
}

MAXODBC_EXPORT SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC handle, SQLHWND /*window*/, SQLWCHAR* in,
                                                   SQLSMALLINT in_length, SQLWCHAR* out,
                                                   SQLSMALLINT out_capacity,
                                                   SQLSMALLINT* out_length,
                                                   SQLUSMALLINT completion) {
  Dbc* d = AsDbc(handle);
  if (d == nullptr) return SQL_INVALID_HANDLE;
  d->ClearDiag();
  switch (completion) {
    case SQL_DRIVER_NOPROMPT:
    case SQL_DRIVER_COMPLETE:
    case SQL_DRIVER_PROMPT:
    case SQL_DRIVER_COMPLETE_REQUIRED:
      // The driver has no dialog: every mode connects with what the string holds.
      break;
    default:
      return d->Error("HY110", "Invalid driver completion");
  }
  if (out_capacity < 0) return d->Error("HY090", "Invalid string or buffer length");

  const auto attributes = ParseConnectString(FromWide(in, in_length));
  if (!attributes) {
    return d->Error("08001", "Malformed connect string: a value in braces is not closed");
  }
  ConnectRequest request;
  request.dsn = FindAttribute(*attributes, "DSN").value_or("");
  request.user = FindAttribute(*attributes, "UID").value_or("");
  request.password = FindAttribute(*attributes, "PWD").value_or("");
  request.data_directory = FindAttribute(*attributes, "DataDirectory");
  request.exec_delay = FindAttribute(*attributes, "ExecDelayMs");

  const SQLRETURN rc = OpenAddressBook(d, request);
  if (!SQL_SUCCEEDED(rc)) return rc;

  std::string completed;
  if (!request.dsn.empty()) {
    completed = FormatAttribute("DSN", request.dsn);
  } else {
    completed = FormatAttribute("DRIVER", kDriverName);
  }
  if (request.data_directory) {
    completed += ';' + FormatAttribute("DataDirectory", *request.data_directory);
  }
  if (request.exec_delay) completed += ';' + FormatAttribute("ExecDelayMs", *request.exec_delay);
  completed += ';' + FormatAttribute("UID", request.user);
  completed += ';' + FormatAttribute("PWD", request.password);
  return WriteWide(d, completed, out, out_capacity, true, out_length);
}

MAXODBC_EXPORT SQLRETURN SQL_API SQLDisconnect(SQLHDBC handle) {
  Dbc* d = AsDbc(handle);
  if (d == nullptr) return SQL_INVALID_HANDLE;
  d->ClearDiag();
  if (d->db == nullptr) return d->Error("08003", "Connection does not exist");
  Disconnect(d);
  return SQL_SUCCESS;
}

MAXODBC_EXPORT SQLRETURN SQL_API SQLEndTran(SQLSMALLINT type, SQLHANDLE handle,
                                            SQLSMALLINT /*completion*/) {
  if (type == SQL_HANDLE_ENV) return AsEnv(handle) != nullptr ? SQL_SUCCESS : SQL_INVALID_HANDLE;
  if (type == SQL_HANDLE_DBC) return AsDbc(handle) != nullptr ? SQL_SUCCESS : SQL_INVALID_HANDLE;
  return SQL_ERROR;
}

// ---- information ----

MAXODBC_EXPORT SQLRETURN SQL_API SQLGetInfoW(SQLHDBC handle, SQLUSMALLINT type, SQLPOINTER value,
                                             SQLSMALLINT capacity, SQLSMALLINT* length) {
  Dbc* d = AsDbc(handle);
  if (d == nullptr) return SQL_INVALID_HANDLE;
  d->ClearDiag();
  const auto info = Info(d, type);
  if (!info) return d->Error("HY096", "Information type out of range");
  switch (info->kind) {
    case InfoKind::kText:
      return WriteWide(d, info->text, value, capacity, false, length);
    case InfoKind::kSmall:
      if (value != nullptr)
        *static_cast<SQLUSMALLINT*>(value) = static_cast<SQLUSMALLINT>(info->number);
      if (length != nullptr) *length = sizeof(SQLUSMALLINT);
      return SQL_SUCCESS;
    case InfoKind::kInteger:
      if (value != nullptr) *static_cast<SQLUINTEGER*>(value) = info->number;
      if (length != nullptr) *length = sizeof(SQLUINTEGER);
      return SQL_SUCCESS;
  }
  return SQL_ERROR;
}

MAXODBC_EXPORT SQLRETURN SQL_API SQLGetFunctions(SQLHDBC handle, SQLUSMALLINT id,
                                                 SQLUSMALLINT* supported) {
  Dbc* d = AsDbc(handle);
  if (d == nullptr) return SQL_INVALID_HANDLE;
  d->ClearDiag();
  if (supported == nullptr) return d->Error("HY009", "Invalid use of null pointer");
  if (id == SQL_API_ODBC3_ALL_FUNCTIONS) {
    std::fill(supported, supported + SQL_API_ODBC3_ALL_FUNCTIONS_SIZE, SQLUSMALLINT{0});
    for (SQLUSMALLINT f : kSupportedFunctions) {
      supported[f >> 4] = static_cast<SQLUSMALLINT>(supported[f >> 4] | (1 << (f & 0xF)));
    }
    return SQL_SUCCESS;
  }
  if (id == SQL_API_ALL_FUNCTIONS) {
    for (SQLUSMALLINT f = 0; f < 100; ++f) supported[f] = Supported(f) ? SQL_TRUE : SQL_FALSE;
    return SQL_SUCCESS;
  }
  *supported = Supported(id) ? SQL_TRUE : SQL_FALSE;
  return SQL_SUCCESS;
}

// ---- data source set-up, called by SQLConfigDataSource ----

// Attributes arrive as "key=value" pairs separated by NUL (the ODBC form) or by carriage return,
// and end with an empty pair.
MAXODBC_EXPORT BOOL INSTAPI ConfigDSN(HWND /*window*/, WORD request, LPCSTR driver,
                                      LPCSTR attributes) {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::string dsn;
  for (const char* p = attributes; p != nullptr && *p != '\0'; p += std::strlen(p) + 1) {
    std::string_view entry(p);
    while (!entry.empty()) {
      const std::size_t cr = entry.find('\r');
      const std::string_view pair = entry.substr(0, cr);
      const std::size_t eq = pair.find('=');
      if (eq != std::string_view::npos) {
        std::string key(pair.substr(0, eq));
        std::string value(pair.substr(eq + 1));
        if (EqualsNoCase(key, "DSN")) {
          dsn = value;
        } else {
          pairs.emplace_back(std::move(key), std::move(value));
        }
      }
      if (cr == std::string_view::npos) break;
      entry.remove_prefix(cr + 1);
    }
  }
  if (dsn.empty()) return 0;
  switch (request) {
    case ODBC_ADD_DSN:
      if (!SQLWriteDSNToIni(dsn.c_str(), driver)) return 0;
      break;
    case ODBC_CONFIG_DSN:
      break;
    case ODBC_REMOVE_DSN:
      return SQLRemoveDSNFromIni(dsn.c_str());
    default:
      return 0;
  }
  for (const auto& [key, value] : pairs) {
    if (!SQLWritePrivateProfileString(dsn.c_str(), key.c_str(), value.c_str(), "odbc.ini")) {
      return 0;
    }
  }
  return 1;
}
