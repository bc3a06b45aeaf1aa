#include "platform/posix/form_view.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/posix/terminal_widgets.h"

namespace pellory {
namespace {

using terminal::Caption;
using terminal::Fit;
using terminal::LineEditor;
using terminal::ParseCaption;
using terminal::Upper;
using terminal::Wrap;

// The form's help lines, below its box.
constexpr char32_t kFormHelp[] = U"Tab/Up/Down: move  Space: change  Esc: Cancel  Alt+letter: jump";
constexpr char32_t kFormEnterHelp[] = U"Enter: press the focused button, elsewhere OK";

bool IsSpace(const Key& key) { return key.type == Key::kChar && key.ch == U' '; }

// The next entry of a combo box after `from` (round the end) that begins
// with `ch`; -1 when none does.
int NextStartingWith(const Control& c, int from, char32_t ch) {
  const int count = static_cast<int>(c.list.size());
  for (int i = 1; i <= count; ++i) {
    const int at = ((from + i) % count + count) % count;
    const std::u32string entry = ToUtf32(c.list[static_cast<size_t>(at)]);
    if (!entry.empty() && Upper(entry[0]) == Upper(ch)) return at;
  }
  return -1;
}

// Writes a caption at (x, y) over `width` cells with its access key underlined.
void PutCaption(Screen& s, const Caption& cap, int x, int y, int width, uint8_t attr) {
  s.Put(x, y, Fit(cap.text, width), attr);
  if (cap.access >= 0 && cap.access < width) s.SetAttr(x + cap.access, y, 1, Screen::kUnderline);
}

// ---------------------------------------------------------------------------
// Drawing one control at (x, y); `attr` is dim for a disabled one.

void DrawLabel(Screen& s, const Control& c, int x, int y, uint8_t attr) {
  const Caption cap = ParseCaption(c.caption);
  const std::vector<std::u32string> lines = Wrap(cap.text, c.width);
  for (int i = 0; i < c.height && i < static_cast<int>(lines.size()); ++i) {
    s.Put(x, y + i, lines[static_cast<size_t>(i)], attr);
  }
  if (cap.access < 0) return;
  // The access key's place among the wrapped lines.
  const size_t access = static_cast<size_t>(cap.access);
  int line = -1, column = -1;
  size_t seen = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const size_t start = cap.text.find(lines[i], seen);
    if (start == std::u32string::npos) continue;
    if (access >= start && access < start + lines[i].size()) {
      line = static_cast<int>(i);
      column = cap.access - static_cast<int>(start);
    }
    seen = start + lines[i].size();
  }
  if (line >= 0 && line < c.height) s.SetAttr(x + column, y + line, 1, Screen::kUnderline);
}

void DrawFrame(Screen& s, const Control& c, int x, int y, uint8_t attr) {
  s.Box(x, y, c.width, c.height);
  const Caption cap = ParseCaption(c.caption);
  if (cap.text.empty()) return;
  const int length = static_cast<int>(cap.text.size());
  s.Put(x + 2, y, U" ");
  PutCaption(s, cap, x + 3, y, length, attr);
  s.Put(x + 3 + length, y, U" ");
}

void DrawTabStrip(Screen& s, const Control& c, int x, int y, uint8_t attr, bool focused) {
  s.Box(x, y + 1, c.width, c.height - 1);
  int cx = x + 1;
  for (size_t i = 0; i < c.list.size(); ++i) {
    const std::u32string label = ParseCaption(c.list[i]).text;
    const bool selected = static_cast<int>(i) == c.value;
    const std::u32string shown = selected ? U"[ " + label + U" ]" : U"  " + label + U"  ";
    s.Put(cx, y, shown, selected ? static_cast<uint8_t>(Screen::kBold) : attr);
    if (selected && focused) s.SetAttr(cx, y, static_cast<int>(shown.size()), Screen::kReverse);
    cx += static_cast<int>(shown.size()) + 1;
  }
}

// A check box ("[x]", "[-]", "[ ]") or an option button ("(*)", "( )").
void DrawMark(Screen& s, const Control& c, int x, int y, uint8_t attr, bool focused) {
  const char32_t* mark;
  if (c.kind == ControlKind::kOptionButton) {
    mark = c.value ? U"(*) " : U"( ) ";
  } else {
    mark = c.value == kChecked ? U"[x] " : c.value == kGreyed ? U"[-] " : U"[ ] ";
  }
  const Caption cap = ParseCaption(c.caption);
  s.Put(x, y, mark, attr);
  PutCaption(s, cap, x + 4, y, std::max(0, c.width - 4), attr);
  if (focused) s.SetAttr(x, y, 4 + static_cast<int>(cap.text.size()), Screen::kReverse);
}

void DrawComboBox(Screen& s, const Control& c, int x, int y, uint8_t attr, bool focused) {
  const int inner = std::max(1, c.width - 4);
  s.Put(x, y, U"[" + Fit(ToUtf32(c.text), inner) + U" v]", attr);
  if (focused) s.SetAttr(x, y, c.width, Screen::kReverse);
}

void DrawButton(Screen& s, const Control& c, int x, int y, uint8_t attr, bool focused) {
  const Caption cap = ParseCaption(c.caption);
  const int inner = std::max(0, c.width - 2);
  const int length = static_cast<int>(cap.text.size());
  const int pad = std::max(0, (inner - length) / 2);
  s.Put(x, y, U"<" + std::u32string(static_cast<size_t>(inner), U' ') + U">", attr);
  PutCaption(s, cap, x + 1 + pad, y, std::min(inner, length), attr);
  if (focused) s.SetAttr(x, y, c.width, Screen::kReverse);
}

}  // namespace

