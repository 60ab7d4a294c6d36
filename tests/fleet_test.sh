#!/usr/bin/env bash
# The fleet recipe through Ansible's local connection, as three hosts (one whose profile prints, one
# without quorbel), from a read-only copy, with and without --limit. Usage: fleet_test.sh PROGRAM WORKDIR
set -u
work=$2 && rm -rf "$work" && mkdir -p "$work/home" "$work/recipe" "$work/run" && source "$(dirname "$0")/checks.sh"
printf '[SQLite3]\nDriver=libsqlite3odbc.so\n\n[Gone]\nDriver=/nowhere/x.so\n' >"$work/odbcinst.ini"
echo 'echo Welcome to web1' >"$work/home/.profile"
environment="{'ODBCSYSINI': '$work'}"
cat >"$work/hosts" <<INI
[all:vars]
ansible_connection=local
ansible_python_interpreter=$(command -v python3)
quorbel_command=$(realpath "$1")
[all]
app1 quorbel_environment="$environment"
web1 quorbel_environment="{'ODBCSYSINI': '$work', 'HOME': '$work/home'}"
old1 quorbel_command=/nonexistent/quorbel
INI
cp "$(dirname "$0")/../contrib/ansible/quorbel-inventory.yml" "$work/recipe/" && chmod -R a-w "$work/recipe"
# fleet ARGS...: the playbook run from the folder run/, its summary line.
fleet() {
  (cd "$work/run" && ANSIBLE_NOCOLOR=1 ansible-playbook -i "$work/hosts" "$work/recipe/quorbel-inventory.yml" "$@" \
    >"$work/log" 2>&1) || echo "status $?"
  grep -o '"msg": "[0-9]* hosts* asked.*"' "$work/log"
}
report() {
  python3 -c 'import json, sys
for line in open(sys.argv[1]):
    o = json.loads(line); print(o["host"], o.get("description", ""), o.get("check", o.get("error")), *o.get("version", "").split())' \
    "$1" 2>&1
}
check "three hosts, one without quorbel" "$(fleet)" \
  "\"msg\": \"3 hosts asked, 2 answered; no answer: old1 (bash: line 1: /nonexistent/quorbel: No such file or directory); report: $work/run/quorbel-drivers.jsonl\""
version=$(dpkg-query -W -f='${Version}' libsqliteodbc)
check "the report in the folder it runs in, dpkg's versions, a banner left out" "$(report "$work/run/quorbel-drivers.jsonl")" \
  "app1 SQLite3 ok $version
app1 Gone missing
web1 SQLite3 ok $version
web1 Gone missing
old1  bash: line 1: /nonexistent/quorbel: No such file or directory"
check "the drivers not ok, by word" "$(grep -o '"msg": "missing.*"' "$work/log")" '"msg": "missing: app1 Gone, web1 Gone"'
check "--limit, the report where quorbel_output says" "$(fleet --limit web1 -e "quorbel_output=$work/web1.jsonl")" \
  "\"msg\": \"1 host asked, 1 answered; report: $work/web1.jsonl\""
check "only the limited host" "$(report "$work/web1.jsonl" | cut -d' ' -f1 | sort -u)" web1
checks_done "fleet recipe"
