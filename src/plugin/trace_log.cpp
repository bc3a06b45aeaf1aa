#include "plugin/trace_log.h"

namespace pellory {

Text TraceLine(const Regional& regional, DateTime when, TextView message) {
  Text line = kComponentName;
  line += u" - ";
  line += FormatDateTime(regional, when);
  line += u"    @ ";
  line += message;
  return line;
}

void LogError(Env& env, TextView message) noexcept {
  try {
    if (FindNoCase(message, u"cannot be created because its designer window is open.") !=
            TextView::npos ||
        FindNoCase(message, u"Address Family is not supported") != TextView::npos) {
      return;
    }
    DateTime now{};
    try {
      now = env.clock().Now();
    } catch (...) {
    }
    Text line;
    try {
      line = TraceLine(env.regional(), now, message);
    } catch (...) {
      line = Text(kComponentName) + u" -     @ " + Text(message);
    }
    env.trace().AppendLine(line);
  } catch (...) {
    // A trace line that cannot be written is lost silently.
  }
}

}  // namespace pellory
