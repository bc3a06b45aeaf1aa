// The terminal front end: the form view, the prompts and the host, driven by
// scripted key presses; the key decoding through a real pseudo-terminal.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>

#include "assembly.h"
#include "platform/posix/terminal_dialogs.h"
#include "plugin/records.h"
#include "support/fake_env.h"

namespace pellory::testing {
namespace {

class ScriptedTerminal : public TerminalIo {
 public:
  Key ReadKey() override {
    if (keys.empty()) return {Key::kEof};
    Key k = keys.front();
    keys.pop_front();
    return k;
  }
  void Show(const Screen& screen) override {
    last = screen.Text();
    screens.push_back(last);
  }
  int Width() override { return 80; }
  int Height() override { return 24; }

  ScriptedTerminal& Type(const char* utf8) {
    for (char16_t c : FromUtf8(utf8)) keys.push_back({Key::kChar, c});
    return *this;
  }
  ScriptedTerminal& Press(Key::Type t, int times = 1) {
    for (int i = 0; i < times; ++i) keys.push_back({t});
    return *this;
  }
  ScriptedTerminal& Alt(char c) {
    keys.push_back({Key::kAlt, static_cast<char32_t>(c)});
    return *this;
  }

  // Whether any screen shown so far holds `text`.
  bool Showed(const char* text) const {
    for (const std::string& s : screens) {
      if (s.find(text) != std::string::npos) return true;
    }
    return false;
  }

  std::deque<Key> keys;
  std::string last;
  std::vector<std::string> screens;
};

// A FakeEnv whose dialogs run on a scripted terminal.
class TerminalEnv : public FakeEnv {
 public:
  TerminalEnv()
      : host([this] {
          ++opened;
          return std::unique_ptr<TerminalIo>(new Borrowed(term));
        }) {}
  DialogHost& dialogs() override { return host; }

  struct Borrowed : TerminalIo {
    explicit Borrowed(ScriptedTerminal& t) : t(t) {}
    Key ReadKey() override { return t.ReadKey(); }
    void Show(const Screen& s) override { t.Show(s); }
    int Width() override { return t.Width(); }
    int Height() override { return t.Height(); }
    ScriptedTerminal& t;
  };

