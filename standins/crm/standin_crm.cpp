#include "standins/crm/standin_crm.h"

#include "platform/failure.h"
#include "standins/crm/crm_common.h"

namespace pellory::standin {
struct StandinCrm::Core {
  Desktop& desktop;
  Text database_path;
  Text open_failure;
  Variant busy = false;
  Text visibility;
  Text shown_contact;
  bool shown_in_new_list = false;
  Text active_window;
  WindowHandle main_window = 0;
  WindowHandle modal_view = 0;
  std::vector<WindowHandle> others;
  std::vector<std::string> journal;
  // Where the last "typed" line is growing, so that a run of plain
  // characters reads as one line.
  WindowHandle typing_into = 0;
  std::shared_ptr<AutoObject> app;
  std::shared_ptr<AutoObject> record;

  explicit Core(Desktop& d) : desktop(d) {}

  void Note(std::string line) {
    journal.push_back(std::move(line));
    typing_into = 0;
  }

  std::string Label(WindowHandle window) const {
    if (window == main_window) return "main window";
    if (window == modal_view) return "modal view";
    return "window " + Quote(desktop.WindowText(window, 1000));
  }

  void SetAddressBook(TextView name) {
    desktop.SetTitle(main_window,
                     name.empty() ? Text(u"Maximizer") : u"Maximizer - [" + Text(name) + u"]");
  }

  WindowHandlers Handlers() {
    WindowHandlers h;
    h.message = [this](WindowHandle window, unsigned message, uintptr_t wparam, intptr_t lparam,
                       bool sent) {
      Note(Label(window) + ": " + (sent ? "sent " : "posted ") +
           MessageName(message, wparam, lparam));
      if (message == kWmClose && window == modal_view) {
        desktop.DestroyWindow(modal_view);
        modal_view = 0;
      }
      return intptr_t{0};
    };
    h.key = [this](WindowHandle window, const KeyStroke& key) { Key(window, key); };
    h.set_foreground = [this](WindowHandle window) {
      Note(Label(window) + ": SetForegroundWindow");
    };
    return h;
  }

  void Key(WindowHandle window, const KeyStroke& key) {
    if (key.is_character() && !key.has_modifiers()) {
      if (typing_into == window && !journal.empty()) {
        // Reopen the closing quote of the line being typed.
        journal.back().pop_back();
        journal.back() += ToUtf8(key.key) + "\"";
        return;
      }
      Note(Label(window) + ": typed " + Quote(key.key));
      typing_into = window;
      return;
    }
    Note(Label(window) + ": keys " + ToUtf8(key.Describe()));
  }
};

namespace {

// Members of the stand-in's automation objects write themselves into the
// journal before they run; a call that fails adds the failure to its line.
class CrmObject : public DispatchObject {
 public:
  CrmObject(std::weak_ptr<StandinCrm::Core> core, std::string name)
      : core_(std::move(core)), name_(std::move(name)) {}

  Variant Invoke(TextView member, Args args) override {
    auto core = core_.lock();
    if (!core) throw Failure(u"The remote server machine does not exist or is unavailable", 462);
    core->Note(DescribeCall(name_, member, args));
    size_t at = core->journal.size() - 1;
    try {
      return DispatchObject::Invoke(member, args);
    } catch (const Failure& f) {
      if (at < core->journal.size()) {
        core->journal[at] += " failed: " + DescribeFailure(member, args, f.description());
      }
      throw;
    }
  }

 protected:
  std::shared_ptr<StandinCrm::Core> Lock() const { return core_.lock(); }

