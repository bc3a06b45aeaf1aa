// Small helpers for the tests that go through the driver manager (with
// OdbcSandbox): building test databases with plain SQL, reading files.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <filesystem>
#include <initializer_list>
#include <string>

#include "support/shell.h"

namespace pellory::testing {

inline std::string ReadText(const std::filesystem::path& path) { return ReadAll(path); }

// Runs statements on a connection opened with `connect`; returns the first
// failure's message, or "" when all ran.
inline std::string ExecSql(const std::string& connect, std::initializer_list<std::string> sql) {
  SQLHENV env;
  SQLHDBC dbc;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  auto diag = [](SQLSMALLINT type, SQLHANDLE h) {
    SQLCHAR state[6], msg[512];
    SQLINTEGER native;
    SQLSMALLINT len;
    if (!SQL_SUCCEEDED(SQLGetDiagRec(type, h, 1, state, &native, msg, sizeof msg, &len))) {
      return std::string("failed");
    }
    return std::string(reinterpret_cast<char*>(msg));
  };
  std::string error;
  SQLRETURN rc = SQLDriverConnect(dbc, nullptr, (SQLCHAR*)connect.c_str(), SQL_NTS, nullptr, 0,
                                  nullptr, SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) {
    error = diag(SQL_HANDLE_DBC, dbc);
  } else {
    for (const std::string& s : sql) {
      SQLHSTMT st;
      SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
      rc = SQLExecDirect(st, (SQLCHAR*)s.c_str(), SQL_NTS);
      if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) error = diag(SQL_HANDLE_STMT, st) + " in " + s;
      SQLFreeHandle(SQL_HANDLE_STMT, st);
      if (!error.empty()) break;
    }
    SQLDisconnect(dbc);
  }
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return error;
}

}  // namespace pellory::testing
