// The native dialogs as a person meets them: Session::Configure runs the
// real dialog on the main thread while a second thread finds it by its
// caption and works it with window messages only.
//   win32_dialogs_test [SHOT_FOLDER]
// With SHOT_FOLDER, each case asks for a screenshot before it presses OK:
// it writes NAME.ready there and waits for NAME.done (the test script takes
// the picture of the X screen meanwhile).
#include <windows.h>

#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "assembly.h"
#include "platform/win32/win32_data_source_prompt.h"
#include "platform/win32/win32_dialog_host.h"
#include "support/fake_env.h"

namespace pellory::testing {
namespace {

int g_failures = 0;
std::string g_shots;

#define CHECK(cond)                                                        \
  do {                                                                     \
    if (!(cond)) {                                                         \
      std::printf("%s:%d: CHECK failed: %s\n", __FILE__, __LINE__, #cond); \
      ++g_failures;                                                        \
    }                                                                      \
  } while (0)

void CheckText(const Text& got, const Text& want, int line) {
  if (got == want) return;
  std::printf("line %d: got  %s\n         want %s\n", line, U8(got).c_str(), U8(want).c_str());
  ++g_failures;
}
#define CHECK_TEXT(got, want) CheckText((got), (want), __LINE__)

// The desktop's z-order call, recorded and carried out.
class RecordingDesktop : public EmptyDesktop {
 public:
  void SetTopmost(WindowHandle window, bool topmost) override {
    activated.push_back(window);
    SetWindowPos(reinterpret_cast<HWND>(window), topmost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0,
                 0, SWP_NOMOVE | SWP_NOSIZE);
  }
  std::vector<WindowHandle> activated;
};

class NativeEnv : public FakeEnv {
 public:
  NativeEnv() {
    auto desktop = std::make_unique<RecordingDesktop>();
    recorder = desktop.get();
    window_system = std::move(desktop);
    database_engines = std::make_unique<OdbcEngines>(Win32DataSourcePrompt);
  }
  DialogHost& dialogs() override { return host; }
  Win32DialogHost host;
  RecordingDesktop* recorder = nullptr;
};

// ---------------------------------------------------------------------------
// The person at the dialog: window messages from another thread.

HWND WaitWindow(const wchar_t* caption, int ms = 15000) {
  for (int waited = 0; waited < ms; waited += 25) {
    HWND h = FindWindowW(nullptr, caption);
    if (h && IsWindowVisible(h)) return h;
    Sleep(25);
  }
  std::printf("no window \"%ls\"\n", caption);
  ++g_failures;
  return nullptr;
}

bool WaitGone(HWND window, int ms = 10000) {
  for (int waited = 0; waited < ms; waited += 25) {
    if (!IsWindow(window)) return true;
    Sleep(25);
  }
  return false;
}

// The nth child (from 0, in tab order) of that window class.
HWND Child(HWND dialog, const wchar_t* cls, int nth) {
  HWND h = nullptr;
  for (int i = 0; i <= nth; ++i) {
    h = FindWindowExW(dialog, h, cls, nullptr);
    if (!h) break;
  }
  if (!h) {
    std::printf("no %ls #%d\n", cls, nth);
    ++g_failures;
  }
  return h;
}

HWND Button(HWND dialog, const wchar_t* caption) {
  HWND h = FindWindowExW(dialog, nullptr, WC_BUTTONW, caption);
  if (!h) {
    std::printf("no button \"%ls\"\n", caption);
    ++g_failures;
  }
  return h;
}

void Click(HWND button) { SendMessageW(button, BM_CLICK, 0, 0); }

void Type(HWND edit, const wchar_t* text) {
  SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
  SendMessageW(GetParent(edit), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(edit), EN_CHANGE),
               reinterpret_cast<LPARAM>(edit));
}

void Pick(HWND combo, int index) {
  SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendMessageW(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(combo));
}

void ShowTab(HWND tabs, int index) {
  SendMessageW(tabs, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
  NMHDR header = {tabs, static_cast<UINT_PTR>(GetDlgCtrlID(tabs)),
                  static_cast<UINT>(TCN_SELCHANGE)};
  SendMessageW(GetParent(tabs), WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
}

Text TextOf(HWND window) {
  wchar_t buffer[512] = {0};
  GetWindowTextW(window, buffer, 512);
  return Text(reinterpret_cast<const char16_t*>(buffer));
}

bool Checked(HWND button) { return SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED; }

// The texts of a window's static controls, joined by blanks.
Text StaticTexts(HWND window) {
  Text all;
  for (HWND h = FindWindowExW(window, nullptr, WC_STATICW, nullptr); h;
       h = FindWindowExW(window, h, WC_STATICW, nullptr)) {
    if (!IsWindowVisible(h)) continue;
    Text t = TextOf(h);
    if (t.empty()) continue;
    if (!all.empty()) all += u' ';
    all += t;
  }
  return all;
}

bool Contains(const Text& text, const char16_t* part) { return text.find(part) != Text::npos; }

// The message box that `owner` shows (a dialog window it owns).
HWND WaitMessageBox(HWND owner, int ms = 15000) {
  for (int waited = 0; waited < ms; waited += 25) {
    for (HWND h = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); h;
         h = FindWindowExW(nullptr, h, L"#32770", nullptr)) {
      if (h != owner && GetWindow(h, GW_OWNER) == owner && IsWindowVisible(h)) return h;
    }
    Sleep(25);
  }
  std::printf("no message box\n");
  ++g_failures;
  return nullptr;
}

// Answers the message box that `owner` shows with `button` (IDOK, IDYES,
// IDNO) after checking its caption and that its text holds `part`; waits
// until the owner takes input again.
void Answer(HWND owner, int button, const char16_t* part) {
  HWND box = WaitMessageBox(owner);
  if (!box) return;
  CHECK_TEXT(TextOf(box), u"Maximizer Configuration");
  const Text text = StaticTexts(box);
  if (!Contains(text, part)) CHECK_TEXT(text, part);
  PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(button), 0);
  CHECK(WaitGone(box));
  for (int i = 0; i < 200 && !IsWindowEnabled(owner); ++i) Sleep(25);
  CHECK(IsWindowEnabled(owner));
}

void Shot(const char* name) {
  if (g_shots.empty()) return;
  const std::string base = g_shots + "\\" + name;
  std::ofstream(base + ".ready") << name;
  for (int waited = 0; waited < 30000; waited += 50) {
    if (GetFileAttributesA((base + ".done").c_str()) != INVALID_FILE_ATTRIBUTES) return;
    Sleep(50);
  }
  std::printf("no screenshot %s\n", name);
  ++g_failures;
}

// Runs `dialog` on this thread while `person` works it from another. A
// person who fails leaves the dialog to be closed by its caption.
template <typename Dialog>
auto WithPerson(const wchar_t* caption, std::function<void()> person, Dialog dialog) {
  std::thread helper([&] {
    person();
    if (HWND left = FindWindowW(nullptr, caption); left && !WaitGone(left, 3000)) {
      std::printf("dialog \"%ls\" still open: closing it\n", caption);
      ++g_failures;
      PostMessageW(left, WM_CLOSE, 0, 0);
    }
  });
  auto result = dialog();
  helper.join();
  return result;
}

// ---------------------------------------------------------------------------

void ConfigurationOk(NativeEnv& env, Session& session) {
  HWND seen = nullptr;
  Text rd, page;
  Text result = WithPerson(
      L"Maximizer Configuration",
      [&] {
        HWND d = seen = WaitWindow(L"Maximizer Configuration");
        if (!d) return;
        HWND tabs = Child(d, WC_TABCONTROLW, 0);
        HWND db_file = Child(d, WC_EDITW, 0), user = Child(d, WC_EDITW, 2);
        HWND pwd = Child(d, WC_EDITW, 3), phone2 = Button(d, L"Phone &2");
        // As loaded over an empty record: the Lookup tab with the defaults.
        CHECK(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0) == 2);
        CHECK(SendMessageW(tabs, TCM_GETCURSEL, 0, 0) == 0);
        CHECK_TEXT(TextOf(db_file), u"(Default)");
        CHECK(Checked(Button(d, L"&Data directory:")) && !Checked(Button(d, L"&SQL server:")));
        CHECK(Checked(Button(d, L"Phone &1")) && Checked(phone2) &&
              Checked(Button(d, L"Phone &4")));
        CHECK(IsWindowVisible(phone2) && IsWindowVisible(db_file) && !IsWindowVisible(user));
        CHECK((GetWindowLongPtrW(pwd, GWL_STYLE) & ES_PASSWORD) != 0);
        CHECK(GetWindow(d, GW_OWNER) != nullptr && !IsWindowEnabled(GetWindow(d, GW_OWNER)));

        ShowTab(tabs, 1);
        CHECK(IsWindowVisible(user) && !IsWindowVisible(db_file) && !IsWindowVisible(phone2));
        Type(user, L"  MASTER ");
        Type(pwd, L"secret");
        ShowTab(tabs, 0);
        CHECK(!IsWindowVisible(user) && IsWindowVisible(db_file));
        Type(db_file, L"C:\\Maximizer\\Data\\Company");
        Click(phone2);
        CHECK(!Checked(phone2));
        Shot("configuration");
        // The directory does not exist: OK asks first. No goes back to the
        // dialog, Yes stores it. (Posted: the question holds the click.)
        PostMessageW(Button(d, L"OK"), BM_CLICK, 0, 0);
        Answer(d, IDNO, u"The data directory C:\\Maximizer\\Data\\Company does not exist.");
        CHECK(IsWindowVisible(d));
        PostMessageW(Button(d, L"OK"), BM_CLICK, 0, 0);
        if (HWND box = WaitMessageBox(d)) {
          Shot("question");
          CHECK(Contains(StaticTexts(box), u"Store it anyway?"));
        }
        Answer(d, IDYES, u"does not exist.");
      },
      [&] { return session.Configure(rd, page); });
  CHECK_TEXT(
      result,
      u"{Caption(S25)=C:\\Maximizer\\Data\\Company}{Dbfile(S25)=C:\\Maximizer\\Data\\Company}"
      u"{UseSQL(S5)=False}{Phone1(N1)=1}{Phone2(N1)=0}{Phone3(N1)=1}{Phone4(N1)=1}"
      u"{DBUser(S6)=MASTER}{DBPwd(S6)=secret}");
  // Activated once, with the dialog's own window.
  CHECK(env.recorder->activated.size() == 2);
  CHECK(!env.recorder->activated.empty() &&
        env.recorder->activated[0] == reinterpret_cast<WindowHandle>(seen));
}

void UserPageBrowseAndEscape(Session& session) {
  Text rd = u"{Host=1}", page = u"user";
  Text result = WithPerson(
      L"Maximizer Configuration",
      [&] {
        HWND d = WaitWindow(L"Maximizer Configuration");
        if (!d) return;
        // The user page opens on the User tab.
        HWND tabs = Child(d, WC_TABCONTROLW, 0);
        CHECK(SendMessageW(tabs, TCM_GETCURSEL, 0, 0) == 1);
        CHECK(IsWindowVisible(Child(d, WC_EDITW, 2)) && !IsWindowVisible(Child(d, WC_EDITW, 0)));
        ShowTab(tabs, 0);
        // The telephone frame gives way to the explanation.
        CHECK(!IsWindowVisible(Button(d, L"Phone &1")));
        CHECK(!IsWindowVisible(Button(d, L"&Search telephone fields")));
        HWND label = FindWindowExW(d, nullptr, WC_STATICW,
                                   L"Enter the location of the database files (*.max).  This "
                                   L"needs to be a valid path for the user(s).");
        CHECK(label && IsWindowVisible(label));
        // The browse button opens the file-open dialog over this one.
        PostMessageW(Button(d, L"..."), BM_CLICK, 0, 0);  // bIni comes before OSel
        HWND open = WaitWindow(L"Select database file (mxza.max)");
        CHECK(open && GetWindow(open, GW_OWNER) == d);
        CHECK(!IsWindowEnabled(d));
        if (open) {
          Shot("file-open");
          PostMessageW(open, WM_COMMAND, IDCANCEL, 0);
          CHECK(WaitGone(open));
        }
        for (int i = 0; i < 200 && !IsWindowEnabled(d); ++i) Sleep(25);
        CHECK_TEXT(TextOf(Child(d, WC_EDITW, 0)), u"(Default)");
        // The data-source button: under Wine the driver manager is not asked
        // for a prompt, so ours lists the configured source.
        PostMessageW(FindWindowExW(d, Button(d, L"..."), WC_BUTTONW, L"..."), BM_CLICK, 0, 0);
        HWND prompt = WaitWindow(L"Select Data Source");
        CHECK(prompt && GetWindow(prompt, GW_OWNER) == d);
        if (prompt) {
          HWND list = Child(prompt, WC_COMBOBOXW, 0);
          wchar_t entry[128] = {0};
          CHECK(SendMessageW(list, CB_GETCOUNT, 0, 0) == 1);
          SendMessageW(list, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(entry));
          CHECK(std::wstring(entry) == L"Sales (SQLite3)");
          Click(Button(prompt, L"Cancel"));
          CHECK(WaitGone(prompt));
        }
        for (int i = 0; i < 200 && !IsWindowEnabled(d); ++i) Sleep(25);
        CHECK(!Checked(Button(d, L"&SQL server:")) && TextOf(Child(d, WC_EDITW, 1)).empty());
        // Esc ends the dialog as Cancel does.
        HWND focus = Child(d, WC_EDITW, 0);
        PostMessageW(focus, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageW(focus, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0010001u));
      },
      [&] { return session.Configure(rd, page); });
  CHECK_TEXT(result, u"{Host=1}{Page(S4)=USER}");
}

// The first focus lands on the option buttons: it must not select one.
// Enter presses the default button, which refuses SQL mode without a data
// source.
void SqlServerKeptAndEnter(Session& session) {
  Text rd = u"{UseSQL=True}", page;
  Text result = WithPerson(
      L"Maximizer Configuration",
      [&] {
        HWND d = WaitWindow(L"Maximizer Configuration");
        if (!d) return;
        CHECK(Checked(Button(d, L"&SQL server:")) && !Checked(Button(d, L"&Data directory:")));
        HWND tabs = Child(d, WC_TABCONTROLW, 0);
        ShowTab(tabs, 1);
        ShowTab(tabs, 0);
        CHECK(Checked(Button(d, L"&SQL server:")));
        // The server's filter: usable in SQL mode, kept but not usable once
        // the data directory is chosen.
        HWND filter = Button(d, L"Let the server &filter (faster)");
        CHECK(IsWindowEnabled(filter) && !Checked(filter));
        Click(filter);
        CHECK(Checked(filter));
        HWND edit = Child(d, WC_EDITW, 0);
        auto enter = [edit] {
          PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 0x001C0001);
          PostMessageW(edit, WM_KEYUP, VK_RETURN, static_cast<LPARAM>(0xC01C0001u));
        };
        enter();
        Answer(d, IDOK, u"No SQL server is chosen.");
        CHECK(IsWindowVisible(d) && Checked(Button(d, L"&SQL server:")));
        Click(Button(d, L"&Data directory:"));
        CHECK(!IsWindowEnabled(filter) && Checked(filter));
        enter();
      },
      [&] { return session.Configure(rd, page); });
  CHECK_TEXT(result,
             u"{Caption(S9)=Maximizer}{Dbfile(S9)=(Default)}{UseSQL(S5)=False}{Phone1(N1)=1}"
             u"{Phone2(N1)=1}{Phone3(N1)=1}{Phone4(N1)=1}{SqlFilter(S6)=Server}");
}