 private:
  std::weak_ptr<StandinCrm::Core> core_;
  std::string name_;
};

class StandinRecord : public CrmObject {
 public:
  explicit StandinRecord(std::weak_ptr<StandinCrm::Core> core) : CrmObject(core, "Record") {
    AddMember(u"SearchByClientID", [this](Args args) {
      CheckCount(args, 1, 3);
      Text id = Required(args, 0).ToText(nullptr);
      int16_t mode = args.size() > 2 && !args[2].is_missing() ? args[2].ToInt16() : 0;
      auto core = Lock();
      core->shown_contact = id;
      core->shown_in_new_list = mode == 2;
      return Variant();
    });
  }
};

class StandinApplication : public CrmObject {
 public:
  explicit StandinApplication(std::weak_ptr<StandinCrm::Core> core)
      : CrmObject(core, "Application") {
    AddMember(u"SetVisibilityState", [this](Args args) {
      CheckCount(args, 1, 1);
      auto core = Lock();
      core->visibility = Required(args, 0).ToText(nullptr);
      core->desktop.SetVisible(core->main_window, true);
      return Variant();
    });
    AddMember(u"getcurrentdbpath", [this](Args args) {
      CheckCount(args, 0, 0);
      return Variant(Lock()->database_path);
    });
    AddMember(u"CloseDatabase", [this](Args args) {
      CheckCount(args, 0, 0);
      auto core = Lock();
      core->database_path.clear();
      core->SetAddressBook(u"");
      return Variant();
    });
    AddMember(u"OpenDatabase", [this](Args args) {
      CheckCount(args, 3, 5);
      Text path = Required(args, 2).ToText(nullptr);
      auto core = Lock();
      if (!core->open_failure.empty()) {
        Text given;
        for (const Variant& a : args) {
          given += (given.empty() ? u"" : u"/") + (a.is_missing() ? Text() : a.ToText(nullptr));
        }
        throw Failure(core->open_failure + u" (" + given + u")", 3051);
      }
      core->database_path = path;
      core->SetAddressBook(AddressBookName(path));
      return Variant();
    });
    AddMember(u"GetBusyIndicator", [this](Args args) {
      CheckCount(args, 0, 0);
      return Lock()->busy;
    });
    AddMember(u"ActivateWindow", [this](Args args) {
      CheckCount(args, 1, 1);
      Lock()->active_window = args[0].ToText(nullptr);
      return Variant();
    });
    AddMember(u"GetCurrentRecordObject", [this](Args args) {
      CheckCount(args, 0, 0);
      return Variant(ObjectRef(Lock()->record));
    });
    AddMember(u"RunMacro", [](Args args) {
      CheckCount(args, 1, 1);
      return Variant();
    });
  }
};

class StandinAttach : public CrmObject {
 public:
  explicit StandinAttach(std::weak_ptr<StandinCrm::Core> core)
      : CrmObject(core, "AttachToCurrentInstance") {
    AddMember(u"GetApplicationObject", [this](Args args) {
      CheckCount(args, 0, 0);
      return Variant(ObjectRef(Lock()->app));
    });
  }
};

}  // namespace

StandinCrm::StandinCrm(Desktop& desktop, ObjectRegistry& registry, CrmOptions options)
    : core_(std::make_shared<Core>(desktop)), registry_(registry) {
  Core& c = *core_;
  c.database_path = options.database_path;
  c.open_failure = options.open_failure;
  c.app = std::make_shared<StandinApplication>(core_);
  c.record = std::make_shared<StandinRecord>(core_);

  auto other = [&](const Text& title) {
    c.others.push_back(desktop.CreateWindow({kOtherWindowClass, title}, c.Handlers()));
  };
  for (const Text& title : options.windows_in_front) other(title);
  if (options.modal_view) c.modal_view = desktop.CreateWindow({kModalViewClass, u""}, c.Handlers());
  c.main_window = desktop.CreateWindow({kMainWindowClass, u""}, c.Handlers());
  c.SetAddressBook(options.address_book);
  for (const Text& title : options.windows_behind) other(title);
  // The frontmost window is the one the user works in.
  std::vector<WindowHandle> z_order = desktop.TopLevelWindows();
  if (!z_order.empty()) desktop.SetForegroundWindow(z_order.front());
  // Arranging the desktop is not something the application was asked to do.
  c.journal.clear();

  std::weak_ptr<Core> weak = core_;
  registry.Register(kProgId, [weak]() -> std::shared_ptr<AutoObject> {
    auto core = weak.lock();
    if (!core) return nullptr;
    core->Note("create " + ToUtf8(kProgId));
    return std::make_shared<StandinAttach>(core);
  });
}

StandinCrm::~StandinCrm() {
  registry_.Unregister(kProgId);
  Core& c = *core_;
  for (WindowHandle h : c.others) c.desktop.DestroyWindow(h);
  if (c.modal_view) c.desktop.DestroyWindow(c.modal_view);
  c.desktop.DestroyWindow(c.main_window);
  // Objects handed out may outlive the application; they fail from now on.
  c.app.reset();
  c.record.reset();
}

void StandinCrm::set_busy(Variant indicator) { core_->busy = std::move(indicator); }

void StandinCrm::set_database_path(TextView path) {
  core_->database_path = Text(path);
  core_->SetAddressBook(AddressBookName(path));
}

void StandinCrm::OpenModalView() {
  Core& c = *core_;
  if (c.modal_view) return;
  c.modal_view = c.desktop.CreateWindow({kModalViewClass, u""}, c.Handlers());
}

const Text& StandinCrm::database_path() const { return core_->database_path; }
WindowHandle StandinCrm::main_window() const { return core_->main_window; }
WindowHandle StandinCrm::modal_view() const { return core_->modal_view; }
const std::vector<WindowHandle>& StandinCrm::other_windows() const { return core_->others; }
const Text& StandinCrm::shown_contact() const { return core_->shown_contact; }
bool StandinCrm::shown_in_new_list() const { return core_->shown_in_new_list; }
const Text& StandinCrm::active_window() const { return core_->active_window; }
const std::vector<std::string>& StandinCrm::journal() const { return core_->journal; }
void StandinCrm::ClearJournal() {
  core_->journal.clear();
  core_->typing_into = 0;
}

}  // namespace pellory::standin