  ScriptedTerminal term;
  int opened = 0;
  TerminalDialogHost host;
};

bool Has(const std::string& screen, const char* text) {
  return screen.find(text) != std::string::npos;
}

TEST(TerminalDialogs, ConfigurationDialogByKeyboard) {
  TerminalEnv env;
  Session session(env, WireSubsystems);
  std::string first_screen;
  env.term
      .Press(Key::kTab)  // from the tab strip to "Data directory"
      .Press(Key::kTab)
      .Press(Key::kCtrlU)
      .Type("/srv/max")
      .Alt('2')  // untick Phone 2
      .Press(Key::kPageDown)
      .Alt('u')
      .Type("jane")
      .Alt('p')
      .Type("s3cret")
      .Press(Key::kEnter)  // OK: the directory does not exist
      .Type("n")           // back to the dialog
      .Press(Key::kEnter)
      .Type("y");
  Text rd, page = u"lookup";
  Text out = session.Configure(rd, page);
  EXPECT_TRUE(env.term.Showed("| The data directory /srv/max does not exist. Store it anyway? |"));
  EXPECT_TRUE(env.term.Showed("<  Yes  >  <  No   >"));
  EXPECT_EQ(out,
            u"{Caption(S8)=/srv/max}{Dbfile(S8)=/srv/max}{UseSQL(S5)=False}{Phone1(N1)=1}"
            u"{Phone2(N1)=0}{Phone3(N1)=1}{Phone4(N1)=1}{DBUser(S4)=jane}{DBPwd(S6)=s3cret}");
  EXPECT_EQ(env.opened, 1);
  // The user tab showed the password masked.
  EXPECT_TRUE(env.term.Showed("[ User ]"));
  EXPECT_TRUE(env.term.Showed("******"));
  EXPECT_FALSE(env.term.Showed("s3cret"));
}

TEST(TerminalDialogs, LookupPageShowsItsControls) {
  TerminalEnv env;
  Text rd = u"{Phone3(N1)=0}", page = u"";
  env.term.Press(Key::kEscape);
  Session session(env, WireSubsystems);
  // The Escape comes after the first screen has been shown.
  EXPECT_EQ(session.Configure(rd, page), rd);
  const std::string& s = env.term.last;
  for (const char* text : {"[ Lookup ]", "(*) Data directory:", "[(Default)", "( ) SQL server:",
                           "Search telephone fields", "[x] Phone 1", "[x] Phone 2", "[ ] Phone 3",
                           "Searching is much faster", "OK   >", "< Cancel >"}) {
    EXPECT_TRUE(Has(s, text)) << text << "\n" << s;
  }
  EXPECT_FALSE(Has(s, "Enter the location")) << s;

  // The user page opens on the User tab; its Lookup tab explains the path.
  Text user = u"", user_page = u"user";
  env.term.screens.clear();
  env.term.Press(Key::kPageUp).Press(Key::kCtrlC);
  session.Configure(user, user_page);
  ASSERT_FALSE(env.term.screens.empty());
  EXPECT_TRUE(Has(env.term.screens[0], "[ User ]")) << env.term.screens[0];
  EXPECT_TRUE(Has(env.term.screens[0], "Password:")) << env.term.screens[0];
  EXPECT_TRUE(Has(env.term.last, "Enter the location of the database files")) << env.term.last;
  EXPECT_FALSE(Has(env.term.last, "Phone 1")) << env.term.last;
}

// Enter presses the focused button, and OK everywhere else, as the help
// line says.
TEST(TerminalDialogs, EnterPressesTheFocusedButtonElseOk) {
  struct Case {
    const char* focus;
    int tabs;  // from the tab strip, in the Lookup tab's order
    bool stored;
    bool file_prompt;
  } cases[] = {
      {"tab strip", 0, true, false},      {"data directory", 2, true, false},
      {"browse \"...\"", 3, false, true}, {"data source \"...\"", 6, false, false},
      {"Phone 1", 7, true, false},        {"Match numbers", 11, true, false},
      {"Home country", 12, true, false},  {"Cancel", 14, false, false},
  };
  TerminalEnv env;
  Session session(env, WireSubsystems);
  for (const Case& c : cases) {
    env.term.keys.clear();
    env.term.screens.clear();
    // Esc closes a prompt that opened, then the dialog.
    env.term.Press(Key::kTab, c.tabs).Press(Key::kEnter).Press(Key::kEscape, 2);
    Text rd, page = u"lookup";
    Text out = session.Configure(rd, page);
    EXPECT_EQ(GetVar(env, out, u"Page").is_empty(), c.stored) << c.focus << U8(out);
    if (c.stored) {
      EXPECT_EQ(GetText(env, out, u"Phone1"), u"1") << c.focus;  // Enter toggles nothing
      EXPECT_TRUE(GetVar(env, out, u"NumberMatch").is_empty()) << c.focus;
    }
    EXPECT_EQ(env.term.Showed("Select database file (mxza.max)"), c.file_prompt) << c.focus;
    EXPECT_TRUE(env.term.Showed("Enter: press the focused button, elsewhere OK")) << c.focus;
  }
}

TEST(TerminalDialogs, MessageAndQuestionPages) {
  struct Case {
    std::vector<Key> keys;
    bool yes_no;
    bool answer;
  } cases[] = {
      {{{Key::kChar, U'y'}}, true, true},
      {{{Key::kChar, U'N'}}, true, false},
      {{{Key::kEnter}}, true, false},  // No is the default
      {{{Key::kTab}, {Key::kEnter}}, true, true},
      {{{Key::kLeft}, {Key::kChar, U' '}}, true, true},
      {{{Key::kTab}, {Key::kEscape}}, true, false},
      {{{Key::kEof}}, true, false},
      {{{Key::kChar, U'y'}, {Key::kEnter}}, false, false},  // OK only: Y means nothing
  };
  for (const Case& c : cases) {
    ScriptedTerminal term;
    term.keys.assign(c.keys.begin(), c.keys.end());
    EXPECT_EQ(RunMessagePrompt(term, u"Maximizer Configuration", u"Store it?", c.yes_no), c.answer);
    EXPECT_TRUE(term.keys.empty());
    EXPECT_TRUE(Has(term.last, "Maximizer Configuration")) << term.last;
    EXPECT_TRUE(Has(term.last, c.yes_no ? "<  No   >" : "<  OK   >")) << term.last;
  }
}

TEST(TerminalDialogs, ActionDialogListsAndRows) {
  TerminalEnv env;
  Session session(env, WireSubsystems);
  // Focus starts on the action list: "5" picks "Run macro", then the macro row.
  env.term.Type("5").Press(Key::kTab).Type("Daily").Press(Key::kEnter);
  Text rd, page = u"action";
  Text out = session.Configure(rd, page);
  EXPECT_EQ(out,
            u"{Action(S9)=Run macro}{Item(S15)=View activities}{Macro(S5)=Daily}"
            u"{NewWindow(N1)=0}{Window(S8)=Calendar}");
  EXPECT_TRUE(Has(env.term.last, "Maximizer Action Configuration"));
  EXPECT_TRUE(Has(env.term.last, "Macro:")) << env.term.last;

  // The open list: Space shows numbered entries, Down and Enter pick one.
  env.term.Type(" ").Press(Key::kDown, 2);
  env.term.keys.push_back({Key::kEof});  // stop while the list is open
  rd.clear();
  session.Configure(rd, page);
  EXPECT_TRUE(Has(env.term.last, "3 Show contact item")) << env.term.last;
  EXPECT_TRUE(Has(env.term.last, "5 Run macro")) << env.term.last;

  env.term.keys.clear();
  env.term.Type(" ").Press(Key::kDown, 2).Press(Key::kEnter);  // Show contact item
  env.term.Press(Key::kTab).Type(" ");                         // tick "new list"
  env.term.Press(Key::kTab).Press(Key::kRight, 2);             // Create opportunity
  env.term.Press(Key::kEnter);
  rd.clear();
  out = session.Configure(rd, page);
  EXPECT_EQ(out,
            u"{Action(S17)=Show contact item}{Item(S18)=Create opportunity}"
            u"{NewWindow(N1)=1}{Window(S8)=Calendar}");
}

TEST(TerminalDialogs, WithoutATerminalEveryDialogIsCancelled) {
  class NoTerminalEnv : public FakeEnv {
   public:
    DialogHost& dialogs() override { return host; }
    TerminalDialogHost host{[] { return std::unique_ptr<TerminalIo>(); }};
  } env;
  Session session(env, WireSubsystems);
  Text rd = u"{A=1}", page = u"action";
  EXPECT_EQ(session.Configure(rd, page), u"{A=1}{Page(S6)=ACTION}");
  EXPECT_EQ(env.host.ShowOpen(FileOpenRequest{}), u"");
  // The process's own terminal: the tests run without one on standard input.
  if (!isatty(0)) {
    EXPECT_FALSE(PromptForDataSource({{u"a", u"b", u"", false}}).has_value());
  }
}

class FilePromptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/pellory-dialogs-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    std::ofstream(dir_ + "/mxza.max") << "x";
    std::ofstream(dir_ + "/contacts.db") << "x";
    request_.title = u"Select database file (mxza.max)";
    request_.default_extension = u"max";
    request_.filter = u"Database file (mxza.max)|mxza.max";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string dir_;
  FileOpenRequest request_;
  ScriptedTerminal term_;
};

TEST_F(FilePromptTest, RefusesWrongNamesAndMissingFilesAndTakesTheAbsolutePath) {
  term_.Type((dir_ + "/contacts.db").c_str()).Press(Key::kEnter);
  term_.keys.push_back({Key::kEof});
  EXPECT_EQ(RunFileOpenPrompt(term_, request_), u"");
  EXPECT_TRUE(Has(term_.last, "\"contacts.db\" is not a database file (mxza.max)")) << term_.last;

  term_.Type((dir_ + "/sub/mxza.max").c_str()).Press(Key::kEnter).Press(Key::kEscape);
  EXPECT_EQ(RunFileOpenPrompt(term_, request_), u"");
  EXPECT_TRUE(Has(term_.last, "File not found: ")) << term_.last;

  term_.Press(Key::kEnter).Press(Key::kEscape);
  EXPECT_EQ(RunFileOpenPrompt(term_, request_), u"");
  EXPECT_TRUE(Has(term_.last, "Type the path of the file")) << term_.last;

  // Without an extension the default one is added; a relative path is made
  // absolute.
  std::string cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir_);
  term_.Type("./mxza").Press(Key::kEnter);
  Text chosen = RunFileOpenPrompt(term_, request_);
  std::filesystem::current_path(cwd);
  EXPECT_EQ(U8(chosen), dir_ + "/mxza.max");
  EXPECT_TRUE(Has(term_.last, "Select database file (mxza.max)")) << term_.last;

