// The lookup over real drivers: file mode through the stand-in Maximizer
// ODBC driver (its statement log shows what reached it), SQL mode through
// the SQLite ODBC driver (unixODBC's trace shows the statement) and, when
// their servers are at hand, PostgreSQL and MariaDB.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "addressbook.h"
#include "lookup/lookup.h"
#include "lookup/odbc_session.h"
#include "platform/odbc/background_call.h"
#include "support/crmdb_odbc.h"
#include "support/pg_server.h"
#include "support/server_database.h"
#include "support/shell.h"

namespace pellory::testing {
namespace {

// J1's town is longer than a column's first buffer (255 characters), and
// its row comes last: the export reads it after the earlier rows have been
// fetched into buffers of that size.
#define PELLORY_LONG_TOWN                                                                \
  "Springfield Springfield Springfield Springfield Springfield Springfield Springfield " \
  "Springfield Springfield Springfield Springfield Springfield Springfield Springfield " \
  "Springfield Springfield Springfield Springfield Springfield Springfield Springfield " \
  "Springfield Springfield Springfield Springfield"
constexpr char kBook[] =
    "Client_Id,Name_Type,First_Name,Name,Firm,PHONE_1,PHONE_1_Extension,PHONE_3,"
    "PHONE_3_Extension,CITY,ZIP_CODE\n"
    "P1,I,Anne,Smith,Acme Ltd,+44 (0)1234 567890,MAIN,,,Leeds,LS1 4AP\n"
    "P2,I,John,Smith,Smith & Sons,01632 960001,WORK,+44 (0) 1234 567 890,Mobile,York,\n"
    "C1,C,,Acme Ltd,,020 7946 0000,FAX,,,London,\n"
    "Q'1,I,Seán,O'Brien,O'Brien & Co,+353 1 555 0100,,,,Dublin,\n"
    "T1,I,Gerard,'t Hooft,Universiteit Utrecht,+31 30 253 5000,WORK,,,Utrecht,\n"
    "J1,I,John,Smithers,,(555) 123-4567,Home,,," PELLORY_LONG_TOWN
    ",\n"
    "c1,I,Cara,de Wit,,,,,,Leeds,\n";

// The book as a table of the address book's 25 text columns; with
// `mariadb`, the column types and indexes README.md suggests for MariaDB
// (varchar, the reversed phones in ASCII with a binary collation).
std::string BookTableSql(bool mariadb = false) {
  std::string sql = "create table Client (";
  for (std::string_view column : standins::kClientColumns) {
    // (The town of J1 is longer than 255 characters.)
    const char* type = !mariadb || column == "CITY"     ? " text"
                       : column.starts_with("Reverse_") ? " varchar(32) character set ascii "
                                                          "collate ascii_bin"
                                                        : " varchar(255)";
    sql += std::string(sql.back() == '(' ? "" : ", ") + std::string(column) + type;
  }
  return sql + ")";
}

std::string Quoted(const std::string& v) {
  std::string out = "'";
  for (char c : v) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

// One insert per row of the book (whose fields hold no commas), with the
// reversed phone columns as the address book computes them.
std::vector<std::string> BookInserts() {
  std::istringstream in(kBook);
  std::string line;
  std::getline(in, line);
  std::vector<std::string> header, out;
  for (std::istringstream h(line); std::getline(h, line, ',');) header.push_back(line);
  while (std::getline(in, line)) {
    std::vector<std::string> values;
    std::istringstream row(line);
    for (std::string v; std::getline(row, v, ',');) values.push_back(v);
    values.resize(header.size());
    std::string columns, list;
    for (size_t i = 0; i < header.size(); ++i) {
      columns += (i ? ", " : "") + header[i];
      list += (i ? ", " : "") + Quoted(values[i]);
      if (header[i].rfind("PHONE_", 0) == 0 && header[i].size() == 7) {
        std::string reversed;
        for (char c : values[i]) {
          if (std::isdigit(static_cast<unsigned char>(c)) || c == '*' || c == '#') {
            reversed.insert(reversed.begin(), c);
          }
        }
        columns += ", Reverse_" + std::string("Phone_") + header[i].substr(6);
        list += ", " + Quoted(reversed);
      }
    }
    out.push_back("insert into Client (" + columns + ") values (" + list + ")");
  }
  return out;
}

// The statements the SQLite ODBC driver's own trace shows it prepared.
std::vector<std::string> PreparedStatements(const std::string& log) {
  std::vector<std::string> out;
  const std::string mark = "-- sqlite3_prepare_v2: ";
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(mark, 0) == 0) out.push_back(line.substr(mark.size()));
  }
  return out;
}

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Waits, with a generous bound, until every driver call that a search
// walked away from has returned and released what it held.
bool BackgroundCallsEnd() {
  for (int i = 0; i < 600 && odbc::BackgroundCallsRunning() > 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return odbc::BackgroundCallsRunning() == 0;
}

// A PostgreSQL server of the test's own (scripts/pg-test-server.sh), which
// it may freeze with SIGSTOP without stopping anybody else's tests.
class PrivatePg {
 public:
  explicit PrivatePg(const std::filesystem::path& state) : state_(state.string()) {
    std::system(("PELLORY_PG_LIFETIME=900 " + Quote(PELLORY_PG_SCRIPT) + " start " + Quote(state_) +
                 " >/dev/null 2>&1")
                    .c_str());
    server = PgServer::FromStateFile(state_);
  }
  ~PrivatePg() {
    Thaw();
    std::system((Quote(PELLORY_PG_SCRIPT) + " stop " + Quote(state_) + " >/dev/null 2>&1").c_str());
  }

  // Stops the postmaster and every one of its processes.
  void Freeze() {
    std::ifstream pid_file(server.dir + "/data/postmaster.pid");
    pid_t postmaster = 0;
    pid_file >> postmaster;
    if (postmaster <= 0) return;
    frozen_ = {postmaster};
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      const std::string name = entry.path().filename();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      std::string stat = ReadAll(entry.path() / "stat");
      size_t paren = stat.rfind(')');
      if (paren == std::string::npos) continue;
      std::istringstream rest(stat.substr(paren + 1));
      std::string state;
      pid_t parent = 0;
      rest >> state >> parent;
      if (parent == postmaster) frozen_.push_back(std::stoi(name));
    }
    for (pid_t pid : frozen_) kill(pid, SIGSTOP);
    // Should this process die before it thaws the server, a process of its
    // own thaws it after two minutes, so that it can still be stopped.
    guard_ = fork();
    if (guard_ == 0) {
      sleep(120);
      for (pid_t pid : frozen_) kill(pid, SIGCONT);
      _exit(0);
    }
  }
  void Thaw() {
    for (pid_t pid : frozen_) kill(pid, SIGCONT);
    frozen_.clear();
    if (guard_ > 0) {
      kill(guard_, SIGKILL);
      waitpid(guard_, nullptr, 0);
      guard_ = 0;
    }
  }
  bool frozen() const { return !frozen_.empty(); }

  PgServer server;

 private:
  std::string state_;
  std::vector<pid_t> frozen_;
  pid_t guard_ = 0;
};

class OdbcLookup : public OdbcSessionTest {
 protected:
  void SetUp() override {
    OdbcSessionTest::SetUp();
    env.fake_clock.real_monotonic = true;
    book = sandbox.MakeAddressBook("book", kBook);
  }

