#include "platform/win32/win32_data_source_prompt.h"

#include "platform/odbc/connect_string.h"
#include "platform/odbc/odbc_api.h"
#include "platform/win32/win32_dialog_host.h"

namespace pellory {
namespace {

// What the driver manager's own prompt came to.
enum class ManagerPrompt { kChosen, kCancelled, kNoDialog };

// Wine's odbc32 hands the call to the host's unixODBC, which has no
// Windows dialog and reads a window handle as a pointer to a structure of
// its own: a prompt there answers with garbage and can hang the connection
// handle. Under Wine the driver manager is therefore not asked.
bool UnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

ManagerPrompt AskDriverManager(Text* connect) {
  if (UnderWine()) return ManagerPrompt::kNoDialog;
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (!odbc::Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
    return ManagerPrompt::kNoDialog;
  }
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  ManagerPrompt result = ManagerPrompt::kNoDialog;
  if (odbc::Ok(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
    SQLWCHAR in[1] = {0};
    std::vector<SQLWCHAR> out(4096, 0);
    SQLSMALLINT out_length = 0;
    SQLRETURN rc =
        SQLDriverConnectW(dbc, ActiveDialogWindow(), in, SQL_NTS, out.data(),
                          static_cast<SQLSMALLINT>(out.size()), &out_length, SQL_DRIVER_PROMPT);
    if (odbc::Ok(rc)) {
      *connect = odbc::FromWideZ(out.data(), out.size() - 1);
      SQLDisconnect(dbc);
      result = connect->empty() ? ManagerPrompt::kNoDialog : ManagerPrompt::kChosen;
    } else if (rc == SQL_NO_DATA) {
      result = ManagerPrompt::kCancelled;
    }
    // Any other outcome (no dialog could be shown, no default source, a
    // driver manager without prompts) leaves the choice to our own dialog.
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  }
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return result;
}

// The selection dialog's form: a list of sources, user, password, OK and
// Cancel. OK is enabled while a source is selected.
class SelectionForm : public ModalForm {
 public:
  SelectionForm(const std::vector<DataSourceInfo>& sources, const LoginCheck& check)
      : sources_(sources), check_(check) {
    using K = ControlKind;
    controls_.push_back(MakeControl(u"SourceLabel", K::kLabel, u"&Data source:", 2, 1, 13));
    Control list = MakeControl(u"Source", K::kComboBox, u"", 16, 1, 46);
    for (size_t i = 0; i < sources.size(); ++i) {
      Text entry = sources[i].name;
      if (!sources[i].driver.empty()) entry += u" (" + sources[i].driver + u")";
      list.list.push_back(entry);
      list.item_data.push_back(static_cast<int32_t>(i));
    }
    if (!list.list.empty()) {
      list.list_index = 0;
      list.text = list.list.front();
    }
    controls_.push_back(std::move(list));
    controls_.push_back(MakeControl(u"UserLabel", K::kLabel, u"&User:", 2, 3, 13));
    controls_.push_back(MakeControl(u"User", K::kTextBox, u"", 16, 3, 30));
    controls_.push_back(MakeControl(u"PwdLabel", K::kLabel, u"&Password:", 2, 5, 13));
    controls_.push_back(MakeControl(u"Pwd", K::kPasswordBox, u"", 16, 5, 30));
    // Why the last login failed; shown once one has.
    Control reason = MakeControl(u"Reason", K::kLabel, u"", 2, 7, 37, 3);
    reason.visible = false;
    controls_.push_back(std::move(reason));
    Control ok = MakeControl(u"OK", K::kCommandButton, u"OK", 40, 7, 10);
    ok.is_default = true;
    ok.enabled = !sources.empty();
    controls_.push_back(std::move(ok));
    Control cancel = MakeControl(u"Cancel", K::kCommandButton, u"Cancel", 52, 7, 10);
    cancel.is_cancel = true;
    controls_.push_back(std::move(cancel));
  }

  const Text& Caption() const override { return caption_; }
  const std::vector<Control>& Controls() const override { return controls_; }
  bool Closed() const override { return closed_; }
  void Activated(WindowHandle) override {}
  void Clicked(const ControlId& id) override {
    Control* c = Target(id);
    if (!c || c->kind != ControlKind::kCommandButton) return;
    if (id.name == u"OK") {
      const Control& list = Named(u"Source");
      if (list.list_index < 0) return;
      const DataSourceInfo& chosen = sources_[static_cast<size_t>(list.list_index)];
      Text connect = u"DSN=" + ConnectValue(chosen.name);
      const Text& user = Named(u"User").text;
      const Text& password = Named(u"Pwd").text;
      if (!user.empty()) connect += u";UID=" + ConnectValue(user);
      if (!password.empty()) connect += u";PWD=" + ConnectValue(password);
      if (check_) {
        if (std::optional<Text> refused = check_(connect)) {
          Control& reason = Named(u"Reason");
          reason.caption = u"Login failed: ";
          for (char16_t ch : *refused) {
            reason.caption.push_back(ch);
            if (ch == u'&') reason.caption.push_back(u'&');  // no access key
          }
          reason.visible = true;
          return;
        }
      }
      result_ = connect;
    }
    closed_ = true;
  }
  void TextChanged(const ControlId& id, TextView text) override {
    Control* c = Target(id);
    if (c && (c->kind == ControlKind::kTextBox || c->kind == ControlKind::kPasswordBox)) {
      c->text = Text(text);
    }
  }
  void SelectionChanged(const ControlId& id, int list_index) override {
    Control* c = Target(id);
    if (!c || c->kind != ControlKind::kComboBox) return;
    if (list_index < -1 || list_index >= static_cast<int>(c->list.size())) return;
    c->list_index = list_index;
    c->text = list_index < 0 ? Text() : c->list[static_cast<size_t>(list_index)];
    Named(u"OK").enabled = list_index >= 0;
  }
  void CloseRequested() override { closed_ = true; }

  const std::optional<Text>& result() const { return result_; }

 private:
  // The control an event is meant for, when it can receive one.
  Control* Target(const ControlId& id) {
    if (closed_) return nullptr;
    for (Control& c : controls_) {
      if (c.name == id.name && c.index == id.index) return c.enabled ? &c : nullptr;
    }
    return nullptr;
  }
  // One of the form's own controls (always there).
  Control& Named(TextView name) {
    for (Control& c : controls_) {
      if (c.name == name) return c;
    }
    return controls_.front();
  }

  const std::vector<DataSourceInfo>& sources_;
  const LoginCheck& check_;
  Text caption_ = kSelectDataSourceCaption;
  std::vector<Control> controls_;
  bool closed_ = false;
  std::optional<Text> result_;
};

}  // namespace

std::optional<Text> SelectDataSource(DialogHost& host, const std::vector<DataSourceInfo>& sources,
                                     const LoginCheck& check) {
  SelectionForm form(sources, check);
  host.ShowModal(form);
  return form.result();
}

std::optional<Text> Win32DataSourcePrompt(const std::vector<DataSourceInfo>& sources) {
  Text connect;
  switch (AskDriverManager(&connect)) {
    case ManagerPrompt::kChosen:
      return connect;
    case ManagerPrompt::kCancelled:
      return std::nullopt;
    case ManagerPrompt::kNoDialog:
      break;
  }
  Win32DialogHost host;
  return SelectDataSource(host, sources, TryOdbcLogin);
}

}  // namespace pellory
