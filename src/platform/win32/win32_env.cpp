#include "platform/win32/win32_env.h"

#include <windows.h>

#include <cstdio>

#include "platform/failure.h"

namespace pellory {
namespace {

class NoTraceFile : public TraceFile {
 public:
  void AppendLine(TextView) noexcept override {}
};

class SystemClock : public Clock {
 public:
  double SecondsSinceMidnight() override {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return t.wHour * 3600.0 + t.wMinute * 60.0 + t.wSecond + t.wMilliseconds / 1000.0;
  }
  DateTime Now() override {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return MakeDateTime(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
  }
};

// Fixed formats: yyyy-mm-dd and hh:mm:ss with a point as decimal separator.
class IsoRegional : public Regional {
 public:
  char16_t DecimalSeparator() const override { return u'.'; }
  Text ShortDate(int year, int month, int day) const override {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year, month, day);
    return FromUtf8(buf);
  }
  Text LongTime(int hour, int minute, int second) const override {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", hour, minute, second);
    return FromUtf8(buf);
  }
  std::optional<DateTime> ParseDateTime(TextView text) const override {
    std::string s = ToUtf8(Trim(text));
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0;
    char tail = 0;
    if (std::sscanf(s.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &se, &tail) ==
            6 ||
        std::sscanf(s.c_str(), "%4d-%2d-%2d%c", &y, &mo, &d, &tail) == 3) {
      if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 59) return std::nullopt;
      return MakeDateTime(y, mo, d, h, mi, se);
    }
    if (std::sscanf(s.c_str(), "%2d:%2d:%2d%c", &h, &mi, &se, &tail) == 3) {
      if (h > 23 || mi > 59 || se > 59) return std::nullopt;
      return MakeDateTime(1899, 12, 30, h, mi, se);
    }
    return std::nullopt;
  }
};

class NoMessageLoop : public MessagePump {
 public:
  void DoEvents() override {}
};

class EmptyRegistry : public Registry {
 public:
  OpenResult OpenKey(RegistryRoot, TextView) override { return OpenResult::kNotFound; }
  std::optional<int32_t> QueryDword(RegistryRoot, TextView, TextView) override {
    return std::nullopt;
  }
  std::optional<Text> QueryString(RegistryRoot, TextView, TextView, size_t) override {
    return std::nullopt;
  }
  bool DeleteKey(RegistryRoot, TextView) override { return false; }
  void SetString(RegistryRoot, TextView, TextView, TextView) override { Unavailable(); }
  void SetDword(RegistryRoot, TextView, TextView, int32_t) override { Unavailable(); }

 private:
  [[noreturn]] static void Unavailable() { throw Failure(u"The registry is not available", 429); }
};

[[noreturn]] void CannotCreate() { throw Failure(u"ActiveX component can't create object", 429); }

class NoDatabases : public DatabaseEngines {
 public:
  std::shared_ptr<DaoEngine> CreateDaoEngine() override { CannotCreate(); }
  std::shared_ptr<RdoEngine> CreateRdoEngine() override { CannotCreate(); }
};

class NoAutomation : public Automation {
 public:
  std::shared_ptr<AutoObject> CreateObject(TextView) override { CannotCreate(); }
};

class NoKeystrokes : public Keystrokes {
 public:
  void SendKeys(TextView, bool) override {
    throw Failure(u"Keystroke synthesis is not available", 429);
  }
};

class CancellingDialogHost : public DialogHost {
 public:
  void ShowModal(ModalForm&) override {}
};

template <typename T>
void Replace(std::unique_ptr<T>& slot, std::unique_ptr<T> p) {
  if (p) slot = std::move(p);
}

}  // namespace

Win32Env::Win32Env()
    : trace_(std::make_unique<NoTraceFile>()),
      clock_(std::make_unique<SystemClock>()),
      regional_(std::make_unique<IsoRegional>()),
      pump_(std::make_unique<NoMessageLoop>()),
      registry_(std::make_unique<EmptyRegistry>()),
      databases_(std::make_unique<NoDatabases>()),
      automation_(std::make_unique<NoAutomation>()),
      windows_(std::make_unique<EmptyDesktop>()),
      keystrokes_(std::make_unique<NoKeystrokes>()),
      dialogs_(std::make_unique<CancellingDialogHost>()) {}

Win32Env::~Win32Env() = default;

void Win32Env::set_trace(std::unique_ptr<TraceFile> p) { Replace(trace_, std::move(p)); }
void Win32Env::set_clock(std::unique_ptr<Clock> p) { Replace(clock_, std::move(p)); }
void Win32Env::set_regional(std::unique_ptr<Regional> p) { Replace(regional_, std::move(p)); }
void Win32Env::set_pump(std::unique_ptr<MessagePump> p) { Replace(pump_, std::move(p)); }
void Win32Env::set_registry(std::unique_ptr<Registry> p) { Replace(registry_, std::move(p)); }
void Win32Env::set_databases(std::unique_ptr<DatabaseEngines> p) {
  Replace(databases_, std::move(p));
}
void Win32Env::set_automation(std::unique_ptr<Automation> p) { Replace(automation_, std::move(p)); }
void Win32Env::set_windows(std::unique_ptr<WindowSystem> p) { Replace(windows_, std::move(p)); }
void Win32Env::set_keystrokes(std::unique_ptr<Keystrokes> p) { Replace(keystrokes_, std::move(p)); }
void Win32Env::set_dialogs(std::unique_ptr<DialogHost> p) { Replace(dialogs_, std::move(p)); }

}  // namespace pellory