FormView::FormView(ModalForm& form) : form_(form) {}

// ---------------------------------------------------------------------------
// Focus

int FormView::CurrentTab() const {
  for (const Control& c : form_.Controls()) {
    if (c.kind == ControlKind::kTabControl) return c.value;
  }
  return -1;
}

bool FormView::OnPage(const Control& c) const { return c.tab < 0 || c.tab == CurrentTab(); }

bool FormView::Focusable(const Control& c) const {
  switch (c.kind) {
    case ControlKind::kLabel:
    case ControlKind::kFrame:
    case ControlKind::kContainer:
      return false;
    default:
      return c.enabled && OnPage(c) && IsShown(form_, c);
  }
}

const Control* FormView::Focused() const {
  const auto& cs = form_.Controls();
  if (!has_focus_ || focus_ >= cs.size() || !Focusable(cs[focus_])) return nullptr;
  return &cs[focus_];
}

void FormView::FocusAt(size_t position) {
  const auto& cs = form_.Controls();
  bool moved = !has_focus_ || position != focus_;
  focus_ = position;
  has_focus_ = true;
  if (moved) {
    list_open_ = false;
    cursor_ = ToUtf32(cs[position].text).size();
  }
}

void FormView::EnsureFocus() {
  if (Focused()) return;
  const auto& cs = form_.Controls();
  for (size_t i = 0; i < cs.size(); ++i) {
    size_t at = (focus_ + i) % cs.size();
    if (Focusable(cs[at])) {
      FocusAt(at);
      return;
    }
  }
  has_focus_ = false;
}

void FormView::MoveFocus(int step) {
  const auto& cs = form_.Controls();
  if (cs.empty()) return;
  size_t n = cs.size();
  for (size_t i = 1; i <= n; ++i) {
    size_t at = step > 0 ? (focus_ + i) % n : (focus_ + n - i % n) % n;
    if (Focusable(cs[at])) {
      FocusAt(at);
      return;
    }
  }
}

// ---------------------------------------------------------------------------
// Events

void FormView::Click(const Control& c) { form_.Clicked({c.name, c.index}); }

void FormView::Select(const Control& c, int list_index) {
  form_.SelectionChanged({c.name, c.index}, list_index);
}

bool FormView::PressButton(bool default_button) {
  for (const Control& c : form_.Controls()) {
    if ((default_button ? c.is_default : c.is_cancel) && c.enabled && IsShown(form_, c)) {
      Click(c);
      return true;
    }
  }
  return false;
}

