// Sessions on several threads at once, as a host with several apartment
// threads has them: each thread has its own platform object and Session, and
// all of them read the same address book through the same data-source file,
// in file mode and SQL mode. The test command runs this under
// ThreadSanitizer, which reports any data race between the threads.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "lookup/odbc_session.h"
#include "platform/odbc/odbc_installer.h"

namespace pellory::testing {
namespace {

constexpr char kBook[] =
    "Client_Id,Name_Type,First_Name,Name,Firm,PHONE_1,PHONE_1_Extension\n"
    "P1,I,Anne,Smith,Acme Ltd,+44 (0)1234 567890,MAIN\n"
    "P2,I,John,Jones,Jones & Co,01632 960001,WORK\n";

// One thread's session: `rounds` times it loads (connecting anew) and looks
// up `lookups` numbers. Returns what went wrong, with the trace, or "".
std::string RunSession(const std::filesystem::path& book, bool sql, int rounds, int lookups,
                       std::atomic<int>* found) {
  FakeEnv env;
  env.database_engines = std::make_unique<OdbcEngines>();
  Text data = Record({{u"DBFile", FromUtf8(book.string())}});
  if (sql) {
    data = SqlSettings(Record(
        {{u"ConnName", u"Pellory Threads"},
         {u"Driver", u"SQLite3 ODBC Driver"},
         {u"Connect", u"DSN=Pellory Threads;Database=" + FromUtf8((book / "mxza.max").string())}}));
  }
  std::string trouble;
  for (int round = 0; round < rounds && trouble.empty(); ++round) {
    Session session(env, WireSubsystems);
    Text user, vars;
    ObjectRef callback;
    session.Initialize(data, user, callback);
    Text load = session.Load(vars);
    if (load != u"{Result=Success}") trouble = "load: " + ToUtf8(load);
    for (int i = 0; i < lookups && trouble.empty(); ++i) {
      Text tel = i % 2 ? u"{Tel=01632 960001}" : u"{Tel=+44 (0)1234 567890}";
      // One statement shape with two numbers in turn: each search reads
      // its own contact.
      Text reply = session.FindContact(tel);
      if (GetText(env, reply, u"Id") == (i % 2 ? u"P2" : u"P1")) {
        ++*found;
      } else {
        trouble = "lookup " + std::to_string(i) + ": " + ToUtf8(reply);
      }
    }
  }
  if (!trouble.empty()) {
    for (const Text& line : env.trace_file.lines) trouble += "\n" + ToUtf8(line);
  }
  ReleaseThreadEngines();
  return trouble;
}

TEST(SessionThreads, EightThreadsLookUpAtOnce) {
  OdbcSandbox sandbox;
  const std::filesystem::path book = sandbox.MakeAddressBook("book", kBook);
  const int threads = 8, lookups = 20;
  std::atomic<int> found{0};
  std::vector<std::string> trouble(threads);
  std::vector<std::thread> running;
  for (int n = 0; n < threads; ++n) {
    running.emplace_back([&, n] { trouble[n] = RunSession(book, n % 2, 1, lookups, &found); });
  }
  for (std::thread& t : running) t.join();
  for (int n = 0; n < threads; ++n) EXPECT_EQ(trouble[n], "") << "thread " << n;
  EXPECT_EQ(found, threads * lookups);
}

// The driver manager narrows its data-source look-ups to one file while the
// sources of that file are listed (as the data-source list of the
// configuration dialog does); a connect on another thread at that moment
// must still find its source in the other file.
TEST(SessionThreads, ListingDataSourcesHidesNoSourceFromAConnect) {
  OdbcSandbox sandbox;
  const std::filesystem::path book = sandbox.MakeAddressBook("book", kBook);
  std::atomic<bool> done{false};
  std::atomic<int> found{0}, listings{0};
  std::thread lister([&] {
    while (!done) {
      for (bool system : {true, false}) (void)odbc::DataSourceNames(system);
      ++listings;
    }
  });
  const int threads = 3, rounds = 15;
  std::vector<std::string> trouble(threads);
  std::vector<std::thread> running;
  for (int n = 0; n < threads; ++n) {
    running.emplace_back([&, n] { trouble[n] = RunSession(book, false, rounds, 2, &found); });
  }
  for (std::thread& t : running) t.join();
  done = true;
  lister.join();
  for (int n = 0; n < threads; ++n) EXPECT_EQ(trouble[n], "") << "thread " << n;
  EXPECT_EQ(found, threads * rounds * 2);
  EXPECT_GT(listings, 0);
}

}  // namespace
}  // namespace pellory::testing
