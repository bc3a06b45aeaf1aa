#include "platform/win32/win32_dialog_host.h"

#include "platform/win32/owner_window.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace pellory {
namespace {

const wchar_t* W(const Text& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

Text FromWide(const wchar_t* text, size_t length) {
  return Text(reinterpret_cast<const char16_t*>(text), length);
}

Text WindowTextOf(HWND window) {
  int length = GetWindowTextLengthW(window);
  if (length <= 0) return Text();
  std::wstring buffer(static_cast<size_t>(length) + 1, L'\0');
  int got = GetWindowTextW(window, buffer.data(), length + 1);
  return FromWide(buffer.data(), static_cast<size_t>(std::max(0, got)));
}

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

// The dialogs open on this thread, the last one on top.
thread_local std::vector<HWND> t_dialogs;

void InitCommonControlsOnce() {
  static bool done = [] {
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    return InitCommonControlsEx(&icc) != FALSE;
  }();
  (void)done;
}

// An empty dialog template: the dialog manager gives the window its font,
// keyboard navigation, access keys and default-button handling; the
// controls are added afterwards from the form.
std::vector<WORD> DialogTemplate() {
  std::vector<WORD> t(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
  DLGTEMPLATE head = {};
  head.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER;
  std::memcpy(t.data(), &head, sizeof head);
  t.push_back(0);  // no menu
  t.push_back(0);  // the dialog class
  t.push_back(0);  // no title yet
  t.push_back(8);  // point size
  for (const wchar_t* f = L"MS Shell Dlg"; *f; ++f) t.push_back(static_cast<WORD>(*f));
  t.push_back(0);
  return t;
}

class NativeForm {
 public:
  explicit NativeForm(ModalForm& form) : form_(form) {}

  // Builds the window; false when the system refused it.
  bool Create(HWND owner);
  void Run(HWND owner);

 private:
  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR Handle(UINT message, WPARAM wparam, LPARAM lparam);

  const Control* At(size_t position) const {
    const auto& cs = form_.Controls();
    return position < cs.size() ? &cs[position] : nullptr;
  }
  int CurrentTab() const;
  bool Covered(size_t position) const;
  bool ShownNow(size_t position) const;
  RECT CellRect(const Control& c) const;
  void CreateControls();
  // Runs one event of the form; a failure inside it ends the dialog as Cancel.
  template <typename Event>
  void Raise(Event&& event);
  void Refresh();
  void PressCancel();
  void SwitchTab(int step);
  bool KeyboardShortcut(const MSG& msg);

  ModalForm& form_;
  HWND dialog_ = nullptr;
  HFONT font_ = nullptr;
  int cell_w_ = 7;
  int cell_h_ = 22;
  int text_h_ = 13;
  std::vector<HWND> windows_;  // one per control; none for containers
  std::vector<Text> captions_;
  std::vector<std::vector<Text>> lists_;
  bool updating_ = false;  // the view itself is changing a control
};

int NativeForm::CurrentTab() const {
  for (const Control& c : form_.Controls()) {
    if (c.kind == ControlKind::kTabControl) return c.value;
  }
  return -1;
}

RECT NativeForm::CellRect(const Control& c) const {
  const int margin_x = cell_w_;
  const int margin_y = cell_h_ / 2;
  RECT r;
  r.left = margin_x + c.x * cell_w_;
  r.top = margin_y + c.y * cell_h_;
  r.right = r.left + c.width * cell_w_;
  r.bottom = r.top + std::max(1, c.height) * cell_h_;
  return r;
}

// A control lies under a later frame or container that is shown over its
// whole area and is not one of its own containers.
bool NativeForm::Covered(size_t position) const {
  const auto& cs = form_.Controls();
  const Control& c = cs[position];
  auto inside = [](const Control& a, const Control& b) {
    return a.x >= b.x && a.y >= b.y && a.x + a.width <= b.x + b.width &&
           a.y + std::max(1, a.height) <= b.y + std::max(1, b.height);
  };
  for (size_t k = position + 1; k < cs.size(); ++k) {
    const Control& cover = cs[k];
    if (cover.kind != ControlKind::kFrame && cover.kind != ControlKind::kContainer) continue;
    if ((cover.tab >= 0 && cover.tab != CurrentTab()) || !IsShown(form_, cover)) continue;
    if (cover.tab != c.tab && cover.tab >= 0) continue;
    bool ancestor = false;
    Text up = c.container;
    for (int depth = 0; depth < 16 && !up.empty() && !ancestor; ++depth) {
      if (up == cover.name) {
        ancestor = true;
        break;
      }
      Text next;
      for (const Control& p : cs) {
        if (p.name == up) {
          next = p.container;
          break;
        }
      }
      up = next;
    }
    if (!ancestor && inside(c, cover)) return true;
  }
  return false;
}

bool NativeForm::ShownNow(size_t position) const {
  const Control& c = form_.Controls()[position];
  if (c.tab >= 0 && c.tab != CurrentTab()) return false;
  return IsShown(form_, c) && !Covered(position);
}

bool NativeForm::Create(HWND owner) {
  InitCommonControlsOnce();
  std::vector<WORD> tmpl = DialogTemplate();
  dialog_ = CreateDialogIndirectParamW(ThisModule(), reinterpret_cast<LPCDLGTEMPLATEW>(tmpl.data()),
                                       owner, &NativeForm::Proc, reinterpret_cast<LPARAM>(this));
  if (!dialog_) return false;
  font_ = reinterpret_cast<HFONT>(SendMessageW(dialog_, WM_GETFONT, 0, 0));
  // One character cell: the font's average character width, and a row tall
  // enough for an edit box or a button.
  if (HDC dc = GetDC(dialog_)) {
    HGDIOBJ old = SelectObject(dc, font_ ? font_ : GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICW tm = {};
    SIZE size = {};
    static const wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    if (GetTextMetricsW(dc, &tm) && GetTextExtentPoint32W(dc, kLetters, 52, &size)) {
      cell_w_ = std::max(4, static_cast<int>((size.cx / 26 + 1) / 2));
      text_h_ = std::max(8, static_cast<int>(tm.tmHeight));
      cell_h_ = text_h_ * 7 / 4;
    }
    SelectObject(dc, old);
    ReleaseDC(dialog_, dc);
  }
  SetWindowTextW(dialog_, W(form_.Caption()));
  CreateControls();

  int width = 0, height = 0;
  for (const Control& c : form_.Controls()) {
    RECT r = CellRect(c);
    width = std::max(width, static_cast<int>(r.right));
    height = std::max(height, static_cast<int>(r.bottom));
  }
  RECT frame = {0, 0, width + cell_w_, height + cell_h_ / 2};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(dialog_, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(dialog_, GWL_EXSTYLE)));
  const int outer_w = frame.right - frame.left;
  const int outer_h = frame.bottom - frame.top;
  RECT work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int left = work.left + std::max(0, static_cast<int>(work.right - work.left - outer_w) / 2);
  const int top = work.top + std::max(0, static_cast<int>(work.bottom - work.top - outer_h) / 2);
  SetWindowPos(dialog_, nullptr, left, top, outer_w, outer_h, SWP_NOZORDER | SWP_NOACTIVATE);
  Refresh();
  return true;
}

void NativeForm::CreateControls() {
  const auto& cs = form_.Controls();
  windows_.assign(cs.size(), nullptr);
  captions_.assign(cs.size(), Text());
  lists_.assign(cs.size(), {});
  HINSTANCE module = ThisModule();
  HWND tab_window = nullptr;
  int default_id = 0;
  for (size_t i = 0; i < cs.size(); ++i) {
    const Control& c = cs[i];
    const wchar_t* cls = nullptr;
    DWORD style = WS_CHILD;
    DWORD ex_style = 0;
    const bool option_follows = c.kind == ControlKind::kOptionButton && i > 0 &&
                                cs[i - 1].kind == ControlKind::kOptionButton &&
                                cs[i - 1].container == c.container && cs[i - 1].tab == c.tab;
    if (!option_follows) style |= WS_GROUP;
    RECT r = CellRect(c);
    const int gap = 2;
    int x = r.left, y = r.top, w = r.right - r.left, h = r.bottom - r.top - gap;
    switch (c.kind) {
      case ControlKind::kContainer:
        continue;  // a container only groups: it has no window of its own
      case ControlKind::kLabel:
        cls = WC_STATICW;
        style |= SS_LEFT;
        y += std::max(0, (cell_h_ - text_h_) / 2 - 1);
        h = r.bottom - y;
        break;
      case ControlKind::kTextBox:
      case ControlKind::kPasswordBox:
        cls = WC_EDITW;
        style |= WS_TABSTOP | ES_AUTOHSCROLL;
        if (c.kind == ControlKind::kPasswordBox) style |= ES_PASSWORD;
        ex_style |= WS_EX_CLIENTEDGE;
        break;
      case ControlKind::kCheckBox:
        cls = WC_BUTTONW;
        style |= WS_TABSTOP | BS_3STATE;
        break;
      case ControlKind::kOptionButton:
        cls = WC_BUTTONW;
        style |= WS_TABSTOP | BS_RADIOBUTTON;
        break;
      case ControlKind::kComboBox:
        cls = WC_COMBOBOXW;
        style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
        h = cell_h_ + text_h_ * 12;  // the dropped-down list
        break;
      case ControlKind::kCommandButton:
        cls = WC_BUTTONW;
        style |= WS_TABSTOP | (c.is_default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
        break;
      case ControlKind::kFrame:
        cls = WC_BUTTONW;
        style |= BS_GROUPBOX;
        h = r.bottom - r.top;
        break;
      case ControlKind::kTabControl:
        cls = WC_TABCONTROLW;
        style |= WS_TABSTOP | WS_CLIPSIBLINGS;
        h = r.bottom - r.top;
        break;
    }
    const int id = DialogControlId(i);
    HWND window =
        CreateWindowExW(ex_style, cls, L"", style, x, y, w, h, dialog_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), module, nullptr);
    if (!window) continue;
    windows_[i] = window;
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    // List order is tab order: each control goes below the ones before it.
    SetWindowPos(window, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (c.kind == ControlKind::kPasswordBox) SendMessageW(window, EM_SETPASSWORDCHAR, L'*', 0);
    if (c.kind == ControlKind::kTabControl) tab_window = window;
    if (c.is_default && c.kind == ControlKind::kCommandButton) default_id = id;
  }
  // The tab control paints its whole area: it lies beneath every other
  // control, which it leaves unpainted.
  if (tab_window) {
    SetWindowPos(tab_window, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  if (default_id) SendMessageW(dialog_, DM_SETDEFID, static_cast<WPARAM>(default_id), 0);
}

template <typename Event>
void NativeForm::Raise(Event&& event) {
  try {
    event();
  } catch (...) {
    try {
      form_.CloseRequested();
    } catch (...) {
    }
  }
  Refresh();
  // A sent message does not wake GetMessage: make sure the loop sees the end.
  if (form_.Closed()) PostMessageW(dialog_, WM_NULL, 0, 0);
}

void NativeForm::Refresh() {
  const auto& cs = form_.Controls();
  if (cs.size() != windows_.size()) return;
  updating_ = true;
  if (WindowTextOf(dialog_) != form_.Caption()) SetWindowTextW(dialog_, W(form_.Caption()));
  for (size_t i = 0; i < cs.size(); ++i) {
    const Control& c = cs[i];
    HWND h = windows_[i];
    if (!h) continue;
    switch (c.kind) {
      case ControlKind::kLabel:
      case ControlKind::kCommandButton:
      case ControlKind::kFrame:
      case ControlKind::kCheckBox:
      case ControlKind::kOptionButton:
        if (captions_[i] != c.caption || WindowTextOf(h) != c.caption) {
          SetWindowTextW(h, W(c.caption));
          captions_[i] = c.caption;
        }
        break;
      case ControlKind::kTextBox:
      case ControlKind::kPasswordBox:
        if (WindowTextOf(h) != c.text) SetWindowTextW(h, W(c.text));
        break;
      case ControlKind::kComboBox:
        if (lists_[i] != c.list) {
          SendMessageW(h, CB_RESETCONTENT, 0, 0);
          for (size_t e = 0; e < c.list.size(); ++e) {
            LRESULT at = SendMessageW(h, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(c.list[e])));
            if (at >= 0 && e < c.item_data.size()) {
              SendMessageW(h, CB_SETITEMDATA, static_cast<WPARAM>(at),
                           static_cast<LPARAM>(c.item_data[e]));
            }
          }
          lists_[i] = c.list;
        }
        if (SendMessageW(h, CB_GETCURSEL, 0, 0) != c.list_index) {
          SendMessageW(h, CB_SETCURSEL, static_cast<WPARAM>(c.list_index), 0);
        }
        break;
      case ControlKind::kTabControl:
        if (lists_[i] != c.list) {
          SendMessageW(h, TCM_DELETEALLITEMS, 0, 0);
          for (size_t e = 0; e < c.list.size(); ++e) {
            Text caption = c.list[e];
            TCITEMW item = {};
            item.mask = TCIF_TEXT;
            item.pszText = const_cast<wchar_t*>(W(caption));
            SendMessageW(h, TCM_INSERTITEMW, e, reinterpret_cast<LPARAM>(&item));
          }
          lists_[i] = c.list;
        }
        if (SendMessageW(h, TCM_GETCURSEL, 0, 0) != c.value) {
          SendMessageW(h, TCM_SETCURSEL, static_cast<WPARAM>(c.value), 0);
        }
        break;
      case ControlKind::kContainer:
        break;
    }
    if (c.kind == ControlKind::kCheckBox) {
      WPARAM state = c.value == kChecked  ? BST_CHECKED
                     : c.value == kGreyed ? BST_INDETERMINATE
                                          : BST_UNCHECKED;
      if (static_cast<WPARAM>(SendMessageW(h, BM_GETCHECK, 0, 0)) != state) {
        SendMessageW(h, BM_SETCHECK, state, 0);
      }
    } else if (c.kind == ControlKind::kOptionButton) {
      WPARAM state = c.value ? BST_CHECKED : BST_UNCHECKED;
      if (static_cast<WPARAM>(SendMessageW(h, BM_GETCHECK, 0, 0)) != state) {
        SendMessageW(h, BM_SETCHECK, state, 0);
      }
    }
    const bool enabled = c.enabled;
    if ((IsWindowEnabled(h) != FALSE) != enabled) EnableWindow(h, enabled);
  }
  // Visibility last: it depends on the tab shown and on every container.
  bool shown_changed = false;
  for (size_t i = 0; i < cs.size(); ++i) {
    HWND h = windows_[i];
    if (!h) continue;
    const bool shown = ShownNow(i);
    const bool visible = (GetWindowLongPtrW(h, GWL_STYLE) & WS_VISIBLE) != 0;
    if (visible != shown) {
      ShowWindow(h, shown ? SW_SHOWNA : SW_HIDE);
      shown_changed = true;
    }
  }
  // The dialog repaints where a control went, and the tab control beneath
  // everything must repaint with it, or the dialog's background covers it.
  if (shown_changed) {
    RedrawWindow(dialog_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  }
  // The focus must not stay on a control that has gone.
  HWND focus = GetFocus();
  if (focus && IsChild(dialog_, focus) && (!IsWindowVisible(focus) || !IsWindowEnabled(focus))) {
    HWND next = GetNextDlgTabItem(dialog_, nullptr, FALSE);
    if (next && IsWindowVisible(next)) SetFocus(next);
  }
  updating_ = false;
}

void NativeForm::PressCancel() {
  const auto& cs = form_.Controls();
  for (size_t i = 0; i < cs.size(); ++i) {
    if (cs[i].is_cancel && cs[i].enabled && IsShown(form_, cs[i])) {
      ControlId id{cs[i].name, cs[i].index};
      Raise([&] { form_.Clicked(id); });
      return;
    }
  }
  Raise([&] { form_.CloseRequested(); });
}

void NativeForm::SwitchTab(int step) {
  const auto& cs = form_.Controls();
  for (const Control& c : cs) {
    if (c.kind != ControlKind::kTabControl || !c.enabled || !IsShown(form_, c)) continue;
    const int count = static_cast<int>(c.list.size());
    if (count == 0) return;
    const int target = ((c.value + step) % count + count) % count;
    ControlId id{c.name, c.index};
    Raise([&] { form_.SelectionChanged(id, target); });
    return;
  }
}

// Ctrl+Tab and Ctrl+PageDown show the next tab; with Shift, or
// Ctrl+PageUp, the one before.
bool NativeForm::KeyboardShortcut(const MSG& msg) {
  if (msg.message != WM_KEYDOWN || (GetKeyState(VK_CONTROL) & 0x8000) == 0) return false;
  if (msg.hwnd != dialog_ && !IsChild(dialog_, msg.hwnd)) return false;
  if (msg.wParam == VK_TAB) {
    SwitchTab((GetKeyState(VK_SHIFT) & 0x8000) ? -1 : 1);
    return true;
  }
  if (msg.wParam == VK_NEXT || msg.wParam == VK_PRIOR) {
    SwitchTab(msg.wParam == VK_NEXT ? 1 : -1);
    return true;
  }
  return false;
}

INT_PTR CALLBACK NativeForm::Proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, DWLP_USER, lparam);
    auto* self = reinterpret_cast<NativeForm*>(lparam);
    self->dialog_ = dialog;
    return FALSE;  // the focus is set once the controls are there
  }
  auto* self = reinterpret_cast<NativeForm*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (!self) return FALSE;
  return self->Handle(message, wparam, lparam);
}

INT_PTR NativeForm::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CLOSE:
      Raise([&] { form_.CloseRequested(); });
      return TRUE;
    case WM_COMMAND: {
      const int id = LOWORD(wparam);
      const int code = HIWORD(wparam);
      if (id == IDCANCEL && lparam == 0) {  // Esc
        PressCancel();
        return TRUE;
      }
      if (id < kFirstControlId || updating_) return FALSE;
      const size_t position = static_cast<size_t>(id - kFirstControlId);
      const Control* c = At(position);
      if (!c || position >= windows_.size()) return FALSE;
      ControlId cid{c->name, c->index};
      HWND h = windows_[position];
      switch (c->kind) {
        case ControlKind::kCommandButton:
        case ControlKind::kCheckBox:
        case ControlKind::kOptionButton:
          if (code == BN_CLICKED) Raise([&] { form_.Clicked(cid); });
          return TRUE;
        case ControlKind::kTextBox:
        case ControlKind::kPasswordBox:
          if (code == EN_CHANGE) {
            Text text = WindowTextOf(h);
            Raise([&] { form_.TextChanged(cid, text); });
          }
          return TRUE;
        case ControlKind::kComboBox:
          if (code == CBN_SELCHANGE) {
            int selected = static_cast<int>(SendMessageW(h, CB_GETCURSEL, 0, 0));
            Raise([&] { form_.SelectionChanged(cid, selected < 0 ? -1 : selected); });
          }
          return TRUE;
        default:
          return FALSE;
      }
    }
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lparam);
      if (!header || header->code != static_cast<UINT>(TCN_SELCHANGE) || updating_) return FALSE;
      const int id = static_cast<int>(header->idFrom);
      if (id < kFirstControlId) return FALSE;
      const size_t position = static_cast<size_t>(id - kFirstControlId);
      const Control* c = At(position);
      if (!c || c->kind != ControlKind::kTabControl || !windows_[position]) return FALSE;
      ControlId cid{c->name, c->index};
      int selected = static_cast<int>(SendMessageW(windows_[position], TCM_GETCURSEL, 0, 0));
      Raise([&] { form_.SelectionChanged(cid, selected); });
      return TRUE;
    }
    default:
      return FALSE;
  }
}

