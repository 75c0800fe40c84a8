# Shared settings and steps of the project's scripts; sourced, not run.
#
# Two Windows builds from the same sources, side by side:
#   build/i686     32-bit Windows (the Windows 2000/XP API), tests in a 32-bit Wine prefix
#   build/x86_64   64-bit Windows, tests in a 64-bit Wine prefix
# and build/run/wineprefix, a 64-bit prefix of its own for the server a user runs (the tests
# never share it, so they never see or end that server).
VESK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VESK_BUILD_ROOT=${VESK_BUILD_ROOT:-$VESK_ROOT/build}
VESK_RUN_PREFIX=$VESK_BUILD_ROOT/run/wineprefix
export WINEDEBUG=${WINEDEBUG:--all}

# Wine's loaders: Debian's `wine` command always picks the 32-bit one when it is installed,
# which cannot start a 64-bit program on every kernel, so each program gets its own.
VESK_WINE32=${VESK_WINE32:-/usr/lib/wine/wine}
VESK_WINE64=${VESK_WINE64:-/usr/lib/wine/wine64}

vesk_build_dir() { echo "$VESK_BUILD_ROOT/$1"; }
vesk_test_prefix() { echo "$VESK_BUILD_ROOT/$1/wineprefix"; }

# Prints what failed, what the command said and what to do, then ends the script.
#   vesk_fail STEP ADVICE [LOG]
vesk_fail() {
    local step=$1 advice=$2 log=${3:-}
    {
        echo "error: $step failed."
        if [ -n "$log" ] && [ -s "$log" ]; then
            echo "--- what it said (last lines of $log) ---"
            tail -n 40 "$log"
            echo "---"
        fi
        echo "what to do: $advice"
    } >&2
    exit 1
}

# Runs one step with its output kept in a log; on failure, stops the script with the log's
# end and the advice.   vesk_step STEP ADVICE COMMAND [ARGS...]
vesk_step() {
    local step=$1 advice=$2
    shift 2
    local log
    log=$VESK_BUILD_ROOT/logs/$(echo "$step" | tr -c 'A-Za-z0-9_\n-' '-').log
    mkdir -p "$(dirname "$log")"
    if ! "$@" >"$log" 2>&1; then
        vesk_fail "$step" "$advice" "$log"
    fi
}

vesk_install_deps() {
    "$VESK_ROOT/scripts/install-deps.sh" || exit 1
}

# Whether this machine can run 32-bit programs at all; the reason goes to VESK_NO_32BIT_WHY.
# VESK_NO_32BIT=1 takes the answer "no" on any machine, so that path can be tried anywhere.
vesk_can_run_32bit() {
    if [ "${VESK_NO_32BIT:-0}" = 1 ]; then
        VESK_NO_32BIT_WHY="VESK_NO_32BIT=1 is set (as on a kernel that cannot run 32-bit programs)"
        return 1
    fi
    if [ ! -x "$VESK_WINE32" ]; then
        VESK_NO_32BIT_WHY="Wine's 32-bit loader $VESK_WINE32 is not installed (scripts/install-deps.sh installs it)"
        return 1
    fi
    local said
    if ! said=$("$VESK_WINE32" --version 2>&1); then
        # The kernel's own words, without the shell's prefix ("... Exec format error").
        VESK_NO_32BIT_WHY="this kernel cannot run 32-bit programs ($VESK_WINE32: ${said##*: })"
        return 1
    fi
    return 0
}

# Configures and builds one target (i686 or x86_64), Release, quietly; stops with the
# compiler's own words on failure.
vesk_build_arch() {
    local arch=$1 dir
    dir=$(vesk_build_dir "$arch")
    local -a extra=()
    # The 64-bit build's tests also drive the 32-bit programs (a 32-bit client meets a
    # 64-bit server on real Windows).
    [ "$arch" = x86_64 ] && extra+=("-DVESK_PEER_BIN_DIR=$(vesk_build_dir i686)/bin")
    echo "building $arch in $dir"
    vesk_step "configuring the $arch build" \
        "check that the packages installed (scripts/install-deps.sh) and that CMakeLists.txt is intact; remove $dir to start afresh" \
        cmake -S "$VESK_ROOT" -B "$dir" \
        -DCMAKE_TOOLCHAIN_FILE="$VESK_ROOT/cmake/toolchain-mingw-$arch.cmake" \
        -DVESK_WINEPREFIX="$(vesk_test_prefix "$arch")" -DCMAKE_BUILD_TYPE=Release "${extra[@]}"
    vesk_step "building $arch" "fix the compiler's error above, then run the command again" \
        cmake --build "$dir" -j "$(nproc)"
}

# Builds the given targets (both when none is named).
vesk_build() {
    local -a archs=("$@")
    [ ${#archs[@]} -gt 0 ] || archs=(i686 x86_64)
    vesk_install_deps
    local arch
    for arch in "${archs[@]}"; do vesk_build_arch "$arch"; done
}

# Wine's loader for a build's programs (i686 or x86_64), and the kind of prefix its tests
# run in.
vesk_loader() { if [ "$1" = i686 ]; then echo "$VESK_WINE32"; else echo "$VESK_WINE64"; fi; }
vesk_winearch() { if [ "$1" = i686 ]; then echo win32; else echo win64; fi; }

# A headless Wine prefix (null display driver), made once and marked ready only when
# complete; a half-made one is made again.   vesk_make_prefix PREFIX win32|win64
vesk_make_prefix() {
    local prefix=$1 winearch=$2 loader
    [ -f "$prefix/.vesk-ready" ] && return 0
    if [ "$winearch" = win64 ]; then loader=$VESK_WINE64; else loader=$VESK_WINE32; fi
    echo "creating Wine prefix $prefix ($winearch)"
    local advice="check that Wine is installed (scripts/install-deps.sh); the prefix is made again at the next run"
    vesk_step "clearing the half-made Wine prefix $prefix" \
        "remove $prefix by hand (or make its folder writable), then run the command again" \
        bash -c 'rm -rf "$1" && mkdir -p "$1"' - "$prefix"
    # Without a display, top-level windows and message boxes need Wine's null driver.
    WINEPREFIX=$prefix WINEARCH=$winearch WINEDLLOVERRIDES="mscoree=;mshtml=" \
        vesk_step "creating the Wine prefix $prefix" "$advice" "$loader" wineboot -i
    WINEPREFIX=$prefix vesk_step "setting the null display driver in $prefix" "$advice" \
        "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
    WINEPREFIX=$prefix vesk_step "finishing the Wine prefix $prefix" "$advice" wineserver -w
    touch "$prefix/.vesk-ready"
}
