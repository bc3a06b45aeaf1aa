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

}  // namespace

PgServer PgServer::FromEnvironment() {
  const char* path = std::getenv("PELLORY_PG_STATE");
  if (!path || !*path) {
    PgServer s;
    s.reason = "PELLORY_PG_STATE is not set (run the tests through ctest)";
    return s;
  }
  return FromStateFile(path);
}

PgServer PgServer::FromStateFile(const std::string& path) {
  PgServer s;
  std::ifstream f(path);
  if (!f) {
    s.reason = "no state file " + path + " (the server was not started)";
    return s;
  }
  std::string line;
  while (std::getline(f, line)) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "UNAVAILABLE") s.reason = value;
    if (key == "PG_HOST") s.host = value;
    if (key == "PG_PORT") s.port = value;
    if (key == "PG_USER") s.user = value;
    if (key == "PG_PASSWORD") s.password = value;
    if (key == "PG_DIR") s.dir = value;
  }
  s.available = s.reason.empty() && !s.port.empty();
  if (!s.available && s.reason.empty()) s.reason = "the state file names no port";
  return s;
}

std::string PgServer::ConnectString(const std::string& database) const {
  return "Driver={PostgreSQL Unicode};Server=" + host + ";Port=" + port + ";Database=" + database +
         ";UID=" + user + ";PWD=" + Braced(password);
}

}  // namespace pellory::testing
