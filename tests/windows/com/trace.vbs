' Failures trapped inside "Pellory.Session" go to the trace log: a load from
' a data directory that does not exist and an action with no CRM running.
' The script prints the date and time as the locale writes them, before and
' after, for the test to compare with the lines' time stamps.
Option Explicit
Dim s, data, user, vars
WScript.Echo "BEFORE=" & Date & " " & Time
Set s = CreateObject("Pellory.Session")
data = "{DBFile=C:\nowhere\mxza.max}"
user = ""
vars = ""
s.Initialize data, user, Nothing
WScript.Echo "LOAD=" & s.Load(vars)
WScript.Echo "ACTION=" & s.DoAction("{Action=Show Contact}{Id=1}")
WScript.Echo "AFTER=" & Date & " " & Time
