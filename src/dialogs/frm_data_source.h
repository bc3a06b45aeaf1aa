// The data-source selection form of SQL mode: the sources in a list (name
// and driver), a user and a password, OK and Cancel. The Windows build shows
// it as a dialog where the driver manager has no prompt of its own; the
// terminal shows its sources on one page and its login on the next.
#pragma once

#include <optional>
#include <vector>

#include "dialogs/form.h"
#include "platform/data_source.h"

namespace pellory {

// Caption of the selection form.
inline constexpr char16_t kSelectDataSourceCaption[] = u"Select Data Source";

// OK is enabled while a source is selected (the first one at the start). OK
// gives "DSN=...;UID=...;PWD=..." (an empty user or password left out,
// values braced where a connect string needs it). With a login check, a
// login that fails keeps the form open with the reason in its "Reason"
// label, so that the person can correct it or cancel.
class DataSourceForm final : public ControlForm {
 public:
  DataSourceForm(std::vector<DataSourceInfo> sources, LoginCheck check);

  const std::vector<DataSourceInfo>& sources() const { return sources_; }
  // The connect string once OK has closed the form; nullopt until then and
  // after Cancel.
  const std::optional<Text>& result() const { return result_; }
  // "Login failed: <reason>" after a refused login, else empty.
  const Text& failure() const { return failure_; }

 protected:
  void OnActivate(WindowHandle) override {}
  void OnClick(const Control& control) override;
  // OK is enabled while a source is selected.
  void OnSelect(const Control& control) override { Ctl(u"OK").enabled = control.list_index >= 0; }

 private:
  void Ok();

  std::vector<DataSourceInfo> sources_;
  LoginCheck check_;
  std::optional<Text> result_;
  Text failure_;
};

// Shows the selection form through `host`; the connect string, or nullopt
// when cancelled.
std::optional<Text> SelectDataSource(DialogHost& host, const std::vector<DataSourceInfo>& sources,
                                     const LoginCheck& check = nullptr);

}  // namespace pellory
