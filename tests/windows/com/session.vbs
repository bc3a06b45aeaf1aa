' Drives "Pellory.Session" as a VBScript host does: late bound, variables
' passed by reference, by-reference results read back.
Option Explicit
Dim failures, checks
failures = 0
checks = 0

Sub Check(ok, what)
  checks = checks + 1
  If Not ok Then
    failures = failures + 1
    WScript.Echo "FAIL: " & what
  End If
End Sub

Function Has(text, part)
  Has = InStr(1, text, part, vbBinaryCompare) > 0
End Function

Const kCaps = "{Client=1}{Server=1}{NeedContact=Show Contact,Show Contact Item}"
Dim s, reply, rd, page, vars, data, user, cb, start, res, prop, value
Set s = CreateObject("Pellory.Session")

' Replies that need no database.
Check s.Capabilities = "{Version=2.0}{Name=Maximizer}{Description=Maximizer Contacts}{Comments=}" & kCaps, "Capabilities: " & s.Capabilities
Check s.CapabilitiesReal = kCaps, "CapabilitiesReal"
Check s.capabilities() = s.CAPABILITIES, "names without regard to case"
Check s.Blocked = False, "Blocked before Initialize"
Check TypeName(s.Blocked) = "Boolean", "Blocked is a Boolean"
Check s.Install = "", "Install"
Check s.Uninstall = "", "Uninstall"
Check s.InstallReal = "", "InstallReal"
Check s.UninitializeReal = "", "UninitializeReal"

' Configure: each dialog is closed with its close box (Cancel), so the record comes
' back with the page appended; the variables keep their values.
rd = "{DBFile=C:\data\mxza.max}"
page = "action"
reply = s.Configure(rd, page)
Check Has(reply, "{DBFile=C:\data\mxza.max}") And Has(reply, "=ACTION}"), "Configure reply: " & reply
Check rd = "{DBFile=C:\data\mxza.max}" And page = "action", "Configure leaves rd and page"
page = ""
reply = s.Configure(rd, page)
Check Left(reply, Len(rd)) = rd And Not Has(reply, "ACTION"), "Configure with the empty page: " & reply
' Initialize stores the records and the callback and replies with nothing.
data = "{DBFile=C:\nowhere\mxza.max}{UseSQL=0}"
user = ""
Set cb = CreateObject("Scripting.Dictionary")
Check s.Initialize(data, user, cb) = "", "Initialize"
Check data = "{DBFile=C:\nowhere\mxza.max}{UseSQL=0}", "Initialize leaves DataRd"
Check s.Blocked = False, "Blocked after Initialize"
Check s.Initialize(data, user, Nothing) = "", "Initialize with Nothing as callback"
Check IsEmpty(s.InitializeReal) Or s.InitializeReal = "", "InitializeReal"

' Load without a database fails with a reason; Vars is ignored.
vars = "{Anything=1}"
reply = s.Load(vars)
Check Has(reply, "{Result=Fail}") And Has(reply, "{Reason="), "Load: " & reply
Check vars = "{Anything=1}", "Load leaves Vars"
Dim again
vars = "{Other=2}"
again = s.Load(vars)
Check again = reply, "Load ignores Vars"
rd = ""
reply = s.LoadReal(rd)
Check Has(reply, "{Result=Fail}"), "LoadReal: " & reply
Check rd = "", "LoadReal leaves rd: [" & rd & "]"

' Searches on an object whose load failed.
reply = s.FindContact("{Tel=+44 (0)1234 567890}")
WScript.Echo "FindContact: " & reply
Check Not Has(reply, "{Result=Success}"), "FindContact without a database"
reply = s.FindList("{Text=smith}")
Check Not Has(reply, "{Result=Success}"), "FindList without a database: " & reply
reply = s.FindReal("{Cmd=FindContact}{Tel=123}")
Check Not Has(reply, "{Result=Success}"), "FindReal without a database: " & reply
' A number passed for a text argument is its text.
reply = s.FindContact(12345)
Check Not Has(reply, "{Result=Success}"), "FindContact with a number"

' Actions without a running CRM reply with nothing.
Check s.DoAction("{Action=Show Contact}{Id=1}") = "", "DoAction"
rd = "{Action=Show Contact}{Id=1}"
Check s.DoActionReal(rd) = "", "DoActionReal"
start = False
reply = s.CheckRunning(start)
Check reply = False And start = False, "CheckRunning without a CRM"

' The cache export without a database.
reply = s.CacheStart
WScript.Echo "CacheStart: " & reply
Check Not Has(reply, "{Result=Success}"), "CacheStart without a database"
reply = s.CacheRecord
Check Not Has(reply, "{Result=Success}"), "CacheRecord: " & reply
reply = s.CacheRecordReal
Check Not Has(reply, "{Result=Success}"), "CacheRecordReal: " & reply
reply = s.CacheEnd
Check Not Has(reply, "{Result=Success}"), "CacheEnd: " & reply

res = Empty
reply = s.GetContact(res)
Check reply = "" And IsEmpty(res), "GetContact of nothing: [" & reply & "]"
prop = "Colour"
value = 42
Check s.SetProperty(prop, value) = "", "SetProperty"
Check prop = "Colour" And value = 42, "SetProperty changes nothing"
Check s.GetProperty(prop) = "", "GetProperty"
Check s.Unload = "", "Unload"
Check s.UnloadReal = "", "UnloadReal"
Check s.Uninitialize = "", "Uninitialize"

' Misuse gives errors the script can catch.
On Error Resume Next
Err.Clear
reply = s.Configure(rd)
Check Err.Number <> 0, "Configure with one argument is refused"
Err.Clear
reply = s.Capabilities(1)
Check Err.Number <> 0, "Capabilities with an argument is refused"
Err.Clear
reply = s.FindContact(Null)
Check Err.Number <> 0, "FindContact with Null is refused"
Err.Clear
reply = s.NoSuchMethod
Check Err.Number <> 0, "an unknown member is refused"
Err.Clear
reply = s.FindContact(s)
Check Err.Number <> 0, "an object for a text is refused"
Err.Clear
Check s.Blocked = False, "the object still works after refused calls"
Check Err.Number = 0, "no error left"
On Error GoTo 0

' Several objects at once, each released on its own.
Dim a, b
Set a = CreateObject("Pellory.Session")
Set b = CreateObject("Pellory.Session")
Check a.Blocked = False And b.Blocked = False, "two more objects"
Set a = Nothing
Check b.CapabilitiesReal = kCaps, "the other object after one is released"
Set b = Nothing
Set s = Nothing

If failures = 0 Then
  WScript.Echo "PASSED " & checks & " checks"
Else
  WScript.Echo "FAILED " & failures & " of " & checks & " checks"
End If
