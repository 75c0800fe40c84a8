#!/usr/bin/env bash
# The server benchmark's full run, whose figures docs/PERFORMANCE.md shows: builds, then
# measures VeskTrayServer against the bare server in the project's Wine prefix. Takes about
# three minutes; run it on an otherwise quiet machine.
#   bench/server/bench-server.sh                    the full run
#   bench/server/bench-server.sh --json FILE        also every figure, round by round
set -euo pipefail
source "$(dirname "$0")/../../scripts/common.sh"

vesk_build >&2
exec python3 "$VESK_ROOT/bench/server/VeskServerBench.py" --bin "$VESK_BUILD/bin" \
    --work "$VESK_BUILD/bench-server-run" "$@"
