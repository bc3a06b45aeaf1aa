#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>
#include <thread>
#include <vector>

#include "lookup/columns.h"
#include "lookup/lookup.h"
#include "plugin/deadline.h"
#include "plugin/records.h"
#include "plugin/text_functions.h"
#include "plugin/trace_log.h"
#include "plugin/trap.h"

namespace pellory::lookup {
namespace {

constexpr char16_t kNotGiven[] = u"#";
constexpr Column kReverseColumns[4] = {kReversePhone1, kReversePhone2, kReversePhone3,
                                       kReversePhone4};
constexpr Column kPhoneColumns[4] = {kPhone1, kPhone2, kPhone3, kPhone4};
constexpr Column kExtensionColumns[4] = {kPhone1Ext, kPhone2Ext, kPhone3Ext, kPhone4Ext};
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
  // A search by number alone: the other criteria come first.
  bool ByNumber() const { return Given(tel) && !Given(id) && !Given(begin) && !Given(text); }
};

// In SQL mode a dialled number of fewer digits than this matches only a
// stored number of the same digits; longer ones match inside a stored
// number (a number dialled without its country code, say).
constexpr size_t kInsideDigits = 7;

size_t DigitCount(TextView text) {
  return static_cast<size_t>(
      std::count_if(text.begin(), text.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; }));
}

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

