// The real POSIX adapters: trace file, regional formats, clock, the file
// chores they share, and the values and texts they carry.
#include "platform/posix/posix_env.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "platform/failure.h"
#include "platform/files.h"
#include "plugin/records.h"
#include "plugin/session.h"
#include "support/fake_env.h"

namespace pellory::testing {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class TraceFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/pellory-trace-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir = tmpl;
    old_umask = ::umask(022);
  }
  void TearDown() override {
    ::umask(old_umask);
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir);
  }
  fs::path dir;
  mode_t old_umask = 0;
};

TEST_F(TraceFileTest, CreatesAPrivateFileAndAppendsLines) {
  const fs::path log = dir / "state" / "pellory" / "wendle.log";
  PosixTraceFile file(log.string());
  file.AppendLine(u"first \u00e9");
  file.AppendLine(u"second");
  EXPECT_EQ(ReadAll(log), "first \xc3\xa9\nsecond\n");
  struct stat st;
  ASSERT_EQ(::stat(log.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(log.parent_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // An existing log keeps its earlier lines.
  PosixTraceFile again(log.string());
  again.AppendLine(u"third");
  EXPECT_EQ(ReadAll(log), "first \xc3\xa9\nsecond\nthird\n");
}

// The uid of a user other than the one running, for the cases that need
// root to hand a folder over.
uid_t OtherUser() {
  const struct passwd* nobody = ::getpwnam("nobody");
  return nobody ? nobody->pw_uid : 65534;
}

TEST_F(TraceFileTest, FoldersMustBeTheUsersOwnWithNoLinkOnTheWay) {
  const bool root = ::geteuid() == 0;
  auto folder = [&](const fs::path& p, mode_t mode) {
    fs::create_directories(p);
    ::chmod(p.c_str(), mode);
  };
  auto give_away = [&](const fs::path& p) { ASSERT_EQ(::chown(p.c_str(), OtherUser(), -1), 0); };
  const std::string fallback = "pellory-" + std::to_string(::getuid());
  const struct {
    const char* name;
    std::function<void()> setup;
    fs::path log;  // under dir
    bool written;
  } cases[] = {
      {"new folders", [] {}, "state/pellory/wendle.log", true},
      {"link to a folder on the way",
       [&] {
         folder(dir / "real", 0700);
         fs::create_directory_symlink(dir / "real", dir / "home");
       },
       "home/state/pellory/wendle.log", false},
      {"link as the log's folder",
       [&] {
         folder(dir / "real", 0700);
         fs::create_directory_symlink(dir / "real", dir / "pellory");
       },
       "pellory/wendle.log", false},
      {"link as the log",
       [&] {
         std::ofstream(dir / "target") << "keep\n";
         fs::create_symlink(dir / "target", dir / "wendle.log");
       },
       "wendle.log", false},
      {"dangling link as the log", [&] { fs::create_symlink(dir / "absent", dir / "wendle.log"); },
       "wendle.log", false},
      {"folder writable by others", [&] { folder(dir / "pellory", 0707); }, "pellory/wendle.log",
       false},
      {"folder writable by the group", [&] { folder(dir / "pellory", 0770); }, "pellory/wendle.log",
       false},
      {"folder of the user's, readable by all", [&] { folder(dir / "pellory", 0755); },
       "pellory/wendle.log", true},
      // A shared folder such as /tmp on the way: sticky and writable by all.
      {"fallback under a sticky folder", [&] { folder(dir / "tmp", 01777); },
       fs::path("tmp") / fallback / "wendle.log", true},
      {"fallback made by someone else",
       [&] {
         folder(dir / "tmp", 01777);
         folder(dir / "tmp" / fallback, 0777);
         if (root) give_away(dir / "tmp" / fallback);
       },
       fs::path("tmp") / fallback / "wendle.log", false},
      {"folder of another owner",
       [&] {
         folder(dir / "pellory", 0700);
         if (root) give_away(dir / "pellory");
       },
       "pellory/wendle.log", !root},
      {"log of another owner",
       [&] {
         std::ofstream(dir / "wendle.log") << "";
         if (root) give_away(dir / "wendle.log");
       },
       "wendle.log", !root},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir);
    fs::create_directory(dir);
    c.setup();
    PosixTraceFile((dir / c.log).string()).AppendLine(u"line");
    const fs::path log = dir / c.log;
    EXPECT_EQ(ReadAll(log) == "line\n", c.written) << ReadAll(log);
    if (!c.written) {
      // Nothing was created on the far side of a link either.
      EXPECT_FALSE(fs::exists(dir / "real" / "state"));
      EXPECT_FALSE(fs::exists(dir / "real" / "wendle.log"));
      EXPECT_FALSE(fs::exists(dir / "absent"));
      if (fs::exists(dir / "target")) {
        EXPECT_EQ(ReadAll(dir / "target"), "keep\n");
      }
    }
  }
  // The folders made on the way are private.
  fs::remove_all(dir);
  fs::create_directory(dir);
  PosixTraceFile((dir / "a" / "b" / "wendle.log").string()).AppendLine(u"line");
  for (const fs::path& p : {dir / "a", dir / "a" / "b"}) {
    struct stat st;
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << p;
  }
}

TEST_F(TraceFileTest, UnwritableLogLosesTheLineSilently) {
  fs::create_directory(dir / "adir");
  PosixTraceFile((dir / "adir").string()).AppendLine(u"line");  // a directory
  { std::ofstream(dir / "afile") << "x"; }
  PosixTraceFile((dir / "afile" / "wendle.log").string()).AppendLine(u"line");  // no folder
  EXPECT_EQ(ReadAll(dir / "afile"), "x");
  ::mkfifo((dir / "fifo").c_str(), 0600);  // nobody reads: must not block
  PosixTraceFile((dir / "fifo").string()).AppendLine(u"line");
}

TEST_F(TraceFileTest, WriteProtectedLogLeavesAFailingMethodNormal) {
  const fs::path log = dir / "wendle.log";
  { std::ofstream(log) << "old\n"; }
  fs::permissions(log, fs::perms::owner_read, fs::perm_options::replace);
  fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace);
  struct Env2 : FakeEnv {
    explicit Env2(std::string path) : file(std::move(path)) {}
    TraceFile& trace() override { return file; }
    PosixTraceFile file;
  } env(log.string());
  struct FailingDialogs : ConfigDialogs {
    void Show(Text&, bool) override { throw Failure(u"Disk gone"); }
  };
  Session s(env, [](Session&) {
    Subsystems parts;
    parts.dialogs = std::make_unique<FailingDialogs>();
    return parts;
  });
  Text rd = u"{A=1}", page;
  EXPECT_EQ(s.Configure(rd, page), u"{A=1}");
  EXPECT_EQ(s.Capabilities().substr(0, 13), u"{Version=2.0}");
  if (::geteuid() != 0) {  // root writes through any permission bits
    EXPECT_EQ(ReadAll(log), "old\n");
  }
}

using FilesTest = TraceFileTest;

// Replacing a file whole: a new file is private, an existing one keeps its
// mode, a link stays a link and its target gets the content, and a replace
// that fails leaves the old file and nothing beside it.
TEST_F(FilesTest, ReplaceKeepsModesAndLinksAndLeavesNothingOnFailure) {
  const fs::path folder = dir / "a" / "b";
  MakePrivateFolders(ParentFolder((folder / "file").string()));
  for (const fs::path& p : {dir / "a", folder}) {
    struct stat st;
    ASSERT_EQ(::stat(p.c_str(), &st), 0) << p;
    EXPECT_EQ(st.st_mode & 0777, 0700u) << p;
  }
  const fs::path shared = folder / "shared";
  std::ofstream(shared) << "old";
  ::chmod(shared.c_str(), 0640);
  fs::create_symlink("shared", folder / "link");
  fs::create_directory(folder / "sub");
  std::ofstream(folder / "sub" / "kept") << "kept";
  struct Case {
    fs::path path;
    fs::path holder;  // the file that gets the content
    unsigned mode;
  } cases[] = {
      {folder / "new", folder / "new", 0600},
      {shared, shared, 0640},
      {folder / "link", shared, 0640},
  };
  for (const Case& c : cases) {
    const std::string content = "written through " + c.path.filename().string();
    ReplaceFileAtomically(c.path.string(), content);
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(c.holder.string(), &bytes)) << c.path;
    EXPECT_EQ(bytes, content);
    struct stat st;
    ASSERT_EQ(::stat(c.holder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, c.mode) << c.path;
  }
  EXPECT_TRUE(fs::is_symlink(folder / "link"));

  const fs::path missing = folder / "missing" / "file";
  try {
    ReplaceFileAtomically(missing.string(), "x");
    ADD_FAILURE() << "a file in a missing folder was written";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), missing.string() + ": No such file or directory");
  }
  EXPECT_THROW(ReplaceFileAtomically((folder / "sub").string(), "x"), std::runtime_error);
  EXPECT_EQ(ReadAll(folder / "sub" / "kept"), "kept");
  const auto entries = std::distance(fs::directory_iterator(folder), fs::directory_iterator());
  EXPECT_EQ(entries, 4);  // new, shared, link, sub: no file left over from a replace

  std::string bytes;
  EXPECT_FALSE(ReadWholeFile(missing.string(), &bytes));
  EXPECT_TRUE(IsNotFoundError(LastSystemError()));
  EXPECT_FALSE(ReadWholeFile(folder.string(), &bytes));
  EXPECT_FALSE(IsNotFoundError(LastSystemError()));
  EXPECT_FALSE(SystemErrorMessage(LastSystemError()).empty());

  const std::pair<const char*, const char*> parents[] = {
      {"/a/b/host.rec", "/a/b"}, {"a/host.rec", "a"}, {"/host.rec", ""}, {"host.rec", ""}};
  for (const auto& [path, parent] : parents) EXPECT_EQ(ParentFolder(path), parent) << path;
}

