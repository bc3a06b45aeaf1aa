#include "platform/posix/terminal_dialogs.h"

#include <dirent.h>
#include <fnmatch.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <iterator>

#include "platform/files.h"

namespace pellory {
namespace {

// ---------------------------------------------------------------------------
// Text helpers

std::u32string ToU32(TextView text) {
  std::u32string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    out.push_back(c);
  }
  return out;
}

Text FromU32(std::u32string_view text) {
  Text out;
  out.reserve(text.size());
  for (char32_t c : text) {
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::u32string U32(std::string_view utf8) { return ToU32(FromUtf8(utf8)); }

char32_t Upper32(char32_t c) { return c < 0x10000 ? UpperChar(static_cast<char16_t>(c)) : c; }

// A caption without its "&" marks, and the place of its access key (-1: none).
struct Caption {
  std::u32string text;
  int access = -1;
};

Caption ParseCaption(TextView caption) {
  Caption out;
  std::u32string raw = ToU32(caption);
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == U'&' && i + 1 < raw.size()) {
      ++i;
      if (raw[i] != U'&' && out.access < 0) out.access = static_cast<int>(out.text.size());
    }
    out.text.push_back(raw[i]);
  }
  return out;
}

// Breaks `text` into lines of at most `width` characters at blanks.
std::vector<std::u32string> Wrap(std::u32string_view text, int width) {
  std::vector<std::u32string> lines;
  if (width <= 0) return lines;
  size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && text[pos] == U' ' && !lines.empty()) ++pos;
    size_t rest = text.size() - pos;
    if (rest <= static_cast<size_t>(width)) {
      lines.emplace_back(text.substr(pos));
      break;
    }
    size_t cut = text.rfind(U' ', pos + static_cast<size_t>(width));
    if (cut == std::u32string_view::npos || cut <= pos) cut = pos + static_cast<size_t>(width);
    std::u32string line(text.substr(pos, cut - pos));
    while (!line.empty() && line.back() == U' ') line.pop_back();
    lines.push_back(std::move(line));
    pos = cut;
  }
  return lines;
}

std::u32string Fit(std::u32string text, int width) {
  if (width < 0) width = 0;
  text.resize(static_cast<size_t>(width), U' ');
  return text;
}

// ---------------------------------------------------------------------------
// A one-line text editor, shared by the form's text boxes and the prompts.

struct LineEditor {
  std::u32string text;
  size_t cursor = 0;

  // Applies an editing key; false when the key is not an editing key.
  bool Apply(const Key& key) {
    cursor = std::min(cursor, text.size());
    switch (key.type) {
      case Key::kChar:
        if (key.ch < 0x20 || key.ch == 0x7F) return false;
        text.insert(text.begin() + static_cast<std::ptrdiff_t>(cursor), key.ch);
        ++cursor;
        return true;
      case Key::kBackspace:
        if (cursor > 0) text.erase(--cursor, 1);
        return true;
      case Key::kDelete:
        if (cursor < text.size()) text.erase(cursor, 1);
        return true;
      case Key::kLeft:
        if (cursor > 0) --cursor;
        return true;
      case Key::kRight:
        if (cursor < text.size()) ++cursor;
        return true;
      case Key::kHome:
        cursor = 0;
        return true;
      case Key::kEnd:
        cursor = text.size();
        return true;
      case Key::kCtrlU:
        text.clear();
        cursor = 0;
        return true;
      default:
        return false;
    }
  }

  // Draws "[text]" over `width` cells, scrolled so the cursor shows.
  void Draw(Screen& s, int x, int y, int width, bool masked, bool focused) const {
    int inner = std::max(1, width - 2);
    size_t cur = std::min(cursor, text.size());
    size_t offset = cur >= static_cast<size_t>(inner) ? cur - static_cast<size_t>(inner) + 1 : 0;
    std::u32string shown = text.substr(std::min(offset, text.size()), static_cast<size_t>(inner));
    if (masked) shown.assign(shown.size(), U'*');
    s.Put(x, y, U"[");
    s.Put(x + 1, y, Fit(shown, inner), Screen::kUnderline);
    s.Put(x + 1 + inner, y, U"]");
    if (focused) s.SetCursor(x + 1 + static_cast<int>(cur - offset), y);
  }
};

// The form's help lines, below its box.
constexpr char32_t kFormHelp[] = U"Tab/Up/Down: move  Space: change  Esc: Cancel  Alt+letter: jump";
constexpr char32_t kFormEnterHelp[] = U"Enter: press the focused button, elsewhere OK";

// ---------------------------------------------------------------------------
// The terminal of the process.

// What a signal that ends the process must put back: the terminal's modes and
// its normal screen. Set while a terminal is open (one at a time per process).
constexpr char kLeaveScreen[] = "\x1b[0m\x1b[?25h\x1b[?1049l";
volatile sig_atomic_t g_restore_in = -1;
volatile sig_atomic_t g_restore_out = -1;
struct termios g_restore_modes;
constexpr int kEndingSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};
struct sigaction g_previous[std::size(kEndingSignals)];

