# The packaging tests' tally: check NAME EXPECTED ACTUAL for each check, then summary,
# whose status is the test's.
passed=0
failed=0
check() {
  if [ "$2" == "$3" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAILED: %s\n--- expected\n%s\n--- actual\n%s\n' "$1" "$2" "$3"
  fi
}
summary() { echo "$passed passed, $failed failed"; [ "$failed" -eq 0 ]; }
