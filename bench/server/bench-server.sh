#!/usr/bin/env bash
# The server benchmark's full run, whose figures docs/PERFORMANCE.md shows: builds, then
# measures VeskTrayServer against the bare server of the same build, in that build's Wine
# prefix. Takes about three minutes; run it on an otherwise quiet machine.
#   bench/server/bench-server.sh                    the 64-bit build (VESK_BENCH_ARCH=x86_64)
#   bench/server/bench-server.sh --32               the 32-bit build (VESK_BENCH_ARCH=i686)
#   bench/server/bench-server.sh --json FILE        also every figure, round by round
set -euo pipefail
source "$(dirname "$0")/../../scripts/common.sh"

arch=${VESK_BENCH_ARCH:-x86_64}
case ${1:-} in
--32) arch=i686; shift ;;
--64) arch=x86_64; shift ;;
esac
case $arch in
i686 | x86_64) ;;
*) vesk_fail "choosing the build" "set VESK_BENCH_ARCH to i686 or x86_64 (it is \"$arch\")" ;;
esac
if [ "$arch" = i686 ] && ! vesk_can_run_32bit; then
    vesk_fail "benchmarking the 32-bit build" "this machine cannot run it ($VESK_NO_32BIT_WHY); run without --32"
fi

vesk_build "$arch" >&2
export WINEPREFIX
WINEPREFIX=$(vesk_test_prefix "$arch")
vesk_make_prefix "$WINEPREFIX" "$(vesk_winearch "$arch")" >&2
dir=$(vesk_build_dir "$arch")
exec python3 "$VESK_ROOT/bench/server/VeskServerBench.py" --wine "$(vesk_loader "$arch")" \
    --bin "$dir/bin" \
    --work "$dir/bench-server-run" "$@"