void NativeForm::Run(HWND owner) {
  const bool owner_was_enabled = owner && IsWindowEnabled(owner);
  if (owner) EnableWindow(owner, FALSE);
  t_dialogs.push_back(dialog_);
  ShowWindow(dialog_, SW_SHOW);
  SetForegroundWindow(dialog_);
  if (HWND first = GetNextDlgTabItem(dialog_, nullptr, FALSE)) {
    // An option button that gets the focus may report a click: the first
    // focus is the view's doing, not the person's.
    updating_ = true;
    SendMessageW(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);
    updating_ = false;
  }
  Raise([&] { form_.Activated(reinterpret_cast<WindowHandle>(dialog_)); });
  MSG msg;
  while (!form_.Closed()) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      // WM_QUIT: the thread is ending; close as Cancel and leave the quit
      // for the loop outside.
      PostQuitMessage(static_cast<int>(msg.wParam));
      Raise([&] { form_.CloseRequested(); });
      break;
    }
    if (got == -1) {
      Raise([&] { form_.CloseRequested(); });
      break;
    }
    if (KeyboardShortcut(msg)) continue;
    if (!IsDialogMessageW(dialog_, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  // The owner comes back before the dialog goes, so it gets the activation.
  if (owner && owner_was_enabled) EnableWindow(owner, TRUE);
  t_dialogs.erase(std::remove(t_dialogs.begin(), t_dialogs.end(), dialog_), t_dialogs.end());
  DestroyWindow(dialog_);
  dialog_ = nullptr;
}

}  // namespace