  // A loaded session over `data_rd`.
  void Load(const Text& data_rd) { ASSERT_EQ(Open(data_rd), u"{Result=Success}") << Trace(); }
  void OpenFileMode(const Text& timeout = Text()) {
    Load(Record({{u"DBFile", FromUtf8(book.string())},
                 {u"Phone2", u"0"},
                 {u"Phone4", u"0"},
                 {u"Timeout", timeout}}));
  }
  Text SqliteConnect() {
    return u"DRIVER={SQLite3 ODBC Driver};Database=" + FromUtf8((book / "mxza.max").string());
  }
  void OpenSqlMode(const Text& connect, const Text& driver, const Text& timeout = Text(),
                   const Text& filter = Text()) {
    Text connection =
        Record({{u"ConnName", u"PelloryTest"}, {u"Connect", connect}, {u"Driver", driver}});
    Load(Record({{u"UseSQL", u"True"},
                 {u"Phone2", u"0"},
                 {u"Phone4", u"0"},
                 {u"Connection", connection},
                 {u"Timeout", timeout},
                 {u"SqlFilter", filter}}));
  }

  Text Get(TextView rd, const char16_t* name) { return GetText(env, rd, name); }

  // The identifiers of a list reply, in order.
  std::vector<Text> ListIds(TextView reply) {
    std::vector<Text> ids;
    for (int i = 1;; ++i) {
      Text entry = Get(reply, (u"List" + IntegerText(i)).c_str());
      if (entry.empty()) return ids;
      ids.push_back(Get(entry, u"Id"));
    }
  }

