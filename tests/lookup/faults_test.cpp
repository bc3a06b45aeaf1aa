// The failure campaign: each ODBC call of a scenario is made to fail in
// turn, with a realistic state, until the scenario runs through without
// reaching the countdown. Every injected failure must leave a trace line and
// a failure the caller can see (never a success or an end of data that hides
// it), and the next Load must work again. Run under AddressSanitizer by the
// test command, which also checks that nothing leaks.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "lookup/odbc_session.h"
#include "platform/odbc/fault_injection.h"

namespace pellory::testing {
namespace {

using odbc::FaultInjection;

constexpr char kBook[] =
    "Client_Id,Name_Type,First_Name,Name,Firm,PHONE_1,PHONE_1_Extension\n"
    "P1,I,Anne,Smith,Acme Ltd,+44 (0)1234 567890,MAIN\n"
    "P2,I,John,Smith,Smith & Sons,01632 960001,WORK\n"
    "C1,C,,Acme Ltd,,020 7946 0000,FAX\n";

// What a scenario saw: whether it failed in a way its caller can tell.
struct Outcome {
  bool failed = false;
  std::string detail;
};

class FaultCampaign : public OdbcSessionTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    OdbcSessionTest::SetUp();
    book = sandbox.MakeAddressBook("book", kBook);
  }
  void TearDown() override {
    FaultInjection::Disarm();
    OdbcSessionTest::TearDown();
  }
  bool sql_mode() const { return GetParam(); }

  Text Settings() {
    if (!sql_mode()) return Record({{u"DBFile", FromUtf8(book.string())}});
    return SqlSettings(Record({{u"ConnName", u"Faults"},
                               {u"Driver", u"SQLite3 ODBC Driver"},
                               {u"Connect", u"DRIVER={SQLite3 ODBC Driver};Database=" +
                                                FromUtf8((book / "mxza.max").string())}}));
  }
  Text Load() {
    Text vars;
    return session->Load(vars);
  }
  Text Result(TextView reply) { return GetText(env, reply, u"Result"); }

  // A search's outcome: the host's reply, or the failure the Session kept.
  Outcome Search(TextView request, bool list) {
    Text reply = list ? session->FindList(Text(request)) : session->FindContact(Text(request));
    const Text& failure = session->lookup()->search_failure();
    return {Result(reply) != u"Success" || !failure.empty(),
            ToUtf8(reply) + " / " + ToUtf8(failure)};
  }

  // Runs `scenario` with the nth checked call failing, for n = 1, 2, ...
  // until it runs through without reaching the countdown. `prepare` runs
  // unarmed before each try. Returns the number of injection points.
  int Campaign(const std::function<void()>& prepare, const std::function<Outcome()>& scenario) {
    int points = 0;
    for (int n = 1; n < 500; ++n) {
      SCOPED_TRACE("call " + std::to_string(n));
      prepare();
      env.trace_file.lines.clear();
      FaultInjection::Arm(n, n % 2 ? "08S01" : "HY000");
      Outcome outcome = scenario();
      const bool fired = FaultInjection::Fired();
      FaultInjection::Disarm();
      if (!fired) {
        EXPECT_FALSE(outcome.failed) << outcome.detail;
        return points;
      }
      ++points;
      EXPECT_TRUE(outcome.failed) << outcome.detail;
      EXPECT_FALSE(env.trace_file.lines.empty()) << outcome.detail;
      // The next Load works again.
      session->Unload();
      EXPECT_EQ(Load(), u"{Result=Success}");
    }
    ADD_FAILURE() << "the scenario never ran through";
    return points;
  }

  std::filesystem::path book;
};

TEST_P(FaultCampaign, EveryInjectedFailureIsReportedAndTheNextLoadWorks) {
  std::map<std::string, int> points;
  auto fresh = [&] { Start(Settings()); };
  auto loaded = [&] {
    Start(Settings());
    ASSERT_EQ(Load(), u"{Result=Success}");
  };
  points["load"] = Campaign(fresh, [&] {
    Text reply = Load();
    return Outcome{Result(reply) != u"Success", ToUtf8(reply)};
  });
  // A number search on its own, and after a search of the same shape (whose
  // statement it then reuses). After a failed one the next search of that
  // shape gives the whole contact: a statement that failed is not reused.
  loaded();
  const Text c1 = session->FindContact(u"{Tel=020 7946 0000}");
  ASSERT_EQ(GetText(env, c1, u"Id"), u"C1");
  auto search_then_next = [&] {
    Outcome o = Search(u"{Tel=+44 (0)1234 567890}", false);
    if (FaultInjection::Fired()) {
      FaultInjection::Disarm();
      EXPECT_EQ(session->FindContact(u"{Tel=020 7946 0000}"), c1);
    }
    return o;
  };
  points["number search"] = Campaign(loaded, search_then_next);
  auto searched = [&] {
    loaded();
    ASSERT_EQ(GetText(env, session->FindContact(u"{Tel=01632 960001}"), u"Id"), u"P2");
  };
  points["number search again"] = Campaign(searched, search_then_next);
  points["list search"] = Campaign(loaded, [&] { return Search(u"{Text=smith}", true); });
  points["export"] = Campaign(loaded, [&] {
    Outcome o;
    Text reply = session->CacheStart();
    o.detail = ToUtf8(reply);
    if (Result(reply) == u"Fail") o.failed = true;
    for (int guard = 0; guard < 10 && !o.failed; ++guard) {
      reply = session->CacheRecord();
      o.detail += " " + ToUtf8(reply);
      if (Result(reply) == u"Fail") o.failed = true;
      if (Result(reply) == u"Eof") break;
    }
    session->CacheEnd();
    return o;
  });
  points["unload"] = Campaign(loaded, [&] {
    session->Unload();
    return Outcome{};
  });
  for (const auto& [scenario, n] : points) {
    std::cout << (sql_mode() ? "SQL mode, " : "file mode, ") << scenario << ": " << n
              << " injection points\n";
  }
  EXPECT_GT(points["load"], 0);
  EXPECT_GT(points["number search"], 0);
  EXPECT_GT(points["number search again"], 0);
  EXPECT_GT(points["export"], 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, FaultCampaign, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "SqlMode" : "FileMode"; });

}  // namespace
}  // namespace pellory::testing
