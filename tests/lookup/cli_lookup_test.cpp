// `pellory find` and `pellory export` as a PBX script or a person runs them,
// over the stand-in driver and a private ODBC configuration.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "addressbook.h"
#include "plugin/records.h"
#include "support/crmdb_odbc.h"
#include "support/fake_env.h"
#include "support/odbc_sandbox.h"
#include "support/pg_server.h"
#include "support/shell.h"

namespace pellory::testing {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int exit_code = -1;
  std::string out, err;
};

class LookupCli : public ::testing::Test {
 protected:
  // Host settings naming the address book in `book`, and a Timeout setting
  // when one is given.
  void UseBook(const fs::path& book, const char16_t* timeout = u"") {
    FakeEnv env;
    Text data, settings;
    AddVar(env, data, u"DBFile", Variant(FromUtf8(book.string())));
    AddVar(env, data, u"Timeout", Variant(timeout));
    AddVar(env, settings, u"DataRd", Variant(data));
    std::ofstream(sandbox.Dir() / "host.rec") << U8(settings);
  }

  Outcome Pellory(const std::vector<std::string>& args, const std::string& tail = "") {
    const fs::path& d = sandbox.Dir();
    std::string cmd = "PELLORY_HOST_SETTINGS=" + Quote((d / "host.rec").string()) +
                      " PELLORY_REGISTRY=" + Quote((d / "registry.reg").string()) +
                      " PELLORY_TRACE_LOG=" + Quote((d / "trace.log").string()) + " " +
                      Quote(PELLORY_BIN);
    for (const auto& a : args) cmd += " " + Quote(a);
    cmd += tail.empty() ? " >" + Quote((d / "out").string()) : tail;
    cmd += " 2>" + Quote((d / "err").string());
    Outcome r;
    // The exit status of a pipeline is that of pellory, not of its reader.
    int status = std::system(("bash -c " + Quote("set -o pipefail; " + cmd)).c_str());
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = ReadAll(d / "out");
    r.err = ReadAll(d / "err");
    return r;
  }

  OdbcSandbox sandbox;
};

