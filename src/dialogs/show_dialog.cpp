#include "dialogs/show_dialog.h"

#include "dialogs/frm_action.h"
#include "dialogs/frm_config.h"

namespace pellory {

void ShowDialog(Env& env, Text& config_rd, bool action) {
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
