// Number searches with NumberMatch "Any" over real drivers: file mode
// through the stand-in Maximizer ODBC driver, SQL mode through the SQLite
// ODBC driver, PostgreSQL and MariaDB. One address book holds numbers written the
// ways people of several countries write them; callers dial them in E.164,
// national, international-prefix and digits-only forms. Which contact each
// caller should reach, and at which tier, is worked out here with
// libphonenumber: the exact step as the stored digits say, then, for the
// candidates (a stored number whose digits end with the caller's last 7
// national digits), IsNumberMatch of the caller read at home against each
// stored number read in its contact's country.
#include <gtest/gtest.h>
#include <phonenumbers/phonenumberutil.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "addressbook.h"
#include "assembly.h"
#include "crmdb/crmdb.h"
#include "lookup/lookup.h"
#include "platform/odbc/background_call.h"
#include "platform/odbc/fault_injection.h"
#include "platform/odbc/odbc_engines.h"
#include "plugin/records.h"
#include "support/crmdb_odbc.h"
#include "support/fake_env.h"
#include "support/odbc_sandbox.h"
#include "support/server_database.h"

namespace pellory::testing {
namespace {

using i18n::phonenumbers::PhoneNumberUtil;
using LibNumber = i18n::phonenumbers::PhoneNumber;
using lookup::MatchTier;

const PhoneNumberUtil& Util() { return *PhoneNumberUtil::GetInstance(); }

struct Phone {
  const char* number;
  const char* label;  // PHONE_n_Extension: a label, or digits taken as the extension
};

struct Contact {
  const char* id;
  const char* type;  // Name_Type
  const char* first;
  const char* name;
  Phone phones[4];
  const char* country;  // COUNTRY as stored
  // The region the search must read the contact's numbers in: the
  // country's, or "" where COUNTRY names none (the home region then).
  const char* region;
};

// Numbers of one line written in several styles, the same national number
// in two countries (GB6, US1), an extension column with digits (GB2), a
// number without its area code (GB5), an extension written into the number
// (EXT, whose reversed digits then begin with the extension), a field the
// settings leave out (DIS, phone 4) and a short internal number (SHORT).
const Contact kBook[] = {
    {"GB1", "I", "Alice", "Archer", {{"020 7946 0018", "MAIN"}}, "United Kingdom", "GB"},
    {"GB2", "I", "Ben", "Baker", {{"020 7946 0018", "22"}}, "UK", "GB"},
    {"GB3",
     "C",
     "",
     "Northwind Trading",
     {{"+44 (0)161 496 0123", "WORK"}, {"0161 496 0999", "FAX"}},
     "GB",
     "GB"},
    {"GB4", "I", "Chloe", "Carter", {{"07700 900123", "Mobile"}}, "", ""},
    {"GB5", "I", "Dan", "Dawson", {{"7946 0019", "Home"}}, "United Kingdom", "GB"},
    {"GB6", "I", "Eve", "Evans", {{"020 2555 0143", "WORK"}}, "United Kingdom", "GB"},
    {"US1", "I", "Frank", "Fisher", {{"(202) 555-0143", "WORK"}}, "United States", "US"},
    {"US2",
     "C",
     "",
     "Globex Corporation",
     {{"+1 415-555-0199", "MAIN"}, {"415.555.0100", "FAX"}},
     "US",
     "US"},
    {"US3", "I", "Grace", "Green", {{"212-555-0175", ""}}, "USA", "US"},
    {"DE1", "I", "Hans", "Huber", {{"030 12345678", "WORK"}}, "Germany", "DE"},
    {"DE2", "I", "Ina", "Imhof", {{"+49 (0)30 1234 5678", "MAIN"}}, "DE", "DE"},
    {"DE3", "C", "", "Initech GmbH", {{"0049 89 1234567", "MAIN"}}, "Deutschland", ""},
    {"FR1", "I", "Jean", "Joly", {{"01 42 68 53 00", "WORK"}}, "France", "FR"},
    {"FR2", "I", "Karine", "Klein", {{"+33 6 12 34 56 78", "Mobile"}}, "FR", "FR"},
    {"HU1", "I", "Laszlo", "Lakatos", {{"06 1 234 5678", "WORK"}}, "Hungary", "HU"},
    {"HU2", "I", "Maria", "Molnar", {{"(06 30) 123 4567", "Mobile"}}, "HU", "HU"},
    {"RU1", "I", "Nikolai", "Novak", {{"8 (495) 123-45-67", "WORK"}}, "Russia", "RU"},
    {"IT1", "I", "Olivia", "Orsini", {{"06 6982 1234", "WORK"}}, "Italy", "IT"},
    {"IT2", "I", "Paolo", "Pini", {{"+39 347 123 4567", "Mobile"}}, "IT", "IT"},
    {"ES1", "I", "Quique", "Quintana", {{"912 345 678", "WORK"}}, "Spain", "ES"},
    {"ES2", "C", "", "Umbrella SL", {{}, {}, {"+34 93 123 45 67", "MAIN"}}, "ES", "ES"},
    {"DIS", "I", "Rosa", "Reyes", {{}, {}, {}, {"+34 91 765 43 21", "MAIN"}}, "Spain", "ES"},
    {"EXT", "I", "Sam", "Stone", {{"020 7946 0020 x5", "WORK"}}, "United Kingdom", "GB"},
    {"SHORT", "I", "Tom", "Tate", {{"201", "Home"}}, "United Kingdom", "GB"},
};

// The search switches of every session here: phone 4 is left out.
constexpr bool kSearched[4] = {true, true, true, false};

const char* const kCallers[] = {
    "+44 20 7946 0018", "+442079460018", "00442079460018", "442079460018", "020 7946 0018",
    "+441614960999", "0161 496 0999", "+447700900123", "447700900123", "+442079460019",
    "+12025550143", "02025550143", "00 1 202 555 0143", "12025550143", "+14155550199",
    "0014155550100", "+1 212 555 0175", "+493012345678", "00493012345678", "493012345678",
    "+49891234567", "+33142685300", "0033 1 42 68 53 00", "+33612345678", "+3612345678",
    "00 36 1 234 5678", "+36301234567", "+74951234567", "0074951234567", "+390669821234",
    "0039 06 6982 1234", "+393471234567", "+34912345678", "+34931234567", "+34917654321",
    "+442079460020", "+442079460017", "201",
    // Junk: nothing to search for, or too short to weigh.
    "anonymous", "", "0", "7946"};

std::string DigitsOf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if ((c >= '0' && c <= '9') || c == '*' || c == '#') out += c;
  }
  return out;
}

