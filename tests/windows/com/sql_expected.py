#!/usr/bin/env python3
"""Writes the replies the POSIX build gives to the calls of sql_lookup.vbs and
sql_lookup.js, made through `pellory host` on the same contact table, with the
search time masked as the Windows test masks it. The test cli_host_sql_replies
compares them with sql_lookup.expected, the replies the Windows object must
give: both builds answer a host alike.

    sql_expected.py POSIX_PELLORY OUTPUT
"""
import json
import os
import re
import subprocess
import sys
import tempfile

pellory, output = sys.argv[1], sys.argv[2]
here = os.path.dirname(os.path.abspath(__file__))


def entry(name, value):
    return "{%s(S%d)=%s}" % (name, len(value.encode("utf-16-le")) // 2, value)


with tempfile.TemporaryDirectory() as work:
    with open(os.path.join(here, "sql_book.sql"), "rb") as sql:
        subprocess.run(["sqlite3", os.path.join(work, "mxza.max")], stdin=sql, check=True)
    with open(os.path.join(work, "odbcinst.ini"), "w") as ini:
        ini.write("[SQLite3 ODBC Driver]\nDriver = "
                  "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so\n")
    open(os.path.join(work, "odbc.ini"), "w").close()
    env = dict(os.environ, ODBCSYSINI=work, ODBCINI=os.path.join(work, "odbc.ini"))
    host = subprocess.Popen([pellory, "host"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            env=env, text=True, encoding="utf-8")

    def call(name, *args):
        host.stdin.write(json.dumps({"session": 1, "call": name, "args": list(args)}) + "\n")
        host.stdin.flush()
        reply = json.loads(host.stdout.readline())
        if "result" not in reply:
            sys.exit("pellory host: %s" % reply)
        return reply["result"]

    host.stdin.write(json.dumps({"create": 1}) + "\n")
    host.stdin.flush()
    host.stdout.readline()
    connect = "DRIVER={SQLite3 ODBC Driver};Database=" + os.path.join(work, "mxza.max")
    conn = entry("ConnName", "Book") + entry("Connect", connect) + entry(
        "Driver", "SQLite3 ODBC Driver")
    data = entry("UseSQL", "True") + entry("Connection", conn)
    lines = [("Initialize", call("Initialize", data, "", None)), ("Load", call("Load", ""))]
    finds = [("FindContact", "{Tel=+44 (0)1234 567890}"), ("FindContact", "{Tel=01632 960001}"),
             ("FindContact", "{Tel=999}"), ("FindList", "{Text=smith}"),
             ("FindList", "{Text=o'brien}"), ("FindList", "{Begin=S}"),
             ("FindList", "{Begin=q}")]
    for method, rd in finds:
        lines.append((method + " " + rd, call(method, rd)))
    lines.append(("CacheStart", call("CacheStart")))
    for _ in range(10):
        reply = call("CacheRecord")
        lines.append(("CacheRecord", reply))
        if "Success" not in reply:
            break
    lines.append(("CacheEnd", call("CacheEnd")))
    lines.append(("Unload", call("Unload")))
    rd = "{Tel=+31 30 253 5000}"
    lines.append(("FindContact " + rd, call("FindContact", rd)))
    host.stdin.close()
    host.wait()

speed = re.compile(r"\{Speed\([A-Z][0-9]+\)=[^}]*\}")
with open(output, "w", encoding="utf-8", newline="\n") as out:
    for what, reply in lines:
        out.write(what + ": " + speed.sub("{Speed=*}", reply) + "\n")