extern "C" void RestoreTerminalAndDie(int sig) {
  if (g_restore_in >= 0) {
    ::tcsetattr(g_restore_in, TCSANOW, &g_restore_modes);
    ssize_t ignored = ::write(g_restore_out, kLeaveScreen, sizeof kLeaveScreen - 1);
    (void)ignored;
  }
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

class PosixTerminal : public TerminalIo {
 public:
  PosixTerminal(int in, int out, const struct termios& saved) : in_(in), out_(out), saved_(saved) {
    if (g_restore_in < 0) {
      g_restore_modes = saved;
      g_restore_out = out;
      g_restore_in = in;
      struct sigaction sa {};
      sa.sa_handler = RestoreTerminalAndDie;
      sigemptyset(&sa.sa_mask);
      for (size_t i = 0; i < std::size(kEndingSignals); ++i) {
        ::sigaction(kEndingSignals[i], &sa, &g_previous[i]);
      }
      owns_signals_ = true;
    }
    Write("\x1b[?1049h\x1b[H\x1b[2J");
  }
  ~PosixTerminal() override {
    Write(kLeaveScreen);
    ::tcsetattr(in_, TCSADRAIN, &saved_);
    if (owns_signals_) {
      for (size_t i = 0; i < std::size(kEndingSignals); ++i) {
        ::sigaction(kEndingSignals[i], &g_previous[i], nullptr);
      }
      g_restore_in = -1;
    }
  }

  Key ReadKey() override;
  void Show(const Screen& screen) override;
  int Width() override { return Size().ws_col > 0 ? Size().ws_col : 80; }
  int Height() override { return Size().ws_row > 0 ? Size().ws_row : 24; }

 private:
  struct winsize Size() const {
    struct winsize ws {};
    if (::ioctl(out_, TIOCGWINSZ, &ws) != 0) ws = {};
    return ws;
  }
  void Write(std::string_view bytes) { WriteAll(out_, bytes); }  // a lost screen is redrawn
  // One byte of input; false at the end of input or when `timeout_ms` (>= 0)
  // passes without one.
  bool ReadByte(unsigned char& byte, int timeout_ms) {
    if (timeout_ms >= 0) {
      struct pollfd p {
        in_, POLLIN, 0
      };
      int r;
      do {
        r = ::poll(&p, 1, timeout_ms);
      } while (r < 0 && errno == EINTR);
      if (r <= 0) return false;
    }
    for (;;) {
      ssize_t n = ::read(in_, &byte, 1);
      if (n == 1) return true;
      if (n < 0 && errno == EINTR) continue;
      return false;
    }
  }
  Key Escape();

  int in_, out_;
  struct termios saved_;
  bool owns_signals_ = false;
};

Key PosixTerminal::Escape() {
  constexpr int kEscapeWaitMs = 40;
  unsigned char b;
  if (!ReadByte(b, kEscapeWaitMs)) return {Key::kEscape};
  if (b == '[' || b == 'O') {
    const bool ss3 = b == 'O';
    std::string params;
    unsigned char f;
    for (;;) {
      if (!ReadByte(f, kEscapeWaitMs)) return {Key::kEscape};
      if (f >= 0x40 && f <= 0x7E) break;
      params.push_back(static_cast<char>(f));
    }
    switch (f) {
      case 'A':
        return {Key::kUp};
      case 'B':
        return {Key::kDown};
      case 'C':
        return {Key::kRight};
      case 'D':
        return {Key::kLeft};
      case 'H':
        return {Key::kHome};
      case 'F':
        return {Key::kEnd};
      case 'Z':
        return {Key::kBackTab};
      case '~': {
        if (ss3) break;
        int n = std::atoi(params.c_str());
        if (n == 1 || n == 7) return {Key::kHome};
        if (n == 4 || n == 8) return {Key::kEnd};
        if (n == 3) return {Key::kDelete};
        if (n == 5) return {Key::kPageUp};
        if (n == 6) return {Key::kPageDown};
        break;
      }
      default:
        break;
    }
    return ReadKey();  // a key the dialogs do not use
  }
  if (b == 0x1B) return {Key::kEscape};
  if (b >= 0x20 && b < 0x7F) return {Key::kAlt, b};
  return {Key::kEscape};
}

Key PosixTerminal::ReadKey() {
  unsigned char b;
  if (!ReadByte(b, -1)) return {Key::kEof};
  switch (b) {
    case 0x1B:
      return Escape();
    case '\r':
    case '\n':
      return {Key::kEnter};
    case '\t':
      return {Key::kTab};
    case 0x7F:
    case 0x08:
      return {Key::kBackspace};
    case 0x03:
      return {Key::kCtrlC};
    case 0x15:
      return {Key::kCtrlU};
    default:
      break;
  }
  if (b < 0x20) return ReadKey();  // other control keys mean nothing here
  if (b < 0x80) return {Key::kChar, b};
  // UTF-8: the lead byte says how many continuation bytes follow.
  int more = (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
  if (more < 0) return {Key::kChar, 0xFFFD};
  char32_t c = b & (0x3F >> more);
  for (int i = 0; i < more; ++i) {
    unsigned char cont;
    if (!ReadByte(cont, 100) || (cont & 0xC0) != 0x80) return {Key::kChar, 0xFFFD};
    c = (c << 6) | (cont & 0x3F);
  }
  return {Key::kChar, c};
}

void PosixTerminal::Show(const Screen& screen) {
  std::string out = "\x1b[?25l";
  for (int y = 0; y < screen.height(); ++y) {
    out += "\x1b[" + std::to_string(y + 1) + ";1H\x1b[0m";
    uint8_t attr = Screen::kPlain;
    for (int x = 0; x < screen.width(); ++x) {
      uint8_t a = screen.AttrAt(x, y);
      if (a != attr) {
        out += "\x1b[0";
        if (a & Screen::kBold) out += ";1";
        if (a & Screen::kDim) out += ";2";
        if (a & Screen::kUnderline) out += ";4";
        if (a & Screen::kReverse) out += ";7";
        out += "m";
        attr = a;
      }
      AppendUtf8(out, screen.At(x, y));
    }
    out += "\x1b[0m\x1b[K";
  }
  if (screen.cursor_x() >= 0) {
    out += "\x1b[" + std::to_string(screen.cursor_y() + 1) + ";" +
           std::to_string(screen.cursor_x() + 1) + "H\x1b[?25h";
  }
  Write(out);
}

// The terminal that the dialog being shown on this thread uses, so that the
// prompts it opens draw on the same terminal.
thread_local TerminalIo* t_current = nullptr;

class TerminalLease {
 public:
  explicit TerminalLease(const TerminalDialogHost::Opener& open) {
    if (t_current) {
      io_ = t_current;
      return;
    }
    owned_ = open ? open() : OpenTerminal();
    io_ = owned_.get();
    t_current = io_;
  }
  ~TerminalLease() {
    if (owned_) t_current = nullptr;
  }
  TerminalLease(const TerminalLease&) = delete;
  TerminalLease& operator=(const TerminalLease&) = delete;
  TerminalIo* get() const { return io_; }

 private:
  std::unique_ptr<TerminalIo> owned_;
  TerminalIo* io_ = nullptr;
};

// A page of a prompt: a box with a title, and the help line below it.
struct Page {
  int width;
  int height;
};

Screen NewScreen(TerminalIo& io) {
  return Screen(std::max(20, io.Width()), std::max(5, io.Height()));
}

void DrawPage(Screen& s, const Page& page, std::u32string_view title, std::u32string_view help) {
  s.Box(0, 0, page.width, page.height, title);
  s.Put(1, page.height, help, Screen::kDim);
}

// "{value}" with "}" doubled when the value holds what a connect string
// cannot carry as it stands.
Text ConnectValue(TextView value) {
  bool plain = value.find_first_of(u";{}") == TextView::npos &&
               (value.empty() || (value.front() != u' ' && value.back() != u' '));
  if (plain) return Text(value);
  Text out = u"{";
  for (char16_t c : value) {
    out.push_back(c);
    if (c == u'}') out.push_back(u'}');
  }
  out.push_back(u'}');
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Screen

Screen::Screen(int width, int height)
    : width_(std::max(0, width)),
      height_(std::max(0, height)),
      cells_(static_cast<size_t>(width_) * static_cast<size_t>(height_), U' '),
      attrs_(cells_.size(), kPlain) {}

void Screen::Put(int x, int y, std::u32string_view text, uint8_t attr) {
  if (y < 0 || y >= height_) return;
  for (size_t i = 0; i < text.size(); ++i) {
    int cx = x + static_cast<int>(i);
    if (cx < 0 || cx >= width_) continue;
    size_t at = static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(cx);
    cells_[at] = text[i];
    attrs_[at] = attr;
  }
}

void Screen::Fill(int x, int y, int width, int height, char32_t ch) {
  for (int row = y; row < y + height; ++row) Put(x, row, std::u32string(std::max(0, width), ch));
}

void Screen::Box(int x, int y, int width, int height, std::u32string_view title) {
  if (width < 2 || height < 2) return;
  Fill(x, y, width, height);
  std::u32string edge = U"+" + std::u32string(static_cast<size_t>(width - 2), U'-') + U"+";
  Put(x, y, edge);
  Put(x, y + height - 1, edge);
  for (int row = y + 1; row < y + height - 1; ++row) {
    Put(x, row, U"|");
    Put(x + width - 1, row, U"|");
  }
  if (!title.empty()) {
    std::u32string t = U" " + std::u32string(title.substr(0, width > 6 ? width - 6 : 0)) + U" ";
    Put(x + 2, y, t, kBold);
  }
}

void Screen::SetAttr(int x, int y, int width, uint8_t attr) {
  if (y < 0 || y >= height_) return;
  for (int cx = std::max(0, x); cx < std::min(width_, x + width); ++cx) {
    attrs_[static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(cx)] |= attr;
  }
}

char32_t Screen::At(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return U' ';
  return cells_[static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)];
}

uint8_t Screen::AttrAt(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return kPlain;
  return attrs_[static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)];
}

std::string Screen::Line(int y) const {
  std::string out;
  int end = width_;
  while (end > 0 && At(end - 1, y) == U' ') --end;
  for (int x = 0; x < end; ++x) AppendUtf8(out, At(x, y));
  return out;
}

std::string Screen::Text() const {
  std::string out;
  for (int y = 0; y < height_; ++y) {
    if (y) out += '\n';
    out += Line(y);
  }
  return out;
}

std::unique_ptr<TerminalIo> OpenTerminal(int in_fd, int out_fd) {
  if (!::isatty(in_fd) || !::isatty(out_fd)) return nullptr;
  struct termios saved;
  if (::tcgetattr(in_fd, &saved) != 0) return nullptr;
  struct termios raw = saved;
  raw.c_iflag &= ~static_cast<tcflag_t>(BRKINT | ICRNL | INPCK | ISTRIP | IXON);
  raw.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  raw.c_cflag |= CS8;
  raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | IEXTEN | ISIG);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  // TCSANOW keeps keys typed ahead of the dialog.
  if (::tcsetattr(in_fd, TCSANOW, &raw) != 0) return nullptr;
  return std::make_unique<PosixTerminal>(in_fd, out_fd, saved);
}

