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

namespace {

// One FindReal: the request, the statement, the scan and the reply. Each
// step is trapped on its own; steps that reach for the database also keep
// their failure as the search's failure (the reply stays what was built).
class Search {
 public:
  Search(Session& session, CrmConnection& crm, Text& failure, Text rd)
      : env_(session.env()), crm_(crm), failure_(failure), rd_(std::move(rd)), deadline_(session) {
    failure_.clear();
  }

  Text Run() {
    // Reconnect when the handle the search needs is gone.
    Step([&] { crm_.EnsureOpen(); });
    ReadRequest();
    const Text query = Statement();
    if (!query.empty()) Open(query);
    if (rs_) Wait();
    if (rs_ && timed_out_) Stop();
    if (rs_ && !timed_out_) {
      Columns c;
      DatabaseStep([&] {
        c = Columns::Of(*rs_);
        c.RequireAll();
      });
      if (Request::Given(r_.id)) {
        IdentifierScan(c);
        if (!timed_out_) return reply_;
      } else {
        Scan(c);
      }
    }
    return Reply();
  }

 private:
  template <typename Body>
  bool Step(Body&& body) {
    return Trap(env_, tags::kFind, body);
  }
  template <typename Body>
  bool DatabaseStep(Body&& body) {
    return TrapKeeping(env_, tags::kFind, &failure_, body);
  }
  // The Timeout setting bounds the whole search: the reconnect, the
  // statement and the scan. A search that runs out of it replies as one
  // that found nothing, for the reason "Timeout".
  bool Expired() { return timed_out_ || (timed_out_ = deadline_.Passed()); }
  bool AtEnd() {
    bool end = true;
    DatabaseStep([&] { end = rs_->Eof(); });
    return end;
  }

  void ReadRequest() {
    Request& r = r_;
    Step([&] { r.max_find = MaxFindValue(GetVar(env_, rd_, u"MaxFind", Variant(int16_t{50}))); });
    Step([&] { r.list = UpperCase(GetText(env_, rd_, u"Cmd")) == u"FINDLIST"; });
    Step([&] { r.begin = GetText(env_, rd_, u"Begin", Variant(kNotGiven)); });
    Step([&] { r.tel = GetText(env_, rd_, u"Tel", Variant(kNotGiven)); });
    Step([&] { r.id = GetText(env_, rd_, u"Id", Variant(kNotGiven)); });
    Step([&] { r.text = GetText(env_, rd_, u"Text", Variant(kNotGiven)); });
    Step([&] { r.reversed = Reverse(r.tel); });
    Step([&] { start_ = TimerNow(env_); });
  }

  Text Statement() {
    Text query;
    Step([&] {
      Text selection = Selection(r_, crm_.settings().search_phone);
      if (crm_.settings().use_sql) {
        query = u"select " + Text(kColumnList) + u" from " + crm_.table_name();
      } else if (!selection.empty()) {
        query = u"select * from " + crm_.table_name() + u" where " + selection;
      }
    });
    return query;
  }

  // The scan reads through its own reference: a call that arrives while the
  // message loop runs may replace the connection's contact recordset, and
  // this scan must go on over the result set it started with.
  void Open(const Text& query) {
    Step([&] { crm_.CloseContacts(); });
    DatabaseStep([&] {
      if (Expired()) return;
      db_ = crm_.database();
      try {
        rs_ = crm_.OpenContacts(query, deadline_.Left());
      } catch (const Failure& f) {
        if (f.number() == kTimeoutExpired) timed_out_ = true;
        throw;
      }
    });
  }

  // The statement runs on the driver's side while the message loop runs
  // here. Between polls the processor is given up, at first only for
  // whoever is waiting for it, later for a moment, so that a busy machine
  // still runs the statement instead of this loop.
  void Wait() {
    DatabaseStep([&] {
      try {
        for (int polls = 0; rs_->StillExecuting(); ++polls) {
          if (Expired()) break;
          env_.pump().DoEvents();
          if (polls < 100) {
            std::this_thread::yield();
          } else {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
          }
        }
      } catch (const Failure& f) {
        // The driver gave up at the statement's query timeout.
        if (f.number() != kTimeoutExpired) throw;
        timed_out_ = true;
      }
    });
  }

  // A statement that ran out of time is cancelled; one the driver would not
  // let go of keeps its connection busy until it ends, so the next search
  // connects anew instead of waiting.
  void Stop() {
    bool stopped = true;
    Step([&] { stopped = rs_->Cancel(); });
    if (!stopped) Step([&] { crm_.Abandon(db_, rs_); });
  }

