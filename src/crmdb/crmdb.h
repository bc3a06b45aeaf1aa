// CRM database access: the helpers of the settings, the registry and the
// file-mode data source, and the thread's engines. The Session's connection
// itself is crmdb::SessionConnection (crmdb/session_connection.h).
#pragma once

#include <memory>

#include "platform/env.h"
#include "plugin/trace_tags.h"

namespace pellory {

// One registry value with a default. A missing key gives the default as
// text; a whole-number default reads a 4-byte number value; otherwise the
// value is read as text (cut at its first control character). Never fails
// towards its caller.
Variant RegistryGet(Env& env, TextView key, TextView name, const Variant& fallback = Variant(),
                    RegistryRoot root = RegistryRoot::kLocalMachine);
// The text up to its first character below 32.
Text ZTrim(Env& env, TextView text);
// The directory part of a path: everything before its last separator.
Text FilePath(Env& env, TextView path);

// The file-mode connect string of a Session. User and password holding
// ";", "{", "}" or outer blanks are written braced.
Text FileConnectString(int instance_no, TextView user, TextView password);
// The instance data source's name and its six attributes.
Text InstanceDataSource(int instance_no);
Text InstanceAttributes(TextView data_directory);

// The thread's engines, created through env.databases() on first use.
std::shared_ptr<DaoEngine> ThreadDaoEngine(Env& env);
std::shared_ptr<RdoEngine> ThreadRdoEngine(Env& env);
// Drops the thread's engines (tests that bring a fresh platform object).
void ReleaseThreadEngines();

namespace crmdb {

inline constexpr char16_t kMultiactiveStartup[] =
    u"Software\\Multiactive Software\\Maximizer\\Common\\Startup";
inline constexpr char16_t kMaximizerStartup[] =
    u"Software\\Maximizer Technologies\\Maximizer\\StartUp";
inline constexpr char16_t kDefaultDataPath[] = u"C:\\Program Files\\Maximizer\\Data";
inline constexpr char16_t kDataSourceKey[] = u"Software\\ODBC\\ODBC.INI\\";
inline constexpr char16_t kDriverName[] = u"Maximizer ODBC Driver";
inline constexpr char16_t kWorkspaceName[] = u"ODBCWorkspace";

// The failure number of a setting that cannot be used as it stands.
inline constexpr long kInvalidProcedureCall = 5;

}  // namespace crmdb
}  // namespace pellory
