#!/usr/bin/env bash
# Builds the server and runs it in the foreground in the project's Wine prefix, from
# build/run with the default hook library and start mode 1, until a client asks it to quit:
#   scripts/wine-run vesktrayctl.exe quit        (from a second terminal)
set -euo pipefail
source "$(dirname "$0")/common.sh"

vesk_build

run=$VESK_BUILD/run
mkdir -p "$run"
cp "$VESK_BUILD/bin/VeskTrayServer.exe" "$VESK_BUILD/bin/VeskTrayHook.hk" "$run/"
if [ ! -f "$run/VeskTrayServer.ini" ]; then
    # UTF-16LE with a byte-order mark, CR LF between lines: the server's own layout.
    printf '\xff\xfe' > "$run/VeskTrayServer.ini"
    printf '[VeskTrayServer]\r\nRegistration Method = 1' | iconv -f UTF-8 -t UTF-16LE >> "$run/VeskTrayServer.ini"
fi

echo "VeskTrayServer is running (start mode 1). Stop it from another terminal with:"
echo "  scripts/wine-run vesktrayctl.exe quit"
wine "$run/VeskTrayServer.exe"
echo "VeskTrayServer has ended."