  // File mode selects the identifier in the statement. SQL mode reads the
  // whole table, so the row is picked here by its identifier. Without a
  // timeout the reply is the contact record alone, or a bare failure.
  void IdentifierScan(const Columns& c) {
    bool found = false;
    if (crm_.settings().use_sql) {
      while (!Expired() && !AtEnd()) {
        DatabaseStep([&] { found = c.Read(*rs_, kClientId) == r_.id; });
        if (found) break;
        if (!DatabaseStep([&] { rs_->MoveNext(); })) break;
        env_.pump().DoEvents();
      }
    } else {
      found = !AtEnd();
    }
    if (timed_out_) {
      // Replies as a search that found nothing.
    } else if (found) {
      Step([&] { reply_ = BuildContact(env_, *rs_, c); });
      Step([&] { AddVar(env_, reply_, u"Result", Variant(u"Success")); });
    } else {
      Step([&] { AddVar(env_, reply_, u"Result", Variant(u"Fail")); });
    }
  }

  void Scan(const Columns& c) {
    const bool text_given = Request::Given(r_.text);
    const bool begin_given = Request::Given(r_.begin);
    const CrmSettings& settings = crm_.settings();
    Text phones, words;
    phones.reserve(64);
    words.reserve(128);
    while (!Expired() && !AtEnd()) {
      DatabaseStep([&] {
        phones.assign(1, u',');
        for (int n = 0; n < 4; ++n) {
          if (!settings.search_phone[n]) continue;
          AppendDigitsOnly(phones, c.Read(*rs_, kReverseColumns[n]));
          phones += u',';
        }
      });
      DatabaseStep([&] {
        words.assign(1, u',');
        if (text_given) {
          AppendWordsOnly(words, c.Read(*rs_, kName));
          words += u',';
          AppendWordsOnly(words, c.Read(*rs_, kFirm));
          words += u',';
        }
        if (begin_given) {
          const Text& name = c.Read(*rs_, kName);
          words.clear();
          if (!name.empty()) words += UpperChar(name[0]);
        }
      });
      bool match = false;
      Step([&] {
        match = phones.find(r_.reversed) != Text::npos || WordsMatch(words, r_.text) ||
                r_.begin == words;
      });
      if (match && Matched(c)) break;
      // A row the result set cannot move past would be read forever.
      if (!DatabaseStep([&] { rs_->MoveNext(); })) break;
      env_.pump().DoEvents();
    }
  }

  // Takes the current row as one more match; true when the scan stops here.
  bool Matched(const Columns& c) {
    ++matches_;
    if (r_.list) {
      Step([&] {
        Text entry = ListEntry(env_, *rs_, c);
        if (!entry.empty()) AppendEntry(reply_, u"List" + IntegerText(matches_), entry);
      });
      return matches_ >= r_.max_find;
    }
    if (matches_ > 1) return true;
    Step([&] { reply_ = BuildContact(env_, *rs_, c); });
    Step([&] { AddVar(env_, reply_, u"Tel", GetVar(env_, rd_, u"Tel")); });
    Step([&] { AddVar(env_, reply_, u"NiceTel", GetVar(env_, rd_, u"NiceTel")); });
    return false;
  }

  Text Reply() {
    Text& reply = reply_;
    if (timed_out_) {
      LogError(env_, TimeoutText(deadline_.seconds()) + tags::kFind);
      reply.clear();
      matches_ = 0;
    }
    Step([&] {
      if (!r_.list) return;
      AddVar(env_, reply, u"HasName", Variant(int16_t{1}));
      AddVar(env_, reply, u"HasCompany", Variant(int16_t{1}));
    });
    float speed = 0;
    Step([&] {
      float end = TimerNow(env_);
      speed = std::floor((end - start_) * 1000.0f) / 1000.0f;
    });
    if (matches_ == 0) {
      Step([&] { AddVar(env_, reply, u"Tel", GetVar(env_, rd_, u"Tel")); });
      Step([&] { AddVar(env_, reply, u"NiceTel", GetVar(env_, rd_, u"NiceTel")); });
      Step([&] { AddVar(env_, reply, u"Speed", Variant(speed)); });
      Step([&] { AddVar(env_, reply, u"Result", Variant(u"Fail")); });
      Step([&] { AddVar(env_, reply, u"Reason", Variant(timed_out_ ? u"Timeout" : u"NoFind")); });
    } else {
      Step([&] {
        if (r_.list) AddVar(env_, reply, u"ListCount", Variant(matches_));
      });
      Step([&] { AddVar(env_, reply, u"Speed", Variant(speed)); });
      Step([&] { AddVar(env_, reply, u"Matches", Variant(matches_)); });
      Step([&] { AddVar(env_, reply, u"Result", Variant(u"Success")); });
    }
    return reply;
  }

  Env& env_;
  CrmConnection& crm_;
  Text& failure_;
  const Text rd_;
  Deadline deadline_;
  bool timed_out_ = false;
  Request r_;
  float start_ = 0;
  DatabaseRef db_;
  ResultSetRef rs_;
  Text reply_;
  int16_t matches_ = 0;
};

}  // namespace

Text Lookup::Find(Text rd) { return Search(session_, crm_, search_failure_, std::move(rd)).Run(); }

}  // namespace pellory::lookup
