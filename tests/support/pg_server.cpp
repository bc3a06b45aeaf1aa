#include "support/pg_server.h"

#include <cstdlib>
#include <fstream>

namespace pellory::testing {
namespace {

std::string Braced(const std::string& v) {
  std::string out = "{";
  for (char c : v) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "}";
}

// Reads the state file at `path` of a server script whose keys begin with
// `prefix` ("PG_", "MARIADB_").
void ReadState(PgServer& s, const std::string& path, const std::string& prefix) {
  std::ifstream f(path);
  if (!f) {
    s.reason = "no state file " + path + " (the server was not started)";
    return;
  }
  std::string line;
  while (std::getline(f, line)) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "UNAVAILABLE") s.reason = value;
    if (key.rfind(prefix, 0) != 0) continue;
    key.erase(0, prefix.size());
    if (key == "HOST") s.host = value;
    if (key == "PORT") s.port = value;
    if (key == "USER") s.user = value;
    if (key == "PASSWORD") s.password = value;
    if (key == "DIR") s.dir = value;
  }
  s.available = s.reason.empty() && !s.port.empty();
  if (!s.available && s.reason.empty()) s.reason = "the state file names no port";
}

template <typename Server>
Server FromVariable(const char* variable) {
  Server s;
  const char* path = std::getenv(variable);
  if (!path || !*path) {
    s.reason = std::string(variable) + " is not set (run the tests through ctest)";
    return s;
  }
  return Server::FromStateFile(path);
}

}  // namespace

PgServer PgServer::FromEnvironment() { return FromVariable<PgServer>("PELLORY_PG_STATE"); }

PgServer PgServer::FromStateFile(const std::string& path) {
  PgServer s;
  ReadState(s, path, "PG_");
  return s;
}

std::string PgServer::ConnectString(const std::string& database) const {
  return "Driver={PostgreSQL Unicode};Server=" + host + ";Port=" + port + ";Database=" + database +
         ";UID=" + user + ";PWD=" + Braced(password);
}

MariadbServer MariadbServer::FromEnvironment() {
  return FromVariable<MariadbServer>("PELLORY_MARIADB_STATE");
}

MariadbServer MariadbServer::FromStateFile(const std::string& path) {
  MariadbServer s;
  ReadState(s, path, "MARIADB_");
  return s;
}

std::string MariadbServer::ConnectString(const std::string& database) const {
  return "Driver={MariaDB Unicode};Server=" + host + ";Port=" + port +
         (database.empty() ? "" : ";Database=" + database) + ";UID=" + user +
         ";PWD=" + Braced(password);
}

}  // namespace pellory::testing
