// The trace file, the file chores, the clock and the regional formats of the
// Windows build.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/win32/ansi_text.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_regional.h"
#include "platform/win32/win32_trace_file.h"

namespace pellory {
namespace {

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::string TempPath(const char* name) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  return std::string(dir) + name;
}

TEST(Win32TraceFileTest, AppendsCrLfLinesToTheFixedLogInTheAnsiCodePage) {
  const std::string log = "c:\\wendle.log";
  const std::string before = ReadBytes(log);
  Win32TraceFile trace;
  EXPECT_EQ(ToUtf8(trace.path()), "c:\\wendle.log");
  trace.AppendLine(u"first line @ test.One");
  trace.AppendLine(u"caf\u00e9 second @ test.Two");
  const std::string after = ReadBytes(log);
  ASSERT_EQ(after.substr(0, before.size()), before) << "earlier lines must stay";
  EXPECT_EQ(after.substr(before.size()),
            "first line @ test.One\r\n" + ToAnsi(u"caf\u00e9 second @ test.Two") + "\r\n");
  // A character outside the code page is written as its stand-in, not dropped.
  EXPECT_EQ(ToAnsi(u"caf\u00e9").size(), 4u);
}

TEST(Win32TraceFileTest, CreatesAMissingFileAndLosesLinesItCannotWrite) {
  const std::string fresh = TempPath("pellory-trace-fresh.log");
  DeleteFileA(fresh.c_str());
  Win32TraceFile(FromAnsi(fresh)).AppendLine(u"created");
  EXPECT_EQ(ReadBytes(fresh), "created\r\n");
  DeleteFileA(fresh.c_str());

  // A file another program holds open without sharing: the line is lost.
  const std::string locked = TempPath("pellory-trace-locked.log");
  DeleteFileA(locked.c_str());
  { std::ofstream(locked, std::ios::binary) << "kept\r\n"; }
  HANDLE holder = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  Win32TraceFile(FromAnsi(locked)).AppendLine(u"lost");
  CloseHandle(holder);
  EXPECT_EQ(ReadBytes(locked), "kept\r\n");

  // A read-only file, where the system enforces it (root under Wine may
  // write anyway): the line is lost.
  ASSERT_TRUE(SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_READONLY));
  HANDLE probe = CreateFileA(locked.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe == INVALID_HANDLE_VALUE) {
    Win32TraceFile(FromAnsi(locked)).AppendLine(u"lost");
    EXPECT_EQ(ReadBytes(locked), "kept\r\n");
  } else {
    CloseHandle(probe);
  }
  SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(locked.c_str());

  // No such folder: nothing is created and nothing fails.
  Win32TraceFile(u"c:\\no-such-folder-pellory\\x.log").AppendLine(u"lost");
  EXPECT_EQ(GetFileAttributesA("c:\\no-such-folder-pellory"), INVALID_FILE_ATTRIBUTES);
}

// Folders made on the way, a new file and a replaced one read back whole,
// and a failure that names the file and leaves nothing behind.
TEST(Win32FilesTest, ReplaceReadAndMakeFolders) {
  const std::string root = TempPath("pellory-files");
  const std::string folder = root + "\\a\\b";
  const std::string file = folder + "\\host.rec";
  EXPECT_EQ(ParentFolder(file), folder);
  EXPECT_EQ(ParentFolder("c:\\host.rec"), "");
  EXPECT_EQ(ParentFolder("host.rec"), "");
  MakePrivateFolders(ParentFolder(file));
  EXPECT_NE(GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  std::string bytes;
  for (const char* content : {"first\r\n", "second, longer\r\n"}) {
    ReplaceFileAtomically(file, content);
    ASSERT_TRUE(ReadWholeFile(file, &bytes));
    EXPECT_EQ(bytes, content);
  }
  const std::string missing = folder + "\\missing\\host.rec";
  try {
    ReplaceFileAtomically(missing, "x");
    ADD_FAILURE() << "a file in a missing folder was written";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()).rfind(missing + ": ", 0), 0u) << e.what();
  }
  EXPECT_FALSE(ReadWholeFile(missing, &bytes));
  EXPECT_TRUE(IsNotFoundError(LastSystemError()));
  EXPECT_FALSE(ReadWholeFile(folder, &bytes));  // a folder
  EXPECT_FALSE(IsNotFoundError(LastSystemError()));
  EXPECT_FALSE(SystemErrorMessage(LastSystemError()).empty());
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  std::vector<std::string> names;
  do {
    names.push_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  EXPECT_EQ(names.size(), 3u) << "only ., .. and host.rec";
  DeleteFileA(file.c_str());
  RemoveDirectoryA(folder.c_str());
  RemoveDirectoryA((root + "\\a").c_str());
  RemoveDirectoryA(root.c_str());
}

