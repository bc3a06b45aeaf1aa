// The Session class as the host sees it: the 28 methods of
// plugin/session_methods.h, the object's state, and its creation and
// destruction bookkeeping.
#pragma once

#include <cstdint>

#include "platform/env.h"
#include "plugin/session_methods.h"

namespace pellory {

class Session;

// The working methods that live in the subsystems above this one. The
// Session calls them through this table; an entry left null gives the
// method's empty reply, so the frame runs on its own.
struct SessionLogic {
  Variant (*initialize_real)(Session&) = nullptr;
  Text (*load_real)(Session&, Text& rd) = nullptr;
  Text (*unload_real)(Session&) = nullptr;
  Text (*find_real)(Session&, Text rd) = nullptr;
  bool (*check_running)(Session&, bool& start) = nullptr;
  Text (*do_action_real)(Session&, Text& rd) = nullptr;
  Text (*cache_record_real)(Session&) = nullptr;
  Text (*get_contact)(Session&, Variant& res) = nullptr;
  // Shows the configuration dialog (`action` false) or the action dialog
  // modally over `record` (the thread's configuration record).
  void (*show_dialog)(Env&, Text& record, bool action) = nullptr;
};

// Everything a Session holds. Subsystems read and write it directly.
struct SessionState {
  // The lowest number, from 1, that no other live Session of the thread
  // holds; it names the Session's data source.
  int instance_no = 0;
  Text data_rd;  // settings record passed to Initialize
  Text user_rd;  // per-user record passed to Initialize
  bool load_failed = false;
  Text cache_state;
  ResultSetRef cache_rs;
  // Why the export's result set failed on the way (a move or a read), for
  // the next CacheRecord to report instead of an end of data.
  Text cache_failure;
  // Why the last search failed after it reached for the database (the
  // statement did not open, or a move or read failed): the host still gets
  // the reply the search built, and a caller that can tell an outage from
  // an unknown caller (the command line) reads it here. Empty otherwise.
  Text search_failure;
  ObjectRef callback;

  // Settings prepared by start-up; rewritten by CheckRunning.
  Text db_path;
  Text db_user;
  Text db_password;
  bool search_phone[4] = {false, false, false, false};
  bool use_sql = false;
  // SQL mode: the connection record, kept apart from db_path so that a
  // reload after an action (which rewrites db_path) still finds it.
  Text connection_rd;
  // The "Timeout" setting in whole seconds, 0 for none; and while a search
  // runs under it, the monotonic clock reading by which it must end (0
  // otherwise). See plugin/deadline.h.
  int timeout = 0;
  double deadline = 0;

  // File mode: why start-up could not register the instance data source
  // (empty when it did). Load then fails instead of opening whatever an
  // earlier registration of that name points at.
  Text data_source_failure;

  // Database objects.
  WorkspaceRef workspace;
  DatabaseRef database;  // DAO database (file mode) or RDO connection (SQL mode)
  ResultSetRef contact_rs;
  Text table_name;

  // The CRM application object.
  std::shared_ptr<AutoObject> app;
};

inline constexpr int kVersionMajor = 2;
inline constexpr int kVersionMinor = 0;
inline constexpr char16_t kVersionComments[] = u"";

class Session {
 public:
  Session(Env& env, const SessionLogic& logic);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The interface methods, one for each entry of PELLORY_SESSION_METHODS
  // (plugin/session_methods.h), such as Text Configure(Text& rd, Text& page).
#define PELLORY_SESSION_DECLARE(slot, name, reply, ...) \
  CoreReply<SessionReply::k##reply> name(               \
      PELLORY_SESSION_EACH_ARG(PELLORY_SESSION_CORE_PARAM, __VA_ARGS__));
  PELLORY_SESSION_METHODS(PELLORY_SESSION_DECLARE)
#undef PELLORY_SESSION_DECLARE

  Env& env() { return env_; }
  SessionState& state() { return state_; }
  const SessionState& state() const { return state_; }

 private:
  template <typename R, typename Call>
  R Guarded(TextView tag, Call&& call);
  // Runs `Load` steps 1 and 2: reload and remember whether it failed.
  // `tag` names the host method that asked for the load.
  Text LoadAndRemember(TextView tag);

  Env& env_;
  const SessionLogic& logic_;
  SessionState state_;
};

}  // namespace pellory