  // The whole export as (reply of CacheStart, identifiers, closing reply).
  void ExpectExport(const Text& records) {
    EXPECT_EQ(session->CacheStart(),
              u"{Records(N" + IntegerText(records.size()) + u")=" + records + u"}");
    std::vector<Text> ids;
    Text reply;
    for (int guard = 0; guard < 20; ++guard) {
      reply = session->CacheRecord();
      if (Get(reply, u"Result") != u"Success") break;
      Text fields = Get(reply, u"Fields");
      ids.push_back(Get(fields, u"Id"));
      if (ids.back() == u"P2") {
        EXPECT_EQ(Get(fields, u"Business"), u"01632 960001");
        EXPECT_EQ(Get(fields, u"Phone3"), u"+44 (0) 1234 567 890");
        EXPECT_NE(fields.find(u"{PostCode(S0)=}"), Text::npos);
      }
      if (ids.back() == u"J1") {
        EXPECT_EQ(Get(fields, u"Town"), FromUtf8(PELLORY_LONG_TOWN));
      }
    }
    EXPECT_EQ(reply, u"{Result(S3)=Eof}");
    EXPECT_EQ(ids, (std::vector<Text>{u"P1", u"P2", u"C1", u"Q'1", u"T1", u"J1", u"c1"}));
    EXPECT_EQ(session->CacheEnd(), u"");
  }

  std::filesystem::path book;
};

TEST_F(OdbcLookup, FileModeStatementsAndReplies) {
  StatementLog log;
  OpenFileMode();
  log.Clear();

  Text reply = session->FindContact(u"{Tel=+44 (0)1234 567890}{NiceTel=Anne}");
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                             "select * from Client where Reverse_Phone_1 = '0987654321044' or "
                             "Reverse_Phone_3 = '0987654321044'"}));
  EXPECT_EQ(Get(reply, u"Id"), u"P1");
  EXPECT_EQ(Get(reply, u"Name"), u"Anne Smith");
  EXPECT_EQ(Get(reply, u"MainTel"), u"+44 (0)1234 567890");
  EXPECT_EQ(Get(reply, u"Tel"), u"4401234567890");
  EXPECT_EQ(Get(reply, u"NiceTel"), u"Anne");
  EXPECT_EQ(Get(reply, u"Matches"), u"2");
  EXPECT_EQ(Get(reply, u"Result"), u"Success");

  // Searches of one shape in a row, after and between searches of another
  // shape, each read their own rows (and a search that finds nothing none
  // of the one before).
  struct Search {
    bool list;
    const char16_t* request;
    std::vector<Text> ids;
  };
  const Search searches[] = {
      {false, u"{Tel=020 7946 0000}", {u"C1"}},
      {false, u"{Tel=01632 960001}", {u"P2"}},
      {false, u"{Tel=0800 000 001}", {}},
      {false, u"{Tel=+353 1 555 0100}", {u"Q'1"}},
      {true, u"{Text=smithers}", {u"J1"}},
      {true, u"{Text=acme}", {u"P1", u"C1"}},
      {false, u"{Tel=(555) 123-4567}", {u"J1"}},
      {false, u"{Id=T1}", {u"T1"}},
      {false, u"{Tel=+44 (0)1234 567890}", {u"P1"}},
  };
  for (const Search& s : searches) {
    reply = s.list ? session->FindList(s.request) : session->FindContact(s.request);
    if (s.list) {
      EXPECT_EQ(ListIds(reply), s.ids) << U8(s.request);
    } else {
      EXPECT_EQ(Get(reply, u"Id"), s.ids.empty() ? Text() : s.ids[0]) << U8(s.request);
      EXPECT_EQ(Get(reply, u"Result"), s.ids.empty() ? u"Fail" : u"Success") << U8(s.request);
    }
  }

  log.Clear();
  session->FindList(u"{Text=john smith}");
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                             "select * from Client where (ucase(Name) like '%JOHN%SMITH%') or "
                             "(ucase(Firm) like '%JOHN%SMITH%')"}));
  // The database matches inside words; the plug-in keeps words that begin so.
  reply = session->FindList(u"{Text=SMITH}");
  EXPECT_EQ(ListIds(reply), (std::vector<Text>{u"P1", u"P2", u"J1"}));

  log.Clear();
  reply = session->FindList(u"{Begin=a}");
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"select * from Client where Name  >= 'A'"}));
  EXPECT_EQ(ListIds(reply), (std::vector<Text>{u"C1"}));
  EXPECT_EQ(Get(Get(reply, u"List1"), u"Company"), u"Acme Ltd");

  // Nothing found: the number is sent back, and a list says what it holds.
  reply = session->FindList(u"{Tel=0800 000 000}");
  EXPECT_EQ(reply,
            u"{HasName(N1)=1}{HasCompany(N1)=1}{Tel(S10)=0800000000}{Speed(N1)=0}"
            u"{Result(S4)=Fail}{Reason(S6)=NoFind}");
  EXPECT_EQ(Trace(), "");
}

