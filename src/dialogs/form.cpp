#include "dialogs/form.h"

#include "platform/failure.h"

namespace pellory {
namespace {

[[noreturn]] void InvalidPropertyValue() { throw Failure(u"Invalid property value", 380); }

}  // namespace

Control& ControlForm::Add(Control control) {
  controls_.push_back(std::move(control));
  return controls_.back();
}

Control& ControlForm::Ctl(TextView name, int index) {
  for (Control& c : controls_) {
    if (c.name == name && c.index == index) return c;
  }
  throw Failure(u"Control not found: " + Text(name), 424);
}

const Control& ControlForm::Ctl(TextView name, int index) const {
  return const_cast<ControlForm*>(this)->Ctl(name, index);
}

Control* ControlForm::Target(const ControlId& id) {
  if (closed_) return nullptr;
  for (Control& c : controls_) {
    if (c.name == id.name && c.index == id.index) {
      return c.enabled && IsShown(*this, c) ? &c : nullptr;
    }
  }
  return nullptr;
}

void ControlForm::SelectOption(Control& option) {
  for (Control& c : controls_) {
    if (c.kind == ControlKind::kOptionButton && c.container == option.container &&
        c.tab == option.tab) {
      c.value = 0;
    }
  }
  option.value = 1;
}

void ControlForm::SetListIndex(Control& combo, int list_index) {
  if (list_index < -1 || list_index >= static_cast<int>(combo.list.size())) {
    InvalidPropertyValue();
  }
  combo.list_index = list_index;
  combo.text = list_index < 0 ? Text() : combo.list[static_cast<size_t>(list_index)];
}

void ControlForm::SetCheckValue(Control& check, int value) {
  if (value != kUnchecked && value != kChecked && value != kGreyed) InvalidPropertyValue();
  check.value = value;
}

void ControlForm::Activated(WindowHandle window) {
  if (!closed_) OnActivate(window);
}

void ControlForm::Clicked(const ControlId& id) {
  Control* c = Target(id);
  if (!c) return;
  switch (c->kind) {
    case ControlKind::kCheckBox:
      c->value = c->value == kUnchecked ? kChecked : kUnchecked;
      break;
    case ControlKind::kOptionButton:
      SelectOption(*c);
      break;
    case ControlKind::kCommandButton:
      break;
    default:
      return;  // nothing else takes clicks
  }
  OnClick(*c);
}

void ControlForm::TextChanged(const ControlId& id, TextView text) {
  Control* c = Target(id);
  if (c && (c->kind == ControlKind::kTextBox || c->kind == ControlKind::kPasswordBox)) {
    c->text = Text(text);
  }
}

void ControlForm::SelectionChanged(const ControlId& id, int list_index) {
  Control* c = Target(id);
  if (!c) return;
  if (c->kind == ControlKind::kComboBox) {
    if (list_index < -1 || list_index >= static_cast<int>(c->list.size())) return;
    SetListIndex(*c, list_index);
    OnSelect(*c);
  } else if (c->kind == ControlKind::kTabControl) {
    if (list_index < 0 || list_index >= static_cast<int>(c->list.size())) return;
    c->value = list_index;
  }
}

}  // namespace pellory
