#include "lookup/columns.h"
#include "lookup/lookup.h"
#include "plugin/deadline.h"
#include "plugin/records.h"
#include "plugin/trap.h"

namespace pellory::lookup {
namespace {

constexpr char16_t kNoRecordset[] = u"No recordset: Client";
constexpr char16_t kTimeout[] = u"Timeout";

}  // namespace

// The export's states: "START" (inside CacheStart), "RUN1" while records are
// handed out, "END" after the last one, "TERMINATE" after CacheEnd, and the
// empty text before any export.
Text CacheRecordReal(Session& session) {
  Env& env = session.env();
  SessionState& st = session.state();
  auto step = [&](auto&& body) { return Trap(env, tags::kCache, body); };
  Text reply;

  if (st.cache_state == u"START") {
    step([&] { st.cache_rs.reset(); });
    st.cache_failure.clear();
    ResultSetRef rs;
    // The Timeout setting bounds the opening statement; one that runs out
    // of it fails the export.
    Deadline deadline(session);
    bool timed_out = false;
    step([&] {
      DatabaseRef db = st.database;
      if (!db) throw Failure(u"Object variable or With block variable not set", 91);
      try {
        if (st.use_sql) {
          rs = db->OpenResultSet(u"Select " + Text(kColumnList) + u" from " + st.table_name, false,
                                 deadline.Left());
        } else {
          // The contact table itself, as a table-name source opens it.
          rs = db->OpenResultSet(u"select * from " + st.table_name, false, deadline.Left());
        }
      } catch (const Failure& f) {
        if (f.number() != kTimeoutExpired) throw;
        timed_out = true;
        throw Failure(TimeoutText(deadline.seconds()));
      }
      st.cache_rs = rs;
    });
    if (rs && !st.use_sql) step([&] { rs->MoveFirst(); });
    step([&] { st.cache_state = u"RUN1"; });
    if (!rs) {
      step([&] { AddVar(env, reply, u"Result", Variant(u"Fail")); });
      step([&] { AddVar(env, reply, u"Reason", Variant(timed_out ? kTimeout : kNoRecordset)); });
    } else if (st.use_sql) {
      step([&] { AddVar(env, reply, u"Records", Variant(int32_t{-1})); });
    } else {
      step([&] {
        AddVar(env, reply, u"Records", Variant(static_cast<int32_t>(rs->RecordCount())));
      });
    }
    return reply;
  }

  if (st.cache_state == u"TERMINATE") return reply;

  // A result set that failed on the way is reported once, as a failure;
  // the export then stands where it stands after its last record.
  if (!st.cache_failure.empty()) {
    step([&] { AddVar(env, reply, u"Result", Variant(u"Fail")); });
    step([&] { AddVar(env, reply, u"Reason", Variant(st.cache_failure)); });
    st.cache_failure.clear();
    step([&] { st.cache_rs.reset(); });
    step([&] { st.cache_state = u"END"; });
    return reply;
  }

  ResultSetRef rs = st.cache_rs;
  if (!rs) {
    // No export open: after the last record the answer stays "Eof"; before
    // any CacheStart, or after one that failed, the host hears the failure
    // CacheStart gave.
    if (st.cache_state == u"END") {
      step([&] { AddVar(env, reply, u"Result", Variant(u"Eof")); });
    } else {
      step([&] { AddVar(env, reply, u"Result", Variant(u"Fail")); });
      step([&] { AddVar(env, reply, u"Reason", Variant(kNoRecordset)); });
    }
    return reply;
  }

  Text& failure = st.cache_failure;
  auto database_step = [&](auto&& body) { return TrapKeeping(env, tags::kCache, &failure, body); };
  bool at_end = true;
  if (!database_step([&] { at_end = rs->Eof(); })) return CacheRecordReal(session);
  if (!at_end) {
    // The record is built in a buffer that keeps its room from row to row.
    thread_local Text contact;
    contact.clear();
    step([&] { AppendEntry(reply, u"Result", u"Success"); });
    if (!database_step([&] { ColumnsFor(rs).RequireAll(); })) return CacheRecordReal(session);
    step([&] { BuildContact(env, *rs, ColumnsFor(rs), contact); });
    database_step([&] { rs->MoveNext(); });
    step([&] {
      if (contact.empty()) return;
      reply.reserve(reply.size() + contact.size() + 20);
      AppendEntry(reply, u"Fields", contact);
    });
  } else {
    step([&] { AddVar(env, reply, u"Result", Variant(u"Eof")); });
    step([&] { st.cache_rs.reset(); });
    step([&] { st.cache_state = u"END"; });
  }
  return reply;
}

}  // namespace pellory::lookup
