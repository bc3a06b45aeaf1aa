// Shows the plug-in's modal dialogs. The form logic lives in the dialogs
// subsystem and describes each form as an ordered list of controls; a host
// adapter (a view) draws those controls and turns a person's input into the
// form's events. A view needs nothing else from the logic, so the terminal
// view and a Windows view see exactly the same model.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "platform/text.h"
#include "platform/window_system.h"

namespace pellory {

enum class ControlKind {
  kLabel,
  kTextBox,
  kPasswordBox,  // a text box that shows every character as "*"
  kCheckBox,
  kOptionButton,
  kComboBox,  // a drop-down list: its text is always one of its entries, or empty
  kCommandButton,
  kFrame,      // a bordered frame with a caption; holds other controls
  kContainer,  // a frame without border or caption; holds other controls
  kTabControl,
};

// Check-box states.
inline constexpr int kUnchecked = 0;
inline constexpr int kChecked = 1;
inline constexpr int kGreyed = 2;

// One control as a view draws it. The list order of a form's controls is
// both the tab order and the stacking order: a later control lies above an
// earlier one, and a frame or container hides what lies beneath its area.
struct Control {
  Text name;
  int index = -1;  // place in a control array; -1 for a control of its own
  ControlKind kind = ControlKind::kLabel;
  // Labels, buttons, check boxes, option buttons and frames; "&" marks the
  // access key and "&&" stands for a literal "&".
  Text caption;
  Text text;  // text boxes and combo boxes
  // Check box: kUnchecked, kChecked or kGreyed. Option button: 1 when
  // selected. Tab control: the tab shown.
  int value = 0;
  std::vector<Text> list;          // combo box entries; tab control: the tab captions
  std::vector<int32_t> item_data;  // one per entry of `list`
  int list_index = -1;             // combo box: the entry selected, -1 for none
  bool visible = true;
  bool enabled = true;
  int tab = -1;             // the tab page of the form's tab control it sits on; -1 for none
  Text container;           // name of the frame or container it sits in; empty for the form
  bool is_default = false;  // the button that Enter presses
  bool is_cancel = false;   // the button that Esc presses
  // Position and size in character cells, relative to the form's client area.
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 1;
};

// A control of a form's layout; every other field keeps its default.
inline Control MakeControl(Text name, ControlKind kind, Text caption, int x, int y, int width,
                           int height = 1, int tab = -1, Text container = Text(), int index = -1) {
  Control c;
  c.name = std::move(name);
  c.index = index;
  c.kind = kind;
  c.caption = std::move(caption);
  c.x = x;
  c.y = y;
  c.width = width;
  c.height = height;
  c.tab = tab;
  c.container = std::move(container);
  return c;
}

// Identifies a control in events: its name and its index in a control array.
struct ControlId {
  Text name;
  int index = -1;
};

// A form as views see it. Events on controls that are not shown or not
// enabled are ignored, as a window system would never deliver them.
class ModalForm {
 public:
  virtual ~ModalForm() = default;

  virtual const Text& Caption() const = 0;
  virtual const std::vector<Control>& Controls() const = 0;
  // True once the form has been closed (OK, Cancel or the window's close box).
  virtual bool Closed() const = 0;

  // The view has shown the form (or brought it back to the front); `window`
  // is the platform's handle of the dialog window, 0 where there is none.
  virtual void Activated(WindowHandle window) = 0;
  // A click on a command button, check box (which toggles it) or option
  // button (which selects it and clears the others of its group).
  virtual void Clicked(const ControlId& id) = 0;
  // The person changed the text of a text box or password box.
  virtual void TextChanged(const ControlId& id, TextView text) = 0;
  // The person picked an entry of a combo box (-1: none) or a tab.
  virtual void SelectionChanged(const ControlId& id, int list_index) = 0;
  // The window was closed other than by its buttons: it ends as Cancel does.
  virtual void CloseRequested() = 0;
};

// Whether the control and every container it sits in are visible. (Which tab
// page is shown is the view's own matter.)
inline bool IsShown(const ModalForm& form, const Control& control) {
  const Control* c = &control;
  for (int depth = 0; depth < 16; ++depth) {
    if (!c->visible) return false;
    if (c->container.empty()) return true;
    const Control* parent = nullptr;
    for (const Control& candidate : form.Controls()) {
      if (candidate.name == c->container) {
        parent = &candidate;
        break;
      }
    }
    if (!parent) return true;
    c = parent;
  }
  return false;
}

// The platform's file-open dialog.
struct FileOpenRequest {
  Text title;
  Text default_extension;  // without the dot; added to a name typed without one
  // Pairs "description|pattern" joined by "|", as "Database file (mxza.max)|mxza.max".
  Text filter;
  Text file_name;  // initial file name
};

// What a path names on the machine where the dialogs run.
enum class PathKind { kNothing, kFile, kFolder };

class DialogHost {
 public:
  virtual ~DialogHost() = default;
  // Runs the form modally; returns when the form has been closed. A host
  // that cannot show it closes it as Cancel at once.
  virtual void ShowModal(ModalForm& form) = 0;
  // Asks for a file to open; returns its full name, or the empty text when
  // the person cancelled (or the host cannot ask).
  virtual Text ShowOpen(const FileOpenRequest& request) {
    (void)request;
    return Text();
  }
  // A message over the dialog open, with an OK button; returns once the
  // person has closed it.
  virtual void Tell(TextView caption, TextView message) {
    (void)caption;
    (void)message;
  }
  // A question over the dialog open, answered Yes (true) or No; No is the
  // default button. A host that cannot ask answers No.
  virtual bool AskYesNo(TextView caption, TextView question) {
    (void)caption;
    (void)question;
    return false;
  }
  // What `path` names (a relative path from the current folder); kNothing
  // where the host cannot tell.
  virtual PathKind KindOfPath(TextView path) {
    (void)path;
    return PathKind::kNothing;
  }
};

}  // namespace pellory
