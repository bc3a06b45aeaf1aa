// The terminal as the dialogs use it: key presses, a grid of character
// cells, the process's terminal in raw mode on the alternate screen, and the
// lease that lets the prompts a dialog opens draw on the dialog's terminal.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pellory {

// A key press, decoded from the terminal's input.
struct Key {
  enum Type {
    kChar,  // `ch` holds the character
    kAlt,   // Alt (or Esc) with the character `ch`
    kEnter,
    kEscape,
    kTab,
    kBackTab,
    kUp,
    kDown,
    kLeft,
    kRight,
    kHome,
    kEnd,
    kPageUp,
    kPageDown,
    kBackspace,
    kDelete,
    kCtrlC,
    kCtrlU,
    kEof,  // the terminal has gone
  };
  Type type = kEof;
  char32_t ch = 0;
};

// A grid of character cells with their attributes, and the cursor.
class Screen {
 public:
  enum Attr : uint8_t { kPlain = 0, kReverse = 1, kUnderline = 2, kDim = 4, kBold = 8 };
  Screen(int width, int height);
  int width() const { return width_; }
  int height() const { return height_; }
  // Writes `text` from (x, y) on; cells outside the grid are dropped.
  void Put(int x, int y, std::u32string_view text, uint8_t attr = kPlain);
  void Fill(int x, int y, int width, int height, char32_t ch = U' ');
  void Box(int x, int y, int width, int height, std::u32string_view title = {});
  void SetAttr(int x, int y, int width, uint8_t attr);
  char32_t At(int x, int y) const;
  uint8_t AttrAt(int x, int y) const;
  // Row `y` as UTF-8, trailing blanks removed.
  std::string Line(int y) const;
  std::string Text() const;  // all rows joined by "\n"
  void SetCursor(int x, int y) { cursor_x_ = x, cursor_y_ = y; }
  void HideCursor() { cursor_x_ = cursor_y_ = -1; }
  int cursor_x() const { return cursor_x_; }
  int cursor_y() const { return cursor_y_; }

 private:
  int width_, height_;
  std::vector<char32_t> cells_;
  std::vector<uint8_t> attrs_;
  int cursor_x_ = -1, cursor_y_ = -1;
};

// The terminal as the views use it.
class TerminalIo {
 public:
  virtual ~TerminalIo() = default;
  virtual Key ReadKey() = 0;
  virtual void Show(const Screen& screen) = 0;
  virtual int Width() = 0;
  virtual int Height() = 0;
};

// The process's terminal: raw mode and the alternate screen while it is
// open, both restored when it closes (and when a signal ends the process).
// Null when `in_fd` or `out_fd` is not a terminal.
std::unique_ptr<TerminalIo> OpenTerminal(int in_fd = 0, int out_fd = 1);

// Opens the terminal for a dialog; null when there is none.
using TerminalOpener = std::function<std::unique_ptr<TerminalIo>()>;

// The terminal a dialog draws on: the one of the dialog being shown on this
// thread, so that the prompts it opens draw on the same terminal; else one
// opened with `open` (the process's own when empty), current on this thread
// while the lease lasts. get() is null without a terminal.
class TerminalLease {
 public:
  explicit TerminalLease(const TerminalOpener& open);
  ~TerminalLease();
  TerminalLease(const TerminalLease&) = delete;
  TerminalLease& operator=(const TerminalLease&) = delete;
  TerminalIo* get() const { return io_; }

 private:
  std::unique_ptr<TerminalIo> owned_;
  TerminalIo* io_ = nullptr;
};

// A blank screen of the terminal's size, at least 20 by 5 cells.
Screen NewScreen(TerminalIo& io);

}  // namespace pellory