HWND ActiveDialogWindow() {
  while (!t_dialogs.empty() && !IsWindow(t_dialogs.back())) t_dialogs.pop_back();
  return t_dialogs.empty() ? ThreadOwnerWindow() : t_dialogs.back();
}

std::wstring FileDialogFilter(TextView filter) {
  std::wstring out;
  out.reserve(filter.size() + 2);
  for (char16_t c : filter) out.push_back(c == u'|' ? L'\0' : static_cast<wchar_t>(c));
  out.push_back(L'\0');
  out.push_back(L'\0');
  return out;
}

void Win32DialogHost::ShowModal(ModalForm& form) {
  try {
    NativeForm view(form);
    HWND owner = ActiveDialogWindow();
    if (!view.Create(owner)) {
      form.CloseRequested();
      return;
    }
    view.Run(owner);
  } catch (...) {
    form.CloseRequested();
  }
}

Text Win32DialogHost::ShowOpen(const FileOpenRequest& request) {
  try {
    std::wstring filter = FileDialogFilter(request.filter);
    std::vector<wchar_t> name(32768, L'\0');
    const size_t initial = std::min(request.file_name.size(), name.size() - 1);
    for (size_t i = 0; i < initial; ++i) name[i] = static_cast<wchar_t>(request.file_name[i]);
    Text title = request.title;
    Text extension = request.default_extension;
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = ActiveDialogWindow();
    ofn.lpstrFilter = request.filter.empty() ? nullptr : filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = name.data();
    ofn.nMaxFile = static_cast<DWORD>(name.size());
    ofn.lpstrTitle = title.empty() ? nullptr : W(title);
    ofn.lpstrDefExt = extension.empty() ? nullptr : W(extension);
    // The plug-in lives in the host's process: the host's current folder stays.
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&ofn)) return Text();
    return FromWide(name.data(), wcsnlen(name.data(), name.size()));
  } catch (...) {
    return Text();
  }
}

void Win32DialogHost::Tell(TextView caption, TextView message) {
  const Text title(caption), text(message);
  MessageBoxW(ActiveDialogWindow(), W(text), W(title), MB_OK | MB_ICONWARNING);
}

bool Win32DialogHost::AskYesNo(TextView caption, TextView question) {
  const Text title(caption), text(question);
  return MessageBoxW(ActiveDialogWindow(), W(text), W(title),
                     MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

PathKind Win32DialogHost::KindOfPath(TextView path) {
  const Text name(path);
  const DWORD attributes = GetFileAttributesW(W(name));
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kNothing;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::kFolder : PathKind::kFile;
}

}  // namespace pellory