TEST(PosixEnvTest, TraceLogPlace) {
  const char* saved = std::getenv("PELLORY_TRACE_LOG");
  const char* home = std::getenv("HOME");
  std::string keep = saved ? saved : "", keep_home = home ? home : "";
  ::setenv("PELLORY_TRACE_LOG", "/somewhere/my.log", 1);
  EXPECT_EQ(DefaultTraceLogPath(), "/somewhere/my.log");
  ::unsetenv("PELLORY_TRACE_LOG");
  ::setenv("XDG_STATE_HOME", "/xdg", 1);
  EXPECT_EQ(DefaultTraceLogPath(), "/xdg/pellory/wendle.log");
  ::unsetenv("XDG_STATE_HOME");
  ::setenv("HOME", "/home/u", 1);
  EXPECT_EQ(DefaultTraceLogPath(), "/home/u/.local/state/pellory/wendle.log");
  if (saved) ::setenv("PELLORY_TRACE_LOG", keep.c_str(), 1);
  if (home) ::setenv("HOME", keep_home.c_str(), 1);
}

TEST(PosixEnvTest, RegionalFormatsOfTheProcessLocaleRoundTrip) {
  std::setlocale(LC_ALL, "C");
  PosixEnv env;
  PosixRegional& regional = static_cast<PosixRegional&>(env.regional());
  EXPECT_EQ(regional.DecimalSeparator(), u'.');
  EXPECT_EQ(regional.ShortDate(1950, 7, 4), u"07/04/1950");  // the century is kept
  EXPECT_EQ(regional.LongTime(9, 5, 7), u"09:05:07");
  for (DateTime when : {MakeDateTime(1950, 7, 4, 23, 59, 59), MakeDateTime(2026, 12, 6, 0, 0, 0),
                        MakeDateTime(1899, 12, 30, 12, 0, 1), MakeDateTime(1800, 2, 28, 1, 2, 3)}) {
    Text rd;
    AddVar(env, rd, u"When", Variant(when));
    EXPECT_EQ(GetVar(env, rd, u"When"), Variant(when)) << U8(rd);
  }
  Text rd;
  AddVar(env, rd, u"N", Variant(2.25));
  EXPECT_EQ(rd, u"{N(N4)=2.25}");
  EXPECT_FALSE(regional.ParseDateTime(u"31/31/2020 xx").has_value());
  EXPECT_EQ(regional.ParseDateTime(u"2026-12-06 11:43:57"), MakeDateTime(2026, 12, 6, 11, 43, 57));
}