TEST_F(OdbcLookup, QuotesInTheIdentifierAndTheLetterAreData) {
  StatementLog log;
  OpenFileMode();
  log.Clear();
  Text reply = session->FindContact(u"{Id=Q'1}");
  EXPECT_EQ(log.Lines(),
            (std::vector<std::string>{"select * from Client where Client_Id = 'Q''1'"}));
  EXPECT_EQ(Get(reply, u"Name"), u"Seán O'Brien");
  EXPECT_EQ(Get(reply, u"Result"), u"Success");

  // Crafted identifiers find nothing and break nothing.
  for (const char16_t* id : {u"x' or '1'='1", u"' or Client_Id <> '", u"P1' --", u"'"}) {
    EXPECT_EQ(session->FindContact(u"{Id(S" + IntegerText(Text(id).size()) + u")=" + id + u"}"),
              u"{Result(S4)=Fail}")
        << U8(id);
  }

  reply = session->FindList(u"{Begin='}");
  EXPECT_EQ(ListIds(reply), (std::vector<Text>{u"T1"}));
  // The working method takes a whole text where the host method keeps one letter.
  log.Clear();
  reply = session->FindReal(u"{Cmd=FindList}{Begin=' or '1'='1}");
  EXPECT_EQ(log.Lines(),
            (std::vector<std::string>{"select * from Client where Name  >= ''' or ''1''=''1'"}));
  EXPECT_EQ(Get(reply, u"Reason"), u"NoFind");

  // U+0000 is a character like any other: the statement reaches the driver
  // whole, and the value is compared with it in place, so no contact has it.
  using namespace std::string_literals;
  const std::pair<Text, std::string> nuls[] = {
      {u"{Cmd=FindContact}{Id(S5)=Q'1\0x}"s, "select * from Client where Client_Id = 'Q''1\0x'"s},
      {u"{Cmd=FindContact}{Id(S4)=\0P1'}"s, "select * from Client where Client_Id = '\0P1'''"s},
      {u"{Cmd=FindList}{Begin(S6)=Smith\0}"s, "select * from Client where Name  >= 'Smith\0'"s},
      {u"{Cmd=FindList}{Begin(S1)=\0}"s, "select * from Client where Name  >= '\0'"s},
  };
  for (const auto& [request, statement] : nuls) {
    log.Clear();
    reply = session->FindReal(request);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{statement}) << U8(request);
    EXPECT_EQ(Get(reply, u"Result"), u"Fail") << U8(reply);
  }
  EXPECT_EQ(Trace(), "");
}

TEST_F(OdbcLookup, FileModeExport) {
  OpenFileMode();
  ExpectExport(u"7");
}

