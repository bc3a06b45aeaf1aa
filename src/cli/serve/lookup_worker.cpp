#include "cli/serve/lookup_worker.h"

#include <algorithm>
#include <chrono>

#include "assembly.h"
#include "cli/contact_fields.h"
#include "crmdb/crmdb.h"
#include "plugin/records.h"

namespace pellory::cli::serve {
namespace {

using json = nlohmann::ordered_json;

std::string U8(TextView text) { return ToUtf8(text); }

// The entries of `rd` named in `keys` that it holds, as a JSON object.
template <size_t K>
json Object(Env& env, TextView rd, const char16_t* const (&keys)[K]) {
  json out = json::object();
  const Variant absent = Variant::Missing();
  for (const char16_t* key : keys) {
    Variant v = GetVar(env, rd, key, absent);
    if (!v.is_missing()) out[U8(key)] = U8(v.ToText(&env.regional()));
  }
  return out;
}

bool Succeeded(Env& env, TextView reply) { return GetText(env, reply, u"Result") == u"Success"; }

// An identifier no contact is given: the search reaches the table and
// finds nothing.
constexpr char16_t kHealthId[] = u"pellory-health-check";

}  // namespace

bool StoredMatchesAny(Env& env, TextView data_rd) {
  return EqualsNoCase(Trim(GetText(env, data_rd, u"NumberMatch")), u"any");
}

LookupWorker::LookupWorker(const ServeSettings& settings, Metrics& metrics)
    : settings_(settings), metrics_(metrics) {
  WireAdapters(env_);
  stored_any_ = StoredMatchesAny(env_, settings_.data_rd);
  // The stored mode's Session is loaded at once, so that the first request
  // finds its connection open.
  EnsureLoaded(ResidentFor(stored_any_));
}

LookupWorker::~LookupWorker() {
  exact_.session.reset();
  any_.session.reset();
  ReleaseThreadEngines();
}

LookupWorker::Resident& LookupWorker::ResidentFor(bool any) {
  Resident& r = any ? any_ : exact_;
  if (!r.session) {
    Text data = settings_.data_rd, user = settings_.user_rd;
    if (any != stored_any_) AddVar(env_, data, u"NumberMatch", Variant(any ? u"Any" : u"Exact"));
    r.session = std::make_unique<Session>(env_, WireSubsystems);
    ObjectRef callback;
    r.session->Initialize(data, user, callback);
  }
  return r;
}

std::string LookupWorker::EnsureLoaded(Resident& r) {
  if (r.loaded) return "";
  Text vars;
  const Text reply = r.session->Load(vars);
  if (UpperCase(GetText(env_, reply, u"Result")) == u"FAIL") {
    metrics_.DatabaseError();
    const Text reason = GetText(env_, reply, u"Reason");
    return reason.empty() ? "the database could not be loaded" : U8(reason);
  }
  if (r.ever_loaded) metrics_.Reconnect();
  r.loaded = r.ever_loaded = true;
  return "";
}

Text LookupWorker::Find(Resident& r, const Text& request, bool list, std::string* failure,
                        bool* timed_out) {
  *timed_out = false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (std::string why = EnsureLoaded(r); !why.empty()) {
      *failure = why;
      return Text();
    }
    Text reply = list ? r.session->FindList(request) : r.session->FindContact(request);
    const bool found = Succeeded(env_, reply);
    *timed_out = !found && GetText(env_, reply, u"Reason") == u"Timeout";
    const Text& failed = r.session->lookup()->search_failure();
    if (found || *timed_out || failed.empty()) {
      failure->clear();
      return reply;
    }
    // The connection may be gone (a server restart): the next attempt
    // starts from a fresh load.
    metrics_.DatabaseError();
    *failure = U8(failed);
    r.session->Unload();
    r.loaded = false;
  }
  return Text();
}