// ---------------------------------------------------------------------------
// FormView

FormView::FormView(ModalForm& form) : form_(form) {}

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
    cursor_ = ToU32(cs[position].text).size();
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

void FormView::Click(const Control& c) { form_.Clicked({c.name, c.index}); }

void FormView::Select(const Control& c, int list_index) {
  form_.SelectionChanged({c.name, c.index}, list_index);
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
  LineEditor editor{ToU32(c->text), cursor_};
  if (!editor.Apply(key)) return;
  cursor_ = editor.cursor;
  Text changed = FromU32(editor.text);
  if (changed != c->text) form_.TextChanged({c->name, c->index}, changed);
}

void FormView::AccessKey(char32_t ch) {
  const auto& cs = form_.Controls();
  for (size_t i = 0; i < cs.size(); ++i) {
    const Control& c = cs[i];
    if (!c.enabled || !OnPage(c) || !IsShown(form_, c)) continue;
    Caption cap = ParseCaption(c.caption);
    if (cap.access < 0 || Upper32(cap.text[static_cast<size_t>(cap.access)]) != Upper32(ch)) {
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

void FormView::ListKey(const Key& key) {
  const Control* c = Focused();
  if (!c || c->kind != ControlKind::kComboBox) {
    list_open_ = false;
    return;
  }
  int count = static_cast<int>(c->list.size());
  switch (key.type) {
    case Key::kUp:
      highlight_ = std::max(0, highlight_ - 1);
      return;
    case Key::kDown:
      highlight_ = std::min(count - 1, highlight_ + 1);
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
      }
      return;
    default:
      return;
  }
}

void FormView::HandleKey(const Key& key) {
  EnsureFocus();
  if (list_open_) {
    ListKey(key);
    return;
  }
  auto press = [&](bool default_button) {
    for (const Control& c : form_.Controls()) {
      if ((default_button ? c.is_default : c.is_cancel) && c.enabled && IsShown(form_, c)) {
        Click(c);
        return true;
      }
    }
    return false;
  };
  switch (key.type) {
    case Key::kTab:
    case Key::kDown:
      MoveFocus(1);
      return;
    case Key::kBackTab:
    case Key::kUp:
      MoveFocus(-1);
      return;
    case Key::kPageDown:
      SwitchTab(1);
      return;
    case Key::kPageUp:
      SwitchTab(-1);
      return;
    case Key::kEscape:
      if (!press(false)) form_.CloseRequested();
      return;
    case Key::kCtrlC:
    case Key::kEof:
      form_.CloseRequested();
      return;
    case Key::kAlt:
      AccessKey(key.ch);
      return;
    default:
      break;
  }
  const Control* f = Focused();
  if (!f) {
    if (key.type == Key::kEnter) press(true);
    return;
  }
  const bool space = key.type == Key::kChar && key.ch == U' ';
  switch (f->kind) {
    case ControlKind::kTextBox:
    case ControlKind::kPasswordBox:
      if (key.type == Key::kEnter) {
        press(true);
      } else {
        EditText(key);
      }
      return;
    case ControlKind::kComboBox: {
      int count = static_cast<int>(f->list.size());
      if (key.type == Key::kEnter) {
        press(true);
      } else if (space) {
        list_open_ = count > 0;
        highlight_ = std::max(0, f->list_index);
      } else if (key.type == Key::kLeft && f->list_index > 0) {
        Select(*f, f->list_index - 1);
      } else if (key.type == Key::kRight && f->list_index + 1 < count) {
        Select(*f, f->list_index + 1);
      } else if (key.type == Key::kHome && count > 0) {
        Select(*f, 0);
      } else if (key.type == Key::kEnd && count > 0) {
        Select(*f, count - 1);
      } else if (key.type == Key::kChar && key.ch >= U'1' && key.ch <= U'9') {
        if (static_cast<int>(key.ch - U'1') < count) Select(*f, static_cast<int>(key.ch - U'1'));
      } else if (key.type == Key::kChar && count > 0) {
        // The next entry that begins with the letter typed.
        for (int i = 1; i <= count; ++i) {
          int at = (f->list_index + i + count) % count;
          std::u32string entry = ToU32(f->list[static_cast<size_t>(at)]);
          if (!entry.empty() && Upper32(entry[0]) == Upper32(key.ch)) {
            Select(*f, at);
            break;
          }
        }
      }
      return;
    }
    case ControlKind::kCheckBox:
    case ControlKind::kCommandButton:
      if (space || (key.type == Key::kEnter && f->kind == ControlKind::kCommandButton)) {
        Click(*f);
      } else if (key.type == Key::kEnter) {
        press(true);
      } else if (key.type == Key::kLeft || key.type == Key::kRight) {
        MoveFocus(key.type == Key::kRight ? 1 : -1);
      }
      return;
    case ControlKind::kOptionButton:
      if (space) {
        Click(*f);
      } else if (key.type == Key::kEnter) {
        press(true);
      } else if (key.type == Key::kLeft || key.type == Key::kRight) {
        // Arrows move through the group and select as they go.
        const auto& cs = form_.Controls();
        int step = key.type == Key::kRight ? 1 : -1;
        for (int at = static_cast<int>(focus_) + step; at >= 0 && at < static_cast<int>(cs.size());
             at += step) {
          const Control& o = cs[static_cast<size_t>(at)];
          if (o.kind == ControlKind::kOptionButton && o.container == f->container &&
              o.tab == f->tab && Focusable(o)) {
            FocusAt(static_cast<size_t>(at));
            Click(o);
            break;
          }
        }
      }
      return;
    case ControlKind::kTabControl:
      if (key.type == Key::kLeft || key.type == Key::kRight) {
        SwitchTab(key.type == Key::kRight ? 1 : -1);
      } else if (space) {
        SwitchTab(f->value + 1 < static_cast<int>(f->list.size()) ? 1 : -f->value);
      } else if (key.type == Key::kEnter) {
        press(true);
      }
      return;
    default:
      return;
  }
}

void FormView::DrawControl(Screen& s, const Control& c, int ox, int oy, bool focused) {
  const int x = ox + c.x;
  const int y = oy + c.y;
  const uint8_t dim = c.enabled ? Screen::kPlain : Screen::kDim;
  Caption cap = ParseCaption(c.caption);
  // Writes a caption at (cx, cy) with its access key underlined.
  auto caption_at = [&](int cx, int cy, int width) {
    s.Put(cx, cy, Fit(cap.text, width), dim);
    if (cap.access >= 0 && cap.access < width)
      s.SetAttr(cx + cap.access, cy, 1, Screen::kUnderline);
  };
  switch (c.kind) {
    case ControlKind::kLabel: {
      std::vector<std::u32string> lines = Wrap(cap.text, c.width);
      int underline_line = -1, underline_col = -1;
      if (cap.access >= 0) {
        // Find the access key's place among the wrapped lines.
        size_t seen = 0;
        for (size_t i = 0; i < lines.size(); ++i) {
          size_t start = cap.text.find(lines[i], seen);
          if (start != std::u32string::npos && static_cast<size_t>(cap.access) >= start &&
              static_cast<size_t>(cap.access) < start + lines[i].size()) {
            underline_line = static_cast<int>(i);
            underline_col = cap.access - static_cast<int>(start);
          }
          if (start != std::u32string::npos) seen = start + lines[i].size();
        }
      }
      for (int i = 0; i < c.height && i < static_cast<int>(lines.size()); ++i) {
        s.Put(x, y + i, lines[static_cast<size_t>(i)], dim);
      }
      if (underline_line >= 0 && underline_line < c.height) {
        s.SetAttr(x + underline_col, y + underline_line, 1, Screen::kUnderline);
      }
      return;
    }
    case ControlKind::kContainer:
      s.Fill(x, y, c.width, c.height);
      return;
    case ControlKind::kFrame:
      s.Box(x, y, c.width, c.height);
      if (!cap.text.empty()) {
        s.Put(x + 2, y, U" ");
        caption_at(x + 3, y, static_cast<int>(cap.text.size()));
        s.Put(x + 3 + static_cast<int>(cap.text.size()), y, U" ");
      }
      return;
    case ControlKind::kTabControl: {
      s.Box(x, y + 1, c.width, c.height - 1);
      int cx = x + 1;
      for (size_t i = 0; i < c.list.size(); ++i) {
        std::u32string label = ParseCaption(c.list[i]).text;
        bool selected = static_cast<int>(i) == c.value;
        std::u32string shown = selected ? U"[ " + label + U" ]" : U"  " + label + U"  ";
        s.Put(cx, y, shown, selected ? static_cast<uint8_t>(Screen::kBold) : dim);
        if (selected && focused) s.SetAttr(cx, y, static_cast<int>(shown.size()), Screen::kReverse);
        cx += static_cast<int>(shown.size()) + 1;
      }
      return;
    }
    case ControlKind::kTextBox:
    case ControlKind::kPasswordBox: {
      LineEditor editor{ToU32(c.text), focused ? cursor_ : 0};
      editor.Draw(s, x, y, c.width, c.kind == ControlKind::kPasswordBox, focused);
      return;
    }
    case ControlKind::kCheckBox:
    case ControlKind::kOptionButton: {
      std::u32string mark = c.kind == ControlKind::kCheckBox ? (c.value == kChecked  ? U"[x] "
                                                                : c.value == kGreyed ? U"[-] "
                                                                                     : U"[ ] ")
                                                             : (c.value ? U"(*) " : U"( ) ");
      s.Put(x, y, mark, dim);
      caption_at(x + 4, y, std::max(0, c.width - 4));
      if (focused) s.SetAttr(x, y, 4 + static_cast<int>(cap.text.size()), Screen::kReverse);
      return;
    }
    case ControlKind::kComboBox: {
      int inner = std::max(1, c.width - 4);
      s.Put(x, y, U"[" + Fit(ToU32(c.text), inner) + U" v]", dim);
      if (focused) s.SetAttr(x, y, c.width, Screen::kReverse);
      return;
    }
    case ControlKind::kCommandButton: {
      int inner = std::max(0, c.width - 2);
      int pad = std::max(0, (inner - static_cast<int>(cap.text.size())) / 2);
      s.Put(x, y, U"<" + std::u32string(static_cast<size_t>(inner), U' ') + U">", dim);
      caption_at(x + 1 + pad, y, std::min(inner, static_cast<int>(cap.text.size())));
      if (focused) s.SetAttr(x, y, c.width, Screen::kReverse);
      return;
    }
  }
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
  s.Box(0, 0, client_w + 4, client_h + 4, ToU32(form_.Caption()));
  s.HideCursor();
  const Control* focused = Focused();
  for (const Control& c : cs) {
    if (!OnPage(c) || !IsShown(form_, c)) continue;
    DrawControl(s, c, ox, oy, &c == focused);
  }
  s.Put(1, client_h + 4, kFormHelp, Screen::kDim);
  s.Put(1, client_h + 5, kFormEnterHelp, Screen::kDim);
  if (list_open_ && focused && focused->kind == ControlKind::kComboBox) {
    const Control& c = *focused;
    int x = ox + c.x, y = oy + c.y + 1;
    int rows = static_cast<int>(c.list.size());
    s.Box(x, y, c.width, rows + 2);
    for (int i = 0; i < rows; ++i) {
      std::u32string entry =
          U32(std::to_string(i + 1)) + U" " + ToU32(c.list[static_cast<size_t>(i)]);
      s.Put(x + 1, y + 1 + i, Fit(entry, c.width - 2),
            i == highlight_ ? Screen::kReverse : Screen::kPlain);
    }
  }
}

// ---------------------------------------------------------------------------
// Prompts

Text RunFileOpenPrompt(TerminalIo& io, const FileOpenRequest& request) {
  namespace fs = std::filesystem;
  // The first filter entry: its description and its patterns.
  std::vector<Text> parts;
  for (size_t pos = 0;;) {
    size_t bar = request.filter.find(u'|', pos);
    parts.push_back(request.filter.substr(pos, bar == Text::npos ? Text::npos : bar - pos));
    if (bar == Text::npos) break;
    pos = bar + 1;
  }
  Text description = parts.empty() ? Text() : parts[0];
  std::vector<std::string> patterns;
  if (parts.size() > 1) {
    std::string all = ToUtf8(parts[1]);
    for (size_t pos = 0;;) {
      size_t semi = all.find(';', pos);
      std::string p = all.substr(pos, semi == std::string::npos ? std::string::npos : semi - pos);
      if (!p.empty()) patterns.push_back(p);
      if (semi == std::string::npos) break;
      pos = semi + 1;
    }
  }

  LineEditor editor{ToU32(request.file_name), ToU32(request.file_name).size()};
  std::u32string message;
  auto expand = [](std::string path) {
    if (path == "~" || path.rfind("~/", 0) == 0) {
      if (const char* home = std::getenv("HOME")) path = std::string(home) + path.substr(1);
    }
    return path;
  };
  for (;;) {
    Screen s = NewScreen(io);
    Page page{std::min(s.width(), 76), 9};
    DrawPage(s, page, ToU32(request.title), U"Enter: open  Tab: complete  Esc: cancel");
    s.Put(2, 2, ToU32(description));
    s.Put(2, 4, U"File name:");
    editor.Draw(s, 13, 4, page.width - 15, false, true);
    std::vector<std::u32string> lines = Wrap(message, page.width - 4);
    for (size_t i = 0; i < lines.size() && i < 2; ++i) {
      s.Put(2, 6 + static_cast<int>(i), lines[i], Screen::kBold);
    }
    io.Show(s);

    Key key = io.ReadKey();
    if (key.type == Key::kEscape || key.type == Key::kCtrlC || key.type == Key::kEof) {
      return Text();
    }
    if (key.type == Key::kTab) {
      // Completes the last part of the path from the folder's entries.
      std::string typed = expand(ToUtf8(FromU32(editor.text)));
      size_t slash = typed.rfind('/');
      std::string dir = slash == std::string::npos ? "." : typed.substr(0, slash + 1);
      std::string stem = slash == std::string::npos ? typed : typed.substr(slash + 1);
      std::vector<std::string> matches;
      if (DIR* d = ::opendir(dir.c_str())) {
        while (struct dirent* e = ::readdir(d)) {
          std::string name = e->d_name;
          if (name == "." || name == "..") continue;
          if (name.rfind(stem, 0) == 0) matches.push_back(name);
        }
        ::closedir(d);
      }
      std::sort(matches.begin(), matches.end());
      if (matches.empty()) {
        message = U"No file or folder begins with that name.";
        continue;
      }
      std::string common = matches[0];
      for (const std::string& m : matches) {
        size_t n = 0;
        while (n < common.size() && n < m.size() && common[n] == m[n]) ++n;
        common.resize(n);
      }
      std::string completed = (slash == std::string::npos ? "" : dir) + common;
      std::error_code ec;
      if (matches.size() == 1 && fs::is_directory(completed, ec)) completed += "/";
      editor.text = U32(completed);
      editor.cursor = editor.text.size();
      message.clear();
      if (matches.size() > 1) {
        std::string list;
        for (size_t i = 0; i < matches.size() && i < 6; ++i) list += (i ? "  " : "") + matches[i];
        if (matches.size() > 6) list += "  ...";
        message = U32(list);
      }
      continue;
    }
    if (key.type != Key::kEnter) {
      editor.Apply(key);
      continue;
    }

    std::string typed = expand(ToUtf8(Trim(FromU32(editor.text))));
    if (typed.empty()) {
      message = U"Type the path of the file, or press Esc to cancel.";
      continue;
    }
    fs::path path(typed);
    if (!request.default_extension.empty() && !path.filename().empty() &&
        !path.filename().has_extension()) {
      path += "." + ToUtf8(request.default_extension);
    }
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec).lexically_normal();
    if (ec) absolute = path;
    std::string name = absolute.filename().string();
    if (fs::is_directory(absolute, ec)) {
      message = U32(absolute.string() + " is a folder: type the path of the file in it.");
      continue;
    }
    bool fits = patterns.empty();
    for (const std::string& p : patterns) fits = fits || ::fnmatch(p.c_str(), name.c_str(), 0) == 0;
    if (!fits) {
      // "Database file (mxza.max)" reads as "database file (mxza.max)" mid-sentence.
      std::string kind = ToUtf8(description);
      if (kind.size() > 1 && std::isupper(static_cast<unsigned char>(kind[0])) &&
          std::islower(static_cast<unsigned char>(kind[1]))) {
        kind[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(kind[0])));
      }
      message = U32("\"" + name + "\" is not a " + kind + ": choose the file named " +
                    ToUtf8(parts.size() > 1 ? parts[1] : Text()) + ".");
      continue;
    }
    if (!fs::exists(absolute, ec)) {
      message = U32("File not found: " + absolute.string());
      continue;
    }
    return FromUtf8(absolute.string());
  }
}