  // Tab completes the name from the folder.
  term_.Type((dir_ + "/mx").c_str()).Press(Key::kTab).Press(Key::kEnter);
  EXPECT_EQ(U8(RunFileOpenPrompt(term_, request_)), dir_ + "/mxza.max");
}

TEST_F(FilePromptTest, BrowseInsideTheDialogUsesTheSameTerminal) {
  TerminalEnv env;
  Session session(env, WireSubsystems);
  env.term
      .Press(Key::kTab, 3)  // Tabs -> bData -> dbFile -> "..."
      .Type(" ")
      .Type((dir_ + "/mxza.max").c_str())
      .Press(Key::kEnter)
      .Press(Key::kTab)     // to "SQL server"
      .Press(Key::kEnter);  // OK
  Text rd, page;
  Text out = session.Configure(rd, page);
  EXPECT_EQ(U8(GetText(env, out, u"Dbfile")), dir_);
  EXPECT_EQ(env.opened, 1);
}

TEST(TerminalDialogs, DataSourcePrompt) {
  std::vector<DataSourceInfo> sources = {
      {u"Maximizer SP1", u"Maximizer ODBC Driver", u"", false},
      {u"Sales", u"PostgreSQL Unicode", u"Sales database", true},
  };
  ScriptedTerminal term;
  term.Type("2").Press(Key::kEnter).Type("jane").Press(Key::kEnter).Type("p;w}").Press(Key::kEnter);
  EXPECT_EQ(RunDataSourcePrompt(term, sources), u"DSN=Sales;UID=jane;PWD={p;w}}}");
  EXPECT_TRUE(Has(term.last, "Login: Sales")) << term.last;
  EXPECT_TRUE(Has(term.last, "[****")) << term.last;
  EXPECT_FALSE(Has(term.last, "p;w")) << term.last;

  term.Press(Key::kDown).Press(Key::kEnter).Press(Key::kEnter).Press(Key::kEnter);
  EXPECT_EQ(RunDataSourcePrompt(term, sources), u"DSN=Sales");

  term.Press(Key::kEscape);
  EXPECT_EQ(RunDataSourcePrompt(term, sources), std::nullopt);
  for (const char* text : {"Select Data Source", "1  Maximizer SP1  Maximizer ODBC Driver  (user)",
                           "2  Sales          PostgreSQL Unicode     (system)  Sales database"}) {
    EXPECT_TRUE(Has(term.last, text)) << text << "\n" << term.last;
  }
  term.Press(Key::kEnter).Press(Key::kEscape);
  EXPECT_EQ(RunDataSourcePrompt(term, sources), std::nullopt);  // cancelled at the login

  term.keys.clear();
  term.Press(Key::kEnter);
  EXPECT_EQ(RunDataSourcePrompt(term, {}), std::nullopt);
  EXPECT_TRUE(Has(term.last, "No ODBC data sources are defined.")) << term.last;
}