void FormView::SwitchTab(int step) {
  const auto& cs = form_.Controls();
  for (size_t i = 0; i < cs.size(); ++i) {
    const Control& c = cs[i];
    if (c.kind != ControlKind::kTabControl || !IsShown(form_, c) || !c.enabled) continue;
    int target = c.value + step;
    if (target < 0 || target >= static_cast<int>(c.list.size())) return;
    Select(c, target);
    if (!Focused()) FocusAt(i);
    return;
  }
}

void FormView::EditText(const Key& key) {
  const Control* c = Focused();
  if (!c) return;
  LineEditor editor{ToUtf32(c->text), cursor_};
  if (!editor.Apply(key)) return;
  cursor_ = editor.cursor;
  Text changed = FromUtf32(editor.text);
  if (changed != c->text) form_.TextChanged({c->name, c->index}, changed);
}

void FormView::AccessKey(char32_t ch) {
  const auto& cs = form_.Controls();
  for (size_t i = 0; i < cs.size(); ++i) {
    const Control& c = cs[i];
    if (!c.enabled || !OnPage(c) || !IsShown(form_, c)) continue;
    Caption cap = ParseCaption(c.caption);
    if (cap.access < 0 || Upper(cap.text[static_cast<size_t>(cap.access)]) != Upper(ch)) {
      continue;
    }
    if (Focusable(c)) {
      FocusAt(i);
      if (c.kind == ControlKind::kCheckBox || c.kind == ControlKind::kOptionButton ||
          c.kind == ControlKind::kCommandButton) {
        Click(c);
      }
      return;
    }
    // A label or frame passes the focus to the next control that takes it.
    for (size_t j = i + 1; j < cs.size(); ++j) {
      if (Focusable(cs[j])) {
        FocusAt(j);
        return;
      }
    }
    return;
  }
}

// ---------------------------------------------------------------------------
// Keys

void FormView::HandleKey(const Key& key) {
  EnsureFocus();
  if (list_open_) {
    ListKey(key);
    return;
  }
  if (FormKey(key)) return;
  const Control* f = Focused();
  if (!f) {
    if (key.type == Key::kEnter) PressButton(true);
    return;
  }
  switch (f->kind) {
    case ControlKind::kTextBox:
    case ControlKind::kPasswordBox:
      TextBoxKey(key);
      return;
    case ControlKind::kComboBox:
      ComboBoxKey(*f, key);
      return;
    case ControlKind::kCheckBox:
    case ControlKind::kCommandButton:
      ButtonKey(*f, key);
      return;
    case ControlKind::kOptionButton:
      OptionKey(*f, key);
      return;
    case ControlKind::kTabControl:
      TabStripKey(*f, key);
      return;
    default:
      return;
  }
}

// The keys that mean the same wherever the focus is; false for the others.
bool FormView::FormKey(const Key& key) {
  switch (key.type) {
    case Key::kTab:
    case Key::kDown:
      MoveFocus(1);
      return true;
    case Key::kBackTab:
    case Key::kUp:
      MoveFocus(-1);
      return true;
    case Key::kPageDown:
      SwitchTab(1);
      return true;
    case Key::kPageUp:
      SwitchTab(-1);
      return true;
    case Key::kEscape:
      if (!PressButton(false)) form_.CloseRequested();
      return true;
    case Key::kCtrlC:
    case Key::kEof:
      form_.CloseRequested();
      return true;
    case Key::kAlt:
      AccessKey(key.ch);
      return true;
    default:
      return false;
  }
}