bool RunMessagePrompt(TerminalIo& io, TextView caption, TextView message, bool yes_no) {
  bool yes = false;  // No is the default button
  for (;;) {
    Screen s = NewScreen(io);
    const int width = std::min(s.width(), 64);
    std::vector<std::u32string> lines = Wrap(ToU32(message), width - 4);
    const int rows = static_cast<int>(lines.size());
    Page page{width, rows + 5};
    DrawPage(s, page, ToU32(caption),
             yes_no ? U"Y: yes  N or Esc: no  Tab: move  Enter: press the focused button"
                    : U"Enter or Esc: close");
    for (int i = 0; i < rows; ++i) s.Put(2, 2 + i, lines[static_cast<size_t>(i)]);
    const int y = rows + 3;
    if (yes_no) {
      s.Put(width - 23, y, U"<  Yes  >", yes ? Screen::kReverse : Screen::kPlain);
      s.Put(width - 12, y, U"<  No   >", yes ? Screen::kPlain : Screen::kReverse);
    } else {
      s.Put(width - 12, y, U"<  OK   >", Screen::kReverse);
    }
    io.Show(s);

    Key key = io.ReadKey();
    switch (key.type) {
      case Key::kEscape:
      case Key::kCtrlC:
      case Key::kEof:
        return false;
      case Key::kEnter:
        return yes_no && yes;
      case Key::kTab:
      case Key::kBackTab:
      case Key::kLeft:
      case Key::kRight:
        yes = yes_no && !yes;
        continue;
      case Key::kChar:
        if (key.ch == U' ') return yes_no && yes;
        if (yes_no && (key.ch == U'y' || key.ch == U'Y')) return true;
        if (yes_no && (key.ch == U'n' || key.ch == U'N')) return false;
        continue;
      default:
        continue;
    }
  }
}