TEST(Win32ClockTest, SecondsSinceMidnightAgreesWithNow) {
  Win32Clock clock;
  const double seconds = clock.SecondsSinceMidnight();
  const DateTime now = clock.Now();
  EXPECT_GE(seconds, 0.0);
  EXPECT_LT(seconds, 86400.0);
  int y, mo, d, h, mi, s;
  SplitDateTime(now, &y, &mo, &d, &h, &mi, &s);
  const double from_now = h * 3600.0 + mi * 60.0 + s;
  // Taken a moment apart; only a midnight between them could differ more.
  EXPECT_NEAR(seconds, from_now, 2.0);
  EXPECT_GE(y, 2020);
}

LocalePatterns Pictures(Text date, Text time) {
  LocalePatterns p;
  p.short_date = std::move(date);
  p.long_time = std::move(time);
  p.am = u"AM";
  p.pm = u"PM";
  const char16_t* names[] = {u"January",   u"February", u"March",    u"April",
                             u"May",       u"June",     u"July",     u"August",
                             u"September", u"October",  u"November", u"December"};
  for (int m = 0; m < 12; ++m) {
    p.month_names[m] = names[m];
    p.month_abbreviations[m] = Text(names[m]).substr(0, 3);
  }
  return p;
}

std::string Parsed(const LocalePatterns& p, TextView text) {
  auto value = ParseWithPatterns(p, text);
  if (!value) return "none";
  int y, mo, d, h, mi, s;
  SplitDateTime(*value, &y, &mo, &d, &h, &mi, &s);
  char buf[64];
  snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
  return buf;
}

TEST(Win32RegionalTest, ReadsDatesAndTimesAsThePicturesWriteThem) {
  const LocalePatterns us = Pictures(u"M/d/yyyy", u"h:mm:ss tt");
  EXPECT_EQ(Parsed(us, u"12/6/2026 1:05:09 PM"), "2026-12-06 13:05:09");
  EXPECT_EQ(Parsed(us, u"12/6/2026 12:00:01 am"), "2026-12-06 00:00:01");
  EXPECT_EQ(Parsed(us, u" 02/29/2024 "), "2024-02-29 00:00:00");
  EXPECT_EQ(Parsed(us, u"11:43:57 PM"), "1899-12-30 23:43:57");
  EXPECT_EQ(Parsed(us, u"2026-12-06 08:09:10"), "2026-12-06 08:09:10");
  EXPECT_EQ(Parsed(us, u"2026-12-06"), "2026-12-06 00:00:00");
  EXPECT_EQ(Parsed(us, u"12/6/29"), "2029-12-06 00:00:00");
  EXPECT_EQ(Parsed(us, u"12/6/30"), "1930-12-06 00:00:00");

  const LocalePatterns de = Pictures(u"dd.MM.yyyy", u"HH:mm:ss");
  EXPECT_EQ(Parsed(de, u"06.12.2026 23:59:59"), "2026-12-06 23:59:59");
  const LocalePatterns named = Pictures(u"d MMMM yyyy", u"HH'h'mm'm'ss");
  EXPECT_EQ(Parsed(named, u"6 december 2026 07h08m09"), "2026-12-06 07:08:09");
  EXPECT_EQ(Parsed(named, u"6 Dec 2026"), "2026-12-06 00:00:00");
}

TEST(Win32RegionalTest, RejectsWhatIsNotADateOrTime) {
  const LocalePatterns us = Pictures(u"M/d/yyyy", u"h:mm:ss tt");
  for (const char16_t* bad :
       {u"", u"   ", u"2/30/2026", u"2/29/2023", u"13/1/2026", u"4/31/2026", u"25:00:00",
        u"1:60:00 PM", u"13:00:00 PM", u"12/6/2026 junk", u"hello", u"12/6"}) {
    EXPECT_EQ(Parsed(us, bad), "none") << ToUtf8(bad);
  }
}

TEST(Win32RegionalTest, ShortDatesKeepTheCenturyAndEverythingReadsBack) {
  EXPECT_EQ(ToUtf8(FullYearPattern(u"M/d/yy")), "M/d/yyyy");
  EXPECT_EQ(ToUtf8(FullYearPattern(u"dd.MM.yyyy")), "dd.MM.yyyy");
  EXPECT_EQ(ToUtf8(FullYearPattern(u"yy'y'MM")), "yyyy'y'MM");

  Win32Regional regional;
  const char16_t sep = regional.DecimalSeparator();
  EXPECT_TRUE(sep == u'.' || sep == u',');
  const Text date = regional.ShortDate(2026, 12, 6);
  EXPECT_NE(date.find(u"2026"), Text::npos);
  EXPECT_NE(date.find(u"12"), Text::npos);
  for (DateTime value : {MakeDateTime(2026, 12, 6, 13, 5, 9), MakeDateTime(1999, 1, 31, 0, 0, 0),
                         MakeDateTime(2000, 2, 29, 23, 59, 59), MakeDateTime(1899, 12, 30, 0, 0, 1),
                         MakeDateTime(1899, 12, 30, 12, 30, 0)}) {
    const Text text = FormatDateTime(regional, value);
    auto back = regional.ParseDateTime(text);
    ASSERT_TRUE(back.has_value()) << ToAnsi(text);
    EXPECT_NEAR(back->days, value.days, 1e-6) << ToAnsi(text);
  }
}

}  // namespace
}  // namespace pellory
