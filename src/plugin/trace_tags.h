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

// The dialogs: the configuration form, the action form and the list search
// of their drop-down lists.
inline constexpr char16_t kConfigLoad[] = u" @ Pell.frmConfig.Form_Load";
inline constexpr char16_t kConfigActivate[] = u" @ Pell.frmConfig.Form_Activate";
inline constexpr char16_t kConfigBrowse[] = u" @ Pell.frmConfig.bIni_Click";
inline constexpr char16_t kConfigSelect[] = u" @ Pellory.OSel_Click";
inline constexpr char16_t kConfigOk[] = u" @ Pell.frmConfig.OK_Click";
inline constexpr char16_t kConfigCancel[] = u" @ Pell.frmConfig.Cancel_Click";
inline constexpr char16_t kActionLoad[] = u" @ Pell.frmAction.Form_Load";
inline constexpr char16_t kActionActivate[] = u" @ Pell.frmAction.Form_Activate";
inline constexpr char16_t kActionClick[] = u" @ Pell.frmAction.Action_Click";
inline constexpr char16_t kActionOk[] = u" @ Pell.frmAction.OK_Click";
inline constexpr char16_t kActionCancel[] = u" @ Pell.frmAction.Cancel_Click";
inline constexpr char16_t kListSearch[] = u" @ basGlobal.ListSearch";

// The command line: `pellory action` reading the stored action.
inline constexpr char16_t kCliAction[] = u" @ pellory.action";

}  // namespace pellory::tags
