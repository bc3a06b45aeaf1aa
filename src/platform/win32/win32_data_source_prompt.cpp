#include "platform/win32/win32_data_source_prompt.h"

#include "platform/odbc/odbc_api.h"
#include "platform/win32/win32_dialog_host.h"

namespace pellory {
namespace {

// What the driver manager's own prompt came to.
enum class ManagerPrompt { kChosen, kCancelled, kNoDialog };

// Wine's odbc32 hands the call to the host's unixODBC, which has no
// Windows dialog and reads a window handle as a pointer to a structure of
// its own: a prompt there answers with garbage and can hang the connection
// handle. Under Wine the driver manager is therefore not asked.
bool UnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

ManagerPrompt AskDriverManager(Text* connect) {
  if (UnderWine()) return ManagerPrompt::kNoDialog;
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (!odbc::Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
    return ManagerPrompt::kNoDialog;
  }
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  ManagerPrompt result = ManagerPrompt::kNoDialog;
  if (odbc::Ok(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
    SQLWCHAR in[1] = {0};
    std::vector<SQLWCHAR> out(4096, 0);
    SQLSMALLINT out_length = 0;
    SQLRETURN rc =
        SQLDriverConnectW(dbc, ActiveDialogWindow(), in, SQL_NTS, out.data(),
                          static_cast<SQLSMALLINT>(out.size()), &out_length, SQL_DRIVER_PROMPT);
    if (odbc::Ok(rc)) {
      *connect = odbc::FromWideZ(out.data(), out.size() - 1);
      SQLDisconnect(dbc);
      result = connect->empty() ? ManagerPrompt::kNoDialog : ManagerPrompt::kChosen;
    } else if (rc == SQL_NO_DATA) {
      result = ManagerPrompt::kCancelled;
    }
    // Any other outcome (no dialog could be shown, no default source, a
    // driver manager without prompts) leaves the choice to our own dialog.
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  }
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return result;
}

}  // namespace

std::optional<Text> Win32DataSourcePrompt(const std::vector<DataSourceInfo>& sources) {
  Text connect;
  switch (AskDriverManager(&connect)) {
    case ManagerPrompt::kChosen:
      return connect;
    case ManagerPrompt::kCancelled:
      return std::nullopt;
    case ManagerPrompt::kNoDialog:
      break;
  }
  Win32DialogHost host;
  return SelectDataSource(host, sources, TryOdbcLogin);
}

}  // namespace pellory