void ActionOk(Session& session) {
  Text rd = u"{Host=1}", page = u"Action";
  Text result = WithPerson(
      L"Maximizer Action Configuration",
      [&] {
        HWND d = WaitWindow(L"Maximizer Action Configuration");
        if (!d) return;
        HWND action = Child(d, WC_COMBOBOXW, 0), wnd = Child(d, WC_COMBOBOXW, 1);
        HWND item = Child(d, WC_COMBOBOXW, 2), macro = Child(d, WC_EDITW, 0);
        HWND new_window = Button(d, L"Show contact in a &new list");
        CHECK(SendMessageW(action, CB_GETCOUNT, 0, 0) == 5);
        CHECK(SendMessageW(action, CB_GETCURSEL, 0, 0) == 0);
        CHECK(SendMessageW(wnd, CB_GETCURSEL, 0, 0) == 0);
        CHECK(IsWindowVisible(new_window) && !IsWindowVisible(wnd) && !IsWindowVisible(item));
        Pick(action, 4);  // Run macro
        CHECK(IsWindowVisible(macro) && !IsWindowVisible(new_window));
        Type(macro, L"Daily");
        Pick(action, 2);  // Show contact item
        CHECK(!IsWindowVisible(macro) && IsWindowVisible(item) && IsWindowVisible(new_window));
        Pick(item, 5);  // schedule a call
        Click(new_window);
        CHECK(Checked(new_window));
        Shot("action");
        Click(Button(d, L"OK"));
      },
      [&] { return session.Configure(rd, page); });
  CHECK_TEXT(result,
             u"{Action(S17)=Show contact item}{Item(S15)=schedule a call}{Macro(S5)=Daily}"
             u"{NewWindow(N1)=1}{Window(S8)=Calendar}");
}