std::optional<Text> RunDataSourcePrompt(TerminalIo& io,
                                        const std::vector<DataSourceChoice>& sources,
                                        const LoginCheck& check) {
  const std::u32string title = U"Select Data Source";
  int chosen = 0;
  std::string number;  // digits typed so far
  for (;;) {
    Screen s = NewScreen(io);
    int rows = static_cast<int>(sources.size());
    Page page{std::min(s.width(), 78), std::max(rows, 1) + 4};
    DrawPage(s, page, title,
             sources.empty() ? U"Enter or Esc: close"
                             : U"Up/Down or number: choose  Enter: select  Esc: cancel");
    if (sources.empty()) {
      s.Put(2, 2, U"No ODBC data sources are defined.");
    }
    size_t name_w = 4, driver_w = 6;
    for (const DataSourceChoice& d : sources) {
      name_w = std::max(name_w, ToU32(d.name).size());
      driver_w = std::max(driver_w, ToU32(d.driver).size());
    }
    for (int i = 0; i < rows && 2 + i < s.height() - 1; ++i) {
      const DataSourceChoice& d = sources[static_cast<size_t>(i)];
      std::u32string line = U32((i == chosen ? "> " : "  ") + std::to_string(i + 1) + "  ");
      line += Fit(ToU32(d.name), static_cast<int>(name_w)) + U"  ";
      line += Fit(ToU32(d.driver), static_cast<int>(driver_w)) + U"  ";
      line += d.system ? U"(system)  " : U"(user)    ";
      line += ToU32(d.description);
      s.Put(2, 2 + i, Fit(line, page.width - 4), i == chosen ? Screen::kReverse : Screen::kPlain);
    }
    io.Show(s);

    Key key = io.ReadKey();
    if (key.type == Key::kEscape || key.type == Key::kCtrlC || key.type == Key::kEof) {
      return std::nullopt;
    }
    if (sources.empty()) {
      if (key.type == Key::kEnter) return std::nullopt;
      continue;
    }
    if (key.type == Key::kUp || key.type == Key::kBackTab) {
      chosen = std::max(0, chosen - 1);
      number.clear();
    } else if (key.type == Key::kDown || key.type == Key::kTab) {
      chosen = std::min(rows - 1, chosen + 1);
      number.clear();
    } else if (key.type == Key::kChar && key.ch >= U'0' && key.ch <= U'9') {
      number.push_back(static_cast<char>(key.ch));
      int n = std::atoi(number.c_str());
      if (n < 1 || n > rows) {
        number = std::string(1, static_cast<char>(key.ch));
        n = std::atoi(number.c_str());
      }
      if (n >= 1 && n <= rows) chosen = n - 1;
    } else if (key.type == Key::kEnter) {
      break;
    }
  }

  // The login for the chosen source; both fields may stay empty. A login
  // the driver refuses keeps the page open with the driver's reason.
  const DataSourceChoice& source = sources[static_cast<size_t>(chosen)];
  LineEditor fields[2];
  int field = 0;
  std::u32string reason;
  auto draw = [&](std::u32string_view help) {
    Screen s = NewScreen(io);
    const int width = std::min(s.width(), 60);
    std::vector<std::u32string> lines = Wrap(reason, width - 4);
    if (lines.size() > 4) lines.resize(4);
    Page page{width, lines.empty() ? 7 : 8 + static_cast<int>(lines.size())};
    DrawPage(s, page, U"Login: " + ToU32(source.name), help);
    s.Put(2, 2, U"User:");
    s.Put(2, 4, U"Password:");
    fields[0].Draw(s, 13, 2, page.width - 15, false, field == 0);
    fields[1].Draw(s, 13, 4, page.width - 15, true, field == 1);
    for (size_t i = 0; i < lines.size(); ++i) {
      s.Put(2, 6 + static_cast<int>(i), lines[i], Screen::kBold);
    }
    io.Show(s);
  };
  for (;;) {
    draw(U"Enter: next / connect  Tab: move  Esc: cancel");

    Key key = io.ReadKey();
    switch (key.type) {
      case Key::kEscape:
      case Key::kCtrlC:
      case Key::kEof:
        return std::nullopt;
      case Key::kTab:
      case Key::kBackTab:
      case Key::kUp:
      case Key::kDown:
        field = 1 - field;
        continue;
      case Key::kEnter:
        if (field == 0) {
          field = 1;
          continue;
        }
        break;
      default:
        fields[field].Apply(key);
        continue;
    }
    Text connect = u"DSN=" + ConnectValue(source.name);
    Text user = FromU32(fields[0].text), password = FromU32(fields[1].text);
    if (!user.empty()) connect += u";UID=" + ConnectValue(user);
    if (!password.empty()) connect += u";PWD=" + ConnectValue(password);
    if (!check) return connect;
    draw(U"Connecting...");
    std::optional<Text> refused = check(connect);
    if (!refused) return connect;
    reason = U"Login failed: " + ToU32(*refused);
  }
}