size_t DigitCount(const std::string& text) {
  return static_cast<size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }));
}

std::string Reversed(std::string s) {
  std::reverse(s.begin(), s.end());
  return s;
}

std::string Nsn(const LibNumber& n) {
  std::string s;
  Util().GetNationalSignificantNumber(n, &s);
  return s;
}

// libphonenumber's reading: `region` "" reads only numbers with "+".
std::optional<LibNumber> Parse(const std::string& text, const std::string& region) {
  LibNumber n;
  if (Util().Parse(text, region.empty() ? "ZZ" : region, &n) != PhoneNumberUtil::NO_PARSING_ERROR) {
    return std::nullopt;
  }
  return n;
}

// IsNumberMatch of two numbers that both know their country, as tiers:
// SHORT_NSN_MATCH is partial where the national numbers are equal (an
// extension on one side) or the shorter, of at least 7 digits, ends the
// longer (leading zeros counted).
MatchTier Verdict(const LibNumber& a, const LibNumber& b) {
  switch (Util().IsNumberMatch(a, b)) {
    case PhoneNumberUtil::EXACT_MATCH:
    case PhoneNumberUtil::NSN_MATCH:
      return MatchTier::kSame;
    case PhoneNumberUtil::SHORT_NSN_MATCH: {
      const std::string p = Nsn(a), q = Nsn(b);
      const std::string& shorter = p.size() < q.size() ? p : q;
      const std::string& longer = p.size() < q.size() ? q : p;
      return p == q || (shorter.size() >= 7 && longer.ends_with(shorter)) ? MatchTier::kPartial
                                                                          : MatchTier::kNone;
    }
    default:
      return MatchTier::kNone;
  }
}

bool AllDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// What a search for `caller` must find: the rows (in the book's order)
// that tie for the reply, and the reply's "Match".
struct Expected {
  std::vector<std::string> ids;  // empty: not found
  std::string match;
};

