#include "platform/posix/terminal.h"

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iterator>

#include "platform/files.h"
#include "platform/text.h"

namespace pellory {

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
  int end = width_;
  while (end > 0 && At(end - 1, y) == U' ') --end;
  std::u32string row;
  for (int x = 0; x < end; ++x) row.push_back(At(x, y));
  return ToUtf8(FromUtf32(row));
}

std::string Screen::Text() const {
  std::string out;
  for (int y = 0; y < height_; ++y) {
    if (y) out += '\n';
    out += Line(y);
  }
  return out;
}

Screen NewScreen(TerminalIo& io) {
  return Screen(std::max(20, io.Width()), std::max(5, io.Height()));
}

// ---------------------------------------------------------------------------
// The terminal of the process

namespace {

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

// The escape sequence that selects the cell attributes `attr`.
std::string AttrSequence(uint8_t attr) {
  std::string out = "\x1b[0";
  if (attr & Screen::kBold) out += ";1";
  if (attr & Screen::kDim) out += ";2";
  if (attr & Screen::kUnderline) out += ";4";
  if (attr & Screen::kReverse) out += ";7";
  return out + "m";
}

class PosixTerminal : public TerminalIo {
 public:
  PosixTerminal(int in, int out, const struct termios& saved);
  ~PosixTerminal() override;

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
  bool ReadByte(unsigned char& byte, int timeout_ms);
  Key Escape();
  Key Utf8Char(unsigned char lead);

  int in_, out_;
  struct termios saved_;
  bool owns_signals_ = false;
};

PosixTerminal::PosixTerminal(int in, int out, const struct termios& saved)
    : in_(in), out_(out), saved_(saved) {
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

PosixTerminal::~PosixTerminal() {
  Write(kLeaveScreen);
  ::tcsetattr(in_, TCSADRAIN, &saved_);
  if (owns_signals_) {
    for (size_t i = 0; i < std::size(kEndingSignals); ++i) {
      ::sigaction(kEndingSignals[i], &g_previous[i], nullptr);
    }
    g_restore_in = -1;
  }
}

// One byte of input; false at the end of input or when `timeout_ms` (>= 0)
// passes without one.
bool PosixTerminal::ReadByte(unsigned char& byte, int timeout_ms) {
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

// A character typed as UTF-8: the lead byte says how many continuation
// bytes follow.
Key PosixTerminal::Utf8Char(unsigned char lead) {
  int more = (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : (lead & 0xF8) == 0xF0 ? 3 : -1;
  if (more < 0) return {Key::kChar, 0xFFFD};
  char32_t c = lead & (0x3F >> more);
  for (int i = 0; i < more; ++i) {
    unsigned char cont;
    if (!ReadByte(cont, 100) || (cont & 0xC0) != 0x80) return {Key::kChar, 0xFFFD};
    c = (c << 6) | (cont & 0x3F);
  }
  return {Key::kChar, c};
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
  return Utf8Char(b);
}

void PosixTerminal::Show(const Screen& screen) {
  std::string out = "\x1b[?25l";
  for (int y = 0; y < screen.height(); ++y) {
    out += "\x1b[" + std::to_string(y + 1) + ";1H\x1b[0m";
    uint8_t attr = Screen::kPlain;
    std::u32string run;  // cells of the attributes in force
    for (int x = 0; x < screen.width(); ++x) {
      const uint8_t a = screen.AttrAt(x, y);
      if (a != attr) {
        out += ToUtf8(FromUtf32(run)) + AttrSequence(a);
        run.clear();
        attr = a;
      }
      run.push_back(screen.At(x, y));
    }
    out += ToUtf8(FromUtf32(run)) + "\x1b[0m\x1b[K";
  }
  if (screen.cursor_x() >= 0) {
    out += "\x1b[" + std::to_string(screen.cursor_y() + 1) + ";" +
           std::to_string(screen.cursor_x() + 1) + "H\x1b[?25h";
  }
  Write(out);
}

// The terminal that the dialog being shown on this thread uses.
thread_local TerminalIo* t_current = nullptr;

}  // namespace

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

TerminalLease::TerminalLease(const TerminalOpener& open) {
  if (t_current) {
    io_ = t_current;
    return;
  }
  owned_ = open ? open() : OpenTerminal();
  io_ = owned_.get();
  t_current = io_;
}

TerminalLease::~TerminalLease() {
  if (owned_) t_current = nullptr;
}

}  // namespace pellory
