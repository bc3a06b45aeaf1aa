// The real adapters of the Windows build, one line each.
#include "platform/odbc/odbc_engines.h"
#include "platform/win32/win32_env.h"

namespace pellory {

void WireWin32Adapters(Win32Env& env) { env.set_databases(std::make_unique<OdbcEngines>()); }

}  // namespace pellory
