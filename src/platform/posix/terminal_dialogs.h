// The dialog host of the POSIX build: a full-screen form on the terminal
// (raw mode, alternate screen), driven by the keyboard:
//   Tab / Down, Shift+Tab / Up   move between controls
//   Space                         tick a check box, select an option, press a button,
//                                 open a list (then Up / Down and Enter, or its number)
//   Left / Right                  pick the previous or next entry of a list, move in a text,
//                                 switch tabs on the tab strip (PageUp / PageDown anywhere)
//   Enter                         press the focused button, else press OK
//   Esc                           press Cancel (Ctrl+C closes the dialog the same way)
//   Alt+letter                    the control whose caption underlines that letter
//   1 to 9                        pick that entry of the focused list
// Without a terminal on standard input and output every dialog closes as
// Cancel at once, the file-open dialog and the data-source prompt as
// cancelled prompts, and a question is answered No.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dialog_host.h"

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
// open, both restored when it closes. Null when `in_fd` or `out_fd` is not a
// terminal.
std::unique_ptr<TerminalIo> OpenTerminal(int in_fd = 0, int out_fd = 1);

// Draws a form and turns keys into the form's events.
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
  void EditText(const Key& key);
  void AccessKey(char32_t ch);
  void SwitchTab(int step);
  void ListKey(const Key& key);
  void DrawControl(Screen& screen, const Control& c, int ox, int oy, bool focused);

  ModalForm& form_;
  size_t focus_ = 0;
  bool has_focus_ = false;
  size_t cursor_ = 0;       // in the focused text box, in characters
  bool list_open_ = false;  // the focused combo box shows its entries
  int highlight_ = 0;       // the entry highlighted in the open list
};

// One data source offered by the data-source prompt.
struct DataSourceChoice {
  Text name;
  Text driver;
  Text description;
  bool system = false;  // a data source of the whole machine
};

// Tries a login with a connect string: nullopt when the data source
// accepts it, else the reason it gave.
using LoginCheck = std::function<std::optional<Text>(TextView connect)>;

// The data-source prompt: lists the data sources with their drivers, lets
// the person pick one (arrows or its number) and asks for a user and a
// password (both may be left empty). Returns the connect string to complete,
// such as "DSN=Sales;UID=jane;PWD=secret", or nullopt when cancelled. With
// `check`, a login that fails keeps the login page open with the reason, so
// that the person can correct it or cancel.
std::optional<Text> RunDataSourcePrompt(TerminalIo& io,
                                        const std::vector<DataSourceChoice>& sources,
                                        const LoginCheck& check = nullptr);
// The same on the terminal of the dialog being shown, or on the process's
// terminal; nullopt without one.
std::optional<Text> PromptForDataSource(const std::vector<DataSourceChoice>& sources,
                                        const LoginCheck& check = nullptr);
// The prompt function for a database adapter whose data-source list has
// fields name, driver, description and system.
template <typename Info>
std::optional<Text> TerminalDataSourcePrompt(const std::vector<Info>& sources,
                                             const LoginCheck& check = nullptr) {
  std::vector<DataSourceChoice> choices;
  choices.reserve(sources.size());
  for (const Info& s : sources) choices.push_back({s.name, s.driver, s.description, s.system});
  return PromptForDataSource(choices, check);
}

// A message page with an OK button (`yes_no` false, gives false), or a
// question with Yes and No, No focused first: true for Yes. Y and N answer
// at once; Esc is No.
bool RunMessagePrompt(TerminalIo& io, TextView caption, TextView message, bool yes_no);

// The file-open prompt: asks for a path, refuses a name that does not fit the
// request's filter or a file that does not exist, and returns the file's
// absolute path, or the empty text when cancelled.
Text RunFileOpenPrompt(TerminalIo& io, const FileOpenRequest& request);

class TerminalDialogHost : public DialogHost {
 public:
  using Opener = std::function<std::unique_ptr<TerminalIo>()>;
  // `open` gives the terminal for a dialog; by default the process's own.
  explicit TerminalDialogHost(Opener open = nullptr);
  void ShowModal(ModalForm& form) override;
  Text ShowOpen(const FileOpenRequest& request) override;
  void Tell(TextView caption, TextView message) override;
  bool AskYesNo(TextView caption, TextView question) override;
  PathKind KindOfPath(TextView path) override;

 private:
  Opener open_;
};

}  // namespace pellory
