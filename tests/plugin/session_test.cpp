#include "plugin/session.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "platform/failure.h"
#include "plugin/records.h"
#include "plugin/thread_state.h"
#include "support/fake_db.h"
#include "support/fake_env.h"

namespace pellory::testing {
namespace {

// What the Session asked of its subsystems, and what they answer.
struct Calls {
  int loads = 0;
  Text load_reply;
  bool throw_in_load = false;
  bool connected = false;
  bool load_failed = false;
  Text find_rd;
  Text export_state;
  std::vector<bool> dialogs;
  std::function<void(Text&)> dialog;
};

class RecordingCrm : public CrmConnection {
 public:
  explicit RecordingCrm(Calls& calls) : c_(calls) {}
  void Initialize() override {}
  Text Load() override {
    ++c_.loads;
    if (c_.throw_in_load) throw Failure(u"Disk gone", 71);
    return c_.load_reply;
  }
  void Release() override {}
  void RememberLoad(bool failed) override { c_.load_failed = failed; }
  void ReadUserSettings() override {}
  const CrmSettings& settings() const override { return settings_; }
  const Text& table_name() const override { return c_.find_rd; }
  DatabaseRef database() const override {
    return c_.connected ? std::make_shared<FakeDatabase>() : nullptr;
  }
  void EnsureOpen() override {}
  ResultSetRef OpenContacts(TextView, double) override { return nullptr; }
  void CloseContacts() override {}
  void Abandon(const DatabaseRef&, const ResultSetRef&) override {}

 private:
  Calls& c_;
  CrmSettings settings_;
};

class RecordingLookup : public ContactLookup {
 public:
  explicit RecordingLookup(Calls& calls) : c_(calls) {}
  Text Find(Text rd) override {
    c_.find_rd = rd;
    return u"{Result=Success}";
  }
  Text GetContact(Variant&) override { return Text(); }
  Text CacheRecord() override { return u"{State=" + c_.export_state + u"}"; }
  void StartExport() override { c_.export_state = u"START"; }
  void EndExport() override { c_.export_state = u"TERMINATE"; }
  void DropExport() override {}
  const Text& search_failure() const override { return c_.find_rd; }

 private:
  Calls& c_;
};

class RecordingDialogs : public ConfigDialogs {
 public:
  explicit RecordingDialogs(Calls& calls) : c_(calls) {}
  void Show(Text& record, bool action) override {
    c_.dialogs.push_back(action);
    if (c_.dialog) c_.dialog(record);
  }

