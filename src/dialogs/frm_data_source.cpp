#include "dialogs/frm_data_source.h"

#include "platform/odbc/connect_string.h"

namespace pellory {

DataSourceForm::DataSourceForm(std::vector<DataSourceInfo> sources, LoginCheck check)
    : sources_(std::move(sources)), check_(std::move(check)) {
  using K = ControlKind;
  caption_ = kSelectDataSourceCaption;
  controls_.push_back(MakeControl(u"SourceLabel", K::kLabel, u"&Data source:", 2, 1, 13));
  Control list = MakeControl(u"Source", K::kComboBox, u"", 16, 1, 46);
  for (size_t i = 0; i < sources_.size(); ++i) {
    Text entry = sources_[i].name;
    if (!sources_[i].driver.empty()) entry += u" (" + sources_[i].driver + u")";
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
  ok.enabled = !sources_.empty();
  controls_.push_back(std::move(ok));
  Control cancel = MakeControl(u"Cancel", K::kCommandButton, u"Cancel", 52, 7, 10);
  cancel.is_cancel = true;
  controls_.push_back(std::move(cancel));
}

void DataSourceForm::OnClick(const Control& control) {
  if (control.kind != ControlKind::kCommandButton) return;
  if (control.name == u"OK") {
    Ok();
    return;
  }
  Close();
}

void DataSourceForm::Ok() {
  const Control& list = Ctl(u"Source");
  if (list.list_index < 0) return;
  const DataSourceInfo& chosen = sources_[static_cast<size_t>(list.list_index)];
  Text connect = u"DSN=" + ConnectValue(chosen.name);
  const Text& user = Ctl(u"User").text;
  const Text& password = Ctl(u"Pwd").text;
  if (!user.empty()) connect += u";UID=" + ConnectValue(user);
  if (!password.empty()) connect += u";PWD=" + ConnectValue(password);
  if (check_) {
    if (std::optional<Text> refused = check_(connect)) {
      failure_ = u"Login failed: " + *refused;
      Control& reason = Ctl(u"Reason");
      reason.caption.clear();
      for (char16_t ch : failure_) {
        reason.caption.push_back(ch);
        if (ch == u'&') reason.caption.push_back(u'&');  // no access key
      }
      reason.visible = true;
      return;
    }
  }
  result_ = connect;
  Close();
}

std::optional<Text> SelectDataSource(DialogHost& host, const std::vector<DataSourceInfo>& sources,
                                     const LoginCheck& check) {
  DataSourceForm form(sources, check);
  host.ShowModal(form);
  return form.result();
}

}  // namespace pellory
