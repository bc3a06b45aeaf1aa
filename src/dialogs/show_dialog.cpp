#include "dialogs/show_dialog.h"

#include "dialogs/frm_action.h"
#include "dialogs/frm_config.h"
#include "plugin/session.h"

namespace pellory {

void ShowDialog(Env& env, bool action) {
  Text& config_rd = ConfigRd();
  if (action) {
    FrmAction form(env, config_rd);
    form.Form_Load();
    env.dialogs().ShowModal(form);
  } else {
    FrmConfig form(env, config_rd);
    form.Form_Load();
    env.dialogs().ShowModal(form);
  }
}

}  // namespace pellory