// A login the source refuses keeps the login page open with the reason: the
// person corrects the password, or cancels.
TEST(TerminalDialogs, DataSourcePromptShowsARefusedLogin) {
  const std::vector<DataSourceInfo> sources = {{u"Sales", u"PostgreSQL Unicode", u"", false}};
  std::vector<Text> tried;
  LoginCheck check = [&](TextView connect) -> std::optional<Text> {
    tried.emplace_back(connect);
    if (connect.find(u"PWD=right") != TextView::npos) return std::nullopt;
    return u"28P01: FATAL: password authentication failed for user \"jane\"";
  };
  struct Case {
    const char* after_refusal;  // typed into the password field; nullptr: Esc
    std::optional<Text> result;
    size_t tries;
  } cases[] = {
      {"right", u"DSN=Sales;UID=jane;PWD=right", 2},
      {nullptr, std::nullopt, 1},
  };
  for (const Case& c : cases) {
    ScriptedTerminal term;
    tried.clear();
    term.Press(Key::kEnter).Type("jane").Press(Key::kEnter).Type("wrong").Press(Key::kEnter);
    if (c.after_refusal) {
      term.Press(Key::kCtrlU).Type(c.after_refusal).Press(Key::kEnter);
    } else {
      term.Press(Key::kEscape);
    }
    EXPECT_EQ(RunDataSourcePrompt(term, sources, check), c.result);
    ASSERT_EQ(tried.size(), c.tries);
    EXPECT_EQ(tried[0], u"DSN=Sales;UID=jane;PWD=wrong");
    EXPECT_TRUE(term.Showed("Login failed: 28P01: FATAL: password authentication"));
    EXPECT_FALSE(term.Showed("wrong"));
  }
}