void ActionCloseBox(Session& session) {
  Text rd = u"{Action=run macro}{Window=Contacts}{NewWindow=2}", page = u"ACTION";
  Text result = WithPerson(
      L"Maximizer Action Configuration",
      [&] {
        HWND d = WaitWindow(L"Maximizer Action Configuration");
        if (!d) return;
        CHECK(IsWindowVisible(Child(d, WC_EDITW, 0)));
        CHECK(SendMessageW(Child(d, WC_COMBOBOXW, 1), CB_GETCURSEL, 0, 0) == CB_ERR);
        HWND new_window = Button(d, L"Show contact in a &new list");
        CHECK(SendMessageW(new_window, BM_GETCHECK, 0, 0) == BST_INDETERMINATE);
        PostMessageW(d, WM_CLOSE, 0, 0);
      },
      [&] { return session.Configure(rd, page); });
  CHECK_TEXT(result, u"{Action=run macro}{Window=Contacts}{NewWindow=2}{Page(S6)=ACTION}");
}

// A login that fails keeps the selection open with the reason: the person
// corrects it or cancels.
void DataSourceSelection() {
  const std::vector<DataSourceInfo> sources = {{u"Alpha", u"SQLite3", u"", false},
                                               {u"Beta", u"PostgreSQL Unicode", u"", true}};
  // Through the driver manager: it knows no source "Beta".
  std::optional<Text> chosen = WithPerson(
      L"Select Data Source",
      [&] {
        HWND d = WaitWindow(L"Select Data Source");
        if (!d) return;
        HWND list = Child(d, WC_COMBOBOXW, 0);
        CHECK(SendMessageW(list, CB_GETCOUNT, 0, 0) == 2);
        CHECK(!Contains(StaticTexts(d), u"Login failed: "));
        Pick(list, 1);
        Type(Child(d, WC_EDITW, 0), L"jane");
        Type(Child(d, WC_EDITW, 1), L"se;cr}et");
        Click(Button(d, L"OK"));
        CHECK(IsWindowVisible(d));
        const Text shown = StaticTexts(d);
        if (!Contains(shown, u"Login failed: ")) CHECK_TEXT(shown, u"... Login failed: ...");
        CHECK(!Contains(shown, u"se;cr}et"));
        Shot("data-source");
        Click(Button(d, L"Cancel"));
      },
      [&] { return Win32DataSourcePrompt(sources); });
  CHECK(!chosen.has_value());

  // A refused login, corrected: the connect string of the second try.
  std::vector<Text> tried;
  LoginCheck check = [&](TextView connect) -> std::optional<Text> {
    tried.emplace_back(connect);
    if (tried.size() == 1) return Text(u"28000: user & password refused");
    return std::nullopt;
  };
  chosen = WithPerson(
      L"Select Data Source",
      [&] {
        HWND d = WaitWindow(L"Select Data Source");
        if (!d) return;
        Pick(Child(d, WC_COMBOBOXW, 0), 1);
        Type(Child(d, WC_EDITW, 0), L"jane");
        Type(Child(d, WC_EDITW, 1), L"wrong");
        Click(Button(d, L"OK"));
        const Text shown = StaticTexts(d);
        const size_t reason = shown.find(u"Login failed: ");
        CHECK_TEXT(reason == Text::npos ? shown : shown.substr(reason),
                   u"Login failed: 28000: user && password refused");
        Type(Child(d, WC_EDITW, 1), L"se;cr}et");
        Click(Button(d, L"OK"));
      },
      [&] {
        Win32DialogHost host;
        return SelectDataSource(host, sources, check);
      });
  CHECK_TEXT(chosen.value_or(u"(cancelled)"), u"DSN=Beta;UID=jane;PWD={se;cr}}et}");
  CHECK(tried.size() == 2 && tried[0] == u"DSN=Beta;UID=jane;PWD=wrong");

  // Without sources there is nothing to confirm; Cancel gives no choice.
  chosen = WithPerson(
      L"Select Data Source",
      [&] {
        HWND d = WaitWindow(L"Select Data Source");
        if (!d) return;
        CHECK(!IsWindowEnabled(Button(d, L"OK")));
        Click(Button(d, L"Cancel"));
      },
      [&] { return Win32DataSourcePrompt({}); });
  CHECK(!chosen.has_value());
}