void FormView::ListKey(const Key& key) {
  const Control* c = Focused();
  if (!c || c->kind != ControlKind::kComboBox) {
    list_open_ = false;
    return;
  }
  int count = static_cast<int>(c->list.size());
  const int page = std::max(1, list_rows_ - 1);
  switch (key.type) {
    case Key::kUp:
      highlight_ = std::max(0, highlight_ - 1);
      return;
    case Key::kDown:
      highlight_ = std::min(count - 1, highlight_ + 1);
      return;
    case Key::kPageUp:
      highlight_ = std::max(0, highlight_ - page);
      return;
    case Key::kPageDown:
      highlight_ = std::min(count - 1, highlight_ + page);
      return;
    case Key::kHome:
      highlight_ = 0;
      return;
    case Key::kEnd:
      highlight_ = count - 1;
      return;
    case Key::kEnter:
    case Key::kRight:
      list_open_ = false;
      if (highlight_ >= 0 && highlight_ < count) Select(*c, highlight_);
      return;
    case Key::kEscape:
    case Key::kLeft:
    case Key::kTab:
    case Key::kBackTab:
      list_open_ = false;
      return;
    case Key::kCtrlC:
    case Key::kEof:
      list_open_ = false;
      form_.CloseRequested();
      return;
    case Key::kChar:
      if (key.ch == U' ') {
        list_open_ = false;
        if (highlight_ >= 0 && highlight_ < count) Select(*c, highlight_);
      } else if (key.ch >= U'1' && key.ch <= U'9' && static_cast<int>(key.ch - U'1') < count) {
        list_open_ = false;
        Select(*c, static_cast<int>(key.ch - U'1'));
      } else if (int at = NextStartingWith(*c, highlight_, key.ch); at >= 0) {
        highlight_ = at;
      }
      return;
    default:
      return;
  }
}

void FormView::TextBoxKey(const Key& key) {
  if (key.type == Key::kEnter) {
    PressButton(true);
  } else {
    EditText(key);
  }
}

void FormView::ComboBoxKey(const Control& c, const Key& key) {
  const int count = static_cast<int>(c.list.size());
  if (key.type == Key::kEnter) {
    PressButton(true);
  } else if (IsSpace(key)) {
    list_open_ = count > 0;
    highlight_ = std::max(0, c.list_index);
    list_top_ = highlight_;
  } else if (key.type == Key::kLeft && c.list_index > 0) {
    Select(c, c.list_index - 1);
  } else if (key.type == Key::kRight && c.list_index + 1 < count) {
    Select(c, c.list_index + 1);
  } else if (key.type == Key::kHome && count > 0) {
    Select(c, 0);
  } else if (key.type == Key::kEnd && count > 0) {
    Select(c, count - 1);
  } else if (key.type == Key::kChar && key.ch >= U'1' && key.ch <= U'9') {
    if (static_cast<int>(key.ch - U'1') < count) Select(c, static_cast<int>(key.ch - U'1'));
  } else if (key.type == Key::kChar) {
    if (int at = NextStartingWith(c, c.list_index, key.ch); at >= 0) Select(c, at);
  }
}

// A check box or a command button.
void FormView::ButtonKey(const Control& c, const Key& key) {
  if (IsSpace(key) || (key.type == Key::kEnter && c.kind == ControlKind::kCommandButton)) {
    Click(c);
  } else if (key.type == Key::kEnter) {
    PressButton(true);
  } else if (key.type == Key::kLeft || key.type == Key::kRight) {
    MoveFocus(key.type == Key::kRight ? 1 : -1);
  }
}

void FormView::OptionKey(const Control& c, const Key& key) {
  if (IsSpace(key)) {
    Click(c);
  } else if (key.type == Key::kEnter) {
    PressButton(true);
  } else if (key.type == Key::kLeft || key.type == Key::kRight) {
    // Arrows move through the group and select as they go.
    const auto& cs = form_.Controls();
    int step = key.type == Key::kRight ? 1 : -1;
    for (int at = static_cast<int>(focus_) + step; at >= 0 && at < static_cast<int>(cs.size());
         at += step) {
      const Control& o = cs[static_cast<size_t>(at)];
      if (o.kind == ControlKind::kOptionButton && o.container == c.container && o.tab == c.tab &&
          Focusable(o)) {
        FocusAt(static_cast<size_t>(at));
        Click(o);
        break;
      }
    }
  }
}

void FormView::TabStripKey(const Control& c, const Key& key) {
  if (key.type == Key::kLeft || key.type == Key::kRight) {
    SwitchTab(key.type == Key::kRight ? 1 : -1);
  } else if (IsSpace(key)) {
    SwitchTab(c.value + 1 < static_cast<int>(c.list.size()) ? 1 : -c.value);
  } else if (key.type == Key::kEnter) {
    PressButton(true);
  }
}