 private:
  Calls& c_;
};

class SessionTest : public ::testing::Test {
 protected:
  FakeEnv env;
  Calls rec;
  Assembly logic = [this](Session&) {
    Subsystems s;
    s.crm = std::make_unique<RecordingCrm>(rec);
    s.lookup = std::make_unique<RecordingLookup>(rec);
    s.dialogs = std::make_unique<RecordingDialogs>(rec);
    return s;
  };
};

// The frame alone: every method gives its empty reply, and nothing is
// logged.
TEST_F(SessionTest, WithNothingBuiltEveryMethodRepliesEmpty) {
  Session s(env);
  Text a = u"{A=1}", b = u"user", vars;
  ObjectRef callback;
  Variant value(u"y");
  bool start = true;
  EXPECT_EQ(s.Configure(a, b), u"{A=1}{Page(S4)=USER}");
  for (const Text& reply :
       {s.Install(), s.Uninstall(), s.Initialize(a, b, callback), s.Uninitialize(), s.Load(vars),
        s.Unload(), s.FindContact(u"{Tel=1}"), s.FindList(u"{Tel=1}"), s.DoAction(u"{Action=x}"),
        s.CacheStart(), s.CacheRecord(), s.CacheEnd(), s.GetContact(value), s.SetProperty(a, value),
        s.GetProperty(a)}) {
    EXPECT_EQ(reply, u"");
  }
  EXPECT_FALSE(s.CheckRunning(start));
  EXPECT_FALSE(s.Blocked());
  EXPECT_EQ(value, Variant(u"y"));
  EXPECT_EQ(s.timeout(), 0);
  EXPECT_TRUE(env.trace_file.lines.empty());
}

TEST_F(SessionTest, ConfigureOpensTheDialogNamedByThePage) {
  Session s(env, logic);
  struct Case {
    Text page;
    bool action;
    Text reply;  // after a cancelled dialog
  };
  const Case cases[] = {
      {u"user", false, u"{A=1}{Page(S4)=USER}"},       {u"Action", true, u"{A=1}{Page(S6)=ACTION}"},
      {u"aCTION", true, u"{A=1}{Page(S6)=ACTION}"},    {u"ACTION", true, u"{A=1}{Page(S6)=ACTION}"},
      {u" action", false, u"{A=1}{Page(S7)= ACTION}"}, {u"", false, u"{A=1}"},
  };
  for (const Case& c : cases) {
    rec.dialogs.clear();
    Text rd = u"{A=1}{Page=old}", page = c.page;
    EXPECT_EQ(s.Configure(rd, page), c.reply) << U8(c.page);
    ASSERT_EQ(rec.dialogs.size(), 1u);
    EXPECT_EQ(rec.dialogs[0], c.action) << U8(c.page);
    EXPECT_EQ(rd, u"{A=1}{Page=old}");  // the host's own record is only read
    EXPECT_EQ(page, c.page);
  }
  // What the dialog writes is the reply.
  rec.dialog = [&](Text& record) { AddVar(env, record, u"DBFile", Variant(u"/data")); };
  Text rd = u"{A=1}", page = u"";
  EXPECT_EQ(s.Configure(rd, page), u"{A=1}{DBFile(S5)=/data}");
}

TEST_F(SessionTest, LoadRemembersAFailureAndCacheStartLoadsOnlyWithoutADatabase) {
  Session s(env, logic);
  const std::pair<Text, bool> replies[] = {
      {u"{Result=Fail}{Reason=Could not load Workspace}", true},
      {u"{Result(S4)=fail}", true},
      {u"{Result=Success}", false},
      {u"", false},
      {u"{Result=FAILED}", false},
  };
  for (const auto& [reply, failed] : replies) {
    rec.load_reply = reply;
    rec.load_failed = !failed;
    Text vars = u"{Tel=1}";
    EXPECT_EQ(s.Load(vars), reply);
    EXPECT_EQ(rec.load_failed, failed) << U8(reply);
    EXPECT_EQ(vars, u"{Tel=1}");
  }

  rec.loads = 0;
  rec.load_reply = u"{Result=Fail}";
  EXPECT_EQ(s.CacheStart(), u"{State=START}");
  EXPECT_EQ(rec.loads, 1);
  EXPECT_TRUE(rec.load_failed);
  rec.connected = true;
  EXPECT_EQ(s.CacheStart(), u"{State=START}");
  EXPECT_EQ(rec.loads, 1);
  EXPECT_EQ(s.CacheEnd(), u"{State=TERMINATE}");
}

TEST_F(SessionTest, FindPreparesTheRequest) {
  Session s(env, logic);
  const struct {
    bool list;
    const char16_t* request;
    const char16_t* prepared;
  } cases[] = {
      {false, u"{Tel=+44 (0)1234 567-890}{Text=O'Brien & Sons}{Begin=smith}{Id=7}",
       u"{Id=7}{Cmd(S11)=FindContact}{Tel(S13)=4401234567890}{Text(S12)=O,BRIEN,SONS}"
       u"{Begin(S1)=S}"},
      {true, u"{Number=0800 123}{Cmd=x}", u"{Number=0800 123}{Cmd(S8)=FindList}{Tel(S7)=0800123}"},
      {true, u"{Number=0800}{Tel=99}", u"{Number=0800}{Cmd(S8)=FindList}{Tel(S2)=99}"},
      // FindContact does not look at "Number".
      {false, u"{Number=0800}", u"{Number=0800}{Cmd(S11)=FindContact}"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.list ? s.FindList(c.request) : s.FindContact(c.request), u"{Result=Success}");
    EXPECT_EQ(rec.find_rd, c.prepared);
  }
}

TEST_F(SessionTest, InitializeStoresTheRecordsAndUninitializeReleasesTheCallback) {
  auto callback = std::make_shared<Object>();
  {
    Session s(env, logic);
    Text data = u"{DBFile=x}", user = u"{Start=1}";
    ObjectRef cb = callback;
    EXPECT_EQ(s.Initialize(data, user, cb), u"");
    EXPECT_EQ(s.data_rd(), data);
    EXPECT_EQ(s.user_rd(), user);
    EXPECT_EQ(callback.use_count(), 3);
    EXPECT_EQ(s.Uninitialize(), u"");
    EXPECT_EQ(callback.use_count(), 2);
    EXPECT_EQ(s.data_rd(), data);  // the records stay
    EXPECT_EQ(s.Initialize(data, user, cb), u"");
  }
  EXPECT_EQ(callback.use_count(), 1);  // released with the Session
}

TEST_F(SessionTest, FailuresOfWorkingMethodsNeverReachTheHost) {
  rec.throw_in_load = true;
  Session s(env, logic);
  Text vars, rd;
  EXPECT_EQ(s.Load(vars), u"");
  EXPECT_FALSE(rec.load_failed);
  EXPECT_EQ(s.LoadReal(rd), u"");
  ASSERT_EQ(env.trace_file.lines.size(), 2u);
  EXPECT_TRUE(env.trace_file.lines[0].ends_with(u"    @ Disk gone @ Pellory.Load"));
  EXPECT_TRUE(env.trace_file.lines[1].ends_with(u"    @ Disk gone @ Pellory.Load"));
}

// Runs `steps` ("+a" creates Session a, "-a" releases it) and returns the
// instance number of each Session created, then the count of live ones.
std::vector<int> InstanceNumbers(FakeEnv& env, const char* steps) {
  std::map<char, std::unique_ptr<Session>> live;
  std::vector<int> seen;
  for (const char* p = steps; *p; ++p) {
    if (*p == '+') {
      auto& s = live[*++p] = std::make_unique<Session>(env);
      seen.push_back(s->instance_no());
    } else if (*p == '-') {
      live.erase(*++p);
    }
  }
  seen.push_back(ThreadState::Current().session_count());
  return seen;
}

TEST_F(SessionTest, InstanceNumbersAreTheLowestNotHeldByALiveSessionOfTheThread) {
  const struct {
    const char* steps;
    std::vector<int> numbers;  // of each new Session, then the live count
  } cases[] = {
      {"+a +b +c", {1, 2, 3, 3}},
      {"+a +b -a +c", {1, 2, 1, 2}},  // not 2 again, which b holds
      {"+a +b +c -b +d +e", {1, 2, 3, 2, 4, 4}},
      {"+a +b +c -a -b +d +e +f", {1, 2, 3, 1, 2, 4, 4}},
      {"+a -a +b -b +c", {1, 1, 1, 1}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(InstanceNumbers(env, c.steps), c.numbers) << c.steps;
    EXPECT_EQ(ThreadState::Current().session_count(), 0);
  }
  // Far more live Sessions than a 16-bit count holds: all numbers distinct
  // and positive.
  std::vector<std::unique_ptr<Session>> many;
  for (int i = 1; i <= 40000; ++i) {
    many.push_back(std::make_unique<Session>(env));
    ASSERT_EQ(many.back()->instance_no(), i);
  }
  many[32767].reset();
  EXPECT_EQ(Session(env).instance_no(), 32768);
  many.clear();

  // Each thread counts its own Sessions, and has its own configuration record.
  auto outer = std::make_unique<Session>(env);
  std::vector<int> t1, t2;
  FakeEnv env1, env2;
  std::thread a([&] { t1 = InstanceNumbers(env1, "+a +b +c -a +d"); });
  std::thread b([&] { t2 = InstanceNumbers(env2, "+a +b +c -a +d"); });
  a.join();
  b.join();
  EXPECT_EQ(t1, (std::vector<int>{1, 2, 3, 1, 3}));
  EXPECT_EQ(t2, t1);
  EXPECT_EQ(ThreadState::Current().session_count(), 1);
  ThreadState::Current().config_rd() = u"{Here=1}";
  Text there;
  std::thread([&] { there = ThreadState::Current().config_rd(); }).join();
  EXPECT_EQ(there, u"");
}

}  // namespace
}  // namespace pellory::testing