void FileFilter() {
  std::wstring f = FileDialogFilter(u"Database file (mxza.max)|mxza.max");
  CHECK(f == std::wstring(L"Database file (mxza.max)\0mxza.max\0\0", 35));
}

// The number-matching settings worked by window messages: the check box and
// the home-country list, reached by their access keys, clicked and picked;
// the record that OK stores; the controls on the Lookup tab clear of the
// others, every country name fitting the list's box.
void NumberMatching(Session& session) {
  const Text defaults =
      u"{Caption(S9)=Maximizer}{Dbfile(S9)=(Default)}{UseSQL(S5)=False}{Phone1(N1)=1}"
      u"{Phone2(N1)=1}{Phone3(N1)=1}{Phone4(N1)=1}";
  struct Case {
    const char* what;
    const char16_t* record;
    const char16_t* page;
    bool checked;
    const wchar_t* shown;  // the entry selected at load
    bool toggle;           // the first case by Alt+N, the others by a click
    const wchar_t* pick;   // nullptr: the list untouched
    const char16_t* written;
  } cases[] = {
      {"tick, pick Germany", u"", u"", false, L"United Kingdom (GB)", true, L"Germany (DE)",
       u"{NumberMatch(S3)=Any}{Region(S2)=DE}"},
      {"untick, unknown region kept", u"{NumberMatch=any}{Region=XX}", u"", true,
       L"United Kingdom (GB)", true, nullptr, u"{NumberMatch(S5)=Exact}{Region(S2)=XX}"},
      {"untouched", u"{Host=1}", u"", false, L"United Kingdom (GB)", false, nullptr, u""},
      {"hidden on the user page", u"{NumberMatch=Any}{Region=de}", u"user", true, L"Germany (DE)",
       false, nullptr, u"{NumberMatch(S3)=Any}{Region(S2)=DE}"},
  };
  bool first = true;
  for (const Case& c : cases) {
    const int before = g_failures;
    Text rd = c.record, page = c.page;
    Text result = WithPerson(
        L"Maximizer Configuration",
        [&] {
          HWND d = WaitWindow(L"Maximizer Configuration");
          if (!d) return;
          HWND check = Button(d, L"Match &numbers in any format");
          HWND combo = Child(d, WC_COMBOBOXW, 0);
          if (!check || !combo) return;
          HWND tabs = Child(d, WC_TABCONTROLW, 0);
          HWND filter = Button(d, L"Let the server &filter (faster)");
          CHECK(Checked(check) == c.checked);
          // File mode: the server's filter shows dimmed.
          CHECK(!IsWindowEnabled(filter));
          CHECK(SendMessageW(combo, CB_GETCOUNT, 0, 0) > 240);
          const LRESULT selected = SendMessageW(combo, CB_GETCURSEL, 0, 0);
          wchar_t entry[128] = {0};
          if (selected >= 0) {
            SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(selected),
                         reinterpret_cast<LPARAM>(entry));
          }
          CHECK(std::wstring(entry) == c.shown);
          if (Text(c.page) == u"user") {
            ShowTab(tabs, 0);
            CHECK(!IsWindowVisible(check) && !IsWindowVisible(combo) && !IsWindowVisible(filter));
          } else {
            CHECK(IsWindowVisible(check) && IsWindowVisible(combo));
          }
          if (first) {
            RECT frame, box, list, tab, ok, text;
            GetWindowRect(Button(d, L"&Search telephone fields"), &frame);
            GetWindowRect(check, &box);
            GetWindowRect(combo, &list);
            GetWindowRect(tabs, &tab);
            SendMessageW(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&tab));
            GetWindowRect(Button(d, L"OK"), &ok);
            GetWindowRect(FindWindowExW(d, nullptr, WC_STATICW, L"Home &country:"), &text);
            RECT server, filter_box;
            GetWindowRect(Button(d, L"&SQL server:"), &server);
            GetWindowRect(filter, &filter_box);
            CHECK(filter_box.top >= server.bottom && filter_box.bottom <= frame.top);
            CHECK(filter_box.left >= server.right && filter_box.right <= tab.right);
            CHECK(box.top >= frame.bottom && text.top >= box.bottom && list.top >= box.bottom);
            CHECK(text.right <= list.left && list.bottom <= tab.bottom && tab.bottom <= ok.top);
            CHECK(box.left >= tab.left && list.right <= tab.right && frame.right <= tab.right);
            // The longest names fit the box that shows the entry picked.
            COMBOBOXINFO info = {};
            info.cbSize = sizeof info;
            CHECK(GetComboBoxInfo(combo, &info));
            HDC dc = GetDC(combo);
            HGDIOBJ old =
                SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(combo, WM_GETFONT, 0, 0)));
            const int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
            for (int i = 0; i < count; ++i) {
              wchar_t name[128] = {0};
              SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i),
                           reinterpret_cast<LPARAM>(name));
              SIZE size = {};
              GetTextExtentPoint32W(dc, name, static_cast<int>(wcslen(name)), &size);
              if (size.cx > info.rcItem.right - info.rcItem.left) {
                std::printf("\"%ls\" is %ld pixels wide, the box %ld\n", name, size.cx,
                            info.rcItem.right - info.rcItem.left);
                ++g_failures;
              }
            }
            SelectObject(dc, old);
            ReleaseDC(combo, dc);
            // Alt+C goes to the list (past its label), Alt+N ticks the box.
            PostMessageW(d, WM_SYSCHAR, L'c', 0x20000001);
            GUITHREADINFO gui = {};
            gui.cbSize = sizeof gui;
            const DWORD thread = GetWindowThreadProcessId(d, nullptr);
            for (int i = 0; i < 400 && !(GetGUIThreadInfo(thread, &gui) && gui.hwndFocus == combo);
                 ++i) {
              Sleep(25);
            }
            CHECK(gui.hwndFocus == combo);
            PostMessageW(d, WM_SYSCHAR, L'n', 0x20000001);
            for (int i = 0; i < 400 && Checked(check) == c.checked; ++i) Sleep(25);
          } else if (c.toggle) {
            Click(check);
          }
          CHECK(Checked(check) == (c.checked != c.toggle));
          if (c.pick) {
            const LRESULT at = SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                            reinterpret_cast<LPARAM>(c.pick));
            CHECK(at >= 0);
            Pick(combo, static_cast<int>(at));
          }
          if (first) Shot("number-match");
          Click(Button(d, L"OK"));
        },
        [&] { return session.Configure(rd, page); });
    CHECK_TEXT(result, defaults + c.written);
    if (g_failures != before) std::printf("  in \"%s\"\n", c.what);
    first = false;
  }
}

}  // namespace
}  // namespace pellory::testing