// Key decoding on a real pseudo-terminal.
TEST(TerminalDialogs, DecodesKeysFromATerminal) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  {
    std::unique_ptr<TerminalIo> io = OpenTerminal(slave, slave);
    ASSERT_TRUE(io);
    const char input[] =
        "a\xc3\xa9\x1b[A\x1b[Z\x1b[3~\x1b"
        "d\r\t\x7f\x03\x15\x1bOH";
    ASSERT_EQ(write(master, input, sizeof input - 1), static_cast<ssize_t>(sizeof input - 1));
    struct Expect {
      Key::Type type;
      char32_t ch;
    } expected[] = {{Key::kChar, U'a'}, {Key::kChar, U'\u00e9'}, {Key::kUp, 0},
                    {Key::kBackTab, 0}, {Key::kDelete, 0},       {Key::kAlt, U'd'},
                    {Key::kEnter, 0},   {Key::kTab, 0},          {Key::kBackspace, 0},
                    {Key::kCtrlC, 0},   {Key::kCtrlU, 0},        {Key::kHome, 0}};
    for (const Expect& e : expected) {
      Key k = io->ReadKey();
      EXPECT_EQ(k.type, e.type);
      if (e.ch) {
        EXPECT_EQ(k.ch, e.ch);
      }
    }
    ASSERT_EQ(write(master, "\x1b", 1), 1);  // a lone Esc, nothing after it
    EXPECT_EQ(io->ReadKey().type, Key::kEscape);
    Screen s(10, 2);
    s.Put(0, 0, U"hi");
    io->Show(s);
  }
  // Closing restores the terminal: the alternate screen is left.
  char out[4096];
  ssize_t n = read(master, out, sizeof out);
  ASSERT_GT(n, 0);
  std::string shown(out, static_cast<size_t>(n));
  while (shown.find("\x1b[?1049l") == std::string::npos) {
    n = read(master, out, sizeof out);
    if (n <= 0) break;
    shown.append(out, static_cast<size_t>(n));
  }
  EXPECT_NE(shown.find("\x1b[?1049h"), std::string::npos);
  EXPECT_NE(shown.find("hi"), std::string::npos);
  EXPECT_NE(shown.find("\x1b[?1049l"), std::string::npos);
  close(slave);
  close(master);
}

