// Sessions on several threads at once, as a host with several apartment
// threads has them: each thread has its own platform object and Session, and
// all of them read the same address book through the same data-source file,
// in file mode and SQL mode. The test command runs this under
// ThreadSanitizer, which reports any data race between the threads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "lookup/odbc_session.h"

namespace pellory::testing {
namespace {

constexpr char kBook[] =
    "Client_Id,Name_Type,First_Name,Name,Firm,PHONE_1,PHONE_1_Extension\n"
    "P1,I,Anne,Smith,Acme Ltd,+44 (0)1234 567890,MAIN\n"
    "P2,I,John,Jones,Jones & Co,01632 960001,WORK\n";

TEST(SessionThreads, EightThreadsLookUpAtOnce) {
  OdbcSandbox sandbox;
  const std::filesystem::path book = sandbox.MakeAddressBook("book", kBook);
  const int threads = 8, lookups = 20;
  std::atomic<int> found{0};
  std::vector<std::string> trouble(threads);

  auto worker = [&](int n) {
    FakeEnv env;
    env.database_engines = std::make_unique<OdbcEngines>();
    Text data = Record({{u"DBFile", FromUtf8(book.string())}});
    if (n % 2) {
      data = SqlSettings(Record({{u"ConnName", u"Pellory Threads"},
                                 {u"Driver", u"SQLite3 ODBC Driver"},
                                 {u"Connect", u"DSN=Pellory Threads;Database=" +
                                                  FromUtf8((book / "mxza.max").string())}}));
    }
    {
      Session session(env, WireSubsystems);
      Text user, vars;
      ObjectRef callback;
      session.Initialize(data, user, callback);
      Text load = session.Load(vars);
      if (load != u"{Result=Success}") trouble[n] = "load: " + ToUtf8(load);
      for (int i = 0; i < lookups && trouble[n].empty(); ++i) {
        // One statement shape with two numbers in turn: each search reads
        // its own contact.
        Text tel = i % 2 ? u"{Tel=01632 960001}" : u"{Tel=+44 (0)1234 567890}";
        Text reply = session.FindContact(tel);
        if (GetText(env, reply, u"Id") == (i % 2 ? u"P2" : u"P1")) {
          ++found;
        } else {
          trouble[n] = "lookup " + std::to_string(i) + ": " + ToUtf8(reply);
        }
      }
    }
    for (const Text& line : env.trace_file.lines) trouble[n] += "\n" + ToUtf8(line);
    ReleaseThreadEngines();
  };
  std::vector<std::thread> running;
  for (int n = 0; n < threads; ++n) running.emplace_back(worker, n);
  for (std::thread& t : running) t.join();
  for (int n = 0; n < threads; ++n) EXPECT_EQ(trouble[n], "") << "thread " << n;
  EXPECT_EQ(found, threads * lookups);
}

}  // namespace
}  // namespace pellory::testing
