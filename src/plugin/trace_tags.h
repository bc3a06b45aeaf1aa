// The location tags of the trace log: the text after a failure's
// description that names the procedure in which it happened
// ("<description> @ Pell.Find").
//
// These texts are the names log readers search for. They are kept exactly
// as they stand, however old-fashioned they look: do not rename, shorten or
// tidy them.
#pragma once

namespace pellory::tags {

// The Session's frame: its creation, teardown and host methods
// (" @ plugin.Session." followed by the method's name).
inline constexpr char16_t kSessionPrefix[] = u" @ plugin.Session.";
inline constexpr char16_t kSessionInit[] = u" @ plugin.Session.Init";
inline constexpr char16_t kSessionTerminate[] = u" @ plugin.Session.Terminate";

// Records.
inline constexpr char16_t kGetVar[] = u" @ basGlobal.GetVar";
inline constexpr char16_t kAddVar[] = u" @ basGlobal.AddVar";

// The CRM database: settings, start-up, the connection, the application.
inline constexpr char16_t kRegistryGet[] = u" @ basGlobal.RegistryGet";
inline constexpr char16_t kZTrim[] = u" @ basGlobal.ZTrim";
inline constexpr char16_t kFilePath[] = u" @ basGlobal.FilePath";
inline constexpr char16_t kInitialize[] = u" @ Pell.Initialize";
inline constexpr char16_t kLoad[] = u" @ Pellory.Load";
inline constexpr char16_t kUnload[] = u" @ Pellory.Unload";
inline constexpr char16_t kCheckRunning[] = u" @ Pell.CheckRunning";

// Lookup: the searches, the contact record, the cache export.
inline constexpr char16_t kFind[] = u" @ Pell.Find";
inline constexpr char16_t kGetContact[] = u" @ Pell.GetContact";
inline constexpr char16_t kCache[] = u" @ Pell.CacheRecordReal";

// Automation: actions in the CRM application and finding its windows.
inline constexpr char16_t kDoAction[] = u" @ plugin.Session.DoAction";
inline constexpr char16_t kFindWindowTitle[] = u" @ basGlobal.FindWindowTitle";
inline constexpr char16_t kRidStr[] = u" @ basGlobal.RidStr";
inline constexpr char16_t kStuff[] = u" @ basGlobal.Stuff";

}  // namespace pellory::tags
