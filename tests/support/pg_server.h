// The database servers that scripts/pg-test-server.sh and
// scripts/mariadb-test-server.sh start for the test run (CTest fixtures).
// Tests read where a server listens from the state file named by
// $PELLORY_PG_STATE or $PELLORY_MARIADB_STATE and skip when it is not there.
#pragma once

#include <string>

namespace pellory::testing {

struct PgServer {
  bool available = false;
  std::string reason;  // why not, when unavailable
  std::string host, port, user, password;
  std::string dir;  // the cluster's directory (its data in dir/data)

  static PgServer FromEnvironment();
  // The server whose state file (see scripts/pg-test-server.sh) is `path`.
  static PgServer FromStateFile(const std::string& path);
  // A driver connect string for the PostgreSQL ODBC driver (Unicode).
  std::string ConnectString(const std::string& database) const;
};

// The MariaDB server: the same fields, read from its own state file.
struct MariadbServer : PgServer {
  static MariadbServer FromEnvironment();
  static MariadbServer FromStateFile(const std::string& path);
  // A driver connect string for MariaDB Connector/ODBC; an empty database
  // names none.
  std::string ConnectString(const std::string& database) const;
};

}  // namespace pellory::testing

// Skips the current test when the server is not running.
#define PELLORY_REQUIRE_PG(server) \
  if (!(server).available) GTEST_SKIP() << "PostgreSQL test server: " << (server).reason
#define PELLORY_REQUIRE_MARIADB(server) \
  if (!(server).available) GTEST_SKIP() << "MariaDB test server: " << (server).reason
