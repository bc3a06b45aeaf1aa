// One worker of `pellory serve`: a thread's own platform object and its
// resident Sessions, initialised from the host settings and loaded once,
// their connections kept open between requests. A database that failed is
// loaded again by the next request (and a search that failed on a lost
// connection is tried once more on a fresh one). Used by one thread only,
// the one that made it.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/serve/metrics.h"
#include "cli/serve/request_check.h"
#include "platform/platform_env.h"
#include "plugin/session.h"

namespace pellory::cli::serve {

// The records every worker's Sessions are initialised with.
struct ServeSettings {
  Text data_rd;
  Text user_rd;
};

// Whether the stored DataRd matches numbers in any format.
bool StoredMatchesAny(Env& env, TextView data_rd);

struct LookupAnswer {
  Outcome outcome = Outcome::kNotFound;
  std::string reason;  // why it failed or ran out of time
  // When found:
  std::string name;     // the display name (the company of a shared number)
  std::string company;  // the contact's own company
  std::string id;
  std::string match;  // how the number matched: Exact, Same, Partial
  int matches = 0;
  nlohmann::ordered_json contact;
  std::vector<std::string> ids;  // every contact behind the number
};

struct SearchAnswer {
  Outcome outcome = Outcome::kNotFound;
  std::string reason;
  int matches = 0;
  nlohmann::ordered_json contacts = nlohmann::ordered_json::array();
};

// What `pellory serve --check` reports.
struct CheckReport {
  std::string failure;  // empty when the database answered
  std::string mode;     // file or SQL, and where the data is
  std::string table;
  long long contacts = -1;
  double lookup_ms = 0;
};

class LookupWorker {
 public:
  LookupWorker(const ServeSettings& settings, Metrics& metrics);
  ~LookupWorker();
  LookupWorker(const LookupWorker&) = delete;
  LookupWorker& operator=(const LookupWorker&) = delete;

  // A number search as `pellory find --tel N --format json` runs it. The
  // caller makes sure that `number` holds a digit.
  LookupAnswer Lookup(const std::string& number, MatchMode match);
  SearchAnswer Search(const SearchQuery& query);
  // Empty when a trivial lookup reached the database; why not otherwise.
  std::string Health();
  CheckReport Check();

  bool stored_any() const { return stored_any_; }

 private:
  struct Resident {
    std::unique_ptr<Session> session;
    bool loaded = false;
    bool ever_loaded = false;
  };
  Resident& ResidentFor(bool any);
  // Loads `r` unless it is loaded; why it could not be, or empty.
  std::string EnsureLoaded(Resident& r);
  // Runs the search of `request` on `r`; a search that fails in the
  // database is tried once more after loading again. Sets `failure` when it
  // failed and `timed_out` when it ran out of time.
  Text Find(Resident& r, const Text& request, bool list, std::string* failure, bool* timed_out);

  PlatformEnv env_;
  ServeSettings settings_;
  Metrics& metrics_;
  bool stored_any_ = false;
  Resident exact_, any_;
};

}  // namespace pellory::cli::serve