TEST_F(OdbcLookup, ExportOfASessionWhoseLoadFails) {
  Start(Record({{u"DBFile", FromUtf8((sandbox.Dir() / "nowhere").string())}}));
  EXPECT_EQ(session->CacheStart(), u"{Result(S4)=Fail}{Reason(S20)=No recordset: Client}");
  EXPECT_TRUE(Crm(*session).load_failed());
  EXPECT_EQ(session->CacheRecord(), u"{Result(S4)=Fail}{Reason(S20)=No recordset: Client}");
}

TEST_F(OdbcLookup, ACallFromTheMessageLoopDuringASlowSearch) {
  setenv("PELLORY_MAXODBC_DELAY_MS", "40", 1);
  OpenFileMode();
  Text inner;
  env.fake_pump.hook = [&] {
    if (!inner.empty()) return;
    inner = u"-";
    inner = session->FindContact(u"{Tel=020 7946 0000}");
  };
  Text outer = session->FindList(u"{Text=smith}");
  unsetenv("PELLORY_MAXODBC_DELAY_MS");
  EXPECT_EQ(ListIds(outer), (std::vector<Text>{u"P1", u"P2", u"J1"}));
  EXPECT_EQ(Get(inner, u"Id"), u"C1");
  EXPECT_EQ(Get(inner, u"Fax"), u"020 7946 0000");
  EXPECT_GT(env.fake_pump.calls, 1);
  EXPECT_EQ(Trace(), "");
}

// The searches of SQL mode over one driver, with SqlFilter absent (the
// whole table read) and "Server" (the server picks the rows): the replies
// are the same, and the statements with "Server" select.
struct SqlSearch {
  bool list;
  std::u16string_view request;
  const char* where;  // with "Server"; "" for the full read
};
using namespace std::string_view_literals;
const SqlSearch kSqlSearches[] = {
    // Digits anywhere inside an enabled phone field.
    {false, u"{Tel=1234 567890}",
     "Reverse_Phone_1 like '%0987654321%' or Reverse_Phone_3 like '%0987654321%'"},
    // Fewer than 7 digits: only a whole stored number.
    {false, u"{Tel=0100}", "Reverse_Phone_1 = '0010' or Reverse_Phone_3 = '0010'"},
    {true, u"{Tel=555 0100}",
     "Reverse_Phone_1 like '%0010555%' or Reverse_Phone_3 like '%0010555%'"},
    {false, u"{Id=Q'1}", "Client_Id = 'Q''1'"},
    {false, u"{Id=x' or '1'='1}", "Client_Id = 'x'' or ''1''=''1'"},
    {true, u"{Id=Nobody}", "Client_Id = 'Nobody'"},
    // A server comparing without letter case (MariaDB's utf8mb4_general_ci)
    // or trailing blanks sends C1 as well, or P1: the identifier is
    // compared here as it is.
    {false, u"{Id=c1}", "Client_Id = 'c1'"},
    {false, u"{Id=q'1}", "Client_Id = 'q''1'"},
    {false, u"{Id=P1 }", "Client_Id = 'P1 '"},
    {true, u"{Begin=s}{MaxFind=2}", "Name >= 'S'"},
    {true, u"{Begin=d}", "Name >= 'D'"},
    // A backslash, which MariaDB and MySQL read as an escape in a literal,
    // and U+0000, at which the SQLite and PostgreSQL drivers end the
    // statement: the full read.
    {false, u"{Id=P1\\}", ""},
    {false, u"{Id(S5)=Q'1\0x}"sv, ""},
    {true, u"{Begin=\\}", ""},
    // A number with a comma finds P2's first and third phones together; one
    // with a letter beyond ASCII, which a column in ASCII cannot compare.
    {false, u"{Cmd=FindContact}{Tel=4401234567890,01632960001}", ""},
    {false, u"{Cmd=FindContact}{Tel=01234 567890\u00e9}", ""},
    // Words: each inside Name or Firm, in any order (SQLite's like ignores
    // ASCII case by itself; other servers get {fn UCASE()}).
    {true, u"{Text=smith}", "(Name like '%SMITH%' or Firm like '%SMITH%')"},
    {true, u"{Text=o'brien}",
     "(Name like '%O%' or Firm like '%O%') and (Name like '%BRIEN%' or Firm like '%BRIEN%')"},
    {true, u"{Text=' or '1'='1}",
     "(Name like '%OR%' or Firm like '%OR%') and (Name like '%1%' or Firm like '%1%') and "
     "(Name like '%1%' or Firm like '%1%')"},
    // A number without digits: the full read.
    {false, u"{Tel=withheld}", ""},
    // Words in another order than stored, across Name and Firm.
    {true, u"{Text=sons smith}",
     "(Name like '%SONS%' or Firm like '%SONS%') and (Name like '%SMITH%' or Firm like '%SMITH%')"},
};

