// The prompts of the terminal dialogs: the file-open prompt, the message
// and question pages, and the data-source prompt.
#include <dirent.h>
#include <fnmatch.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "dialogs/frm_data_source.h"
#include "platform/posix/terminal_dialogs.h"
#include "platform/posix/terminal_widgets.h"

namespace pellory {
namespace {

namespace fs = std::filesystem;
using terminal::Fit;
using terminal::LineEditor;
using terminal::Wrap;

// A page of a prompt: a box with a title, and the help line below it.
struct Page {
  int width;
  int height;
};

void DrawPage(Screen& s, const Page& page, std::u32string_view title, std::u32string_view help) {
  s.Box(0, 0, page.width, page.height, title);
  s.Put(1, page.height, help, Screen::kDim);
}

bool Cancels(const Key& key) {
  return key.type == Key::kEscape || key.type == Key::kCtrlC || key.type == Key::kEof;
}

std::u32string U32(std::string_view utf8) { return ToUtf32(FromUtf8(utf8)); }

// ---------------------------------------------------------------------------
// The file-open prompt

// The first entry of a request's filter: "Database file (mxza.max)" and the
// patterns "mxza.max" (several are joined by ";").
struct FileFilter {
  Text description;
  Text pattern_text;
  std::vector<std::string> patterns;
};

FileFilter FirstFilter(TextView filter) {
  std::vector<Text> parts;
  for (size_t pos = 0;;) {
    size_t bar = filter.find(u'|', pos);
    parts.emplace_back(filter.substr(pos, bar == Text::npos ? Text::npos : bar - pos));
    if (bar == Text::npos) break;
    pos = bar + 1;
  }
  FileFilter out;
  out.description = parts[0];
  if (parts.size() < 2) return out;
  out.pattern_text = parts[1];
  const std::string all = ToUtf8(parts[1]);
  for (size_t pos = 0;;) {
    size_t semi = all.find(';', pos);
    std::string p = all.substr(pos, semi == std::string::npos ? std::string::npos : semi - pos);
    if (!p.empty()) out.patterns.push_back(p);
    if (semi == std::string::npos) break;
    pos = semi + 1;
  }
  return out;
}

std::string ExpandHome(std::string path) {
  if (path == "~" || path.rfind("~/", 0) == 0) {
    if (const char* home = std::getenv("HOME")) path = std::string(home) + path.substr(1);
  }
  return path;
}

// Completes the last part of the typed path from its folder's entries; the
// message to show (the names that fit, when several do).
std::u32string CompletePath(LineEditor& editor) {
  const std::string typed = ExpandHome(ToUtf8(FromUtf32(editor.text)));
  const size_t slash = typed.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : typed.substr(0, slash + 1);
  const std::string stem = slash == std::string::npos ? typed : typed.substr(slash + 1);
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
  if (matches.empty()) return U"No file or folder begins with that name.";
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
  if (matches.size() == 1) return std::u32string();
  std::string list;
  for (size_t i = 0; i < matches.size() && i < 6; ++i) list += (i ? "  " : "") + matches[i];
  if (matches.size() > 6) list += "  ...";
  return U32(list);
}

// Why `name` is not a file of the filter's kind.
std::u32string WrongKind(const std::string& name, const FileFilter& filter) {
  // "Database file (mxza.max)" reads as "database file (mxza.max)" mid-sentence.
  std::string kind = ToUtf8(filter.description);
  if (kind.size() > 1 && std::isupper(static_cast<unsigned char>(kind[0])) &&
      std::islower(static_cast<unsigned char>(kind[1]))) {
    kind[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(kind[0])));
  }
  return U32("\"" + name + "\" is not a " + kind + ": choose the file named " +
             ToUtf8(filter.pattern_text) + ".");
}

// The absolute path of the file that the typed text names, when the request
// takes it; else nullopt with the reason in `message`.
std::optional<fs::path> ChosenFile(const std::u32string& text, const FileOpenRequest& request,
                                   const FileFilter& filter, std::u32string* message) {
  const std::string typed = ExpandHome(ToUtf8(Trim(FromUtf32(text))));
  if (typed.empty()) {
    *message = U"Type the path of the file, or press Esc to cancel.";
    return std::nullopt;
  }
  fs::path path(typed);
  if (!request.default_extension.empty() && !path.filename().empty() &&
      !path.filename().has_extension()) {
    path += "." + ToUtf8(request.default_extension);
  }
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec).lexically_normal();
  if (ec) absolute = path;
  const std::string name = absolute.filename().string();
  if (fs::is_directory(absolute, ec)) {
    *message = U32(absolute.string() + " is a folder: type the path of the file in it.");
    return std::nullopt;
  }
  bool fits = filter.patterns.empty();
  for (const std::string& p : filter.patterns) {
    fits = fits || ::fnmatch(p.c_str(), name.c_str(), 0) == 0;
  }
  if (!fits) {
    *message = WrongKind(name, filter);
    return std::nullopt;
  }
  if (!fs::exists(absolute, ec)) {
    *message = U32("File not found: " + absolute.string());
    return std::nullopt;
  }
  return absolute;
}

