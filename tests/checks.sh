# Counted checks for the test scripts, sourced by them.
passed=0
failed=0

# check NAME GOT WANTED: the two strings are the same.
check() {
  if [ "$2" = "$3" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAIL: %s\n  wanted: %q\n  got:    %q\n' "$1" "$3" "$2"
  fi
}

# checks_done WHAT: the closing line; fails when a check failed.
checks_done() {
  echo "$1: $passed passed, $failed failed"
  [ "$failed" = 0 ]
}
