// Actions in the running CRM application: showing a contact or one of its
// item views, starting a new contact with the caller's number, running a
// macro, bringing a list or window to the front.
#pragma once

#include "plugin/session.h"

namespace pellory {

// The working method behind Session::DoAction. Reads the action and its
// parameters from `rd` and carries the action out; the reply is always
// empty text.
Text DoActionReal(Session& session, Text& rd);

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
