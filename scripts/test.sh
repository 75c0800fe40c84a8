#!/usr/bin/env bash
# Builds both Windows targets and runs every test:
#   - checks of the 32-bit binaries that need no running (machine type, plain hook export
#     names, no import that Windows 2000/XP lacks);
#   - the 64-bit build's tests under Wine's 64-bit loader, on every machine;
#   - the 32-bit build's tests (and the tests where 32-bit and 64-bit programs meet) where
#     this machine can run 32-bit programs; elsewhere one line says they were skipped, and
#     the rest decides;
#   - the release packages, unpacked and tried;
#   - the portable parts natively with sanitizers, and a short fuzzing run.
#   scripts/test.sh                    everything
#   scripts/test.sh -R VeskWindow      only the Windows tests whose name matches (ctest -R)
#   VESK_NO_32BIT=1 scripts/test.sh    as on a machine that cannot run 32-bit programs
set -euo pipefail
source "$(dirname "$0")/common.sh"

vesk_build i686 x86_64

status=0
i686_bin=$(vesk_build_dir i686)/bin
x86_64_bin=$(vesk_build_dir x86_64)/bin
pecheck() { python3 "$VESK_ROOT/tools/pecheck/VeskPeCheck.py" "$@"; }
echo "checking the binaries without running them"
pecheck check-legacy "$i686_bin"/*.exe "$i686_bin"/VeskTrayHook.hk || status=1
for bin in "$i686_bin" "$x86_64_bin"; do
    pecheck check-hook "$bin"/{,recording/,bench/}VeskTrayHook.hk || status=1
    pecheck check-hook --without RemoveMonitor "$bin"/three-names/VeskTrayHook.hk || status=1
done
for f in "$i686_bin"/*.exe "$x86_64_bin"/*.exe; do
    expected=i686
    [[ $f == "$x86_64_bin"/* ]] && expected=x86_64
    machine=$(pecheck machine "$f") || { status=1; continue; }
    [ "$machine" = "$expected" ] || { echo "$f: built for $machine, not $expected" >&2; status=1; }
done

# One build's tests in its own prefix, with one wineserver for the whole run so that every
# test's Wine start is quick.
run_suite() {
    local arch=$1
    shift
    local prefix loader
    prefix=$(vesk_test_prefix "$arch")
    loader=$(vesk_loader "$arch")
    vesk_make_prefix "$prefix" "$(vesk_winearch "$arch")"
    echo "running the $arch tests in $prefix"
    local result=0
    (
        export WINEPREFIX=$prefix
        wineserver -p </dev/null >/dev/null 2>&1 || true
        trap 'wineserver -k 2>/dev/null || true' EXIT
        # The first Wine program starts Wine's background services, which keep its output
        # open; start them here so that no test's output is held open by them.
        "$loader" cmd /c exit </dev/null >/dev/null 2>&1 || true
        cd "$(vesk_build_dir "$arch")" && ctest --output-on-failure -j 2 --timeout 600 "$@"
    ) || result=1
    return $result
}

if vesk_can_run_32bit; then
    run_suite x86_64 "$@" || status=1
    run_suite i686 "$@" || status=1
else
    run_suite x86_64 -LE needs-32bit "$@" || status=1
    echo "32-bit tests skipped: $VESK_NO_32BIT_WHY"
fi

if [ $# -eq 0 ]; then
    # The release packages, unpacked: contents, the example built against them alone, and
    # the 64-bit server run from its zip.
    "$VESK_ROOT/scripts/package.sh" --check || status=1
    "$VESK_ROOT/scripts/test-native.sh" || status=1
fi
exit $status
