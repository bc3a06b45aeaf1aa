' An automation client of the stand-in CRM: attaches the way the plug-in
' does and calls the members it relies on, echoing what comes back.
Set attach = CreateObject("Maximizer.AttachToCurrentInstance")
Set app = attach.GetApplicationObject()
WScript.Echo "path: " & app.getcurrentdbpath()
WScript.Echo "busy null: " & IsNull(app.GetBusyIndicator())
app.SetBusyIndicator True
WScript.Echo "busy: " & app.GetBusyIndicator()
app.SetBusyIndicator False
app.SetVisibilityState "Max"
app.CloseDatabase
app.OpenDatabase "Open", , "C:\Data\Other Book", "MASTER", "KESTREL"
WScript.Echo "path: " & app.GetCurrentDbPath
app.ActivateWindow "Client"
Set record = app.GetCurrentRecordObject()
record.SearchByClientID "990101010101010", , 2
app.RunMacro "Daily"
On Error Resume Next
app.OpenDatabase "Open"
WScript.Echo "error: " & Err.Number & " " & Err.Description
Err.Clear
record.SearchByClientID "1", , "not a number"
WScript.Echo "error: " & Err.Number & " " & Err.Description
