#include "lookup/columns.h"
#include "lookup/lookup.h"
#include "plugin/deadline.h"
#include "plugin/records.h"
#include "plugin/trap.h"

namespace pellory::lookup {
namespace {

constexpr char16_t kNoRecordset[] = u"No recordset: Client";
constexpr char16_t kTimeout[] = u"Timeout";
// The tag as a view measured when compiled: CacheRecord runs for every row.
constexpr TextView kTag = tags::kCache;

}  // namespace

void Lookup::EndExport() {
  export_rs_.reset();
  export_state_ = u"TERMINATE";
}

// CacheStart's part: opens the export's result set and replies its count.
Text Lookup::StartRecords() {
  auto step = [&](auto&& body) { return Trap(env_, tags::kCache, body); };
  const bool use_sql = crm_.settings().use_sql;
  Text reply;
  step([&] { export_rs_.reset(); });
  export_failure_.clear();
  ResultSetRef rs;
  // The Timeout setting bounds the opening statement; one that runs out
  // of it fails the export.
  Deadline deadline(session_);
  bool timed_out = false;
  step([&] {
    DatabaseRef db = crm_.database();
    if (!db) throw Failure(u"Object variable or With block variable not set", 91);
    try {
      if (use_sql) {
        rs = db->OpenResultSet(u"Select " + Text(kColumnList) + u" from " + crm_.table_name(),
                               false, deadline.Left());
      } else {
        // The contact table itself, as a table-name source opens it.
        rs = db->OpenResultSet(u"select * from " + crm_.table_name(), false, deadline.Left());
      }
    } catch (const Failure& f) {
      if (f.number() != kTimeoutExpired) throw;
      timed_out = true;
      throw Failure(TimeoutText(deadline.seconds()));
    }
    export_rs_ = rs;
  });
  if (rs && !use_sql) step([&] { rs->MoveFirst(); });
  step([&] { export_state_ = u"RUN1"; });
  if (!rs) {
    step([&] { AddVar(env_, reply, u"Result", Variant(u"Fail")); });
    step([&] { AddVar(env_, reply, u"Reason", Variant(timed_out ? kTimeout : kNoRecordset)); });
  } else if (use_sql) {
    step([&] { AddVar(env_, reply, u"Records", Variant(int32_t{-1})); });
  } else {
    step(
        [&] { AddVar(env_, reply, u"Records", Variant(static_cast<int32_t>(rs->RecordCount()))); });
  }
  return reply;
}

Text Lookup::CacheRecord() {
  Env& env = env_;
  auto step = [&](auto&& body) { return Trap(env, kTag, body); };
  Text reply;
  if (export_state_ == u"START") return StartRecords();
  if (export_state_ == u"TERMINATE") return reply;

  // A result set that failed on the way is reported once, as a failure;
  // the export then stands where it stands after its last record.
  if (!export_failure_.empty()) {
    step([&] { AddVar(env, reply, u"Result", Variant(u"Fail")); });
    step([&] { AddVar(env, reply, u"Reason", Variant(export_failure_)); });
    export_failure_.clear();
    step([&] { export_rs_.reset(); });
    step([&] { export_state_ = u"END"; });
    return reply;
  }

  ResultSetRef rs = export_rs_;
  if (!rs) {
    // No export open: after the last record the answer stays "Eof"; before
    // any CacheStart, or after one that failed, the host hears the failure
    // CacheStart gave.
    if (export_state_ == u"END") {
      step([&] { AddVar(env, reply, u"Result", Variant(u"Eof")); });
    } else {
      step([&] { AddVar(env, reply, u"Result", Variant(u"Fail")); });
      step([&] { AddVar(env, reply, u"Reason", Variant(kNoRecordset)); });
    }
    return reply;
  }

  auto database_step = [&](auto&& body) { return TrapKeeping(env, kTag, &export_failure_, body); };
  bool at_end = true;
  if (!database_step([&] { at_end = rs->Eof(); })) return CacheRecord();
  if (!at_end) {
    // The record is built in a buffer that keeps its room from row to row.
    thread_local Text contact;
    contact.clear();
    step([&] { AppendEntry(reply, u"Result", u"Success"); });
    const Columns* columns = nullptr;
    if (!database_step([&] {
          columns = &ColumnsFor(rs);
          columns->RequireAll();
        })) {
      return CacheRecord();
    }
    step([&] { BuildContact(env, *rs, *columns, contact); });
    database_step([&] { rs->MoveNext(); });
    step([&] {
      if (contact.empty()) return;
      reply.reserve(reply.size() + contact.size() + 20);
      AppendEntry(reply, u"Fields", contact);
    });
  } else {
    step([&] { AddVar(env, reply, u"Result", Variant(u"Eof")); });
    step([&] { export_rs_.reset(); });
    step([&] { export_state_ = u"END"; });
  }
  return reply;
}

}  // namespace pellory::lookup