void DrawFileOpenPage(TerminalIo& io, const FileOpenRequest& request, const FileFilter& filter,
                      const LineEditor& editor, const std::u32string& message) {
  Screen s = NewScreen(io);
  Page page{std::min(s.width(), 76), 9};
  DrawPage(s, page, ToUtf32(request.title), U"Enter: open  Tab: complete  Esc: cancel");
  s.Put(2, 2, ToUtf32(filter.description));
  s.Put(2, 4, U"File name:");
  editor.Draw(s, 13, 4, page.width - 15, false, true);
  std::vector<std::u32string> lines = Wrap(message, page.width - 4);
  for (size_t i = 0; i < lines.size() && i < 2; ++i) {
    s.Put(2, 6 + static_cast<int>(i), lines[i], Screen::kBold);
  }
  io.Show(s);
}

// ---------------------------------------------------------------------------
// The data-source prompt

// The list page: one row per source with its number, driver, kind and
// description; the chosen one highlighted.
void DrawSourceList(TerminalIo& io, const std::vector<DataSourceInfo>& sources, int chosen) {
  Screen s = NewScreen(io);
  const int rows = static_cast<int>(sources.size());
  Page page{std::min(s.width(), 78), std::max(rows, 1) + 4};
  DrawPage(s, page, ToUtf32(kSelectDataSourceCaption),
           sources.empty() ? U"Enter or Esc: close"
                           : U"Up/Down or number: choose  Enter: select  Esc: cancel");
  if (sources.empty()) s.Put(2, 2, U"No ODBC data sources are defined.");
  size_t name_w = 4, driver_w = 6;
  for (const DataSourceInfo& d : sources) {
    name_w = std::max(name_w, ToUtf32(d.name).size());
    driver_w = std::max(driver_w, ToUtf32(d.driver).size());
  }
  for (int i = 0; i < rows && 2 + i < s.height() - 1; ++i) {
    const DataSourceInfo& d = sources[static_cast<size_t>(i)];
    std::u32string line = U32((i == chosen ? "> " : "  ") + std::to_string(i + 1) + "  ");
    line += Fit(ToUtf32(d.name), static_cast<int>(name_w)) + U"  ";
    line += Fit(ToUtf32(d.driver), static_cast<int>(driver_w)) + U"  ";
    line += d.system ? U"(system)  " : U"(user)    ";
    line += ToUtf32(d.description);
    s.Put(2, 2 + i, Fit(line, page.width - 4), i == chosen ? Screen::kReverse : Screen::kPlain);
  }
  io.Show(s);
}

// The list page until a source is chosen: its place, or nullopt when the
// person cancels (or closes a page that lists none).
std::optional<int> ChooseDataSource(TerminalIo& io, const std::vector<DataSourceInfo>& sources) {
  const int rows = static_cast<int>(sources.size());
  int chosen = 0;
  std::string number;  // digits typed so far
  for (;;) {
    DrawSourceList(io, sources, chosen);
    const Key key = io.ReadKey();
    if (Cancels(key) || (sources.empty() && key.type == Key::kEnter)) return std::nullopt;
    if (sources.empty()) continue;
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
      return chosen;
    }
  }
}

// The login page: a user and a password (both may stay empty), and why the
// last login failed.
struct LoginPage {
  std::u32string title;
  LineEditor fields[2];
  int field = 0;
  std::u32string reason;

