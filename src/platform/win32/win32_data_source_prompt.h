// The data-source prompt of the Windows build, for OdbcEngines: the driver
// manager's own prompt where it has one, else a small dialog of ours.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "platform/dialog_host.h"
#include "platform/odbc/odbc_engines.h"

namespace pellory {

// Asks the driver manager to prompt for a data source (SQLDriverConnectW
// with SQL_DRIVER_PROMPT, owned by the active dialog) and gives the
// connect string it completed; nullopt when the person cancelled. Where the
// driver manager shows no dialog of its own (unixODBC under Wine has none),
// the person picks one of `sources` in the selection dialog below, which
// tries the login with TryOdbcLogin.
std::optional<Text> Win32DataSourcePrompt(const std::vector<DataSourceInfo>& sources);

// Tries a login with a connect string: nullopt when the data source
// accepts it, else the reason it gave.
using LoginCheck = std::function<std::optional<Text>(TextView connect)>;

// The selection dialog alone, run through `host`: the sources (name and
// driver) in a list, a user and a password. Gives "DSN=...;UID=...;PWD=..."
// (empty user or password left out, values braced where a connect string
// needs it), or nullopt when cancelled. With `check`, a login that fails
// keeps the dialog open with the reason shown, so that the person can
// correct it or cancel.
std::optional<Text> SelectDataSource(DialogHost& host, const std::vector<DataSourceInfo>& sources,
                                     const LoginCheck& check = nullptr);

// Caption of the selection dialog.
inline constexpr char16_t kSelectDataSourceCaption[] = u"Select Data Source";

}  // namespace pellory
