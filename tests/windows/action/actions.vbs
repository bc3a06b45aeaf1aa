' Drives pellory.dll's DoAction against the running stand-in CRM: every
' reply must be empty; what the application received is checked from its
' journal by the calling script.
Option Explicit
Dim s, r, failures
failures = 0
Sub Check(what, ok)
  If ok Then
    WScript.Echo "ok: " & what
  Else
    WScript.Echo "FAIL: " & what
    failures = failures + 1
  End If
End Sub

Set s = CreateObject("Pellory.Session")
' SQL mode leaves the ODBC data sources alone; the actions take the database
' from the per-user record.
Dim dataRd, userRd
dataRd = "{UseSQL=True}"
userRd = "{DBFile=C:\Data\Sales}{DBUser=MASTER}"
s.Initialize dataRd, userRd, Nothing

' The application already has C:\Data\Sales open: no switch.
r = s.DoAction("{Action=show contact item}{Id=990101010101010}{Item=View Phone Log}{NewWindow=1}")
Check "show contact item replies empty", r = ""
r = s.DoAction("{Action=NEWCONTACT}{Tel=441234567890}{NiceTel=+44 (0)1234 567890}")
Check "new contact replies empty", r = ""
r = s.DoAction("{Action=Run Macro}{Macro=Daily calls}")
Check "run macro replies empty", r = ""
r = s.DoAction("{Action=ACTIVATE WINDOW}{Window=journal}")
Check "activate window replies empty", r = ""

' Another address book for this user: the application is switched to it.
userRd = "{DBFile=C:\Data\Other Book}{DBUser=SALES}{DBPwd=s;e}"
s.Initialize dataRd, userRd, Nothing
r = s.DoAction("{Action=Activate Window}{Window=Address Book}")
Check "switch and activate replies empty", r = ""
s.Uninitialize
Set s = Nothing

If failures = 0 Then WScript.Echo "PASSED"