// The replies to kSqlSearches of the session as it is.
std::vector<Text> SqlReplies(Session& session) {
  std::vector<Text> replies;
  for (const SqlSearch& s : kSqlSearches) {
    const Text request(s.request);
    replies.push_back(request.starts_with(u"{Cmd=") ? session.FindReal(request)
                      : s.list                      ? session.FindList(request)
                                                    : session.FindContact(request));
  }
  return replies;
}

TEST_F(OdbcLookup, SqlModeOverSqlite) {
  std::vector<Text> replies[2];
  for (int server = 0; server < 2; ++server) {
    SCOPED_TRACE(server ? "Server" : "Client");
    // The SQLite driver's own trace of the statements it runs.
    const std::filesystem::path trace =
        sandbox.Dir() / ("sqlite-trace" + std::to_string(server) + ".log");
    OpenSqlMode(SqliteConnect() + u";Tracefile=" + FromUtf8(trace.string()), u"SQLite3 ODBC Driver",
                Text(), server ? u"server" : u"");
    replies[server] = SqlReplies(*session);
    EXPECT_EQ(Trace(), "");
    ExpectExport(u"-1");
    // Without a filter every search sent the same statement without a where
    // clause; the export its own, with a capital S.
    const std::string search = "select " + U8(lookup::kColumnList) + " from Client";
    std::vector<std::string> expected = {"select Client_Id from Client"};
    for (const SqlSearch& s : kSqlSearches) {
      expected.push_back(search + (server && *s.where ? " where " + std::string(s.where) : ""));
    }
    expected.push_back("Select " + U8(lookup::kColumnList) + " from Client");
    EXPECT_EQ(PreparedStatements(ReadAll(trace)), expected);
  }
  EXPECT_EQ(replies[0], replies[1]);
  const Text* r = replies[0].data();
  EXPECT_EQ(Get(r[0], u"Id"), u"P1");
  EXPECT_EQ(Get(r[0], u"Matches"), u"2");
  EXPECT_EQ(Get(r[1], u"Reason"), u"NoFind");
  EXPECT_EQ(ListIds(r[2]), (std::vector<Text>{u"Q'1"}));
  EXPECT_EQ(Get(r[3], u"Id"), u"Q'1");
  EXPECT_EQ(Get(r[3], u"Result"), u"Success");
  EXPECT_EQ(r[4], u"{Result(S4)=Fail}");
  EXPECT_EQ(r[5], u"{Result(S4)=Fail}");
  EXPECT_EQ(Get(r[6], u"Name"), u"Cara de Wit");
  for (int i : {7, 8, 11, 12}) EXPECT_EQ(r[i], u"{Result(S4)=Fail}") << i;
  EXPECT_EQ(ListIds(r[9]), (std::vector<Text>{u"P1", u"P2"}));
  EXPECT_EQ(ListIds(r[10]), (std::vector<Text>{u"c1"}));
  EXPECT_EQ(Get(r[13], u"Reason"), u"NoFind");
  EXPECT_EQ(Get(r[14], u"Id"), u"P2");
  EXPECT_EQ(Get(r[15], u"Reason"), u"NoFind");
  EXPECT_EQ(ListIds(r[16]), (std::vector<Text>{u"P1", u"P2", u"J1"}));
  EXPECT_EQ(Get(r[19], u"Reason"), u"NoFind");
  EXPECT_EQ(ListIds(r[20]), (std::vector<Text>{u"P2"}));
}

// The same searches on a database server, with SqlFilter absent and
// "Server": each reply is the one SQLite gives (the rows come back in the
// order they were inserted on both).
class OdbcLookupOnServer : public OdbcLookup, public ::testing::WithParamInterface<ServerEngine> {};

