// The data-source selection form of SQL mode: the sources in a list (name
// and driver), a user and a password, OK and Cancel. The Windows build shows
// it as a dialog where the driver manager has no prompt of its own; the
// terminal shows its sources on one page and its login on the next.
#pragma once

#include <optional>
#include <vector>

#include "platform/data_source.h"
#include "platform/dialog_host.h"

namespace pellory {

// Caption of the selection form.
inline constexpr char16_t kSelectDataSourceCaption[] = u"Select Data Source";

// OK is enabled while a source is selected (the first one at the start). OK
// gives "DSN=...;UID=...;PWD=..." (an empty user or password left out,
// values braced where a connect string needs it). With a login check, a
// login that fails keeps the form open with the reason in its "Reason"
// label, so that the person can correct it or cancel.
class DataSourceForm final : public ModalForm {
 public:
  DataSourceForm(std::vector<DataSourceInfo> sources, LoginCheck check);

  const Text& Caption() const override { return caption_; }
  const std::vector<Control>& Controls() const override { return controls_; }
  bool Closed() const override { return closed_; }
  void Activated(WindowHandle) override {}
  void Clicked(const ControlId& id) override;
  void TextChanged(const ControlId& id, TextView text) override;
  void SelectionChanged(const ControlId& id, int list_index) override;
  void CloseRequested() override { closed_ = true; }

  const std::vector<DataSourceInfo>& sources() const { return sources_; }
  // The connect string once OK has closed the form; nullopt until then and
  // after Cancel.
  const std::optional<Text>& result() const { return result_; }
  // "Login failed: <reason>" after a refused login, else empty.
  const Text& failure() const { return failure_; }

 private:
  // The control an event is meant for, when it can receive one.
  Control* Target(const ControlId& id);
  // One of the form's own controls (always there).
  Control& Named(TextView name);
  void Ok();

  std::vector<DataSourceInfo> sources_;
  LoginCheck check_;
  Text caption_ = kSelectDataSourceCaption;
  std::vector<Control> controls_;
  bool closed_ = false;
  std::optional<Text> result_;
  Text failure_;
};

// Shows the selection form through `host`; the connect string, or nullopt
// when cancelled.
std::optional<Text> SelectDataSource(DialogHost& host, const std::vector<DataSourceInfo>& sources,
                                     const LoginCheck& check = nullptr);

}  // namespace pellory