  void Draw(TerminalIo& io, std::u32string_view help) const {
    Screen s = NewScreen(io);
    const int width = std::min(s.width(), 60);
    std::vector<std::u32string> lines = Wrap(reason, width - 4);
    if (lines.size() > 4) lines.resize(4);
    Page page{width, lines.empty() ? 7 : 8 + static_cast<int>(lines.size())};
    DrawPage(s, page, title, help);
    s.Put(2, 2, U"User:");
    s.Put(2, 4, U"Password:");
    fields[0].Draw(s, 13, 2, page.width - 15, false, field == 0);
    fields[1].Draw(s, 13, 4, page.width - 15, true, field == 1);
    for (size_t i = 0; i < lines.size(); ++i) {
      s.Put(2, 6 + static_cast<int>(i), lines[i], Screen::kBold);
    }
    io.Show(s);
  }

  // Edits the fields with `key`; true when the person asks to connect.
  bool Submitted(const Key& key) {
    switch (key.type) {
      case Key::kTab:
      case Key::kBackTab:
      case Key::kUp:
      case Key::kDown:
        field = 1 - field;
        return false;
      case Key::kEnter:
        if (field == 1) return true;
        field = 1;
        return false;
      default:
        fields[field].Apply(key);
        return false;
    }
  }
};

// The login page for the source selected in `form`, until the form takes a
// login (its OK closes it) or the person cancels. A login the form's check
// refuses keeps the page open with the reason.
std::optional<Text> LogIn(TerminalIo& io, DataSourceForm& form, const DataSourceInfo& source,
                          bool checked) {
  LoginPage page;
  page.title = U"Login: " + ToUtf32(source.name);
  for (;;) {
    page.Draw(io, U"Enter: next / connect  Tab: move  Esc: cancel");
    const Key key = io.ReadKey();
    if (Cancels(key)) return std::nullopt;
    if (!page.Submitted(key)) continue;
    form.TextChanged({u"User", -1}, FromUtf32(page.fields[0].text));
    form.TextChanged({u"Pwd", -1}, FromUtf32(page.fields[1].text));
    if (checked) page.Draw(io, U"Connecting...");
    form.Clicked({u"OK", -1});
    if (form.Closed()) return form.result();
    page.reason = ToUtf32(form.failure());
  }
}

}  // namespace

Text RunFileOpenPrompt(TerminalIo& io, const FileOpenRequest& request) {
  const FileFilter filter = FirstFilter(request.filter);
  LineEditor editor{ToUtf32(request.file_name), ToUtf32(request.file_name).size()};
  std::u32string message;
  for (;;) {
    DrawFileOpenPage(io, request, filter, editor, message);
    const Key key = io.ReadKey();
    if (Cancels(key)) return Text();
    if (key.type == Key::kTab) {
      message = CompletePath(editor);
    } else if (key.type != Key::kEnter) {
      editor.Apply(key);
    } else if (std::optional<fs::path> file = ChosenFile(editor.text, request, filter, &message)) {
      return FromUtf8(file->string());
    }
  }
}

bool RunMessagePrompt(TerminalIo& io, TextView caption, TextView message, bool yes_no) {
  bool yes = false;  // No is the default button
  for (;;) {
    Screen s = NewScreen(io);
    const int width = std::min(s.width(), 64);
    std::vector<std::u32string> lines = Wrap(ToUtf32(message), width - 4);
    const int rows = static_cast<int>(lines.size());
    Page page{width, rows + 5};
    DrawPage(s, page, ToUtf32(caption),
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

std::optional<Text> RunDataSourcePrompt(TerminalIo& io, const std::vector<DataSourceInfo>& sources,
                                        const LoginCheck& check) {
  DataSourceForm form(sources, check);
  const std::optional<int> chosen = ChooseDataSource(io, form.sources());
  if (!chosen) return std::nullopt;
  form.SelectionChanged({u"Source", -1}, *chosen);
  return LogIn(io, form, form.sources()[static_cast<size_t>(*chosen)], static_cast<bool>(check));
}

std::optional<Text> PromptForDataSource(const std::vector<DataSourceInfo>& sources,
                                        const LoginCheck& check) {
  TerminalLease lease(nullptr);
  if (!lease.get()) return std::nullopt;
  return RunDataSourcePrompt(*lease.get(), sources, check);
}

}  // namespace pellory
