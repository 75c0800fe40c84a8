#!/usr/bin/env bash
# Builds everything and runs every test: the Windows build under Wine, then the portable
# parts natively with sanitizers (and a short fuzzing run).
#   scripts/test.sh                 everything
#   scripts/test.sh -R VeskWindow   only the Windows tests whose name matches (ctest -R)
set -euo pipefail
source "$(dirname "$0")/common.sh"

vesk_build

# One wineserver for the whole run, so that every test's Wine start is quick.
# (It may be running already: that one is then used.)
wineserver -p </dev/null >/dev/null 2>&1 || true
trap 'wineserver -k 2>/dev/null || true' EXIT
# The first Wine program of a session starts Wine's background services, which keep its
# output open; start them here so that no test's output is held open by them.
wine cmd /c exit </dev/null >/dev/null 2>&1 || true

status=0
(cd "$VESK_BUILD" && ctest --output-on-failure -j 2 --timeout 600 "$@") || status=1

if [ $# -eq 0 ] && [ -x "$VESK_ROOT/scripts/test-native.sh" ]; then
    "$VESK_ROOT/scripts/test-native.sh" || status=1
fi
exit $status
