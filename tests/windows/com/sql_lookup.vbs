' Lookups in SQL mode through "Pellory.Session", as a VBScript host makes
' them: Initialize with a connection record, Load, searches by number, by
' words and by letter, the cache export and a search after Unload. Every
' reply goes to the output file (UTF-16), one line per call, for the test
' to compare with the replies the POSIX build gives.
'   cscript sql_lookup.vbs CONNECT_STRING OUTPUT_FILE
Option Explicit
Dim fso, out, s, conn, data, user, vars, reply, i

Set fso = CreateObject("Scripting.FileSystemObject")
Set out = fso.CreateTextFile(WScript.Arguments(1), True, True)

' A length-prefixed entry, so that braces in the value need no care.
Function E(name, value)
  E = "{" & name & "(S" & Len(value) & ")=" & value & "}"
End Function

Sub Log(what, text)
  out.WriteLine what & ": " & text
End Sub

Sub Find(method, rd)
  If method = "FindList" Then
    Log method & " " & rd, s.FindList(rd)
  Else
    Log method & " " & rd, s.FindContact(rd)
  End If
End Sub

conn = E("ConnName", "Book") & E("Connect", WScript.Arguments(0)) & E("Driver", "SQLite3 ODBC Driver")
data = E("UseSQL", "True") & E("Connection", conn)
user = ""
vars = ""
Set s = CreateObject("Pellory.Session")
Log "Initialize", s.Initialize(data, user, Nothing)
Log "Load", s.Load(vars)
Find "FindContact", "{Tel=+44 (0)1234 567890}"
Find "FindContact", "{Tel=01632 960001}"
Find "FindContact", "{Tel=999}"
Find "FindList", "{Text=smith}"
Find "FindList", "{Text=o'brien}"
Find "FindList", "{Begin=S}"
Find "FindList", "{Begin=q}"
Log "CacheStart", s.CacheStart
For i = 1 To 10
  reply = s.CacheRecord
  Log "CacheRecord", reply
  If InStr(reply, "Success") = 0 Then Exit For
Next
Log "CacheEnd", s.CacheEnd
Log "Unload", s.Unload
Find "FindContact", "{Tel=+31 30 253 5000}"
out.Close
WScript.Echo "DONE"