// ---------------------------------------------------------------------------
// Drawing

void FormView::DrawControl(Screen& s, const Control& c, int ox, int oy, bool focused) {
  const int x = ox + c.x;
  const int y = oy + c.y;
  const uint8_t attr = c.enabled ? Screen::kPlain : Screen::kDim;
  switch (c.kind) {
    case ControlKind::kLabel:
      DrawLabel(s, c, x, y, attr);
      return;
    case ControlKind::kContainer:
      s.Fill(x, y, c.width, c.height);
      return;
    case ControlKind::kFrame:
      DrawFrame(s, c, x, y, attr);
      return;
    case ControlKind::kTabControl:
      DrawTabStrip(s, c, x, y, attr, focused);
      return;
    case ControlKind::kTextBox:
    case ControlKind::kPasswordBox: {
      LineEditor editor{ToUtf32(c.text), focused ? cursor_ : 0};
      editor.Draw(s, x, y, c.width, c.kind == ControlKind::kPasswordBox, focused);
      return;
    }
    case ControlKind::kCheckBox:
    case ControlKind::kOptionButton:
      DrawMark(s, c, x, y, attr, focused);
      return;
    case ControlKind::kComboBox:
      DrawComboBox(s, c, x, y, attr, focused);
      return;
    case ControlKind::kCommandButton:
      DrawButton(s, c, x, y, attr, focused);
      return;
  }
}

// The entries of an open combo box, numbered, below it: as many as fit on
// the screen, scrolled to the highlighted one, with a mark on the border
// where more lie above or below.
void FormView::DrawOpenList(Screen& s, const Control& c, int ox, int oy) {
  const int x = ox + c.x, y = oy + c.y + 1;
  const int count = static_cast<int>(c.list.size());
  list_rows_ = std::max(1, std::min(count, s.height() - y - 2));
  list_top_ = std::clamp(list_top_, highlight_ - list_rows_ + 1, highlight_);
  list_top_ = std::clamp(list_top_, 0, std::max(0, count - list_rows_));
  const size_t digits = std::to_string(count).size();
  s.Box(x, y, c.width, list_rows_ + 2);
  for (int row = 0; row < list_rows_ && list_top_ + row < count; ++row) {
    const int i = list_top_ + row;
    std::string number = std::to_string(i + 1);
    number.insert(0, digits - number.size(), ' ');
    std::u32string entry =
        ToUtf32(FromUtf8(number)) + U" " + ToUtf32(c.list[static_cast<size_t>(i)]);
    s.Put(x + 1, y + 1 + row, Fit(entry, c.width - 2),
          i == highlight_ ? Screen::kReverse : Screen::kPlain);
  }
  if (list_top_ > 0) s.Put(x + c.width - 3, y, U"^");
  if (list_top_ + list_rows_ < count) s.Put(x + c.width - 3, y + list_rows_ + 1, U"v");
}

void FormView::Draw(Screen& s) {
  EnsureFocus();
  const auto& cs = form_.Controls();
  int client_w = 0, client_h = 0;
  for (const Control& c : cs) {
    client_w = std::max(client_w, c.x + c.width);
    client_h = std::max(client_h, c.y + c.height);
  }
  const int ox = 2, oy = 2;
  s.Box(0, 0, client_w + 4, client_h + 4, ToUtf32(form_.Caption()));
  s.HideCursor();
  const Control* focused = Focused();
  for (const Control& c : cs) {
    if (!OnPage(c) || !IsShown(form_, c)) continue;
    DrawControl(s, c, ox, oy, &c == focused);
  }
  s.Put(1, client_h + 4, kFormHelp, Screen::kDim);
  s.Put(1, client_h + 5, kFormEnterHelp, Screen::kDim);
  if (list_open_ && focused && focused->kind == ControlKind::kComboBox) {
    DrawOpenList(s, *focused, ox, oy);
  }
}

}  // namespace pellory
