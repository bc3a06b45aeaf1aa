#include "platform/adapter_env.h"

#include "platform/failure.h"

namespace pellory {
namespace {

[[noreturn]] void NotAvailable(const char16_t* what) {
  throw Failure(Text(what) + u" is not available on this system", 429);
}

class UnavailableRegistry : public Registry {
 public:
  OpenResult OpenKey(RegistryRoot, TextView) override { return OpenResult::kNotFound; }
  std::optional<int32_t> QueryDword(RegistryRoot, TextView, TextView) override {
    return std::nullopt;
  }
  std::optional<Text> QueryString(RegistryRoot, TextView, TextView, size_t) override {
    return std::nullopt;
  }
  bool DeleteKey(RegistryRoot, TextView) override { return false; }
  void SetString(RegistryRoot, TextView, TextView, TextView) override {
    NotAvailable(u"The registry");
  }
  void SetDword(RegistryRoot, TextView, TextView, int32_t) override {
    NotAvailable(u"The registry");
  }
};

class UnavailableDatabases : public DatabaseEngines {
 public:
  std::shared_ptr<DaoEngine> CreateDaoEngine() override { NotAvailable(u"The DAO engine"); }
  std::shared_ptr<RdoEngine> CreateRdoEngine() override { NotAvailable(u"The RDO engine"); }
};

class UnavailableAutomation : public Automation {
 public:
  std::shared_ptr<AutoObject> CreateObject(TextView) override {
    throw Failure(u"ActiveX component can't create object", 429);
  }
};

class NoKeystrokes : public Keystrokes {
 public:
  void SendKeys(TextView, bool) override { NotAvailable(u"Keystroke synthesis"); }
};

// Without a dialog front end every dialog closes as Cancel.
class CancellingDialogHost : public DialogHost {
 public:
  void ShowModal(ModalForm&) override {}
};

template <typename T>
void Replace(std::unique_ptr<T>& slot, std::unique_ptr<T> p) {
  if (p) slot = std::move(p);
}

}  // namespace

AdapterEnv::AdapterEnv(std::unique_ptr<TraceFile> trace, std::unique_ptr<Clock> clock,
                       std::unique_ptr<Regional> regional, std::unique_ptr<MessagePump> pump)
    : trace_(std::move(trace)),
      clock_(std::move(clock)),
      regional_(std::move(regional)),
      pump_(std::move(pump)),
      registry_(std::make_unique<UnavailableRegistry>()),
      databases_(std::make_unique<UnavailableDatabases>()),
      automation_(std::make_unique<UnavailableAutomation>()),
      windows_(std::make_unique<EmptyDesktop>()),
      keystrokes_(std::make_unique<NoKeystrokes>()),
      dialogs_(std::make_unique<CancellingDialogHost>()) {}

AdapterEnv::~AdapterEnv() = default;

void AdapterEnv::set_trace(std::unique_ptr<TraceFile> p) { Replace(trace_, std::move(p)); }
void AdapterEnv::set_clock(std::unique_ptr<Clock> p) { Replace(clock_, std::move(p)); }
void AdapterEnv::set_regional(std::unique_ptr<Regional> p) { Replace(regional_, std::move(p)); }
void AdapterEnv::set_pump(std::unique_ptr<MessagePump> p) { Replace(pump_, std::move(p)); }
void AdapterEnv::set_registry(std::unique_ptr<Registry> p) { Replace(registry_, std::move(p)); }
void AdapterEnv::set_databases(std::unique_ptr<DatabaseEngines> p) {
  Replace(databases_, std::move(p));
}
void AdapterEnv::set_automation(std::unique_ptr<Automation> p) {
  Replace(automation_, std::move(p));
}
void AdapterEnv::set_windows(std::unique_ptr<WindowSystem> p) { Replace(windows_, std::move(p)); }
void AdapterEnv::set_keystrokes(std::unique_ptr<Keystrokes> p) {
  Replace(keystrokes_, std::move(p));
}
void AdapterEnv::set_dialogs(std::unique_ptr<DialogHost> p) { Replace(dialogs_, std::move(p)); }

}  // namespace pellory
