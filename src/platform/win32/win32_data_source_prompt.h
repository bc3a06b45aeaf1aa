// The data-source prompt of the Windows build, for OdbcEngines: the driver
// manager's own prompt where it has one, else a small dialog of ours.
#pragma once

#include <optional>
#include <vector>

#include "dialogs/frm_data_source.h"
#include "platform/odbc/odbc_engines.h"

namespace pellory {

// Asks the driver manager to prompt for a data source (SQLDriverConnectW
// with SQL_DRIVER_PROMPT, owned by the active dialog) and gives the
// connect string it completed; nullopt when the person cancelled. Where the
// driver manager shows no dialog of its own (unixODBC under Wine has none),
// the person picks one of `sources` in the selection form (SelectDataSource),
// which tries the login with TryOdbcLogin.
std::optional<Text> Win32DataSourcePrompt(const std::vector<DataSourceInfo>& sources);

}  // namespace pellory