Expected Expect(const std::string& caller, const std::string& home, bool sql) {
  Expected e;
  const std::string digits = DigitsOf(caller);
  if (digits.empty()) return e;
  // The first step: the stored digits equal to the dialled ones (file
  // mode, and SQL mode for short numbers) or holding them (SQL mode).
  for (const Contact& c : kBook) {
    for (int n = 0; n < 4; ++n) {
      if (!kSearched[n] || !c.phones[n].number) continue;
      const std::string stored = DigitsOf(c.phones[n].number);
      const bool hit = sql && DigitCount(digits) >= 7 ? stored.find(digits) != std::string::npos
                                                      : stored == digits;
      if (hit) {
        e.ids.push_back(c.id);
        break;
      }
    }
  }
  if (!e.ids.empty()) {
    e.match = "Exact";
    return e;
  }
  // The second step.
  const auto dialled = Parse(caller, home);
  if (!dialled) return e;
  const std::string nsn = Nsn(*dialled);
  if (nsn.size() < 7) return e;
  const std::string key = Reversed(nsn.substr(nsn.size() - 7));
  MatchTier best = MatchTier::kNone;
  for (const Contact& c : kBook) {
    bool candidate = false;
    MatchTier tier = MatchTier::kNone;
    for (int n = 0; n < 4; ++n) {
      if (!kSearched[n] || !c.phones[n].number) continue;
      candidate |= Reversed(DigitsOf(c.phones[n].number)).starts_with(key);
      std::string text = c.phones[n].number;
      if (AllDigits(c.phones[n].label)) text += std::string(" ext. ") + c.phones[n].label;
      const auto stored = Parse(text, *c.region ? c.region : home);
      if (stored) tier = std::max(tier, Verdict(*dialled, *stored));
    }
    if (!candidate || tier == MatchTier::kNone || tier < best) continue;
    if (tier > best) e.ids.clear();
    best = tier;
    e.ids.push_back(c.id);
  }
  if (!e.ids.empty()) e.match = best == MatchTier::kSame ? "Same" : "Partial";
  return e;
}

// The book as the address book tool's CSV, and as SQL inserts.
std::string BookCsv() {
  std::string csv = "Client_Id,Name_Type,First_Name,Name";
  for (int n = 1; n <= 4; ++n) {
    csv += ",PHONE_" + std::to_string(n) + ",PHONE_" + std::to_string(n) + "_Extension";
  }
  csv += ",COUNTRY\n";
  for (const Contact& c : kBook) {
    csv += std::string(c.id) + "," + c.type + "," + c.first + "," + c.name;
    for (const Phone& p : c.phones) {
      csv += std::string(",") + (p.number ? p.number : "") + "," + (p.label ? p.label : "");
    }
    csv += std::string(",") + c.country + "\n";
  }
  return csv;
}

