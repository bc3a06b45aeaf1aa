// The subsystems a Session is made of, as the Session sees them: each one
// is an object of a subsystem above this one (src/assembly.cpp builds them)
// that holds its own state. A Session without one answers that
// subsystem's methods with their empty reply, so the frame runs on its own.
#pragma once

#include <functional>
#include <memory>

#include "platform/variant.h"
#include "plugin/crm_connection.h"
#include "plugin/search_observer.h"

namespace pellory {

class Session;

// The request key under which FindContact and FindList hand FindReal the
// number as the host wrote it ("+44 20 7946 0018"), where "Tel" holds only
// its digits, when the lookup asks for it (it reads numbers in any format).
inline constexpr char16_t kDialledTel[] = u"DialledTel";

// Contact lookup (lookup::Lookup): the searches, the contact record and the
// cache export, with the export's result set and state.
class ContactLookup {
 public:
  virtual ~ContactLookup() = default;
  // Start-up: reads the lookup's own settings from the settings record.
  virtual void Initialize() {}
  // Whether the searches read the number as the host wrote it, which the
  // Session's FindContact and FindList then add to the request under
  // kDialledTel.
  virtual bool ReadsDialledNumber() const { return false; }
  // The working methods FindReal, GetContact and CacheRecordReal.
  virtual Text Find(Text rd) = 0;
  virtual Text GetContact(Variant& res) = 0;
  virtual Text CacheRecord() = 0;
  // CacheStart: the next CacheRecord opens the export.
  virtual void StartExport() = 0;
  // CacheEnd: the export's result set is let go; CacheRecord replies
  // nothing until the next start.
  virtual void EndExport() = 0;
  // Lets go of the export's result set and nothing else (a load in SQL
  // mode tests the tables with statements of its own).
  virtual void DropExport() = 0;
  // Why the last search failed after it reached for the database (the
  // statement did not open, or a move or read failed): the host still gets
  // the reply the search built, and a caller that can tell an outage from
  // an unknown caller (the command line) reads it here. Empty otherwise.
  virtual const Text& search_failure() const = 0;
  // The searches report their steps to `observer` while one is set (null:
  // none). The observer must outlive the searches it watches.
  virtual void SetObserver(SearchObserver* observer) { (void)observer; }
};

// The running CRM application (AttachedApplication in automation): the
// application object and the actions carried out there.
class CrmApplication {
 public:
  virtual ~CrmApplication() = default;
  // CheckRunning's part: with `start`, attaches to the running application.
  // Whether an application object is held.
  virtual bool Attach(bool start) = 0;
  // The working method DoActionReal.
  virtual void DoAction(Text& rd) = 0;
  // Lets go of the application object (Unload).
  virtual void Release() = 0;
};

// The configuration dialogs (dialogs/show_dialog.h).
class ConfigDialogs {
 public:
  virtual ~ConfigDialogs() = default;
  // Shows the configuration dialog (`action` false) or the action dialog
  // modally over `record` (the thread's configuration record).
  virtual void Show(Text& record, bool action) = 0;
};

// The subsystems of one Session. They are destroyed in the reverse order:
// the application object first, then the connection's recordset and
// database, the export's result set last.
struct Subsystems {
  std::unique_ptr<ContactLookup> lookup;
  std::unique_ptr<CrmConnection> crm;
  std::unique_ptr<CrmApplication> application;
  std::unique_ptr<ConfigDialogs> dialogs;
};

// Builds the subsystems of a new Session (which they keep a reference to).
using Assembly = std::function<Subsystems(Session&)>;

}  // namespace pellory
