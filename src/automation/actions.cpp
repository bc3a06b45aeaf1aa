#include "automation/actions.h"

#include <array>

#include "automation/window_finder.h"
#include "platform/odbc/connect_string.h"
#include "plugin/records.h"
#include "plugin/trace_tags.h"
#include "plugin/trap.h"

namespace pellory {
namespace {

using namespace crm_commands;

// The CRM main window is the first top-level window whose title begins so.
constexpr char16_t kMainWindowTitle[] = u"Maximizer";
constexpr char16_t kModalViewClass[] = u"pvModalView32";
constexpr char16_t kDefaultDatabase[] = u"(DEFAULT)";

struct ItemCommand {
  const char16_t* item;
  unsigned command;
};

constexpr std::array<ItemCommand, 8> kItems = {{
    {u"VIEW ACTIVITIES", kViewActivities},
    {u"VIEW PHONE LOG", kViewPhoneLog},
    {u"CREATE OPPORTUNITY", kCreateOpportunity},
    {u"RECEIVE A CALL", kReceiveCall},
    {u"SCHEDULE A MEETING", kScheduleMeeting},
    {u"SCHEDULE A CALL", kScheduleCall},
    {u"SCHEDULE A TODO", kScheduleTodo},
    {u"WRITE AN EMAIL", kWriteEmail},
}};

constexpr std::array<ItemCommand, 3> kWindowCommands = {{
    {u"EXPENSES", kExpenses},
    {u"FREETIME", kFreetime},
    {u"JOURNAL", kJournal},
}};

// Characters to which the key notation gives a meaning of its own.
constexpr char16_t kKeyNotationSpecials[] = u"+^%~(){}[]";

[[noreturn]] void NotSet() { throw Failure(u"Object variable or With block variable not set", 91); }

// The application object, for a step that calls one of its members.
AutoObject& App(const AttachedApplication& application) {
  if (!application.app()) NotSet();
  return *application.app();
}

Variant Call(AutoObject& object, TextView member, std::initializer_list<Variant> args = {}) {
  return object.Invoke(member, std::span<const Variant>(args.begin(), args.size()));
}

void SendCommand(Env& env, WindowHandle window, unsigned command) {
  env.windows().SendMessage(window, kWmCommand, command, 0);
}

class ActionRun {
 public:
  ActionRun(Session& session, const AttachedApplication& application, const CrmConnection& crm,
            Text& rd)
      : session_(session), env_(session.env()), application_(application), crm_(crm), rd_(rd) {}

  void Run() {
    Step([&] {
      bool start = true;
      session_.CheckRunning(start);
    });
    Step([&] { id_ = GetText(env_, rd_, u"Id"); });
    Step([&] { Call(App(application_), u"SetVisibilityState", {u"Max"}); });
    SwitchDatabase();
    if (Busy()) return;
    Step([&] { main_window_ = FindWindowTitle(env_, kMainWindowTitle, 0); });
    Text action;
    Step([&] { action = UpperCase(GetText(env_, rd_, u"Action")); });
    Act(action);
    Step([&] { env_.windows().SetForegroundWindow(main_window_); });
    Step([&] { env_.windows().SendMessage(main_window_, kWmActivate, 1, 0); });
  }

 private:
  template <typename F>
  bool Step(F&& step) {
    return Trap(env_, tags::kDoAction, std::forward<F>(step));
  }

  // Makes the application work on the Session's database unless it already
  // does or any database will do.
  void SwitchDatabase() {
    const CrmSettings& st = crm_.settings();
    if (st.db_path.empty() || UpperCase(st.db_path) == kDefaultDatabase) return;
    bool same = false;  // a path that cannot be read or compared counts as different
    Step([&] {
      Text open = Call(App(application_), u"getcurrentdbpath").ToText(&env_.regional());
      same = UpperCase(open) == UpperCase(st.db_path);
    });
    if (same) return;
    Step([&] { Call(App(application_), u"CloseDatabase"); });
    Step([&] {
      const Text modal_class = kModalViewClass;
      WindowHandle modal = env_.windows().FindWindow(&modal_class, nullptr);
      if (modal != 0) env_.windows().SendMessage(modal, kWmClose, 0, 0);
    });
    Step([&] {
      try {
        Call(App(application_), u"OpenDatabase",
             {u"Open", Variant::Missing(), st.db_path, st.db_user, st.db_password});
      } catch (const Failure& f) {
        // The application may echo what it was given: the trace log never
        // shows the password.
        throw Failure(MaskPasswords(f.description(), st.db_password), f.number());
      }
    });
  }