// The rows whose Name or Firm can hold the words of `text` (as the scan
// finds them: each word the start of a word of either, in any order), as a
// where clause; nullopt when every row can (no word), "" when none can (a
// word the scan's words never hold: anything but A-Z and 0-9). A word is
// looked for anywhere in the upper-cased column, which every match has.
// `like_ignores_case`: the server's like already ignores the case of ASCII
// letters (SQLite, whose ODBC driver has no UCASE to pass {fn UCASE()} to);
// elsewhere the column is upper-cased with {fn UCASE()}.
std::optional<Text> WordsSelection(TextView text, bool like_ignores_case) {
  const Text name = like_ignores_case ? u"Name" : u"{fn UCASE(Name)}";
  const Text firm = like_ignores_case ? u"Firm" : u"{fn UCASE(Firm)}";
  Text clause;
  while (true) {
    const size_t comma = text.find(u',');
    const TextView word = text.substr(0, comma);
    if (!std::all_of(word.begin(), word.end(), [](char16_t c) {
          return (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
        })) {
      return Text();
    }
    if (!word.empty()) {
      const Text like = u" like '%" + Text(word) + u"%'";
      if (!clause.empty()) clause += u" and ";
      clause += u"(" + name + like + u" or " + firm + like + u")";
    }
    if (comma == TextView::npos) break;
    text.remove_prefix(comma + 1);
  }
  if (clause.empty()) return std::nullopt;
  return clause;
}

// The where clause a SQL server filters by ("SqlFilter" = "Server"): the
// rows any given criterion can match, in portable ODBC SQL. The scan still
// tests every row it gets back, so the clause may take more rows than match
// (never fewer, wherever the reversed columns hold digits alone and the
// server upper-cases the letters the plug-in does). Empty when the search is
// left to the full read: no criterion, a number without digits, or words
// every row can hold. So does an identifier or a letter that holds a
// backslash or U+0000: MariaDB and MySQL (unless their sql_mode says
// NO_BACKSLASH_ESCAPES) read a backslash in a literal as an escape, so that
// a doubled quote after it would end the literal and what follows would be
// read as SQL; and the SQLite and PostgreSQL drivers end the statement at
// U+0000, inside its literal. And so does a number that holds anything but
// digits, "*" and "#" (only FindReal passes one): the scan looks for it in
// the row's phones joined by commas, which no clause on one column can
// follow, and a column of ASCII text refuses to be compared with other
// characters.
Text ServerSelection(const Request& r, const bool (&search_phone)[4], bool like_ignores_case) {
  for (const Text* value : {&r.id, &r.begin}) {
    if (Request::Given(*value) && value->find_first_of(TextView(u"\\\0", 2)) != Text::npos) {
      return Text();
    }
  }
  if (Request::Given(r.tel) && r.reversed.find_first_not_of(u"0123456789*#") != Text::npos) {
    return Text();
  }
  if (Request::Given(r.id)) return u"Client_Id = '" + QuoteDoubled(r.id) + u"'";
  std::vector<Text> parts;
  if (Request::Given(r.text)) {
    std::optional<Text> words = WordsSelection(r.text, like_ignores_case);
    if (!words) return Text();
    if (!words->empty()) parts.push_back(std::move(*words));
  }
  if (Request::Given(r.begin)) parts.push_back(u"Name >= '" + QuoteDoubled(r.begin) + u"'");
  if (Request::Given(r.tel)) {
    if (r.reversed.empty()) return Text();
    const Text quoted = QuoteDoubled(r.reversed);
    const bool whole = DigitCount(r.tel) < kInsideDigits;
    Text selection;
    for (int n = 0; n < 4; ++n) {
      if (!search_phone[n]) continue;
      if (!selection.empty()) selection += u" or ";
      selection += u"Reverse_Phone_" + IntegerText(n + 1);
      selection += whole ? u" = '" + quoted + u"'" : u" like '%" + quoted + u"%'";
    }
    if (selection.empty()) return Text();
    parts.push_back(std::move(selection));
  }
  if (parts.empty()) {
    // Words no row holds, and nothing else: a clause that selects nothing
    // would do, but the full read answers the same.
    return Text();
  }
  if (parts.size() == 1) return parts[0];
  Text joined;
  for (const Text& part : parts) {
    if (!joined.empty()) joined += u" or ";
    joined += u"(" + part + u")";
  }
  return joined;
}

// Whether the server's like ignores the case of ASCII letters by itself.
bool LikeIgnoresCase(const DatabaseRef& db) {
  return db && FindNoCase(db->ProductName(), u"SQLite") == 0;
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
//
// With NumberMatch "Any" a number search that finds no stored number of
// the same digits takes a second step (any_format.h): in file mode a
// statement of its own fetches the candidates; in SQL mode, whose scan
// reads every row anyway, the candidates are weighed as the scan passes
// them, and count only when the scan ends without a match of its own. With
// "SqlFilter" = "Server" SQL mode sends a selection too, and takes the
// second step as file mode does. The
// best tier wins, and within it the first row: a contact search replies
// with that contact, a list search with the contacts of that tier.
class Search {
 public:
  Search(Session& session, CrmConnection& crm, Text& failure, Text rd, const NumberMatch& match,
         bool server_filter, SearchObserver* observer)
      : env_(session.env()),
        crm_(crm),
        failure_(failure),
        rd_(std::move(rd)),
        number_match_(match),
        server_filter_(server_filter && crm.settings().use_sql),
        observer_(observer),
        deadline_(session) {
    failure_.clear();
  }

  Text Run() {
    // Reconnect when the handle the search needs is gone.
    Step([&] { crm_.EnsureOpen(); });
    ReadRequest();
    if (Execute(Statement())) {
      const Columns c = ResultColumns();
      if (Request::Given(r_.id)) {
        IdentifierScan(c);
        if (!timed_out_) return reply_;
      } else {
        Scan(c);
      }
    }
    Report([&] { observer_->StepDone(u"exact", Now() - step_start_ - weigh_seconds_); });
    if (any_format_) SecondStep();
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
  // Tells the observer of a number search, if there is one.
  template <typename Body>
  void Report(Body&& body) {
    if (observer_ && number_search_) Step(body);
  }
  double Now() { return observer_ ? env_.clock().MonotonicSeconds() : 0; }
  // The Timeout setting bounds the whole search: the reconnect, the
  // statements and the scans. A search that runs out of it replies as one
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
    Step([&] {
      const bool sql = crm_.settings().use_sql;
      number_search_ = r.ByNumber();
      needle_ = r.reversed;
      if (sql && Request::Given(r.tel) && DigitCount(r.tel) < kInsideDigits) {
        needle_ = u"," + r.reversed + u",";
      }
      any_format_ = number_search_ && number_match_.any_format;
      if (!any_format_) return;
      dialled_ = ReadDialled(GetText(env_, rd_, kDialledTel, Variant(r.tel)), number_match_.home);
      if (!dialled_.key.empty()) candidate_mark_ = u"," + dialled_.key;
      // SQL mode weighs the candidates during the scan of the first step,
      // unless the server picks the rows: then, as in file mode, a
      // statement of its own fetches them.
      weigh_in_scan_ = sql && !server_filter_;
    });
    step_start_ = Now();
    Step([&] { start_ = TimerNow(env_); });
  }

  Text Statement() {
    Text query;
    Step([&] {
      Text selection = Selection(r_, crm_.settings().search_phone);
      if (crm_.settings().use_sql) {
        query = u"select " + Text(kColumnList) + u" from " + crm_.table_name();
        if (server_filter_) {
          const Text where =
              ServerSelection(r_, crm_.settings().search_phone, LikeIgnoresCase(crm_.database()));
          if (!where.empty()) query += u" where " + where;
        }
      } else if (!selection.empty()) {
        query = u"select * from " + crm_.table_name() + u" where " + selection;
      }
    });
    return query;
  }

  // Sends `query` and waits for it: true when a result set is there to
  // read, false when there is none (no query, a failure) or the time ran
  // out (the statement is then cancelled).
  bool Execute(const Text& query) {
    if (query.empty()) return false;
    Open(query);
    if (rs_) Wait();
    if (rs_ && timed_out_) Stop();
    return rs_ && !timed_out_;
  }

  // The scan reads through its own reference: a call that arrives while the
  // message loop runs may replace the connection's contact recordset, and
  // this scan must go on over the result set it started with.
  void Open(const Text& query) {
    Step([&] { crm_.CloseContacts(); });
    rs_.reset();
    DatabaseStep([&] {
      if (Expired()) return;
      db_ = crm_.database();
      Report([&] { observer_->Statement(query); });
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
          if (polls < 2000) {
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

  Columns ResultColumns() {
    Columns c;
    DatabaseStep([&] {
      c = Columns::Of(*rs_);
      c.RequireAll();
    });
    return c;
  }

  // File mode selects the identifier in the statement. SQL mode reads the
  // whole table (or, with the server filtering, that row), so the row is
  // picked here by its identifier. Without a
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

  // The row's phone list: ",", then the digits of each enabled reversed
  // column followed by ",".
  void PhoneList(const Columns& c, Text& phones) {
    DatabaseStep([&] {
      phones.assign(1, u',');
      for (int n = 0; n < 4; ++n) {
        if (!crm_.settings().search_phone[n]) continue;
        AppendDigitsOnly(phones, c.Read(*rs_, kReverseColumns[n]));
        phones += u',';
      }
    });
  }

  void Scan(const Columns& c) {
    const bool text_given = Request::Given(r_.text);
    const bool begin_given = Request::Given(r_.begin);
    const bool weigh = weigh_in_scan_ && !candidate_mark_.empty();
    Text phones, words;
    phones.reserve(64);
    words.reserve(128);
    while (!Expired() && !AtEnd()) {
      PhoneList(c, phones);
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
        match =
            phones.find(needle_) != Text::npos || WordsMatch(words, r_.text) || r_.begin == words;
      });
      if (match) {
        if (Matched(c)) break;
      } else if (weigh && matches_ == 0 && phones.find(candidate_mark_) != Text::npos) {
        Weigh(c);
      }
      // A row the result set cannot move past would be read forever.
      if (!DatabaseStep([&] { rs_->MoveNext(); })) break;
      env_.pump().DoEvents();
    }
  }

  // Takes the current row as one more match; true when the scan stops here.
  bool Matched(const Columns& c) {
    ++matches_;
    Report([&] { ReportExact(c); });
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

  // The observer learns which stored number the first step matched.
  void ReportExact(const Columns& c) {
    for (int n = 0; n < 4; ++n) {
      if (!crm_.settings().search_phone[n]) continue;
      const Text digits = u"," + DigitsOnly(c.Read(*rs_, kReverseColumns[n])) + u",";
      if (digits.find(needle_) == Text::npos) continue;
      observer_->Candidate(c.Read(*rs_, kClientId), c.Read(*rs_, kPhoneColumns[n]), u"Exact");
      return;
    }
  }

  // The second step, after a first step that found nothing and neither
  // failed nor ran out of time. A failure or a timeout on its way replies
  // as one of the first step would.
  void SecondStep() {
    if (matches_ > 0 || timed_out_ || !failure_.empty()) return;
    const double started = Now();
    Report([&] {
      if (dialled_.key.empty()) {
        observer_->NotInterpreted(dialled_.why);
      } else {
        observer_->Interpreted(dialled_.e164);
      }
    });
    if (dialled_.key.empty()) return;
    if (weigh_in_scan_) {
      // SQL mode: what the scan weighed, told as if it came now.
      Report([&] {
        for (const auto& [id, number, tier] : weighed_) observer_->Candidate(id, number, tier);
      });
    } else {
      Text query;
      Step([&] {
        const Text columns = crm_.settings().use_sql ? Text(kColumnList) : Text(u"*");
        query =
            u"select " + columns + u" from " + crm_.table_name() + u" where " +
            CandidateSelection(dialled_.key, crm_.settings().search_phone, crm_.settings().use_sql);
      });
      if (Execute(query)) CandidateScan(ResultColumns());
    }
    if (!timed_out_ && failure_.empty() && best_tier_ != MatchTier::kNone) {
      reply_ = std::move(best_reply_);
      matches_ = static_cast<int16_t>(std::min(best_count_, BestLimit()));
      match_ = TierName(best_tier_);
    }
    Report([&] {
      observer_->StepDone(u"any format", weigh_in_scan_ ? weigh_seconds_ : Now() - started);
    });
  }

  // File mode: the rows of the candidates' statement. A row comes back
  // when one of its enabled reversed columns begins with the key.
  void CandidateScan(const Columns& c) {
    Text phones;
    while (!Expired() && !AtEnd()) {
      PhoneList(c, phones);
      if (phones.find(candidate_mark_) != Text::npos && Weigh(c)) break;
      if (!DatabaseStep([&] { rs_->MoveNext(); })) break;
      env_.pump().DoEvents();
    }
  }

  // The most rows of the best tier the reply takes: two for a contact
  // search (the second only counts), "MaxFind" for a list, at least one.
  int BestLimit() const { return r_.list ? std::max<int>(r_.max_find, 1) : 2; }

  // Weighs the current row as a candidate: each enabled telephone field
  // read in the contact's country and compared with the dialled number;
  // the row's tier is its best field's. True when no later row can change
  // the reply.
  bool Weigh(const Columns& c) {
    const double started = Now();
    MatchTier tier = MatchTier::kNone;
    Text number;
    DatabaseStep([&] {
      const RegionInfo* region = ContactRegion(c.Read(*rs_, kCountry), number_match_.home);
      for (int n = 0; n < 4; ++n) {
        if (!crm_.settings().search_phone[n]) continue;
        const Text& phone = c.Read(*rs_, kPhoneColumns[n]);
        const auto stored = ReadStored(phone, c.Read(*rs_, kExtensionColumns[n]), region);
        if (!stored) continue;
        const MatchTier t = Compare(*dialled_.number, *stored);
        if (number.empty() || t > tier) {
          tier = t;
          number = phone;
        }
      }
    });
    if (observer_) {
      Step([&] {
        Text id = c.Read(*rs_, kClientId);
        if (weigh_in_scan_) {
          weighed_.push_back({std::move(id), number, TierName(tier)});
        } else {
          Report([&] { observer_->Candidate(id, number, TierName(tier)); });
        }
      });
    }
    bool done = false;
    if (tier != MatchTier::kNone && tier >= best_tier_) done = Keep(c, tier);
    weigh_seconds_ += Now() - started;
    return done;
  }

  // Takes the current row at `tier`, the best seen so far.
  bool Keep(const Columns& c, MatchTier tier) {
    if (tier > best_tier_) {
      best_tier_ = tier;
      best_count_ = 0;
      best_reply_.clear();
    }
    ++best_count_;
    const bool full = best_tier_ == MatchTier::kSame && best_count_ >= BestLimit();
    if (r_.list) {
      if (best_count_ > BestLimit()) return full;
      Step([&] {
        Text entry = ListEntry(env_, *rs_, c);
        if (!entry.empty()) AppendEntry(best_reply_, u"List" + IntegerText(best_count_), entry);
      });
    } else if (best_count_ == 1) {
      Step([&] { best_reply_ = BuildContact(env_, *rs_, c); });
      Step([&] { AddVar(env_, best_reply_, u"Tel", GetVar(env_, rd_, u"Tel")); });
      Step([&] { AddVar(env_, best_reply_, u"NiceTel", GetVar(env_, rd_, u"NiceTel")); });
    }
    return full;
  }

  Text Reply() {
    Text& reply = reply_;
    if (timed_out_) {
      LogError(env_, TimeoutText(deadline_.seconds()) + tags::kFind);
      reply.clear();
      matches_ = 0;
    }
    // With NumberMatch "Any", how the contact was found.
    if (any_format_ && matches_ > 0 && match_.empty()) match_ = u"Exact";
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
      Step([&] {
        if (!match_.empty()) AddVar(env_, reply, u"Match", Variant(match_));
      });
      Step([&] { AddVar(env_, reply, u"Speed", Variant(speed)); });
      Step([&] { AddVar(env_, reply, u"Matches", Variant(matches_)); });
      Step([&] { AddVar(env_, reply, u"Result", Variant(u"Success")); });
    }
    return reply;
  }

  struct Weighed {
    Text id, number, tier;
  };

  Env& env_;
  CrmConnection& crm_;
  Text& failure_;
  const Text rd_;
  const NumberMatch& number_match_;
  // SQL mode with the server picking the rows.
  const bool server_filter_;
  SearchObserver* const observer_;
  Deadline deadline_;
  bool timed_out_ = false;
  Request r_;
  bool number_search_ = false;
  // What the match test looks for in a row's phone list.
  Text needle_;
  float start_ = 0;
  DatabaseRef db_;
  ResultSetRef rs_;
  Text reply_;
  int16_t matches_ = 0;
  Text match_;  // the reply's "Match"; empty: none

  // The second step: the dialled number, "," and its candidate key (what a
  // candidate's phone list holds), and the best tier seen, the rows of it
  // and the reply they make.
  bool any_format_ = false;
  bool weigh_in_scan_ = false;
  Dialled dialled_;
  Text candidate_mark_;
  MatchTier best_tier_ = MatchTier::kNone;
  int best_count_ = 0;
  Text best_reply_;

  // For the observer: when the first step began, the time spent weighing
  // candidates, and the candidates weighed during the first step's scan.
  double step_start_ = 0;
  double weigh_seconds_ = 0;
  std::vector<Weighed> weighed_;
};

}  // namespace

void Lookup::Initialize() {
  number_match_ = ReadNumberMatch(env_, session_.data_rd(), tags::kInitialize);
  server_filter_ = ReadServerFilter(env_, session_.data_rd(), tags::kInitialize);
}

bool ReadServerFilter(Env& env, TextView data_rd, TextView tag) {
  bool server = false;
  Trap(env, tag, [&] {
    const Text value = GetText(env, data_rd, u"SqlFilter");
    const Text mode = UpperCase(Trim(value));
    if (mode == u"SERVER") {
      server = true;
    } else if (!mode.empty() && mode != u"CLIENT") {
      LogError(env, u"SqlFilter " + value + u" is neither Client nor Server: Client is used" +
                        Text(tag));
    }
  });
  return server;
}

Text Lookup::Find(Text rd) {
  return Search(session_, crm_, search_failure_, std::move(rd), number_match_, server_filter_,
                observer_)
      .Run();
}

}  // namespace pellory::lookup
