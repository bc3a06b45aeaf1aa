// The data-source prompt of the Windows build, for OdbcEngines: the driver
// manager's own prompt where it has one, else a small dialog of ours.
#pragma once

#include <optional>
#include <vector>

#include "platform/dialog_host.h"
#include "platform/odbc/odbc_engines.h"

namespace pellory {

// Asks the driver manager to prompt for a data source (SQLDriverConnectW
// with SQL_DRIVER_PROMPT, owned by the active dialog) and gives the
// connect string it completed; nullopt when the person cancelled. Where the
// driver manager shows no dialog of its own (unixODBC under Wine has none),
// the person picks one of `sources` in the selection dialog below.
std::optional<Text> Win32DataSourcePrompt(const std::vector<DataSourceInfo>& sources);

// The selection dialog alone, run through `host`: the sources (name and
// driver) in a list, a user and a password. Gives "DSN=...;UID=...;PWD=..."
// (empty user or password left out, values braced where a connect string
// needs it), or nullopt when cancelled.
std::optional<Text> SelectDataSource(DialogHost& host, const std::vector<DataSourceInfo>& sources);

// Caption of the selection dialog.
inline constexpr char16_t kSelectDataSourceCaption[] = u"Select Data Source";

}  // namespace pellory
