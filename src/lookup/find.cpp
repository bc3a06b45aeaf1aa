#include <chrono>
#include <cmath>
#include <thread>

#include "lookup/columns.h"
#include "lookup/lookup.h"
#include "plugin/deadline.h"
#include "plugin/records.h"
#include "plugin/text_functions.h"
#include "plugin/trap.h"

namespace pellory::lookup {
namespace {

constexpr char16_t kNotGiven[] = u"#";
constexpr Column kReverseColumns[4] = {kReversePhone1, kReversePhone2, kReversePhone3,
                                       kReversePhone4};
constexpr const char16_t* kReverseFragments[4] = {u"Reverse_Phone_1 = '", u"Reverse_Phone_2 = '",
                                                  u"Reverse_Phone_3 = '", u"Reverse_Phone_4 = '"};

// The request as the search reads it.
struct Request {
  int16_t max_find = 0;
  bool list = false;
  Text begin = kNotGiven;
  Text tel = kNotGiven;
  Text id = kNotGiven;
  Text text = kNotGiven;
  Text reversed = kNotGiven;

  static bool Given(const Text& value) { return value != kNotGiven; }
};

Text Selection(const Request& r, const bool (&search_phone)[4]) {
  if (Request::Given(r.id)) return u"Client_Id = '" + QuoteDoubled(r.id) + u"'";
  if (Request::Given(r.begin)) return u"Name  >= '" + QuoteDoubled(r.begin) + u"'";
  if (Request::Given(r.text)) {
    Text t = QuoteDoubled(r.text);
    for (char16_t& c : t) {
      if (c == u',') c = u'%';
    }
    return u"(ucase(Name) like '%" + t + u"%') or (ucase(Firm) like '%" + t + u"%')";
  }
  if (Request::Given(r.tel)) {
    Text selection;
    Text quoted = QuoteDoubled(r.reversed);
    for (int n = 0; n < 4; ++n) {
      if (!search_phone[n]) continue;
      selection += kReverseFragments[n];
      selection += quoted;
      selection += u"' or ";
    }
    if (selection.size() >= 4) {
      selection.resize(selection.size() - 4);
    } else {
      selection.clear();
    }
    return selection;
  }
  return Text();
}

// A list search's entry for the current row.
Text ListEntry(Env& env, ResultSet& rs, const Columns& c) {
  Text entry;
  auto step = [&](auto&& body) { Trap(env, tags::kFind, body); };
  auto set = [&](const char16_t* key, Column column) {
    step([&] {
      const Text& value = c.Read(rs, column);
      if (!value.empty()) AppendEntry(entry, key, value);
    });
  };
  bool company = false;
  step([&] { company = c.Read(rs, kNameType) == u"C"; });
  if (company) {
    set(u"Company", kName);
  } else {
    step([&] {
      Text name = Trim(c.Read(rs, kFirstName));
      name += u' ';
      name += c.Read(rs, kName);
      name = Trim(name);
      if (!name.empty()) AppendEntry(entry, u"Name", name);
    });
    set(u"Company", kFirm);
  }
  set(u"Id", kClientId);
  set(u"Phone 1", kPhone1);
  set(u"Phone 2", kPhone2);
  set(u"Phone 3", kPhone3);
  set(u"Other", kPhone4);
  return entry;
}

// Seconds since midnight as the search timer keeps them: single precision.
float TimerNow(Env& env) { return static_cast<float>(env.clock().SecondsSinceMidnight()); }

}  // namespace

Text QuoteDoubled(TextView value) {
  Text out;
  out.reserve(value.size());
  for (char16_t c : value) {
    out += c;
    if (c == u'\'') out += u'\'';
  }
  return out;
}

int16_t MaxFindValue(const Variant& value) {
  double d = value.ToDouble();
  if (std::isnan(d)) throw Failure(u"Type mismatch", 13);
  if (d > 32767) d = 32767;
  if (d < -32768) d = -32768;
  return Variant(d).ToInt16();
}

Text FindReal(Session& session, Text rd) {
  Env& env = session.env();
  SessionState& st = session.state();
  auto step = [&](auto&& body) { return Trap(env, tags::kFind, body); };
  // Steps that reach for the database: their failure makes the search a
  // failed one (the reply stays what was built; see search_failure).
  st.search_failure.clear();
  auto database_step = [&](auto&& body) {
    return TrapKeeping(env, tags::kFind, &st.search_failure, body);
  };
  // The Timeout setting bounds the whole search: the reconnect, the
  // statement and the scan. A search that runs out of it replies as one
  // that found nothing, for the reason "Timeout".
  Deadline deadline(session);
  bool timed_out = false;
  auto expired = [&] { return timed_out || (timed_out = deadline.Passed()); };

  // Reconnect when the handle the search needs is gone.
  step([&] {
    bool closed = st.use_sql ? !st.database : !st.contact_rs;
    if (closed && !st.load_failed) {
      Text empty;
      session.LoadReal(empty);
    }
  });

  Request r;
  float start = 0;
  step([&] { r.max_find = MaxFindValue(GetVar(env, rd, u"MaxFind", Variant(int16_t{50}))); });
  step([&] { r.list = UpperCase(GetText(env, rd, u"Cmd")) == u"FINDLIST"; });
  step([&] { r.begin = GetText(env, rd, u"Begin", Variant(kNotGiven)); });
  step([&] { r.tel = GetText(env, rd, u"Tel", Variant(kNotGiven)); });
  step([&] { r.id = GetText(env, rd, u"Id", Variant(kNotGiven)); });
  step([&] { r.text = GetText(env, rd, u"Text", Variant(kNotGiven)); });
  step([&] { r.reversed = Reverse(r.tel); });
  step([&] { start = TimerNow(env); });

  Text query;
  step([&] {
    Text selection = Selection(r, st.search_phone);
    if (st.use_sql) {
      query = u"select " + Text(kColumnList) + u" from " + st.table_name;
    } else if (!selection.empty()) {
      query = u"select * from " + st.table_name + u" where " + selection;
    }
  });

  // The scan reads through its own reference: a call that arrives while the
  // message loop runs may replace the session's contact recordset, and this
  // scan must go on over the result set it started with.
  ResultSetRef rs;
  DatabaseRef db;
  if (!query.empty()) {
    step([&] { st.contact_rs.reset(); });
    database_step([&] {
      if (expired()) return;
      db = st.database;
      if (!db) throw Failure(u"Object variable or With block variable not set", 91);
      try {
        rs = db->OpenResultSet(query, true, deadline.Left());
      } catch (const Failure& f) {
        // The connection still waits for an earlier statement that ran out
        // of time: the next search connects anew.
        if (f.number() == kTimeoutExpired) {
          timed_out = true;
          if (st.database == db) st.database.reset();
        }
        throw;
      }
      st.contact_rs = rs;
    });
  }

  Text reply;
  int16_t matches = 0;
  if (rs) {
    database_step([&] {
      // The statement runs on the driver's side while the message loop runs
      // here. Between polls the processor is given up, at first only for
      // whoever is waiting for it, later for a moment, so that a busy
      // machine still runs the statement instead of this loop.
      try {
        for (int polls = 0; rs->StillExecuting(); ++polls) {
          if (expired()) break;
          env.pump().DoEvents();
          if (polls < 100) {
            std::this_thread::yield();
          } else {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
          }
        }
      } catch (const Failure& f) {
        // The driver gave up at the statement's query timeout.
        if (f.number() != kTimeoutExpired) throw;
        timed_out = true;
      }
    });
  }
  if (rs && timed_out) {
    bool stopped = true;
    step([&] { stopped = rs->Cancel(); });
    // A statement the driver would not let go of keeps its connection busy
    // until it ends: the next search connects anew instead of waiting.
    if (!stopped) {
      step([&] {
        if (st.contact_rs == rs) st.contact_rs.reset();
        if (st.database == db) st.database.reset();
      });
    }
  }
  if (rs && !timed_out) {
    Columns c;
    database_step([&] {
      c = Columns::Of(*rs);
      c.RequireAll();
    });
    auto at_end = [&] {
      bool end = true;
      database_step([&] { end = rs->Eof(); });
      return end;
    };

    if (Request::Given(r.id)) {
      // File mode selects the identifier in the statement. SQL mode reads
      // the whole table, so the row is picked here by its identifier.
      bool found = false;
      if (st.use_sql) {
        while (!expired() && !at_end()) {
          database_step([&] { found = c.Read(*rs, kClientId) == r.id; });
          if (found) break;
          if (!database_step([&] { rs->MoveNext(); })) break;
          env.pump().DoEvents();
        }
      } else {
        found = !at_end();
      }
      if (timed_out) {
        // Replies below as a search that found nothing.
      } else if (found) {
        step([&] { reply = BuildContact(env, *rs, c); });
        step([&] { AddVar(env, reply, u"Result", Variant(u"Success")); });
      } else {
        step([&] { AddVar(env, reply, u"Result", Variant(u"Fail")); });
      }
      if (!timed_out) return reply;
    }

    const bool text_given = Request::Given(r.text);
    const bool begin_given = Request::Given(r.begin);
    Text phones, words;
    phones.reserve(64);
    words.reserve(128);
    while (!expired() && !at_end()) {
      database_step([&] {
        phones.assign(1, u',');
        for (int n = 0; n < 4; ++n) {
          if (!st.search_phone[n]) continue;
          AppendDigitsOnly(phones, c.Read(*rs, kReverseColumns[n]));
          phones += u',';
        }
      });
      database_step([&] {
        words.assign(1, u',');
        if (text_given) {
          AppendWordsOnly(words, c.Read(*rs, kName));
          words += u',';
          AppendWordsOnly(words, c.Read(*rs, kFirm));
          words += u',';
        }
        if (begin_given) {
          const Text& name = c.Read(*rs, kName);
          words.clear();
          if (!name.empty()) words += UpperChar(name[0]);
        }
      });
      bool match = false;
      step([&] {
        match =
            phones.find(r.reversed) != Text::npos || WordsMatch(words, r.text) || r.begin == words;
      });
      if (match) {
        ++matches;
        bool stop = false;
        if (r.list) {
          step([&] {
            Text entry = ListEntry(env, *rs, c);
            if (!entry.empty()) AppendEntry(reply, u"List" + IntegerText(matches), entry);
          });
          stop = matches >= r.max_find;
        } else if (matches > 1) {
          stop = true;
        } else {
          step([&] { reply = BuildContact(env, *rs, c); });
          step([&] { AddVar(env, reply, u"Tel", GetVar(env, rd, u"Tel")); });
          step([&] { AddVar(env, reply, u"NiceTel", GetVar(env, rd, u"NiceTel")); });
        }
        if (stop) break;
      }
      // A row the result set cannot move past would be read forever.
      if (!database_step([&] { rs->MoveNext(); })) break;
      env.pump().DoEvents();
    }
  }

  if (timed_out) {
    LogError(env, TimeoutText(deadline.seconds()) + tags::kFind);
    reply.clear();
    matches = 0;
  }
  step([&] {
    if (!r.list) return;
    AddVar(env, reply, u"HasName", Variant(int16_t{1}));
    AddVar(env, reply, u"HasCompany", Variant(int16_t{1}));
  });
  float speed = 0;
  step([&] {
    float end = TimerNow(env);
    speed = std::floor((end - start) * 1000.0f) / 1000.0f;
  });
  if (matches == 0) {
    step([&] { AddVar(env, reply, u"Tel", GetVar(env, rd, u"Tel")); });
    step([&] { AddVar(env, reply, u"NiceTel", GetVar(env, rd, u"NiceTel")); });
    step([&] { AddVar(env, reply, u"Speed", Variant(speed)); });
    step([&] { AddVar(env, reply, u"Result", Variant(u"Fail")); });
    step([&] { AddVar(env, reply, u"Reason", Variant(timed_out ? u"Timeout" : u"NoFind")); });
  } else {
    step([&] {
      if (r.list) AddVar(env, reply, u"ListCount", Variant(matches));
    });
    step([&] { AddVar(env, reply, u"Speed", Variant(speed)); });
    step([&] { AddVar(env, reply, u"Matches", Variant(matches)); });
    step([&] { AddVar(env, reply, u"Result", Variant(u"Success")); });
  }
  return reply;
}

}  // namespace pellory::lookup
