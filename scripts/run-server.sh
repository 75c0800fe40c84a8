#!/usr/bin/env bash
# Builds the server and runs it in the foreground, in a Wine prefix of its own
# (build/run/wineprefix, apart from the tests'), from build/run/<arch> with the default hook
# library and start mode 1, until a client asks it to quit:
#   scripts/run-server.sh            the 64-bit server (runs on every machine)
#   scripts/run-server.sh --32       the 32-bit server (where this machine runs 32-bit programs)
#   scripts/wine-run vesktrayctl.exe quit        (from a second terminal)
set -euo pipefail
source "$(dirname "$0")/common.sh"

arch=x86_64
case ${1:-} in
--32) arch=i686 ;;
--64 | "") ;;
*) echo "usage: scripts/run-server.sh [--32|--64]" >&2; exit 2 ;;
esac
if [ "$arch" = i686 ] && ! vesk_can_run_32bit; then
    vesk_fail "starting the 32-bit server" \
        "this machine cannot run it ($VESK_NO_32BIT_WHY); run scripts/run-server.sh without --32 for the 64-bit server"
fi

vesk_build "$arch"
export WINEPREFIX=$VESK_RUN_PREFIX
vesk_make_prefix "$WINEPREFIX" win64

bin=$(vesk_build_dir "$arch")/bin
run=$VESK_BUILD_ROOT/run/$arch
mkdir -p "$run"
cp "$bin/VeskTrayServer.exe" "$bin/VeskTrayHook.hk" "$run/"
if [ ! -f "$run/VeskTrayServer.ini" ]; then
    # UTF-16LE with a byte-order mark, CR LF between lines: the server's own layout.
    printf '\xff\xfe' > "$run/VeskTrayServer.ini"
    printf '[VeskTrayServer]\r\nRegistration Method = 1' | iconv -f UTF-8 -t UTF-16LE >> "$run/VeskTrayServer.ini"
fi
loader=$(vesk_loader "$arch")

echo "VeskTrayServer ($arch) is running (start mode 1). Stop it from another terminal with:"
echo "  scripts/wine-run vesktrayctl.exe quit"
status=0
"$loader" "$run/VeskTrayServer.exe" || status=$?
if [ $status -ne 0 ]; then
    vesk_fail "running the server" \
        "Wine could not start it (exit status $status); remove $WINEPREFIX to have the prefix made again"
fi
echo "VeskTrayServer has ended."
