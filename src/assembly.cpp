#include "assembly.h"

#include "automation/actions.h"
#include "crmdb/session_connection.h"
#include "dialogs/show_dialog.h"
#include "lookup/lookup.h"

namespace pellory {

Subsystems WireSubsystems(Session& session) {
  Subsystems s;
  auto crm = std::make_unique<crmdb::SessionConnection>(session);
  s.lookup = std::make_unique<lookup::Lookup>(session, *crm);
  s.application = std::make_unique<AttachedApplication>(session, *crm);
  s.dialogs = std::make_unique<ModalDialogs>(session.env());
  s.crm = std::move(crm);
  return s;
}

}  // namespace pellory
