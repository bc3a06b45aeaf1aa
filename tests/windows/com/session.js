// Drives "Pellory.Session" from JScript: late binding with values only
// (JScript has no by-reference variables), Unicode text and caught errors.
var failures = 0, checks = 0;
function check(ok, what) {
  checks++;
  if (!ok) {
    failures++;
    WScript.Echo("FAIL: " + what);
  }
}
function has(text, part) { return String(text).indexOf(part) >= 0; }
function refused(call) {
  try {
    call();
  } catch (e) {
    return true;
  }
  return false;
}

var caps = "{Client=1}{Server=1}{NeedContact=Show Contact,Show Contact Item}";
var s = new ActiveXObject("Pellory.Session");
check(s.Capabilities() === "{Version=2.0}{Name=Maximizer}{Description=Maximizer Contacts}{Comments=}" + caps,
      "Capabilities");
check(s.CapabilitiesReal() === caps, "CapabilitiesReal");
check(s.capabilitiesreal() === caps, "names without regard to case");
check(s.Blocked() === false, "Blocked");
check(s.Install() === "" && s.Uninstall() === "" && s.InstallReal() === "", "empty replies");

var rd = "{Name=\u263A\u4E2D\u00E9}";
var reply = s.Configure(rd, "Action");
check(reply.indexOf(rd) === 0 && has(reply, "=ACTION}"), "Configure keeps Unicode text: " + reply);
reply = s.Configure("{A=1}", "general");
check(has(reply, "{A=1}") && has(reply, "=GENERAL}"), "Configure with literals: " + reply);

check(s.Initialize("{DBFile=C:\\nowhere\\mxza.max}", "", null) === "", "Initialize with null");
check(s.Initialize("{DBFile=C:\\nowhere\\mxza.max}", "", s) === "", "Initialize with an object");
reply = s.Load("");
check(has(reply, "{Result=Fail}") && has(reply, "{Reason="), "Load: " + reply);
check(s.Load("{X=1}") === reply, "Load ignores Vars");
check(!has(s.FindContact("{Tel=01234 567890}"), "Success"), "FindContact without a database");
check(!has(s.FindList("{Begin=s}"), "Success"), "FindList without a database");
check(s.DoAction("{Action=Show Contact}") === "", "DoAction");
check(s.CheckRunning(false) === false, "CheckRunning");
check(s.SetProperty("P", 1) === "" && s.GetProperty("P") === "", "properties");
check(!has(s.CacheStart(), "Success"), "CacheStart without a database");
check(typeof s.CacheEnd() === "string", "CacheEnd");
check(s.Unload() === "" && s.Uninitialize() === "", "Unload and Uninitialize");

check(refused(function() { s.Configure("{A=1}"); }), "too few arguments");
check(refused(function() { s.Blocked(1); }), "too many arguments");
check(refused(function() { s.FindContact(null); }), "null for a text");
check(refused(function() { s.NoSuchMember(); }), "unknown member");
check(s.Blocked() === false, "still working after refused calls");

s = null;
CollectGarbage();
WScript.Echo(failures === 0 ? "PASSED " + checks + " checks" : "FAILED " + failures + " of " + checks);
