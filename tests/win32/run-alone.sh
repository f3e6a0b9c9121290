#!/bin/sh
# Usage: run-alone.sh FILTER TEST-COMMAND...: runs each test that the gtest filter names in a process of its own,
# and fails if any fails or none matches. DPI awareness, once declared, holds for the life of a process, so each
# start-up case must begin in a fresh one.
filter=$1
shift
tests=$("$@" --gtest_list_tests "--gtest_filter=$filter" | tr -d '\r' |
  awk '/^[^ ]/ { suite = $1 } /^  / { print suite $1 }')
[ -n "$tests" ] || { echo "no test matches $filter" >&2; exit 1; }
status=0
for test in $tests; do
  "$@" "--gtest_filter=$test" || status=1
done
exit $status
