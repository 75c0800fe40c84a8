# Shared settings of the project's scripts; sourced, not run.
VESK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VESK_BUILD=${VESK_BUILD:-$VESK_ROOT/build}
export WINEPREFIX=${WINEPREFIX:-$VESK_BUILD/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}

# The project's own headless Wine prefix (never the default one in the home folder).
vesk_make_prefix() {
    [ -f "$WINEPREFIX/.vesk-ready" ] && return 0
    mkdir -p "$WINEPREFIX"
    echo "creating Wine prefix $WINEPREFIX"
    # Without a display, top-level windows and message boxes need Wine's null driver.
    WINEDLLOVERRIDES="mscoree=;mshtml=" wineboot -i >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.vesk-ready"
}

vesk_build() {
    "$VESK_ROOT/scripts/install-deps.sh"
    cmake -S "$VESK_ROOT" -B "$VESK_BUILD" \
        -DCMAKE_TOOLCHAIN_FILE="$VESK_ROOT/cmake/toolchain-mingw-i686.cmake" \
        -DVESK_WINEPREFIX="$WINEPREFIX" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$VESK_BUILD" -j "$(nproc)"
    vesk_make_prefix
}