  // True while the application is busy, or when it cannot tell.
  bool Busy() {
    bool busy = true;
    Step([&] {
      Variant indicator = Call(App(application_), u"GetBusyIndicator");
      busy = indicator.is_null() ? false : indicator.ToBool();
    });
    return busy;
  }

  void Act(const Text& action) {
    if (action == u"SHOW CONTACT" || action == u"SHOWCONTACT" || action == u"SHOW CONTACT ITEM") {
      ShowContact();
      if (action == u"SHOW CONTACT ITEM") SendItemCommand();
    } else if (action == u"NEW CONTACT" || action == u"NEWCONTACT") {
      NewContact();
    } else if (action == u"RUN MACRO") {
      Step([&] { Call(App(application_), u"RunMacro", {GetVar(env_, rd_, u"Macro")}); });
    } else if (action == u"ACTIVATE WINDOW") {
      ActivateWindow();
    }
  }

  void ShowContact() {
    std::shared_ptr<AutoObject> record;
    Step([&] { Call(App(application_), u"ActivateWindow", {u"Client"}); });
    Step([&] {
      Variant result = Call(App(application_), u"GetCurrentRecordObject");
      if (!result.is_object()) throw Failure(u"Object required", 424);
      record = result.object_as<AutoObject>();
      if (!record) throw Failure(u"Object doesn't support this property or method", 438);
    });
    Step([&] {
      const int16_t mode = GetVar(env_, rd_, u"NewWindow", int32_t{0}).ToBool() ? 2 : 0;
      if (!record) NotSet();
      Call(*record, u"SearchByClientID", {id_, Variant::Missing(), mode});
    });
  }

  void SendItemCommand() {
    Text item;
    Step([&] { item = UpperCase(GetText(env_, rd_, u"Item")); });
    for (const ItemCommand& row : kItems) {
      if (item == row.item) {
        Step([&] { SendCommand(env_, main_window_, row.command); });
        return;
      }
    }
  }

  void NewContact() {
    Step([&] { SendCommand(env_, main_window_, kNewContact); });
    Step([&] { env_.windows().PostMessage(main_window_, kWmCommand, kNewContactFollowUp, 0); });
    Text tel, nice_tel;
    Step([&] { tel = GetText(env_, rd_, u"Tel"); });
    Step([&] { nice_tel = GetText(env_, rd_, u"NiceTel", tel); });
    Step([&] { env_.keystrokes().SendKeys(u"%1" + KeyNotationLiteral(nice_tel) + u"%/", false); });
  }

  void ActivateWindow() {
    Variant window;
    Text upper;
    Step([&] {
      window = GetVar(env_, rd_, u"Window");
      upper = UpperCase(window.ToText(&env_.regional()));
    });
    for (const ItemCommand& row : kWindowCommands) {
      if (upper == row.item) {
        Step([&] { SendCommand(env_, main_window_, row.command); });
        return;
      }
    }
    Step([&] {
      if (upper == u"ADDRESS BOOK") {
        Call(App(application_), u"ActivateWindow", {u"CLIENT"});
      } else if (upper == u"OPPORTUNITIES") {
        Call(App(application_), u"ActivateWindow", {u"ADDRESS BOOK OPPORTUNITIES"});
      } else {
        Call(App(application_), u"ActivateWindow", {window});
      }
    });
  }

  Session& session_;
  Env& env_;
  const AttachedApplication& application_;
  const CrmConnection& crm_;
  const Text& rd_;
  Text id_;
  WindowHandle main_window_ = 0;
};

}  // namespace

Text KeyNotationLiteral(TextView text) {
  Text out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c != u'\0' && TextView(kKeyNotationSpecials).find(c) != TextView::npos) {
      out += u'{';
      out += c;
      out += u'}';
    } else {
      out += c;
    }
  }
  return out;
}

bool AttachedApplication::Attach(bool start) {
  const TextView tag = tags::kCheckRunning;
  if (start) {
    // The attach object lives only for this call.
    std::shared_ptr<AutoObject> attach;
    Trap(env_, tag,
         [&] { attach = env_.automation().CreateObject(u"Maximizer.AttachToCurrentInstance"); });
    Trap(env_, tag, [&] {
      if (!attach) NotSet();
      Variant app = attach->Invoke(u"GetApplicationObject", {});
      if (!app.is_object()) throw Failure(u"Object required", 424);
      app_ = app.object_as<AutoObject>();
    });
  }
  return app_ != nullptr;
}

void AttachedApplication::DoAction(Text& rd) { ActionRun(session_, *this, crm_, rd).Run(); }

void AttachedApplication::Release() {
  Trap(env_, tags::kUnload, [&] { app_.reset(); });
}

}  // namespace pellory
