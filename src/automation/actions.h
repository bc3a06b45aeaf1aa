// Actions in the running CRM application: showing a contact or one of its
// item views, starting a new contact with the caller's number, running a
// macro, bringing a list or window to the front.
#pragma once

#include "plugin/crm_connection.h"
#include "plugin/session.h"

namespace pellory {

// The running CRM application as one Session reaches it: the application
// object CheckRunning attaches to, and the actions carried out there on the
// database the Session's connection names.
class AttachedApplication final : public CrmApplication {
 public:
  AttachedApplication(Session& session, const CrmConnection& crm)
      : session_(session), env_(session.env()), crm_(crm) {}

  bool Attach(bool start) override;
  // Reads the action and its parameters from `rd` and carries the action
  // out.
  void DoAction(Text& rd) override;
  void Release() override;

  const std::shared_ptr<AutoObject>& app() const { return app_; }

 private:
  Session& session_;
  Env& env_;
  const CrmConnection& crm_;
  std::shared_ptr<AutoObject> app_;
};

// `text` written in the key notation so that every character of it is
// typed as it stands.
Text KeyNotationLiteral(TextView text);

// Identifiers of the CRM application's window commands.
namespace crm_commands {
inline constexpr unsigned kViewActivities = 33306;
inline constexpr unsigned kViewPhoneLog = 10211;
inline constexpr unsigned kCreateOpportunity = 10441;
inline constexpr unsigned kReceiveCall = 10231;
inline constexpr unsigned kScheduleMeeting = 10234;
inline constexpr unsigned kScheduleCall = 10236;
inline constexpr unsigned kScheduleTodo = 10235;
inline constexpr unsigned kWriteEmail = 10434;
inline constexpr unsigned kExpenses = 10246;
inline constexpr unsigned kFreetime = 10421;
inline constexpr unsigned kJournal = 10245;
inline constexpr unsigned kNewContact = 10238;
inline constexpr unsigned kNewContactFollowUp = 10024;
}  // namespace crm_commands

}  // namespace pellory