std::string Quoted(const std::string& v) {
  std::string out = "'";
  for (char c : v) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

std::vector<std::string> BookSql() {
  std::string create = "create table Client (";
  for (std::string_view column : standins::kClientColumns) {
    create += std::string(create.back() == '(' ? "" : ", ") + std::string(column) + " text";
  }
  std::vector<std::string> sql = {create + ")"};
  for (const Contact& c : kBook) {
    std::string columns = "Client_Id, Name_Type, First_Name, Name, COUNTRY";
    std::string values = Quoted(c.id) + ", " + Quoted(c.type) + ", " + Quoted(c.first) + ", " +
                         Quoted(c.name) + ", " + Quoted(c.country);
    for (int n = 0; n < 4; ++n) {
      const std::string number = c.phones[n].number ? c.phones[n].number : "";
      const std::string k = std::to_string(n + 1);
      columns += ", PHONE_" + k + ", PHONE_" + k + "_Extension, Reverse_Phone_" + k;
      values += ", " + Quoted(number) + ", " + Quoted(c.phones[n].label ? c.phones[n].label : "") +
                ", " + Quoted(Reversed(DigitsOf(number)));
    }
    sql.push_back("insert into Client (" + columns + ") values (" + values + ")");
  }
  return sql;
}

enum class Mode { kFile, kSqlite, kPostgres, kMariadb };

// A search's steps as the observer hears them.
class Recorder : public SearchObserver {
 public:
  void Interpreted(TextView e164) override { events.push_back("interpreted " + U8(e164)); }
  void NotInterpreted(TextView why) override { events.push_back("not interpreted " + U8(why)); }
  void Statement(TextView text) override { events.push_back("statement " + U8(text)); }
  void Candidate(TextView id, TextView number, TextView tier) override {
    events.push_back("candidate " + U8(id) + " " + U8(number) + " " + U8(tier));
  }
  void StepDone(TextView step, double seconds) override {
    events.push_back("done " + U8(step));
    EXPECT_GE(seconds, 0);
  }
  std::vector<std::string> events;
};

class AnyFormat : public ::testing::TestWithParam<Mode> {
 protected:
  void SetUp() override {
    ReleaseThreadEngines();
    env.database_engines = std::make_unique<OdbcEngines>();
    env.fake_clock.real_monotonic = true;
    book = sandbox.MakeAddressBook("book", BookCsv());
    if (server()) {
      setenv("PELLORY_PG_STATE", PELLORY_PG_STATE_FILE, 0);
      setenv("PELLORY_MARIADB_STATE", PELLORY_MARIADB_STATE_FILE, 0);
      db = std::make_unique<ServerDatabase>(
          GetParam() == Mode::kPostgres ? ServerEngine::kPostgresql : ServerEngine::kMariadb,
          "pellory_any_" + std::to_string(getpid()));
      if (db->available()) {
        ASSERT_EQ(db->Run(BookSql()), "");
      }
    }
  }
  void TearDown() override {
    odbc::FaultInjection::Disarm();
    session.reset();
    ReleaseThreadEngines();
    db.reset();
  }
  bool sql() const { return GetParam() != Mode::kFile; }
  bool server() const { return GetParam() == Mode::kPostgres || GetParam() == Mode::kMariadb; }

  // Settings of the mode, with the search switches of kSearched and the
  // given entries (NumberMatch, Region, Timeout).
  Text Settings(std::initializer_list<std::pair<const char16_t*, const char16_t*>> entries) {
    Text rd;
    for (int n = 0; n < 4; ++n) {
      AddVar(env, rd, u"Phone" + IntegerText(n + 1), Variant(kSearched[n] ? u"1" : u"0"));
    }
    if (!sql()) {
      AddVar(env, rd, u"DBFile", Variant(FromUtf8(book.string())));
    } else {
      Text connection;
      AddVar(env, connection, u"ConnName", Variant(u"AnyFormat"));
      AddVar(env, connection, u"Driver", Variant(db ? db->driver() : u"SQLite3 ODBC Driver"));
      AddVar(env, connection, u"Connect",
             Variant(db ? FromUtf8(db->connect())
                        : u"DRIVER={SQLite3 ODBC Driver};Database=" +
                              FromUtf8((book / "mxza.max").string())));
      AddVar(env, rd, u"UseSQL", Variant(u"True"));
      AddVar(env, rd, u"Connection", Variant(connection));
    }
    for (const auto& [name, value] : entries) AddVar(env, rd, name, Variant(value));
    return rd;
  }
  void Open(Text data_rd) {
    session.reset();
    session = std::make_unique<Session>(env, WireSubsystems);
    Text user, vars;
    ObjectRef callback;
    session->Initialize(data_rd, user, callback);
    ASSERT_EQ(session->Load(vars), u"{Result=Success}") << Trace();
  }
  Text Find(const std::string& caller, bool list = false) {
    const Text request = caller.empty() ? Text() : u"{Tel=" + FromUtf8(caller) + u"}";
    return list ? session->FindList(request) : session->FindContact(request);
  }
  Text Get(TextView rd, const char16_t* name) { return GetText(env, rd, name); }
  std::string Trace() {
    std::string all;
    for (const Text& line : env.trace_file.lines) all += U8(line) + "\n";
    return all;
  }
  // The statement of the first step in file mode.
  static std::string ExactStatement(const std::string& caller) {
    const std::string reversed = Reversed(DigitsOf(caller));
    std::string where;
    for (int n = 0; n < 4; ++n) {
      if (!kSearched[n]) continue;
      where += std::string(where.empty() ? "" : " or ") + "Reverse_Phone_" + std::to_string(n + 1) +
               " = '" + reversed + "'";
    }
    return "select * from Client where " + where;
  }
  // The range statement of the second step in file mode.
  static std::string RangeStatement(const std::string& key) {
    std::string where;
    for (int n = 0; n < 4; ++n) {
      if (!kSearched[n]) continue;
      const std::string column = "Reverse_Phone_" + std::to_string(n + 1);
      where += std::string(where.empty() ? "" : " or ") + "(" + column + " >= '" + key + "' and " +
               column + " < '" + key + ":')";
    }
    return "select * from Client where " + where;
  }

  // The reply of an Any search against what libphonenumber says; SQL mode
  // reads the table in order, so there the first tied row must be the one.
  void ExpectReply(const std::string& caller, const std::string& home, TextView reply,
                   TextView list_reply) {
    SCOPED_TRACE("caller [" + caller + "]: " + U8(reply));
    const Expected e = Expect(caller, home, sql());
    if (e.ids.empty()) {
      EXPECT_EQ(Get(reply, u"Reason"), u"NoFind");
      EXPECT_EQ(Get(reply, u"Match"), u"");
      EXPECT_EQ(Get(list_reply, u"Reason"), u"NoFind");
      return;
    }
    const std::string id = U8(Get(reply, u"Id"));
    if (sql()) {
      EXPECT_EQ(id, e.ids.front());
    } else {
      EXPECT_NE(std::find(e.ids.begin(), e.ids.end(), id), e.ids.end());
    }
    EXPECT_EQ(U8(Get(reply, u"Match")), e.match);
    EXPECT_EQ(Get(reply, u"Matches"), e.ids.size() > 1 ? u"2" : u"1");
    EXPECT_EQ(Get(reply, u"Result"), u"Success");
    // The list holds every contact of the best tier.
    std::vector<std::string> listed;
    for (size_t i = 1; i <= e.ids.size() + 1; ++i) {
      const Text entry = Get(list_reply, (u"List" + IntegerText(static_cast<int64_t>(i))).c_str());
      if (!entry.empty()) listed.push_back(U8(Get(entry, u"Id")));
    }
    std::vector<std::string> expected = e.ids;
    if (!sql()) {
      std::sort(listed.begin(), listed.end());
      std::sort(expected.begin(), expected.end());
    }
    EXPECT_EQ(listed, expected) << U8(list_reply);
    EXPECT_EQ(U8(Get(list_reply, u"ListCount")), std::to_string(e.ids.size()));
    EXPECT_EQ(U8(Get(list_reply, u"Match")), e.match);
  }

  OdbcSandbox sandbox;
  FakeEnv env;
  std::filesystem::path book;
  std::unique_ptr<ServerDatabase> db;  // PostgreSQL, MariaDB
  std::unique_ptr<Session> session;
};

// Every caller, as a contact and a list search, in Any mode with the home
// region from the locale (GB) and from the Region setting; in file mode
// also the statements each search sent. With NumberMatch absent or
// "Exact" the replies are byte for byte the same, and an Any reply of a
// number found by its digits is that reply with "Match" = "Exact" added.
TEST_P(AnyFormat, CallersInEveryFormReachTheContactLibphonenumberNames) {
  if (db) {
    PELLORY_REQUIRE_DATABASE(*db);
  }
  StatementLog log;
  std::vector<Text> plain, exact, any, any_lists;
  Open(Settings({}));
  for (const char* caller : kCallers) plain.push_back(Find(caller));
  Open(Settings({{u"NumberMatch", u"Exact"}}));
  for (const char* caller : kCallers) exact.push_back(Find(caller));
  Open(Settings({{u"NumberMatch", u"any"}}));
  for (const char* caller : kCallers) {
    log.Clear();
    any.push_back(Find(caller));
    const std::vector<std::string> sent = log.Lines();
    any_lists.push_back(Find(caller, true));
    if (sql()) continue;
    // File mode: a second statement exactly when the first step found
    // nothing and the caller's number has a candidate key.
    const Expected e = Expect(caller, "GB", false);
    const auto dialled = Parse(caller, "GB");
    const std::string nsn = dialled ? Nsn(*dialled) : "";
    std::vector<std::string> expected;
    if (!DigitsOf(caller).empty()) expected.push_back(ExactStatement(caller));
    if (!DigitsOf(caller).empty() && e.match != "Exact" && nsn.size() >= 7) {
      expected.push_back(RangeStatement(Reversed(nsn.substr(nsn.size() - 7))));
    }
    EXPECT_EQ(sent, expected) << caller;
  }
  for (size_t i = 0; i < std::size(kCallers); ++i) {
    EXPECT_EQ(plain[i], exact[i]) << kCallers[i];
    ExpectReply(kCallers[i], "GB", any[i], any_lists[i]);
    Text with_match = exact[i];
    const size_t speed = with_match.find(u"{Speed");
    if (Get(any[i], u"Match") == u"Exact" && speed != Text::npos) {
      with_match.insert(speed, u"{Match(S5)=Exact}");
    }
    if (Get(any[i], u"Match") == u"Exact" || Get(any[i], u"Result") != u"Success") {
      EXPECT_EQ(any[i], with_match) << kCallers[i];
    }
  }
  EXPECT_EQ(Trace(), "");

  // SQL mode with the server picking the rows: the same replies, from a
  // statement per step (the candidates as a prefix, which no collation
  // can misorder).
  if (sql()) {
    Open(Settings({{u"NumberMatch", u"Any"}, {u"SqlFilter", u"Server"}}));
    for (size_t i = 0; i < std::size(kCallers); ++i) {
      EXPECT_EQ(Find(kCallers[i]), any[i]) << kCallers[i];
      EXPECT_EQ(Find(kCallers[i], true), any_lists[i]) << kCallers[i];
    }
    Recorder recorder;
    session->lookup()->SetObserver(&recorder);
    Find("+49 30 12345678");
    session->lookup()->SetObserver(nullptr);
    std::vector<std::string> statements;
    for (const std::string& event : recorder.events) {
      if (event.starts_with("statement ")) statements.push_back(event.substr(10));
    }
    const std::string table = GetParam() == Mode::kPostgres ? "public.client" : "Client";
    const std::string select = "select " + U8(lookup::kColumnList) + " from " + table + " where ";
    std::string like;
    for (int n = 0; n < 4; ++n) {
      if (!kSearched[n]) continue;
      like += std::string(like.empty() ? "" : " or ") + "Reverse_Phone_" + std::to_string(n + 1) +
              " like '%876543210394%'";
    }
    std::string prefix;
    for (int n = 0; n < 4; ++n) {
      if (!kSearched[n]) continue;
      prefix += std::string(prefix.empty() ? "" : " or ") + "Reverse_Phone_" +
                std::to_string(n + 1) + " like '8765432%'";
    }
    EXPECT_EQ(statements, (std::vector<std::string>{select + like, select + prefix}));
    EXPECT_EQ(Trace(), "");
  }

  // The Region setting names the home: German national numbers then read
  // as such.
  const char* const german[] = {"089 1234567", "030 1234 5678", "30 12345678", "+44 20 7946 0018",
                                "0044 20 7946 0018"};
  for (const char* region : {"DE", "GB"}) {
    Open(Settings({{u"NumberMatch", u"Any"}, {u"Region", FromUtf8(region).c_str()}}));
    for (const char* caller : german) ExpectReply(caller, region, Find(caller), Find(caller, true));
  }
}

// What does not depend on the driver runs on one driver per mode: the
// stand-in for file mode, SQLite for SQL mode.
class AnyFormatTwoModes : public AnyFormat {};

// The short-number mend of SQL mode, in both settings and with the server
// filtering: a number of fewer than 7 digits matches only a stored number
// of the same digits, longer ones still match inside a stored number.
TEST_P(AnyFormatTwoModes, ShortNumbersMatchOnlyWholeStoredNumbers) {
  struct Case {
    const char* caller;
    const char* id;  // "" when nothing is found
  };
  const Case cases[] = {{"0", ""},
                        {"000", ""},
                        {"7946", ""},
                        {"201", "SHORT"},
                        {"20", ""},
                        {"2 01", "SHORT"},
                        {"79460018", sql() ? "GB1" : ""},
                        {"1234567", sql() ? "DE1" : ""}};
  struct Setting {
    const char16_t* match;
    const char16_t* filter;
  };
  const Setting settings[] = {
      {u"Exact", u""}, {u"Any", u""}, {u"Exact", u"Server"}, {u"Any", u"Server"}};
  for (const auto& [mode, filter] : settings) {
    // The server's filter belongs to SQL mode; file mode ignores it.
    Open(Settings({{u"NumberMatch", mode}, {u"SqlFilter", filter}}));
    for (const Case& c : cases) {
      // Longer numbers take the second step in Any mode (the main test).
      if (mode == Text(u"Any") && DigitCount(c.caller) >= 7) continue;
      const Text reply = Find(c.caller);
      EXPECT_EQ(U8(Get(reply, u"Id")), c.id) << c.caller << " " << U8(reply);
      EXPECT_EQ(Get(reply, u"Result"), *c.id ? u"Success" : u"Fail") << c.caller;
    }
  }
}

// What the observer hears of a search the second step answers, and of one
// the first step answers.
TEST_P(AnyFormatTwoModes, TheObserverHearsEachStep) {
  Open(Settings({{u"NumberMatch", u"Any"}}));
  Recorder recorder;
  session->lookup()->SetObserver(&recorder);
  Find("+49 30 12345678");
  const std::string exact_statement =
      sql() ? "statement select " + U8(lookup::kColumnList) + " from " + "Client"
            : "statement " + ExactStatement("+49 30 12345678");
  std::vector<std::string> expected = {exact_statement, "done exact", "interpreted +493012345678"};
  if (!sql()) expected.push_back("statement " + RangeStatement("8765432"));
  // Every stored number ending in 2345678 is a candidate; SQL mode weighs
  // them all, file mode may stop once two contacts of the best tier came.
  std::vector<std::string> candidates = {
      "candidate DE1 030 12345678 Same", "candidate DE2 +49 (0)30 1234 5678 Same",
      "candidate ES1 912 345 678 None", "candidate FR2 +33 6 12 34 56 78 None",
      "candidate HU1 06 1 234 5678 None"};
  auto& events = recorder.events;
  ASSERT_GE(events.size(), expected.size() + 3) << ::testing::PrintToString(events);
  EXPECT_EQ(std::vector<std::string>(events.begin(), events.begin() + expected.size()), expected);
  std::vector<std::string> heard(events.begin() + expected.size(), events.end() - 1);
  std::sort(heard.begin(), heard.end());
  if (sql()) {
    EXPECT_EQ(heard, candidates);
  } else {
    EXPECT_TRUE(std::includes(candidates.begin(), candidates.end(), heard.begin(), heard.end()));
    EXPECT_TRUE(
        std::includes(heard.begin(), heard.end(), candidates.begin(), candidates.begin() + 2));
  }
  EXPECT_EQ(events.back(), "done any format");

  events.clear();
  Find("201");
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[1], "candidate SHORT 201 Exact");
  EXPECT_EQ(events.back(), "done exact");
  events.clear();
  Find("7946");
  EXPECT_EQ(events.back(), "not interpreted fewer than 7 digits");
  session->lookup()->SetObserver(nullptr);
}

