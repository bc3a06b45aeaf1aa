// In-memory fakes of every platform port, bundled as a FakeEnv.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"

namespace pellory::testing {

class FakeTraceFile : public TraceFile {
 public:
  void AppendLine(TextView line) noexcept override { lines.emplace_back(line); }
  std::vector<Text> lines;
};

class FakeClock : public Clock {
 public:
  double SecondsSinceMidnight() override { return seconds; }
  DateTime Now() override { return now; }
  double MonotonicSeconds() override {
    if (!real_monotonic) return monotonic;
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  double seconds = 3600;
  double monotonic = 1000;
  // Tests over real drivers wait for real: deadlines then run on the
  // machine's monotonic clock.
  bool real_monotonic = false;
  DateTime now = MakeDateTime(2026, 12, 6, 11, 43, 57);
};

// dd/mm/yyyy and hh:mm:ss, with a settable decimal separator and territory.
class FakeRegional : public Regional {
 public:
  char16_t DecimalSeparator() const override { return separator; }
  Text ShortDate(int year, int month, int day) const override;
  Text LongTime(int hour, int minute, int second) const override;
  std::optional<DateTime> ParseDateTime(TextView text) const override;
  Text Territory() const override { return territory; }
  char16_t separator = u'.';
  Text territory = u"GB";
};

class FakePump : public MessagePump {
 public:
  void DoEvents() override {
    ++calls;
    if (hook) hook();
  }
  int calls = 0;
  std::function<void()> hook;
};

class FakeRegistry : public Registry {
 public:
  struct Value {
    bool is_dword = false;
    Text text;
    int32_t dword = 0;
  };
  OpenResult OpenKey(RegistryRoot root, TextView key) override;
  std::optional<int32_t> QueryDword(RegistryRoot root, TextView key, TextView name) override;
  std::optional<Text> QueryString(RegistryRoot root, TextView key, TextView name,
                                  size_t max_bytes) override;
  bool DeleteKey(RegistryRoot root, TextView key) override;
  void SetString(RegistryRoot root, TextView key, TextView name, TextView value) override;
  void SetDword(RegistryRoot root, TextView key, TextView name, int32_t value) override;

  bool HasKey(RegistryRoot root, TextView key) const;
  std::vector<Text> deleted;  // keys passed to DeleteKey, in order
  // (root, upper-cased key) -> upper-cased value name -> value
  std::map<std::pair<int, Text>, std::map<Text, Value>> keys;
};

// Database engines made by test-supplied factories; without one, creating
// an engine fails as on a machine without it.
class FakeDatabases : public DatabaseEngines {
 public:
  std::shared_ptr<DaoEngine> CreateDaoEngine() override;
  std::shared_ptr<RdoEngine> CreateRdoEngine() override;
  std::function<std::shared_ptr<DaoEngine>()> dao;
  std::function<std::shared_ptr<RdoEngine>()> rdo;
};

class FakeAutomation : public Automation {
 public:
  std::shared_ptr<AutoObject> CreateObject(TextView prog_id) override;
  std::map<Text, std::function<std::shared_ptr<AutoObject>()>> servers;  // by upper-cased id
};

class FakeKeystrokes : public Keystrokes {
 public:
  void SendKeys(TextView keys, bool wait) override {
    sent.emplace_back(keys);
    waited.push_back(wait);
  }
  std::vector<Text> sent;
  std::vector<bool> waited;
};

class FakeDialogHost : public DialogHost {
 public:
  void ShowModal(ModalForm& form) override {
    ++shown;
    if (run) run(form);
  }
  Text ShowOpen(const FileOpenRequest& request) override {
    open_requests.push_back(request);
    return open ? open(request) : Text();
  }
  void Tell(TextView caption, TextView message) override {
    message_caption = Text(caption);
    told.emplace_back(message);
  }
  bool AskYesNo(TextView caption, TextView question) override {
    message_caption = Text(caption);
    asked.emplace_back(question);
    return answer ? answer(question) : true;
  }
  PathKind KindOfPath(TextView path) override {
    auto it = paths.find(Text(path));
    return it == paths.end() ? PathKind::kNothing : it->second;
  }
  int shown = 0;
  std::function<void(ModalForm&)> run;  // none: closes as Cancel
  std::vector<FileOpenRequest> open_requests;
  std::function<Text(const FileOpenRequest&)> open;  // none: the person cancels
  Text message_caption;                              // of the last message or question
  std::vector<Text> told, asked;                     // messages shown and questions asked
  std::function<bool(TextView)> answer;              // none: the person answers Yes
  std::map<Text, PathKind> paths;                    // what is there; nothing elsewhere
};

class FakeEnv : public Env {
 public:
  FakeEnv();
  TraceFile& trace() override { return trace_file; }
  Clock& clock() override { return fake_clock; }
  Regional& regional() override { return fake_regional; }
  MessagePump& pump() override { return fake_pump; }
  Registry& registry() override { return fake_registry; }
  DatabaseEngines& databases() override { return *database_engines; }
  Automation& automation() override { return fake_automation; }
  WindowSystem& windows() override { return *window_system; }
  Keystrokes& keystrokes() override { return fake_keys; }
  DialogHost& dialogs() override { return fake_dialogs; }

  FakeTraceFile trace_file;
  FakeClock fake_clock;
  FakeRegional fake_regional;
  FakePump fake_pump;
  FakeRegistry fake_registry;
  FakeAutomation fake_automation;
  FakeKeystrokes fake_keys;
  FakeDialogHost fake_dialogs;
  // Replaceable by tests that bring real adapters (ODBC) or a simulated desktop.
  std::unique_ptr<DatabaseEngines> database_engines;
  std::unique_ptr<WindowSystem> window_system;
};

// UTF-8 <-> Text shorthands for assertions.
inline Text T(const char* utf8) { return FromUtf8(utf8); }
inline std::string U8(TextView text) { return ToUtf8(text); }

}  // namespace pellory::testing
