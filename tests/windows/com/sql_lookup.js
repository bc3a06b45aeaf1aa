// Lookups in SQL mode through "Pellory.Session", as a JScript host makes
// them; the same calls and output as sql_lookup.vbs.
//   cscript sql_lookup.js CONNECT_STRING OUTPUT_FILE
var fso = new ActiveXObject("Scripting.FileSystemObject");
var out = fso.CreateTextFile(WScript.Arguments(1), true, true);

// A length-prefixed entry, so that braces in the value need no care.
function E(name, value) {
  return "{" + name + "(S" + value.length + ")=" + value + "}";
}
function log(what, text) {
  out.WriteLine(what + ": " + text);
}

var conn = E("ConnName", "Book") + E("Connect", WScript.Arguments(0)) +
    E("Driver", "SQLite3 ODBC Driver");
var data = E("UseSQL", "True") + E("Connection", conn);
var s = new ActiveXObject("Pellory.Session");
function find(method, rd) {
  log(method + " " + rd, method == "FindList" ? s.FindList(rd) : s.FindContact(rd));
}
log("Initialize", s.Initialize(data, "", null));
log("Load", s.Load(""));
find("FindContact", "{Tel=+44 (0)1234 567890}");
find("FindContact", "{Tel=01632 960001}");
find("FindContact", "{Tel=999}");
find("FindList", "{Text=smith}");
find("FindList", "{Text=o'brien}");
find("FindList", "{Begin=S}");
find("FindList", "{Begin=q}");
log("CacheStart", s.CacheStart());
for (var i = 1; i <= 10; ++i) {
  var reply = s.CacheRecord();
  log("CacheRecord", reply);
  if (reply.indexOf("Success") < 0) break;
}
log("CacheEnd", s.CacheEnd());
log("Unload", s.Unload());
find("FindContact", "{Tel=+31 30 253 5000}");
out.Close();
WScript.Echo("DONE");
