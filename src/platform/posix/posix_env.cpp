#include "platform/posix/posix_env.h"

#include <fcntl.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/failure.h"

namespace pellory {
namespace {

std::string Strftime(const char* format, const struct tm& tm) {
  char buf[128];
  size_t n = std::strftime(buf, sizeof buf, format, &tm);
  return std::string(buf, n);
}

// The locale's short date format with four-digit years: "%y" (and "%D",
// which stands for "%m/%d/%y") would lose the century, and a date written to
// a record must read back as the same date.
std::string ShortDateFormat() {
  std::string f = nl_langinfo(D_FMT);
  std::string out;
  for (size_t i = 0; i < f.size(); ++i) {
    if (f[i] == '%' && i + 1 < f.size()) {
      char c = f[++i];
      if (c == 'y') {
        out += "%Y";
      } else if (c == 'D') {
        out += "%m/%d/%Y";
      } else {
        out += '%';
        out += c;
      }
    } else {
      out += f[i];
    }
  }
  return out;
}

}  // namespace

std::string DefaultTraceLogPath() {
  if (const char* p = std::getenv("PELLORY_TRACE_LOG"); p && *p) return p;
  std::string dir;
  if (const char* s = std::getenv("XDG_STATE_HOME"); s && *s) {
    dir = s;
  } else if (const char* h = std::getenv("HOME"); h && *h) {
    dir = std::string(h) + "/.local/state";
  } else {
    // No home: a folder of this user's own under /tmp.
    return "/tmp/pellory-" + std::to_string(::getuid()) + "/wendle.log";
  }
  return dir + "/pellory/wendle.log";
}

void PosixTraceFile::AppendLine(TextView line) noexcept {
  try {
    std::string bytes = ToUtf8(line);
    bytes += '\n';
    // The default place may not exist yet; its folder is private to the user.
    if (auto slash = path_.rfind('/'); slash != std::string::npos && slash > 0) {
      std::string dir = path_.substr(0, slash);
      struct stat st;
      if (::stat(dir.c_str(), &st) != 0) {
        for (size_t i = 1; i <= dir.size(); ++i) {
          if (i == dir.size() || dir[i] == '/') ::mkdir(dir.substr(0, i).c_str(), 0700);
        }
      }
    }
    int fd = ::open(path_.c_str(),
                    O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0) return;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
      const char* p = bytes.data();
      size_t left = bytes.size();
      while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        p += n;
        left -= static_cast<size_t>(n);
      }
    }
    ::close(fd);
  } catch (...) {
  }
}

double PosixClock::SecondsSinceMidnight() {
  struct timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  time_t t = ts.tv_sec;
  struct tm tm;
  ::localtime_r(&t, &tm);
  return tm.tm_hour * 3600.0 + tm.tm_min * 60.0 + tm.tm_sec + ts.tv_nsec / 1e9;
}

DateTime PosixClock::Now() {
  time_t t = ::time(nullptr);
  struct tm tm;
  ::localtime_r(&t, &tm);
  return MakeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                      tm.tm_sec);
}

double PosixClock::MonotonicSeconds() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

char16_t PosixRegional::DecimalSeparator() const {
  const struct lconv* lc = std::localeconv();
  if (lc && lc->decimal_point && lc->decimal_point[0] && !(lc->decimal_point[0] & 0x80)) {
    return static_cast<char16_t>(lc->decimal_point[0]);
  }
  return u'.';
}

Text PosixRegional::ShortDate(int year, int month, int day) const {
  struct tm tm {};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  return FromUtf8(Strftime(ShortDateFormat().c_str(), tm));
}

Text PosixRegional::LongTime(int hour, int minute, int second) const {
  struct tm tm {};
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return FromUtf8(Strftime(nl_langinfo(T_FMT), tm));
}

std::optional<DateTime> PosixRegional::ParseDateTime(TextView text) const {
  std::string s = ToUtf8(Trim(text));
  if (s.empty()) return std::nullopt;
  const std::string date_fmt = ShortDateFormat();
  const std::string time_fmt = nl_langinfo(T_FMT);
  struct Try {
    std::string format;
    bool has_date;
    bool has_time;
  };
  const Try tries[] = {
      {date_fmt + " " + time_fmt, true, true}, {date_fmt, true, false},   {time_fmt, false, true},
      {"%Y-%m-%d %H:%M:%S", true, true},       {"%Y-%m-%d", true, false},
  };
  for (const Try& t : tries) {
    struct tm tm {};
    const char* end = ::strptime(s.c_str(), t.format.c_str(), &tm);
    if (!end || *end != '\0') continue;
    if (!t.has_date) return MakeDateTime(1899, 12, 30, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return MakeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, t.has_time ? tm.tm_hour : 0,
                        t.has_time ? tm.tm_min : 0, t.has_time ? tm.tm_sec : 0);
  }
  return std::nullopt;
}

void PosixMessagePump::DoEvents() {
  for (size_t i = 0; i < sources_.size(); ++i) sources_[i]();
}

PosixEnv::PosixEnv()
    : AdapterEnv(std::make_unique<PosixTraceFile>(DefaultTraceLogPath()),
                 std::make_unique<PosixClock>(), std::make_unique<PosixRegional>(),
                 std::make_unique<PosixMessagePump>()),
      // The base never replaces the pump it was given.
      posix_pump_(static_cast<PosixMessagePump*>(&pump())) {}

PosixEnv::~PosixEnv() = default;

}  // namespace pellory