TEST(PosixEnvTest, TerritoryOfTheMessagesLocale) {
  struct Case {
    const char* lc_all;
    const char* lc_messages;
    const char* lang;
    const char16_t* territory;
  };
  const Case cases[] = {
      {nullptr, nullptr, "en_GB.UTF-8", u"GB"},
      {nullptr, nullptr, "de_DE@euro", u"DE"},
      {nullptr, nullptr, "sr_RS.UTF-8@latin", u"RS"},
      {nullptr, "fr_CA.UTF-8", "en_GB.UTF-8", u"CA"},
      {"C", "fr_CA.UTF-8", "en_GB.UTF-8", u""},  // LC_ALL decides, and names none
      {"", "", "en_US", u"US"},                  // empty is as unset
      {nullptr, nullptr, "POSIX", u""},
      {nullptr, nullptr, "C.UTF-8", u""},
      {nullptr, nullptr, "en", u""},
      {nullptr, nullptr, nullptr, u""},
  };
  const char* const names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::optional<std::string> saved[3];
  for (int i = 0; i < 3; ++i) {
    if (const char* v = std::getenv(names[i])) saved[i] = v;
  }
  for (const Case& c : cases) {
    const char* values[] = {c.lc_all, c.lc_messages, c.lang};
    for (int i = 0; i < 3; ++i) {
      if (values[i]) {
        ::setenv(names[i], values[i], 1);
      } else {
        ::unsetenv(names[i]);
      }
    }
    EXPECT_EQ(PosixRegional().Territory(), c.territory) << (c.lang ? c.lang : "(no LANG)");
  }
  for (int i = 0; i < 3; ++i) {
    if (saved[i]) {
      ::setenv(names[i], saved[i]->c_str(), 1);
    } else {
      ::unsetenv(names[i]);
    }
  }
  // The names Windows gives.
  EXPECT_EQ(LocaleTerritory(u"en-GB"), u"GB");
  EXPECT_EQ(LocaleTerritory(u"zh-Hans-CN"), u"CN");
  EXPECT_EQ(LocaleTerritory(u"es-419"), u"");
}

