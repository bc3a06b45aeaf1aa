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
#include <vector>

#include "platform/failure.h"
#include "platform/files.h"

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

namespace {

// Folders are opened only to be walked through, which needs no right to
// read them.
#if defined(O_PATH)
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#elif defined(O_SEARCH)
constexpr int kFolderFlags = O_SEARCH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#else
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#endif

// Owned by this user and writable by no one else.
bool Private(const struct stat& st) {
  return st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int get() const { return fd_; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// Opens the folder that holds the log at `path`, one folder at a time from
// the root (or the working folder), never through a symbolic link, and
// creates the missing ones with mode 0700. The folders it creates and the
// last one must be private; the ones above are the system's folders or the
// user's home and are taken as they are. -1 when the log cannot be there.
int OpenLogFolder(const std::string& path, std::string* name) {
  std::vector<std::string> parts;
  for (size_t start = 0; start <= path.size();) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  if (parts.empty() || path.back() == '/') return -1;
  *name = parts.back();
  parts.pop_back();

  Fd folder(::open(path.front() == '/' ? "/" : ".", kFolderFlags));
  if (folder.get() < 0) return -1;
  bool created = false;
  for (const std::string& part : parts) {
    int next = ::openat(folder.get(), part.c_str(), kFolderFlags);
    if (next < 0 && errno == ENOENT) {
      if (::mkdirat(folder.get(), part.c_str(), 0700) == 0) {
        created = true;
      } else if (errno != EEXIST) {
        return -1;
      }
      next = ::openat(folder.get(), part.c_str(), kFolderFlags);
    }
    folder.Reset(next);
    if (next < 0) return -1;
    struct stat st;
    if (::fstat(next, &st) != 0 || !S_ISDIR(st.st_mode)) return -1;
    if (created && !Private(st)) return -1;
  }
  struct stat st;
  if (::fstat(folder.get(), &st) != 0 || !Private(st)) return -1;
  return folder.Release();
}

}  // namespace

void PosixTraceFile::AppendLine(TextView line) noexcept {
  try {
    std::string bytes = ToUtf8(line);
    bytes += '\n';
    std::string name;
    Fd folder(OpenLogFolder(path_, &name));
    if (folder.get() < 0) return;
    Fd file(::openat(folder.get(), name.c_str(),
                     O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600));
    if (file.get() < 0) return;
    struct stat st;
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) return;
    WriteAll(file.get(), bytes);  // a line the file does not take is lost
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

Text PosixRegional::Territory() const {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return LocaleTerritory(FromUtf8(value));
  }
  return Text();
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