LookupAnswer LookupWorker::Lookup(const std::string& number, MatchMode match) {
  const bool any = match == MatchMode::kAny || (match == MatchMode::kStored && stored_any_);
  Resident& r = ResidentFor(any);
  Text request;
  AddVar(env_, request, u"Tel", Variant(FromUtf8(number)));
  LookupAnswer a;
  bool timed_out = false;
  const Text reply = Find(r, request, false, &a.reason, &timed_out);
  if (!a.reason.empty()) {
    a.outcome = Outcome::kError;
    return a;
  }
  if (timed_out) {
    a.outcome = Outcome::kTimeout;
    a.reason = "timeout";
    return a;
  }
  if (!Succeeded(env_, reply)) return a;
  a.outcome = Outcome::kFound;
  a.matches = std::max(1, ReplyNumber(env_, reply, u"Matches"));
  // Several contacts behind the number (a switchboard): the list of the
  // same number names all of them, as a host would ask for it.
  std::vector<Text> sharing;
  if (a.matches >= 2) {
    const Text list = r.session->FindList(request);
    if (Succeeded(env_, list)) sharing = ListEntries(env_, list);
  }
  const Text shared = sharing.size() >= 2 ? SharedCompany(env_, sharing) : Text();
  a.name = U8(shared.empty() ? DisplayName(env_, reply) : shared);
  a.company = U8(GetText(env_, reply, u"Company"));
  a.id = U8(GetText(env_, reply, u"Id"));
  const Text tier = GetText(env_, reply, u"Match");
  a.match = tier.empty() ? "Exact" : U8(tier);
  a.contact = Object(env_, reply, kContactKeys);
  if (sharing.empty()) sharing.push_back(reply);
  for (const Text& entry : sharing) {
    const Text id = GetText(env_, entry, u"Id");
    if (!id.empty()) a.ids.push_back(U8(id));
  }
  return a;
}

SearchAnswer LookupWorker::Search(const SearchQuery& query) {
  Resident& r = ResidentFor(stored_any_);
  Text request;
  if (!query.begin.empty()) AddVar(env_, request, u"Begin", Variant(FromUtf8(query.begin)));
  if (!query.text.empty()) AddVar(env_, request, u"Text", Variant(FromUtf8(query.text)));
  AddVar(env_, request, u"MaxFind", Variant(static_cast<double>(query.max)));
  SearchAnswer a;
  bool timed_out = false;
  const Text reply = Find(r, request, true, &a.reason, &timed_out);
  if (!a.reason.empty()) {
    a.outcome = Outcome::kError;
  } else if (timed_out) {
    a.outcome = Outcome::kTimeout;
    a.reason = "timeout";
  } else if (Succeeded(env_, reply)) {
    a.outcome = Outcome::kFound;
    for (const Text& entry : ListEntries(env_, reply)) {
      a.contacts.push_back(Object(env_, entry, kEntryKeys));
    }
    a.matches = static_cast<int>(a.contacts.size());
  }
  return a;
}

std::string LookupWorker::Health() {
  Resident& r = ResidentFor(stored_any_);
  Text request;
  AddVar(env_, request, u"Id", Variant(kHealthId));
  std::string failure;
  bool timed_out = false;
  Find(r, request, false, &failure, &timed_out);
  if (timed_out) return "the database did not answer in time";
  return failure;
}

CheckReport LookupWorker::Check() {
  CheckReport report;
  Resident& r = ResidentFor(stored_any_);
  const auto start = std::chrono::steady_clock::now();
  report.failure = Health();
  report.lookup_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  Session& s = *r.session;
  if (s.crm()->settings().use_sql) {
    const Text connection = GetText(env_, s.data_rd(), u"Connection");
    report.mode =
        "SQL, data source " + U8(GetText(env_, connection, u"ConnName", Variant(u"Database")));
  } else {
    report.mode = "file, address book " + U8(s.crm()->settings().db_path) + ", data source " +
                  U8(InstanceDataSource(s.instance_no()));
  }
  report.table = U8(s.crm()->table_name());
  if (!report.failure.empty()) return report;
  // The contacts the cache export reaches: the count its start gives, or
  // (SQL mode gives none) the records counted one by one.
  const Text start_reply = s.CacheStart();
  if (UpperCase(GetText(env_, start_reply, u"Result")) == u"FAIL") {
    report.failure =
        "the contact table cannot be read: " + U8(GetText(env_, start_reply, u"Reason"));
  } else {
    report.contacts =
        static_cast<long long>(GetVar(env_, start_reply, u"Records", Variant(-1.0)).ToDouble());
    if (report.contacts < 0) {
      long long n = 0;
      for (;;) {
        const Text reply = s.CacheRecord();
        const Text result = GetText(env_, reply, u"Result");
        if (result == u"Success") {
          ++n;
          continue;
        }
        if (result != u"Eof") report.failure = "the export stopped after " + std::to_string(n);
        break;
      }
      report.contacts = n;
    }
  }
  s.CacheEnd();
  return report;
}

}  // namespace pellory::cli::serve