std::optional<Text> PromptForDataSource(const std::vector<DataSourceChoice>& sources,
                                        const LoginCheck& check) {
  TerminalLease lease(nullptr);
  if (!lease.get()) return std::nullopt;
  return RunDataSourcePrompt(*lease.get(), sources, check);
}

// ---------------------------------------------------------------------------
// TerminalDialogHost

TerminalDialogHost::TerminalDialogHost(Opener open) : open_(std::move(open)) {}

void TerminalDialogHost::ShowModal(ModalForm& form) {
  try {
    TerminalLease lease(open_);
    TerminalIo* io = lease.get();
    if (!io) {
      form.CloseRequested();
      return;
    }
    FormView view(form);
    bool activated = false;
    while (!form.Closed()) {
      Screen s = NewScreen(*io);
      view.Draw(s);
      io->Show(s);
      if (!activated) {
        activated = true;
        form.Activated(0);
        continue;
      }
      view.HandleKey(io->ReadKey());
    }
  } catch (...) {
    // A terminal that fails mid-dialog ends it as Cancel.
    form.CloseRequested();
  }
}

Text TerminalDialogHost::ShowOpen(const FileOpenRequest& request) {
  try {
    TerminalLease lease(open_);
    if (!lease.get()) return Text();
    return RunFileOpenPrompt(*lease.get(), request);
  } catch (...) {
    return Text();
  }
}

void TerminalDialogHost::Tell(TextView caption, TextView message) {
  try {
    TerminalLease lease(open_);
    if (lease.get()) RunMessagePrompt(*lease.get(), caption, message, false);
  } catch (...) {
  }
}

bool TerminalDialogHost::AskYesNo(TextView caption, TextView question) {
  try {
    TerminalLease lease(open_);
    return lease.get() && RunMessagePrompt(*lease.get(), caption, question, true);
  } catch (...) {
    return false;
  }
}

PathKind TerminalDialogHost::KindOfPath(TextView path) {
  std::error_code ec;
  std::filesystem::file_status status = std::filesystem::status(ToUtf8(path), ec);
  if (ec || !std::filesystem::exists(status)) return PathKind::kNothing;
  return std::filesystem::is_directory(status) ? PathKind::kFolder : PathKind::kFile;
}

}  // namespace pellory
