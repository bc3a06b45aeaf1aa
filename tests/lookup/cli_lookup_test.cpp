// `pellory find` and `pellory export` as a PBX script or a person runs them,
// over the stand-in driver and a private ODBC configuration.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "plugin/records.h"
#include "support/fake_env.h"
#include "support/odbc_sandbox.h"
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

  // A book that cannot be loaded is a failure, not "not found".
  UseBook(sandbox.Dir() / "missing");
  r = Pellory({"find", "--tel", "1"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("Could not load Database"), std::string::npos) << r.err;
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
