// The dialogs as a subsystem of the Session.
#pragma once

#include "platform/env.h"
#include "plugin/subsystems.h"

namespace pellory {

// Builds the action dialog (`action` true) or the configuration dialog over
// `config_rd`, loads it and runs it modally through the platform's dialog
// host. OK rewrites the record; Cancel leaves it.
void ShowDialog(Env& env, Text& config_rd, bool action);

// ShowDialog for the Session's Configure.
class ModalDialogs final : public ConfigDialogs {
 public:
  explicit ModalDialogs(Env& env) : env_(env) {}
  void Show(Text& record, bool action) override { ShowDialog(env_, record, action); }

 private:
  Env& env_;
};

}  // namespace pellory