TEST_F(LookupCli, FindAnswersScriptsByExitStatus) {
  UseBook(OdbcSandbox::SampleAddressBookDir());
  Outcome r = Pellory({"find", "--tel", "+44 (0)1234 567890", "--format", "name"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "John Smith\n");

  r = Pellory({"find", "--tel", "0800 000 000", "--format", "name"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");

  r = Pellory({"find", "--tel", "+44 (0)1234 567890", "--raw"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out.rfind("{Id(S12)=970101000001}{Name(S10)=John Smith}", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("{Tel(S13)=4401234567890}"), std::string::npos);

  r = Pellory({"find", "--text", "smith", "--list", "--format", "json"});
  EXPECT_EQ(r.exit_code, 0);
  nlohmann::json j = nlohmann::json::parse(r.out, nullptr, false);
  ASSERT_TRUE(j.is_object()) << r.out;
  EXPECT_EQ(j["found"], true);
  ASSERT_FALSE(j["contacts"].empty());
  EXPECT_EQ(j["contacts"][0]["Name"], "John Smith");
  EXPECT_EQ(j["matches"], j["contacts"].size());

  r = Pellory({"find", "--id", "x' or '1'='1", "--format", "json"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "{\"found\":false}\n");

  r = Pellory({"find"});
  EXPECT_EQ(r.exit_code, 2);

  // Caller IDs that are no number find nobody without a statement sent.
  StatementLog statements;
  for (const char* withheld : {"", "anonymous", "WITHHELD", "+"}) {
    r = Pellory({"find", "--tel", withheld, "--format", "json"});
    EXPECT_EQ(r.exit_code, 1) << withheld;
    EXPECT_EQ(r.out, "{\"found\":false}\n");
  }
  EXPECT_TRUE(statements.Lines().empty());

  // A book that cannot be loaded is a failure, not "not found", and the
  // reason the driver gave is shown with what to check.
  UseBook(sandbox.Dir() / "missing");
  r = Pellory({"find", "--tel", "1"});
  EXPECT_EQ(r.exit_code, 2);
  for (const char* said : {"Could not load Database", "mxza.max not found) @ Pellory.Load",
                           "check the host settings"}) {
    EXPECT_NE(r.err.find(said), std::string::npos) << said << "\n" << r.err;
  }
  // Only this run's reasons: the earlier run's line is in the log, not here.
  r = Pellory({"find", "--tel", "2"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 3) << r.err;
}

// Without host settings the sample book answers, and stderr says so.
TEST_F(LookupCli, DefaultSettingsAreNamedOnStderr) {
  Outcome r = Pellory({"find", "--tel", "+44 (0)1234 567890", "--format", "name"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "John Smith\n");
  EXPECT_NE(r.err.find("no host settings in"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("pellory configure"), std::string::npos) << r.err;
  UseBook(OdbcSandbox::SampleAddressBookDir());
  EXPECT_EQ(Pellory({"find", "--tel", "+44 (0)1234 567890", "--format", "name"}).err, "");
}

// Phone-system workers looking callers up at once, file mode and SQL mode
// mixed, through data sources the lookups register themselves: none fails,
// and what the user's data-source file held stays byte for byte.
TEST_F(LookupCli, ConcurrentLookupsShareTheDataSourceFile) {
  const fs::path& d = sandbox.Dir();
  const std::string users_own =
      "# Data sources of this desk\n\n[Desk Book]\nDriver = SQLite3 ODBC Driver\n"
      "Database=/srv/desk.db\n\n; kept as written\n";
  std::ofstream(sandbox.UserIni()) << users_own;
  UseBook(OdbcSandbox::SampleAddressBookDir());
  fs::rename(d / "host.rec", d / "file.rec");
  {
    FakeEnv env;
    const std::string book = (OdbcSandbox::SampleAddressBookDir() / "mxza.max").string();
    Text connection, data, settings;
    AddVar(env, connection, u"ConnName", Variant(u"Pellory Sample SQL"));
    AddVar(env, connection, u"Driver", Variant(u"SQLite3 ODBC Driver"));
    AddVar(env, connection, u"Connect",
           Variant(FromUtf8("DSN=Pellory Sample SQL;Database=" + book)));
    AddVar(env, data, u"UseSQL", Variant(u"True"));
    AddVar(env, data, u"Connection", Variant(connection));
    AddVar(env, settings, u"DataRd", Variant(data));
    std::ofstream(d / "sql.rec") << U8(settings);
  }
  const int workers = 8, lookups = 25;
  std::string script;
  for (int w = 0; w < workers; ++w) {
    const fs::path settings = d / (w % 2 ? "sql.rec" : "file.rec");
    script += "(for i in $(seq " + std::to_string(lookups) +
              "); do PELLORY_HOST_SETTINGS=" + Quote(settings.string()) +
              " PELLORY_TRACE_LOG=" + Quote((d / "trace.log").string()) + " " + Quote(PELLORY_BIN) +
              " find --tel '+44 (0)1234 567890' --format name 2>/dev/null || echo failed; done) " +
              ">" + Quote((d / ("worker" + std::to_string(w))).string()) + " &\n";
  }
  script += "wait\n";
  ASSERT_EQ(std::system(("bash -c " + Quote(script)).c_str()), 0);
  int answered = 0, failed = 0;
  for (int w = 0; w < workers; ++w) {
    std::istringstream lines(ReadAll(d / ("worker" + std::to_string(w))));
    for (std::string line; std::getline(lines, line);) {
      (line == "John Smith" ? answered : failed) += 1;
    }
  }
  EXPECT_EQ(answered, workers * lookups);
  EXPECT_EQ(failed, 0) << ReadAll(d / "trace.log");
  const std::string ini = ReadAll(sandbox.UserIni());
  EXPECT_EQ(ini.substr(0, users_own.size()), users_own);
  for (const char* section : {"[Maximizer SP1]", "[Pellory Sample SQL]"}) {
    EXPECT_EQ(ini.find(section), ini.rfind(section)) << ini;
    EXPECT_NE(ini.find(section), std::string::npos) << ini;
  }
}

// `--timeout` and the stored Timeout against the stand-in driver slowed
// beyond them: a lookup that runs out of time is "not found" for the reason
// Timeout; an export whose statement does not open in time is a failure.
TEST_F(LookupCli, TimeoutAgainstASlowedDriver) {
  struct Case {
    const char16_t* stored;  // the Timeout setting of the host settings
    const char* slowed;      // the statements the driver delays
    const char* delay_ms;
    std::vector<std::string> args;
    int exit_code;
    std::string out;  // what standard output starts with
    std::string err;  // what standard error holds
  };
  const std::vector<std::string> find = {"find", "--tel", "+44 (0)1234 567890"};
  auto with = [&](std::vector<std::string> more) {
    more.insert(more.begin(), find.begin(), find.end());
    return more;
  };
  const Case cases[] = {
      {u"", "Reverse_Phone", "60000", with({"--raw", "--timeout", "1"}), 1,
       "{Tel(S13)=4401234567890}{Speed(N", ""},
      {u"", "Reverse_Phone", "60000", with({"--format", "json", "--timeout", "1"}), 1,
       "{\"found\":false,\"reason\":\"Timeout\"}\n", "pellory find: Timeout"},
      {u"1", "Reverse_Phone", "60000", with({"--format", "name"}), 1, "", "pellory find: Timeout"},
      // The command line's 0 lifts the stored limit for the run.
      {u"1", "Reverse_Phone", "1500", with({"--format", "name", "--timeout", "0"}), 0,
       "John Smith\n", ""},
      {u"",
       "select * from Client",
       "60000",
       {"export", "--timeout", "1"},
       2,
       "",
       "pellory export: Timeout"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back() + " slowed: " + c.slowed);
    UseBook(OdbcSandbox::SampleAddressBookDir(), c.stored);
    setenv("PELLORY_MAXODBC_DELAY_MS", c.delay_ms, 1);
    setenv("PELLORY_MAXODBC_DELAY_MATCH", c.slowed, 1);
    Outcome r = Pellory(c.args);
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_EQ(r.out.substr(0, c.out.size()), c.out);
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
  EXPECT_NE(ReadAll(sandbox.Dir() / "trace.log").find("@ Timeout after 1 s @ Pell.Find"),
            std::string::npos);
  unsetenv("PELLORY_MAXODBC_DELAY_MATCH");
  unsetenv("PELLORY_MAXODBC_DELAY_MS");
}

// Every exported record against its row of the table, in table order.
TEST_F(LookupCli, ExportOfALargeBookMatchesTheTable) {
  const int n = 10000;
  fs::path book = sandbox.MakeSyntheticAddressBook("big", n, 11);
  UseBook(book);
  Outcome r =
      Pellory({"export", "--format", "jsonl", "--output", (sandbox.Dir() / "x.jsonl").string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");  // no progress bar without a terminal
  std::ifstream exported(sandbox.Dir() / "x.jsonl");

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2((book / "mxza.max").c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
            SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "select * from Client order by rowid", -1, &st, nullptr),
            SQLITE_OK);
  auto col = [&](const char* name) {
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      if (EqualsNoCase(FromUtf8(sqlite3_column_name(st, i)), FromUtf8(name))) {
        const unsigned char* t = sqlite3_column_text(st, i);
        return std::string(t ? reinterpret_cast<const char*>(t) : "");
      }
    }
    return std::string("?");
  };
  auto trim = [](std::string s) {
    s.erase(0, s.find_first_not_of(' '));
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
  };
  int rows = 0, mismatches = 0;
  std::string line;
  while (sqlite3_step(st) == SQLITE_ROW && std::getline(exported, line)) {
    ++rows;
    nlohmann::json rec = nlohmann::json::parse(line);
    std::map<std::string, std::string> want = {{"Dept", col("DEPARTMENT")},
                                               {"Position", col("TITLE")},
                                               {"Address", col("ADDRESS_Line_1")},
                                               {"Address2", col("ADDRESS_Line_2")},
                                               {"Town", col("CITY")},
                                               {"County", col("STATE_PROVINCE")},
                                               {"PostCode", col("ZIP_CODE")},
                                               {"Country", col("COUNTRY")}};
    if (!col("Client_Id").empty()) want["Id"] = col("Client_Id");
    if (col("Name_Type") == "I") {
      want["Name"] = trim(trim(col("First_Name")) + " " + col("Name"));
      want["Company"] = col("Firm");
    } else {
      want["Company"] = col("Name");
    }
    std::set<std::string> phones, got_phones;
    for (const char* p : {"PHONE_1", "PHONE_2", "PHONE_3", "PHONE_4"}) phones.insert(col(p));
    for (const char* key : {"MainTel", "Fax", "Business", "Phone1", "Phone2", "Phone3", "Other"}) {
      if (rec.contains(key)) got_phones.insert(rec[key].get<std::string>());
    }
    bool ok = std::includes(phones.begin(), phones.end(), got_phones.begin(), got_phones.end());
    for (const auto& [key, value] : want) ok = ok && rec.value(key, std::string("?")) == value;
    if (!ok && ++mismatches <= 3) ADD_FAILURE() << "row " << rows << ": " << line;
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  EXPECT_EQ(rows, n);
  EXPECT_FALSE(std::getline(exported, line)) << "more records than rows";
  EXPECT_EQ(mismatches, 0);
}

// Damaged books: the export and the searches that run into the damage fail
// with the driver's reason, never end early as if the book had ended, and
// no export file is left under its final name.
TEST_F(LookupCli, ADamagedBookIsAFailureNeverAPartialSuccess) {
  struct Case {
    const char* what;
    std::function<void(const fs::path& book)> damage;
    const char* reason;
    std::vector<std::string> search;
  } cases[] = {
      {"a zeroed stretch of pages in the middle",
       [](const fs::path& book) {
         std::fstream f(book, std::ios::in | std::ios::out | std::ios::binary);
         f.seekp(0, std::ios::end);
         f.seekp(f.tellp() / 2 / 4096 * 4096);
         const std::string zeros(64 * 1024, '\0');
         f.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
       },
       "malformed",
       {"--text", "zz", "--list"}},
      {"cut off at half its length",
       [](const fs::path& book) { fs::resize_file(book, fs::file_size(book) / 2); },
       "malformed",
       {"--text", "zz", "--list"}},
      {"a column missing",
       [](const fs::path& book) {
         ASSERT_EQ(std::system(("sqlite3 " + Quote(book.string()) +
                                " 'alter table Client drop column COUNTRY'")
                                   .c_str()),
                   0);
       },
       "no column COUNTRY",
       {"--tel", "+44 20 7946 0000"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::path book = sandbox.MakeSyntheticAddressBook(std::string("damaged") + c.what, 20000, 5);
    c.damage(book / "mxza.max");
    UseBook(book);
    const fs::path out = sandbox.Dir() / "contacts.csv";
    Outcome r = Pellory({"export", "--output", out.string()});
    EXPECT_EQ(r.exit_code, 2) << r.err;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(out.string() + ".partial"));

    std::vector<std::string> args{"find"};
    args.insert(args.end(), c.search.begin(), c.search.end());
    r = Pellory(args);
    EXPECT_EQ(r.exit_code, 2) << r.out << r.err;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
  }
}

// PostgreSQL stopped at once in the middle of an export that fetches through
// a cursor, and in the middle of a SQL-mode search: both fail with the
// reason (exit 2), no export file is left, and once the server is back the
// same commands work. The server is one of the test's own, so that the
// server the other tests share is never stopped.
TEST_F(LookupCli, PostgresqlStoppedMidStreamIsAFailure) {
  const fs::path& d = sandbox.Dir();
  const std::string script = PELLORY_SOURCE_DIR "/scripts/pg-test-server.sh";
  const std::string state = (d / "pg.env").string();
  ASSERT_EQ(
      std::system(("bash " + Quote(script) + " start " + Quote(state) + " >/dev/null").c_str()), 0);
  struct Stop {
    std::string command;
    ~Stop() { std::system(command.c_str()); }
  } stop{"bash " + Quote(script) + " stop " + Quote(state)};
  setenv("PELLORY_PG_STATE", state.c_str(), 1);
  PgServer pg = PgServer::FromEnvironment();
  PELLORY_REQUIRE_PG(pg);
  std::string pg_dir;
  for (std::istringstream in(ReadAll(state)); std::getline(in, pg_dir);) {
    if (pg_dir.rfind("PG_DIR=", 0) == 0) break;
  }
  pg_dir = pg_dir.substr(7);

  std::string table = "create table Client (", rows = "insert into Client select ";
  for (std::string_view column : standins::kClientColumns) {
    const bool first = table.back() == '(';
    table += std::string(first ? "" : ", ") + std::string(column) + " text";
    rows += std::string(first ? "" : ", ") + (column == "Client_Id" ? "'C' || n"
                                              : column == "Name"    ? "'Name' || n"
                                                                    : "'x'");
  }
  ASSERT_EQ(ExecSql(pg.ConnectString("postgres"),
                    {table + ")", rows + " from generate_series(1, 40000) as n"}),
            "");
  {
    FakeEnv env;
    Text connection, data, settings;
    AddVar(env, connection, u"ConnName", Variant(u"Outage"));
    AddVar(env, connection, u"Connect",
           Variant(FromUtf8(pg.ConnectString("postgres") + ";UseDeclareFetch=1;Fetch=20")));
    AddVar(env, data, u"UseSQL", Variant(u"True"));
    AddVar(env, data, u"Connection", Variant(connection));
    AddVar(env, settings, u"DataRd", Variant(data));
    std::ofstream(d / "host.rec") << U8(settings);
  }
  const std::string pg_ctl =
      "runuser -u postgres -- /usr/lib/postgresql/15/bin/pg_ctl -D " + Quote(pg_dir + "/data");
  const std::string env = "PELLORY_HOST_SETTINGS=" + Quote((d / "host.rec").string()) +
                          " PELLORY_TRACE_LOG=" + Quote((d / "trace.log").string()) + " ";
  const fs::path out = d / "all.csv";
  // Runs `command` in the background, waits until `started` holds, stops
  // the server at once and gives the command's exit status and stderr. The
  // command is held still while the server stops, so that a fast run cannot
  // finish in between.
  auto interrupted = [&](const std::string& command, const std::string& started) {
    std::string run = env + command + " 2>" + Quote((d / "err").string()) + " & pid=$!\n" +
                      "for i in $(seq 3000); do " + started + " && break; sleep 0.02; done\n" +
                      "pkill -STOP -P $pid; kill -STOP $pid\n" + pg_ctl +
                      " -m immediate stop >/dev/null\n" + "kill -CONT $pid; pkill -CONT -P $pid\n" +
                      "wait $pid; exit $?";
    int status = std::system(("bash -c " + Quote(run)).c_str());
    return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(d / "err"));
  };
  auto restart = [&] {
    ASSERT_EQ(std::system((pg_ctl + " -l " + Quote(pg_dir + "/server.log") + " -w -o " +
                           Quote("-p " + pg.port + " -k " + pg_dir +
                                 " -c listen_addresses=127.0.0.1 -c fsync=off") +
                           " start >/dev/null")
                              .c_str()),
              0);
  };
  const std::string bin = Quote(PELLORY_BIN);

  auto [code, err] = interrupted(bin + " export --output " + Quote(out.string()),
                                 "[ $(stat -c %s " + Quote(out.string() + ".partial") +
                                     " 2>/dev/null || echo 0) -gt 100000 ]");
  EXPECT_EQ(code, 2) << err;
  EXPECT_NE(err.find("stopped after"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(out));
  EXPECT_FALSE(fs::exists(out.string() + ".partial"));
  restart();
  Outcome r = Pellory({"export", "--output", out.string()});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(
      std::count(std::istreambuf_iterator<char>(*std::make_unique<std::ifstream>(out)), {}, '\n'),
      40001);

  // A search reads the whole table through the cursor: stopped while the
  // server answers its fetches.
  const std::string fetching =
      "psql -h 127.0.0.1 -p " + pg.port + " -U " + pg.user +
      " -d postgres -Atc \"select count(*) from pg_stat_activity where query like 'fetch%'\" "
      "2>/dev/null | grep -qv '^0$'";
  std::tie(code, err) = interrupted(bin + " find --text Name39999 --list >/dev/null",
                                    "PGPASSWORD=" + Quote(pg.password) + " " + fetching);
  EXPECT_EQ(code, 2) << err;
  EXPECT_NE(err.find("the search failed"), std::string::npos) << err;
  restart();
  r = Pellory({"find", "--text", "Name39999", "--list", "--format", "name"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
}

TEST_F(LookupCli, ExportToAPipeThatClosesEarly) {
  UseBook(sandbox.MakeSyntheticAddressBook("pipe", 5000, 3));
  // Far more than a pipe holds: the reader leaves while the export writes.
  Outcome r = Pellory({"export"}, " | head -3 >" + Quote((sandbox.Dir() / "out").string()));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 3), "Id,");
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3);
  EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace pellory::testing
