// A database of a test's own on the PostgreSQL or MariaDB server of the
// test run (see pg_server.h), dropped again when the object goes.
#pragma once

#include <string>
#include <vector>

#include "support/crmdb_odbc.h"
#include "support/pg_server.h"

namespace pellory::testing {

enum class ServerEngine { kPostgresql, kMariadb };

class ServerDatabase {
 public:
  // `name` must be unique among the tests that may run at the same time.
  ServerDatabase(ServerEngine engine, const std::string& name) : engine_(engine), name_(name) {
    if (engine == ServerEngine::kPostgresql) {
      server_ = PgServer::FromEnvironment();
      admin_ = server_.ConnectString("postgres");
    } else {
      MariadbServer m = MariadbServer::FromEnvironment();
      server_ = m;
      admin_ = m.ConnectString("");
      connect_ = m.ConnectString(name);
    }
    if (!server_.available) return;
    if (engine == ServerEngine::kPostgresql) connect_ = server_.ConnectString(name);
    error_ = ExecSql(admin_, {"drop database if exists " + name, "create database " + name});
    created_ = error_.empty();
  }
  ~ServerDatabase() {
    if (created_) ExecSql(admin_, {"drop database " + name_});
  }
  ServerDatabase(const ServerDatabase&) = delete;
  ServerDatabase& operator=(const ServerDatabase&) = delete;

  bool available() const { return server_.available; }
  // Why the server is not there.
  std::string reason() const {
    return (engine_ == ServerEngine::kPostgresql ? "PostgreSQL" : "MariaDB") +
           std::string(" test server: ") + server_.reason;
  }
  // The first failure of creating the database or of `statements`, or "".
  std::string Run(const std::vector<std::string>& statements) const {
    if (!error_.empty()) return error_;
    for (const std::string& s : statements) {
      std::string e = ExecSql(connect_, {s});
      if (!e.empty()) return e;
    }
    return "";
  }
  const std::string& connect() const { return connect_; }
  const char16_t* driver() const {
    return engine_ == ServerEngine::kPostgresql ? u"PostgreSQL Unicode" : u"MariaDB Unicode";
  }
  const PgServer& server() const { return server_; }

 private:
  ServerEngine engine_;
  std::string name_;
  PgServer server_;
  std::string admin_, connect_, error_;
  bool created_ = false;
};

inline const char* EngineName(ServerEngine e) {
  return e == ServerEngine::kPostgresql ? "Postgresql" : "Mariadb";
}

}  // namespace pellory::testing

#define PELLORY_REQUIRE_DATABASE(db) \
  if (!(db).available()) GTEST_SKIP() << (db).reason()
