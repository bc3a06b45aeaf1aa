// A private driver-manager configuration for one test process: the
// installed drivers are copied into a temporary odbcinst.ini, and the
// user's and the system's data sources live in temporary files, so tests
// never touch the machine's own. Also a small direct-SQL helper to build
// test databases. Header-only: only the ODBC test programs link unixODBC.
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>

namespace pellory::testing {

class PrivateOdbc {
 public:
  // `extra_drivers` is appended to the copied odbcinst.ini.
  explicit PrivateOdbc(const std::string& extra_drivers = "") {
    char tmpl[] = "/tmp/pellory-odbc-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    std::string drivers;
    std::ifstream system_ini("/etc/odbcinst.ini");
    std::stringstream ss;
    ss << system_ini.rdbuf();
    drivers = ss.str();
    std::ofstream(dir_ + "/odbcinst.ini") << drivers << "\n" << extra_drivers << "\n";
    std::ofstream(dir_ + "/odbc.ini") << "";
    std::ofstream(dir_ + "/user-odbc.ini") << "";
    ::setenv("ODBCSYSINI", dir_.c_str(), 1);
    ::setenv("ODBCINSTINI", "odbcinst.ini", 1);
    ::setenv("ODBCINI", (dir_ + "/user-odbc.ini").c_str(), 1);
  }
  ~PrivateOdbc() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const std::string& dir() const { return dir_; }
  std::string UserIni() const { return Read(dir_ + "/user-odbc.ini"); }
  std::string SystemIni() const { return Read(dir_ + "/odbc.ini"); }
  static std::string Read(const std::string& path) {
    std::ifstream f(path);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }

 private:
  std::string dir_;
};

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
