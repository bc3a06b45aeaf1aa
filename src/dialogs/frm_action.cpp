#include "dialogs/frm_action.h"

#include "dialogs/list_search.h"
#include "plugin/records.h"
#include "plugin/trap.h"

namespace pellory {
namespace {

// A control of the form, in a container when one is named.
Control Make(Text name, ControlKind kind, Text caption, int x, int y, int width,
             Text container = Text()) {
  return MakeControl(std::move(name), kind, std::move(caption), x, y, width, 1, -1,
                     std::move(container));
}

}  // namespace

FrmAction::FrmAction(Env& env, Text& config_rd) : Form(env), config_rd_(config_rd) {
  using K = ControlKind;
  caption_ = u"Maximizer Action Configuration";
  controls_.reserve(16);
  Add(Make(u"Label6", K::kLabel, u"&Action:", 2, 1, 9));
  Add(Make(u"Action", K::kComboBox, u"", 12, 1, 32));
  // One band holds the window row, the macro row or the check box.
  Add(Make(u"pWindow", K::kContainer, u"", 0, 3, 48));
  Add(Make(u"Label1", K::kLabel, u"&Window:", 2, 3, 9, u"pWindow"));
  Add(Make(u"wnd", K::kComboBox, u"", 12, 3, 32, u"pWindow"));
  Add(Make(u"pMacro", K::kContainer, u"", 0, 3, 48));
  Add(Make(u"Label2", K::kLabel, u"&Macro:", 2, 3, 9, u"pMacro"));
  Add(Make(u"Macro", K::kTextBox, u"", 12, 3, 32, u"pMacro"));
  Add(Make(u"NewWindow", K::kCheckBox, u"Show contact in a &new list", 12, 3, 32));
  Add(Make(u"pItem", K::kContainer, u"", 0, 5, 48));
  Add(Make(u"Label3", K::kLabel, u"&Item:", 2, 5, 9, u"pItem"));
  Add(Make(u"Itm", K::kComboBox, u"", 12, 5, 32, u"pItem"));
  Add(Make(u"OK", K::kCommandButton, u"OK", 12, 7, 10)).is_default = true;
  Add(Make(u"Cancel", K::kCommandButton, u"Cancel", 24, 7, 10)).is_cancel = true;
}

void FrmAction::SelectStored(TextView combo, TextView key) {
  Control& box = Ctl(combo);
  Variant fallback = box.list.empty() ? Variant(Text()) : Variant(box.list.front());
  Variant stored = GetVar(env_, config_rd_, key, fallback);
  SetListIndex(box, ListSearch(env_, box, stored, false));
}

void FrmAction::Form_Load() {
  const TextView tag = tags::kActionLoad;
  Trap(env_, tag, [&] {
    Ctl(u"Action").list = {u"Show contact", u"New contact", u"Show contact item",
                           u"Activate window", u"Run macro"};
  });
  Trap(env_, tag, [&] {
    Ctl(u"wnd").list = {u"Calendar", u"Address Book", u"Hotlist", u"Opportunities",    u"Journal",
                        u"Expenses", u"Freetime",     u"Email",   u"Marketing Library"};
  });
  Trap(env_, tag, [&] {
    Ctl(u"Itm").list = {u"View activities", u"View phone log",     u"Create opportunity",
                        u"Receive a call",  u"schedule a meeting", u"schedule a call",
                        u"schedule a todo", u"Write an email"};
  });
  Trap(env_, tag, [&] { SelectStored(u"Action", u"Action"); });
  Trap(env_, tag, [&] { Action_Click(); });
  Trap(env_, tag, [&] { SelectStored(u"wnd", u"Window"); });
  Trap(env_, tag, [&] { SelectStored(u"Itm", u"Item"); });
  Trap(env_, tag, [&] { Ctl(u"Macro").text = GetText(env_, config_rd_, u"Macro"); });
  Trap(env_, tag, [&] {
    SetCheckValue(Ctl(u"NewWindow"),
                  GetVar(env_, config_rd_, u"NewWindow", Variant(int16_t{0})).ToInt16());
  });
}

void FrmAction::Form_Activate(WindowHandle window) {
  Trap(env_, tags::kActionActivate, [&] { env_.windows().SetTopmost(window, true); });
  Trap(env_, tags::kActionActivate, [&] { env_.windows().SetTopmost(window, false); });
}

void FrmAction::Action_Click() {
  const TextView tag = tags::kActionClick;
  Text action;
  Trap(env_, tag, [&] { action = Ctl(u"Action").text; });
  Trap(env_, tag,
       [&] { Ctl(u"NewWindow").visible = TextView(action).substr(0, 12) == u"Show contact"; });
  Trap(env_, tag, [&] { Ctl(u"pWindow").visible = action == u"Activate window"; });
  Trap(env_, tag, [&] { Ctl(u"pMacro").visible = action == u"Run macro"; });
  Trap(env_, tag, [&] { Ctl(u"pItem").visible = action == u"Show contact item"; });
}

void FrmAction::OK_Click() {
  const TextView tag = tags::kActionOk;
  Trap(env_, tag, [&] { config_rd_.clear(); });
  Trap(env_, tag, [&] { AddVar(env_, config_rd_, u"Action", Variant(Ctl(u"Action").text)); });
  Trap(env_, tag, [&] { AddVar(env_, config_rd_, u"Item", Variant(Ctl(u"Itm").text)); });
  Trap(env_, tag, [&] { AddVar(env_, config_rd_, u"Macro", Variant(Ctl(u"Macro").text)); });
  Trap(env_, tag, [&] {
    AddVar(env_, config_rd_, u"NewWindow", Variant(static_cast<int16_t>(Ctl(u"NewWindow").value)));
  });
  Trap(env_, tag, [&] { AddVar(env_, config_rd_, u"Window", Variant(Ctl(u"wnd").text)); });
  Trap(env_, tag, [&] { Close(); });
}

void FrmAction::Cancel_Click() {
  Trap(env_, tags::kActionCancel, [&] { Close(); });
}

void FrmAction::OnClick(const Control& control) {
  if (control.name == u"OK") {
    OK_Click();
  } else if (control.name == u"Cancel") {
    Cancel_Click();
  }
}

void FrmAction::OnSelect(const Control& control) {
  if (control.name == u"Action") Action_Click();
}

}  // namespace pellory