// The second step under the deadline: its statement, slowed down, is
// cancelled and the search answers "Timeout" in time; and every failure
// of a driver call on the way of a search the second step answers is
// reported, never hidden behind a contact found.
TEST_P(AnyFormatTwoModes, TimeoutsAndFailuresOfTheSecondStep) {
  if (GetParam() == Mode::kFile) {
    setenv("PELLORY_MAXODBC_DELAY_MS", "60000", 1);
    setenv("PELLORY_MAXODBC_DELAY_MATCH", ">=", 1);
    Open(Settings({{u"NumberMatch", u"Any"}, {u"Timeout", u"1"}}));
    const auto start = std::chrono::steady_clock::now();
    const Text reply = Find("+49 30 12345678");
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 30);
    unsetenv("PELLORY_MAXODBC_DELAY_MS");
    unsetenv("PELLORY_MAXODBC_DELAY_MATCH");
    EXPECT_EQ(Get(reply, u"Reason"), u"Timeout") << U8(reply);
    EXPECT_EQ(Get(reply, u"Id"), u"");
    ASSERT_EQ(env.trace_file.lines.size(), 1u) << Trace();
    EXPECT_TRUE(env.trace_file.lines[0].ends_with(u"    @ Timeout after 1 s @ Pell.Find"));
    EXPECT_EQ(Get(Find("+49 30 12345678"), u"Match"), u"Same");
    for (int i = 0; i < 600 && odbc::BackgroundCallsRunning() > 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(odbc::BackgroundCallsRunning(), 0);
  }
  int points = 0;
  for (int n = 1; n < 200; ++n) {
    SCOPED_TRACE("call " + std::to_string(n));
    Open(Settings({{u"NumberMatch", u"Any"}}));
    env.trace_file.lines.clear();
    odbc::FaultInjection::Arm(n, n % 2 ? "08S01" : "HY000");
    const Text reply = Find("+49 30 12345678");
    const bool fired = odbc::FaultInjection::Fired();
    odbc::FaultInjection::Disarm();
    const Text& failure = session->lookup()->search_failure();
    if (!fired) {
      EXPECT_EQ(Get(reply, u"Match"), u"Same");
      EXPECT_EQ(failure, u"");
      break;
    }
    ++points;
    EXPECT_TRUE(Get(reply, u"Result") != u"Success" || !failure.empty()) << U8(reply);
    EXPECT_EQ(Get(reply, u"Id"), u"") << U8(reply);
    EXPECT_FALSE(env.trace_file.lines.empty());
  }
  EXPECT_GT(points, 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, AnyFormat,
                         ::testing::Values(Mode::kFile, Mode::kSqlite, Mode::kPostgres,
                                           Mode::kMariadb),
                         [](const auto& info) {
                           return info.param == Mode::kFile       ? "FileMode"
                                  : info.param == Mode::kSqlite   ? "Sqlite"
                                  : info.param == Mode::kPostgres ? "Postgresql"
                                                                  : "Mariadb";
                         });

// The settings are read the same way in both modes: file mode only.
class AnyFormatSettings : public AnyFormat {};

// Settings it cannot use: a trace line, then the default.
TEST_P(AnyFormatSettings, SettingsItCannotUseFallBackToTheDefault) {
  struct Case {
    const char16_t* match;
    const char16_t* region;
    const char* territory;
    const char* trace;  // the end of the one trace line; "" for none
    const char* caller;
    const char* id;
    const char16_t* filter = u"";  // SqlFilter
  };
  const Case cases[] = {
      {u"Exact", u"", "GB",
       "@ SqlFilter Sometimes is neither Client nor Server: Client is used @ Pell.Initialize",
       "201", "SHORT", u"Sometimes"},
      {u"Sometimes", u"", "GB",
       "@ NumberMatch Sometimes is neither Exact nor Any: Exact is used @ "
       "Pell.Initialize",
       "+442079460018", ""},
      {u"Any", u"Atlantis", "DE",
       "@ Region Atlantis names no country: the locale's is used @ Pell.Initialize", "089 1234567",
       "DE3"},
      {u"Any", u"", "", "", "+442079460018", "GB1"},
      // No home region: a number without its country code is not read.
      {u"Any", u"", "", "", "0044 20 7946 0018", ""},
      {u"Exact", u"Atlantis", "", "", "201", "SHORT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.caller);
    env.trace_file.lines.clear();
    env.fake_regional.territory = FromUtf8(c.territory);
    Open(Settings({{u"NumberMatch", c.match}, {u"Region", c.region}, {u"SqlFilter", c.filter}}));
    EXPECT_EQ(U8(Get(Find(c.caller), u"Id")), c.id);
    if (*c.trace) {
      ASSERT_EQ(env.trace_file.lines.size(), 1u) << Trace();
      EXPECT_TRUE(U8(env.trace_file.lines[0]).ends_with(c.trace)) << Trace();
    } else {
      EXPECT_EQ(Trace(), "");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, AnyFormatSettings, ::testing::Values(Mode::kFile),
                         [](const auto&) { return "FileMode"; });
INSTANTIATE_TEST_SUITE_P(Modes, AnyFormatTwoModes, ::testing::Values(Mode::kFile, Mode::kSqlite),
                         [](const auto& info) {
                           return info.param == Mode::kFile ? "FileMode" : "Sqlite";
                         });

}  // namespace
}  // namespace pellory::testing