TEST_P(OdbcLookupOnServer, SqlModeRepliesAsSqlite) {
  // The fixtures' state files, also when the program runs outside ctest.
  setenv("PELLORY_PG_STATE", PELLORY_PG_STATE_FILE, 0);
  setenv("PELLORY_MARIADB_STATE", PELLORY_MARIADB_STATE_FILE, 0);
  ServerDatabase db(GetParam(), "pellory_lookup_" + std::to_string(getpid()));
  PELLORY_REQUIRE_DATABASE(db);
  const bool mariadb = GetParam() == ServerEngine::kMariadb;
  std::vector<std::string> sql = {BookTableSql(mariadb)};
  for (std::string& insert : BookInserts()) sql.push_back(std::move(insert));
  if (mariadb) {
    for (const char* index :
         {"client_id on Client (Client_Id)", "client_name on Client (Name)",
          "client_rp1 on Client (Reverse_Phone_1)", "client_rp3 on Client (Reverse_Phone_3)"}) {
      sql.push_back(std::string("create index ") + index);
    }
  }
  ASSERT_EQ(db.Run(sql), "");

  OpenSqlMode(SqliteConnect(), u"SQLite3 ODBC Driver");
  const std::vector<Text> sqlite = SqlReplies(*session);
  for (const char16_t* filter : {u"", u"Server"}) {
    SCOPED_TRACE(U8(filter));
    OpenSqlMode(FromUtf8(db.connect()), db.driver(), Text(), filter);
    const std::vector<Text> replies = SqlReplies(*session);
    ASSERT_EQ(replies.size(), sqlite.size());
    for (size_t i = 0; i < replies.size(); ++i) {
      EXPECT_EQ(replies[i], sqlite[i]) << U8(Text(kSqlSearches[i].request));
    }
    ExpectExport(u"-1");
    EXPECT_EQ(Trace(), "");
  }
  session.reset();
  ReleaseThreadEngines();
}

INSTANTIATE_TEST_SUITE_P(Engines, OdbcLookupOnServer,
                         ::testing::Values(ServerEngine::kPostgresql, ServerEngine::kMariadb),
                         [](const auto& info) { return EngineName(info.param); });

// A search whose statement the driver has not finished at the deadline is
// cancelled and answered with "Timeout", whether the driver executes
// asynchronously or only synchronously (then on a thread of the result
// set's own). The statement stops, so the connection stays; once the
// driver answers again the next search finds the contact.
TEST_F(OdbcLookup, ASlowedDriverRunsTheSearchOutOfTime) {
  for (const bool no_async : {false, true}) {
    SCOPED_TRACE(no_async ? "synchronous driver" : "asynchronous driver");
    if (no_async) setenv("PELLORY_MAXODBC_NO_ASYNC", "1", 1);
    OpenFileMode(u"1");
    const DatabaseRef db = session->crm()->database();
    // A search of the same shape runs first, so that the slowed one runs on
    // the statement it leaves.
    EXPECT_EQ(Get(session->FindContact(u"{Tel=020 7946 0000}"), u"Id"), u"C1");
    setenv("PELLORY_MAXODBC_DELAY_MS", "60000", 1);
    setenv("PELLORY_MAXODBC_DELAY_MATCH", "0987654321044", 1);
    const auto start = Clock::now();
    Text reply = session->FindContact(u"{Tel=+44 (0)1234 567890}{NiceTel=Anne}");
    const double seconds = SecondsSince(start);
    std::cout << "answer against the slowed stand-in (" << (no_async ? "sync" : "async")
              << ", Timeout=1): " << seconds << " s\n";
    EXPECT_LT(seconds, 30);  // the delay was not waited out
    EXPECT_EQ(Get(reply, u"Result"), u"Fail");
    EXPECT_EQ(Get(reply, u"Reason"), u"Timeout");
    EXPECT_EQ(Get(reply, u"Tel"), u"4401234567890");
    EXPECT_EQ(Get(reply, u"NiceTel"), u"Anne");
    EXPECT_EQ(Get(reply, u"Id"), u"");
    ASSERT_EQ(env.trace_file.lines.size(), 1u) << Trace();
    EXPECT_TRUE(env.trace_file.lines[0].ends_with(u"    @ Timeout after 1 s @ Pell.Find"));
    EXPECT_EQ(session->crm()->database(), db);

    unsetenv("PELLORY_MAXODBC_DELAY_MS");
    // The cancelled statement is not used again: the searches after it
    // read their own rows.
    for (int i = 0; i < 2; ++i) {
      reply = session->FindContact(u"{Tel=+44 (0)1234 567890}");
      EXPECT_EQ(Get(reply, u"Id"), u"P1");
      EXPECT_EQ(Get(reply, u"Result"), u"Success");
      EXPECT_EQ(Get(session->FindContact(u"{Tel=020 7946 0000}"), u"Id"), u"C1");
    }
    unsetenv("PELLORY_MAXODBC_DELAY_MATCH");
    unsetenv("PELLORY_MAXODBC_NO_ASYNC");
    EXPECT_TRUE(BackgroundCallsEnd());
    session.reset();
    ReleaseThreadEngines();
    env.trace_file.lines.clear();
  }
}

