#include <functional>

#include "lookup_fixture.h"
#include "plugin/records.h"

namespace pellory::testing {
namespace {

constexpr char16_t kNoFind[] = u"{Speed(N1)=0}{Result(S4)=Fail}{Reason(S6)=NoFind}";

class Find : public LookupTest {
 protected:
  // The contact record of table row `row`, as the search should reply it.
  Text ContactOf(size_t row) {
    Variant res{ObjectRef(std::make_shared<FakeResultSet>(db->table, std::vector<size_t>{row}, 0))};
    return session().GetContact(res);
  }
  // Makes the clock advance a quarter second each time the message loop runs.
  void TickingPump() {
    env.fake_pump.hook = [this] { env.fake_clock.seconds += 0.25; };
  }
};

TEST_F(Find, FileModeSendsTheCriterionAsAWhereClause) {
  FileMode(true, false, true, false);
  struct Case {
    const char16_t* request;
    const char16_t* where;
  };
  const Case cases[] = {
      {u"{Tel=+44 (0)1234 567890}",
       u"Reverse_Phone_1 = '0987654321044' or Reverse_Phone_3 = '0987654321044'"},
      {u"{Text=john smith}",
       u"(ucase(Name) like '%JOHN%SMITH%') or (ucase(Firm) like '%JOHN%SMITH%')"},
      // Precedence: identifier, then letter, then words, then number.
      {u"{Tel=1}{Text=x}{Begin=s}{Id=970101}", u"Client_Id = '970101'"},
      // Two blanks before ">=": the statement is sent as it always was.
      {u"{Tel=1}{Text=john}{Begin=smith}", u"Name  >= 'S'"},
      {u"{Tel=1}{Text=o'brien}",
       u"(ucase(Name) like '%O%BRIEN%') or (ucase(Firm) like '%O%BRIEN%')"},
      // Quotes in the identifier and the letter are doubled.
      {u"{Id=O'Brien}", u"Client_Id = 'O''Brien'"},
      {u"{Id=x' or '1'='1}", u"Client_Id = 'x'' or ''1''=''1'"},
      {u"{Id=1'; drop table Client --}", u"Client_Id = '1''; drop table Client --'"},
      {u"{Begin='}", u"Name  >= ''''"},
  };
  for (const Case& c : cases) {
    db->statements.clear();
    session().FindContact(c.request);
    ASSERT_EQ(db->statements.size(), 1u) << U8(c.request);
    EXPECT_EQ(db->statements[0], u"select * from Client where " + Text(c.where)) << U8(c.request);
    EXPECT_TRUE(db->async.back());
    EXPECT_EQ(db->time_limits.back(), 0);  // no Timeout setting, no limit
  }
  EXPECT_TRUE(env.trace_file.lines.empty());

  Text reply = session().FindContact(u"{Tel=+44 (0)1234 567890}");
  EXPECT_EQ(GetText(env, reply, u"Tel"), u"4401234567890");
}

TEST_F(Find, CriteriaThatAreNotGivenSendNoStatementInFileMode) {
  FileMode(true, true, true, true);
  for (const char16_t* request :
       {u"", u"{Tel=ext.}", u"{Text=-- !}", u"{Begin=}", u"{Number=01234}", u"{Id=#}"}) {
    EXPECT_EQ(session().FindContact(request), kNoFind) << U8(request);
  }
  EXPECT_EQ(session().FindContact(u"{Tel=#}"), S(u"Tel", u"#") + kNoFind);
  // FindList reads "Number" only when there is no "Tel" entry at all.
  EXPECT_EQ(session().FindList(u"{Tel=}{Number=01234}"),
            u"{HasName(N1)=1}{HasCompany(N1)=1}" + Text(kNoFind));
  EXPECT_TRUE(db->statements.empty());
  session().FindList(u"{Number=01234}");
  ASSERT_EQ(db->statements.size(), 1u);
  EXPECT_NE(db->statements[0].find(u"Reverse_Phone_4 = '43210'"), Text::npos);

  // A number search with every telephone field switched off.
  FileMode(false, false, false, false);
  db->statements.clear();
  EXPECT_EQ(session().FindContact(u"{Tel=01234}{NiceTel=Reception}"),
            S(u"Tel", u"01234") + S(u"NiceTel", u"Reception") + kNoFind);
  EXPECT_TRUE(db->statements.empty());
}

TEST_F(Find, SqlModeReadsTheWholeTableAndMatchesDigitsAnywhere) {
  SqlMode(true, false, true, false);
  table()
      .Add({{u"Client_Id", u"A"}, {u"PHONE_2", u"+44 (0)1234 567890"}})  // field 2 not searched
      .Add({{u"Client_Id", u"B"}, {u"PHONE_3", u"0044 1234 567890 ext 12"}})
      .Add({{u"Client_Id", u"C"}, {u"PHONE_1", u"01234 567890"}});
  Text reply = session().FindContact(u"{Tel=1234 5678}");
  ASSERT_EQ(db->statements.size(), 1u);
  EXPECT_EQ(db->statements[0], u"select " + Text(lookup::kColumnList) + u" from dbo.Client");
  EXPECT_EQ(reply, ContactOf(1) + S(u"Tel", u"12345678") + N(u"Speed", u"0") + N(u"Matches", u"2") +
                       S(u"Result", u"Success"));

  // Every kind of request sends the same statement.
  session().FindList(u"{Text=acme}{Begin=a}");
  session().FindContact(u"{Id=O'Brien}");
  ASSERT_EQ(db->statements.size(), 3u);
  EXPECT_EQ(db->statements[1], db->statements[0]);
  EXPECT_EQ(db->statements[2], db->statements[0]);
}

TEST_F(Find, ContactSearchRepliesTheFirstMatchAndCountsASecond) {
  FileMode();
  TickingPump();
  db->polls = 2;
  table()
      .Add({{u"Client_Id", u"X"}, {u"PHONE_1", u"01234 567899"}})  // returned, does not match
      .Add({{u"Client_Id", u"Y"},
            {u"Name_Type", u"I"},
            {u"Name", u"Smith"},
            {u"PHONE_1", u"01234 567890"}})
      .Add({{u"Client_Id", u"Z"}, {u"PHONE_1", u"(01234) 567890"}})
      .Add({{u"Client_Id", u"never read"}});
  Text reply = session().FindContact(u"{Tel=01234 567890}{NiceTel=Anne (mobile)}");
  // Two polls while the statement runs, one after each of the two rows moved past.
  EXPECT_EQ(reply, ContactOf(1) + S(u"Tel", u"01234567890") + S(u"NiceTel", u"Anne (mobile)") +
                       N(u"Speed", u"1") + N(u"Matches", u"2") + S(u"Result", u"Success"));
  EXPECT_EQ(env.fake_pump.calls, 4);
  auto rs = db->last.lock();
  ASSERT_TRUE(rs);
  EXPECT_EQ(crm().contacts(), rs);
  EXPECT_EQ(rs->position(), 2u);  // left where the scan stopped
}

TEST_F(Find, MatchTestChecksWhatTheDatabaseReturned) {
  FileMode();
  table()
      .Add({{u"Client_Id", u"1"}, {u"Name", u"Ajohn Smith"}})
      .Add({{u"Client_Id", u"2"}, {u"Name", u"Smithers"}, {u"Firm", u"John & Co"}})
      .Add({{u"Client_Id", u"3"}, {u"Name", u"taylor"}})
      .Add({{u"Client_Id", u"4"}, {u"Name", u"Stone"}, {u"Firm", u"JOHN"}});
  // Every word must begin a word of the name or the firm, in any order.
  Text reply = session().FindList(u"{Text=john smith}");
  EXPECT_EQ(GetText(env, reply, u"ListCount"), u"1");
  EXPECT_EQ(GetText(env, GetText(env, reply, u"List1"), u"Id"), u"2");

  // With a letter the word list is the name's first letter only.
  reply = session().FindList(u"{Begin=s}{Text=nobody}");
  EXPECT_EQ(GetText(env, reply, u"ListCount"), u"2");
  EXPECT_EQ(GetText(env, GetText(env, reply, u"List2"), u"Id"), u"4");

  // A number not given reads as "#", which a stored "#" contains.
  SqlMode();
  table().Add({{u"Client_Id", u"5"}, {u"Reverse_Phone_1", u"*31#"}});
  reply = session().FindContact(u"{Text=zzz}");
  EXPECT_EQ(GetText(env, reply, u"Id"), u"5");
}

TEST_F(Find, ListSearchEntriesAndTheirLimit) {
  FileMode();
  table()
      .Add({{u"Client_Id", u"C1"},
            {u"Name_Type", u"C"},
            {u"Name", u"Acme"},
            {u"First_Name", u"x"},
            {u"Firm", u"y"},
            {u"PHONE_1", u"111"},
            {u"PHONE_4", u"444"}})
      .Add({{u"Client_Id", u"P1"}, {u"First_Name", u" Jo "}, {u"Name", u"Adams"}})
      .Add({{u"Client_Id", u"B1"}, {u"Name", u"Baker"}});
  Text first =
      S(u"Company", u"Acme") + S(u"Id", u"C1") + S(u"Phone 1", u"111") + S(u"Other", u"444");
  Text second = S(u"Name", u"Jo Adams") + S(u"Id", u"P1");
  EXPECT_EQ(session().FindList(u"{Begin=a}"), S(u"List1", first) + S(u"List2", second) +
                                                  N(u"HasName", u"1") + N(u"HasCompany", u"1") +
                                                  N(u"ListCount", u"2") + N(u"Speed", u"0") +
                                                  N(u"Matches", u"2") + S(u"Result", u"Success"));

  table().rows.clear();
  for (int i = 0; i < 60; ++i) table().Add({{u"Name", u"Adams" + IntegerText(i)}});
  auto count = [&](const char16_t* request) {
    return GetVar(env, session().FindList(request), u"ListCount").ToDouble();
  };
  EXPECT_EQ(count(u"{Begin=A}"), 50);
  EXPECT_EQ(count(u"{Begin=A}{MaxFind=0}"), 1);
  EXPECT_EQ(count(u"{Begin=A}{MaxFind=-7}"), 1);
  EXPECT_EQ(count(u"{Begin=A}{MaxFind=12}"), 12);
  // Beyond the 16-bit range: clamped, no failure.
  EXPECT_EQ(count(u"{Begin=A}{MaxFind=100000}"), 60);
  EXPECT_EQ(count(u"{Begin=A}{MaxFind(N7)=1000000}"), 60);
  EXPECT_EQ(count(u"{Begin=A}{MaxFind=-99999}"), 1);
  EXPECT_TRUE(env.trace_file.lines.empty());
  Text reply = session().FindList(u"{Begin=A}");
  EXPECT_NE(reply.find(u"{List50("), Text::npos);
  EXPECT_EQ(reply.find(u"{List51("), Text::npos);
}

TEST_F(Find, IdentifierSearch) {
  FileMode();
  table().Add({{u"Client_Id", u"A"}}).Add({{u"Client_Id", u"B"}, {u"Name", u"Bee"}});
  // File mode: the first row the statement returns, and nothing else.
  db->select = [](TextView sql, const FakeTable&) {
    return sql.ends_with(u"'B'") ? std::vector<size_t>{1} : std::vector<size_t>{};
  };
  EXPECT_EQ(session().FindContact(u"{Id=B}{Tel=1}{NiceTel=n}"),
            ContactOf(1) + S(u"Result", u"Success"));
  EXPECT_EQ(session().FindList(u"{Id=B}"), ContactOf(1) + S(u"Result", u"Success"));
  EXPECT_EQ(session().FindList(u"{Id=Q}"), S(u"Result", u"Fail"));

  // SQL mode: the row whose identifier equals the request's, exactly.
  SqlMode();
  db->select = nullptr;
  EXPECT_EQ(session().FindContact(u"{Id=B}"), ContactOf(1) + S(u"Result", u"Success"));
  EXPECT_EQ(session().FindContact(u"{Id=b}"), S(u"Result", u"Fail"));
  EXPECT_EQ(session().FindContact(u"{Id=' or ''='}"), S(u"Result", u"Fail"));
}

TEST_F(Find, ReconnectsOnlyWhenTheLastLoadDidNotFail) {
  FileMode();
  session().Unload();
  session().FindContact(u"{Tel=123}");
  EXPECT_EQ(connects.count, 1);
  EXPECT_EQ(db->statements.back(), u"select * from Client where Reverse_Phone_1 = '321'");

  // The host's last Load failed.
  session().Unload();
  connects.target = nullptr;
  Text vars;
  EXPECT_EQ(session().Load(vars), u"{Result=Fail}{Reason=Could not load Database}");
  connects.target = db;
  db->statements.clear();
  EXPECT_EQ(session().FindContact(u"{Tel=123}"), S(u"Tel", u"123") + kNoFind);
  EXPECT_EQ(connects.count, 2);
  EXPECT_TRUE(db->statements.empty());
  ASSERT_EQ(env.trace_file.lines.size(), 1u);
  EXPECT_TRUE(env.trace_file.lines[0].ends_with(u" @ Pell.Find"));

  // SQL mode needs the connection, not the recordset.
  SqlMode();
  session().FindContact(u"{Tel=123}");
  EXPECT_EQ(connects.count, 0);
  session().Unload();
  session().FindContact(u"{Tel=123}");
  EXPECT_EQ(connects.count, 1);
}

TEST_F(Find, AStatementThatFailsToOpenFindsNothing) {
  FileMode();
  db->fail_open = true;
  EXPECT_EQ(session().FindList(u"{Begin=a}"), u"{HasName(N1)=1}{HasCompany(N1)=1}" + Text(kNoFind));
  EXPECT_FALSE(crm().contacts());
  ASSERT_EQ(env.trace_file.lines.size(), 1u);
  EXPECT_TRUE(env.trace_file.lines[0].ends_with(u"[Fake] syntax error @ Pell.Find"));
}

TEST_F(Find, ACallFromTheMessageLoopLeavesTheRunningScanAlone) {
  FileMode();
  db->polls = 3;
  for (const char16_t* name : {u"Abel", u"Adams", u"Allen", u"Amos", u"Ash"}) {
    table().Add({{u"Client_Id", name}, {u"Name", name}, {u"PHONE_1", u"555 0101"}});
  }
  const int live_before = FakeResultSet::live;
  Text inner_reply;
  ResultSetRef inner_rs;
  env.fake_pump.hook = [&] {
    if (env.fake_pump.calls != 5) return;  // during the scan, after two rows
    inner_reply = session().FindContact(u"{Tel=5550101}");
    inner_rs = db->last.lock();
    // Then the host unloads: the scan still reads its own result set.
    session().Unload();
  };
  Text reply = session().FindList(u"{Begin=A}");
  EXPECT_EQ(GetText(env, reply, u"ListCount"), u"5");
  EXPECT_EQ(GetText(env, GetText(env, reply, u"List5"), u"Id"), u"Ash");
  EXPECT_EQ(GetText(env, inner_reply, u"Id"), u"Abel");
  EXPECT_EQ(GetText(env, inner_reply, u"Matches"), u"2");
  EXPECT_EQ(crm().contacts(), nullptr);
  EXPECT_TRUE(env.trace_file.lines.empty());
  inner_rs.reset();
  // The load's recordset, the scan's own and the inner search's are all gone.
  EXPECT_EQ(FakeResultSet::live, live_before - 1);
}

// With "Timeout" set, the search ends at the deadline wherever it is, and
// replies as one that found nothing, for the reason "Timeout". The fake
// clock moves a second each time the message loop runs.
TEST_F(Find, ASearchThatRunsOutOfTimeRepliesTimeout) {
  const Text not_found = N(u"Speed", u"0") + S(u"Result", u"Fail") + S(u"Reason", u"Timeout");
  const Text list_head = N(u"HasName", u"1") + N(u"HasCompany", u"1");
  const Text tel = S(u"Tel", u"01234567890") + S(u"NiceTel", u"Anne");
  struct Case {
    const char* name;
    std::function<void()> setup;
    const char16_t* request;
    bool list;
    Text reply;
    bool connection_kept;
    size_t trace_lines = 1;
  };
  const Case cases[] = {
      {"statement outlasts the deadline", [&] { db->polls = 100; },
       u"{Tel=01234 567890}{NiceTel=Anne}", false, tel + not_found, true},
      {"the driver does not let go of it",
       [&] {
         db->polls = 100;
         db->cancel_stops = false;
       },
       u"{Tel=01234 567890}{NiceTel=Anne}", false, tel + not_found, false},
      {"the driver gives up at its query timeout",
       [&] {
         db->polls = 2;
         db->driver_times_out = true;
       },
       u"{Tel=01234 567890}{NiceTel=Anne}", true, list_head + tel + not_found, true},
      // The first matches are dropped with the rest.
      {"scan outlasts the deadline", [&] {}, u"{Begin=A}", true, list_head + not_found, true},
      // The adapter's own failure is logged first.
      {"the connection still waits for an earlier statement", [&] { db->open_times_out = true; },
       u"{Tel=01234 567890}{NiceTel=Anne}", false, tel + not_found, false, 2},
      {"identifier scan in SQL mode", [&] { SqlMode(); }, u"{Id=nobody}", false, not_found, true},
      {"the reconnect uses up the time",
       [&] {
         session().Unload();
         connects.hook = [&] { env.fake_clock.monotonic += 6; };
       },
       u"{Tel=01234 567890}{NiceTel=Anne}", false, tel + not_found, true},
  };
  timeout = 5;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    db = std::make_shared<TableDatabase>();
    connects.target = db;
    for (int i = 0; i < 20; ++i) {
      table().Add({{u"Client_Id", u"A" + IntegerText(i)},
                   {u"Name", u"Adams"},
                   {u"PHONE_1", u"01234 567890"}});
    }
    FileMode();
    env.trace_file.lines.clear();
    std::shared_ptr<FakeResultSet> rs;  // the search's own, kept for a look afterwards
    env.fake_pump.hook = [&] {
      if (!rs) rs = db->last.lock();
      env.fake_clock.monotonic += 1;
    };
    c.setup();
    Text reply = c.list ? session().FindList(c.request) : session().FindContact(c.request);
    EXPECT_EQ(reply, c.reply);
    ASSERT_EQ(env.trace_file.lines.size(), c.trace_lines);
    EXPECT_TRUE(env.trace_file.lines.back().ends_with(u"    @ Timeout after 5 s @ Pell.Find"));
    for (size_t i = 0; i < db->statements.size(); ++i) {
      if (db->async[i]) {
        EXPECT_EQ(db->time_limits[i], 5);  // the search's, not a load's
      }
    }
    if (rs) {
      EXPECT_EQ(rs->cancels, db->polls > 0 ? 1 : 0);
    }
    EXPECT_EQ(crm().database() == db, c.connection_kept);
    if (rs) {
      EXPECT_EQ(crm().contacts() == rs, c.connection_kept);
    }

    // The next search, with the database answering again, finds the contact.
    // It connects anew after a statement that was left running, and in file
    // mode after one that never opened.
    db->polls = 0;
    db->open_times_out = false;
    env.fake_pump.hook = nullptr;
    connects.hook = nullptr;
    const int loads = connects.count;
    reply = session().FindContact(u"{Tel=01234 567890}");
    EXPECT_EQ(GetText(env, reply, u"Result"), u"Success");
    EXPECT_EQ(connects.count, loads + (c.connection_kept && rs ? 0 : 1));
  }
}

TEST_F(Find, ColumnsAreLookedUpOncePerResultSet) {
  SqlMode(true, true, true, true);
  for (int i = 0; i < 1000; ++i) table().Add({{u"PHONE_1", IntegerText(i)}});
  session().FindContact(u"{Tel=99999999}");
  auto rs = db->last.lock();
  ASSERT_TRUE(rs);
  EXPECT_LE(rs->column_lookups, 25);
  EXPECT_TRUE(rs->Eof());
}

}  // namespace
}  // namespace pellory::testing
