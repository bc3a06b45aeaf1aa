// The Session class as the host sees it: the 28 methods of
// plugin/session_methods.h, what the Session keeps of its own, the
// subsystems it is made of (plugin/subsystems.h), and its creation and
// destruction bookkeeping.
#pragma once

#include <cstdint>

#include "platform/env.h"
#include "plugin/session_methods.h"
#include "plugin/subsystems.h"

namespace pellory {

inline constexpr int kVersionMajor = 2;
inline constexpr int kVersionMinor = 0;
inline constexpr char16_t kVersionComments[] = u"";

class Session {
 public:
  // A Session made of the subsystems `assemble` builds; with none (the
  // frame alone) each working method gives its empty reply.
  explicit Session(Env& env, const Assembly& assemble = nullptr);
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
  // The lowest number, from 1, that no other live Session of the thread
  // holds; it names the Session's data source.
  int instance_no() const { return instance_no_; }
  // The settings record and the per-user record passed to Initialize.
  const Text& data_rd() const { return data_rd_; }
  const Text& user_rd() const { return user_rd_; }
  // Puts the records in place without the start-up Initialize runs (an
  // action run from stored settings).
  void SetRecords(Text data_rd, Text user_rd);

  // The Timeout setting (0 without a database side), and while a search
  // runs under it the monotonic clock reading by which it must end (0
  // otherwise). See plugin/deadline.h.
  int timeout() const { return subsystems_.crm ? subsystems_.crm->settings().timeout : 0; }
  double deadline() const { return deadline_; }
  void set_deadline(double deadline) { deadline_ = deadline; }

  // The subsystems; null where none was built.
  CrmConnection* crm() const { return subsystems_.crm.get(); }
  ContactLookup* lookup() const { return subsystems_.lookup.get(); }
  CrmApplication* application() const { return subsystems_.application.get(); }

 private:
  template <typename R, typename Call>
  R Guarded(TextView tag, Call&& call);
  // Whether FindContact and FindList pass the number as the host wrote it
  // on to the search (kDialledTel).
  bool ReadsDialledNumber() const;
  // Runs `Load` steps 1 and 2: reload and remember whether it failed.
  // `tag` names the host method that asked for the load.
  Text LoadAndRemember(TextView tag);

  Env& env_;
  int instance_no_ = 0;
  Text data_rd_;
  Text user_rd_;
  ObjectRef callback_;
  double deadline_ = 0;
  Subsystems subsystems_;
};

}  // namespace pellory
