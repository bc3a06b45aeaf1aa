// A stand-in for the CRM desktop application, for tests and for the command
// line on systems without it. It registers the attach class with an object
// registry, offers the application's automation members, keeps its windows
// on a simulated desktop and writes down everything it is asked, in order.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/posix/desktop.h"
#include "platform/posix/object_registry.h"

namespace pellory::standin {

struct CrmOptions {
  // The database (address book) the application has open at start.
  Text database_path = u"C:\\Program Files\\Maximizer\\Data";
  // Shown in the main window's title until another database is opened.
  Text address_book = u"Address Book";
  // A window of the application's modal view class is open.
  bool modal_view = false;
  // Titles of other programs' top-level windows, in front of the
  // application's windows and behind them.
  std::vector<Text> windows_in_front;
  std::vector<Text> windows_behind;
  // When not empty, OpenDatabase fails with this description followed by
  // " (" and its arguments joined by "/" and ")", as an application that
  // echoes what it was given would.
  Text open_failure;
};

// The frontmost window of the desktop is in the foreground at start.
class StandinCrm {
 public:
  static constexpr char16_t kProgId[] = u"Maximizer.AttachToCurrentInstance";
  static constexpr char16_t kMainWindowClass[] = u"MaximizerMainFrame";
  static constexpr char16_t kModalViewClass[] = u"pvModalView32";
  static constexpr char16_t kOtherWindowClass[] = u"StandinOtherWindow";

  // The desktop and the registry must outlive the stand-in.
  StandinCrm(Desktop& desktop, ObjectRegistry& registry, CrmOptions options = {});
  ~StandinCrm();
  StandinCrm(const StandinCrm&) = delete;
  StandinCrm& operator=(const StandinCrm&) = delete;

  // What GetBusyIndicator returns (False at start; may be Null).
  void set_busy(Variant indicator);
  // Changes the open database without a call through automation.
  void set_database_path(TextView path);
  // Opens a window of the modal view class (when none is open).
  void OpenModalView();

  const Text& database_path() const;
  WindowHandle main_window() const;
  WindowHandle modal_view() const;  // 0 when none is open
  const std::vector<WindowHandle>& other_windows() const;
  // The client id of the contact last shown, and whether in a new list.
  const Text& shown_contact() const;
  bool shown_in_new_list() const;
  // The window or list last brought to the front through ActivateWindow.
  const Text& active_window() const;
  // Member calls as "Object.Member(args)", window messages as
  // "<window>: sent|posted <message>", foreground requests, keys typed
  // (runs of plain characters joined into one "typed" line).
  const std::vector<std::string>& journal() const;
  void ClearJournal();

  // The application's state, shared with the objects it hands out.
  struct Core;

 private:
  std::shared_ptr<Core> core_;
  ObjectRegistry& registry_;
};

}  // namespace pellory::standin
