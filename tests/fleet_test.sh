#!/usr/bin/env bash
# The fleet recipe (contrib/ansible), through Ansible's local connection to this machine,
# read back by Python. Usage: fleet_test.sh PROGRAM WORKDIR
set -u
work=$2 && rm -rf "$work" && mkdir -p "$work" && source "$(dirname "$0")/checks.sh"
printf '[SQLite3]\nDriver=libsqlite3odbc.so\n\n[Gone]\nDriver=/nowhere/x.so\n\n[Also gone]\nDriver=x.so\n' >"$work/odbcinst.ini"
ANSIBLE_NOCOLOR=1 ansible-playbook -i localhost, -c local "$(dirname "$0")/../contrib/ansible/quorbel-inventory.yml" \
  -e "quorbel_command=$(realpath "$1") quorbel_output=$work/drivers.jsonl" \
  -e "{\"quorbel_environment\": {\"ODBCSYSINI\": \"$work\"}}" >"$work/log" 2>&1
check "the playbook runs" "$?" 0
check "one object per driver, with its host and dpkg's version" "$(python3 -c 'import json, sys
for line in open(sys.argv[1]):
    print(*(json.loads(line).get(k, "-") for k in ("host", "description", "check", "version")))' \
  "$work/drivers.jsonl" 2>&1)" "localhost SQLite3 ok $(dpkg-query -W -f='${Version}' libsqliteodbc)
localhost Gone missing -
localhost Also gone missing -"
check "the drivers not ok, by word" "$(grep -o '"msg": ".*"' "$work/log")" '"msg": "missing: localhost Gone, localhost Also gone"'
checks_done "fleet recipe"