int main(int argc, char** argv) {
  using namespace pellory;
  using namespace pellory::testing;
  if (argc > 1) g_shots = argv[1];
  struct Case {
    const char* name;
    std::function<void()> run;
  };
  NativeEnv env;
  Session session(env, WireSubsystems);
  const Case cases[] = {
      {"file filter", FileFilter},
      {"configuration OK", [&] { ConfigurationOk(env, session); }},
      {"user page, browse, Esc", [&] { UserPageBrowseAndEscape(session); }},
      {"SQL server kept, Enter", [&] { SqlServerKeptAndEnter(session); }},
      {"action OK", [&] { ActionOk(session); }},
      {"action close box", [&] { ActionCloseBox(session); }},
      {"data-source selection", DataSourceSelection},
      {"number matching", [&] { NumberMatching(session); }},
  };
  for (const Case& c : cases) {
    const int before = g_failures;
    auto start = std::chrono::steady_clock::now();
    c.run();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - start)
                  .count();
    std::printf("%s %s (%lld ms)\n", g_failures == before ? "ok  " : "FAIL", c.name,
                static_cast<long long>(ms));
  }
  for (const Text& line : env.trace_file.lines) std::printf("trace: %s\n", U8(line).c_str());
  CHECK(env.trace_file.lines.empty());
  std::printf("%d failure(s)\n", g_failures);
  return g_failures == 0 ? 0 : 1;
}
