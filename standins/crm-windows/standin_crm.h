// The stand-in CRM application for Windows: a local COM server offering the
// application's automation members, a main window and, on request, a window
// of the modal view class. Everything it is asked and every message and key
// its windows receive goes into a journal file, one UTF-8 line each.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/text.h"
#include "platform/variant.h"
#include "standins/crm/crm_common.h"

namespace pellory::standin {

// {5C0E3A61-8D2B-4F7A-9B14-6E2D40C7A1F3}
inline constexpr CLSID kAttachClsid = {
    0x5c0e3a61, 0x8d2b, 0x4f7a, {0x9b, 0x14, 0x6e, 0x2d, 0x40, 0xc7, 0xa1, 0xf3}};
inline constexpr wchar_t kProgId[] = L"Maximizer.AttachToCurrentInstance";
inline constexpr wchar_t kMainWindowClass[] = L"MaximizerMainFrame";
inline constexpr wchar_t kModalViewClass[] = L"pvModalView32";

struct CrmOptions {
  std::wstring journal;  // empty: no journal
  Text database_path = u"C:\\Program Files\\Maximizer\\Data";
  Text address_book = u"Address Book";
  bool modal_view = false;
  Variant busy = false;
  double timeout_seconds = 0;  // 0: until the main window is closed
};

// Reads the command line (without the program name). Returns false with
// `error` set on an unknown option or a missing or malformed value.
bool ParseOptions(int argc, wchar_t** argv, CrmOptions* options, std::string* error);

// "true", "false", "null" (any case) or a number; false when it is none.
bool ParseBusy(const std::wstring& text, Variant* busy);

// Keeps the journal file: every line is written and flushed at once.
class Journal {
 public:
  ~Journal();
  bool Open(const std::wstring& path);
  void Note(const std::string& line);
  // Plain characters typed into the same window in a row join one line:
  // `<label>: typed "..."`.
  void Typed(const std::string& label, const std::string& utf8);

 private:
  void Write(const std::string& line);
  FILE* file_ = nullptr;
  std::string typing_label_;  // empty: the last line is no "typed" line
  std::string typed_;
  long typed_at_ = -1;  // file offset where the growing "typed" line starts
};

// The application's state, shared by its windows and automation objects.
struct CrmState {
  Journal journal;
  Text database_path;
  Variant busy = false;
  Text visibility;
  Text active_window;
  Text shown_contact;
  bool shown_in_new_list = false;
  HWND main_window = nullptr;
  HWND modal_view = nullptr;
  HWND active = nullptr;   // the window of ours the system last activated
  bool recording = false;  // off while the windows are being set up

  void Note(const std::string& line) {
    if (recording) journal.Note(line);
  }
  void SetAddressBook(TextView name);
};

CrmState& State();

// Windows of the application (crm_windows.cpp).
bool RegisterWindowClasses(HINSTANCE instance);
HWND CreateMainWindow(HINSTANCE instance, TextView address_book);
HWND CreateModalView(HINSTANCE instance);

// COM registration and the class object (crm_objects.cpp).
// Registers the class for the current user (HKCU\\Software\\Classes), and for
// the machine as well when the user's classes are not seen through
// HKEY_CLASSES_ROOT. Unregistering removes both.
enum class RegisterResult { kFailed, kPerUser, kMachine };
RegisterResult RegisterServer(bool register_it);
HRESULT StartClassObject(DWORD* cookie);
void StopClassObject(DWORD cookie);

}  // namespace pellory::standin
