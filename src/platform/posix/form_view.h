// The terminal view of a form: draws its controls in a box with the help
// lines below, and turns keys into the form's events (see
// terminal_dialogs.h for the keys).
#pragma once

#include <cstddef>

#include "platform/dialog_host.h"
#include "platform/posix/terminal.h"

namespace pellory {

class FormView {
 public:
  explicit FormView(ModalForm& form);
  void Draw(Screen& screen);
  void HandleKey(const Key& key);
  // The focused control's name and index, for tests and help texts.
  const Control* Focused() const;

 private:
  bool Focusable(const Control& c) const;
  bool OnPage(const Control& c) const;
  int CurrentTab() const;
  void EnsureFocus();
  void MoveFocus(int step);
  void FocusAt(size_t position);
  void Click(const Control& c);
  void Select(const Control& c, int list_index);
  // Clicks the default button (`default_button`) or the cancel button; false
  // when the form has none that is shown and enabled.
  bool PressButton(bool default_button);
  void EditText(const Key& key);
  void AccessKey(char32_t ch);
  void SwitchTab(int step);

  // Keys, by what they reach: the open list of a combo box, the whole form,
  // or the focused control of each kind.
  void ListKey(const Key& key);
  bool FormKey(const Key& key);
  void TextBoxKey(const Key& key);
  void ComboBoxKey(const Control& c, const Key& key);
  void ButtonKey(const Control& c, const Key& key);
  void OptionKey(const Control& c, const Key& key);
  void TabStripKey(const Control& c, const Key& key);

  void DrawControl(Screen& screen, const Control& c, int ox, int oy, bool focused);
  void DrawOpenList(Screen& screen, const Control& c, int ox, int oy);

  ModalForm& form_;
  size_t focus_ = 0;
  bool has_focus_ = false;
  size_t cursor_ = 0;       // in the focused text box, in characters
  bool list_open_ = false;  // the focused combo box shows its entries
  int highlight_ = 0;       // the entry highlighted in the open list
  // The open list shows `list_rows_` entries from `list_top_` on: as many as
  // the screen has room for below the combo box.
  int list_top_ = 0;
  int list_rows_ = 1;
};

}  // namespace pellory