TEST(PosixEnvTest, ClockAndUnavailablePorts) {
  PosixEnv env;
  double s = env.clock().SecondsSinceMidnight();
  EXPECT_GE(s, 0);
  EXPECT_LT(s, 86400.5);
  EXPECT_GT(env.clock().Now().days, 46000);  // after 2025
  EXPECT_THROW(env.automation().CreateObject(u"Maximizer.Application"), Failure);
  EXPECT_THROW(env.databases().CreateDaoEngine(), Failure);
  int runs = 0;
  env.posix_pump().AddSource([&] { ++runs; });
  env.pump().DoEvents();
  EXPECT_EQ(runs, 1);
}

TEST(TextAndValues, Utf8ConversionsAtTheEdges) {
  const Text t = u"a\u00e9\u20ac\U0001F600";
  EXPECT_EQ(FromUtf8(ToUtf8(t)), t);
  EXPECT_EQ(FromUtf8("\xff\xc3"), u"\uFFFD\uFFFD");
  EXPECT_EQ(FromUtf8("\xed\xa0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(ToUtf8(Text(1, char16_t{0xD800})), "\xef\xbf\xbd");
  // UTF-32 joins surrogate pairs and keeps an unpaired one both ways.
  const Text lone = Text(u"x") + char16_t{0xDC00} + u"\U0001F600";
  EXPECT_EQ(ToUtf32(lone), (std::u32string{U'x', 0xDC00, 0x1F600}));
  EXPECT_EQ(FromUtf32(ToUtf32(lone)), lone);
  EXPECT_EQ(FromUtf32(std::u32string(1, char32_t{0x110000})), u"\uFFFD");
}

TEST(TextAndValues, LeadingNumberRule) {
  const std::pair<const char16_t*, double> cases[] = {
      {u"120", 120}, {u"  12abc", 12}, {u"-3.5e2x", -350}, {u"abc", 0},     {u"", 0},
      {u".5", 0.5},  {u"1.2.3", 1.2},  {u"\t\n 7)", 7},    {u"1 2 3", 123}, {u"+4", 4},
      {u"-", 0},     {u"1e", 1},       {u"1e400", 0},      {u"3,5", 3},     {u"2D2", 200},
  };
  for (const auto& [in, out] : cases) EXPECT_DOUBLE_EQ(LeadingNumber(in), out) << U8(in);
}

TEST(TextAndValues, NumberTextAndConversions) {
  EXPECT_EQ(NumberText(Variant(1.0 / 3), u','), u"0,333333333333333");
  EXPECT_EQ(NumberText(Variant(0.1f), u'.'), u"0.1");
  EXPECT_EQ(NumberText(Variant(16777216.0f), u'.'), u"1.677722E+07");
  // Whole numbers below the precision limit stay plain: a telephone number
  // held as a number must not turn into 1.23456789E+10.
  EXPECT_EQ(NumberText(Variant(12345678900.0), u'.'), u"12345678900");
  EXPECT_EQ(NumberText(Variant(50.0), u'.'), u"50");
  EXPECT_EQ(NumberText(Variant(-2.5), u'.'), u"-2.5");
  EXPECT_EQ(NumberText(Variant(1234567.0f), u'.'), u"1234567");
  EXPECT_EQ(NumberText(Variant(1e15), u'.'), u"1E+15");
  EXPECT_EQ(NumberText(Variant(0.0001), u'.'), u"0.0001");
  EXPECT_EQ(NumberText(Variant(0.00001), u'.'), u"1E-05");
  EXPECT_EQ(NumberText(Variant(0.0), u'.'), u"0");
  EXPECT_EQ(NumberText(Variant(Currency{-5}), u'.'), u"-0.0005");
  EXPECT_EQ(NumberText(Variant(Decimal{5, 0, 3, true}), u'.'), u"-0.005");
  EXPECT_EQ(NumberText(Variant(Decimal{0, 1, 0, false}), u'.'), u"18446744073709551616");
  EXPECT_EQ(Variant(u" 12 ").ToInt32(), 12);
  EXPECT_EQ(Variant(2.5).ToInt32(), 2);  // halves to even
  EXPECT_THROW(Variant(u"x").ToDouble(), Failure);
  EXPECT_THROW(Variant(40000).ToInt16(), Failure);
  EXPECT_THROW(Variant::Null().ToText(nullptr), Failure);
  EXPECT_TRUE(Variant(u"true").ToBool());
  EXPECT_FALSE(Variant(u"0").ToBool());
  EXPECT_TRUE(Variant(u"-1").ToBool());
  EXPECT_EQ(UpperCase(u"stra\u00dfe \u00ff\u0101\u03b1\u0436"),
            u"STRA\u00dfE \u0178\u0100\u0391\u0416");
  EXPECT_EQ(FindNoCase(u"{RESULT=x}", u"{result="), 0u);
  EXPECT_EQ(FindNoCase(u"ab", u"abc"), Text::npos);
}

}  // namespace
}  // namespace pellory::testing