// The number-matching settings on the Lookup tab, worked by keys: the
// check box by its access key, the home-country list by its label's access
// key, closed (letters, End) or open (Space, letters, Enter). The open list
// of every region scrolls to the highlighted entry within the screen.
TEST(TerminalDialogs, NumberMatchingControlsByKeyboard) {
  struct Case {
    const char* what;
    Text record, page;
    std::vector<Key> keys;  // before Enter, which presses OK
    const char* shown;      // on the screen before OK
    const char* listed;     // on a screen with the list open; nullptr: none opens
    Text written;           // after the telephone fields
    Text mode = Text();     // what OK writes before them; empty: the data directory's
  } cases[] = {
      {"tick, open the list, G four times",
       u"",
       u"",
       {{Key::kAlt, U'n'},
        {Key::kAlt, U'c'},
        {Key::kChar, U' '},
        {Key::kChar, U'g'},
        {Key::kChar, U'G'},
        {Key::kChar, U'g'},
        {Key::kChar, U'g'},
        {Key::kEnter}},
       "[x] Match numbers in any format",
       "Georgia (GE)",
       u"{NumberMatch(S3)=Any}{Region(S2)=DE}"},
      {"untick, an unknown region untouched",
       u"{NumberMatch=any}{Region=XX}",
       u"",
       {{Key::kAlt, U'N'}},
       "Home country:       [United Kingdom (GB)",
       nullptr,
       u"{NumberMatch(S5)=Exact}{Region(S2)=XX}"},
      {"the last entry of the closed list",
       u"{Region=DE}",
       u"",
       {{Key::kAlt, U'c'}, {Key::kEnd}},
       "[Zimbabwe (ZW)",
       nullptr,
       u"{Region(S2)=ZW}"},
      {"a page down from the top of the open list",
       u"",
       u"",
       {{Key::kAlt, U'c'}, {Key::kChar, U' '}, {Key::kHome}, {Key::kPageDown}, {Key::kEnter}},
       "[Angola (AO)",
       "  5 American Samoa (AS)",
       u"{Region(S2)=AO}"},
      {"an open list closed with Esc picks nothing",
       u"",
       u"",
       {{Key::kAlt, U'c'}, {Key::kChar, U' '}, {Key::kPageUp}, {Key::kEscape}},
       "[United Kingdom (GB)",
       "United Kingdom (GB)",
       u""},
      // The server's filter: dimmed, and its key does nothing, in file mode.
      {"no server filter in file mode",
       u"",
       u"",
       {{Key::kAlt, U'f'}},
       "[ ] Let the server filter (faster)",
       nullptr,
       u""},
      {"the server filter ticked in SQL mode",
       u"{UseSQL=True}{Connection(S23)={Connect(S9)=DSN=Sales}}",
       u"",
       {{Key::kAlt, U'f'}},
       "[x] Let the server filter (faster)",
       nullptr,
       u"{SqlFilter(S6)=Server}",
       u"{Connection(S23)={Connect(S9)=DSN=Sales}}{UseSQL(S4)=True}"},
      {"hidden on the user page",
       u"{NumberMatch=Any}",
       u"user",
       {{Key::kPageUp}, {Key::kAlt, U'n'}, {Key::kAlt, U'c'}, {Key::kChar, U'f'}},
       "Enter the location of the database files",
       nullptr,
       u"{NumberMatch(S3)=Any}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TerminalEnv env;
    Session session(env, WireSubsystems);
    env.term.keys.assign(c.keys.begin(), c.keys.end());
    env.term.Press(Key::kEnter);
    Text rd = c.record, page = c.page;
    const Text out = session.Configure(rd, page);
    EXPECT_EQ(U8(out), U8(u"{Caption(S9)=Maximizer}{Dbfile(S9)=(Default)}" +
                          (c.mode.empty() ? Text(u"{UseSQL(S5)=False}") : c.mode) +
                          u"{Phone1(N1)=1}{Phone2(N1)=1}{Phone3(N1)=1}{Phone4(N1)=1}" + c.written));
    const std::string& before_ok = env.term.last;
    EXPECT_TRUE(Has(before_ok, c.shown)) << before_ok;
    EXPECT_EQ(Has(before_ok, "Match numbers"), c.page.empty()) << before_ok;
    if (c.listed) {
      EXPECT_TRUE(env.term.Showed(c.listed)) << c.listed;
    }
  }
}

}  // namespace
}  // namespace pellory::testing