// A PostgreSQL server frozen with SIGSTOP answers nothing: psqlODBC's
// statement, its cancel request and a new connection all wait on it. Each
// call still answers at its deadline and leaves what waits to threads of
// their own; a connection whose statement was left waiting is not used
// again; and the first search after the server thaws finds the contact
// without a restart.
TEST_F(OdbcLookup, AFrozenPostgresqlServerCannotHoldALookupPastItsDeadline) {
  PrivatePg pg(sandbox.Dir() / "pg.env");
  PELLORY_REQUIRE_PG(pg.server);
  const std::string connect = pg.server.ConnectString("postgres");
  ASSERT_EQ(ExecSql(connect, {BookTableSql()}), "");
  for (const std::string& insert : BookInserts()) ASSERT_EQ(ExecSql(connect, {insert}), "");
  OpenSqlMode(FromUtf8(connect), u"PostgreSQL Unicode", u"2");
  EXPECT_EQ(Get(session->FindContact(u"{Tel=1234 567890}"), u"Id"), u"P1");

  struct Step {
    const char* name;
    bool frozen;
    bool export_start;  // CacheStart instead of a search
    const char16_t* result;
    const char16_t* reason;
  };
  const Step steps[] = {
      {"a search on the open connection", true, false, u"Fail", u"Timeout"},
      {"a search connecting anew", true, false, u"Fail", u"Timeout"},
      {"a search after the server thawed", false, false, u"Success", u""},
      {"an export on the open connection", true, true, u"Fail", u"Timeout"},
      {"a search on the connection the export left busy", true, false, u"Fail", u"Timeout"},
      {"a search after the server thawed again", false, false, u"Success", u""},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    if (step.frozen && !pg.frozen()) pg.Freeze();
    if (!step.frozen) pg.Thaw();
    const size_t traced = env.trace_file.lines.size();
    const auto start = Clock::now();
    Text reply =
        step.export_start ? session->CacheStart() : session->FindContact(u"{Tel=1234 567890}");
    const double seconds = SecondsSince(start);
    std::cout << "answer against the frozen server, " << step.name << " (Timeout=2): " << seconds
              << " s\n";
    EXPECT_LT(seconds, 60);  // did not hang
    EXPECT_EQ(Get(reply, u"Result"), step.result) << U8(reply);
    EXPECT_EQ(Get(reply, u"Reason"), step.reason);
    if (Text(step.reason) == u"Timeout") {
      ASSERT_GT(env.trace_file.lines.size(), traced);
      const Text tag = step.export_start ? u" @ Pell.CacheRecordReal" : u" @ Pell.Find";
      EXPECT_TRUE(env.trace_file.lines.back().ends_with(u"    @ Timeout after 2 s" + tag))
          << Trace();
    } else {
      EXPECT_EQ(Get(reply, u"Id"), u"P1");
      EXPECT_EQ(env.trace_file.lines.size(), traced) << Trace();
    }
    if (step.export_start) session->CacheEnd();
  }
  EXPECT_TRUE(BackgroundCallsEnd());
  session.reset();
  ReleaseThreadEngines();
}

}  // namespace
}  // namespace pellory::testing
